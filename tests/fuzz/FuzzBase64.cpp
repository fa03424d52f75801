// Text from anywhere as Base64 DER: into LoadFromBase64 and into PutCertificateBase64 on an
// object that already holds something. A certificate that comes out must go back out as
// Base64 that reads in again to the same certificate.
#include "crypto/Certificates.h"

#include <openssl/x509.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto loaded = velmora::TCertLoader::LoadFromBase64(text);
  if (!loaded) __builtin_trap();  // the loader always hands back an object

  velmora::TOpenSSLCert again(nullptr, false, nullptr);
  if (loaded->X509Cert() != nullptr) {
    again.PutCertificateBase64(loaded->GetCertificateBase64());
    if (again.X509Cert() == nullptr || X509_cmp(again.X509Cert(), loaded->X509Cert()) != 0)
      __builtin_trap();
  }
  again.PutCertificateBase64(text);
  if (again.X509Cert() == nullptr && again.KeyType() != velmora::ctUnknown) __builtin_trap();
  return 0;
}
