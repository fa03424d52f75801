// The checks before issuing: which request gives which findings, word for word and in their
// order, and which DNS names pass.
#include "core/RequestChecks.h"
#include "crypto/CertBuilder.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace velmora {
namespace {

// ---- The findings' texts, "{date}" standing for a date in the form 2031-04-17 ----

const std::string kCAWithoutCertSign =
    "A CA certificate without Key Cert Sign cannot issue certificates: verifiers reject every "
    "certificate it signs.";
const std::string kCertSignWithoutCA =
    "Key Cert Sign on a certificate that is not a CA: RFC 5280 allows it only with the CA flag, "
    "and strict verifiers (OpenSSL) reject the certificate.";
const std::string kECKeyEncipherment =
    "Key Encipherment with an EC key: an EC key cannot encipher, and RFC 8813 forbids this "
    "usage for it.";
const std::string kECDataEncipherment =
    "Data Encipherment with an EC key: an EC key cannot encipher, and RFC 8813 forbids this "
    "usage for it.";
const std::string kEncipherOnly =
    "Encipher Only without Key Agreement: it only qualifies Key Agreement (RFC 5280), and some "
    "libraries (Python's cryptography) refuse to read the certificate.";
const std::string kDecipherOnly =
    "Decipher Only without Key Agreement: it only qualifies Key Agreement (RFC 5280), and some "
    "libraries (Python's cryptography) refuse to read the certificate.";
const std::string kTimeStampingWithOthers =
    "Time Stamping together with other extended key usages: RFC 3161 wants it as the only one, "
    "and time-stamp verifiers reject the certificate.";
const std::string kServerWithoutName =
    "TLS Server Authentication without a DNS name or IP address among the alternative names: "
    "browsers and current TLS clients ignore the Common Name, so they accept the certificate "
    "for no server.";
const std::string kEmailProtectionWithoutAddress =
    "Email Protection without an e-mail address (among the alternative names or in the "
    "subject): mail programs find a certificate by its address, so they never use this one.";
std::string NotAnAddress(const std::string& Name) {
  return "The e-mail alternative name \"" + Name +
         "\" is not a mail address: it needs exactly one \"@\" with a name before it and a "
         "domain after it.";
}
std::string OverPublicLimit(int Days) {
  return "A TLS server certificate valid for " + std::to_string(Days) +
         " days: browsers accept at most 398 days from a public certificate authority.";
}
std::string OverAppleLimit(int Days) {
  return "A TLS server certificate valid for " + std::to_string(Days) +
         " days: Apple platforms (macOS, iOS) accept at most 825 days, from any certificate "
         "authority.";
}
std::string WeakRSA(int Bits) {
  return "An RSA key of " + std::to_string(Bits) +
         " bits: keys under 2048 bits are refused by current verifiers (OpenSSL and GnuTLS at "
         "their default levels, browsers).";
}
std::string WeakCurve(int Bits) {
  return "An EC key on a " + std::to_string(Bits) +
         "-bit curve: certificate authorities and browsers accept no curve under 256 bits "
         "(P-256, P-384 and P-521 are the usual ones).";
}
const std::string kCAExpired = "The CA certificate expired on {date}: nothing it signs verifies.";
const std::string kCANotYetValid =
    "The CA certificate is not valid before {date}: nothing it signs verifies until then.";
const std::string kCAWithoutKeyUsage =
    "The CA certificate has no key usage extension: RFC 5280 requires one with Key Cert Sign, "
    "and strict verifiers (OpenSSL) reject every certificate it signs.";
const std::string kCAEndsFirst =
    "The CA certificate expires on {date}, before the new certificate would ({date}): from "
    "then on the new certificate no longer verifies.";
const std::string kCAAllowsNoCA =
    "The CA certificate allows no CA below it (path length 0): certificates that the new CA "
    "issues will not verify.";

// Whether Text is Pattern with a date wherever Pattern says "{date}".
bool MatchesPattern(const std::string& Text, const std::string& Pattern) {
  std::string expression;
  for (std::size_t at = 0; at < Pattern.size();) {
    if (Pattern.compare(at, 6, "{date}") == 0) {
      expression += "[0-9]{4}-[0-9]{2}-[0-9]{2}";
      at += 6;
      continue;
    }
    if (std::string("\\^$.|?*+()[]{}").find(Pattern[at]) != std::string::npos) expression += '\\';
    expression += Pattern[at++];
  }
  return std::regex_match(Text, std::regex(expression));
}

testing::AssertionResult FindingsAre(const std::vector<std::string>& Actual,
                                     const std::vector<std::string>& Expected) {
  bool same = Actual.size() == Expected.size();
  for (std::size_t i = 0; same && i < Actual.size(); ++i)
    same = MatchesPattern(Actual[i], Expected[i]);
  if (same) return testing::AssertionSuccess();
  testing::AssertionResult failure = testing::AssertionFailure() << "found:";
  for (const std::string& finding : Actual) failure << "\n  " << finding;
  failure << "\nexpected:";
  for (const std::string& finding : Expected) failure << "\n  " << finding;
  return failure;
}

// ---- CA certificates made by the builder ----

struct TCASettings {
  bool IsCA = true;
  std::int32_t PathLen = -1;
  TKeyUsageSet Usage{kuKeyCertSign, kuCRLSign};
  std::int32_t Days = 3650;
};

X509Ptr MakeCA(const TCASettings& Settings) {
  TCertBuilder builder;
  builder.Subject.CN = "Checks Test CA";
  builder.IsCA = Settings.IsCA;
  builder.PathLenConstraint = Settings.PathLen;
  builder.KeyUsage = Settings.Usage;
  builder.ExtKeyUsage = {};
  builder.ValidDays = Settings.Days;
  builder.GenerateKey();
  builder.BuildSelfSigned();
  return X509Ptr(X509_dup(builder.Cert()));
}

// ---- The table ----

// A request the checks find nothing in: an EC P-256 server and client certificate for one name.
TCertRequest CleanRequest() {
  TCertRequest request;
  request.Subject.CN = "checks.example";
  request.SANDNSNames = {"checks.example"};
  request.KeyUsage = {kuDigitalSignature};
  request.ExtKeyUsage = {ekuServerAuth, ekuClientAuth};
  request.ValidDays = 365;
  return request;
}

struct CheckCase {
  const char* name;
  std::function<void(TCertRequest&)> change = nullptr;
  TKeyFacts key = {ktECC, 256};
  std::optional<TCASettings> ca = std::nullopt;
  std::vector<std::string> findings = {};
  std::time_t shift = 0;  // seconds added to the time the checks run at
};

void PrintTo(const CheckCase& Case, std::ostream* Out) { *Out << Case.name; }

const CheckCase kCases[] = {
    {.name = "Clean"},
    // Usages
    {.name = "CAWithoutKeyCertSign",
     .change = [](TCertRequest& r) { r.IsCA = true; },
     .findings = {kCAWithoutCertSign}},
    {.name = "CAWithoutAnyKeyUsage",
     .change =
         [](TCertRequest& r) {
           r.IsCA = true;
           r.KeyUsage = {};
         },
     .findings = {kCAWithoutCertSign}},
    {.name = "CAWithKeyCertSign",
     .change =
         [](TCertRequest& r) {
           r.IsCA = true;
           r.KeyUsage = {kuKeyCertSign};
         }},
    {.name = "KeyCertSignWithoutCA",
     .change = [](TCertRequest& r) { r.KeyUsage.insert(kuKeyCertSign); },
     .findings = {kCertSignWithoutCA}},
    {.name = "ECKeyWithKeyEncipherment",
     .change = [](TCertRequest& r) { r.KeyUsage.insert(kuKeyEncipherment); },
     .findings = {kECKeyEncipherment}},
    {.name = "ECKeyWithDataEncipherment",
     .change = [](TCertRequest& r) { r.KeyUsage.insert(kuDataEncipherment); },
     .findings = {kECDataEncipherment}},
    {.name = "RSAKeyEnciphers",
     .change =
         [](TCertRequest& r) {
           r.KeyUsage = {kuKeyEncipherment, kuDataEncipherment};
         },
     .key = {ktRSA, 2048}},
    {.name = "EncipherOnlyWithoutKeyAgreement",
     .change = [](TCertRequest& r) { r.KeyUsage.insert(kuEncipherOnly); },
     .findings = {kEncipherOnly}},
    {.name = "DecipherOnlyWithoutKeyAgreement",
     .change = [](TCertRequest& r) { r.KeyUsage.insert(kuDecipherOnly); },
     .findings = {kDecipherOnly}},
    {.name = "BothOnlyBitsWithKeyAgreement",
     .change =
         [](TCertRequest& r) {
           r.KeyUsage = {kuKeyAgreement, kuEncipherOnly, kuDecipherOnly};
         }},
    {.name = "TimeStampingWithOtherPurposes",
     .change = [](TCertRequest& r) { r.ExtKeyUsage.insert(ekuTimeStamping); },
     .findings = {kTimeStampingWithOthers}},
    {.name = "TimeStampingAlone",
     .change = [](TCertRequest& r) { r.ExtKeyUsage = {ekuTimeStamping}; }},
    // Names
    {.name = "ServerWithoutAlternativeNames",
     .change = [](TCertRequest& r) { r.SANDNSNames.clear(); },
     .findings = {kServerWithoutName}},
    {.name = "ServerWithAnAddressOnly",
     .change =
         [](TCertRequest& r) {
           r.SANDNSNames.clear();
           r.SANIPs = {"192.0.2.1"};
         }},
    {.name = "ClientOnlyNeedsNoServerName",
     .change =
         [](TCertRequest& r) {
           r.SANDNSNames.clear();
           r.ExtKeyUsage = {ekuClientAuth};
         }},
    {.name = "CAWithServerAuthenticationNeedsNoServerName",
     .change =
         [](TCertRequest& r) {
           r.SANDNSNames.clear();
           r.IsCA = true;
           r.KeyUsage = {kuKeyCertSign};
           r.ValidDays = 3650;
         }},
    {.name = "InvalidDNSName",
     .change = [](TCertRequest& r) { r.SANDNSNames.push_back("my host!"); },
     .findings = {"The DNS name \"my host!\" is not a valid host name: labels hold only letters, "
                  "digits and hyphens, neither start nor end with a hyphen, and are 1 to 63 "
                  "characters long."}},
    {.name = "WildcardOverATopLevelDomain",
     .change =
         [](TCertRequest& r) {
           r.SANDNSNames = {"*.com", "*.checks.example"};
         },
     .findings = {"The DNS name \"*.com\" is a wildcard directly over the public suffix \"com\": "
                  "it would cover every site under it, so clients refuse to match it."}},
    {.name = "AddressWithoutAt",
     .change =
         [](TCertRequest& r) {
           r.SANEmails = {"nobody.example", "a@b.example"};
         },
     .findings = {NotAnAddress("nobody.example")}},
    {.name = "AddressesWithTwoAtsOrAnEmptySide",
     .change =
         [](TCertRequest& r) {
           r.SANEmails = {"a@b@c.example", "@c.example", "a@"};
         },
     .findings = {NotAnAddress("a@b@c.example"), NotAnAddress("@c.example"), NotAnAddress("a@")}},
    {.name = "EmailProtectionWithoutAddress",
     .change = [](TCertRequest& r) { r.ExtKeyUsage = {ekuEmailProtection}; },
     .findings = {kEmailProtectionWithoutAddress}},
    {.name = "EmailProtectionWithTheSubjectsAddress",
     .change =
         [](TCertRequest& r) {
           r.ExtKeyUsage = {ekuEmailProtection};
           r.Subject.Email = "me@checks.example";
         }},
    // Validity. Under one day is refused before the checks run (RequireValidValidity), so it
    // is no finding of theirs.
    {.name = "ZeroDaysIsLeftToTheRefusal", .change = [](TCertRequest& r) { r.ValidDays = 0; }},
    {.name = "NegativeDaysIsLeftToTheRefusal", .change = [](TCertRequest& r) { r.ValidDays = -3; }},
    {.name = "ServerFor398Days", .change = [](TCertRequest& r) { r.ValidDays = 398; }},
    {.name = "ServerFor399Days",
     .change = [](TCertRequest& r) { r.ValidDays = 399; },
     .findings = {OverPublicLimit(399)}},
    {.name = "ServerFor825Days",
     .change = [](TCertRequest& r) { r.ValidDays = 825; },
     .findings = {OverPublicLimit(825)}},
    {.name = "ServerFor826Days",
     .change = [](TCertRequest& r) { r.ValidDays = 826; },
     .findings = {OverPublicLimit(826), OverAppleLimit(826)}},
    {.name = "ClientForTenYears",
     .change =
         [](TCertRequest& r) {
           r.ValidDays = 3650;
           r.ExtKeyUsage = {ekuClientAuth};
         }},
    // Key
    {.name = "RSA1024", .key = {ktRSA, 1024}, .findings = {WeakRSA(1024)}},
    {.name = "RSA2048", .key = {ktRSA, 2048}},
    {.name = "CAWithRSA1024",
     .change =
         [](TCertRequest& r) {
           r.IsCA = true;
           r.KeyUsage = {kuKeyCertSign};
         },
     .key = {ktRSA, 1024},
     .findings = {WeakRSA(1024)}},
    {.name = "Curve224", .key = {ktECC, 224}, .findings = {WeakCurve(224)}},
    // The CA that signs
    {.name = "GoodCA", .ca = TCASettings{}},
    {.name = "ExpiredCA", .ca = TCASettings{.Days = -1}, .findings = {kCAExpired}},
    {.name = "CANotYetValid",
     .ca = TCASettings{},
     .findings = {kCANotYetValid},
     .shift = -2 * 86400},
    // A signer that is no CA is refused before the checks run, so it is no finding of theirs.
    {.name = "CertificateOfNoCAIsLeftToTheRefusal",
     .ca = TCASettings{.IsCA = false, .Usage = {kuDigitalSignature, kuKeyCertSign}}},
    {.name = "CAWithoutKeyCertSignUsageIsLeftToTheRefusal",
     .ca = TCASettings{.Usage = {kuDigitalSignature, kuCRLSign}}},
    {.name = "CAWithoutKeyUsageExtension",
     .ca = TCASettings{.Usage = {}},
     .findings = {kCAWithoutKeyUsage}},
    {.name = "CAEndingAMonthBefore", .ca = TCASettings{.Days = 335}, .findings = {kCAEndsFirst}},
    {.name = "CAEndingTheSameDay", .ca = TCASettings{.Days = 365}},
    {.name = "CAWithPathLengthZeroSigningACA",
     .change =
         [](TCertRequest& r) {
           r.IsCA = true;
           r.KeyUsage = {kuKeyCertSign};
         },
     .ca = TCASettings{.PathLen = 0},
     .findings = {kCAAllowsNoCA}},
    {.name = "CAWithPathLengthZeroSigningALeaf", .ca = TCASettings{.PathLen = 0}},
    // Several at once, in their fixed order.
    {.name = "ManyProblems",
     .change =
         [](TCertRequest& r) {
           r.KeyUsage = {kuKeyEncipherment, kuKeyCertSign};
           r.SANDNSNames = {"a..b"};
           r.ValidDays = 900;
         },
     .key = {ktECC, 224},
     .ca = TCASettings{.Usage = {}, .Days = 100},
     .findings = {kCertSignWithoutCA, kECKeyEncipherment,
                  "The DNS name \"a..b\" is not a valid host name: labels hold only letters, "
                  "digits and hyphens, neither start nor end with a hyphen, and are 1 to 63 "
                  "characters long.",
                  OverPublicLimit(900), OverAppleLimit(900), WeakCurve(224), kCAWithoutKeyUsage,
                  kCAEndsFirst}},
};

class RequestChecks : public testing::TestWithParam<CheckCase> {};

TEST_P(RequestChecks, FindExactlyTheProblemsOfTheRequest) {
  const CheckCase& c = GetParam();
  TCertRequest request = CleanRequest();
  if (c.change) c.change(request);
  const X509Ptr ca = c.ca ? MakeCA(*c.ca) : nullptr;
  const std::time_t now = std::time(nullptr) + c.shift;
  EXPECT_TRUE(FindingsAre(CheckRequest(request, c.key, ca.get(), now), c.findings));
}

INSTANTIATE_TEST_SUITE_P(Cases, RequestChecks, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CheckCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(RequestChecksDates, NameTheDaysOfTheCAAndOfTheNewCertificate) {
  const X509Ptr ca = MakeCA({.Days = 30});
  TCertRequest request = CleanRequest();
  request.ValidDays = 100;
  // Noon on 1 March 2040: the CA (made now) ended long before; a day after its making it
  // is still valid and ends before a certificate of 100 days would.
  const std::vector<std::string> later = CheckRequest(request, {ktECC, 256}, ca.get(), 2214216000);
  char caEnd[16];
  std::tm tm{};
  ASSERT_EQ(ASN1_TIME_to_tm(X509_get0_notAfter(ca.get()), &tm), 1);
  std::strftime(caEnd, sizeof caEnd, "%Y-%m-%d", &tm);
  EXPECT_EQ(later, std::vector<std::string>{"The CA certificate expired on " + std::string(caEnd) +
                                            ": nothing it signs verifies."});
  const std::time_t now = std::time(nullptr);
  char leafEnd[16];
  const std::time_t end = now + 100 * 86400;
  std::strftime(leafEnd, sizeof leafEnd, "%Y-%m-%d", ::gmtime_r(&end, &tm));
  EXPECT_EQ(CheckRequest(request, {ktECC, 256}, ca.get(), now),
            std::vector<std::string>{"The CA certificate expires on " + std::string(caEnd) +
                                     ", before the new certificate would (" + leafEnd +
                                     "): from then on the new certificate no longer verifies."});
}

TEST(KeyFacts, FamilyAndSizeOfTheKeyHeld) {
  TCertBuilder rsa;
  rsa.KeyType = ktRSA;
  rsa.RSABits = 1024;
  rsa.GenerateKey();
  TCertBuilder ec;
  ec.ECCurve = "P-384";
  ec.GenerateKey();
  const TKeyFacts rsaFacts = KeyFactsOf(PublicKeyFactsOf(rsa.Key())),
                  ecFacts = KeyFactsOf(PublicKeyFactsOf(ec.Key()));
  EXPECT_EQ(rsaFacts.Type, ktRSA);
  EXPECT_EQ(rsaFacts.Bits, 1024);
  EXPECT_EQ(ecFacts.Type, ktECC);
  EXPECT_EQ(ecFacts.Bits, 384);
}

TEST(DNSNames, HostNamesPassAndEveryOtherNameSaysWhy) {
  const std::string label63(63, 'a');
  const std::string name253 = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
  const char* const good[] = {"localhost",       "www.example.org",   "xn--bcher-kva.example",
                              "a-b.c-d.example", "1password.example", "*.example.org",
                              "*.shop.co.uk",    "WWW.Example.ORG"};
  for (const std::string name : good) EXPECT_EQ(DNSNameProblem(name), "") << name;
  EXPECT_EQ(DNSNameProblem(name253), "");
  EXPECT_EQ(DNSNameProblem(label63 + ".example"), "");

  const std::string invalid =
      "\" is not a valid host name: labels hold only letters, digits and hyphens, neither start "
      "nor end with a hyphen, and are 1 to 63 characters long.";
  const std::string misplaced =
      "\" has a wildcard that is not the whole leftmost label of a longer name; clients match "
      "\"*\" only there.";
  const auto overSuffix = [](const std::string& Suffix) {
    return "\" is a wildcard directly over the public suffix \"" + Suffix +
           "\": it would cover every site under it, so clients refuse to match it.";
  };
  const std::pair<std::string, std::string> bad[] = {
      {"my host!", invalid},
      {"under_score.example", invalid},
      {"-lead.example", invalid},
      {"trail-.example", invalid},
      {"dot.at.end.", invalid},
      {".example", invalid},
      {"", invalid},
      {"b\xC3\xBC"
       "cher.example",
       invalid},
      {label63 + "a.example", invalid},
      {"*.*.example", misplaced},
      {"www.*.example", misplaced},
      {"w*.example", misplaced},
      {"*", misplaced},
      {"*.com", overSuffix("com")},
      {"*.example", overSuffix("example")},
      {"*.CO.UK", overSuffix("CO.UK")},
      {"*.com.au", overSuffix("com.au")},
      {"192.168.1.1",
       "\" is an IP address: clients match addresses only against IP alternative names."},
      {"2001:db8::1",
       "\" is an IP address: clients match addresses only against IP alternative names."},
  };
  for (const auto& [name, reason] : bad)
    EXPECT_EQ(DNSNameProblem(name), "The DNS name \"" + name + reason);
  EXPECT_EQ(DNSNameProblem(name253 + "c"),
            "The DNS name \"" + name253 + "c\" is longer than 253 characters.");
}

}  // namespace
}  // namespace velmora
