#include "crypto/CRL.h"

#include "crypto/CertBuilder.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <array>
#include <climits>
#include <stdexcept>

namespace velmora {

namespace {

struct TReasonName {
  TRevocationReason Reason;
  const char* Name;
};

constexpr std::array<TReasonName, 6> kReasonNames{{
    {TRevocationReason::Unspecified, "unspecified"},
    {TRevocationReason::KeyCompromise, "keyCompromise"},
    {TRevocationReason::CACompromise, "cACompromise"},
    {TRevocationReason::AffiliationChanged, "affiliationChanged"},
    {TRevocationReason::Superseded, "superseded"},
    {TRevocationReason::CessationOfOperation, "cessationOfOperation"},
}};

// RFC 5280's names of the codes the program does not offer itself, for showing them.
std::string ReasonCodeText(long Code) {
  switch (Code) {
    case 6: return "certificateHold";
    case 8: return "removeFromCRL";
    case 9: return "privilegeWithdrawn";
    case 10: return "aACompromise";
    default: break;
  }
  for (const TReasonName& known : kReasonNames)
    if (static_cast<long>(known.Reason) == Code) return known.Name;
  return "reason " + std::to_string(Code);
}

std::string HexOf(const ASN1_INTEGER* Serial) {
  TolerateErrors tolerate;
  BIGNUMPtr number(ASN1_INTEGER_to_BN(Serial, nullptr));
  if (!number) return {};
  char* hex = BN_bn2hex(number.get());
  if (!hex) return {};
  std::string text(hex);
  OPENSSL_free(hex);
  return text;
}

TRevokedEntry EntryOf(const X509_REVOKED* Revoked) {
  TRevokedEntry entry;
  entry.SerialHex = HexOf(X509_REVOKED_get0_serialNumber(Revoked));
  entry.Date = TimeOf(X509_REVOKED_get0_revocationDate(Revoked));
  TolerateErrors tolerate;
  int critical = 0;
  const ASN1_ENUMERATEDPtr reason(static_cast<ASN1_ENUMERATED*>(
      X509_REVOKED_get_ext_d2i(Revoked, NID_crl_reason, &critical, nullptr)));
  entry.ReasonText = reason ? ReasonCodeText(ASN1_ENUMERATED_get(reason.get())) : "unspecified";
  return entry;
}

X509_CRLPtr ReadCRLDER(const std::string& Bytes) {
  if (Bytes.size() > static_cast<std::size_t>(LONG_MAX)) return nullptr;
  const auto* start = reinterpret_cast<const unsigned char*>(Bytes.data());
  const unsigned char* next = start;
  X509_CRLPtr crl(d2i_X509_CRL(nullptr, &next, static_cast<long>(Bytes.size())));
  if (crl && next != start + Bytes.size()) return nullptr;
  return crl;
}

X509Ptr ReadSignerCertificate(const std::string& PEM) {
  BIOPtr bio = NewMemBuf(PEM);
  if (!bio) RaiseOpenSSLError("BIO_new (CA cert)");
  X509Ptr cert = ReadPEMCertificate(bio.get());
  if (!cert) RaiseOpenSSLError(kStepReadCACert);
  return cert;
}

EVP_PKEYPtr ReadSignerKey(const std::string& PEM, const std::string& Password) {
  CheckPassword(Password);
  BIOPtr bio = NewMemBuf(PEM);
  if (!bio) RaiseOpenSSLError("BIO_new (CA key)");
  EVP_PKEYPtr key = ReadPEMPrivateKey(bio.get(), Password.empty() ? nullptr : Password.c_str());
  if (!key) RaiseOpenSSLError(kStepReadCAKey);
  return key;
}

// The previous list's entries, copied: the new list owns its own.
void CopyEntries(X509_CRL* Into, const TCRLView& Previous) {
  STACK_OF(X509_REVOKED)* entries = X509_CRL_get_REVOKED(Previous.Handle());
  for (int i = 0; i < sk_X509_REVOKED_num(entries); ++i) {
    X509_REVOKEDPtr copy(X509_REVOKED_dup(sk_X509_REVOKED_value(entries, i)));
    if (!copy) RaiseOpenSSLError("X509_REVOKED_dup");
    if (X509_CRL_add0_revoked(Into, copy.get()) != 1) RaiseOpenSSLError("X509_CRL_add0_revoked");
    static_cast<void>(copy.release());  // the list owns it now
  }
}

void AddEntry(X509_CRL* Into, const X509* Cert, TRevocationReason Reason, std::time_t Now) {
  X509_REVOKEDPtr entry(X509_REVOKED_new());
  if (!entry) RaiseOpenSSLError("X509_REVOKED_new");
  if (X509_REVOKED_set_serialNumber(entry.get(), X509_get_serialNumber(const_cast<X509*>(Cert))) !=
      1)
    RaiseOpenSSLError("X509_REVOKED_set_serialNumber");
  const ASN1_TIMEPtr date(ASN1_TIME_set(nullptr, Now));
  if (!date || X509_REVOKED_set_revocationDate(entry.get(), date.get()) != 1)
    RaiseOpenSSLError("X509_REVOKED_set_revocationDate");
  // RFC 5280 asks to leave the reason out rather than say "unspecified".
  if (Reason != TRevocationReason::Unspecified) {
    const ASN1_ENUMERATEDPtr code(ASN1_ENUMERATED_new());
    if (!code || ASN1_ENUMERATED_set(code.get(), static_cast<long>(Reason)) != 1 ||
        X509_REVOKED_add1_ext_i2d(entry.get(), NID_crl_reason, code.get(), 0, 0) != 1)
      RaiseOpenSSLError("X509_REVOKED_add1_ext_i2d (reason)");
  }
  if (X509_CRL_add0_revoked(Into, entry.get()) != 1) RaiseOpenSSLError("X509_CRL_add0_revoked");
  static_cast<void>(entry.release());
}

void SetDates(X509_CRL* CRL, std::int32_t Days, std::time_t Now) {
  const ASN1_TIMEPtr thisUpdate(ASN1_TIME_set(nullptr, Now));
  const ASN1_TIMEPtr nextUpdate(ASN1_TIME_adj(nullptr, Now, Days, 0));
  if (!thisUpdate || X509_CRL_set1_lastUpdate(CRL, thisUpdate.get()) != 1)
    RaiseOpenSSLError("X509_CRL_set1_lastUpdate");
  if (!nextUpdate || X509_CRL_set1_nextUpdate(CRL, nextUpdate.get()) != 1)
    RaiseOpenSSLError("X509_CRL_set1_nextUpdate");
}

// One more than the previous list's number, so that a relying party can tell the newer list.
void SetNumber(X509_CRL* CRL, const TCRLView* Previous) {
  BIGNUMPtr number(BN_new());
  if (!number) RaiseOpenSSLError("BN_new");
  if (Previous) {
    int critical = 0;
    const ASN1_INTEGERPtr last(static_cast<ASN1_INTEGER*>(
        X509_CRL_get_ext_d2i(Previous->Handle(), NID_crl_number, &critical, nullptr)));
    if (last && !ASN1_INTEGER_to_BN(last.get(), number.get()))
      RaiseOpenSSLError("ASN1_INTEGER_to_BN (CRL number)");
  }
  if (BN_add_word(number.get(), 1) != 1) RaiseOpenSSLError("BN_add_word");
  const ASN1_INTEGERPtr next(BN_to_ASN1_INTEGER(number.get(), nullptr));
  if (!next || X509_CRL_add1_ext_i2d(CRL, NID_crl_number, next.get(), 0, 0) != 1)
    RaiseOpenSSLError("X509_CRL_add1_ext_i2d (CRL number)");
}

// The CA's own key identifier when it carries one, otherwise the SHA-1 of its public key, the
// way RFC 5280 suggests making one: a relying party picks the CA's key by it.
void SetAuthorityKeyIdentifier(X509_CRL* CRL, X509* CA) {
  AUTHORITY_KEYIDPtr authority(AUTHORITY_KEYID_new());
  if (!authority) RaiseOpenSSLError("AUTHORITY_KEYID_new");
  if (const ASN1_OCTET_STRING* own = X509_get0_subject_key_id(CA)) {
    authority->keyid = ASN1_OCTET_STRING_dup(own);
  } else {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_pubkey_digest(CA, EVP_sha1(), digest, &length) != 1)
      RaiseOpenSSLError("X509_pubkey_digest");
    authority->keyid = ASN1_OCTET_STRING_new();
    if (authority->keyid &&
        ASN1_OCTET_STRING_set(authority->keyid, digest, static_cast<int>(length)) != 1)
      RaiseOpenSSLError("ASN1_OCTET_STRING_set");
  }
  if (!authority->keyid) RaiseOpenSSLError("ASN1_OCTET_STRING_dup");
  if (X509_CRL_add1_ext_i2d(CRL, NID_authority_key_identifier, authority.get(), 0, 0) != 1)
    RaiseOpenSSLError("X509_CRL_add1_ext_i2d (authority key identifier)");
}

bool IsURLCharacter(char C) {
  const auto c = static_cast<unsigned char>(C);
  return c > 0x20 && c < 0x7F;
}

}  // namespace

const std::vector<TRevocationReason>& RevocationReasons() {
  static const std::vector<TRevocationReason> reasons = [] {
    std::vector<TRevocationReason> all;
    all.reserve(std::size(kReasonNames));
    for (const TReasonName& known : kReasonNames) all.push_back(known.Reason);
    return all;
  }();
  return reasons;
}

const char* RevocationReasonName(TRevocationReason Reason) noexcept {
  for (const TReasonName& known : kReasonNames)
    if (known.Reason == Reason) return known.Name;
  return "unspecified";
}

std::optional<TRevocationReason> RevocationReasonByName(std::string_view Name) noexcept {
  for (const TReasonName& known : kReasonNames)
    if (Name == known.Name) return known.Reason;
  return std::nullopt;
}

X509_CRLPtr ReadCRLPEMOrDER(const std::string& Bytes) {
  TolerateErrors tolerate;  // bytes that hold no CRL simply yield none
  if (Bytes.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
  if (BIOPtr pem{BIO_new_mem_buf(Bytes.data(), static_cast<int>(Bytes.size()))}) {
    if (X509_CRLPtr crl{PEM_read_bio_X509_CRL(pem.get(), nullptr, nullptr, nullptr)}) return crl;
  }
  return ReadCRLDER(Bytes);
}

std::optional<TCRLView> ReadCRLView(const std::string& Bytes) {
  X509_CRLPtr crl = ReadCRLPEMOrDER(Bytes);
  if (!crl) return std::nullopt;
  return TCRLView(std::move(crl));
}

TCRLView::TCRLView(X509_CRLPtr CRL) : FCRL(std::move(CRL)) {
  if (!FCRL) throw std::invalid_argument("TCRLView needs a CRL");
}

std::string TCRLView::IssuerText() const { return NameText(X509_CRL_get_issuer(FCRL.get())); }

std::optional<std::time_t> TCRLView::ThisUpdate() const {
  return TimeOf(X509_CRL_get0_lastUpdate(FCRL.get()));
}

std::optional<std::time_t> TCRLView::NextUpdate() const {
  return TimeOf(X509_CRL_get0_nextUpdate(FCRL.get()));
}

std::string TCRLView::NumberText() const {
  TolerateErrors tolerate;
  int critical = 0;
  const ASN1_INTEGERPtr number(static_cast<ASN1_INTEGER*>(
      X509_CRL_get_ext_d2i(FCRL.get(), NID_crl_number, &critical, nullptr)));
  if (!number) return {};
  const BIGNUMPtr value(ASN1_INTEGER_to_BN(number.get(), nullptr));
  if (!value) return {};
  char* decimal = BN_bn2dec(value.get());
  if (!decimal) return {};
  std::string text(decimal);
  OPENSSL_free(decimal);
  return text;
}

std::size_t TCRLView::EntryCount() const noexcept {
  const int count = sk_X509_REVOKED_num(X509_CRL_get_REVOKED(FCRL.get()));
  return count > 0 ? static_cast<std::size_t>(count) : 0;
}

std::vector<TRevokedEntry> TCRLView::Entries(std::size_t Max) const {
  STACK_OF(X509_REVOKED)* entries = X509_CRL_get_REVOKED(FCRL.get());
  std::vector<TRevokedEntry> shown;
  for (int i = 0; i < sk_X509_REVOKED_num(entries) && shown.size() < Max; ++i)
    shown.push_back(EntryOf(sk_X509_REVOKED_value(entries, i)));
  return shown;
}

std::optional<TRevokedEntry> TCRLView::EntryFor(const TCertificateView& Cert) const {
  TolerateErrors tolerate;
  if (X509_NAME_cmp(X509_CRL_get_issuer(FCRL.get()), X509_get_issuer_name(Cert.Handle())) != 0)
    return std::nullopt;
  X509_REVOKED* found = nullptr;
  if (X509_CRL_get0_by_serial(FCRL.get(), &found, X509_get0_serialNumber(Cert.Handle())) != 1 ||
      found == nullptr)
    return std::nullopt;
  return EntryOf(found);
}

bool TCRLView::IsSignedBy(const TCertificateView& CA) const {
  TolerateErrors tolerate;
  if (X509_NAME_cmp(X509_CRL_get_issuer(FCRL.get()), X509_get_subject_name(CA.Handle())) != 0)
    return false;
  EVP_PKEY* key = X509_get0_pubkey(CA.Handle());
  return key && X509_CRL_verify(FCRL.get(), key) == 1;
}

std::string TCRLView::PEM() const {
  TolerateErrors tolerate;
  BIOPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509_CRL(bio.get(), FCRL.get()) != 1) return {};
  return BioToString(bio.get());
}

TCRLSigner::TCRLSigner(const std::string& CACertPEM, const std::string& CAKeyPEM,
                       const std::string& CAKeyPassword)
    : FCA((StartWithEmptyErrorQueue(), ReadSignerCertificate(CACertPEM))),
      FKey(ReadSignerKey(CAKeyPEM, CAKeyPassword)) {
  if (!FCA.HasPublicKeyOf(FKey.get()))
    throw Exception("The CA private key does not belong to the CA certificate.");
}

std::string TCRLSigner::Sign(const TCRLView* Previous, const TCertificateView* Revoke,
                             TRevocationReason Reason, std::int32_t Days, std::time_t Now,
                             TSignedCRLFacts* Facts) const {
  StartWithEmptyErrorQueue();
  X509_CRLPtr crl(X509_CRL_new());
  if (!crl) RaiseOpenSSLError("X509_CRL_new");
  if (X509_CRL_set_version(crl.get(), X509_CRL_VERSION_2) != 1)
    RaiseOpenSSLError("X509_CRL_set_version");
  if (X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(FCA.Handle())) != 1)
    RaiseOpenSSLError("X509_CRL_set_issuer_name");
  SetDates(crl.get(), Days, Now);
  if (Previous) CopyEntries(crl.get(), *Previous);
  if (Revoke) AddEntry(crl.get(), Revoke->Handle(), Reason, Now);
  if (X509_CRL_sort(crl.get()) != 1) RaiseOpenSSLError("X509_CRL_sort");
  SetNumber(crl.get(), Previous);
  SetAuthorityKeyIdentifier(crl.get(), FCA.Handle());
  if (X509_CRL_sign(crl.get(), FKey.get(), SignatureDigestFor(FKey.get())) <= 0)
    RaiseOpenSSLError("X509_CRL_sign");
  BIOPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509_CRL(bio.get(), crl.get()) != 1)
    RaiseOpenSSLError("PEM_write_bio_X509_CRL");
  if (Facts) {
    const TCRLView signed_(std::move(crl));
    // An empty list has no entry stack at all, which counts as -1.
    Facts->EntryCount = signed_.EntryCount();
    Facts->NumberText = signed_.NumberText();
  }
  return BioToString(bio.get());
}

X509_EXTENSIONPtr NewCRLDistributionPointExtension(const std::string& URL) {
  StartWithEmptyErrorQueue();
  for (const char c : URL)
    if (!IsURLCharacter(c))
      throw Exception("The CRL URL \"" + URL +
                      "\" is not a URL: it holds a blank, a control or a non-ASCII character.");
  if (URL.empty() || URL.size() > static_cast<std::size_t>(INT_MAX))
    throw Exception("The CRL URL \"" + URL + "\" is not a URL.");
  GENERAL_NAMESPtr names(GENERAL_NAMES_new());
  ASN1_IA5STRING* uri = ASN1_IA5STRING_new();
  GENERAL_NAME* name = GENERAL_NAME_new();
  if (name)
    GENERAL_NAME_set0_value(name, GEN_URI, uri);
  else
    ASN1_IA5STRING_free(uri);
  if (!names || !name || !uri ||
      ASN1_STRING_set(uri, URL.data(), static_cast<int>(URL.size())) != 1 ||
      sk_GENERAL_NAME_push(names.get(), name) <= 0) {
    GENERAL_NAME_free(name);
    RaiseOpenSSLError("GENERAL_NAME_new (CRL URL)");
  }
  DIST_POINTPtr point(DIST_POINT_new());
  if (!point || !(point->distpoint = DIST_POINT_NAME_new())) RaiseOpenSSLError("DIST_POINT_new");
  point->distpoint->type = 0;  // a full name
  point->distpoint->name.fullname = names.release();
  CRL_DIST_POINTSPtr points(CRL_DIST_POINTS_new());
  if (!points || sk_DIST_POINT_push(points.get(), point.get()) <= 0)
    RaiseOpenSSLError("sk_DIST_POINT_push");
  static_cast<void>(point.release());
  X509_EXTENSIONPtr extension(X509V3_EXT_i2d(NID_crl_distribution_points, 0, points.get()));
  if (!extension) RaiseOpenSSLError("X509V3_EXT_i2d (CRL distribution points)");
  return extension;
}

}  // namespace velmora
