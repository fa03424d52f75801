#include "core/CertDetails.h"

#include "core/Store.h"
#include "core/StoreExpiry.h"
#include "crypto/CertBuilder.h"

#include <openssl/x509v3.h>

#include <cstdint>
#include <utility>

namespace velmora {

namespace {

// Blanks and line breaks that libcrypto's printers put around and inside a value become one
// line: "keyid:AB:CD\n" -> "keyid:AB:CD", a multi-line value joined with "; ".
std::string OneLine(const std::string& Text) {
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

std::string DateLine(const char* Label, const std::optional<std::time_t>& When) {
  if (!When) return std::string(Label) + "(unreadable)";
  return Label + TDateTimeFormat().Text(*When, false).toStdString();
}

std::string SerialText(const X509* Cert) {
  TolerateErrors tolerate;
  BIGNUMPtr serial(ASN1_INTEGER_to_BN(X509_get0_serialNumber(Cert), nullptr));
  if (!serial) return "(unreadable)";
  char* hex = BN_bn2hex(serial.get());
  if (!hex) return "(unreadable)";
  std::string text(hex);
  OPENSSL_free(hex);
  return text;
}

// libcrypto's own wording of an extension's value ("Digital Signature, Key Encipherment",
// "DNS:localhost, IP Address:127.0.0.1"), with " (critical)" when it is marked so.
std::optional<std::string> ExtensionText(X509* Cert, int Nid) {
  const int at = X509_get_ext_by_NID(Cert, Nid, -1);
  if (at < 0) return std::nullopt;
  X509_EXTENSION* extension = X509_get_ext(Cert, at);
  TolerateErrors tolerate;
  BIOPtr out(BIO_new(BIO_s_mem()));
  if (!out) return std::nullopt;
  std::string text;
  if (X509V3_EXT_print(out.get(), extension, 0, 0) == 1)
    text = OneLine(BioToString(out.get()));
  else
    text = "(unreadable)";
  if (X509_EXTENSION_get_critical(extension)) text += " (critical)";
  return text;
}

std::string SignatureAlgorithmText(const X509* Cert) {
  const X509_ALGOR* algorithm = nullptr;
  X509_get0_signature(nullptr, &algorithm, Cert);
  const ASN1_OBJECT* object = nullptr;
  X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
  char name[128] = {};
  if (!object || OBJ_obj2txt(name, sizeof name, object, 0) <= 0) return "(unknown)";
  return name;
}

}  // namespace

std::string ExpiryNote(std::time_t NotAfter, std::time_t Now) {
  const auto count = [](std::int64_t N) { return std::to_string(N) + (N == 1 ? " day" : " days"); };
  if (NotAfter < Now) {
    const std::int64_t ago = DaysLeft(Now, NotAfter);
    return ago == 0 ? "(expired today)" : "(expired " + count(ago) + " ago)";
  }
  const std::int64_t days = DaysLeft(NotAfter, Now);
  return days == 0 ? "(expires today)" : "(expires in " + count(days) + ")";
}

// Non-ASCII values print as the UTF-8 they are, not as escapes, and the fields keep the
// certificate's order, as `openssl x509 -subject` shows them.
std::string NameText(const X509_NAME* Name) {
  TolerateErrors tolerate;
  BIOPtr out(BIO_new(BIO_s_mem()));
  if (!out) return {};
  constexpr unsigned long kFlags =
      (XN_FLAG_ONELINE & ~XN_FLAG_SPC_EQ & ~ASN1_STRFLGS_ESC_MSB) | ASN1_STRFLGS_UTF8_CONVERT;
  if (X509_NAME_print_ex(out.get(), Name, 0, kFlags) < 0) return {};
  return BioToString(out.get());
}

std::optional<std::time_t> NotBeforeOf(const X509* Cert) {
  std::tm when{};
  if (ASN1_TIME_to_tm(X509_get0_notBefore(Cert), &when) != 1) return std::nullopt;
  return ::timegm(&when);
}

std::optional<std::time_t> NotAfterOf(const X509* Cert) {
  std::tm when{};
  if (ASN1_TIME_to_tm(X509_get0_notAfter(Cert), &when) != 1) return std::nullopt;
  return ::timegm(&when);
}

std::string CertificateFingerprint(const X509* Cert, const EVP_MD* Digest) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(Cert, Digest, digest, &length) != 1) return {};
  static const char hex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    if (i) text += ':';
    text += hex[digest[i] >> 4];
    text += hex[digest[i] & 0xF];
  }
  return text;
}

std::vector<std::string> CertificateDetailLines(X509* Cert, std::time_t Now) {
  std::vector<std::string> lines;
  lines.push_back("Subject: " + NameText(X509_get_subject_name(Cert)));
  lines.push_back("Issuer: " + NameText(X509_get_issuer_name(Cert)));
  lines.push_back("Serial: " + SerialText(Cert));
  lines.push_back(DateLine("Not Before: ", NotBeforeOf(Cert)));
  const std::optional<std::time_t> notAfter = NotAfterOf(Cert);
  std::string until = DateLine("Not After: ", notAfter);
  if (notAfter) until += " " + ExpiryNote(*notAfter, Now);
  lines.push_back(std::move(until));

  const std::pair<const char*, int> extensions[] = {
      {"Alternative Names: ", NID_subject_alt_name},
      {"Basic Constraints: ", NID_basic_constraints},
      {"Key Usage: ", NID_key_usage},
      {"Extended Key Usage: ", NID_ext_key_usage},
      {"Subject Key Identifier: ", NID_subject_key_identifier},
      {"Authority Key Identifier: ", NID_authority_key_identifier},
  };
  for (const auto& [label, nid] : extensions)
    if (const std::optional<std::string> text = ExtensionText(Cert, nid))
      lines.push_back(label + *text);

  lines.push_back("Signature Algorithm: " + SignatureAlgorithmText(Cert));
  lines.push_back("SHA-256 Fingerprint: " + CertificateFingerprint(Cert, EVP_sha256()));
  lines.push_back("SHA-1 Fingerprint: " + CertificateFingerprint(Cert, EVP_sha1()));
  return lines;
}

}  // namespace velmora
