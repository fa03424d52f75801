// Test fixtures made with plain libcrypto at test time: keys, certificates, the PEM, DER and
// PKCS#12 forms of them, and a temporary directory to write them into. libcrypto failures
// raise velmora::Exception like everywhere else.
#pragma once

#include "crypto/OpenSSLWrapper.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::test {

using Bytes = std::vector<unsigned char>;

// --- Keys -------------------------------------------------------------------------------

// Type is "RSA" or "RSA-PSS".
EVP_PKEYPtr MakeRSAKey(int Bits, const char* Type = "RSA");
// Group is a libcrypto group name ("prime256v1", "secp384r1", "secp256k1", ...) or "P-256".
EVP_PKEYPtr MakeECKey(const std::string& Group);
// A key type that takes no parameters, such as "ED25519" or "X25519".
EVP_PKEYPtr MakeKey(const std::string& Type);
// Whether Key carries its private part (RSA, EC and Edwards-curve keys), as opposed to
// being only the public half of a pair.
bool HasPrivateComponent(EVP_PKEY* Key);
// A new reference to an RSA key made once per test program for each size; big keys are
// slow to make, so tests share them.
EVP_PKEYPtr SharedRSAKey(int Bits);

// --- Certificates -----------------------------------------------------------------------

// A version 3 certificate valid from now for a year, signed with SHA-256 (or with no digest
// for keys such as Ed25519 that take none).
X509Ptr MakeSelfSignedCert(EVP_PKEY* Key, const std::string& CommonName = "Velmora Test");
X509Ptr MakeSignedCert(EVP_PKEY* Key, const std::string& CommonName, X509* Issuer,
                       EVP_PKEY* IssuerKey);

// --- Encodings --------------------------------------------------------------------------

std::string CertToPEM(X509* Cert);
Bytes CertToDER(X509* Cert);
// "PRIVATE KEY", or "ENCRYPTED PRIVATE KEY" (AES-256-CBC) when Password is not empty.
std::string KeyToPKCS8PEM(EVP_PKEY* Key, const std::string& Password = "");
// The older per-algorithm form ("RSA PRIVATE KEY", "EC PRIVATE KEY"), with a DEK-Info
// header (AES-256-CBC) when Password is not empty.
std::string KeyToTraditionalPEM(EVP_PKEY* Key, const std::string& Password = "");
// A PKCS#12 bundle; Key may be null for a bundle of certificates only.
Bytes MakePKCS12(EVP_PKEY* Key, X509* Cert, const std::vector<X509*>& Chain,
                 const std::string& Password);

// --- Files ------------------------------------------------------------------------------

void WriteFile(const std::filesystem::path& Path, const std::string& Contents);
void WriteFile(const std::filesystem::path& Path, const Bytes& Contents);

// A fresh directory under the system's temporary directory, removed with everything in it
// when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const noexcept { return FPath; }
  // The full name of an entry of the directory, as text.
  std::string File(const std::string& Name) const { return (FPath / Name).string(); }

 private:
  std::filesystem::path FPath;
};

}  // namespace velmora::test
