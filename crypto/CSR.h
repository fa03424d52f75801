// Certificate requests (PKCS#10): reading one from PEM or DER, and a read-only view of what it
// asks for, so that code outside crypto can show, check and sign a request without calling
// libcrypto itself. Requests are made by TCertBuilder::BuildRequest.
#pragma once

#include "crypto/CertBuilder.h"
#include "crypto/CertificateView.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// The first request in Bytes: a PEM block ("CERTIFICATE REQUEST" or "NEW CERTIFICATE
// REQUEST") wherever it stands, otherwise DER that fills Bytes exactly. Null when neither
// reads; nothing is left in the error queue. With NotText, tells whether a request failed to
// read because a name in it holds a string that is not valid text in its type (a UTF8String
// that is no UTF-8): libcrypto refuses those while decoding.
X509_REQPtr ReadCSRPEMOrDER(const std::string& Bytes, bool* NotText = nullptr);

// What a request asks for, in the builder's terms. Whatever the builder has no setting for is
// named in the Other... lists, so that whoever issues can say what was left out.
struct TCSRContent {
  TSubjectDN Subject;
  // Subject attributes beyond TSubjectDN's fields, and repeats of its fields: "OU=Second".
  std::vector<std::string> OtherSubjectFields;
  std::vector<std::string> SANDNSNames;
  std::vector<std::string> SANIPs;
  std::vector<std::string> SANEmails;
  // Alternative names of other kinds, as libcrypto prints them ("URI:https://example.org").
  std::vector<std::string> OtherAlternativeNames;
  bool HasBasicConstraints = false;
  bool IsCA = false;
  std::int32_t PathLenConstraint = -1;  // -1: no limit given
  std::optional<TKeyUsageSet> KeyUsage;
  std::optional<TExtKeyUsageSet> ExtKeyUsage;
  // Extended key usages the builder cannot write, by name or dotted number.
  std::vector<std::string> OtherExtKeyUsages;
  // Requested extensions beyond basic constraints, key usage, extended key usage and
  // alternative names, by libcrypto's long name or their dotted number.
  std::vector<std::string> OtherExtensions;
};

// What a certificate carries, in the terms of a request's content, so that a certificate can
// be issued again (renewed) or serve as a form's template by the same copy policy as a
// request: subject, alternative names, basic constraints and usages. Key identifiers are not
// listed (every certificate gets its own) nor are name constraints (NameConstraintsOf reads
// those). Raises Exception as TCSRView::Content does.
TCSRContent CertificateContent(const TCertificateView& Cert);

class TCSRView;
// ReadCSRPEMOrDER's request, as a view; none when nothing reads.
std::optional<TCSRView> ReadCSRView(const std::string& Bytes, bool* NotText = nullptr);

class TCSRView {
 public:
  // Request must not be null.
  explicit TCSRView(X509_REQPtr Request);

  // Borrowed; the view keeps ownership.
  X509_REQ* Handle() const noexcept { return FRequest.get(); }
  // Borrowed; null when the request's key cannot be decoded.
  EVP_PKEY* PublicKey() const noexcept;

  // On one line, as TCertificateView::SubjectText prints a certificate's.
  std::string SubjectText() const;
  // Whether the request's signature verifies under the public key it carries: false for a
  // request changed after it was signed.
  bool Verifies() const;
  TPublicKeyFacts KeyFacts() const;
  // The SHA-256 of the DER SubjectPublicKeyInfo in lower-case hex (PublicKeyIdentity).
  std::string PublicKeySHA256() const;
  std::string SignatureAlgorithm() const;
  // The subject's attributes and the alternative names together.
  std::size_t NameCount() const;
  // Each requested extension as "<long name>: <value on one line>", " (critical)" appended
  // where it is marked so.
  std::vector<std::string> RequestedExtensionTexts() const;
  // Raises Exception when a subject value is not valid UTF-8 (or holds a NUL) or a requested
  // extension the builder would copy cannot be decoded.
  TCSRContent Content() const;
  std::string PEM() const;

 private:
  X509_REQPtr FRequest;
};

}  // namespace velmora
