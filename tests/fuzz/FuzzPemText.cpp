// PEM text from anywhere: into the loader's text readers, and into a CA-signed build as the
// CA certificate and CA key. Every outcome is an object, nothing, or a velmora::Exception.
#include "crypto/CertBuilder.h"
#include "crypto/Certificates.h"
#include "tests/fuzz/FuzzInput.h"

using velmora::fuzz::FuzzInput;

namespace {

// The input as the text of a file: everything up to the first NUL, then the next piece.
std::string Piece(const std::string& all, std::size_t& pos) {
  const std::size_t end = std::min(all.find('\0', pos), all.size());
  std::string piece = all.substr(pos, end - pos);
  pos = end < all.size() ? end + 1 : end;
  return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string all(reinterpret_cast<const char*>(data), size);
  (void)velmora::TCertLoader::LoadCertificate(all);
  (void)velmora::TCertLoader::LoadPrivateKey(all);

  std::size_t pos = 0;
  const std::string caCert = Piece(all, pos);
  const std::string caKey = Piece(all, pos);
  const std::string password = Piece(all, pos);
  try {
    velmora::fuzz::SharedBuilder().BuildSignedBy(caCert, caKey, password);
    if (velmora::fuzz::SharedBuilder().Cert() == nullptr) __builtin_trap();
  } catch (const velmora::Exception&) {
  }
  return 0;
}
