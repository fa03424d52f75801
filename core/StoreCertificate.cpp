#include "core/StoreCertificate.h"

#include "core/TextFile.h"
#include "crypto/CertBuilder.h"
#include "crypto/SecretText.h"

#include <openssl/pem.h>

#include <sys/stat.h>

namespace velmora {

namespace {

X509Ptr ParseCertificate(const std::string& Bytes) {
  TolerateErrors tolerate;  // a file that holds no certificate simply yields none
  if (BIOPtr pem = NewMemBuf(Bytes)) {
    if (X509Ptr cert{PEM_read_bio_X509(pem.get(), nullptr, PassphraseCallback, nullptr)})
      return cert;
  }
  const auto* der = reinterpret_cast<const unsigned char*>(Bytes.data());
  return X509Ptr(d2i_X509(nullptr, &der, static_cast<long>(Bytes.size())));
}

}  // namespace

// Through the one-open path the panel uses: a pipe or a huge file named like a certificate
// is passed over, never waited for.
X509Ptr ReadStoreCertificate(const std::string& Path) {
  const TReadOnlyFile file(Path);
  if (!file.IsRegularFile() || file.Info().st_size > kMaxCertificateFileSize) return nullptr;
  std::string bytes;
  if (file.ReadAll(bytes, kMaxCertificateFileSize) != 0) return nullptr;
  const TSecretText text(std::move(bytes));  // a certificate file may hold a key as well
  return ParseCertificate(text.Text());
}

std::string CertificatePEM(X509* Cert) {
  TolerateErrors tolerate;
  BIOPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), Cert) != 1) return {};
  return BioToString(bio.get());
}

std::string SHA256Fingerprint(X509* Cert) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(Cert, EVP_sha256(), digest, &length) != 1) return {};
  static const char hex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    if (i) text += ':';
    text += hex[digest[i] >> 4];
    text += hex[digest[i] & 0xF];
  }
  return text;
}

}  // namespace velmora
