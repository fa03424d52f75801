// Replays fuzzer inputs (files, or every file in the directories given) through a target,
// so that the inputs that once crashed it stay in the ordinary test suites.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void Replay(const std::filesystem::path& file) {
  // Named before it runs: an input that brings the target down leaves no other trace of
  // which one it was.
  std::fprintf(stderr, "replaying %s\n", file.c_str());
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg))
        if (entry.is_regular_file()) Replay(entry.path()), ++count;
    } else {
      Replay(arg), ++count;
    }
  }
  std::printf("replayed %d inputs\n", count);
  return 0;
}
