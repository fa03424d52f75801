// The checks before issuing against what others make of the same certificate. For every
// finding that one of them judges (OpenSSL's verifier in strict mode, GnuTLS's certtool,
// Python's cryptography), the certificate is issued twice by our builder, once as the finding
// describes it and once without the fault: the check must find the fault, the third party
// must refuse that certificate and accept the other. And every profile must come out as a
// certificate they accept for its purpose.
#include "core/Profiles.h"
#include "core/RequestChecks.h"
#include "crypto/CertBuilder.h"
#include "tests/support/CryptoFixtures.h"
#include "tests/support/RunCommand.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace velmora::test {
namespace {

// ---- Issuing with the builder ----

struct TKeyChoice {
  TKeyType Type = ktECC;
  std::int32_t RSABits = 2048;
  std::string Curve = "P-256";
};

struct TIssued {
  std::string CertPEM;
  std::string KeyPEM;
  TKeyFacts Key;
  std::vector<std::string> Findings;  // what the checks said before it was issued
};

// Issues Request for a new key, signed by Issuer (self-signed without one).
TIssued Issue(const TCertRequest& Request, const TKeyChoice& Key, const TIssued* Issuer) {
  TCertBuilder builder;
  builder.KeyType = Key.Type;
  builder.RSABits = Key.RSABits;
  builder.ECCurve = Key.Curve;
  builder.GenerateKey();
  ApplyRequestToBuilder(Request, builder);
  TIssued issued;
  issued.Key = KeyFactsOf(PublicKeyFactsOf(builder.Key()));
  X509Ptr issuerCert;
  if (Issuer) {
    const BIOPtr bio = NewMemBuf(Issuer->CertPEM);
    issuerCert.reset(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  }
  issued.Findings = CheckRequest(Request, issued.Key, issuerCert.get());
  if (Issuer)
    builder.BuildSignedBy(Issuer->CertPEM, Issuer->KeyPEM, "");
  else
    builder.BuildSelfSigned();
  issued.CertPEM = builder.CertToPEM();
  issued.KeyPEM = builder.KeyToPEM("");
  return issued;
}

TCertRequest ProfileRequest(TProfile Profile, TKeyType KeyType, const std::string& Name) {
  TCertRequest request;
  request.Subject.CN = Name;
  ApplyProfile(Profile, KeyType, request);
  if (!request.IsCA) {
    request.SANDNSNames = {Name};
    request.SANEmails = {"someone@" + Name};
  }
  request.ValidDays = request.IsCA ? 3650 : 365;
  return request;
}

// ---- The judges ----

// The files a judge looks at: the trusted root, the certificates between it and the one
// judged (leaf first in the chain file), and the judged one.
struct TFiles {
  std::string Root;
  std::string Untrusted;  // the intermediates' file, empty when there are none
  std::string Leaf;
  std::string Chain;  // the leaf followed by the intermediates
};

using TJudge = std::function<std::string(const TFiles& Files, bool Faulty)>;

TJudge OpenSSLVerify(const std::string& Options) {
  return [Options](const TFiles& f, bool) {
    return "openssl verify -x509_strict " + Options + " -CAfile " + Quoted(f.Root) +
           (f.Untrusted.empty() ? "" : " -untrusted " + Quoted(f.Untrusted)) + " " + Quoted(f.Leaf);
  };
}

TJudge GnuTLSVerify(const std::string& Options) {
  return [Options](const TFiles& f, bool) {
    return "certtool --verify --load-ca-certificate " + Quoted(f.Root) + " --infile " +
           Quoted(f.Chain) + " " + Options;
  };
}

// Reading every extension is where cryptography refuses what it finds malformed.
TJudge PythonCryptography() {
  return [](const TFiles& f, bool) {
    return "/usr/bin/python3 -c 'import sys; from cryptography import x509; "
           "list(x509.load_pem_x509_certificate(open(sys.argv[1], \"rb\").read()).extensions)' " +
           Quoted(f.Leaf);
  };
}

// A judge whose options depend on the certificate: the host name asked for.
TJudge WithHost(std::function<TJudge(const std::string&)> Judge, std::string Good,
                std::string Bad) {
  return [=](const TFiles& f, bool Faulty) { return Judge(Faulty ? Bad : Good)(f, Faulty); };
}

constexpr char kServerAuth[] = "1.3.6.1.5.5.7.3.1";
constexpr char kClientAuth[] = "1.3.6.1.5.5.7.3.2";
constexpr char kCodeSigning[] = "1.3.6.1.5.5.7.3.3";
constexpr char kEmailProtection[] = "1.3.6.1.5.5.7.3.4";
constexpr char kTimeStamping[] = "1.3.6.1.5.5.7.3.8";

class ThirdParties : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* program : {"openssl", "certtool", "/usr/bin/python3"})
      ASSERT_EQ(RunCommand(std::string("command -v ") + program).status, 0)
          << program << " is not installed; scripts/install-deps installs it";
    ASSERT_EQ(RunCommand("/usr/bin/python3 -c 'import cryptography'").status, 0)
        << "python3-cryptography is not installed; scripts/install-deps installs it";
  }

  // Writes the root, the intermediates and the leaf for the judges.
  TFiles Write(const std::string& Tag, const TIssued& Root,
               const std::vector<const TIssued*>& Between, const TIssued& Leaf) {
    TFiles files{Dir.File(Tag + "-root.pem"), "", Dir.File(Tag + "-leaf.pem"),
                 Dir.File(Tag + "-chain.pem")};
    std::string untrusted;
    for (const TIssued* issued : Between) untrusted += issued->CertPEM;
    WriteFile(files.Root, Root.CertPEM);
    if (!untrusted.empty()) {
      files.Untrusted = Dir.File(Tag + "-untrusted.pem");
      WriteFile(files.Untrusted, untrusted);
    }
    WriteFile(files.Leaf, Leaf.CertPEM);
    WriteFile(files.Chain, Leaf.CertPEM + untrusted);
    return files;
  }

  TempDir Dir;
};

// ---- Each finding that a third party judges ----

struct TCASettings {
  bool IsCA = true;
  std::int32_t PathLen = -1;
  TKeyUsageSet Usage{kuKeyCertSign, kuCRLSign};
  std::int32_t Days = 3650;
};

enum class TSubject {
  Leaf,     // issued by the root; the judges look at it
  Issuing,  // a CA issued by the root; the judges look at a sound leaf that it signs
};

struct JudgedCase {
  const char* name;
  const char* finding;                                    // how the finding begins
  std::function<void(TCertRequest&)> fault = nullptr;     // on the subject's request
  std::function<void(TCASettings&)> rootFault = nullptr;  // on the root that signs it
  TKeyChoice key = {}, faultyKey = {};
  TSubject subject = TSubject::Leaf;
  std::function<void(TCertRequest&)> base = nullptr;  // what both issues share
  std::vector<TJudge> judges = {};
};

void PrintTo(const JudgedCase& Case, std::ostream* Out) { *Out << Case.name; }

// A server and client certificate for judge.example, EC P-256, for a year.
TCertRequest SoundLeaf() {
  TCertRequest request = ProfileRequest(TProfile::TLSServerClient, ktECC, "judge.example");
  request.SANEmails.clear();
  return request;
}

TCertRequest RootRequest(const TCASettings& Settings) {
  TCertRequest request;
  request.Subject.CN = "Judged Root";
  request.IsCA = Settings.IsCA;
  request.PathLenConstraint = Settings.PathLen;
  request.KeyUsage = Settings.Usage;
  request.ExtKeyUsage = {};
  request.ValidDays = Settings.Days;
  return request;
}

std::string AtTime(long DaysFromNow) {
  return " -attime " + std::to_string(std::time(nullptr) + DaysFromNow * 86400);
}

const JudgedCase kJudgedCases[] = {
    {.name = "KeyCertSignWithoutCA",
     .finding = "Key Cert Sign on a certificate that is not a CA",
     .fault = [](TCertRequest& r) { r.KeyUsage.insert(kuKeyCertSign); },
     .judges = {OpenSSLVerify("-purpose sslserver")}},
    {.name = "CAWithoutKeyCertSign",
     .finding = "A CA certificate without Key Cert Sign",
     .fault = [](TCertRequest& r) { r.KeyUsage = {kuCRLSign}; },
     .subject = TSubject::Issuing,
     .base =
         [](TCertRequest& r) { r = ProfileRequest(TProfile::IntermediateCA, ktECC, "Judged CA"); },
     .judges = {OpenSSLVerify("-purpose sslserver"), GnuTLSVerify("")}},
    {.name = "EncipherOnlyWithoutKeyAgreement",
     .finding = "Encipher Only without Key Agreement",
     .fault = [](TCertRequest& r) { r.KeyUsage.insert(kuEncipherOnly); },
     .judges = {PythonCryptography()}},
    {.name = "DecipherOnlyWithoutKeyAgreement",
     .finding = "Decipher Only without Key Agreement",
     .fault = [](TCertRequest& r) { r.KeyUsage.insert(kuDecipherOnly); },
     .judges = {PythonCryptography()}},
    {.name = "TimeStampingWithOtherPurposes",
     .finding = "Time Stamping together with other extended key usages",
     .fault = [](TCertRequest& r) { r.ExtKeyUsage.insert(ekuServerAuth); },
     .base = [](TCertRequest& r) { r.ExtKeyUsage = {ekuTimeStamping}; },
     .judges = {OpenSSLVerify("-purpose timestampsign")}},
    {.name = "WildcardOverATopLevelDomain",
     .finding = "The DNS name \"*.com\" is a wildcard directly over the public suffix",
     .fault = [](TCertRequest& r) { r.SANDNSNames = {"*.com"}; },
     .base = [](TCertRequest& r) { r.SANDNSNames = {"*.judge.example"}; },
     .judges = {WithHost(
                    [](const std::string& h) { return OpenSSLVerify("-verify_hostname " + h); },
                    "www.judge.example", "www.com"),
                WithHost(
                    [](const std::string& h) { return GnuTLSVerify("--verify-hostname=" + h); },
                    "www.judge.example", "www.com")}},
    {.name = "WildcardNotTheWholeLeftmostLabel",
     .finding = "The DNS name \"*.*.judge.example\" has a wildcard that is not the whole",
     .fault = [](TCertRequest& r) { r.SANDNSNames = {"*.*.judge.example"}; },
     .base = [](TCertRequest& r) { r.SANDNSNames = {"*.judge.example"}; },
     .judges = {WithHost(
                    [](const std::string& h) { return OpenSSLVerify("-verify_hostname " + h); },
                    "a.judge.example", "a.b.judge.example"),
                WithHost(
                    [](const std::string& h) { return GnuTLSVerify("--verify-hostname=" + h); },
                    "a.judge.example", "a.b.judge.example")}},
    {.name = "RSAKeyUnder2048Bits",
     .finding = "An RSA key of 1024 bits",
     .key = {ktRSA, 2048},
     .faultyKey = {ktRSA, 1024},
     .judges = {OpenSSLVerify("-auth_level 2"), GnuTLSVerify("--verify-profile=medium")}},
    {.name = "CurveUnder256Bits",
     .finding = "An EC key on a 224-bit curve",
     .faultyKey = {ktECC, 0, "secp224r1"},
     .judges = {OpenSSLVerify("-auth_level 3"), GnuTLSVerify("--verify-profile=high")}},
    // The CA that signs. A validity of no days and a signer that is no CA are refused before
    // the checks run; IssuanceRefusalsTest judges those.
    {.name = "ExpiredCA",
     .finding = "The CA certificate expired on",
     .rootFault = [](TCASettings& s) { s.Days = -1; },
     .judges = {OpenSSLVerify(""), GnuTLSVerify("")}},
    {.name = "SignerWithoutKeyUsage",
     .finding = "The CA certificate has no key usage extension",
     .rootFault = [](TCASettings& s) { s.Usage = {}; },
     .judges = {OpenSSLVerify("")}},
    {.name = "SignerEndsFirst",
     .finding = "The CA certificate expires on",
     .rootFault = [](TCASettings& s) { s.Days = 100; },
     .judges = {OpenSSLVerify(AtTime(200))}},
    {.name = "SignerAllowsNoCABelow",
     .finding = "The CA certificate allows no CA below it",
     .rootFault = [](TCASettings& s) { s.PathLen = 0; },
     .subject = TSubject::Issuing,
     .base =
         [](TCertRequest& r) { r = ProfileRequest(TProfile::IntermediateCA, ktECC, "Judged CA"); },
     .judges = {OpenSSLVerify(""), GnuTLSVerify("")}},
};

class JudgedFinding : public ThirdParties, public testing::WithParamInterface<JudgedCase> {};

TEST_P(JudgedFinding, TheCheckFindsWhatTheThirdPartyRefusesAndNothingInWhatItAccepts) {
  const JudgedCase& c = GetParam();
  for (const bool faulty : {false, true}) {
    SCOPED_TRACE(faulty ? "with the fault" : "without it");
    TCASettings rootSettings;
    if (faulty && c.rootFault) c.rootFault(rootSettings);
    const TIssued root = Issue(RootRequest(rootSettings), {}, nullptr);
    TCertRequest request = SoundLeaf();
    if (c.base) c.base(request);
    if (faulty && c.fault) c.fault(request);
    const TIssued subject = Issue(request, faulty ? c.faultyKey : c.key, &root);

    const bool found = std::any_of(subject.Findings.begin(), subject.Findings.end(),
                                   [&](const std::string& f) { return f.starts_with(c.finding); });
    EXPECT_EQ(found, faulty) << testing::PrintToString(subject.Findings);
    if (!faulty) {
      EXPECT_EQ(subject.Findings, std::vector<std::string>{});
    }

    TFiles files;
    if (c.subject == TSubject::Issuing) {
      const TIssued leaf = Issue(SoundLeaf(), {}, &subject);
      files = Write(faulty ? "faulty" : "sound", root, {&subject}, leaf);
    } else {
      files = Write(faulty ? "faulty" : "sound", root, {}, subject);
    }
    for (const TJudge& judge : c.judges) {
      const std::string command = judge(files, faulty);
      const TRun run = RunCommand(command);
      EXPECT_EQ(run.status == 0, !faulty) << command << "\n" << run.output;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, JudgedFinding, testing::ValuesIn(kJudgedCases),
                         [](const testing::TestParamInfo<JudgedCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- Every profile, for both key types ----

struct TPurpose {
  TProfile Profile;
  // OpenSSL has no code-signing purpose before 3.2; "any" checks the chain and the usages'
  // consistency, and GnuTLS checks the purpose itself.
  std::vector<std::string> OpenSSLPurposes;
  std::vector<std::string> GnuTLSPurposes;
};

TEST_F(ThirdParties, EveryProfileIsAcceptedForItsPurposeAndNotForAnother) {
  const TPurpose purposes[] = {
      {TProfile::TLSServer, {"sslserver"}, {kServerAuth}},
      {TProfile::TLSClient, {"sslclient"}, {kClientAuth}},
      {TProfile::TLSServerClient, {"sslserver", "sslclient"}, {kServerAuth, kClientAuth}},
      {TProfile::Email, {"smimesign"}, {kEmailProtection}},
      {TProfile::CodeSigning, {"any"}, {kCodeSigning}},
      {TProfile::TimeStamping, {"timestampsign"}, {kTimeStamping}},
  };
  const TIssued root = Issue(ProfileRequest(TProfile::RootCA, ktECC, "Profiles Root"), {}, nullptr);
  EXPECT_EQ(root.Findings, std::vector<std::string>{});
  const TFiles rootOnly = Write("root", root, {}, root);
  const TRun rootRun = RunCommand(OpenSSLVerify("")(rootOnly, false));
  EXPECT_EQ(rootRun.status, 0) << rootRun.output;

  for (const TKeyType type : {ktECC, ktRSA}) {
    const TKeyChoice key{type};
    const std::string keyName = type == ktRSA ? "rsa" : "ec";
    // An intermediate between root and leaf, itself from its profile.
    const TIssued intermediate =
        Issue(ProfileRequest(TProfile::IntermediateCA, type, "Profiles Intermediate " + keyName),
              key, &root);
    EXPECT_EQ(intermediate.Findings, std::vector<std::string>{}) << keyName;
    for (const TPurpose& p : purposes) {
      const std::string name = std::string(ProfileSlug(p.Profile)) + "-" + keyName;
      SCOPED_TRACE(name);
      const TIssued leaf =
          Issue(ProfileRequest(p.Profile, type, name + ".example"), key, &intermediate);
      EXPECT_EQ(leaf.Findings, std::vector<std::string>{});
      const TFiles files = Write(name, root, {&intermediate}, leaf);
      for (const std::string& purpose : p.OpenSSLPurposes) {
        const TRun run = RunCommand(OpenSSLVerify("-purpose " + purpose)(files, false));
        EXPECT_EQ(run.status, 0) << purpose << "\n" << run.output;
      }
      for (const std::string& oid : p.GnuTLSPurposes) {
        const TRun run = RunCommand(GnuTLSVerify("--verify-purpose=" + oid)(files, false));
        EXPECT_EQ(run.status, 0) << oid << "\n" << run.output;
      }
      // The judges do look at the purpose: code signing is no purpose of any other profile.
      if (p.Profile != TProfile::CodeSigning) {
        const TRun other =
            RunCommand(GnuTLSVerify("--verify-purpose=" + std::string(kCodeSigning))(files, false));
        EXPECT_NE(other.status, 0) << other.output;
      }
    }
  }
}

}  // namespace
}  // namespace velmora::test
