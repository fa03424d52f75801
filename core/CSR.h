// Certificate requests (PKCS#10) in the store and on the command line: reading one safely,
// and the copy policy that turns what a request asks for into the certificate that is issued.
#pragma once

#include "core/CertRequest.h"
#include "crypto/CSR.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// More names than any real request holds (subject attributes and alternative names together):
// a request with thousands would only make a certificate no client handles well.
inline constexpr std::size_t kMaxCSRNames = 1000;

// The request in the file at Path, opened and read as the CA files are (one open, checked
// through its descriptor, at most kMaxCertificateFileSize bytes), whose own signature verifies
// and whose subject and requested extensions can be used. Raises Exception naming the file
// and what is wrong with it: unreadable, too large, a certificate, key or bundle instead of a
// request, damaged, not verifying, too many names, a subject that is not UTF-8.
TCSRView ReadCSRFile(const std::string& Path);

// The request in Bytes, with the checks of ReadCSRFile; Name is the file named in messages.
TCSRView ReadCSRBytes(const std::string& Bytes, const std::string& Name);

// The checks of ReadCSRFile on a request already read: its signature verifies, it holds no
// more than kMaxCSRNames names, and its subject and requested extensions can be used.
void CheckCSRUsable(const TCSRView& View, const std::string& Name);

// Takes the private key in the file at Path as the builder's key pair (PEM or DER, PKCS#8 or
// traditional, encrypted under Password or not), read as the CA files are. Raises Exception
// naming the file and what is wrong.
void UseKeyFile(TCertBuilder& Builder, const std::string& Path, const std::string& Password);

// What the user set against the request; whatever is unset is taken from the request.
struct TCSREdits {
  std::optional<TSubjectDN> Subject;
  std::optional<std::vector<std::string>> SANDNSNames;
  std::optional<std::vector<std::string>> SANIPs;
  std::optional<std::vector<std::string>> SANEmails;
  std::optional<TKeyUsageSet> KeyUsage;
  std::optional<TExtKeyUsageSet> ExtKeyUsage;
  // The issuer's "This is a CA certificate": only this makes a CA certificate.
  bool GrantCA = false;
  std::optional<std::int32_t> PathLenConstraint;
};

struct TCSRIssuePlan {
  // The certificate to issue, as a form would hold it.
  TCertRequest Certificate;
  // Log lines: each requested extension, name and usage that is not copied, and the common
  // name taken as an alternative name.
  std::vector<std::string> Log;
  // Sentences for the checks before issuing: a CA that was asked for and not granted.
  std::vector<std::string> Findings;
  // "requested vs. issued", one line for each of subject, alternative names, CA, key usage,
  // extended key usage and other extensions.
  std::vector<std::string> Comparison;
};

// The copy policy. Subject and alternative names come from the request unless edited; key
// identifiers are never copied (the issuer makes them afresh); a CA is issued only when the
// issuer grants it, and a request asking for one that is not granted gets a finding; the key
// usage and extended key usage are copied (Defaults' where the request has none) and the
// checks before issuing see them as they would any other; every other requested extension is
// dropped and named in the log; a common name that is a host name or IP address becomes the
// alternative name when there is none. Defaults gives validity, path length and the usages
// the request does not ask for (the chosen profile's).
TCSRIssuePlan PlanCSRIssue(const TCSRContent& Requested, const TCertRequest& Defaults,
                           const TCSREdits& Edits);

// The File Info lines of a request: subject, public key type and size, signature verifies or
// not, SHA-256 of the public key, each requested extension.
std::vector<std::string> CSRDetailLines(const TCSRView& Request);
// The key type whose profile usages suit a key of Family (EC for one not known).
TKeyType KeyTypeOf(TKeyFamily Family);

// "EC P-256", "RSA 2048", "Ed25519": the request's key as the window names it.
std::string CSRKeyText(const TCSRView& Request);

}  // namespace velmora
