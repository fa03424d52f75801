// TCertBuilder: the settings of one certificate, its key pair, issuance and export.
#pragma once

#include "crypto/AtomicFile.h"
#include "crypto/OpenSSLWrapper.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace velmora {

// ktEdwards: an Edwards-curve key for EdDSA, Ed25519 or Ed448 (the builder's EdAlgorithm).
enum TKeyType : std::uint8_t { ktRSA = 0, ktECC = 1, ktEdwards = 2 };

// The Edwards-curve algorithms a key can be made for, by the names the window lists.
inline constexpr const char* kEd25519 = "Ed25519";
inline constexpr const char* kEd448 = "Ed448";

struct TSubjectDN {
  std::string CN, O, OU, C, ST, L, Email;
};

// A set of enumeration members; member i is bit i of value().
template <typename TMember, typename TStorage>
class TSmallSet {
 public:
  constexpr TSmallSet() noexcept = default;
  constexpr TSmallSet(std::initializer_list<TMember> members) noexcept {
    for (TMember m : members) insert(m);
  }
  constexpr bool contains(TMember m) const noexcept { return (FBits & Bit(m)) != 0; }
  constexpr void insert(TMember m) noexcept { FBits = static_cast<TStorage>(FBits | Bit(m)); }
  constexpr void erase(TMember m) noexcept { FBits = static_cast<TStorage>(FBits & ~Bit(m)); }
  constexpr bool empty() const noexcept { return FBits == 0; }
  constexpr TStorage value() const noexcept { return FBits; }
  friend constexpr bool operator==(TSmallSet, TSmallSet) noexcept = default;

 private:
  static constexpr TStorage Bit(TMember m) noexcept {
    return static_cast<TStorage>(1u << static_cast<unsigned>(m));
  }
  TStorage FBits = 0;
};

enum TKeyUsage : std::uint8_t {
  kuDigitalSignature = 0,
  kuContentCommitment = 1,
  kuKeyEncipherment = 2,
  kuDataEncipherment = 3,
  kuKeyAgreement = 4,
  kuKeyCertSign = 5,
  kuCRLSign = 6,
  kuEncipherOnly = 7,
  kuDecipherOnly = 8,
};
using TKeyUsageSet = TSmallSet<TKeyUsage, std::uint16_t>;

enum TExtKeyUsage : std::uint8_t {
  ekuServerAuth = 0,
  ekuClientAuth = 1,
  ekuCodeSigning = 2,
  ekuEmailProtection = 3,
  ekuTimeStamping = 4,
  ekuOCSPSigning = 5,
};
using TExtKeyUsageSet = TSmallSet<TExtKeyUsage, std::uint8_t>;

// How a PKCS#12 bundle is protected. Modern is libcrypto's own choice (AES-256-CBC under
// PBKDF2, MAC with SHA-256); Compatible is what systems before those algorithms read (older
// Windows, macOS and Java): key and certificates under PBE-SHA1-3DES, MAC with SHA-1.
enum class TPKCS12Format { Modern, Compatible };

// A CA's certificate and private key, read from PEM, decrypted and matched once, to sign any
// number of certificates: a batch of thousands would otherwise pay the key's decryption (a
// deliberately slow key derivation) for every one. Signing only reads the two, so builders on
// several threads may share one signer. Raises as BuildSignedBy does.
class TCASigner {
 public:
  TCASigner(const std::string& CACertPEM, const std::string& CAKeyPEM,
            const std::string& CAKeyPassword);
  X509* Cert() const noexcept { return FCert.get(); }
  EVP_PKEY* Key() const noexcept { return FKey.get(); }

 private:
  X509Ptr FCert;
  EVP_PKEYPtr FKey;
};

class TCertBuilder {
 public:
  TCertBuilder() = default;
  virtual ~TCertBuilder() = default;
  TCertBuilder(const TCertBuilder&) = delete;
  TCertBuilder& operator=(const TCertBuilder&) = delete;

  // Settings, written directly by the window before it calls an operation.
  TKeyType KeyType = ktECC;
  std::int32_t RSABits = 2048;
  std::string ECCurve = "P-256";
  std::string EdAlgorithm = kEd25519;  // kEd25519 or kEd448
  TSubjectDN Subject;
  std::int32_t ValidDays = 365;
  bool IsCA = false;
  std::int32_t PathLenConstraint = 0;
  TKeyUsageSet KeyUsage{kuDigitalSignature, kuKeyEncipherment};
  TExtKeyUsageSet ExtKeyUsage{ekuServerAuth, ekuClientAuth};
  std::vector<std::string> SANDNSNames;
  std::vector<std::string> SANIPs;
  std::vector<std::string> SANEmails;
  // Name constraints of a CA certificate, each subtree as ParseNameConstraint takes it
  // ("example.org", ".example.org", "10.0.0.0/8", "@example.org"); written only for a CA.
  std::vector<std::string> PermittedNames;
  std::vector<std::string> ExcludedNames;
  // Where relying parties fetch the issuer's revocation list: written as the certificate's CRL
  // distribution point. Empty: no such extension.
  std::string CRLURL;

  // Borrowed views of the key pair and certificate; the builder keeps ownership.
  EVP_PKEY* Key() const noexcept { return FKey.get(); }
  X509* Cert() const noexcept;
  // The certificate for reading what it says (serial, names, dates), without the key object
  // Cert() gives it first: making that costs more than a P-256 issuance.
  const X509* IssuedCert() const noexcept { return FCert.get(); }

  // Progress of a key generation as libcrypto reports it while it searches primes (RSA only;
  // an EC key is made at once). Returning false stops the generation: GenerateKey then
  // raises "Key generation cancelled." and the builder holds no key.
  using TKeyGenObserver = std::function<bool()>;
  void GenerateKey(const TKeyGenObserver& Observer = {});
  void BuildSelfSigned();
  void BuildSignedBy(const std::string& CACertPEM, const std::string& CAKeyPEM,
                     const std::string& CAKeyPassword);
  void BuildSignedBy(const TCASigner& CA);

  // A PKCS#10 request for the key pair, for another CA to sign: the subject, and the basic
  // constraints, usages and alternative names as requested extensions, signed by the key
  // with the digest a certificate of this key would be signed with.
  void BuildRequest();
  // Borrowed; null until BuildRequest succeeded.
  X509_REQ* Request() const noexcept { return FRequest.get(); }
  std::string RequestToPEM() const;
  void StageRequestPEM(TAtomicFileSet& Files, const std::string& FileName) const;

  // Takes the public key of somebody else's request as the key to certify (the builder keeps
  // a reference of its own): a certificate can then be issued for it, but there is no private
  // key to write, bundle or sign a request with. GenerateKey makes an own key pair again.
  void UseRequestPublicKey(EVP_PKEY* PublicKey);
  bool HoldsPrivateKey() const noexcept { return FKey && !FPublicKeyOnly; }
  // Takes the private key in Bytes as the key pair, instead of making one: PEM or DER, PKCS#8
  // or the traditional form, encrypted under Password or not. Raises Exception "No private
  // key could be read: <reason>" when none reads; the builder then holds no key.
  void UseExistingKey(const std::string& Bytes, const std::string& Password);

  std::string CertToPEM() const;
  std::string KeyToPEM(const std::string& Password) const;
  void SaveCertToPEM(const std::string& FileName) const;
  void SaveKeyToPEM(const std::string& FileName, const std::string& Password) const;
  void SaveToPKCS12(const std::string& FileName, const std::string& Password,
                    const std::string& FriendlyName, const std::string& CACertPEM,
                    TPKCS12Format Format = TPKCS12Format::Modern) const;

  // The same three files as members of a set that changes together: each is written and
  // flushed here, with the same checks and messages as its Save, and replaces its target
  // only when the set is committed. A bundle is read back from the disk with its password
  // before that: one that does not give back this key and these certificates raises, and
  // its file never replaces the target.
  void StageCertPEM(TAtomicFileSet& Files, const std::string& FileName) const;
  void StageKeyPEM(TAtomicFileSet& Files, const std::string& FileName,
                   const std::string& Password) const;
  void StagePKCS12(TAtomicFileSet& Files, const std::string& FileName, const std::string& Password,
                   const std::string& FriendlyName, const std::string& CACertPEM,
                   TPKCS12Format Format = TPKCS12Format::Modern) const;

 private:
  EVP_PKEYPtr GenerateRSAKey(const TKeyGenObserver& Observer) const;
  EVP_PKEYPtr GenerateECKey() const;
  EVP_PKEYPtr GenerateEdwardsKey() const;

  // The two builds share everything but issuer and signing key.
  void RequireKey() const;
  X509Ptr NewCertificateBody() const;
  void CompleteAndSign(X509* Cert, X509_NAME* IssuerName, X509* IssuerCert,
                       EVP_PKEY* SigningKey) const;
  void SetPublicKey(X509* Cert) const;
  void AttachCertKey() const noexcept;

  void CheckAlternativeNames() const;

  // Steps of a build, on the certificate under construction.
  void AddSubjectName(X509_NAME* Name) const;
  void RequirePrivateKey() const;
  X509_EXTENSIONStackPtr RequestedExtensions() const;
  void SetRandomSerial(X509* Cert) const;
  void SetValidity(X509* Cert) const;
  void AddExtension(X509* Cert, X509* Issuer, int NID, const std::string& Value) const;
  std::string KeyUsageText() const;
  std::string ExtKeyUsageText() const;
  std::string SubjectAltNameText() const;
  void AddExtensions(X509* Cert, X509* Issuer) const;

  EVP_PKEYPtr FKey;
  // FKey is the public key of a request: nothing of it is secret, nothing can be signed by it.
  bool FPublicKeyOnly = false;
  X509Ptr FCert;
  X509_REQPtr FRequest;
  // Whether FCert holds FKey as its decoded public key (see SetPublicKey).
  mutable bool FCertKeyAttached = false;
};

// The digest SigningKey signs a certificate with, decided by that key alone: SHA-512 for an
// RSA key of 4096 bits and more or a P-521 key, SHA-384 for RSA from 3072 bits or P-384,
// SHA-256 for any other RSA or EC key. Null for an Edwards-curve key: EdDSA signs the message
// itself, and libcrypto refuses a digest for it.
const EVP_MD* SignatureDigestFor(EVP_PKEY* SigningKey);
// The rule above on a key's facts: its type, its RSA size and its curve ("P-384").
const EVP_MD* SignatureDigestBy(TKeyType Type, std::int32_t RSABits, const std::string& ECCurve);

// kEd25519 or kEd448 for an Edwards-curve key (borrowed), empty for any other key.
std::string EdwardsAlgorithmOf(EVP_PKEY* Key);

// The longest password that every file we write can be opened with again.
inline constexpr std::size_t kMaxPasswordBytes = 1023;

// Raises Exception for a password no file can be written under and read back with: one
// holding a NUL character, or one longer than kMaxPasswordBytes.
void CheckPassword(const std::string& Password);

// The whole contents of a memory BIO as text; the BIO keeps its contents.
std::string BioToString(BIO* Bio);

}  // namespace velmora
