// Name constraints of a CA certificate: the names under which it may issue (permitted) and
// those it may not (excluded), as the user writes them and as the certificate carries them.
#pragma once

#include "crypto/OpenSSLWrapper.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

enum class TNameKind : std::uint8_t { DNS, IP, Email };

// One subtree. Text is how the user writes it: "example.org" (that name and every name under
// it), ".example.org" (only the names under it), "10.0.0.0/8" or "fd00::/8", "@example.org"
// (every mailbox at that domain). Value is what the certificate carries: the DNS name, the
// mail domain (or a whole mailbox, or ".domain", as other tools write them), or for an IP
// range the address's bytes followed by the mask's (8 or 32 bytes).
struct TNameConstraint {
  TNameKind Kind = TNameKind::DNS;
  std::string Text;
  std::string Value;
};

// The constraint Item stands for; raises "Invalid name constraint "<item>"." for anything
// else, among it a range whose address has bits beyond its prefix (10.1.0.0/8): which of the
// two the user meant cannot be told.
TNameConstraint ParseNameConstraint(std::string_view Item);

// Whether Name (a DNS name, an IP address or a mail address, by Constraint's kind) lies
// inside Constraint, as verifiers (OpenSSL) decide it: DNS names and mail domains compare
// without letter case, "example.org" covers itself and names under it, ".example.org" only
// names under it, and an address matches a range of its own family only.
bool NameWithin(const TNameConstraint& Constraint, std::string_view Name);

struct TNameConstraints {
  std::vector<TNameConstraint> Permitted;
  std::vector<TNameConstraint> Excluded;
  bool empty() const noexcept { return Permitted.empty() && Excluded.empty(); }
};

// Whether Name of kind Kind may be issued under Constraints: inside one of the permitted
// subtrees of its kind when there is any, and inside none of the excluded ones.
bool NamePermitted(const TNameConstraints& Constraints, TNameKind Kind, std::string_view Name);

// The critical name constraints extension for the subtrees given in the user's way (each as
// ParseNameConstraint takes it, and raising as it does).
X509_EXTENSIONPtr NewNameConstraintsExtension(const std::vector<std::string>& Permitted,
                                              const std::vector<std::string>& Excluded);

// The DNS, IP and e-mail subtrees of Cert's name constraints (borrowed); empty when it has
// none. Subtrees of other kinds, which nothing here issues names of, are left out.
TNameConstraints NameConstraintsOf(X509* Cert);

}  // namespace velmora
