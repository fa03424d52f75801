#include "core/StoreCertificate.h"

#include "core/TextFile.h"
#include "crypto/CertificateView.h"
#include "crypto/SecretText.h"

#include <sys/stat.h>

namespace velmora {

// Through the one-open path the panel uses: a pipe or a huge file named like a certificate
// is passed over, never waited for.
X509Ptr ReadStoreCertificate(const std::string& Path) {
  const TReadOnlyFile file(Path);
  if (!file.IsRegularFile() || file.Info().st_size > kMaxCertificateFileSize) return nullptr;
  std::string bytes;
  if (file.ReadAll(bytes, kMaxCertificateFileSize) != 0) return nullptr;
  const TSecretText text(std::move(bytes));  // a certificate file may hold a key as well
  return ReadCertificatePEMOrDER(text.Text());
}

std::string CertificatePEM(X509* Cert) { return TCertificateView(Cert).PEM(); }

std::string SHA256Fingerprint(X509* Cert) {
  return TCertificateView(Cert).Fingerprint(TFingerprintDigest::SHA256);
}

}  // namespace velmora
