// Which key pair a key or certificate holds, as a short text that is equal exactly when the
// public keys are: the SHA-256 of the DER SubjectPublicKeyInfo, as `openssl pkey -pubout
// -outform DER | sha256sum` prints it. A private key and the certificate made for it give the
// same identity, so a key pair can be recognised wherever it turns up.
#pragma once

#include "crypto/OpenSSLWrapper.h"

#include <string>

namespace velmora {

// Lower-case hex of the 32 digest bytes; empty for no key or a key libcrypto cannot encode.
std::string PublicKeyIdentity(const EVP_PKEY* Key);
// The identity of the certificate's public key; empty for no certificate or no readable key.
std::string CertificateKeyIdentity(const X509* Cert);

}  // namespace velmora
