#include "core/CertDetails.h"

#include "core/Store.h"
#include "core/StoreExpiry.h"
#include "crypto/CertificateView.h"

#include <cstdint>
#include <utility>

namespace velmora {

namespace {

std::string DateLine(const char* Label, const std::optional<std::time_t>& When) {
  if (!When) return std::string(Label) + "(unreadable)";
  return Label + TDateTimeFormat().Text(*When, false).toStdString();
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

std::optional<std::time_t> NotBeforeOf(const X509* Cert) {
  return TCertificateView(Cert).NotBefore();
}

std::optional<std::time_t> NotAfterOf(const X509* Cert) {
  return TCertificateView(Cert).NotAfter();
}

std::vector<std::string> CertificateDetailLines(const X509* Cert, std::time_t Now) {
  const TCertificateView view(Cert);
  std::vector<std::string> lines;
  lines.push_back("Subject: " + view.SubjectText());
  lines.push_back("Issuer: " + view.IssuerText());
  std::string serial = view.SerialHex();
  if (serial.empty()) serial = "(unreadable)";
  lines.push_back("Serial: " + serial);
  lines.push_back(DateLine("Not Before: ", view.NotBefore()));
  const std::optional<std::time_t> notAfter = view.NotAfter();
  std::string until = DateLine("Not After: ", notAfter);
  if (notAfter) until += " " + ExpiryNote(*notAfter, Now);
  lines.push_back(std::move(until));

  const std::pair<const char*, TCertExtension> extensions[] = {
      {"Alternative Names: ", TCertExtension::SubjectAltName},
      {"Basic Constraints: ", TCertExtension::BasicConstraints},
      {"Key Usage: ", TCertExtension::KeyUsage},
      {"Extended Key Usage: ", TCertExtension::ExtKeyUsage},
      {"Subject Key Identifier: ", TCertExtension::SubjectKeyId},
      {"Authority Key Identifier: ", TCertExtension::AuthorityKeyId},
  };
  for (const auto& [label, which] : extensions)
    if (const std::optional<std::string> text = view.ExtensionText(which))
      lines.push_back(label + *text);

  lines.push_back("Signature Algorithm: " + view.SignatureAlgorithm());
  lines.push_back("SHA-256 Fingerprint: " + view.Fingerprint(TFingerprintDigest::SHA256));
  lines.push_back("SHA-1 Fingerprint: " + view.Fingerprint(TFingerprintDigest::SHA1));
  return lines;
}

}  // namespace velmora
