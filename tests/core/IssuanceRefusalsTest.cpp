// What "Generate Certificate" refuses before anything is built, shared by the window and the
// command line: a validity that gives no usable certificate, a CA certificate that cannot
// sign, a key pair that is the CA's own, a CA key file that holds a certificate. And what it
// only warns about: a weak CA, which signs but whose certificates fail at the verifier.
#include "core/CertRequest.h"
#include "core/Issuance.h"
#include "core/StorePaths.h"
#include "crypto/Certificates.h"
#include "tests/support/CryptoFixtures.h"
#include "tests/support/RunCommand.h"
#include "tests/support/SignerFixtures.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace velmora::test {
namespace {

// 2026-01-01 00:00:00 UTC.
constexpr std::time_t kNewYear2026 = 1767225600;
// Whole days from then to 9999-12-31 23:59:59 UTC.
constexpr std::int32_t kDaysLeftIn2026 = (253402300799 - kNewYear2026) / 86400;

const std::string kAtLeastOneDay = "The validity must be at least one day.";
std::string BeforeYear10000(std::int64_t Days) {
  return "The validity must end before the year 10000: at most " + std::to_string(Days) +
         " days from today.";
}

template <typename TOperation>
std::string MessageOf(TOperation&& Operation) {
  try {
    Operation();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no failure)";
}

TEST(RequireValidValidity, RefusesWhatGivesNoUsableCertificate) {
  const struct {
    std::int32_t days;
    std::string message;
  } cases[] = {
      {INT32_MIN, kAtLeastOneDay},
      {-5, kAtLeastOneDay},
      {0, kAtLeastOneDay},
      {1, "(no failure)"},
      {3650, "(no failure)"},
      {kDaysLeftIn2026, "(no failure)"},
      {kDaysLeftIn2026 + 1, BeforeYear10000(kDaysLeftIn2026)},
      {INT32_MAX, BeforeYear10000(kDaysLeftIn2026)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.days);
    EXPECT_EQ(MessageOf([&] { RequireValidValidity(c.days, kNewYear2026); }), c.message);
  }
  // Today's clock, with a validity that ends past 9999 from any date this program will see.
  EXPECT_EQ(MessageOf([] {
              RequireValidValidity(3'000'000);
            }).rfind("The validity must end before the year 10000: at most ", 0),
            0u);
}

class IssuanceRefusals : public testing::Test {
 protected:
  IssuanceRefusals() {
    Request.StoreDir = Temp.File("store");
    Request.CertName = "new.crt";
    Request.KeyName = "new.key";
    CreateStoreDirectory(Request.StoreDir);
  }

  // A leaf for leaf.example with a key pair of its own, as the checks before issuing like it.
  static void MakeLeafSettings(TCertBuilder& Builder) {
    Builder.Subject.CN = "leaf.example";
    Builder.SANDNSNames = {"leaf.example"};
    Builder.IsCA = false;
    Builder.PathLenConstraint = 0;
    Builder.KeyUsage = {kuDigitalSignature};
    Builder.ExtKeyUsage = {ekuServerAuth};
    Builder.ValidDays = 365;
  }

  // The CA's two files, outside the store.
  void UseCA(const std::string& CertText, const std::string& KeyText,
             const std::string& CertName = "ca.crt", const std::string& KeyName = "ca.key") {
    Request.CASigned = true;
    Request.CACertFile = Temp.File(CertName);
    Request.CAKeyFile = Temp.File(KeyName);
    WriteFile(Request.CACertFile, CertText);
    WriteFile(Request.CAKeyFile, KeyText);
  }
  void UseCA(X509* Cert, EVP_PKEY* Key) { UseCA(CertToPEM(Cert), KeyToPKCS8PEM(Key)); }

  TIssueOutcome Issue(TCertBuilder& Builder) {
    const TIssueEvents events{
        [this](const std::string& Line) { Log.push_back(Line); },
        [](const std::vector<std::string>&, const std::string&) { return false; },
        [this](const std::vector<std::string>& Findings) {
          Asked.push_back(Findings);
          return AnswerFindings;
        }};
    return IssueCertificate(Builder, Request, {NoPassword, NoPassword, NoPassword}, events);
  }

  std::string Refusal(TCertBuilder& Builder) {
    return MessageOf([&] { Issue(Builder); });
  }

  // The store's entries; a refusal leaves it empty.
  std::vector<std::string> StoreEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Request.StoreDir))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir Temp;
  TIssueRequest Request;
  const std::string NoPassword;
  std::vector<std::string> Log;
  std::vector<std::vector<std::string>> Asked;
  bool AnswerFindings = true;
};

TEST_F(IssuanceRefusals, ALeafForTheCAsOwnKeyPairIsRefusedUntilANewOneIsMade) {
  // As the window leaves it after making a root: the root's key pair still in the builder.
  TCertBuilder builder;
  builder.Subject.CN = "Own Key Root";
  builder.IsCA = true;
  builder.KeyUsage = {kuKeyCertSign, kuCRLSign};
  builder.ExtKeyUsage = {};
  builder.GenerateKey();
  builder.BuildSelfSigned();
  UseCA(builder.CertToPEM(), builder.KeyToPEM(""));
  MakeLeafSettings(builder);

  EXPECT_EQ(Refusal(builder),
            "The new certificate's key is the CA's own key. Generate a new key pair for it "
            "first.");
  EXPECT_EQ(StoreEntries(), std::vector<std::string>{});
  EXPECT_TRUE(Asked.empty());
  EXPECT_TRUE(Log.empty());  // not even "Building ..."

  builder.GenerateKey();
  ASSERT_EQ(Issue(builder), TIssueOutcome::Written);
  EXPECT_EQ(StoreEntries(), (std::vector<std::string>{"new.crt", "new.key"}));
}

TEST_F(IssuanceRefusals, AValidityOfNoDaysOrPastTheYear9999IsRefusedBeforeTheCAFiles) {
  TCertBuilder builder;
  MakeLeafSettings(builder);
  builder.GenerateKey();
  // The CA's files are missing: the validity is refused first.
  Request.CASigned = true;
  Request.CACertFile = Temp.File("missing.crt");
  Request.CAKeyFile = Temp.File("missing.key");
  for (const std::int32_t days : {-5, 0, INT32_MAX}) {
    SCOPED_TRACE(days);
    builder.ValidDays = days;
    const std::string message = Refusal(builder);
    if (days > 0)
      EXPECT_EQ(message.rfind("The validity must end before the year 10000: at most ", 0), 0u)
          << message;
    else
      EXPECT_EQ(message, kAtLeastOneDay);
  }
  EXPECT_EQ(StoreEntries(), std::vector<std::string>{});
  EXPECT_TRUE(Asked.empty());
  builder.ValidDays = 1;
  EXPECT_EQ(Refusal(builder), "CA certificate file not found.");
}

TEST_F(IssuanceRefusals, ACertificateThatIsNoCAIsRefusedAsSigner) {
  const EVP_PKEYPtr caKey = MakeECKey("P-256");
  const struct {
    const char* name;
    TExtensionLines extensions;
  } cases[] = {
      {"NoBasicConstraints", {{NID_key_usage, "critical,keyCertSign"}}},
      {"CAFalse", {{NID_basic_constraints, "CA:FALSE"}, {NID_key_usage, "keyCertSign"}}},
      {"KeyUsageWithoutCertSign",
       {{NID_basic_constraints, "critical,CA:TRUE"},
        {NID_key_usage, "critical,digitalSignature,cRLSign"}}},
      {"NoExtensionsAtAll", {}},
  };
  TCertBuilder builder;
  MakeLeafSettings(builder);
  builder.GenerateKey();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const X509Ptr ca = MakeSelfSignedWith(caKey.get(), c.extensions);
    UseCA(CertToPEM(ca.get()), KeyToPKCS8PEM(caKey.get()), std::string(c.name) + " ca.pem");
    EXPECT_EQ(Refusal(builder), "\"" + Request.CACertFile +
                                    "\" is not a CA certificate: it cannot sign other "
                                    "certificates.");
  }
  EXPECT_EQ(StoreEntries(), std::vector<std::string>{});
  EXPECT_TRUE(Asked.empty());

  // A CA without any key usage can sign; strict verifiers object, which the checks say.
  const X509Ptr ca = MakeSelfSignedWith(caKey.get(), {{NID_basic_constraints, "critical,CA:TRUE"},
                                                      {NID_subject_key_identifier, "hash"}});
  UseCA(ca.get(), caKey.get());
  ASSERT_EQ(Issue(builder), TIssueOutcome::Written);
  ASSERT_EQ(Asked.size(), 1u);
  EXPECT_EQ(Asked[0], std::vector<std::string>{
                          "The CA certificate has no key usage extension: RFC 5280 requires one "
                          "with Key Cert Sign, and strict verifiers (OpenSSL) reject every "
                          "certificate it signs."});
}

TEST_F(IssuanceRefusals, ACAKeyFileHoldingACertificateIsNamedWhateverItIsCalled) {
  const EVP_PKEYPtr caKey = MakeECKey("P-256");
  const X509Ptr ca = MakeSelfSignedWith(caKey.get(), SoundCAExtensions());
  const std::string certPEM = CertToPEM(ca.get());
  const Bytes certDER = CertToDER(ca.get());
  const struct {
    const char* name;
    std::string keyFileText;
    const char* keyFileName;
  } cases[] = {
      {"PEMCertificateAsKey", certPEM, "ca.key"},
      {"DERCertificateAsKey", std::string(certDER.begin(), certDER.end()), "ca-key.der"},
      {"TheCertificateFileTwice", certPEM, "ca copy.pem"},
  };
  TCertBuilder builder;
  MakeLeafSettings(builder);
  builder.GenerateKey();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UseCA(certPEM, c.keyFileText, "ca.crt", c.keyFileName);
    EXPECT_EQ(Refusal(builder), "\"" + Request.CAKeyFile +
                                    "\" holds a certificate, not a private key: choose the CA's "
                                    "key file");
  }
  EXPECT_EQ(StoreEntries(), std::vector<std::string>{});
  EXPECT_TRUE(Asked.empty());

  // A key file that holds the certificate and the key together is a key file.
  UseCA(certPEM, certPEM + KeyToPKCS8PEM(caKey.get()));
  EXPECT_EQ(Issue(builder), TIssueOutcome::Written);
  EXPECT_TRUE(Asked.empty());
}

TEST_F(IssuanceRefusals, AWeakCAIsAFindingOfTheChecksBeforeIssuing) {
  const EVP_PKEYPtr rsa1024 = MakeRSAKey(1024), rsa2048 = SharedRSAKey(2048);
  const std::string weakSignature =
      ", which no longer protects a signature: browsers and current TLS libraries reject a "
      "chain through it unless the CA is itself a trusted root.";
  const struct {
    const char* name;
    EVP_PKEY* key;
    const EVP_MD* digest;
    std::vector<std::string> findings;
  } cases[] = {
      {"RSA1024",
       rsa1024.get(),
       EVP_sha256(),
       {"The CA's RSA key has only 1024 bits: current verifiers (OpenSSL and GnuTLS at their "
        "default levels, browsers) reject certificates signed with a key under 2048 bits."}},
      {"SHA1",
       rsa2048.get(),
       EVP_sha1(),
       {"The CA certificate is signed with SHA-1" + weakSignature}},
      {"MD5", rsa2048.get(), EVP_md5(), {"The CA certificate is signed with MD5" + weakSignature}},
      {"Sound", rsa2048.get(), EVP_sha256(), {}},
  };
  TCertBuilder builder;
  MakeLeafSettings(builder);
  builder.GenerateKey();
  AnswerFindings = false;  // as --strict answers
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Asked.clear();
    const X509Ptr ca = MakeSelfSignedWith(c.key, SoundCAExtensions(), c.digest);
    UseCA(ca.get(), c.key);
    const TIssueOutcome outcome = Issue(builder);
    if (c.findings.empty()) {
      EXPECT_EQ(outcome, TIssueOutcome::Written);
      EXPECT_TRUE(Asked.empty());
      continue;
    }
    EXPECT_EQ(outcome, TIssueOutcome::Declined);
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_EQ(Asked[0], c.findings);
    EXPECT_EQ(StoreEntries(), std::vector<std::string>{});
  }
}

// The verifiers agree with the refusals: what a CA that is no CA signs, and a certificate of
// no days, are rejected by the openssl command line and by GnuTLS's certtool; the same made
// soundly is accepted. Built with the builder directly, as issuing would no longer make them.
TEST(IssuanceRefusalsJudged, VerifiersRejectWhatIsRefused) {
  for (const char* program : {"openssl", "certtool"})
    ASSERT_EQ(RunCommand(std::string("command -v ") + program).status, 0)
        << program << " is not installed; scripts/install-deps installs it";
  const struct {
    const char* name;
    std::function<void(TCertBuilder&)> rootFault;
    std::function<void(TCertBuilder&)> leafFault;
  } cases[] = {
      {"SignerIsNoCA", [](TCertBuilder& b) { b.IsCA = false; }, nullptr},
      {"SignerWithoutKeyCertSign",
       [](TCertBuilder& b) {
         b.KeyUsage = {kuDigitalSignature, kuCRLSign};
       },
       nullptr},
      {"NoDaysOfValidity", nullptr, [](TCertBuilder& b) { b.ValidDays = -1; }},
  };
  TempDir dir;
  for (const auto& c : cases) {
    for (const bool faulty : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (faulty ? " with the fault" : " without it"));
      TCertBuilder root;
      root.Subject.CN = "Judged Root";
      root.IsCA = true;
      root.PathLenConstraint = -1;
      root.KeyUsage = {kuKeyCertSign, kuCRLSign};
      root.ExtKeyUsage = {};
      root.ValidDays = 3650;
      if (faulty && c.rootFault) c.rootFault(root);
      root.GenerateKey();
      root.BuildSelfSigned();
      TCertBuilder leaf;
      leaf.Subject.CN = "judge.example";
      leaf.SANDNSNames = {"judge.example"};
      leaf.KeyUsage = {kuDigitalSignature};
      leaf.ExtKeyUsage = {ekuServerAuth};
      if (faulty && c.leafFault) c.leafFault(leaf);
      leaf.GenerateKey();
      leaf.BuildSignedBy(root.CertToPEM(), root.KeyToPEM(""), "");
      // What issuing says of the same.
      EXPECT_EQ(SignerFactsOf(root.Cert()).CanSignCertificates(), !(faulty && c.rootFault));
      EXPECT_EQ(MessageOf([&] { RequireValidValidity(leaf.ValidDays); }),
                faulty && c.leafFault ? kAtLeastOneDay : "(no failure)");

      const std::string tag = std::string(c.name) + (faulty ? "-faulty" : "-sound");
      const std::string rootFile = dir.File(tag + "-root.pem"),
                        leafFile = dir.File(tag + "-leaf.pem");
      WriteFile(rootFile, root.CertToPEM());
      WriteFile(leafFile, leaf.CertToPEM());
      for (const std::string& command : {"openssl verify -purpose sslserver -CAfile " +
                                             Quoted(rootFile) + " " + Quoted(leafFile),
                                         "certtool --verify --load-ca-certificate " +
                                             Quoted(rootFile) + " --infile " + Quoted(leafFile)}) {
        const TRun run = RunCommand(command);
        EXPECT_EQ(run.status == 0, !faulty) << command << "\n" << run.output;
      }
    }
  }
}

}  // namespace
}  // namespace velmora::test
