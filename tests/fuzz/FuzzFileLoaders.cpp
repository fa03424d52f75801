// Bytes from anywhere, as a file: into the PKCS#12 and PEM file loaders, with a fixed and an
// empty password. Every outcome is an object or a velmora::Exception.
#include "crypto/Certificates.h"
#include "tests/fuzz/FuzzInput.h"

#include <filesystem>
#include <fstream>

namespace {

const std::string& TempFile() {
  static const std::string path = velmora::fuzz::ScratchFile(".bin");
  return path;
}

template <typename Load>
void Try(Load load) {
  try {
    (void)load();
  } catch (const velmora::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = TempFile();
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  for (const char* password : {"fixed", ""}) {
    Try([&] { return velmora::TCertLoader::LoadFromP12File(path, password); });
    Try([&] { return velmora::TCertLoader::LoadFromPEMFile(path, password); });
  }
  Try([&] { return velmora::TCertLoader::LoadCertificateFromPEMFile(path); });
  Try([&] { return velmora::TCertLoader::LoadPrivateKeyFromPEMFile(path, ""); });
  velmora::TOpenSSLCert merged(nullptr, false, nullptr);
  Try([&] {
    merged.AddFromPEMFile(path, "fixed");
    return 0;
  });
  std::filesystem::remove(path);
  return 0;
}
