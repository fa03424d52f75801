// Revocation from the command line: revoke and crl judged by the tools relying parties use
// (openssl verify with CRL checking, openssl crl, GnuTLS certtool, Python's cryptography), CRL
// numbers that only grow, concurrent revocations that lose nothing, bad input that replaces
// nothing, and the argument cases with their exit statuses.
#include "tests/cli/CliFixture.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fstream>
#include <regex>
#include <thread>

namespace velmora::test {
namespace {

class CliRevocation : public CliTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(MissingPrograms({"openssl", "certtool", "python3"}), "")
        << "scripts/install-deps installs the tools these tests check with";
  }

  std::string Store() const { return At("store"); }
  std::string InStore(const std::string& Name) const { return Store() + "/" + Name; }

  void Cert(const std::vector<std::string>& Args) {
    std::vector<std::string> all = {"cert", "--store", Store()};
    all.insert(all.end(), Args.begin(), Args.end());
    const TProcessResult run = Cli(all);
    ASSERT_EQ(run.Status, 0) << run.Err;
  }

  void MakeCA(const std::string& Stem, const std::string& Key = "ec:P-256",
              const std::vector<std::string>& Extra = {}) {
    std::vector<std::string> args = {"--key",     Key,          "--cn",       Stem + " Root",
                                     "--profile", "root-ca",    "--out-cert", Stem + ".crt",
                                     "--out-key", Stem + ".key"};
    args.insert(args.end(), Extra.begin(), Extra.end());
    Cert(args);
  }

  void MakeLeaf(const std::string& Stem, const std::string& CA = "ca") {
    Cert({"--cn", Stem + ".example", "--dns", Stem + ".example", "--sign-with",
          InStore(CA + ".crt"), "--sign-key", InStore(CA + ".key"), "--out-cert", Stem + ".crt",
          "--out-key", Stem + ".key"});
  }

  TProcessResult Revoke(const std::string& Leaf, const std::vector<std::string>& Extra = {},
                        const std::string& CA = "ca") const {
    std::vector<std::string> args = {"revoke",      InStore(Leaf + ".crt"),
                                     "--sign-with", InStore(CA + ".crt"),
                                     "--sign-key",  InStore(CA + ".key")};
    args.insert(args.end(), Extra.begin(), Extra.end());
    return Cli(args);
  }

  TRun VerifyWithCRL(const std::string& Leaf) const {
    return OpenSSL("verify -crl_check -CRLfile " + Quoted(InStore("ca.crl")) + " -CAfile " +
                   Quoted(InStore("ca.crt")) + " " + Quoted(InStore(Leaf + ".crt")));
  }

  // The CRL number as `openssl crl` prints it.
  long CRLNumber() const {
    const TRun text = OpenSSL("crl -noout -crlnumber -in " + Quoted(InStore("ca.crl")));
    std::smatch match;
    const std::regex number("crlNumber=0x([0-9A-Fa-f]+)");
    if (!std::regex_search(text.output, match, number)) return -1;
    return std::stol(match[1].str(), nullptr, 16);
  }

  // Revoked serials as `openssl crl -text` lists them.
  int RevokedCount() const {
    const TRun text = OpenSSL("crl -noout -text -in " + Quoted(InStore("ca.crl")));
    int count = 0;
    for (std::size_t at = 0; (at = text.output.find("Serial Number:", at)) != std::string::npos;
         ++at)
      ++count;
    return count;
  }
};

struct TCAKeyCase {
  const char* Name;
  const char* Key;
};

class CliRevocationByKey : public CliRevocation, public testing::WithParamInterface<TCAKeyCase> {};

TEST_P(CliRevocationByKey, RelyingPartiesRejectTheRevokedLeafOnly) {
  MakeCA("ca", GetParam().Key);
  MakeLeaf("bad");
  MakeLeaf("good");
  const TProcessResult run = Revoke("bad", {"--reason", "keyCompromise"});
  ASSERT_EQ(run.Status, 0) << run.Err;

  const TRun revoked = VerifyWithCRL("bad");
  EXPECT_NE(revoked.status, 0) << revoked.output;
  EXPECT_NE(revoked.output.find("certificate revoked"), std::string::npos) << revoked.output;
  const TRun accepted = VerifyWithCRL("good");
  EXPECT_EQ(accepted.status, 0) << accepted.output;

  const TRun text = OpenSSL("crl -noout -text -in " + Quoted(InStore("ca.crl")));
  EXPECT_EQ(text.status, 0) << text.output;
  EXPECT_NE(text.output.find("Key Compromise"), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("X509v3 Authority Key Identifier"), std::string::npos);
  const TRun gnutls = RunCommand("certtool --crl-info --infile " + Quoted(InStore("ca.crl")));
  EXPECT_EQ(gnutls.status, 0) << gnutls.output;
  EXPECT_NE(gnutls.output.find("Revoked certificates (1)"), std::string::npos) << gnutls.output;
  const TRun python = RunCommand(
      "python3 -c 'import sys; from cryptography import x509; "
      "crl = x509.load_pem_x509_crl(open(sys.argv[1], \"rb\").read()); "
      "ca = x509.load_pem_x509_certificate(open(sys.argv[2], \"rb\").read()); "
      "assert crl.is_signature_valid(ca.public_key()); print(len(crl), crl.extensions."
      "get_extension_for_class(x509.CRLNumber).value.crl_number)' " +
      Quoted(InStore("ca.crl")) + " " + Quoted(InStore("ca.crt")));
  EXPECT_EQ(python.status, 0) << python.output;
  EXPECT_EQ(python.output, "1 1\n");
}

INSTANTIATE_TEST_SUITE_P(CAKeys, CliRevocationByKey,
                         testing::Values(TCAKeyCase{"EC", "ec:P-384"},
                                         TCAKeyCase{"RSA", "rsa:2048"},
                                         TCAKeyCase{"Ed25519", "ed25519"}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(CliRevocation, CRLNumbersIncreaseOverThreeRevocations) {
  MakeCA("ca");
  long last = 0;
  for (const std::string leaf : {"one", "two", "three"}) {
    SCOPED_TRACE(leaf);
    MakeLeaf(leaf);
    const TProcessResult run = Revoke(leaf);
    ASSERT_EQ(run.Status, 0) << run.Err;
    const long number = CRLNumber();
    EXPECT_GT(number, last);
    last = number;
    const TRun verify = VerifyWithCRL(leaf);
    EXPECT_NE(verify.output.find("certificate revoked"), std::string::npos) << verify.output;
  }
  EXPECT_EQ(RevokedCount(), 3);
  const TProcessResult publish =
      Cli({"crl", "--sign-with", InStore("ca.crt"), "--sign-key", InStore("ca.key")});
  ASSERT_EQ(publish.Status, 0) << publish.Err;
  EXPECT_GT(CRLNumber(), last);
  EXPECT_EQ(RevokedCount(), 3);
}

TEST_F(CliRevocation, PublishingWithoutRevocationsGivesAnEmptySignedCRL) {
  MakeCA("ca", "ec:P-256", {"--days", "3650"});
  MakeLeaf("leaf");
  const TProcessResult run = Cli({"crl", "--sign-with", InStore("ca.crt"), "--sign-key",
                                  InStore("ca.key"), "--crl-days", "7"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(RevokedCount(), 0);
  const TRun verify = VerifyWithCRL("leaf");
  EXPECT_EQ(verify.status, 0) << verify.output;
  const TRun dates = OpenSSL("crl -noout -lastupdate -nextupdate -dateopt iso_8601 -in " +
                             Quoted(InStore("ca.crl")));
  std::smatch match;
  const std::regex pattern("lastUpdate=(\\d+)-(\\d+)-(\\d+).*\\nnextUpdate=(\\d+)-(\\d+)-(\\d+)");
  ASSERT_TRUE(std::regex_search(dates.output, match, pattern)) << dates.output;
  std::tm from{}, to{};
  from.tm_year = std::stoi(match[1]) - 1900;
  from.tm_mon = std::stoi(match[2]) - 1;
  from.tm_mday = std::stoi(match[3]);
  to.tm_year = std::stoi(match[4]) - 1900;
  to.tm_mon = std::stoi(match[5]) - 1;
  to.tm_mday = std::stoi(match[6]);
  EXPECT_EQ((::timegm(&to) - ::timegm(&from)) / 86400, 7);
}

TEST_F(CliRevocation, ConcurrentRevocationsLoseNoEntry) {
  MakeCA("ca");
  for (int i = 0; i < 40; ++i) MakeLeaf("leaf" + std::to_string(i));
  for (int pair = 0; pair < 20; ++pair) {
    TProcessResult first, second;
    std::thread other([&] { first = Revoke("leaf" + std::to_string(2 * pair)); });
    second = Revoke("leaf" + std::to_string(2 * pair + 1));
    other.join();
    ASSERT_EQ(first.Status, 0) << first.Err;
    ASSERT_EQ(second.Status, 0) << second.Err;
  }
  EXPECT_EQ(RevokedCount(), 40);
  EXPECT_EQ(CRLNumber(), 40);
  for (int i = 0; i < 40; ++i) {
    const TRun verify = VerifyWithCRL("leaf" + std::to_string(i));
    EXPECT_NE(verify.output.find("certificate revoked"), std::string::npos) << i;
  }
  EXPECT_FALSE(std::filesystem::exists(InStore(".ca.crl.lock")));
}

class CliRevocationBadInput;

struct TBadInputCase {
  const char* Name;
  void (CliRevocationBadInput::*Spoil)();
  std::vector<std::string> Extra;
  const char* Says;
};

class CliRevocationBadInput : public CliRevocation,
                              public testing::WithParamInterface<TBadInputCase> {
 public:
  void UseOtherCAsCRL() {
    MakeCA("other");
    MakeLeaf("otherleaf", "other");
    ASSERT_EQ(Revoke("otherleaf", {}, "other").Status, 0);
    std::filesystem::copy_file(InStore("other.crl"), InStore("ca.crl"),
                               std::filesystem::copy_options::overwrite_existing);
  }
  void CorruptCRL() {
    std::string pem = ReadFileText(InStore("ca.crl"));
    pem[pem.size() / 2] = pem[pem.size() / 2] == 'A' ? 'B' : 'A';
    std::ofstream(InStore("ca.crl"), std::ios::binary | std::ios::trunc) << pem;
  }
  void RemoveLeaf() { std::filesystem::remove(InStore("leaf.crt")); }
  void EncryptCAKey() {
    const TRun run = OpenSSL("pkey -in " + Quoted(InStore("ca.key")) +
                             " -aes256 -passout pass:right -out " + Quoted(InStore("ca.enc")));
    ASSERT_EQ(run.status, 0) << run.output;
    std::filesystem::rename(InStore("ca.enc"), InStore("ca.key"));
  }
};

TEST_P(CliRevocationBadInput, FailsClearlyAndReplacesNothing) {
  MakeCA("ca");
  MakeLeaf("first");
  MakeLeaf("leaf");
  ASSERT_EQ(Revoke("first").Status, 0);
  (this->*GetParam().Spoil)();
  const std::string before = ReadFileText(InStore("ca.crl"));
  const TProcessResult run = Revoke("leaf", GetParam().Extra);
  EXPECT_EQ(run.Status, 1) << run.Out;
  EXPECT_NE(run.Err.find(GetParam().Says), std::string::npos) << run.Err;
  EXPECT_EQ(ReadFileText(InStore("ca.crl")), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, CliRevocationBadInput,
                         testing::Values(
                             TBadInputCase{
                                 "OtherCAsCRL",
                                 &CliRevocationBadInput::UseOtherCAsCRL,
                                 {},
                                 "does not verify under this CA certificate. It was left as it is"},
                             TBadInputCase{"CorruptedCRL",
                                           &CliRevocationBadInput::CorruptCRL,
                                           {},
                                           "It was left as it is and no CRL was written."},
                             TBadInputCase{"CertificateNotInStore",
                                           &CliRevocationBadInput::RemoveLeaf,
                                           {},
                                           "Certificate file not found"},
                             TBadInputCase{"WrongCAPassword",
                                           &CliRevocationBadInput::EncryptCAKey,
                                           {"--ca-pass", "pass:wrong"},
                                           "The pass phrase for the CA key is wrong"}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

struct TArgumentCase {
  const char* Name;
  std::vector<std::string> Args;  // "@" stands for the store folder
  int Status;
  const char* Says;  // in the error output; empty: anything
};

class CliRevocationArguments : public CliRevocation,
                               public testing::WithParamInterface<TArgumentCase> {};

TEST_P(CliRevocationArguments, ExitStatus) {
  MakeCA("ca");
  MakeCA("other");
  MakeCA("nocrlsign", "ec:P-256", {"--ku", "keyCertSign"});
  MakeLeaf("leaf");
  std::vector<std::string> args;
  for (const std::string& arg : GetParam().Args)
    args.push_back(arg.starts_with("@/") ? InStore(arg.substr(2)) : arg);
  const TProcessResult run = Cli(args);
  EXPECT_EQ(run.Status, GetParam().Status) << run.Out << run.Err;
  EXPECT_NE(run.Err.find(GetParam().Says), std::string::npos) << run.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliRevocationArguments,
    testing::Values(
        TArgumentCase{"Revoke",
                      {"revoke", "@/leaf.crt", "--sign-with", "@/ca.crt", "--sign-key", "@/ca.key",
                       "--reason", "superseded", "--crl-days", "10"},
                      0,
                      ""},
        TArgumentCase{
            "Publish", {"crl", "--sign-with", "@/ca.crt", "--sign-key", "@/ca.key"}, 0, ""},
        TArgumentCase{"NoCertificate",
                      {"revoke", "--sign-with", "@/ca.crt", "--sign-key", "@/ca.key"},
                      2,
                      "certificate is required"},
        TArgumentCase{"NoSignKey",
                      {"revoke", "@/leaf.crt", "--sign-with", "@/ca.crt"},
                      2,
                      "--sign-key is required"},
        TArgumentCase{"UnknownReason",
                      {"revoke", "@/leaf.crt", "--sign-with", "@/ca.crt", "--sign-key", "@/ca.key",
                       "--reason", "lostIt"},
                      2,
                      "--reason"},
        TArgumentCase{
            "NoDays",
            {"crl", "--sign-with", "@/ca.crt", "--sign-key", "@/ca.key", "--crl-days", "0"},
            2,
            "--crl-days"},
        TArgumentCase{
            "TooManyDays",
            {"crl", "--sign-with", "@/ca.crt", "--sign-key", "@/ca.key", "--crl-days", "3651"},
            2,
            "--crl-days"},
        TArgumentCase{"BadPassSource",
                      {"revoke", "@/leaf.crt", "--sign-with", "@/ca.crt", "--sign-key", "@/ca.key",
                       "--ca-pass", "secret"},
                      2,
                      ""},
        TArgumentCase{
            "NotIssuedByThisCA",
            {"revoke", "@/leaf.crt", "--sign-with", "@/other.crt", "--sign-key", "@/other.key"},
            1,
            "was not issued by"},
        TArgumentCase{
            "KeyOfAnotherCA",
            {"revoke", "@/leaf.crt", "--sign-with", "@/ca.crt", "--sign-key", "@/other.key"},
            1,
            "The CA private key does not belong to the CA certificate."},
        TArgumentCase{"LeafAsCA",
                      {"crl", "--sign-with", "@/leaf.crt", "--sign-key", "@/leaf.key"},
                      1,
                      "is not a CA certificate"},
        TArgumentCase{"NoCRLSign",
                      {"crl", "--sign-with", "@/nocrlsign.crt", "--sign-key", "@/nocrlsign.key"},
                      1,
                      "This CA certificate does not allow signing revocation lists (cRLSign)."}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(CliRevocation, AlreadyRevokedIsRefusedWithAPlainSentence) {
  MakeCA("ca");
  MakeLeaf("leaf");
  ASSERT_EQ(Revoke("leaf").Status, 0);
  const std::string before = ReadFileText(InStore("ca.crl"));
  const TProcessResult again = Revoke("leaf", {"--reason", "keyCompromise"});
  EXPECT_EQ(again.Status, 1);
  EXPECT_NE(again.Err.find("leaf.crt\" is already revoked (since "), std::string::npos)
      << again.Err;
  EXPECT_EQ(ReadFileText(InStore("ca.crl")), before);
}

TEST_F(CliRevocation, CRLURLBecomesTheDistributionPoint) {
  MakeCA("ca");
  Cert({"--cn", "with.example", "--sign-with", InStore("ca.crt"), "--sign-key", InStore("ca.key"),
        "--out-cert", "with.crt", "--out-key", "with.key", "--crl-url",
        "http://pki.example/ca.crl"});
  MakeLeaf("without");
  const TRun with =
      OpenSSL("x509 -noout -ext crlDistributionPoints -in " + Quoted(InStore("with.crt")));
  EXPECT_NE(with.output.find("URI:http://pki.example/ca.crl"), std::string::npos) << with.output;
  const TRun without =
      OpenSSL("x509 -noout -ext crlDistributionPoints -in " + Quoted(InStore("without.crt")));
  EXPECT_EQ(without.output.find("CRL Distribution Points"), std::string::npos) << without.output;
  const TProcessResult bad = Cli({"cert", "--store", Store(), "--cn", "bad.example", "--out-cert",
                                  "bad.crt", "--out-key", "bad.key", "--crl-url", "http://a b/"});
  EXPECT_EQ(bad.Status, 2);
  EXPECT_NE(bad.Err.find("is not a URL"), std::string::npos) << bad.Err;
  EXPECT_FALSE(std::filesystem::exists(InStore("bad.crt")));
}

TEST_F(CliRevocation, TheStoreKnowsItsCRLsAndRevokedCertificates) {
  MakeCA("ca");
  MakeLeaf("bad");
  MakeLeaf("good");
  ASSERT_EQ(Revoke("bad", {"--reason", "keyCompromise", "--crl-days", "5"}).Status, 0);

  const TProcessResult list = Cli({"list", "--json", Store()});
  ASSERT_EQ(list.Status, 0) << list.Err;
  QJsonObject rows;
  for (const QJsonValue row : QJsonDocument::fromJson(QByteArray::fromStdString(list.Out)).array())
    rows.insert(row.toObject()["name"].toString(), row);
  const QJsonObject crl = rows["ca.crl"].toObject();
  EXPECT_EQ(crl["type"].toString(), "CRL");
  const QJsonObject bad = rows["bad.crt"].toObject();
  // The CRL's Expires is its next update: five days after it was signed, at the revocation.
  const QDateTime revokedAt = QDateTime::fromString(bad["revocation_date"].toString(), Qt::ISODate);
  ASSERT_TRUE(revokedAt.isValid()) << list.Out;
  EXPECT_EQ(QDateTime::fromString(crl["expires"].toString(), Qt::ISODate), revokedAt.addDays(5));
  EXPECT_TRUE(bad["revoked"].toBool());
  EXPECT_EQ(bad["reason"].toString(), "keyCompromise");
  EXPECT_TRUE(bad["revocation_date"].toString().endsWith("Z"));
  EXPECT_FALSE(rows["good.crt"].toObject().contains("revoked"));
  const TProcessResult plain = Cli({"list", Store()});
  EXPECT_NE(plain.Out.find("bad.crt\tCert\t"), std::string::npos);
  EXPECT_NE(plain.Out.find("\trevoked\n"), std::string::npos) << plain.Out;

  const TProcessResult info = Cli({"info", InStore("bad.crt"), InStore("ca.crl")});
  ASSERT_EQ(info.Status, 0) << info.Err;
  EXPECT_NE(info.Out.find("Revoked (keyCompromise) on "), std::string::npos) << info.Out;
  EXPECT_NE(info.Out.find("Issuer: CN=ca Root"), std::string::npos) << info.Out;
  EXPECT_NE(info.Out.find("CRL Number: 1\n"), std::string::npos) << info.Out;
  EXPECT_NE(info.Out.find("Signature: verified against CN=ca Root in the store"),
            std::string::npos);
  EXPECT_NE(info.Out.find("  keyCompromise\n"), std::string::npos) << info.Out;

  // Without its CA the list is still read, but nothing in it counts.
  std::filesystem::rename(InStore("ca.crt"), At("ca.crt"));
  const TProcessResult orphan = Cli({"info", "--json", InStore("bad.crt"), InStore("ca.crl")});
  EXPECT_EQ(orphan.Out.find("\"revoked\""), std::string::npos) << orphan.Out;
  EXPECT_NE(orphan.Out.find("Signature: issuer not in store"), std::string::npos) << orphan.Out;
}

}  // namespace
}  // namespace velmora::test
