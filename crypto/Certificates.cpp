#include "crypto/Certificates.h"

#include "crypto/CertificateView.h"

#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>

#include <array>
#include <climits>
#include <cstring>
#include <string_view>

namespace velmora {

namespace {

// --- Base64 -----------------------------------------------------------------------------

bool IsBase64Digit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

std::string EncodeBase64(const unsigned char* Data, size_t Length) {
  if (Length > static_cast<size_t>(INT_MAX / 4 * 3)) return {};
  std::string text(4 * ((Length + 2) / 3) + 1, '\0');  // EVP_EncodeBlock adds a NUL
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), Data,
                                      static_cast<int>(Length));
  text.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return text;
}

// Decodes the Base64 digits of Text, skipping everything else (line breaks, blanks, "="),
// so wrapped, unwrapped and unpadded text all decode alike.
std::vector<unsigned char> DecodeBase64(const std::string& Text) {
  std::string digits;
  digits.reserve(Text.size());
  for (char c : Text)
    if (IsBase64Digit(c)) digits += c;
  // A lone digit after the last full group holds only 6 bits: no byte comes of it.
  if (digits.size() % 4 == 1) digits.pop_back();
  const size_t partial = digits.size() % 4;  // 0, 2 or 3 digits left over
  const size_t length = digits.size() / 4 * 3 + (partial == 0 ? 0 : partial - 1);
  // EVP_DecodeBlock wants whole groups: complete the last one with zero bits ("A") and
  // cut the bytes they make off again.
  if (partial != 0) digits.append(4 - partial, 'A');
  if (digits.empty() || digits.size() > static_cast<size_t>(INT_MAX)) return {};
  std::vector<unsigned char> bytes(digits.size() / 4 * 3);
  if (EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(digits.data()),
                      static_cast<int>(digits.size())) < 0)
    return {};
  bytes.resize(length);
  return bytes;
}

// --- Reading from libcrypto streams ----------------------------------------------------

// Opens a file for one of the loaders, which report a failure with libcrypto's reason.
BIOPtr OpenFileOrRaise(const std::string& FileName, const char* Mode) {
  BIOPtr file(BIO_new_file(FileName.c_str(), Mode));
  if (!file) RaiseOpenSSLError("BIO_new_file: " + FileName);
  return file;
}

// A read-only stream over all of Bytes, NULs included, as a file stream would give them.
// Bytes must outlive the stream.
BIOPtr OpenBytesOrRaise(const std::string& Bytes) {
  if (Bytes.size() > static_cast<size_t>(INT_MAX))
    throw Exception("BIO_new_mem_buf: " + std::to_string(Bytes.size()) + " bytes are too many");
  BIOPtr stream(BIO_new_mem_buf(Bytes.data(), static_cast<int>(Bytes.size())));
  if (!stream) RaiseOpenSSLError("BIO_new_mem_buf");
  return stream;
}

// Reads the first private key, then the first certificate, wherever each stands in the
// file. Either may be missing; the failed reads leave nothing in the error queue.
struct TKeyAndCert {
  EVP_PKEYPtr Key;
  X509Ptr Cert;
};

TKeyAndCert ReadKeyAndCertificate(BIO* File, const std::string& Password) {
  TolerateErrors tolerate;
  TKeyAndCert found;
  found.Key = ReadPEMPrivateKey(File, Password.c_str());
  BIO_reset(File);
  found.Cert = ReadPEMCertificate(File);
  return found;
}

// The certificate's public key as a reference of our own, or null when libcrypto cannot
// make sense of it.
EVP_PKEYPtr PublicKeyOf(X509* Cert) {
  TolerateErrors tolerate;
  return EVP_PKEYPtr(X509_get_pubkey(Cert));
}

bool KeyMatches(X509* Cert, EVP_PKEY* Key) {
  TolerateErrors tolerate;
  return X509_check_private_key(Cert, Key) == 1;
}

// The constructor takes ownership of raw handles. The allocation of the object happens
// before the handles are released into it, so nothing leaks if it fails.
std::unique_ptr<TOpenSSLCert> Adopt(EVP_PKEYPtr Key, bool HasPrivate, X509Ptr Cert) {
  // Not make_unique: its arguments, the released handles, would be evaluated before the
  // allocation that may fail.
  return std::unique_ptr<TOpenSSLCert>(  // NOLINT(modernize-make-unique)
      new TOpenSSLCert(Key.release(), HasPrivate, Cert.release()));
}

// The loaders proper, on a stream opened for them; a file and bytes in memory read alike.

std::unique_ptr<TOpenSSLCert> CertificateFrom(BIO* Stream) {
  X509Ptr cert = ReadPEMCertificate(Stream);
  if (!cert) RaiseOpenSSLError("PEM_read_bio_X509");
  EVP_PKEYPtr key = PublicKeyOf(cert.get());
  return Adopt(std::move(key), false, std::move(cert));
}

std::unique_ptr<TOpenSSLCert> PrivateKeyFrom(BIO* Stream, const std::string& Password) {
  EVP_PKEYPtr key = ReadPEMPrivateKey(Stream, Password.c_str());
  if (!key) RaiseOpenSSLError("PEM_read_bio_PrivateKey");
  return Adopt(std::move(key), true, nullptr);
}

std::unique_ptr<TOpenSSLCert> KeyAndCertificateFrom(BIO* Stream, const std::string& Password) {
  TKeyAndCert found = ReadKeyAndCertificate(Stream, Password);
  const bool hasPrivate = found.Key != nullptr;
  if (!found.Key && found.Cert) found.Key = PublicKeyOf(found.Cert.get());
  return Adopt(std::move(found.Key), hasPrivate, std::move(found.Cert));
}

// --- Bundles of older tools --------------------------------------------------------------

// Bundles made by older tools (Windows XP-era exports, `openssl pkcs12 -legacy`) protect their
// certificates with RC2-40, which only libcrypto's legacy provider has. Such bundles are read
// in a library context of its own that holds the legacy and the default provider: made once,
// the first time one comes along, and freed at exit. Everything else keeps to the default
// context as it is.
struct TLegacyLibrary {
  OSSL_LIB_CTX* Context = nullptr;
  OSSL_PROVIDER* Default = nullptr;
  OSSL_PROVIDER* Legacy = nullptr;

  TLegacyLibrary() {
    TolerateErrors tolerate;  // a missing module is told in the reader's own words
    Context = OSSL_LIB_CTX_new();
    if (Context == nullptr) return;
    Default = OSSL_PROVIDER_load(Context, "default");
    Legacy = OSSL_PROVIDER_load(Context, "legacy");
  }
  ~TLegacyLibrary() {
    if (Legacy != nullptr) OSSL_PROVIDER_unload(Legacy);
    if (Default != nullptr) OSSL_PROVIDER_unload(Default);
    OSSL_LIB_CTX_free(Context);
  }
  TLegacyLibrary(const TLegacyLibrary&) = delete;
  TLegacyLibrary& operator=(const TLegacyLibrary&) = delete;
};

// Null when the legacy provider is not installed.
OSSL_LIB_CTX* LegacyLibraryContext() {
  static const TLegacyLibrary library;  // made by the first caller, whichever thread
  return library.Default != nullptr && library.Legacy != nullptr ? library.Context : nullptr;
}

bool FailedForUnsupportedAlgorithm() {
  for (const unsigned long error : {ERR_peek_error(), ERR_peek_last_error()})
    if (ERR_GET_REASON(error) == ERR_R_UNSUPPORTED ||
        (ERR_GET_LIB(error) == ERR_LIB_EVP && ERR_GET_REASON(error) == EVP_R_UNSUPPORTED_ALGORITHM))
      return true;
  return false;
}

// PKCS12_parse, tried again with the legacy provider when the default context lacks one of
// the bundle's algorithms. The default context stays as it was, for this thread as for others.
int ParseBundle(PKCS12* Bundle, const std::string& Password, EVP_PKEY** Key, X509** Cert,
                STACK_OF(X509) * *Chain) {
  if (PKCS12_parse(Bundle, Password.c_str(), Key, Cert, Chain) == 1) return 1;
  if (!FailedForUnsupportedAlgorithm()) return 0;
  OSSL_LIB_CTX* legacy = LegacyLibraryContext();
  if (legacy == nullptr)
    RaiseOpenSSLError(
        "PKCS12_parse: the bundle is protected by an old algorithm (such as RC2) that needs "
        "OpenSSL's legacy provider, which is not installed");
  ERR_clear_error();
  OSSL_LIB_CTX* previous = OSSL_LIB_CTX_set0_default(legacy);
  const int parsed = PKCS12_parse(Bundle, Password.c_str(), Key, Cert, Chain);
  OSSL_LIB_CTX_set0_default(previous);
  return parsed;
}

std::unique_ptr<TOpenSSLCert> BundleFrom(BIO* Stream, const std::string& Password) {
  PKCS12Ptr bundle(d2i_PKCS12_bio(Stream, nullptr));
  if (!bundle) RaiseOpenSSLError("d2i_PKCS12_bio");
  EVP_PKEY* rawKey = nullptr;
  X509* rawCert = nullptr;
  STACK_OF(X509)* rawChain = nullptr;
  const int parsed = ParseBundle(bundle.get(), Password, &rawKey, &rawCert, &rawChain);
  EVP_PKEYPtr key(rawKey);
  X509Ptr cert(rawCert);
  X509StackPtr chain(rawChain);
  if (parsed != 1) RaiseOpenSSLError("PKCS12_parse");
  // libcrypto pairs the certificate with the bundle's key; in a bundle without a key it
  // hands every certificate over as chain, the bundle's own one first. That one is the
  // certificate the bundle carries, so it is kept rather than lost.
  if (!key && !cert && chain && sk_X509_num(chain.get()) > 0)
    cert.reset(sk_X509_shift(chain.get()));
  const bool hasPrivate = key != nullptr;
  return Adopt(std::move(key), hasPrivate, std::move(cert));
}

std::string LowerCaseASCII(std::string Text) {
  for (char& c : Text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return Text;
}

// The part of FileName from its last "." on, lower-cased; empty when there is no dot or a
// directory separator follows it.
std::string ExtensionOf(const std::string& FileName) {
  const size_t dot = FileName.rfind('.');
  if (dot == std::string::npos || FileName.find('/', dot) != std::string::npos) return {};
  return LowerCaseASCII(FileName.substr(dot));
}

}  // namespace

std::string SigAlgToString(TSigAlgorithm A) {
  switch (A) {
    case saES256: return "ES256";
    case saES384: return "ES384";
    case saES512: return "ES512";
    case saRS256: return "RS256";
    case saRS384: return "RS384";
    case saRS512: return "RS512";
    default: return "UNKNOWN";
  }
}

// --- TOpenSSLCert -----------------------------------------------------------------------

TOpenSSLCert::TOpenSSLCert(EVP_PKEY* APKey, bool AHasPrivate, X509* AX509)
    : FPKey(APKey), FX509(AX509), FHasPrivateKey(AHasPrivate) {
  UpdateKeyInfo();
}

TOpenSSLCert::~TOpenSSLCert() {
  FPKey.reset();
  FX509.reset();
}

void TOpenSSLCert::UpdateKeyInfo() {
  // Without a key there is nothing to describe; facts of an earlier key would be false.
  if (!FPKey) {
    FBits = 0;
    FKeyType = ctUnknown;
    FSigAlg = saUnknown;
    return;
  }
  FBits = EVP_PKEY_get_bits(FPKey.get());
  switch (EVP_PKEY_get_base_id(FPKey.get())) {
    case EVP_PKEY_RSA: FKeyType = ctRSA; break;
    case EVP_PKEY_EC: FKeyType = ctECC; break;
    default: FKeyType = ctUnknown; break;  // RSA-PSS and Edwards curves among them
  }
  FSigAlg = DetectSigAlg();
}

TSigAlgorithm TOpenSSLCert::DetectSigAlg() const {
  switch (FKeyType) {
    case ctECC: {
      const std::string curve = ReadCurveName();
      if (curve == "P-256") return saES256;
      if (curve == "P-384") return saES384;
      if (curve == "P-521") return saES512;
      return saUnknown;
    }
    case ctRSA:
      if (FBits >= 4096) return saRS512;
      if (FBits >= 3072) return saRS384;
      return saRS256;
    default: return saUnknown;
  }
}

std::string TOpenSSLCert::GetCurveName() const {
  StartWithEmptyErrorQueue();
  return ReadCurveName();
}

std::string TOpenSSLCert::ReadCurveName() const {
  if (FKeyType != ctECC || !FPKey) return {};
  std::array<char, 64> group{};
  size_t length = 0;  // not needed: the name ends at its NUL
  {
    // A curve given by explicit parameters has no name; that is not an error.
    TolerateErrors tolerate;
    if (EVP_PKEY_get_utf8_string_param(FPKey.get(), OSSL_PKEY_PARAM_GROUP_NAME, group.data(),
                                       group.size(), &length) != 1)
      return {};
  }
  std::string name(group.data(), strnlen(group.data(), group.size()));
  if (name == "secp384r1" || name == "P-384") return "P-384";
  if (name == "prime256v1" || name == "P-256") return "P-256";
  if (name == "secp521r1" || name == "P-521") return "P-521";
  return name;
}

const EVP_MD* TOpenSSLCert::GetMessageDigest() const noexcept {
  switch (FSigAlg) {
    case saES384:
    case saRS384: return EVP_sha384();
    case saES512:
    case saRS512: return EVP_sha512();
    default: return EVP_sha256();
  }
}

std::int32_t TOpenSSLCert::GetRawSignaturePartLength() const noexcept { return (FBits + 7) / 8; }

std::string TOpenSSLCert::GetCertificateBase64() const {
  StartWithEmptyErrorQueue();
  if (!FX509) return {};
  TolerateErrors tolerate;
  BIOPtr der(BIO_new(BIO_s_mem()));
  if (!der || i2d_X509_bio(der.get(), FX509.get()) <= 0) return {};
  char* bytes = nullptr;
  const long length = BIO_get_mem_data(der.get(), &bytes);
  if (length <= 0) return {};
  std::string text =
      EncodeBase64(reinterpret_cast<const unsigned char*>(bytes), static_cast<size_t>(length));
  std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
  return text;
}

void TOpenSSLCert::PutCertificateBase64(const std::string& ABase64) {
  StartWithEmptyErrorQueue();
  FX509.reset();
  FPKey.reset();
  const std::vector<unsigned char> der = DecodeBase64(ABase64);
  if (!der.empty())
    FX509 = ReadCertificateDER(
        std::string_view(reinterpret_cast<const char*>(der.data()), der.size()), false);
  if (FX509) {
    FPKey = PublicKeyOf(FX509.get());
    FHasPrivateKey = false;
  }
  UpdateKeyInfo();
}

void TOpenSSLCert::AddFromPEMFile(const std::string& AFilename, const std::string& APassword) {
  StartWithEmptyErrorQueue();
  BIOPtr file;
  {
    TolerateErrors tolerate;  // reported with a message of our own
    file.reset(BIO_new_file(AFilename.c_str(), "r"));
  }
  if (!file) throw Exception("Cannot open file: " + AFilename);
  TKeyAndCert found = ReadKeyAndCertificate(file.get(), APassword);

  if (found.Cert) {
    if (FPKey && FHasPrivateKey && !KeyMatches(found.Cert.get(), FPKey.get()))
      throw Exception("Security Error: Certificate does not match the current private key.");
    FX509 = std::move(found.Cert);
    if (!FHasPrivateKey) FPKey = PublicKeyOf(FX509.get());
  }
  if (found.Key) {
    if (FX509 && !KeyMatches(FX509.get(), found.Key.get())) {
      // The file's certificate may already have been taken over with its public key:
      // describe the key held now before reporting.
      UpdateKeyInfo();
      throw Exception("Security Error: Private key does not match the current certificate.");
    }
    FPKey = std::move(found.Key);
    FHasPrivateKey = true;
  }
  UpdateKeyInfo();
}

std::vector<unsigned char> TOpenSSLCert::SignData(const std::vector<unsigned char>& AData) const {
  StartWithEmptyErrorQueue();
  if (!FHasPrivateKey) throw Exception("Private key required for signing.");
  EVP_MD_CTXPtr ctx(EVP_MD_CTX_new());
  if (!ctx) RaiseOpenSSLError("EVP_MD_CTX_new");
  if (EVP_DigestSignInit(ctx.get(), nullptr, GetMessageDigest(), nullptr, FPKey.get()) != 1)
    RaiseOpenSSLError("EVP_DigestSignInit");
  if (EVP_DigestSignUpdate(ctx.get(), AData.empty() ? nullptr : AData.data(), AData.size()) != 1)
    RaiseOpenSSLError("EVP_DigestSignUpdate");
  size_t maxLength = 0;
  if (EVP_DigestSignFinal(ctx.get(), nullptr, &maxLength) != 1)
    RaiseOpenSSLError("EVP_DigestSignFinal (length)");
  std::vector<unsigned char> signature(maxLength);
  size_t length = maxLength;
  if (EVP_DigestSignFinal(ctx.get(), signature.data(), &length) != 1)
    RaiseOpenSSLError("EVP_DigestSignFinal (sign)");
  // An ECDSA signature is usually shorter than the maximum the first call reports.
  if (length < maxLength) signature.resize(length);
  return signature;
}

bool TOpenSSLCert::VerifyData(const std::vector<unsigned char>& AData,
                              const std::vector<unsigned char>& ASignature) const noexcept {
  StartWithEmptyErrorQueue();
  if (!FPKey || ASignature.empty()) return false;
  TolerateErrors tolerate;  // a bad signature is an answer, not an error
  EVP_MD_CTXPtr ctx(EVP_MD_CTX_new());
  return ctx &&
         EVP_DigestVerifyInit(ctx.get(), nullptr, GetMessageDigest(), nullptr, FPKey.get()) == 1 &&
         EVP_DigestVerifyUpdate(ctx.get(), AData.empty() ? nullptr : AData.data(), AData.size()) ==
             1 &&
         EVP_DigestVerifyFinal(ctx.get(), ASignature.data(), ASignature.size()) == 1;
}

// --- TCertLoader ------------------------------------------------------------------------

// PEM first, as the key facts always were read; bytes that hold no PEM certificate may be the
// DER that .cer and .der files usually hold. When neither reads, PEM's reason is raised.
std::unique_ptr<TOpenSSLCert> TCertLoader::LoadCertificateFromPEMOrDERBytes(
    const std::string& ABytes) {
  try {
    return LoadCertificateFromPEMBytes(ABytes);
  } catch (const Exception&) {
    X509Ptr cert = ReadCertificateDER(ABytes, true);
    if (!cert) throw;
    EVP_PKEYPtr key = PublicKeyOf(cert.get());
    return Adopt(std::move(key), false, std::move(cert));
  }
}

std::unique_ptr<TOpenSSLCert> TCertLoader::LoadPrivateKey(const std::string& PEM) {
  StartWithEmptyErrorQueue();
  BIOPtr text = NewMemBuf(PEM);
  if (!text) RaiseOpenSSLError("BIO_new_mem_buf");
  EVP_PKEYPtr key;
  {
    TolerateErrors tolerate;  // no key in the text: an empty result
    key = ReadPEMPrivateKey(text.get(), nullptr);
  }
  if (!key) return nullptr;
  return Adopt(std::move(key), true, nullptr);
}

std::unique_ptr<TOpenSSLCert> TCertLoader::LoadCertificate(const std::string& PEM) {
  StartWithEmptyErrorQueue();
  BIOPtr text = NewMemBuf(PEM);
  if (!text) RaiseOpenSSLError("BIO_new_mem_buf");
  X509Ptr cert;
  {
    TolerateErrors tolerate;  // no certificate in the text: an empty result
    cert = ReadPEMCertificate(text.get());
  }
  if (!cert) return nullptr;
  EVP_PKEYPtr key = PublicKeyOf(cert.get());
  return Adopt(std::move(key), false, std::move(cert));
}

std::unique_ptr<TOpenSSLCert> TCertLoader::LoadCertificateFromPEMFile(
    const std::string& AFilename) {
  StartWithEmptyErrorQueue();
  return CertificateFrom(OpenFileOrRaise(AFilename, "r").get());
}

std::unique_ptr<TOpenSSLCert> TCertLoader::LoadPrivateKeyFromPEMFile(const std::string& AFilename,
                                                                     const std::string& APassword) {
  StartWithEmptyErrorQueue();
  return PrivateKeyFrom(OpenFileOrRaise(AFilename, "r").get(), APassword);
}

std::unique_ptr<TOpenSSLCert> TCertLoader::LoadFromPEMFile(const std::string& AFilename,
                                                           const std::string& APassword) {
  StartWithEmptyErrorQueue();
  return KeyAndCertificateFrom(OpenFileOrRaise(AFilename, "r").get(), APassword);
}

std::unique_ptr<TOpenSSLCert> TCertLoader::LoadFromP12File(const std::string& AFilename,
                                                           const std::string& APassword) {
  StartWithEmptyErrorQueue();
  return BundleFrom(OpenFileOrRaise(AFilename, "rb").get(), APassword);
}

std::unique_ptr<TOpenSSLCert> TCertLoader::LoadFromFile(const std::string& AFilename,
                                                        const std::string& APassword) {
  const std::string extension = ExtensionOf(AFilename);
  if (extension == ".p12" || extension == ".pfx") return LoadFromP12File(AFilename, APassword);
  return LoadFromPEMFile(AFilename, APassword);
}

std::unique_ptr<TOpenSSLCert> TCertLoader::LoadCertificateFromPEMBytes(const std::string& ABytes) {
  StartWithEmptyErrorQueue();
  return CertificateFrom(OpenBytesOrRaise(ABytes).get());
}

std::unique_ptr<TOpenSSLCert> TCertLoader::LoadPrivateKeyFromPEMBytes(
    const std::string& ABytes, const std::string& APassword) {
  StartWithEmptyErrorQueue();
  return PrivateKeyFrom(OpenBytesOrRaise(ABytes).get(), APassword);
}

std::unique_ptr<TOpenSSLCert> TCertLoader::LoadFromPEMBytes(const std::string& ABytes,
                                                            const std::string& APassword) {
  StartWithEmptyErrorQueue();
  return KeyAndCertificateFrom(OpenBytesOrRaise(ABytes).get(), APassword);
}

std::unique_ptr<TOpenSSLCert> TCertLoader::LoadFromP12Bytes(const std::string& ABytes,
                                                            const std::string& APassword) {
  StartWithEmptyErrorQueue();
  return BundleFrom(OpenBytesOrRaise(ABytes).get(), APassword);
}

std::unique_ptr<TOpenSSLCert> TCertLoader::LoadFromBase64(const std::string& ABase64) {
  std::unique_ptr<TOpenSSLCert> result = Adopt(nullptr, false, nullptr);
  result->PutCertificateBase64(ABase64);
  return result;
}

}  // namespace velmora

namespace velmora {

namespace {

// The digests whose collisions can be made: a signature over one of them proves nothing.
const char* WeakDigestName(int DigestNID) {
  switch (DigestNID) {
    case NID_md2: return "MD2";
    case NID_md4: return "MD4";
    case NID_md5: return "MD5";
    case NID_md5_sha1: return "MD5 and SHA-1";
    case NID_sha1: return "SHA-1";
    default: return "";
  }
}

bool EndsWith(std::string_view Text, std::string_view End) {
  return Text.size() >= End.size() && Text.substr(Text.size() - End.size()) == End;
}

}  // namespace

TSignerFacts SignerFactsOf(X509* Cert) {
  TSignerFacts facts;
  if (Cert == nullptr) return facts;
  TolerateErrors tolerate;  // an odd certificate is judged by what can be read of it
  const std::uint32_t flags = X509_get_extension_flags(Cert);
  facts.IsCA = (flags & EXFLAG_CA) != 0;
  facts.HasKeyUsage = (flags & EXFLAG_KUSAGE) != 0;
  facts.KeyCertSign = facts.HasKeyUsage && (X509_get_key_usage(Cert) & KU_KEY_CERT_SIGN) != 0;
  if (EVP_PKEY* key = X509_get0_pubkey(Cert)) {
    const int id = EVP_PKEY_get_base_id(key);
    facts.KeyFamily = id == EVP_PKEY_RSA || id == EVP_PKEY_RSA_PSS ? ctRSA
                      : id == EVP_PKEY_EC                          ? ctECC
                                                                   : ctUnknown;
    facts.KeyBits = EVP_PKEY_get_bits(key);
  }
  int digest = NID_undef;
  if (X509_get_signature_info(Cert, &digest, nullptr, nullptr, nullptr) == 1)
    facts.WeakSignatureDigest = WeakDigestName(digest);
  return facts;
}

bool CarriesPublicKey(X509* Cert, EVP_PKEY* Key) {
  if (Cert == nullptr || Key == nullptr) return false;
  TolerateErrors tolerate;
  const EVP_PKEY* own = X509_get0_pubkey(Cert);
  return own != nullptr && EVP_PKEY_eq(own, Key) == 1;
}

bool HoldsCertificateWithoutKey(const std::string& Bytes) {
  const std::vector<std::string_view> labels = PEMBlockLabels(Bytes);
  if (!labels.empty()) {
    bool certificate = false;
    for (const std::string_view label : labels) {
      if (EndsWith(label, "PRIVATE KEY")) return false;
      certificate = certificate || label == "CERTIFICATE" || label == "X509 CERTIFICATE" ||
                    label == "TRUSTED CERTIFICATE";
    }
    return certificate;
  }
  // Binary: a certificate's DER and nothing after it.
  return ReadCertificateDER(Bytes, true) != nullptr;
}

namespace {

[[noreturn]] void RaiseBundleError(const char* What) {
  const unsigned long code = ERR_peek_last_error();
  const char* reason = ERR_reason_error_string(code);
  TFailureCause cause{What, ERR_GET_LIB(code), ERR_GET_REASON(code), 0,
                      FailureKindOf(ERR_GET_LIB(code), ERR_GET_REASON(code))};
  throw Exception(std::string(What) + (reason ? std::string(": ") + reason : std::string()),
                  std::move(cause));
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

std::vector<std::string_view> PEMBlockLabels(std::string_view Text) {
  constexpr std::string_view begin = "-----BEGIN ";
  std::vector<std::string_view> labels;
  for (std::size_t at = Text.find(begin); at != std::string_view::npos;
       at = Text.find(begin, at + 1)) {
    const std::string_view rest = Text.substr(at + begin.size());
    const std::size_t end = rest.find("-----");
    // Real labels are short; a "-----" far away belongs to something else.
    if (end == std::string_view::npos || end > 64) continue;
    const std::string_view label = rest.substr(0, end);
    if (label.find_first_of("\r\n") == std::string_view::npos) labels.push_back(label);
  }
  return labels;
}

}  // namespace velmora
