// The readable facts of one certificate, as the store panel and `velmora-cli info` show them
// after the key facts: whom it names and who issued it, when it is valid, what its
// extensions allow and its fingerprints.
#pragma once

#include "crypto/CertificateView.h"

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// "Subject: ...", "Issuer: ...", "Serial: ...", "Not Before: ...", "Not After: ... (expires in
// N days)", then one line for each of the alternative names, basic constraints, key usage,
// extended key usage, subject and authority key identifiers the certificate carries, then
// "Signature Algorithm: ..." and the SHA-256 and SHA-1 fingerprints. Dates are local time.
std::vector<std::string> CertificateDetailLines(const X509* Cert, std::time_t Now);

// "(expires in 3 days)", "(expires today)", "(expired 1 day ago)", "(expired today)": whole
// days to go or gone, rounded down.
std::string ExpiryNote(std::time_t NotAfter, std::time_t Now);

// The certificate's dates as seconds since the epoch; empty for a date libcrypto cannot read.
std::optional<std::time_t> NotBeforeOf(const X509* Cert);
std::optional<std::time_t> NotAfterOf(const X509* Cert);

}  // namespace velmora
