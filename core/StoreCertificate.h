// A certificate file of the store, read the safe way: one open, regular files only, within
// the size any certificate file has, PEM or DER.
#pragma once

#include "crypto/Certificates.h"  // ReadBundleWithoutPassword, for the store's readers

#include <optional>
#include <string>
#include <vector>

namespace velmora {

// The file's first certificate, or null when it holds none or cannot be read.
X509Ptr ReadStoreCertificate(const std::string& Path);

// The certificate as PEM text, and its SHA-256 fingerprint as upper-case hex pairs joined by
// colons (what `openssl x509 -fingerprint -sha256` prints after the "=").
std::string CertificatePEM(X509* Cert);
std::string SHA256Fingerprint(X509* Cert);

}  // namespace velmora
