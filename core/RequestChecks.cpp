#include "core/RequestChecks.h"

#include "core/Defaults.h"
#include "core/IPAddress.h"
#include "core/ValueConventions.h"
#include "crypto/CertificateView.h"
#include "crypto/NameConstraints.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

namespace velmora {

namespace {

std::string LowerCaseASCII(std::string_view Text) {
  std::string lower(Text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

// Public suffixes of two labels under which registrars hand out names to anyone; a wildcard
// directly over one of them would cover unrelated sites. A single label is a top-level domain
// and always counts: browsers refuse a wildcard over any of them, known or not.
constexpr std::string_view kTwoLabelPublicSuffixes[] = {
    "co.uk",  "org.uk", "me.uk",  "ltd.uk", "plc.uk", "net.uk", "ac.uk",  "gov.uk", "nhs.uk",
    "com.au", "net.au", "org.au", "edu.au", "gov.au", "id.au",  "co.nz",  "net.nz", "org.nz",
    "co.jp",  "ne.jp",  "or.jp",  "ac.jp",  "go.jp",  "co.kr",  "or.kr",  "com.cn", "net.cn",
    "org.cn", "gov.cn", "com.hk", "com.tw", "com.sg", "com.my", "co.in",  "net.in", "org.in",
    "co.id",  "co.il",  "co.th",  "com.br", "net.br", "org.br", "com.ar", "com.mx", "com.co",
    "com.pe", "co.za",  "org.za", "com.tr", "com.ua", "com.pl", "co.at",  "or.at",  "com.es",
    "com.pt", "com.ru", "com.eg", "com.sa", "com.ng",
};

bool IsPublicSuffix(std::string_view Suffix) {
  if (Suffix.find('.') == std::string_view::npos) return true;
  const std::string lower = LowerCaseASCII(Suffix);
  return std::find(std::begin(kTwoLabelPublicSuffixes), std::end(kTwoLabelPublicSuffixes), lower) !=
         std::end(kTwoLabelPublicSuffixes);
}

bool IsHostNameLabel(std::string_view Label) {
  if (Label.empty() || Label.size() > 63 || Label.front() == '-' || Label.back() == '-')
    return false;
  return std::all_of(Label.begin(), Label.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
  });
}

std::vector<std::string_view> Labels(std::string_view Name) {
  std::vector<std::string_view> labels;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = Name.find('.', start);
    labels.push_back(Name.substr(start, dot - start));
    if (dot == std::string_view::npos) return labels;
    start = dot + 1;
  }
}

// "2031-04-17": the date of a certificate time in UTC, the same in every locale.
std::string DateOf(std::time_t Time) {
  std::tm tm{};
  if (::gmtime_r(&Time, &tm) == nullptr) return "an unreadable date";
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
  return text;
}

// ---- The checks, each adding its findings ----

void CheckKeyUsages(const TCertRequest& Request, const TKeyFacts& Key,
                    std::vector<std::string>& Findings) {
  const TKeyUsageSet& usage = Request.KeyUsage;
  if (Request.IsCA && !usage.contains(kuKeyCertSign))
    Findings.push_back(
        "A CA certificate without Key Cert Sign cannot issue certificates: verifiers reject "
        "every certificate it signs.");
  if (!Request.IsCA && usage.contains(kuKeyCertSign))
    Findings.push_back(
        "Key Cert Sign on a certificate that is not a CA: RFC 5280 allows it only with the CA "
        "flag, and strict verifiers (OpenSSL) reject the certificate.");
  const std::pair<TKeyUsage, const char*> encipherment[] = {
      {kuKeyEncipherment, "Key Encipherment"}, {kuDataEncipherment, "Data Encipherment"}};
  for (const auto& [member, name] : encipherment)
    if (Key.Type == ktECC && usage.contains(member))
      Findings.push_back(std::string(name) +
                         " with an EC key: an EC key cannot encipher, and RFC 8813 forbids this "
                         "usage for it.");
  const std::pair<TKeyUsage, const char*> edwardsForbidden[] = {
      {kuKeyEncipherment, "Key Encipherment"},
      {kuDataEncipherment, "Data Encipherment"},
      {kuKeyAgreement, "Key Agreement"}};
  for (const auto& [member, name] : edwardsForbidden)
    if (Key.Type == ktEdwards && usage.contains(member))
      Findings.push_back(std::string(name) + " with an " + EdAlgorithmOf(Key) + " key: an " +
                         EdAlgorithmOf(Key) +
                         " key only signs, and RFC 8410 forbids this usage for it.");
  const std::pair<TKeyUsage, const char*> qualifiers[] = {{kuEncipherOnly, "Encipher Only"},
                                                          {kuDecipherOnly, "Decipher Only"}};
  for (const auto& [member, name] : qualifiers)
    if (!usage.contains(kuKeyAgreement) && usage.contains(member))
      Findings.push_back(std::string(name) +
                         " without Key Agreement: it only qualifies Key Agreement (RFC 5280), and "
                         "some libraries (Python's cryptography) refuse to read the certificate.");
  if (Request.ExtKeyUsage.contains(ekuTimeStamping) &&
      Request.ExtKeyUsage != TExtKeyUsageSet{ekuTimeStamping})
    Findings.push_back(
        "Time Stamping together with other extended key usages: RFC 3161 wants it as the only "
        "one, and time-stamp verifiers reject the certificate.");
}

bool IsTLSServer(const TCertRequest& Request) {
  return !Request.IsCA && Request.ExtKeyUsage.contains(ekuServerAuth);
}

void CheckNames(const TCertRequest& Request, std::vector<std::string>& Findings) {
  if (IsTLSServer(Request) && Request.SANDNSNames.empty() && Request.SANIPs.empty())
    Findings.push_back(
        "TLS Server Authentication without a DNS name or IP address among the alternative "
        "names: browsers and current TLS clients ignore the Common Name, so they accept the "
        "certificate for no server.");
  for (const std::string& name : Request.SANDNSNames)
    if (std::string problem = DNSNameProblem(name); !problem.empty())
      Findings.push_back(std::move(problem));
  for (const std::string& email : Request.SANEmails) {
    const std::size_t at = email.find('@');
    if (at == std::string::npos || at == 0 || at + 1 == email.size() ||
        email.find('@', at + 1) != std::string::npos)
      Findings.push_back("The e-mail alternative name " + Quoted(email) +
                         " is not a mail address: it needs exactly one \"@\" with a name before "
                         "it and a domain after it.");
  }
  if (!Request.IsCA && Request.ExtKeyUsage.contains(ekuEmailProtection) &&
      Request.SANEmails.empty() && Request.Subject.Email.empty())
    Findings.push_back(
        "Email Protection without an e-mail address (among the alternative names or in the "
        "subject): mail programs find a certificate by its address, so they never use this "
        "one.");
}

void CheckValidity(const TCertRequest& Request, std::vector<std::string>& Findings) {
  // A validity under one day is no judgement call: issuing refuses it (RequireValidValidity).
  if (!IsTLSServer(Request)) return;
  const std::string days = std::to_string(Request.ValidDays);
  if (Request.ValidDays > kMaxTLSServerDays)
    Findings.push_back("A TLS server certificate valid for " + days +
                       " days: browsers accept at most " + std::to_string(kMaxTLSServerDays) +
                       " days from a public certificate "
                       "authority.");
  if (Request.ValidDays > 825)
    Findings.push_back("A TLS server certificate valid for " + days +
                       " days: Apple platforms (macOS, iOS) accept at most 825 days, from any "
                       "certificate authority.");
}

void CheckKeySize(const TKeyFacts& Key, std::vector<std::string>& Findings) {
  if (Key.Bits <= 0) return;
  const std::string bits = std::to_string(Key.Bits);
  if (Key.Type == ktRSA && Key.Bits < 2048)
    Findings.push_back("An RSA key of " + bits +
                       " bits: keys under 2048 bits are refused by current verifiers (OpenSSL "
                       "and GnuTLS at their default levels, browsers).");
  if (Key.Type == ktECC && Key.Bits < 256)
    Findings.push_back("An EC key on a " + bits +
                       "-bit curve: certificate authorities and browsers accept no curve under "
                       "256 bits (P-256, P-384 and P-521 are the usual ones).");
}

std::string DateOf(const std::optional<std::time_t>& Time) {
  return Time ? DateOf(*Time) : "an unreadable date";
}

// Edwards-curve certificates are fine for OpenSSL, GnuTLS and Go, but the browsers' TLS
// stacks accept no Ed25519 or Ed448 certificate; a web server with one is unreachable for them.
void CheckKeyForTLS(const TCertRequest& Request, const TKeyFacts& Key,
                    std::vector<std::string>& Findings) {
  if (Key.Type != ktEdwards || Request.IsCA ||
      !(Request.ExtKeyUsage.contains(ekuServerAuth) || Request.ExtKeyUsage.contains(ekuClientAuth)))
    return;
  Findings.push_back("A TLS server or client certificate with an " + EdAlgorithmOf(Key) +
                     " key: current browsers do not accept Edwards-curve certificates in TLS "
                     "(OpenSSL, GnuTLS and Go do).");
}

// Verifiers check every name of a certificate against the constraints of each CA above it;
// one name outside makes them refuse the whole certificate.
void CheckNameConstraints(const TCertRequest& Request, X509* CACert,
                          std::vector<std::string>& Findings) {
  if (CACert == nullptr) return;
  for (const std::string& name : NamesOutside(Request, NameConstraintsOf(CACert)))
    Findings.push_back("The CA may not issue for " + name +
                       ": clients will refuse this certificate.");
}

void CheckCA(const TCertRequest& Request, X509* CACert, std::time_t Now,
             std::vector<std::string>& Findings) {
  if (CACert == nullptr) return;
  // A certificate libcrypto finds odd is judged by what it can read: a date that does not read
  // is neither past nor future. A time equal to now counts as past, as libcrypto compares.
  const TCertificateView ca(CACert);
  const std::optional<std::time_t> notBefore = ca.NotBefore();
  const std::optional<std::time_t> notAfter = ca.NotAfter();
  const bool expired = notAfter && *notAfter <= Now;
  if (expired)
    Findings.push_back("The CA certificate expired on " + DateOf(notAfter) +
                       ": nothing it signs verifies.");
  if (notBefore && *notBefore > Now)
    Findings.push_back("The CA certificate is not valid before " + DateOf(notBefore) +
                       ": nothing it signs verifies until then.");
  // A certificate that is no CA at all, or whose key usage forbids signing certificates, is
  // refused before the checks run: every verifier rejects what it signs.
  const TSignerFacts signer = SignerFactsOf(CACert);
  if (!signer.HasKeyUsage)
    Findings.push_back(
        "The CA certificate has no key usage extension: RFC 5280 requires one with Key Cert "
        "Sign, and strict verifiers (OpenSSL) reject every certificate it signs.");
  // Issuing is fine, but the certificate can never be withdrawn: a revocation list signed by
  // this CA is rejected by every relying party.
  if (signer.CanSignCertificates() && ca.MaySignCRLs() == false)
    Findings.push_back(
        "The CA certificate does not allow signing revocation lists (cRLSign): the new "
        "certificate cannot be revoked.");
  if (Request.ValidDays > 0 && !expired) {
    // By whole days, as validity is given: a CA and a certificate of equal validity made
    // minutes apart end on the same day, and nobody means the minutes between.
    const std::time_t end = Now + static_cast<std::time_t>(Request.ValidDays) * 86400;
    const std::time_t dayBeforeEnd = end - 86400;
    if (notAfter && *notAfter <= dayBeforeEnd)
      Findings.push_back("The CA certificate expires on " + DateOf(notAfter) +
                         ", before the new certificate would (" + DateOf(end) +
                         "): from then on the new certificate no longer verifies.");
  }
  if (Request.IsCA && signer.IsCA && ca.PathLength() == 0L)
    Findings.push_back(
        "The CA certificate allows no CA below it (path length 0): certificates that the new "
        "CA issues will not verify.");
  // A weak CA signs as readily as a strong one; what it signs fails later, at the verifier.
  if (signer.KeyFamily == ctRSA && signer.KeyBits > 0 && signer.KeyBits < 2048)
    Findings.push_back("The CA's RSA key has only " + std::to_string(signer.KeyBits) +
                       " bits: current verifiers (OpenSSL and GnuTLS at their default levels, "
                       "browsers) reject certificates signed with a key under 2048 bits.");
  if (!signer.WeakSignatureDigest.empty())
    Findings.push_back("The CA certificate is signed with " + signer.WeakSignatureDigest +
                       ", which no longer protects a signature: browsers and current TLS "
                       "libraries reject a chain through it unless the CA is itself a trusted "
                       "root.");
}

}  // namespace

std::vector<std::string> NamesOutside(const TCertRequest& Request,
                                      const TNameConstraints& Constraints) {
  std::vector<std::string> outside;
  if (Constraints.empty()) return outside;
  const auto check = [&](TNameKind Kind, const std::string& Name) {
    if (!NamePermitted(Constraints, Kind, Name)) outside.push_back(Name);
  };
  for (const std::string& name : Request.SANDNSNames) check(TNameKind::DNS, name);
  // Without DNS alternative names, OpenSSL judges a common name that looks like a host name
  // ("www.example.org") by the DNS constraints instead.
  const std::string& cn = Request.Subject.CN;
  if (Request.SANDNSNames.empty() && cn.find('.') != std::string::npos &&
      cn.find('*') == std::string::npos && DNSNameProblem(cn).empty())
    check(TNameKind::DNS, cn);
  for (const std::string& ip : Request.SANIPs) check(TNameKind::IP, ip);
  for (const std::string& email : Request.SANEmails) check(TNameKind::Email, email);
  // The subject's e-mail address is checked against the mail constraints too (RFC 5280).
  if (!Request.Subject.Email.empty()) check(TNameKind::Email, Request.Subject.Email);
  return outside;
}

std::string EdAlgorithmOf(const TKeyFacts& Key) { return Key.Bits == 448 ? kEd448 : kEd25519; }

TKeyFacts KeyFactsOf(const TPublicKeyFacts& Key) {
  TKeyFacts facts;
  facts.Type = Key.Family == ctRSA ? ktRSA : Key.Family == ctEdwards ? ktEdwards : ktECC;
  // An Edwards key's size is that of its curve (255 or 448 bits), which libcrypto reports only
  // as twice the security it gives.
  facts.Bits = Key.Family == ctRSA || Key.Family == ctECC ? Key.Bits : 2 * Key.SecurityBits;
  return facts;
}

bool AddCommonNameAsAlternativeName(TCertRequest& Request) {
  const std::string& name = Request.Subject.CN;
  if (!IsTLSServer(Request) || !Request.SANDNSNames.empty() || !Request.SANIPs.empty() ||
      name.empty())
    return false;
  if (IsIPAddress(name)) {
    Request.SANIPs.push_back(name);
    return true;
  }
  if (!DNSNameProblem(name).empty()) return false;
  Request.SANDNSNames.push_back(name);
  return true;
}

std::string DNSNameProblem(std::string_view Name) {
  const std::string quoted = Quoted(Name);
  if (IsIPAddress(Name))
    return "The DNS name " + quoted +
           " is an IP address: clients match addresses only against IP alternative names.";
  if (Name.size() > 253) return "The DNS name " + quoted + " is longer than 253 characters.";
  const std::vector<std::string_view> labels = Labels(Name);
  const bool wildcard = Name.find('*') != std::string_view::npos;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (wildcard && labels[i].find('*') != std::string_view::npos) {
      if (i != 0 || labels[i] != "*" || labels.size() < 2)
        return "The DNS name " + quoted +
               " has a wildcard that is not the whole leftmost label of a longer name; clients "
               "match \"*\" only there.";
      continue;
    }
    if (!IsHostNameLabel(labels[i]))
      return "The DNS name " + quoted +
             " is not a valid host name: labels hold only letters, digits and hyphens, neither "
             "start nor end with a hyphen, and are 1 to 63 characters long.";
  }
  if (wildcard) {
    const std::string_view suffix = Name.substr(2);
    if (IsPublicSuffix(suffix))
      return "The DNS name " + quoted + " is a wildcard directly over the public suffix " +
             Quoted(suffix) +
             ": it would cover every site under it, so clients refuse to match it.";
  }
  return {};
}

std::vector<std::string> CheckRequest(const TCertRequest& Request, const TKeyFacts& Key,
                                      X509* CACert, std::time_t Now) {
  std::vector<std::string> findings;
  CheckKeyUsages(Request, Key, findings);
  CheckNames(Request, findings);
  CheckValidity(Request, findings);
  CheckKeySize(Key, findings);
  CheckKeyForTLS(Request, Key, findings);
  CheckCA(Request, CACert, Now, findings);
  CheckNameConstraints(Request, CACert, findings);
  return findings;
}

std::vector<std::string> CheckRequest(const TCertRequest& Request, const TKeyFacts& Key,
                                      X509* CACert) {
  return CheckRequest(Request, Key, CACert, std::time(nullptr));
}

}  // namespace velmora
