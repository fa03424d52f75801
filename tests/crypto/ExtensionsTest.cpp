// The version 3 extensions that the settings produce, read back as libcrypto prints them.
#include "BuilderTestSupport.h"

namespace velmora::test {
namespace {

class Extensions : public testing::Test {
 protected:
  void SetUp() override { b.GenerateKey(); }
  X509* Build() {
    b.BuildSelfSigned();
    return b.Cert();
  }
  TNamedBuilder b;
};

TEST_F(Extensions, BasicConstraintsRows) {
  struct Case {
    bool isCA;
    int pathLen;
    bool critical;
    const char* text;
  };
  const Case cases[] = {
      {true, -1, true, "CA:TRUE"},           {true, 0, true, "CA:TRUE, pathlen:0"},
      {true, 3, true, "CA:TRUE, pathlen:3"}, {false, 3, false, "CA:FALSE"},
      {false, -1, false, "CA:FALSE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "IsCA " << c.isCA << ", path length " << c.pathLen);
    b.IsCA = c.isCA;
    b.PathLenConstraint = c.pathLen;
    const std::vector<TExtension> ext = ExtensionsOf(Build());
    ASSERT_GE(ext.size(), 2u);
    EXPECT_EQ(ext[1].nid, NID_basic_constraints);
    EXPECT_EQ(ext[1].critical, c.critical);
    EXPECT_EQ(ext[1].text, c.text);
  }
}

TEST_F(Extensions, EachKeyUsageMemberSetsItsOwnBitAndAllNineGoTogether) {
  const std::pair<TKeyUsage, const char*> members[] = {
      {kuDigitalSignature, "Digital Signature"},
      {kuContentCommitment, "Non Repudiation"},
      {kuKeyEncipherment, "Key Encipherment"},
      {kuDataEncipherment, "Data Encipherment"},
      {kuKeyAgreement, "Key Agreement"},
      {kuKeyCertSign, "Certificate Sign"},
      {kuCRLSign, "CRL Sign"},
      {kuEncipherOnly, "Encipher Only"},
      {kuDecipherOnly, "Decipher Only"},
  };
  TKeyUsageSet all;
  std::string allText;
  for (const auto& [member, text] : members) {
    SCOPED_TRACE(text);
    b.KeyUsage = {member};
    EXPECT_EQ(ExtensionText(Build(), NID_key_usage), text);
    all.insert(member);
    allText += (allText.empty() ? "" : ", ") + std::string(text);
  }
  b.KeyUsage = all;
  X509* cert = Build();
  EXPECT_EQ(ExtensionText(cert, NID_key_usage), allText);
  EXPECT_TRUE(ExtensionsOf(cert)[2].critical);
}

TEST_F(Extensions, ExtendedKeyUsagesInBitOrder) {
  const std::pair<TExtKeyUsage, const char*> members[] = {
      {ekuServerAuth, "TLS Web Server Authentication"},
      {ekuClientAuth, "TLS Web Client Authentication"},
      {ekuCodeSigning, "Code Signing"},
      {ekuEmailProtection, "E-mail Protection"},
      {ekuTimeStamping, "Time Stamping"},
      {ekuOCSPSigning, "OCSP Signing"},
  };
  TExtKeyUsageSet all;
  std::string allText;
  for (const auto& [member, text] : members) {
    SCOPED_TRACE(text);
    b.ExtKeyUsage = {member};
    EXPECT_EQ(ExtensionText(Build(), NID_ext_key_usage), text);
    all.insert(member);
    allText += (allText.empty() ? "" : ", ") + std::string(text);
  }
  b.ExtKeyUsage = all;
  EXPECT_EQ(ExtensionText(Build(), NID_ext_key_usage), allText);
}

TEST_F(Extensions, EmptyUsagesLeaveTheirExtensionsOut) {
  b.KeyUsage = {};
  b.ExtKeyUsage = {};
  EXPECT_EQ(ExtensionNIDsOf(Build()),
            (std::vector<int>{NID_subject_key_identifier, NID_basic_constraints}));
}

TEST_F(Extensions, AlternativeNamesComeDNSThenIPThenEmailWhateverTheFillOrder) {
  b.SANEmails = {"pki@example.org"};
  b.SANIPs = {"192.0.2.7", "2001:db8::1"};
  b.SANDNSNames = {"b.example", "a.example"};
  X509* cert = Build();
  EXPECT_EQ(ExtensionNIDsOf(cert),
            (std::vector<int>{NID_subject_key_identifier, NID_basic_constraints, NID_key_usage,
                              NID_ext_key_usage, NID_subject_alt_name}));
  EXPECT_FALSE(ExtensionsOf(cert)[4].critical);
  EXPECT_EQ(ExtensionText(cert, NID_subject_alt_name),
            "DNS:b.example, DNS:a.example, IP Address:192.0.2.7, "
            "IP Address:2001:DB8:0:0:0:0:0:1, email:pki@example.org");
}

TEST_F(Extensions, AnUnusableAlternativeNameFailsTheWholeBuildWithTheJoinedText) {
  struct Case {
    const char* name;
    std::vector<std::string> dns, ips, emails;
    const char* prefix;
  };
  const Case cases[] = {
      {"IP text that is no address",
       {"ok.example"},
       {"not-an-ip"},
       {"a@example.org"},
       "X509V3_EXT_conf_nid nid=85 val=DNS:ok.example,IP:not-an-ip,email:a@example.org. OpenSSL: "},
      {"empty DNS name",
       {"ok.example", ""},
       {},
       {},
       "X509V3_EXT_conf_nid nid=85 val=DNS:ok.example,DNS:. OpenSSL: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    b.SANDNSNames = c.dns;
    b.SANIPs = c.ips;
    b.SANEmails = c.emails;
    const std::string message = MessageOf([&] { b.BuildSelfSigned(); });
    EXPECT_TRUE(StartsWith(message, c.prefix)) << message;
    EXPECT_GT(message.size(), std::string(c.prefix).size()) << "libcrypto's reason is missing";
    EXPECT_EQ(b.Cert(), nullptr);
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

TEST_F(Extensions, AlternativeNamesAreNamesNeverExtensionSyntax) {
  struct Case {
    const char* name;
    std::vector<std::string> dns, ips, emails;
    std::string value;
  };
  const Case cases[] = {
      {"e-mail that would move the subject's address", {}, {}, {"move"}, "move"},
      {"e-mail that would copy the subject's address", {}, {}, {"copy"}, "copy"},
      {"comma adding a name of another kind",
       {"a.example,IP:10.0.0.1"},
       {},
       {},
       "a.example,IP:10.0.0.1"},
      {"comma inside an address",
       {},
       {"10.0.0.1,DNS:evil.example"},
       {},
       "10.0.0.1,DNS:evil.example"},
      {"line end cutting the list off",
       {"a.example\nb.example", "c.example"},
       {},
       {},
       "a.example\nb.example"},
  };
  b.Subject.Email = "subject@example.org";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    b.SANDNSNames = c.dns;
    b.SANIPs = c.ips;
    b.SANEmails = c.emails;
    EXPECT_EQ(MessageOf([&] { b.BuildSelfSigned(); }),
              "Invalid subject alternative name \"" + c.value + "\".");
    EXPECT_EQ(b.Cert(), nullptr);
  }
}

TEST_F(Extensions, TimeStampingAloneIsCriticalEveryOtherUsageListIsNot) {
  struct Case {
    const char* name;
    TExtKeyUsageSet usages;
    bool critical;
  };
  const Case cases[] = {{"time stamping", {ekuTimeStamping}, true},
                        {"time stamping and more", {ekuTimeStamping, ekuCodeSigning}, false},
                        {"server", {ekuServerAuth}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    b.ExtKeyUsage = c.usages;
    const std::vector<TExtension> extensions = ExtensionsOf(Build());
    ASSERT_EQ(extensions[3].nid, NID_ext_key_usage);
    EXPECT_EQ(extensions[3].critical, c.critical);
  }
}

}  // namespace
}  // namespace velmora::test
