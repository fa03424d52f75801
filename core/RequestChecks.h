// Checks before issuing: what in a certificate request would give a certificate that
// verifiers reject or that does not do what its usages promise. Each finding is one plain
// sentence naming the problem and why it matters; the user decides whether to issue anyway.
#pragma once

#include "core/CertRequest.h"
#include "crypto/CertificateView.h"
#include "crypto/NameConstraints.h"
#include "crypto/OpenSSLWrapper.h"

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// What the checks need to know of the certificate's key pair.
struct TKeyFacts {
  TKeyType Type = ktECC;
  // RSA: the modulus; EC: the order of the curve's group; Edwards: 256 for Ed25519, 448 for
  // Ed448 (twice the security bits, as for any other key)
  std::int32_t Bits = 0;
};

// "Ed25519" or "Ed448" for an Edwards-curve key of those facts.
std::string EdAlgorithmOf(const TKeyFacts& Key);

// The facts of a key as crypto reads them (PublicKeyFactsOf); a key of another family counts
// as EC by its security bits, which is what the size check asks. No key: EC of 0 bits.
TKeyFacts KeyFactsOf(const TPublicKeyFacts& Key);

// The findings for Request issued with a key of those facts, signed by CACert (borrowed; null
// for a self-signed certificate), at the time Now. Empty when nothing was found. The order is
// fixed: usages, names, validity, key, then the CA (its name constraints last).
std::vector<std::string> CheckRequest(const TCertRequest& Request, const TKeyFacts& Key,
                                      X509* CACert, std::time_t Now);
std::vector<std::string> CheckRequest(const TCertRequest& Request, const TKeyFacts& Key,
                                      X509* CACert);

// The request's names that a CA under Constraints may not issue for, in the request's order:
// the alternative names (DNS, IP, e-mail), a common name that is a host name when there is no
// DNS alternative name, and the subject's e-mail address.
std::vector<std::string> NamesOutside(const TCertRequest& Request,
                                      const TNameConstraints& Constraints);

// Why Name is no DNS name that a certificate should carry, or empty when it is one: letters,
// digits and hyphens in labels of 1 to 63 characters that neither start nor end with a hyphen,
// at most 253 characters in all, a wildcard only as the whole leftmost label of a longer name
// and never directly over a public suffix ("*.com", "*.co.uk").
std::string DNSNameProblem(std::string_view Name);

// Puts the common name among the alternative names when TLS clients would otherwise accept the
// certificate for no server: a TLS server certificate without DNS or IP alternative names
// whose common name is a DNS name or an IP address. Those clients look only at the alternative
// names; the common name is a leftover of the 1990s. True when it added the name.
bool AddCommonNameAsAlternativeName(TCertRequest& Request);

}  // namespace velmora
