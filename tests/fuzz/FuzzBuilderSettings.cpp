// The builder end to end, everything chosen by the input (layout in BuilderInput.h): a key
// of a fixed kind or one the input describes, the settings, a self-signed build or one
// issued by a CA of this process or from the input, then the PEM texts and a bundle.
// Each outcome must be a certificate and key that check out (signature, issuer, every export
// read back) or a velmora::Exception; never a crash, a hang or a leak.
#include "crypto/CertBuilder.h"
#include "crypto/Certificates.h"
#include "tests/fuzz/BuilderInput.h"
#include "tests/fuzz/FuzzInput.h"

#include <openssl/core_names.h>
#include <openssl/pem.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

using namespace velmora;
using velmora::fuzz::TBuilderInput;
using velmora::fuzz::TBundleCA;
using velmora::fuzz::TIssuer;

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "builder_settings: %s\n", what);
  __builtin_trap();
}

// ---- Keys ---------------------------------------------------------------------------------

void SetKeySettings(TCertBuilder& b, TKeyType type, std::int32_t bits, const std::string& curve) {
  b.KeyType = type;
  b.RSABits = bits;
  b.ECCurve = curve;
}

// A key that GenerateKey returned must be the kind the settings asked for.
void CheckGeneratedKey(const TCertBuilder& b, const char* group) {
  EVP_PKEY* key = b.Key();
  Check(key != nullptr, "GenerateKey returned without a key");
  if (b.KeyType == ktRSA) {
    Check(EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA, "RSA asked for, another kind made");
    Check(EVP_PKEY_get_bits(key) == b.RSABits, "RSA key of another size than asked for");
    return;
  }
  Check(EVP_PKEY_get_base_id(key) == EVP_PKEY_EC, "EC asked for, another kind made");
  if (group == nullptr) return;
  std::array<char, 64> name{};
  std::size_t length = 0;
  Check(EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, name.data(), name.size(),
                                       &length) == 1 &&
            std::strcmp(name.data(), group) == 0,
        "EC key on another curve than asked for");
}

// One builder per entry of the key table, its key made on first use and on request.
TCertBuilder& KeptKeyBuilder(std::size_t index, bool fresh) {
  static std::array<TCertBuilder*, velmora::fuzz::kKeptKeyCount> builders{};
  TCertBuilder*& b = builders[index];
  const bool generate = b == nullptr || fresh;
  if (b == nullptr) b = new TCertBuilder;  // kept for the life of the process
  const auto& kept = velmora::fuzz::kKeptKeys[index];
  // Every input rewrites the settings; these must be the key's again.
  SetKeySettings(*b, kept.Type, kept.RSABits, kept.Curve);
  if (generate) {
    // A table entry is a key the program must be able to make: no exception is expected.
    b->GenerateKey();
    CheckGeneratedKey(*b, kept.Group);
  }
  return *b;
}

// A key the input describes, made for this input. Most descriptions are refused; a refusal
// must leave the builder without a key.
TCertBuilder& InputKeyBuilder(const TBuilderInput& p) {
  static TCertBuilder* b = new TCertBuilder;
  // Never above 1024 bits: a bigger key costs the fuzzer time and reaches nothing new.
  SetKeySettings(*b, p.InputKeyIsRSA ? ktRSA : ktECC, p.InputRSABits % 1025, p.InputCurve);
  try {
    b->GenerateKey();
    CheckGeneratedKey(*b, nullptr);
  } catch (const Exception&) {
    Check(b->Key() == nullptr, "a failed GenerateKey left a key behind");
  }
  return *b;
}

TCertBuilder& BuilderFor(const TBuilderInput& p) {
  const std::size_t choice = p.Key % (velmora::fuzz::kKeptKeyCount + 1);
  if (choice == velmora::fuzz::kKeyFromInput) return InputKeyBuilder(p);
  return KeptKeyBuilder(choice, p.FreshKey);
}

void ApplySettings(TCertBuilder& b, const TBuilderInput& p) {
  b.Subject = p.Subject;
  b.ValidDays = p.ValidDays;
  b.IsCA = p.IsCA;
  b.PathLenConstraint = p.PathLen;
  b.KeyUsage = {};
  b.ExtKeyUsage = {};
  for (int i = 0; i <= kuDecipherOnly; ++i)
    if (p.KeyUsage & (1u << i)) b.KeyUsage.insert(static_cast<TKeyUsage>(i));
  for (int i = 0; i <= ekuOCSPSigning; ++i)
    if (p.ExtKeyUsage & (1u << i)) b.ExtKeyUsage.insert(static_cast<TExtKeyUsage>(i));
  b.SANDNSNames = p.DNSNames;
  b.SANIPs = p.IPs;
  b.SANEmails = p.Emails;
  if (p.DigestSettingsFromInput)
    SetKeySettings(b, p.DigestRSA ? ktRSA : ktECC, p.DigestRSABits, p.DigestCurve);
}

// ---- CAs ----------------------------------------------------------------------------------

constexpr const char* kCAPassword = "ca password";

// A CA made once per process with the builder itself, and its PEM texts as a user would
// hand them back to a CA-signed build.
struct TProcessCA {
  TCertBuilder Builder;
  std::string CertPEM, KeyPEM, EncryptedKeyPEM;
};

const TProcessCA& ProcessCA(bool rsa) {
  static std::array<TProcessCA*, 2> cas{};
  TProcessCA*& ca = cas[rsa ? 1 : 0];
  if (ca != nullptr) return *ca;
  ca = new TProcessCA;  // kept for the life of the process
  // Called where the builder's exceptions count as an outcome: making the CA must not fail.
  try {
    TCertBuilder& b = ca->Builder;
    SetKeySettings(b, rsa ? ktRSA : ktECC, 1024, "P-256");
    b.Subject.CN = rsa ? "Fuzz RSA Root" : "Fuzz EC Root";
    b.IsCA = true;
    b.PathLenConstraint = -1;
    b.KeyUsage = {kuKeyCertSign, kuCRLSign};
    b.ExtKeyUsage = {};
    b.GenerateKey();
    b.BuildSelfSigned();
    ca->CertPEM = b.CertToPEM();
    ca->KeyPEM = b.KeyToPEM("");
    ca->EncryptedKeyPEM = b.KeyToPEM(kCAPassword);
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    Check(false, "the process CA cannot be made");
  }
  return *ca;
}

// The input's text up to the next NUL, as the contents of one file.
std::string Piece(const std::string& all, std::size_t& pos) {
  const std::size_t end = std::min(all.find('\0', pos), all.size());
  std::string piece = all.substr(pos, end - pos);
  pos = end < all.size() ? end + 1 : end;
  return piece;
}

struct TInputCA {
  std::string Cert, Key, Password;
};

TInputCA SplitCAText(const std::string& text) {
  std::size_t pos = 0;
  TInputCA ca;
  ca.Cert = Piece(text, pos);
  ca.Key = Piece(text, pos);
  ca.Password = Piece(text, pos);
  return ca;
}

// ---- Build --------------------------------------------------------------------------------

// Keys compared by their encodings rather than with EVP_PKEY_eq: libcrypto reads a key on
// some curves (SM2) back as a key type of its own, which EVP_PKEY_eq calls different even
// though every number in it is the same.
template <typename Encode>
std::string Encoded(EVP_PKEY* key, Encode encode) {
  if (key == nullptr) return {};
  unsigned char* der = nullptr;
  const int length = encode(key, &der);
  std::string bytes = length > 0 ? std::string(reinterpret_cast<char*>(der), length) : "";
  OPENSSL_free(der);
  ERR_clear_error();
  return bytes;
}

bool SamePublicKey(EVP_PKEY* a, EVP_PKEY* b) {
  const std::string encoded = Encoded(a, i2d_PUBKEY);
  return !encoded.empty() && encoded == Encoded(b, i2d_PUBKEY);
}

bool SameKey(EVP_PKEY* a, EVP_PKEY* b) {
  const std::string encoded = Encoded(a, i2d_PrivateKey);
  return !encoded.empty() && encoded == Encoded(b, i2d_PrivateKey);
}

// What a CA-signed build is given, and what is known of the signer: the key whose signature
// the certificate must carry and the certificate whose subject must be its issuer.
struct TIssuance {
  std::string CertPEM, KeyPEM, Password;
  const TProcessCA* SignedWithKeyOf = nullptr;
  const TProcessCA* IssuedUnderCertOf = nullptr;
};

TIssuance IssuanceFor(TIssuer issuer, const TProcessCA& ca, const TInputCA& in) {
  switch (issuer) {
    case TIssuer::CA: return {ca.CertPEM, ca.KeyPEM, "", &ca, &ca};
    case TIssuer::CAEncryptedKey: return {ca.CertPEM, ca.EncryptedKeyPEM, kCAPassword, &ca, &ca};
    // A build that gets past a wrong password would still have to be signed by the CA.
    case TIssuer::CAKeyInputPassword:
      return {ca.CertPEM, ca.EncryptedKeyPEM, in.Password, &ca, &ca};
    case TIssuer::InputCert: return {in.Cert, ca.KeyPEM, "", &ca, nullptr};
    case TIssuer::InputKey: return {ca.CertPEM, in.Key, in.Password, nullptr, &ca};
    case TIssuer::CACombinedText: {
      const std::string both = ca.CertPEM + ca.KeyPEM;
      return {both, both, "", &ca, &ca};
    }
    case TIssuer::InputAll:
    default: return {in.Cert, in.Key, in.Password, nullptr, nullptr};
  }
}

void CheckCertificate(const TCertBuilder& b, EVP_PKEY* signer, X509* issuer) {
  X509* cert = b.Cert();
  Check(cert != nullptr, "a build returned without a certificate");
  Check(b.Key() != nullptr, "a build returned without a key");
  Check(SamePublicKey(X509_get0_pubkey(cert), b.Key()), "the certificate holds another public key");
  if (signer != nullptr) Check(X509_verify(cert, signer) == 1, "the signature does not verify");
  if (issuer != nullptr)
    Check(X509_NAME_cmp(X509_get_issuer_name(cert), X509_get_subject_name(issuer)) == 0,
          "the issuer is not the CA's subject");
  ERR_clear_error();
}

void Build(TCertBuilder& b, const TBuilderInput& p, const TInputCA& inputCA) {
  const TIssuer issuer = p.IssuerChoice();
  if (issuer == TIssuer::Self) {
    b.BuildSelfSigned();
    CheckCertificate(b, b.Key(), b.Cert());
    return;
  }
  const TProcessCA& ca = ProcessCA(p.RSACA);
  const TIssuance issuance = IssuanceFor(issuer, ca, inputCA);
  b.BuildSignedBy(issuance.CertPEM, issuance.KeyPEM, issuance.Password);
  const TProcessCA* signer = issuance.SignedWithKeyOf;
  const TProcessCA* issuerCA = issuance.IssuedUnderCertOf;
  CheckCertificate(b, signer ? signer->Builder.Key() : nullptr,
                   issuerCA ? issuerCA->Builder.Cert() : nullptr);
}

// ---- Exports ------------------------------------------------------------------------------

EVP_PKEYPtr ReadKey(const std::string& pem, const char* password) {
  BIOPtr bio = NewMemBuf(pem);
  EVP_PKEYPtr key(
      PEM_read_bio_PrivateKey(bio.get(), nullptr, PassphraseCallback, const_cast<char*>(password)));
  ERR_clear_error();
  return key;
}

void CheckPEMExports(const TCertBuilder& b, const TBuilderInput& p) {
  const std::string certPEM = b.CertToPEM();
  {
    BIOPtr bio = NewMemBuf(certPEM);
    X509Ptr again(PEM_read_bio_X509(bio.get(), nullptr, PassphraseCallback, nullptr));
    Check(again && X509_cmp(again.get(), b.Cert()) == 0, "CertToPEM does not read back");
  }
  Check(SameKey(ReadKey(b.KeyToPEM(""), nullptr).get(), b.Key()), "KeyToPEM does not read back");

  if (!p.WantsEncryptedKey() || p.Password.empty()) return;
  const std::string encrypted = b.KeyToPEM(p.Password);
  Check(!ReadKey(encrypted, nullptr), "a key exported with a password reads without one");
  // Every reader hands libcrypto the password as a C string; one with a NUL in it cannot
  // come back through them.
  if (p.Password.find('\0') == std::string::npos)
    Check(SameKey(ReadKey(encrypted, p.Password.c_str()).get(), b.Key()),
          "KeyToPEM with a password does not read back with it");
}

std::string BundleCAText(const TBuilderInput& p, const TInputCA& inputCA) {
  switch (p.BundleCAChoice()) {
    case TBundleCA::ProcessCA: return ProcessCA(p.RSACA).CertPEM;
    case TBundleCA::InputCert: return inputCA.Cert;
    case TBundleCA::NotACertificate: return "-----BEGIN CERTIFICATE-----\nAAAA\n";
    default: return {};
  }
}

void CheckBundle(const TCertBuilder& b, const TBuilderInput& p, const TInputCA& inputCA) {
  static const std::string path = velmora::fuzz::ScratchFile(".pfx");
  b.SaveToPKCS12(path, p.Password, p.FriendlyName, BundleCAText(p, inputCA));
  std::unique_ptr<TOpenSSLCert> loaded;
  try {
    loaded = TCertLoader::LoadFromP12File(path, p.Password);
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    Check(false, "a bundle just saved does not load with its password");
  }
  std::filesystem::remove(path);
  Check(loaded->X509Cert() != nullptr && X509_cmp(loaded->X509Cert(), b.Cert()) == 0,
        "the bundle's certificate is another");
  Check(loaded->HasPrivateKey() && SameKey(loaded->PKey(), b.Key()), "the bundle's key is another");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velmora::fuzz::FuzzInput in(data, size);
  TBuilderInput p;
  velmora::fuzz::Fields(in, p);
  const TInputCA inputCA = SplitCAText(p.CAText);

  TCertBuilder& b = BuilderFor(p);
  ApplySettings(b, p);
  try {
    Build(b, p, inputCA);
    CheckPEMExports(b, p);
    if (p.WantsBundle()) CheckBundle(b, p, inputCA);
  } catch (const Exception&) {
  }
  return 0;
}
