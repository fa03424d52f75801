#include "crypto/CertificateView.h"

#include "crypto/CertBuilder.h"
#include "crypto/KeyIdentity.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <climits>
#include <stdexcept>

namespace velmora {

std::string NameText(const X509_NAME* Name) {
  TolerateErrors tolerate;
  BIOPtr out(BIO_new(BIO_s_mem()));
  if (!out) return {};
  constexpr unsigned long kFlags =
      (XN_FLAG_ONELINE & ~XN_FLAG_SPC_EQ & ~ASN1_STRFLGS_ESC_MSB) | ASN1_STRFLGS_UTF8_CONVERT;
  if (X509_NAME_print_ex(out.get(), Name, 0, kFlags) < 0) return {};
  return BioToString(out.get());
}

std::optional<std::time_t> TimeOf(const ASN1_TIME* Time) {
  std::tm when{};
  if (Time == nullptr || ASN1_TIME_to_tm(Time, &when) != 1) return std::nullopt;
  return ::timegm(&when);
}

std::string OnOneLine(const std::string& Text) {
  std::string line;
  bool pendingBreak = false;
  for (const char c : Text) {
    if (c == '\n' || c == '\r') {
      pendingBreak = !line.empty();
      continue;
    }
    if (pendingBreak) {
      line += "; ";
      pendingBreak = false;
    }
    if ((c == ' ' || c == '\t') && (line.empty() || line.ends_with("; "))) continue;
    line += c;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

int ExtensionNid(TCertExtension Which) noexcept {
  switch (Which) {
    case TCertExtension::SubjectAltName: return NID_subject_alt_name;
    case TCertExtension::BasicConstraints: return NID_basic_constraints;
    case TCertExtension::KeyUsage: return NID_key_usage;
    case TCertExtension::ExtKeyUsage: return NID_ext_key_usage;
    case TCertExtension::SubjectKeyId: return NID_subject_key_identifier;
    case TCertExtension::AuthorityKeyId: return NID_authority_key_identifier;
  }
  return NID_undef;
}

X509Ptr ReadCertificatePEMOrDER(const std::string& Bytes) {
  TolerateErrors tolerate;  // bytes that hold no certificate simply yield none
  if (Bytes.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
  if (BIOPtr pem{BIO_new_mem_buf(Bytes.data(), static_cast<int>(Bytes.size()))}) {
    if (X509Ptr cert = ReadPEMCertificate(pem.get())) return cert;
  }
  return ReadCertificateDER(Bytes, false);
}

X509Ptr ReadCertificateDER(std::string_view Bytes, bool WholeBytes) {
  if (Bytes.size() > static_cast<std::size_t>(LONG_MAX)) return nullptr;
  TolerateErrors tolerate;
  const auto* start = reinterpret_cast<const unsigned char*>(Bytes.data());
  const unsigned char* next = start;
  X509Ptr cert(d2i_X509(nullptr, &next, static_cast<long>(Bytes.size())));
  if (WholeBytes && cert && next != start + Bytes.size()) return nullptr;
  return cert;
}

namespace {

struct FreeOpenSSLMemory {
  void operator()(void* Memory) const noexcept { OPENSSL_free(Memory); }
};
template <typename T>
using OpenSSLMemoryPtr = std::unique_ptr<T, FreeOpenSSLMemory>;

bool IsCertificateBlock(const std::string& Name) {
  return Name == PEM_STRING_X509 || Name == PEM_STRING_X509_OLD || Name == PEM_STRING_X509_TRUSTED;
}

}  // namespace

TCertificateFileContents ReadCertificateFileContents(const std::string& Bytes) {
  TCertificateFileContents contents;
  if (Bytes.size() > static_cast<std::size_t>(INT_MAX)) return contents;
  TolerateErrors tolerate;
  BIOPtr in(BIO_new_mem_buf(Bytes.data(), static_cast<int>(Bytes.size())));
  if (!in) return contents;
  bool anyBlock = false;
  for (;;) {
    char* rawName = nullptr;
    char* rawHeader = nullptr;
    unsigned char* rawData = nullptr;
    long length = 0;
    const int read = PEM_read_bio(in.get(), &rawName, &rawHeader, &rawData, &length);
    const OpenSSLMemoryPtr<char> name(rawName);
    const OpenSSLMemoryPtr<char> header(rawHeader);
    const OpenSSLMemoryPtr<unsigned char> data(rawData);
    if (read != 1) break;
    anyBlock = true;
    const std::string label(name.get());
    if (label.find("PRIVATE KEY") != std::string::npos) {
      contents.HasPrivateKey = true;
    } else if (IsCertificateBlock(label)) {
      const unsigned char* next = data.get();
      // A trusted certificate block carries trust settings after the certificate; the
      // certificate is what counts here.
      X509Ptr cert(label == PEM_STRING_X509_TRUSTED ? d2i_X509_AUX(nullptr, &next, length)
                                                    : d2i_X509(nullptr, &next, length));
      if (cert) contents.Certificates.push_back(std::move(cert));
    }
  }
  if (!anyBlock)
    if (X509Ptr cert = ReadCertificateDER(Bytes, true))
      contents.Certificates.push_back(std::move(cert));
  return contents;
}

TPublicKeyFacts PublicKeyFactsOf(const EVP_PKEY* Key) {
  TPublicKeyFacts facts;
  if (Key == nullptr) return facts;
  const int id = EVP_PKEY_get_base_id(Key);
  facts.Family = id == EVP_PKEY_RSA || id == EVP_PKEY_RSA_PSS     ? ctRSA
                 : id == EVP_PKEY_EC                              ? ctECC
                 : id == EVP_PKEY_ED25519 || id == EVP_PKEY_ED448 ? ctEdwards
                                                                  : ctUnknown;
  facts.Bits = EVP_PKEY_get_bits(Key);
  facts.SecurityBits = EVP_PKEY_get_security_bits(Key);
  return facts;
}

TCertificateView::TCertificateView(const X509* Cert) {
  if (Cert == nullptr || X509_up_ref(const_cast<X509*>(Cert)) != 1)
    throw std::invalid_argument("TCertificateView needs a certificate");
  FCert.reset(const_cast<X509*>(Cert));
}

TCertificateView::TCertificateView(X509Ptr Cert) : FCert(std::move(Cert)) {
  if (!FCert) throw std::invalid_argument("TCertificateView needs a certificate");
}

std::string TCertificateView::SubjectText() const {
  return NameText(X509_get_subject_name(FCert.get()));
}

std::string TCertificateView::IssuerText() const {
  return NameText(X509_get_issuer_name(FCert.get()));
}

std::string TCertificateView::SerialHex() const {
  TolerateErrors tolerate;
  BIGNUMPtr serial(ASN1_INTEGER_to_BN(X509_get0_serialNumber(FCert.get()), nullptr));
  if (!serial) return {};
  char* hex = BN_bn2hex(serial.get());
  if (!hex) return {};
  std::string text(hex);
  OPENSSL_free(hex);
  return text;
}

std::optional<std::time_t> TCertificateView::NotBefore() const {
  return TimeOf(X509_get0_notBefore(FCert.get()));
}

std::optional<std::time_t> TCertificateView::NotAfter() const {
  return TimeOf(X509_get0_notAfter(FCert.get()));
}

std::optional<std::string> TCertificateView::ExtensionText(TCertExtension Which) const {
  const int at = X509_get_ext_by_NID(FCert.get(), ExtensionNid(Which), -1);
  if (at < 0) return std::nullopt;
  X509_EXTENSION* extension = X509_get_ext(FCert.get(), at);
  TolerateErrors tolerate;
  BIOPtr out(BIO_new(BIO_s_mem()));
  if (!out) return std::nullopt;
  std::string text;
  if (X509V3_EXT_print(out.get(), extension, 0, 0) == 1)
    text = OnOneLine(BioToString(out.get()));
  else
    text = "(unreadable)";
  if (X509_EXTENSION_get_critical(extension)) text += " (critical)";
  return text;
}

std::optional<long> TCertificateView::PathLength() const {
  TolerateErrors tolerate;
  const long length = X509_get_pathlen(FCert.get());
  if (length < 0) return std::nullopt;
  return length;
}

bool TCertificateView::IsCA() const {
  TolerateErrors tolerate;
  return (X509_get_extension_flags(FCert.get()) & EXFLAG_CA) != 0;
}

std::optional<bool> TCertificateView::MaySignCertificates() const {
  TolerateErrors tolerate;
  if ((X509_get_extension_flags(FCert.get()) & EXFLAG_KUSAGE) == 0) return std::nullopt;
  return (X509_get_key_usage(FCert.get()) & KU_KEY_CERT_SIGN) != 0;
}

std::optional<bool> TCertificateView::MaySignCRLs() const {
  TolerateErrors tolerate;
  if ((X509_get_extension_flags(FCert.get()) & EXFLAG_KUSAGE) == 0) return std::nullopt;
  return (X509_get_key_usage(FCert.get()) & KU_CRL_SIGN) != 0;
}

bool TCertificateView::HasNameConstraints() const {
  return X509_get_ext_by_NID(FCert.get(), NID_name_constraints, -1) >= 0;
}

std::string TCertificateView::CommonName() const {
  const X509_NAME* subject = X509_get_subject_name(FCert.get());
  int at = -1;
  for (int next = -1; (next = X509_NAME_get_index_by_NID(subject, NID_commonName, next)) >= 0;)
    at = next;
  if (at < 0) return {};
  const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at));
  TolerateErrors tolerate;
  unsigned char* raw = nullptr;
  const int length = ASN1_STRING_to_UTF8(&raw, value);
  const OpenSSLMemoryPtr<unsigned char> utf8(raw);
  if (length < 0) return {};
  return std::string(reinterpret_cast<const char*>(utf8.get()), static_cast<std::size_t>(length));
}

std::string TCertificateView::SignatureAlgorithm() const {
  const X509_ALGOR* algorithm = nullptr;
  X509_get0_signature(nullptr, &algorithm, FCert.get());
  const ASN1_OBJECT* object = nullptr;
  X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
  char name[128] = {};
  if (!object || OBJ_obj2txt(name, sizeof name, object, 0) <= 0) return "(unknown)";
  return name;
}

std::string TCertificateView::Fingerprint(TFingerprintDigest Digest) const {
  const EVP_MD* md = Digest == TFingerprintDigest::SHA1 ? EVP_sha1() : EVP_sha256();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  TolerateErrors tolerate;
  if (X509_digest(FCert.get(), md, digest, &length) != 1) return {};
  static const char hex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    if (i) text += ':';
    text += hex[digest[i] >> 4];
    text += hex[digest[i] & 0xF];
  }
  return text;
}

std::string TCertificateView::PEM() const {
  TolerateErrors tolerate;
  BIOPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), FCert.get()) != 1) return {};
  return BioToString(bio.get());
}

EVP_PKEY* TCertificateView::PublicKey() const noexcept {
  TolerateErrors tolerate;
  return X509_get0_pubkey(FCert.get());
}

bool TCertificateView::HasPublicKeyOf(const EVP_PKEY* Key) const {
  if (Key == nullptr) return false;
  TolerateErrors tolerate;
  const EVP_PKEY* own = X509_get0_pubkey(FCert.get());
  return own != nullptr && EVP_PKEY_eq(own, Key) == 1;
}

std::string TCertificateView::PublicKeySHA256() const {
  return CertificateKeyIdentity(FCert.get());
}

bool TCertificateView::IsIssuedBy(const TCertificateView& Issuer) const {
  X509* cert = FCert.get();
  X509* issuer = Issuer.FCert.get();
  TolerateErrors tolerate;
  if (X509_NAME_cmp(X509_get_issuer_name(cert), X509_get_subject_name(issuer)) != 0) return false;
  const ASN1_OCTET_STRING* authority = X509_get0_authority_key_id(cert);
  const ASN1_OCTET_STRING* subject = X509_get0_subject_key_id(issuer);
  if (authority && subject && ASN1_OCTET_STRING_cmp(authority, subject) != 0) return false;
  EVP_PKEY* key = X509_get0_pubkey(issuer);
  return key && X509_verify(cert, key) == 1;
}

}  // namespace velmora
