#include "core/StoreCertificate.h"

#include "core/CertDetails.h"
#include "core/TextFile.h"
#include "crypto/CertBuilder.h"
#include "crypto/SecretText.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

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

namespace {

[[noreturn]] void RaiseBundleError(const char* What) {
  const char* reason = ERR_reason_error_string(ERR_peek_last_error());
  throw Exception(std::string(What) + (reason ? std::string(": ") + reason : std::string()));
}

}  // namespace

// Bundles made by other tools often have an empty password, some no MAC at all: both count
// as open. Only the MAC tells a wrong password from a damaged file.
std::optional<TBundleContents> ReadBundleWithoutPassword(const std::string& Bytes) {
  TolerateErrors tolerate;
  const auto* der = reinterpret_cast<const unsigned char*>(Bytes.data());
  PKCS12Ptr bundle(d2i_PKCS12(nullptr, &der, static_cast<long>(Bytes.size())));
  if (!bundle) RaiseBundleError("not a PKCS#12 bundle");
  if (PKCS12_mac_present(bundle.get()) && PKCS12_verify_mac(bundle.get(), nullptr, 0) != 1 &&
      PKCS12_verify_mac(bundle.get(), "", 0) != 1)
    return std::nullopt;
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* others = nullptr;
  if (PKCS12_parse(bundle.get(), "", &key, &cert, &others) != 1)
    RaiseBundleError("cannot be opened");
  TBundleContents contents;
  contents.Key.reset(key);
  if (cert) contents.Certificates.emplace_back(cert);
  X509StackPtr rest(others);
  while (rest && sk_X509_num(rest.get()) > 0)
    contents.Certificates.emplace_back(sk_X509_shift(rest.get()));
  return contents;
}

std::string SHA256Fingerprint(X509* Cert) { return CertificateFingerprint(Cert, EVP_sha256()); }

}  // namespace velmora
