#include "crypto/CSR.h"

#include "crypto/KeyIdentity.h"

#include <arpa/inet.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <climits>
#include <stdexcept>
#include <string_view>

namespace velmora {

namespace {

std::string ObjectName(const ASN1_OBJECT* Object) {
  const int nid = OBJ_obj2nid(Object);
  if (nid != NID_undef) return OBJ_nid2ln(nid);
  char text[128] = {};
  OBJ_obj2txt(text, sizeof text, Object, 1);
  return text;
}

bool IsValidUtf8(std::string_view Text) {
  std::size_t i = 0;
  while (i < Text.size()) {
    const auto c = static_cast<unsigned char>(Text[i]);
    std::size_t extra = 0;
    std::uint32_t point = 0;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      point = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      point = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      point = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= Text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(Text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and points beyond Unicode are no UTF-8 either.
    if ((extra == 2 && point < 0x800) || (extra == 3 && (point < 0x10000 || point > 0x10FFFF)) ||
        (point >= 0xD800 && point <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

// A subject value as UTF-8; raises for one that is none, whatever string type it claims.
std::string SubjectValue(const X509_NAME_ENTRY* Entry, const std::string& Field) {
  unsigned char* raw = nullptr;
  int length = 0;
  {
    TolerateErrors tolerate;
    length = ASN1_STRING_to_UTF8(&raw, X509_NAME_ENTRY_get_data(Entry));
  }
  std::string value;
  if (length >= 0 && raw != nullptr) value.assign(reinterpret_cast<char*>(raw), length);
  OPENSSL_free(raw);
  if (length < 0 || !IsValidUtf8(value) || value.find('\0') != std::string::npos)
    throw Exception("The subject's " + Field + " is not valid UTF-8 text.");
  return value;
}

std::string IA5Text(const ASN1_IA5STRING* Text, const char* What) {
  std::string value(reinterpret_cast<const char*>(ASN1_STRING_get0_data(Text)),
                    static_cast<std::size_t>(ASN1_STRING_length(Text)));
  for (const char c : value)
    if (c == '\0' || static_cast<unsigned char>(c) >= 0x80)
      throw Exception(std::string("A requested ") + What + " is not plain ASCII text.");
  return value;
}

std::string IPText(const ASN1_OCTET_STRING* Address) {
  const unsigned char* bytes = ASN1_STRING_get0_data(Address);
  const int length = ASN1_STRING_length(Address);
  char text[INET6_ADDRSTRLEN] = {};
  if (length == 4 && inet_ntop(AF_INET, bytes, text, sizeof text) != nullptr) return text;
  if (length == 16 && inet_ntop(AF_INET6, bytes, text, sizeof text) != nullptr) return text;
  throw Exception("A requested IP address is neither IPv4 nor IPv6.");
}

std::string GeneralNameText(const GENERAL_NAME* Name) {
  BIOPtr out(BIO_new(BIO_s_mem()));
  if (!out || GENERAL_NAME_print(out.get(), const_cast<GENERAL_NAME*>(Name)) != 1)
    return "(unreadable name)";
  return OnOneLine(BioToString(out.get()));
}

void ReadSubject(const X509_NAME* Name, TCSRContent& Content) {
  struct TField {
    int Nid;
    const char* Label;
    std::string TSubjectDN::*Value;
  };
  static constexpr TField kFields[] = {
      {NID_commonName, "CN", &TSubjectDN::CN},
      {NID_organizationName, "O", &TSubjectDN::O},
      {NID_organizationalUnitName, "OU", &TSubjectDN::OU},
      {NID_countryName, "C", &TSubjectDN::C},
      {NID_stateOrProvinceName, "ST", &TSubjectDN::ST},
      {NID_localityName, "L", &TSubjectDN::L},
      {NID_pkcs9_emailAddress, "emailAddress", &TSubjectDN::Email},
  };
  for (int i = 0; i < X509_NAME_entry_count(Name); ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(Name, i);
    const int nid = OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry));
    const TField* field = nullptr;
    for (const TField& candidate : kFields)
      if (candidate.Nid == nid) field = &candidate;
    const std::string label =
        field
            ? field->Label
            : (nid != NID_undef ? OBJ_nid2sn(nid) : ObjectName(X509_NAME_ENTRY_get_object(entry)));
    const std::string value = SubjectValue(entry, label);
    if (field && (Content.Subject.*(field->Value)).empty())
      Content.Subject.*(field->Value) = value;
    else
      Content.OtherSubjectFields.push_back(std::string(label).append("=").append(value));
  }
}

void ReadAlternativeNames(X509_EXTENSION* Extension, TCSRContent& Content) {
  GENERAL_NAMESPtr names(static_cast<GENERAL_NAMES*>(X509V3_EXT_d2i(Extension)));
  if (!names) throw Exception("The requested subject alternative names cannot be read.");
  for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
    switch (name->type) {
      case GEN_DNS: Content.SANDNSNames.push_back(IA5Text(name->d.dNSName, "DNS name")); break;
      case GEN_EMAIL:
        Content.SANEmails.push_back(IA5Text(name->d.rfc822Name, "e-mail address"));
        break;
      case GEN_IPADD: Content.SANIPs.push_back(IPText(name->d.iPAddress)); break;
      default: Content.OtherAlternativeNames.push_back(GeneralNameText(name)); break;
    }
  }
}

void ReadBasicConstraints(X509_EXTENSION* Extension, TCSRContent& Content) {
  BASIC_CONSTRAINTSPtr constraints(static_cast<BASIC_CONSTRAINTS*>(X509V3_EXT_d2i(Extension)));
  if (!constraints) throw Exception("The requested basic constraints cannot be read.");
  Content.HasBasicConstraints = true;
  Content.IsCA = constraints->ca != 0;
  if (constraints->pathlen != nullptr) {
    const long length = ASN1_INTEGER_get(constraints->pathlen);
    // A negative or absurd limit is no limit anybody meant: it is left out.
    Content.PathLenConstraint =
        length >= 0 && length <= INT32_MAX ? static_cast<std::int32_t>(length) : -1;
  }
}

void ReadKeyUsage(X509_EXTENSION* Extension, TCSRContent& Content) {
  ASN1_BIT_STRINGPtr bits(static_cast<ASN1_BIT_STRING*>(X509V3_EXT_d2i(Extension)));
  if (!bits) throw Exception("The requested key usage cannot be read.");
  TKeyUsageSet usage;
  for (int bit = 0; bit <= kuDecipherOnly; ++bit)
    if (ASN1_BIT_STRING_get_bit(bits.get(), bit) != 0) usage.insert(static_cast<TKeyUsage>(bit));
  Content.KeyUsage = usage;
}

void ReadExtKeyUsage(X509_EXTENSION* Extension, TCSRContent& Content) {
  EXTENDED_KEY_USAGEPtr purposes(static_cast<EXTENDED_KEY_USAGE*>(X509V3_EXT_d2i(Extension)));
  if (!purposes) throw Exception("The requested extended key usage cannot be read.");
  static constexpr int kNids[] = {NID_server_auth,   NID_client_auth, NID_code_sign,
                                  NID_email_protect, NID_time_stamp,  NID_OCSP_sign};
  TExtKeyUsageSet usage;
  for (int i = 0; i < sk_ASN1_OBJECT_num(purposes.get()); ++i) {
    const ASN1_OBJECT* purpose = sk_ASN1_OBJECT_value(purposes.get(), i);
    const int nid = OBJ_obj2nid(purpose);
    bool known = false;
    for (int k = 0; k <= ekuOCSPSigning; ++k)
      if (kNids[k] == nid) {
        usage.insert(static_cast<TExtKeyUsage>(k));
        known = true;
      }
    if (!known) Content.OtherExtKeyUsages.push_back(ObjectName(purpose));
  }
  Content.ExtKeyUsage = usage;
}

// The requested extensions, or none; raises when the request carries an extension request
// that cannot be decoded: silently taking none would issue without what was asked for.
X509_EXTENSIONStackPtr ExtensionsOf(X509_REQ* Request) {
  const bool asks = X509_REQ_get_attr_by_NID(Request, NID_ext_req, -1) >= 0 ||
                    X509_REQ_get_attr_by_NID(Request, NID_ms_ext_req, -1) >= 0;
  TolerateErrors tolerate;
  X509_EXTENSIONStackPtr extensions(X509_REQ_get_extensions(Request));
  if (!extensions && asks) throw Exception("The requested extensions cannot be read.");
  return extensions;
}

}  // namespace

namespace {

// Whether the error queue says a string was not valid in its type; empties the queue.
bool QueueNamesBadText() {
  bool bad = false;
  while (const unsigned long error = ERR_get_error()) {
    const int reason = ERR_GET_REASON(error);
    if (ERR_GET_LIB(error) == ERR_LIB_ASN1 &&
        (reason == ASN1_R_INVALID_UTF8STRING || reason == ASN1_R_INVALID_BMPSTRING_LENGTH ||
         reason == ASN1_R_INVALID_UNIVERSALSTRING_LENGTH))
      bad = true;
  }
  return bad;
}

}  // namespace

X509_REQPtr ReadCSRPEMOrDER(const std::string& Bytes, bool* NotText) {
  TolerateErrors tolerate;  // bytes that hold no request simply yield none
  if (NotText) *NotText = false;
  if (Bytes.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
  if (BIOPtr pem{BIO_new_mem_buf(Bytes.data(), static_cast<int>(Bytes.size()))}) {
    // A request block is never encrypted; one that claims to be is not read rather than
    // asking for a pass phrase.
    if (X509_REQPtr request{PEM_read_bio_X509_REQ(pem.get(), nullptr, PassphraseCallback, nullptr)})
      return request;
  }
  const bool pemNotText = QueueNamesBadText();
  const auto* start = reinterpret_cast<const unsigned char*>(Bytes.data());
  const unsigned char* cursor = start;
  X509_REQPtr request(d2i_X509_REQ(nullptr, &cursor, static_cast<long>(Bytes.size())));
  // Bytes after the DER mean the file is something else that merely starts like a request.
  if (!request || cursor != start + Bytes.size()) {
    const bool derNotText = QueueNamesBadText();
    if (NotText) *NotText = pemNotText || derNotText;
    return nullptr;
  }
  return request;
}

std::optional<TCSRView> ReadCSRView(const std::string& Bytes, bool* NotText) {
  X509_REQPtr request = ReadCSRPEMOrDER(Bytes, NotText);
  if (!request) return std::nullopt;
  return TCSRView(std::move(request));
}

TCSRView::TCSRView(X509_REQPtr Request) : FRequest(std::move(Request)) {
  if (!FRequest) throw std::invalid_argument("TCSRView needs a request");
}

EVP_PKEY* TCSRView::PublicKey() const noexcept {
  TolerateErrors tolerate;
  return X509_REQ_get0_pubkey(FRequest.get());
}

std::string TCSRView::SubjectText() const {
  TolerateErrors tolerate;
  BIOPtr out(BIO_new(BIO_s_mem()));
  if (!out) return {};
  constexpr unsigned long kFlags =
      (XN_FLAG_ONELINE & ~XN_FLAG_SPC_EQ & ~ASN1_STRFLGS_ESC_MSB) | ASN1_STRFLGS_UTF8_CONVERT;
  if (X509_NAME_print_ex(out.get(), X509_REQ_get_subject_name(FRequest.get()), 0, kFlags) < 0)
    return {};
  return BioToString(out.get());
}

bool TCSRView::Verifies() const {
  EVP_PKEY* key = PublicKey();
  if (key == nullptr) return false;
  TolerateErrors tolerate;
  return X509_REQ_verify(FRequest.get(), key) == 1;
}

TPublicKeyFacts TCSRView::KeyFacts() const { return PublicKeyFactsOf(PublicKey()); }

std::string TCSRView::PublicKeySHA256() const { return PublicKeyIdentity(PublicKey()); }

std::string TCSRView::SignatureAlgorithm() const {
  const X509_ALGOR* algorithm = nullptr;
  X509_REQ_get0_signature(FRequest.get(), nullptr, &algorithm);
  const ASN1_OBJECT* object = nullptr;
  if (algorithm != nullptr) X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
  if (object == nullptr) return "(unknown)";
  const int nid = OBJ_obj2nid(object);
  return nid != NID_undef ? OBJ_nid2ln(nid) : ObjectName(object);
}

std::size_t TCSRView::NameCount() const {
  std::size_t count =
      static_cast<std::size_t>(X509_NAME_entry_count(X509_REQ_get_subject_name(FRequest.get())));
  X509_EXTENSIONStackPtr extensions;
  try {
    extensions = ExtensionsOf(FRequest.get());
  } catch (const Exception&) {
    return count;
  }
  for (int i = 0; extensions && i < sk_X509_EXTENSION_num(extensions.get()); ++i) {
    X509_EXTENSION* extension = sk_X509_EXTENSION_value(extensions.get(), i);
    if (OBJ_obj2nid(X509_EXTENSION_get_object(extension)) != NID_subject_alt_name) continue;
    TolerateErrors tolerate;
    const GENERAL_NAMESPtr names(static_cast<GENERAL_NAMES*>(X509V3_EXT_d2i(extension)));
    if (names) count += static_cast<std::size_t>(sk_GENERAL_NAME_num(names.get()));
  }
  return count;
}

std::vector<std::string> TCSRView::RequestedExtensionTexts() const {
  std::vector<std::string> texts;
  X509_EXTENSIONStackPtr extensions;
  try {
    extensions = ExtensionsOf(FRequest.get());
  } catch (const Exception&) {
    return {"(unreadable)"};
  }
  for (int i = 0; extensions && i < sk_X509_EXTENSION_num(extensions.get()); ++i) {
    X509_EXTENSION* extension = sk_X509_EXTENSION_value(extensions.get(), i);
    std::string text = ObjectName(X509_EXTENSION_get_object(extension)) + ": ";
    BIOPtr out(BIO_new(BIO_s_mem()));
    TolerateErrors tolerate;
    if (out && X509V3_EXT_print(out.get(), extension, 0, 0) == 1)
      text += OnOneLine(BioToString(out.get()));
    else
      text += "(unreadable)";
    if (X509_EXTENSION_get_critical(extension) != 0) text += " (critical)";
    texts.push_back(std::move(text));
  }
  return texts;
}

namespace {

// One extension into Content; false for one the builder has no setting for.
bool ReadKnownExtension(X509_EXTENSION* Extension, TCSRContent& Content) {
  switch (OBJ_obj2nid(X509_EXTENSION_get_object(Extension))) {
    case NID_subject_alt_name: ReadAlternativeNames(Extension, Content); return true;
    case NID_basic_constraints: ReadBasicConstraints(Extension, Content); return true;
    case NID_key_usage: ReadKeyUsage(Extension, Content); return true;
    case NID_ext_key_usage: ReadExtKeyUsage(Extension, Content); return true;
    default: return false;
  }
}

// Extensions a certificate carries that a new one gets afresh or that are read elsewhere.
bool MadeAfresh(X509_EXTENSION* Extension) {
  const int nid = OBJ_obj2nid(X509_EXTENSION_get_object(Extension));
  return nid == NID_subject_key_identifier || nid == NID_authority_key_identifier ||
         nid == NID_name_constraints;
}

}  // namespace

TCSRContent TCSRView::Content() const {
  StartWithEmptyErrorQueue();
  TCSRContent content;
  ReadSubject(X509_REQ_get_subject_name(FRequest.get()), content);
  const X509_EXTENSIONStackPtr extensions = ExtensionsOf(FRequest.get());
  TolerateErrors tolerate;  // a decoder's notes about a refused value are not kept
  for (int i = 0; extensions && i < sk_X509_EXTENSION_num(extensions.get()); ++i) {
    X509_EXTENSION* extension = sk_X509_EXTENSION_value(extensions.get(), i);
    if (!ReadKnownExtension(extension, content))
      content.OtherExtensions.push_back(ObjectName(X509_EXTENSION_get_object(extension)));
  }
  return content;
}

TCSRContent CertificateContent(const TCertificateView& Cert) {
  StartWithEmptyErrorQueue();
  TCSRContent content;
  ReadSubject(X509_get_subject_name(Cert.Handle()), content);
  TolerateErrors tolerate;  // a decoder's notes about a refused value are not kept
  for (int i = 0; i < X509_get_ext_count(Cert.Handle()); ++i) {
    X509_EXTENSION* extension = X509_get_ext(Cert.Handle(), i);
    if (!ReadKnownExtension(extension, content) && !MadeAfresh(extension))
      content.OtherExtensions.push_back(ObjectName(X509_EXTENSION_get_object(extension)));
  }
  return content;
}

std::string TCSRView::PEM() const {
  TolerateErrors tolerate;
  BIOPtr out(BIO_new(BIO_s_mem()));
  if (!out || PEM_write_bio_X509_REQ(out.get(), FRequest.get()) != 1) return {};
  return BioToString(out.get());
}

}  // namespace velmora
