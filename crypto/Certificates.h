// TOpenSSLCert: one key (public or private) and one X.509 certificate, with the facts the
// store panel shows about them. TCertLoader: makes such objects from PEM text, PEM files and
// PKCS#12 bundles (by name or as bytes already read) and Base64 DER text.
#pragma once

#include "crypto/OpenSSLWrapper.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

enum TKeyFamily : std::uint8_t { ctUnknown = 0, ctRSA = 1, ctECC = 2, ctEdwards = 3 };

enum TSigAlgorithm : std::uint8_t {
  saUnknown = 0,
  saES256 = 1,
  saES384 = 2,
  saES512 = 3,
  saRS256 = 4,
  saRS384 = 5,
  saRS512 = 6,
};

// "ES256" ... "RS512"; "UNKNOWN" for saUnknown and for any value outside the enumeration.
std::string SigAlgToString(TSigAlgorithm A);

class TOpenSSLCert {
 public:
  // Takes ownership of both handles (either may be null). AHasPrivate is taken as given:
  // the caller knows what kind of key it hands over.
  TOpenSSLCert(EVP_PKEY* APKey, bool AHasPrivate, X509* AX509);
  virtual ~TOpenSSLCert();
  TOpenSSLCert(const TOpenSSLCert&) = delete;
  TOpenSSLCert& operator=(const TOpenSSLCert&) = delete;

  // Borrowed views; the object keeps ownership.
  EVP_PKEY* PKey() const noexcept { return FPKey.get(); }
  X509* X509Cert() const noexcept { return FX509.get(); }

  // Facts derived from the key held; with no key: ctUnknown, 0 bits, saUnknown.
  TKeyFamily KeyType() const noexcept { return FKeyType; }
  std::int32_t Bits() const noexcept { return FBits; }
  TSigAlgorithm GetSigAlg() const noexcept { return FSigAlg; }
  bool HasPrivateKey() const noexcept { return FHasPrivateKey; }

  // "P-256", "P-384", "P-521", libcrypto's own name for any other curve, or empty when
  // the key is not an EC key or its group has no name.
  std::string GetCurveName() const;
  // The digest that goes with the signature algorithm; SHA-256 when it is unknown.
  // Static libcrypto objects, never freed.
  const EVP_MD* GetMessageDigest() const noexcept;
  // Bytes that Bits() bits occupy: the length of r or s in a raw ECDSA signature.
  std::int32_t GetRawSignaturePartLength() const noexcept;

  // The certificate's DER as one unbroken line of Base64, or empty.
  std::string GetCertificateBase64() const;
  // Replaces key and certificate with the certificate decoded from ABase64 and its public
  // key. Characters outside the Base64 alphabet are skipped. Text that is not a certificate
  // leaves the object without key and certificate; nothing is raised.
  void PutCertificateBase64(const std::string& ABase64);

  // Merges the first private key and the first certificate of a PEM file into the object,
  // refusing a certificate that does not match the held private key and a key that does
  // not match the certificate in hand.
  void AddFromPEMFile(const std::string& AFilename, const std::string& APassword);

  // Signs with the private key and the digest of GetMessageDigest (PKCS #1 v1.5 for RSA,
  // DER-encoded ECDSA for EC keys).
  std::vector<unsigned char> SignData(const std::vector<unsigned char>& AData) const;
  // Whether ASignature is a valid signature over AData under the key held; never raises.
  bool VerifyData(const std::vector<unsigned char>& AData,
                  const std::vector<unsigned char>& ASignature) const noexcept;

 private:
  void UpdateKeyInfo();
  TSigAlgorithm DetectSigAlg() const;
  std::string ReadCurveName() const;

  EVP_PKEYPtr FPKey;
  X509Ptr FX509;
  TKeyFamily FKeyType = ctUnknown;
  std::int32_t FBits = 0;
  bool FHasPrivateKey = false;
  TSigAlgorithm FSigAlg = saUnknown;
};

// Class-level functions only. Every object returned belongs to the caller; an empty
// pointer means "nothing found" where the function says so.
class TCertLoader {
 public:
  TCertLoader() = delete;

  // The first private key in PEM text, or empty. Encrypted keys are not read: there is
  // no password to give.
  static std::unique_ptr<TOpenSSLCert> LoadPrivateKey(const std::string& PEM);
  // The first certificate in PEM text with its public key, or empty.
  static std::unique_ptr<TOpenSSLCert> LoadCertificate(const std::string& PEM);

  // Raise when the file cannot be opened or holds no certificate / no readable key.
  static std::unique_ptr<TOpenSSLCert> LoadCertificateFromPEMFile(const std::string& AFilename);
  static std::unique_ptr<TOpenSSLCert> LoadPrivateKeyFromPEMFile(const std::string& AFilename,
                                                                 const std::string& APassword);
  // Whatever the file holds of a private key and a certificate, possibly nothing; raises
  // only when the file cannot be opened. Key and certificate are not matched.
  static std::unique_ptr<TOpenSSLCert> LoadFromPEMFile(const std::string& AFilename,
                                                       const std::string& APassword);
  // The bundle's key and certificate; further certificates are dropped.
  static std::unique_ptr<TOpenSSLCert> LoadFromP12File(const std::string& AFilename,
                                                       const std::string& APassword);
  // ".p12" and ".pfx" (any case) go to LoadFromP12File, everything else to LoadFromPEMFile.
  static std::unique_ptr<TOpenSSLCert> LoadFromFile(const std::string& AFilename,
                                                    const std::string& APassword);

  // The file loaders above on a file's whole content already in memory, for a caller that
  // opened and checked the file itself: every byte counts (a NUL does not end the data), and
  // each returns and raises as its file twin does, except that there is no file to open.
  // Unlike LoadCertificate and LoadPrivateKey, finding nothing raises.
  static std::unique_ptr<TOpenSSLCert> LoadCertificateFromPEMBytes(const std::string& ABytes);
  static std::unique_ptr<TOpenSSLCert> LoadPrivateKeyFromPEMBytes(const std::string& ABytes,
                                                                  const std::string& APassword);
  static std::unique_ptr<TOpenSSLCert> LoadFromPEMBytes(const std::string& ABytes,
                                                        const std::string& APassword);
  static std::unique_ptr<TOpenSSLCert> LoadFromP12Bytes(const std::string& ABytes,
                                                        const std::string& APassword);
  // LoadCertificateFromPEMBytes, or when that finds nothing, a certificate's DER that is the
  // whole of ABytes; raises PEM's reason when neither reads.
  static std::unique_ptr<TOpenSSLCert> LoadCertificateFromPEMOrDERBytes(const std::string& ABytes);
  // Base64 of a DER certificate, wrapped or not; an object holding nothing when the text
  // is not a certificate.
  static std::unique_ptr<TOpenSSLCert> LoadFromBase64(const std::string& ABase64);
};

// ---- A certificate as the signer of others ----------------------------------------------

// What decides whether a certificate can sign other certificates, and how safely.
struct TSignerFacts {
  bool IsCA = false;                 // its basic constraints say CA:TRUE
  bool HasKeyUsage = false;          // it has a key usage extension
  bool KeyCertSign = false;          // that extension allows signing certificates
  TKeyFamily KeyFamily = ctUnknown;  // RSA-PSS keys count as RSA here: the size rule is the same
  std::int32_t KeyBits = 0;          // the size of its public key; 0 when unreadable
  // "MD2", "MD4", "MD5", "MD5 and SHA-1" or "SHA-1" when its own signature uses a digest that
  // is broken for signatures; empty otherwise.
  std::string WeakSignatureDigest;

  // Every verifier rejects what a certificate signs unless it is a CA whose key usage, when
  // it has one, includes signing certificates.
  bool CanSignCertificates() const noexcept { return IsCA && (!HasKeyUsage || KeyCertSign); }
};

TSignerFacts SignerFactsOf(X509* Cert);

// Whether Cert carries the public key of Key (a private key's public half counts).
bool CarriesPublicKey(X509* Cert, EVP_PKEY* Key);

// The labels of the PEM blocks that begin in Text, in order ("CERTIFICATE", "ENCRYPTED
// PRIVATE KEY", ...); views into Text.
std::vector<std::string_view> PEMBlockLabels(std::string_view Text);

// Whether Bytes, the content of a file chosen as a private key, hold a certificate and no
// private key: PEM text by the labels of its blocks, binary DER by what it decodes as. What a
// file is called plays no role.
bool HoldsCertificateWithoutKey(const std::string& Bytes);

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
