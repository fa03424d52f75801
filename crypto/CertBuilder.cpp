#include "crypto/CertBuilder.h"

#include "crypto/AtomicFile.h"
#include "crypto/CRL.h"
#include "crypto/NameConstraints.h"
#include "crypto/SecretText.h"

#include <openssl/core_names.h>
#include <openssl/decoder.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <climits>
#include <cstdint>
#include <string_view>

namespace velmora {

namespace {

// The window offers the NIST curves by their short names; anything else goes to
// libcrypto as a group name of its own.
std::string GroupNameFor(const std::string& curve) {
  if (curve == "P-256") return "prime256v1";
  if (curve == "P-384") return "secp384r1";
  if (curve == "P-521") return "secp521r1";
  return curve;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += ',';
    text += item;
  }
  return text;
}

std::string BasicConstraintsText(bool isCA, std::int32_t pathLen) {
  if (!isCA) return "CA:FALSE";
  if (pathLen < 0) return "critical,CA:TRUE";
  return "critical,CA:TRUE,pathlen:" + std::to_string(pathLen);
}

// PEM files get CR LF after every line, whatever line ends libcrypto produced.
std::string WithCRLFLineEnds(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      out += c;
      continue;
    }
    out += "\r\n";
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  if (!text.empty() && text.back() != '\n' && text.back() != '\r') out += "\r\n";
  return out;
}

X509Ptr ReadCACertificate(const std::string& pem) {
  BIOPtr bio = NewMemBuf(pem);
  if (!bio) RaiseOpenSSLError("BIO_new CACert");
  X509Ptr cert = ReadPEMCertificate(bio.get());
  if (!cert) RaiseOpenSSLError(kStepReadCACert);
  return cert;
}

EVP_PKEYPtr ReadCAKey(const std::string& pem, const std::string& password) {
  BIOPtr bio = NewMemBuf(pem);
  if (!bio) RaiseOpenSSLError("BIO_new CAKey");
  EVP_PKEYPtr key = ReadPEMPrivateKey(bio.get(), password.empty() ? nullptr : password.c_str());
  if (!key) RaiseOpenSSLError(kStepReadCAKey);
  return key;
}

bool KeyBelongsTo(X509* Cert, EVP_PKEY* Key) {
  TolerateErrors tolerate;
  return X509_check_private_key(Cert, Key) == 1;
}

// The further certificate of a bundle. A text without a readable certificate is not an
// error: the bundle is then made without it.
X509StackPtr OptionalCAStack(const std::string& pem) {
  if (pem.empty()) return nullptr;
  X509Ptr cert;
  {
    TolerateErrors tolerate;
    if (BIOPtr bio = NewMemBuf(pem)) cert = ReadPEMCertificate(bio.get());
  }
  if (!cert) return nullptr;
  X509StackPtr stack(sk_X509_new_null());
  if (!stack || sk_X509_push(stack.get(), cert.get()) <= 0) RaiseOpenSSLError("sk_X509_push");
  static_cast<void>(cert.release());  // the stack owns it now
  return stack;
}

// The SubjectPublicKeyInfo of an EC key on a named curve, written straight from the key's
// encoded point: the same bytes libcrypto's encoder produces, without the encoder. Setting
// that encoder up (and decoding its output again) costs more than all the rest of a P-256
// issuance together. False for any other key, which then takes libcrypto's own way.
bool SetNamedCurvePublicKey(X509* Cert, EVP_PKEY* Key) {
  if (EVP_PKEY_get_base_id(Key) != EVP_PKEY_EC) return false;
  TolerateErrors tolerate;  // anything unusual about the key: the general way decides
  char group[80] = {};
  if (EVP_PKEY_get_utf8_string_param(Key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                     nullptr) != 1)
    return false;
  // Only a curve that has an object identifier and is to be written by name: libcrypto
  // writes the others with their explicit parameters.
  char encoding[32] = {};
  if (EVP_PKEY_get_utf8_string_param(Key, OSSL_PKEY_PARAM_EC_ENCODING, encoding, sizeof encoding,
                                     nullptr) == 1 &&
      std::string_view(encoding) != OSSL_PKEY_EC_ENCODING_GROUP)
    return false;
  const int curve = OBJ_txt2nid(group);
  const ASN1_OBJECT* curveId = curve == NID_undef ? nullptr : OBJ_nid2obj(curve);
  size_t length = 0;
  if (curveId == nullptr || OBJ_length(curveId) == 0 ||
      EVP_PKEY_get_octet_string_param(Key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, nullptr, 0,
                                      &length) != 1 ||
      length == 0 || length > INT_MAX)
    return false;
  auto* point = static_cast<unsigned char*>(OPENSSL_malloc(length));
  if (point == nullptr ||
      EVP_PKEY_get_octet_string_param(Key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point, length,
                                      &length) != 1 ||
      X509_PUBKEY_set0_param(X509_get_X509_PUBKEY(Cert), OBJ_nid2obj(NID_X9_62_id_ecPublicKey),
                             V_ASN1_OBJECT, const_cast<ASN1_OBJECT*>(curveId), point,
                             static_cast<int>(length)) != 1) {
    OPENSSL_free(point);
    return false;
  }
  return true;  // the certificate owns the point now
}

// The SubjectPublicKeyInfo of an Edwards-curve key, written from its raw public key: the
// algorithm's identifier without parameters and the key's bytes (RFC 8410), as libcrypto's
// encoder writes it, which costs more than the rest of an Ed25519 issuance together. False for
// any other key.
bool SetEdwardsPublicKey(X509* Cert, EVP_PKEY* Key) {
  const int id = EVP_PKEY_get_base_id(Key);
  if (id != EVP_PKEY_ED25519 && id != EVP_PKEY_ED448) return false;
  TolerateErrors tolerate;  // anything unusual about the key: the general way decides
  size_t length = 0;
  if (EVP_PKEY_get_raw_public_key(Key, nullptr, &length) != 1 || length == 0 || length > INT_MAX)
    return false;
  auto* bytes = static_cast<unsigned char*>(OPENSSL_malloc(length));
  if (bytes == nullptr || EVP_PKEY_get_raw_public_key(Key, bytes, &length) != 1 ||
      X509_PUBKEY_set0_param(X509_get_X509_PUBKEY(Cert), OBJ_nid2obj(id), V_ASN1_UNDEF, nullptr,
                             bytes, static_cast<int>(length)) != 1) {
    OPENSSL_free(bytes);
    return false;
  }
  return true;  // the certificate owns the bytes now
}

// The bundle of key, certificate and chain under Password. MAC iterations as many as the
// encryption's: with a single one, anyone holding the file could test passwords against the
// MAC almost for free.
PKCS12Ptr NewPKCS12(const std::string& Password, const std::string& FriendlyName, EVP_PKEY* Key,
                    X509* Cert, STACK_OF(X509) * Chain, TPKCS12Format Format) {
  constexpr int kIterations = 2048;
  if (Format == TPKCS12Format::Modern) {
    PKCS12Ptr bundle(PKCS12_create(Password.c_str(), FriendlyName.c_str(), Key, Cert, Chain, 0, 0,
                                   kIterations, kIterations, 0));
    if (!bundle) RaiseOpenSSLError("PKCS12_create");
    return bundle;
  }
  // libcrypto 3 would put a SHA-256 MAC on it, which the older readers cannot check: the
  // bundle is made without a MAC and gets its SHA-1 one afterwards.
  constexpr int kTripleDES = NID_pbe_WithSHA1And3_Key_TripleDES_CBC;
  PKCS12Ptr bundle(PKCS12_create(Password.c_str(), FriendlyName.c_str(), Key, Cert, Chain,
                                 kTripleDES, kTripleDES, kIterations, -1, 0));
  if (!bundle) RaiseOpenSSLError("PKCS12_create");
  if (PKCS12_set_mac(bundle.get(), Password.c_str(), -1, nullptr, 0, kIterations, EVP_sha1()) != 1)
    RaiseOpenSSLError("PKCS12_set_mac");
  return bundle;
}

// Edwards-curve keys hold their secret as raw bytes (32 for Ed25519, 57 for Ed448).
bool SameRawPrivateKey(EVP_PKEY* A, EVP_PKEY* B) {
  unsigned char a[64], b[64];
  size_t lengthA = sizeof a, lengthB = sizeof b;
  const bool same = EVP_PKEY_get_raw_private_key(A, a, &lengthA) == 1 &&
                    EVP_PKEY_get_raw_private_key(B, b, &lengthB) == 1 && lengthA == lengthB &&
                    CRYPTO_memcmp(a, b, lengthA) == 0;
  OPENSSL_cleanse(a, sizeof a);
  OPENSSL_cleanse(b, sizeof b);
  return same;
}

// Whether A and B are the same private key, secret part included: the public parts alone
// would not notice a damaged private key.
bool SamePrivateKey(EVP_PKEY* A, EVP_PKEY* B) {
  if (A == nullptr || B == nullptr || EVP_PKEY_eq(A, B) != 1) return false;
  const int id = EVP_PKEY_get_base_id(A);
  const char* secret = nullptr;
  if (id == EVP_PKEY_EC) secret = OSSL_PKEY_PARAM_PRIV_KEY;
  if (id == EVP_PKEY_RSA || id == EVP_PKEY_RSA_PSS) secret = OSSL_PKEY_PARAM_RSA_D;
  if (id == EVP_PKEY_ED25519 || id == EVP_PKEY_ED448) return SameRawPrivateKey(A, B);
  if (secret == nullptr) return true;  // no other kind of key is made here
  BIGNUM* a = nullptr;
  BIGNUM* b = nullptr;
  const bool same = EVP_PKEY_get_bn_param(A, secret, &a) == 1 &&
                    EVP_PKEY_get_bn_param(B, secret, &b) == 1 && BN_cmp(a, b) == 0;
  BN_clear_free(a);
  BN_clear_free(b);
  return same;
}

// Raises unless Bytes, opened with Password, hold exactly Key, Cert and Chain (in order).
void CheckBundleReadsBack(const std::string& Bytes, const std::string& Password, EVP_PKEY* Key,
                          X509* Cert, STACK_OF(X509) * Chain, const std::string& Target) {
  const std::string failed = "The PKCS#12 bundle \"" + Target + "\" did not read back as written";
  if (Bytes.size() > static_cast<size_t>(INT_MAX)) throw Exception(failed + ".");
  BIOPtr stream(BIO_new_mem_buf(Bytes.data(), static_cast<int>(Bytes.size())));
  if (!stream) RaiseOpenSSLError("BIO_new_mem_buf");
  PKCS12Ptr bundle(d2i_PKCS12_bio(stream.get(), nullptr));
  EVP_PKEY* rawKey = nullptr;
  X509* rawCert = nullptr;
  STACK_OF(X509)* rawChain = nullptr;
  const bool parsed =
      bundle && PKCS12_parse(bundle.get(), Password.c_str(), &rawKey, &rawCert, &rawChain) == 1;
  const EVP_PKEYPtr key(rawKey);
  const X509Ptr cert(rawCert);
  const X509StackPtr chain(rawChain);
  if (!parsed) RaiseOpenSSLError(failed);
  ERR_clear_error();  // PKCS12_parse may leave notes behind on success
  const auto count = [](STACK_OF(X509) * Stack) { return Stack ? sk_X509_num(Stack) : 0; };
  std::string difference;
  if (!cert || X509_cmp(cert.get(), Cert) != 0)
    difference = "another certificate";
  else if (!SamePrivateKey(key.get(), Key))
    difference = "another private key";
  else if (count(chain.get()) != count(Chain))
    difference = "another number of CA certificates";
  for (int i = 0; difference.empty() && i < count(Chain); ++i)
    if (X509_cmp(sk_X509_value(chain.get(), i), sk_X509_value(Chain, i)) != 0)
      difference = "another CA certificate";
  if (!difference.empty()) throw Exception(failed + ": it holds " + difference + ".");
}

}  // namespace

std::string BioToString(BIO* Bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(Bio, &data);
  if (length <= 0 || data == nullptr) return {};
  return std::string(data, static_cast<size_t>(length));
}

void TCertBuilder::GenerateKey(const TKeyGenObserver& Observer) {
  StartWithEmptyErrorQueue();
  // Whatever happens next, the old key pair is gone; the certificate stays, holding its key.
  AttachCertKey();
  FKey.reset();
  FPublicKeyOnly = false;
  FRequest.reset();
  switch (KeyType) {
    case ktRSA: FKey = GenerateRSAKey(Observer); break;
    case ktEdwards: FKey = GenerateEdwardsKey(); break;
    default: FKey = GenerateECKey(); break;
  }
}

namespace {

// What libcrypto's generation callback needs to reach the observer and to tell afterwards
// whether a failed generation was stopped on purpose.
struct TKeyGenProgress {
  const TCertBuilder::TKeyGenObserver* Observer;
  bool Stopped = false;
};

int KeyGenCallback(EVP_PKEY_CTX* Context) {
  auto* progress = static_cast<TKeyGenProgress*>(EVP_PKEY_CTX_get_app_data(Context));
  if ((*progress->Observer)()) return 1;
  progress->Stopped = true;
  return 0;
}

}  // namespace

EVP_PKEYPtr TCertBuilder::GenerateRSAKey(const TKeyGenObserver& Observer) const {
  EVP_PKEY_CTXPtr ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr));
  if (!ctx) RaiseOpenSSLError("EVP_PKEY_CTX_new_id(RSA)");
  if (EVP_PKEY_keygen_init(ctx.get()) != 1) RaiseOpenSSLError("RSA keygen_init");
  if (EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), RSABits) <= 0)
    RaiseOpenSSLError("RSA set_keygen_bits");
  TKeyGenProgress progress{&Observer};
  if (Observer) {
    EVP_PKEY_CTX_set_app_data(ctx.get(), &progress);
    EVP_PKEY_CTX_set_cb(ctx.get(), KeyGenCallback);
  }
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_keygen(ctx.get(), &key) != 1) {
    if (progress.Stopped) {
      ERR_clear_error();
      throw Exception("Key generation cancelled.");
    }
    RaiseOpenSSLError("RSA keygen");
  }
  return EVP_PKEYPtr(key);
}

EVP_PKEYPtr TCertBuilder::GenerateECKey() const {
  std::string group = GroupNameFor(ECCurve);
  EVP_PKEY_CTXPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!ctx) RaiseOpenSSLError("EVP_PKEY_CTX_new_from_name(EC)");
  if (EVP_PKEY_keygen_init(ctx.get()) != 1) RaiseOpenSSLError("EC keygen_init");
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group.data(), 0),
      OSSL_PARAM_construct_end(),
  };
  if (EVP_PKEY_CTX_set_params(ctx.get(), params) != 1) RaiseOpenSSLError("EC set_params(group)");
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_generate(ctx.get(), &key) != 1) RaiseOpenSSLError("EC keygen");
  return EVP_PKEYPtr(key);
}

// Made at once, like an EC key: there is nothing to search for.
EVP_PKEYPtr TCertBuilder::GenerateEdwardsKey() const {
  const char* algorithm = EdAlgorithm == kEd25519 ? "ED25519"
                          : EdAlgorithm == kEd448 ? "ED448"
                                                  : nullptr;
  if (algorithm == nullptr)
    throw Exception("Unknown Edwards-curve algorithm \"" + EdAlgorithm + "\": " + kEd25519 +
                    " or " + kEd448 + ".");
  EVP_PKEY_CTXPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, algorithm, nullptr));
  if (!ctx) RaiseOpenSSLError(std::string("EVP_PKEY_CTX_new_from_name(") + algorithm + ")");
  if (EVP_PKEY_keygen_init(ctx.get()) != 1) RaiseOpenSSLError("EdDSA keygen_init");
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_generate(ctx.get(), &key) != 1) RaiseOpenSSLError("EdDSA keygen");
  return EVP_PKEYPtr(key);
}

// ---- Certificate body ----------------------------------------------------------------

void TCertBuilder::AddSubjectName(X509_NAME* name) const {
  struct Entry {
    const char* field;
    const std::string TSubjectDN::*value;
  };
  static constexpr Entry entries[] = {
      {"C", &TSubjectDN::C},
      {"ST", &TSubjectDN::ST},
      {"L", &TSubjectDN::L},
      {"O", &TSubjectDN::O},
      {"OU", &TSubjectDN::OU},
      {"CN", &TSubjectDN::CN},
      {"emailAddress", &TSubjectDN::Email},
  };
  for (const Entry& entry : entries) {
    const std::string& value = Subject.*entry.value;
    if (value.empty()) continue;
    // libcrypto refuses what does not fit the attribute (a three-letter country, a common
    // name over 64 characters, an e-mail address outside ASCII). Leaving the entry out would
    // issue a certificate for someone else than the user named.
    if (X509_NAME_add_entry_by_txt(name, entry.field, MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.data()),
                                   static_cast<int>(value.size()), -1, 0) != 1)
      RaiseOpenSSLError(std::string("Subject field ") + entry.field + " = \"" + value + "\"");
  }
}

void TCertBuilder::SetRandomSerial(X509* Cert) const {
  unsigned char bytes[20];
  if (RAND_bytes(bytes, sizeof bytes) != 1) RaiseOpenSSLError("RAND_bytes serial");
  bytes[0] &= 0x7F;  // a serial number must not be negative
  BIGNUMPtr number(BN_bin2bn(bytes, sizeof bytes, nullptr));
  if (!number) RaiseOpenSSLError("BN_bin2bn");
  if (BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(Cert)) == nullptr)
    RaiseOpenSSLError("BN_to_ASN1_INTEGER");
}

void TCertBuilder::SetValidity(X509* Cert) const {
  static_assert(sizeof(long) >= sizeof(std::int64_t), "X509_gmtime_adj needs 64-bit seconds");
  // In 64 bits, so that a century of days (3,153,600,000 seconds) does not wrap.
  const std::int64_t seconds = std::int64_t{ValidDays} * 86400;
  if (X509_gmtime_adj(X509_getm_notBefore(Cert), 0) == nullptr)
    RaiseOpenSSLError("X509_gmtime_adj (notBefore)");
  // Past the year 9999 no certificate time exists; signing what libcrypto leaves behind
  // would give a certificate that no reader accepts.
  if (X509_gmtime_adj(X509_getm_notAfter(Cert), static_cast<long>(seconds)) == nullptr)
    RaiseOpenSSLError("X509_gmtime_adj (notAfter)");
}

// A signature is as strong as the weaker of key and digest, so a bigger key gets a longer
// digest. The signing key decides, not the key being certified: a P-256 CA signing a P-521
// key signs with SHA-256, and an Edwards-curve CA signs with no digest at all.
const EVP_MD* SignatureDigestBy(TKeyType Type, std::int32_t RSABits, const std::string& ECCurve) {
  switch (Type) {
    case ktEdwards: return nullptr;
    case ktECC:
      if (ECCurve == "P-521") return EVP_sha512();
      if (ECCurve == "P-384") return EVP_sha384();
      return EVP_sha256();
    case ktRSA: break;
  }
  if (RSABits >= 4096) return EVP_sha512();
  if (RSABits >= 3072) return EVP_sha384();
  return EVP_sha256();
}

std::string EdwardsAlgorithmOf(EVP_PKEY* Key) {
  if (Key == nullptr) return {};
  const int id = EVP_PKEY_get_base_id(Key);
  return id == EVP_PKEY_ED25519 ? kEd25519 : id == EVP_PKEY_ED448 ? kEd448 : "";
}

const EVP_MD* SignatureDigestFor(EVP_PKEY* SigningKey) {
  if (!EdwardsAlgorithmOf(SigningKey).empty()) return SignatureDigestBy(ktEdwards, 0, {});
  const int id = EVP_PKEY_get_base_id(SigningKey);
  if (id == EVP_PKEY_EC) {
    char group[80] = {};
    TolerateErrors tolerate;  // a curve given by its parameters has no name: SHA-256
    if (EVP_PKEY_get_utf8_string_param(SigningKey, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                       nullptr) != 1)
      return SignatureDigestBy(ktECC, 0, {});
    const std::string_view name(group);
    return SignatureDigestBy(ktECC, 0,
                             name == "secp521r1"   ? "P-521"
                             : name == "secp384r1" ? "P-384"
                                                   : "");
  }
  return SignatureDigestBy(ktRSA, EVP_PKEY_get_bits(SigningKey), {});
}

// ---- Extensions --------------------------------------------------------------------

void TCertBuilder::AddExtension(X509* Cert, X509* Issuer, int NID, const std::string& Value) const {
  X509V3_CTX context{};
  X509V3_set_ctx(&context, Issuer, Cert, nullptr, nullptr, 0);
  X509_EXTENSIONPtr extension(X509V3_EXT_conf_nid(nullptr, &context, NID, Value.c_str()));
  if (!extension)
    RaiseOpenSSLError("X509V3_EXT_conf_nid nid=" + std::to_string(NID) + " val=" + Value);
  if (X509_add_ext(Cert, extension.get(), -1) != 1) RaiseOpenSSLError("X509_add_ext");
}

std::string TCertBuilder::KeyUsageText() const {
  // Bit 1 is called contentCommitment today, but libcrypto 3.0 only knows its older name
  // nonRepudiation and would refuse the whole extension; both name the same bit.
  static constexpr const char* names[] = {
      "digitalSignature", "nonRepudiation", "keyEncipherment", "dataEncipherment", "keyAgreement",
      "keyCertSign",      "cRLSign",        "encipherOnly",    "decipherOnly",
  };
  std::vector<std::string> present;
  for (int bit = 0; bit <= kuDecipherOnly; ++bit)
    if (KeyUsage.contains(static_cast<TKeyUsage>(bit))) present.emplace_back(names[bit]);
  return Joined(present);
}

std::string TCertBuilder::ExtKeyUsageText() const {
  static constexpr const char* names[] = {
      "serverAuth", "clientAuth", "codeSigning", "emailProtection", "timeStamping", "OCSPSigning",
  };
  std::vector<std::string> present;
  for (int bit = 0; bit <= ekuOCSPSigning; ++bit)
    if (ExtKeyUsage.contains(static_cast<TExtKeyUsage>(bit))) present.emplace_back(names[bit]);
  return Joined(present);
}

std::string TCertBuilder::SubjectAltNameText() const {
  std::vector<std::string> entries;
  for (const std::string& name : SANDNSNames) entries.push_back("DNS:" + name);
  for (const std::string& ip : SANIPs) entries.push_back("IP:" + ip);
  for (const std::string& email : SANEmails) entries.push_back("email:" + email);
  return Joined(entries);
}

void TCertBuilder::AddExtensions(X509* Cert, X509* Issuer) const {
  AddExtension(Cert, Issuer ? Issuer : Cert, NID_subject_key_identifier, "hash");
  // The CA is found by its key identifier. A CA certificate made without one (older tools,
  // hand-written configurations) is named by its issuer and serial number instead: asking
  // libcrypto for a key identifier it does not have fails the whole build.
  if (Issuer)
    AddExtension(Cert, Issuer, NID_authority_key_identifier,
                 X509_get0_subject_key_id(Issuer) != nullptr ? "keyid" : "issuer:always");
  AddExtension(Cert, Issuer, NID_basic_constraints, BasicConstraintsText(IsCA, PathLenConstraint));
  if (const std::string usage = KeyUsageText(); !usage.empty())
    AddExtension(Cert, Issuer, NID_key_usage, "critical," + usage);
  // A time-stamping authority's certificate must mark that purpose critical (RFC 3161).
  if (const std::string usage = ExtKeyUsageText(); !usage.empty())
    AddExtension(Cert, Issuer, NID_ext_key_usage,
                 ExtKeyUsage == TExtKeyUsageSet{ekuTimeStamping} ? "critical," + usage : usage);
  // With no subject, the alternative names are the certificate's only names: RFC 5280 then
  // wants them critical, and without any the certificate would name nobody.
  const bool noSubject = X509_NAME_entry_count(X509_get_subject_name(Cert)) == 0;
  const std::string names = SubjectAltNameText();
  if (names.empty() && noSubject)
    throw Exception("A certificate needs a subject or a subject alternative name.");
  if (!names.empty())
    AddExtension(Cert, Issuer, NID_subject_alt_name, noSubject ? "critical," + names : names);
  // Constraints bind what a CA signs; on any other certificate they mean nothing.
  if (IsCA && (!PermittedNames.empty() || !ExcludedNames.empty())) {
    const X509_EXTENSIONPtr constraints =
        NewNameConstraintsExtension(PermittedNames, ExcludedNames);
    if (X509_add_ext(Cert, constraints.get(), -1) != 1) RaiseOpenSSLError("X509_add_ext");
  }
  if (!CRLURL.empty()) {
    const X509_EXTENSIONPtr point = NewCRLDistributionPointExtension(CRLURL);
    if (X509_add_ext(Cert, point.get(), -1) != 1) RaiseOpenSSLError("X509_add_ext (CRL URL)");
  }
}

// ---- Checks before any work ---------------------------------------------------------

// The lists reach libcrypto in its extension syntax, where "," starts another name, a line
// end cuts the list off and an e-mail of "copy" or "move" takes the subject's address. A
// value holding any of that is not a name the user can have meant.
void TCertBuilder::CheckAlternativeNames() const {
  auto check = [](const std::string& value, bool isEmail) {
    const bool syntax = value.find_first_of(std::string(",\r\n\0", 4)) != std::string::npos;
    const bool special = isEmail && (value == "copy" || value == "move");
    if (syntax || special) throw Exception("Invalid subject alternative name \"" + value + "\".");
  };
  for (const std::string& name : SANDNSNames) check(name, false);
  for (const std::string& ip : SANIPs) check(ip, false);
  for (const std::string& email : SANEmails) check(email, true);
}

// libcrypto reads a password back through a buffer of 1024 bytes with its terminating NUL,
// and takes every password as a C string: a longer one, or one holding a NUL, would give a
// file nobody can open again, or one under a password other than the one typed.
void CheckPassword(const std::string& Password) {
  if (Password.find('\0') != std::string::npos)
    throw Exception("A password cannot contain a NUL character.");
  if (Password.size() > kMaxPasswordBytes)
    throw Exception("Password too long: at most " + std::to_string(kMaxPasswordBytes) + " bytes.");
}

// ---- Issuance ----------------------------------------------------------------------

void TCertBuilder::RequireKey() const {
  if (!FKey) throw Exception("Call GenerateKey first.");
}

X509Ptr TCertBuilder::NewCertificateBody() const {
  X509Ptr cert(X509_new());
  if (!cert) RaiseOpenSSLError("X509_new");
  if (X509_set_version(cert.get(), X509_VERSION_3) != 1) RaiseOpenSSLError("X509_set_version");
  SetRandomSerial(cert.get());
  SetValidity(cert.get());
  AddSubjectName(X509_get_subject_name(cert.get()));
  return cert;
}

void TCertBuilder::CompleteAndSign(X509* Cert, X509_NAME* IssuerName, X509* IssuerCert,
                                   EVP_PKEY* SigningKey) const {
  if (X509_set_issuer_name(Cert, IssuerName) != 1) RaiseOpenSSLError("X509_set_issuer_name");
  SetPublicKey(Cert);
  AddExtensions(Cert, IssuerCert);
  // X509_sign returns the signature's length, 0 or a negative value on failure.
  if (X509_sign(Cert, SigningKey, SignatureDigestFor(SigningKey)) <= 0)
    RaiseOpenSSLError("X509_sign");
}

void TCertBuilder::SetPublicKey(X509* Cert) const {
  FCertKeyAttached =
      !SetNamedCurvePublicKey(Cert, FKey.get()) && !SetEdwardsPublicKey(Cert, FKey.get());
  if (!FCertKeyAttached) return;
  if (X509_set_pubkey(Cert, FKey.get()) != 1) RaiseOpenSSLError("X509_set_pubkey");
}

// A certificate whose key was written from the encoded point or the raw key carries the key's
// bytes but no decoded key object, which X509_get0_pubkey and everything built on it (key
// matching, bundle making) want. It gets one the first time anyone looks: our own key, as
// X509_set_pubkey leaves it. The certificate's encoding stays byte for byte the same, so does its
// signature.
void TCertBuilder::AttachCertKey() const noexcept {
  if (!FCert || FCertKeyAttached || !FKey) return;
  TolerateErrors tolerate;
  FCertKeyAttached = X509_set_pubkey(FCert.get(), FKey.get()) == 1;
}

X509* TCertBuilder::Cert() const noexcept {
  AttachCertKey();
  return FCert.get();
}

void TCertBuilder::BuildSelfSigned() {
  StartWithEmptyErrorQueue();
  RequireKey();
  RequirePrivateKey();
  FCert.reset();
  CheckAlternativeNames();
  X509Ptr cert = NewCertificateBody();
  CompleteAndSign(cert.get(), X509_get_subject_name(cert.get()), nullptr, FKey.get());
  FCert = std::move(cert);
}

TCASigner::TCASigner(const std::string& CACertPEM, const std::string& CAKeyPEM,
                     const std::string& CAKeyPassword) {
  StartWithEmptyErrorQueue();
  CheckPassword(CAKeyPassword);
  FCert = ReadCACertificate(CACertPEM);
  FKey = ReadCAKey(CAKeyPEM, CAKeyPassword);
  // A key of another pair would sign a certificate that no verifier accepts under this CA.
  if (!KeyBelongsTo(FCert.get(), FKey.get()))
    throw Exception("The CA private key does not belong to the CA certificate.");
}

void TCertBuilder::BuildSignedBy(const std::string& CACertPEM, const std::string& CAKeyPEM,
                                 const std::string& CAKeyPassword) {
  StartWithEmptyErrorQueue();
  RequireKey();
  FCert.reset();
  CheckAlternativeNames();
  BuildSignedBy(TCASigner(CACertPEM, CAKeyPEM, CAKeyPassword));
}

void TCertBuilder::BuildSignedBy(const TCASigner& CA) {
  StartWithEmptyErrorQueue();
  RequireKey();
  FCert.reset();
  CheckAlternativeNames();
  X509Ptr cert = NewCertificateBody();
  CompleteAndSign(cert.get(), X509_get_subject_name(CA.Cert()), CA.Cert(), CA.Key());
  FCert = std::move(cert);
}

// ---- Requests ----------------------------------------------------------------------

void TCertBuilder::RequirePrivateKey() const {
  if (FPublicKeyOnly)
    throw Exception("There is no private key: the key is the public key of a certificate request.");
}

void TCertBuilder::UseRequestPublicKey(EVP_PKEY* PublicKey) {
  StartWithEmptyErrorQueue();
  if (PublicKey == nullptr)
    throw Exception("The certificate request holds no readable public key.");
  if (EVP_PKEY_up_ref(PublicKey) != 1) RaiseOpenSSLError("EVP_PKEY_up_ref");
  AttachCertKey();
  FKey.reset(PublicKey);
  FPublicKeyOnly = true;
  FRequest.reset();
}

void TCertBuilder::UseExistingKey(const std::string& Bytes, const std::string& Password) {
  StartWithEmptyErrorQueue();
  CheckPassword(Password);
  AttachCertKey();
  FKey.reset();
  FPublicKeyOnly = false;
  FRequest.reset();
  if (Bytes.size() > static_cast<std::size_t>(INT_MAX))
    throw Exception("No private key could be read: the file is too large.");
  void* passwordArg = const_cast<char*>(Password.c_str());
  const int length = static_cast<int>(Bytes.size());
  EVP_PKEYPtr key;
  {
    TolerateErrors tolerate;  // each form is tried in turn; only the last failure is told
    if (BIOPtr pem{BIO_new_mem_buf(Bytes.data(), length)})
      key.reset(PEM_read_bio_PrivateKey(pem.get(), nullptr, PassphraseCallback, passwordArg));
    // DER in any of its forms (PKCS#8, encrypted or not, and the traditional ones) through
    // libcrypto's decoders, which tell the forms apart by their structure.
    if (!key) {
      EVP_PKEY* decoded = nullptr;
      OSSL_DECODER_CTXPtr decoder(OSSL_DECODER_CTX_new_for_pkey(
          &decoded, "DER", nullptr, nullptr, OSSL_KEYMGMT_SELECT_KEYPAIR, nullptr, nullptr));
      const auto* data = reinterpret_cast<const unsigned char*>(Bytes.data());
      std::size_t left = Bytes.size();
      if (decoder &&
          OSSL_DECODER_CTX_set_passphrase(decoder.get(),
                                          reinterpret_cast<const unsigned char*>(Password.data()),
                                          Password.size()) == 1 &&
          OSSL_DECODER_from_data(decoder.get(), &data, &left) == 1)
        key.reset(decoded);
      else
        EVP_PKEY_free(decoded);
    }
  }
  if (!key) {
    ERR_clear_error();
    throw Exception(
        "No private key could be read: the file holds none, or the pass phrase is wrong.");
  }
  FKey = std::move(key);
}

// The same extensions a certificate of these settings gets, less the key identifiers: those
// belong to the issuer's certificate, which makes them afresh.
X509_EXTENSIONStackPtr TCertBuilder::RequestedExtensions() const {
  X509_EXTENSIONStackPtr extensions(sk_X509_EXTENSION_new_null());
  if (!extensions) RaiseOpenSSLError("sk_X509_EXTENSION_new_null");
  const auto add = [&](int NID, const std::string& Value) {
    X509V3_CTX context{};
    X509V3_set_ctx(&context, nullptr, nullptr, nullptr, nullptr, 0);
    X509_EXTENSIONPtr extension(X509V3_EXT_conf_nid(nullptr, &context, NID, Value.c_str()));
    if (!extension)
      RaiseOpenSSLError("X509V3_EXT_conf_nid nid=" + std::to_string(NID) + " val=" + Value);
    if (sk_X509_EXTENSION_push(extensions.get(), extension.get()) <= 0)
      RaiseOpenSSLError("sk_X509_EXTENSION_push");
    static_cast<void>(extension.release());  // the stack owns it now
  };
  add(NID_basic_constraints, BasicConstraintsText(IsCA, PathLenConstraint));
  if (const std::string usage = KeyUsageText(); !usage.empty())
    add(NID_key_usage, "critical," + usage);
  if (const std::string usage = ExtKeyUsageText(); !usage.empty())
    add(NID_ext_key_usage,
        ExtKeyUsage == TExtKeyUsageSet{ekuTimeStamping} ? "critical," + usage : usage);
  const std::string names = SubjectAltNameText();
  const bool noSubject = Subject.CN.empty() && Subject.O.empty() && Subject.OU.empty() &&
                         Subject.C.empty() && Subject.ST.empty() && Subject.L.empty() &&
                         Subject.Email.empty();
  if (names.empty() && noSubject)
    throw Exception("A certificate request needs a subject or a subject alternative name.");
  if (!names.empty()) add(NID_subject_alt_name, noSubject ? "critical," + names : names);
  return extensions;
}

void TCertBuilder::BuildRequest() {
  StartWithEmptyErrorQueue();
  RequireKey();
  RequirePrivateKey();
  FRequest.reset();
  CheckAlternativeNames();
  X509_REQPtr request(X509_REQ_new());
  if (!request) RaiseOpenSSLError("X509_REQ_new");
  if (X509_REQ_set_version(request.get(), X509_REQ_VERSION_1) != 1)
    RaiseOpenSSLError("X509_REQ_set_version");
  AddSubjectName(X509_REQ_get_subject_name(request.get()));
  if (X509_REQ_set_pubkey(request.get(), FKey.get()) != 1) RaiseOpenSSLError("X509_REQ_set_pubkey");
  const X509_EXTENSIONStackPtr extensions = RequestedExtensions();
  if (X509_REQ_add_extensions(request.get(), extensions.get()) != 1)
    RaiseOpenSSLError("X509_REQ_add_extensions");
  if (X509_REQ_sign(request.get(), FKey.get(), SignatureDigestFor(FKey.get())) <= 0)
    RaiseOpenSSLError("X509_REQ_sign");
  FRequest = std::move(request);
}

std::string TCertBuilder::RequestToPEM() const {
  StartWithEmptyErrorQueue();
  if (!FRequest) return {};
  BIOPtr bio(BIO_new(BIO_s_mem()));
  if (!bio) RaiseOpenSSLError("BIO_new (RequestToPEM)");
  if (PEM_write_bio_X509_REQ(bio.get(), FRequest.get()) != 1)
    RaiseOpenSSLError("PEM_write_bio_X509_REQ");
  return BioToString(bio.get());
}

void TCertBuilder::StageRequestPEM(TAtomicFileSet& Files, const std::string& FileName) const {
  StartWithEmptyErrorQueue();
  if (!FRequest) throw Exception("No certificate request.");
  Files.Add(FileName, WithCRLFLineEnds(RequestToPEM()), TFileAccess::Usual);
}

// ---- Export ------------------------------------------------------------------------

std::string TCertBuilder::CertToPEM() const {
  StartWithEmptyErrorQueue();
  if (!FCert) return {};
  BIOPtr bio(BIO_new(BIO_s_mem()));
  if (!bio) RaiseOpenSSLError("BIO_new (CertToPEM)");
  if (PEM_write_bio_X509(bio.get(), FCert.get()) != 1) RaiseOpenSSLError("PEM_write_bio_X509");
  return BioToString(bio.get());
}

std::string TCertBuilder::KeyToPEM(const std::string& Password) const {
  StartWithEmptyErrorQueue();
  if (!FKey) return {};
  RequirePrivateKey();
  CheckPassword(Password);
  BIOPtr bio(BIO_new(BIO_s_mem()));
  if (!bio) RaiseOpenSSLError("BIO_new (KeyToPEM)");
  if (!Password.empty()) {
    if (PEM_write_bio_PKCS8PrivateKey(bio.get(), FKey.get(), EVP_aes_256_cbc(), Password.data(),
                                      static_cast<int>(Password.size()), nullptr, nullptr) != 1)
      RaiseOpenSSLError("PEM_write_bio_PKCS8PrivateKey");
  } else if (PEM_write_bio_PrivateKey(bio.get(), FKey.get(), nullptr, nullptr, 0, nullptr,
                                      nullptr) != 1) {
    RaiseOpenSSLError("PEM_write_bio_PrivateKey");
  }
  return BioToString(bio.get());
}

void TCertBuilder::SaveCertToPEM(const std::string& FileName) const {
  TAtomicFileSet files;
  StageCertPEM(files, FileName);
  files.Commit();
}

void TCertBuilder::SaveKeyToPEM(const std::string& FileName, const std::string& Password) const {
  TAtomicFileSet files;
  StageKeyPEM(files, FileName, Password);
  files.Commit();
}

void TCertBuilder::SaveToPKCS12(const std::string& FileName, const std::string& Password,
                                const std::string& FriendlyName, const std::string& CACertPEM,
                                TPKCS12Format Format) const {
  TAtomicFileSet files;
  StagePKCS12(files, FileName, Password, FriendlyName, CACertPEM, Format);
  files.Commit();
}

void TCertBuilder::StageCertPEM(TAtomicFileSet& Files, const std::string& FileName) const {
  StartWithEmptyErrorQueue();
  const std::string text = CertToPEM();
  Files.Add(FileName, WithCRLFLineEnds(text), TFileAccess::Usual);
}

void TCertBuilder::StageKeyPEM(TAtomicFileSet& Files, const std::string& FileName,
                               const std::string& Password) const {
  StartWithEmptyErrorQueue();
  // The key's text, plain when there is no password, is wiped once it is on disk.
  const TSecretText text(KeyToPEM(Password));
  const TSecretText lines(WithCRLFLineEnds(text.Text()));
  Files.Add(FileName, lines.Text(), TFileAccess::OwnerOnly);
}

void TCertBuilder::StagePKCS12(TAtomicFileSet& Files, const std::string& FileName,
                               const std::string& Password, const std::string& FriendlyName,
                               const std::string& CACertPEM, TPKCS12Format Format) const {
  StartWithEmptyErrorQueue();
  if (!FKey) throw Exception("No private key.");
  RequirePrivateKey();
  if (!FCert) throw Exception("No certificate.");
  CheckPassword(Password);
  const X509StackPtr caStack = OptionalCAStack(CACertPEM);
  PKCS12Ptr bundle = NewPKCS12(Password, FriendlyName, FKey.get(), Cert(), caStack.get(), Format);

  std::error_code error;
  TAtomicFile* file = Files.Create(FileName, TFileAccess::OwnerOnly, error);
  if (!file) {
    // Reported the way libcrypto reports a file it cannot open: the system's reason.
    const std::string target = TAtomicFile(FileName, TFileAccess::OwnerOnly).Target().string();
    ERR_raise_data(ERR_LIB_SYS, error.value(), "calling open(%s)", target.c_str());
    RaiseOpenSSLError("BIO_new_file (PFX)");
  }
  BIOPtr der(BIO_new(BIO_s_mem()));
  if (!der || i2d_PKCS12_bio(der.get(), bundle.get()) != 1) RaiseOpenSSLError("i2d_PKCS12_bio");
  file->Write(BioToString(der.get()));
  file->Flush();
  // A bundle is often the one copy of a key that leaves this machine: what lies on the disk
  // must open with its password and give back exactly what went in.
  CheckBundleReadsBack(file->ReadBack(), Password, FKey.get(), Cert(), caStack.get(),
                       file->Target().string());
}

}  // namespace velmora
