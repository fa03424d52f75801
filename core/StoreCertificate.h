// A certificate file of the store, read the safe way: one open, regular files only, within
// the size any certificate file has, PEM or DER.
#pragma once

#include "crypto/OpenSSLWrapper.h"

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

// What a PKCS#12 bundle holds: its private key (or none) and its certificates, the one that
// goes with the key first.
struct TBundleContents {
  EVP_PKEYPtr Key;
  std::vector<X509Ptr> Certificates;
};
// The bundle in Bytes opened with an empty password (or none), or empty when it needs a real
// one. Raises Exception when the bytes are not a bundle or it cannot be decrypted.
std::optional<TBundleContents> ReadBundleWithoutPassword(const std::string& Bytes);

}  // namespace velmora
