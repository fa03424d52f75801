// The certificate request: what a form or a command line says the next certificate should
// be, as plain data, and its application to a builder.
#pragma once

#include "core/Defaults.h"
#include "crypto/CertBuilder.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct TCertRequest {
  TSubjectDN Subject;
  std::int32_t ValidDays = kDefaultValidDays;
  bool IsCA = false;
  std::int32_t PathLenConstraint = 0;  // used only for a CA; -1 for no limit
  TKeyUsageSet KeyUsage{kuDigitalSignature, kuKeyEncipherment};
  TExtKeyUsageSet ExtKeyUsage{ekuServerAuth, ekuClientAuth};
  std::vector<std::string> SANDNSNames;
  std::vector<std::string> SANIPs;
  std::vector<std::string> SANEmails;
  // Name constraints, used only for a CA: the subtrees as NameConstraintsFromList gives them.
  std::vector<std::string> PermittedNames;
  std::vector<std::string> ExcludedNames;
  // The CRL distribution point written into the certificate; empty: none.
  std::string CRLURL;
};

// Raises Exception unless a certificate valid for Days from Now can be made: one of no days or
// fewer would have expired when it is issued ("The validity must be at least one day."), and
// no certificate time reaches past the year 9999. Both front ends ask this before they make a
// key, and the issuance asks again.
void RequireValidValidity(std::int32_t Days, std::time_t Now);
void RequireValidValidity(std::int32_t Days);

// Copies the request into the builder's settings. Nothing is checked here: the builder
// decides what it makes of a value.
void ApplyRequestToBuilder(const TCertRequest& Request, TCertBuilder& Builder);

// The pieces between commas, each trimmed; empty pieces are dropped, order and duplicates
// kept.
std::vector<std::string> SplitCommaList(const std::string& Text);

// A comma-separated list of name constraints, each a DNS domain ("example.org" for it and the
// names under it, ".example.org" for the names under it only), an IP range in CIDR form
// ("10.0.0.0/8", "fd00::/8") or a mail domain ("@example.org"); blanks around the items are
// dropped. Raises "Invalid name constraint "<item>"." for the first item that is none.
std::vector<std::string> NameConstraintsFromList(const std::string& List);

// Usages by the names X.509 gives them ("digitalSignature", "serverAuth"; "nonRepudiation"
// is the older name of "contentCommitment"), as the command line takes them.
std::optional<TKeyUsage> KeyUsageByName(std::string_view Name);
std::optional<TExtKeyUsage> ExtKeyUsageByName(std::string_view Name);
// A comma-separated list of such names; raises "Unknown key usage "<name>"." or
// "Unknown extended key usage "<name>"." for a name that is none.
TKeyUsageSet KeyUsagesFromList(const std::string& List);
TExtKeyUsageSet ExtKeyUsagesFromList(const std::string& List);

}  // namespace velmora
