// Name constraints: what a subtree may be written as, which names lie inside one, the
// critical extension a CA gets, and OpenSSL's verdict on leaves inside and outside it.
#include "BuilderTestSupport.h"
#include "crypto/NameConstraints.h"
#include "tests/support/RunCommand.h"

namespace velmora::test {
namespace {

TEST(NameConstraints, TheFormsTakenAndTheOnesRefused) {
  struct Case {
    const char* item;
    TNameKind kind;
    const char* value;  // for IP ranges: hex of address and mask
  };
  const Case taken[] = {
      {"example.org", TNameKind::DNS, "example.org"},
      {".example.org", TNameKind::DNS, ".example.org"},
      {"localhost", TNameKind::DNS, "localhost"},
      {"@example.org", TNameKind::Email, "example.org"},
      {"10.0.0.0/8", TNameKind::IP, "0a000000ff000000"},
      {"172.16.0.0/12", TNameKind::IP, "ac100000fff00000"},
      {"0.0.0.0/0", TNameKind::IP, "0000000000000000"},
      {"fd00::/8", TNameKind::IP,
       "fd000000000000000000000000000000ff000000000000000000000000000000"},
      {"::1/128", TNameKind::IP,
       "00000000000000000000000000000001ffffffffffffffffffffffffffffffff"},
  };
  const auto hex = [](const std::string& Bytes) {
    std::string text;
    for (const unsigned char b : Bytes) {
      static constexpr char digits[] = "0123456789abcdef";
      text += digits[b >> 4];
      text += digits[b & 15];
    }
    return text;
  };
  for (const Case& c : taken) {
    SCOPED_TRACE(c.item);
    const TNameConstraint constraint = ParseNameConstraint(c.item);
    EXPECT_EQ(constraint.Kind, c.kind);
    EXPECT_EQ(constraint.Text, c.item);
    EXPECT_EQ(c.kind == TNameKind::IP ? hex(constraint.Value) : constraint.Value, c.value);
  }
  for (const char* item :
       {"*.example.org", "example..org", "example.org.", "-bad.org", "exa mple.org", "..org", "@",
        "@.example.org", "user@example.org", "10.0.0.0", "10.0.0.0/33", "10.1.0.0/8", "10.0.0.0/",
        "10.0.0.0/8x", "fd00::/129", "example.org/8", "http://example.org", "."}) {
    SCOPED_TRACE(item);
    EXPECT_EQ(MessageOf([&] { ParseNameConstraint(item); }),
              std::string("Invalid name constraint \"") + item + "\".");
  }
}

TEST(NameConstraints, WhichNamesLieWithin) {
  struct Case {
    const char* constraint;
    const char* name;
    bool within;
  };
  const Case cases[] = {
      {"example.org", "example.org", true},
      {"example.org", "www.Example.ORG", true},
      {"example.org", "badexample.org", false},
      {"example.org", "example.org.evil", false},
      {".example.org", "example.org", false},
      {".example.org", "a.b.example.org", true},
      {".test", "app.test", true},
      {".test", "test", false},
      {"localhost", "localhost", true},
      {"@example.org", "alice@example.org", true},
      {"@example.org", "alice@mail.example.org", false},
      {"@example.org", "alice@other.org", false},
      {"10.0.0.0/8", "10.255.1.2", true},
      {"10.0.0.0/8", "11.0.0.1", false},
      {"172.16.0.0/12", "172.31.255.255", true},
      {"172.16.0.0/12", "172.32.0.1", false},
      {"fc00::/7", "fd12::1", true},
      {"fc00::/7", "fe80::1", false},
      {"::1/128", "::1", true},
      {"10.0.0.0/8", "::ffff:10.0.0.1", false},  // another family
      {"fe80::/10", "10.0.0.1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.constraint) + " / " + c.name);
    EXPECT_EQ(NameWithin(ParseNameConstraint(c.constraint), c.name), c.within);
  }
}

TEST(NameConstraints, PermittedOfTheKindAndExcludedDecide) {
  TNameConstraints constraints;
  constraints.Permitted = {ParseNameConstraint("example.org"), ParseNameConstraint("10.0.0.0/8")};
  constraints.Excluded = {ParseNameConstraint("secret.example.org")};
  EXPECT_TRUE(NamePermitted(constraints, TNameKind::DNS, "www.example.org"));
  EXPECT_FALSE(NamePermitted(constraints, TNameKind::DNS, "www.example.com"));
  EXPECT_FALSE(NamePermitted(constraints, TNameKind::DNS, "a.secret.example.org"));
  EXPECT_TRUE(NamePermitted(constraints, TNameKind::IP, "10.1.1.1"));
  EXPECT_FALSE(NamePermitted(constraints, TNameKind::IP, "192.168.1.1"));
  // No mail subtree: any address may be issued.
  EXPECT_TRUE(NamePermitted(constraints, TNameKind::Email, "anyone@anywhere.net"));
}

// A CA with constraints, written by the builder, read back as they were given, and OpenSSL's
// verifier judging leaves by them.
class ConstrainedCA : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(RunCommand("command -v openssl").status, 0)
        << "openssl is not installed; scripts/install-deps installs it";
  }

  void MakeCA(const std::vector<std::string>& Permitted, const std::vector<std::string>& Excluded) {
    FCA.Subject.CN = "Constrained CA";
    FCA.IsCA = true;
    FCA.KeyUsage = {kuKeyCertSign, kuCRLSign};
    FCA.ExtKeyUsage = {};
    FCA.PermittedNames = Permitted;
    FCA.ExcludedNames = Excluded;
    FCA.GenerateKey();
    FCA.BuildSelfSigned();
    WriteFileBytes(FDir / "ca.crt", FCA.CertToPEM());
  }

  TRun Verify(const std::vector<std::string>& DNS, const std::vector<std::string>& IPs,
              const std::vector<std::string>& Emails = {}) {
    TNamedBuilder leaf;
    leaf.Subject.CN = "";
    leaf.SANDNSNames = DNS;
    leaf.SANIPs = IPs;
    leaf.SANEmails = Emails;
    leaf.KeyUsage = {kuDigitalSignature};
    leaf.GenerateKey();
    leaf.BuildSignedBy(FCA.CertToPEM(), FCA.KeyToPEM(""), "");
    WriteFileBytes(FDir / "leaf.crt", leaf.CertToPEM());
    return RunCommand("openssl verify -x509_strict -CAfile " + Quoted(FDir / "ca.crt") + " " +
                      Quoted(FDir / "leaf.crt"));
  }

  TTempDir FDir;
  TCertBuilder FCA;
};

TEST_F(ConstrainedCA, TheExtensionIsCriticalAndReadsBackAsGiven) {
  const std::vector<std::string> permitted = {"example.org", ".test", "10.0.0.0/8", "fd00::/8",
                                              "@example.org"};
  MakeCA(permitted, {"secret.example.org", "10.9.0.0/16"});
  const int at = X509_get_ext_by_NID(FCA.Cert(), NID_name_constraints, -1);
  ASSERT_GE(at, 0);
  EXPECT_EQ(X509_EXTENSION_get_critical(X509_get_ext(FCA.Cert(), at)), 1);
  const TNameConstraints read = NameConstraintsOf(FCA.Cert());
  std::vector<std::string> texts;
  for (const TNameConstraint& c : read.Permitted) texts.push_back(c.Text);
  EXPECT_EQ(texts, permitted);
  texts.clear();
  for (const TNameConstraint& c : read.Excluded) texts.push_back(c.Text);
  EXPECT_EQ(texts, (std::vector<std::string>{"secret.example.org", "10.9.0.0/16"}));
}

TEST_F(ConstrainedCA, OpenSSLAcceptsInsideAndRejectsOutside) {
  MakeCA({"example.org", "10.0.0.0/8", "@example.org"}, {"secret.example.org"});
  struct Case {
    const char* name;
    std::vector<std::string> dns, ips, emails;
    bool accepted;
  };
  const Case cases[] = {
      {"permitted names", {"www.example.org"}, {"10.1.2.3"}, {"a@example.org"}, true},
      {"outside DNS", {"www.example.com"}, {}, {}, false},
      {"one name of two outside", {"www.example.org", "evil.net"}, {}, {}, false},
      {"outside IP", {"www.example.org"}, {"192.168.1.1"}, {}, false},
      {"outside mail", {"www.example.org"}, {}, {"a@example.com"}, false},
      {"excluded", {"x.secret.example.org"}, {}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TRun run = Verify(c.dns, c.ips, c.emails);
    EXPECT_EQ(run.status == 0, c.accepted) << run.output;
    if (c.accepted) continue;
    EXPECT_NE(run.output.find(c.name == std::string("excluded") ? "excluded subtree violation"
                                                                : "permitted subtree violation"),
              std::string::npos)
        << run.output;
  }
}

TEST_F(ConstrainedCA, OnlyACAGetsTheExtension) {
  TNamedBuilder leaf;
  leaf.PermittedNames = {"example.org"};
  leaf.GenerateKey();
  leaf.BuildSelfSigned();
  EXPECT_LT(X509_get_ext_by_NID(leaf.Cert(), NID_name_constraints, -1), 0);
}

}  // namespace
}  // namespace velmora::test
