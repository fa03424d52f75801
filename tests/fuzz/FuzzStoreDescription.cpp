// Any bytes as a store file of each kind the list shows: DescribeStoreFile gives the panel's
// lines and never raises; a problem is told in Problem and among the lines.
#include "core/Store.h"
#include "tests/fuzz/FuzzInput.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte picks the extension, and with it what the description reads the file as.
  static const char* const kExtensions[] = {".crt", ".key", ".pfx", ".pem", ".der", ".p12"};
  if (size == 0) return 0;
  const std::string path =
      velmora::fuzz::ScratchFile(kExtensions[data[0] % std::size(kExtensions)]);
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  // A fixed moment: "expires in N days" must not depend on when the input runs.
  const velmora::TFileDescription description =
      velmora::DescribeStoreFile(path, 1767225600, velmora::TWording::Window);
  if (description.Lines.empty()) __builtin_trap();
  if (description.Error) __builtin_trap();  // the file is there
  std::filesystem::remove(path);
  return 0;
}
