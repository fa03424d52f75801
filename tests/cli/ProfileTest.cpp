// --profile and --p12-compatible as the openssl command line sees their results: the
// extensions each profile gives, explicit options winning over the profile, and the bundle
// for older systems.
#include "tests/cli/CliFixture.h"

namespace velmora::test {
namespace {

class CliProfile : public CliTest {
 protected:
  void SetUp() override {
    if (const std::string missing = MissingPrograms({"openssl"}); !missing.empty())
      GTEST_FAIL() << "These checks read our files with the openssl command line; not "
                      "installed: "
                   << missing;
  }
};

struct ProfileCase {
  const char* name;
  std::vector<std::string> args;
  std::string extensions;  // as openssl shows them
  std::string purpose;     // what `openssl verify -purpose` accepts it for, "" for a CA
};

void PrintTo(const ProfileCase& Case, std::ostream* Out) { *Out << Case.name; }

// The three extensions as `openssl x509 -ext` prints them; a CA's basic constraints are
// critical, and only the time-stamping purpose is.
std::string Extensions(const std::string& BasicConstraints, const std::string& KeyUsage,
                       const std::string& ExtKeyUsage) {
  const bool ca = BasicConstraints.starts_with("CA:TRUE");
  std::string text = "X509v3 Basic Constraints: " + std::string(ca ? "critical" : "") + "\n    " +
                     BasicConstraints + "\nX509v3 Key Usage: critical\n    " + KeyUsage + "\n";
  if (!ExtKeyUsage.empty()) text += "X509v3 Extended Key Usage: \n    " + ExtKeyUsage + "\n";
  return text;
}

const ProfileCase kProfileCases[] = {
    {"TLSServerEC",
     {"--profile", "tls-server", "--cn", "srv.example", "--dns", "srv.example"},
     Extensions("CA:FALSE", "Digital Signature", "TLS Web Server Authentication"),
     "sslserver"},
    {"TLSServerRSA",
     {"--profile", "tls-server", "--key", "rsa:2048", "--cn", "srv.example", "--dns",
      "srv.example"},
     Extensions("CA:FALSE", "Digital Signature, Key Encipherment", "TLS Web Server Authentication"),
     "sslserver"},
    {"RootCAByItsCaption",
     {"--profile", "Root CA", "--cn", "CLI Root"},
     Extensions("CA:TRUE", "Certificate Sign, CRL Sign", ""),
     ""},
    {"IntermediateCAWithItsPathLengthGiven",
     {"--profile", "intermediate-ca", "--pathlen", "2", "--cn", "CLI Intermediate"},
     Extensions("CA:TRUE, pathlen:2", "Certificate Sign, CRL Sign", ""),
     ""},
    {"CodeSigningWithItsKeyUsageGiven",
     {"--profile", "code-signing", "--ku", "digitalSignature,nonRepudiation", "--cn", "Signer"},
     Extensions("CA:FALSE", "Digital Signature, Non Repudiation", "Code Signing"),
     "any"},
    {"EmailWithItsPurposesGiven",
     {"--profile", "email", "--eku", "emailProtection,clientAuth", "--cn", "Mail", "--san-email",
      "mail@cli.example"},
     Extensions("CA:FALSE", "Digital Signature, Key Agreement",
                "TLS Web Client Authentication, E-mail Protection"),
     "smimesign"},
    {"TimeStamping",
     {"--profile", "time-stamping", "--cn", "TSA"},
     "X509v3 Basic Constraints: \n    CA:FALSE\nX509v3 Key Usage: critical\n    Digital "
     "Signature\nX509v3 Extended Key Usage: critical\n    Time Stamping\n",
     "timestampsign"},
    {"NoProfileForAnECKey",
     {"--cn", "plain.example", "--dns", "plain.example"},
     Extensions("CA:FALSE", "Digital Signature",
                "TLS Web Server Authentication, TLS Web Client Authentication"),
     "sslclient"},
    {"NoProfileForAnRSAKey",
     {"--key", "rsa:2048", "--cn", "plain.example", "--dns", "plain.example"},
     Extensions("CA:FALSE", "Digital Signature, Key Encipherment",
                "TLS Web Server Authentication, TLS Web Client Authentication"),
     "sslserver"},
};

class CliProfiles : public CliProfile, public testing::WithParamInterface<ProfileCase> {};

TEST_P(CliProfiles, TheProfileSetsTheExtensionsAndExplicitOptionsWin) {
  const ProfileCase& c = GetParam();
  std::vector<std::string> args{"cert", "--strict", "--store", At("store")};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const TProcessResult run = Cli(args);
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Err, "") << "nothing for the checks to find";

  const std::string cert = At("store/certificate.crt");
  const TRun shown =
      OpenSSL("x509 -noout -ext basicConstraints,keyUsage,extendedKeyUsage -in " + Quoted(cert));
  ASSERT_EQ(shown.status, 0) << shown.output;
  EXPECT_EQ(shown.output, c.extensions);
  const TRun verify =
      OpenSSL("verify -x509_strict " + (c.purpose.empty() ? "" : "-purpose " + c.purpose) +
              " -CAfile " + Quoted(cert) + " " + Quoted(cert));
  EXPECT_EQ(verify.status, 0) << verify.output;
}

INSTANTIATE_TEST_SUITE_P(Profiles, CliProfiles, testing::ValuesIn(kProfileCases),
                         [](const testing::TestParamInfo<ProfileCase>& info) {
                           return std::string(info.param.name);
                         });

struct BundleCase {
  const char* name;
  std::vector<std::string> args;
  std::string bundle;  // relative to the test's folder
  std::vector<std::string> present, absent;
};

TEST_F(CliProfile, P12CompatibleMakesA3DESBundleWithASHA1Mac) {
  const std::vector<std::string> old{"MAC: sha1, Iteration 2048",
                                     "PKCS7 Encrypted data: pbeWithSHA1And3-KeyTripleDES-CBC, "
                                     "Iteration 2048",
                                     "Shrouded Keybag: pbeWithSHA1And3-KeyTripleDES-CBC, "
                                     "Iteration 2048"};
  const BundleCase cases[] = {
      {"cert",
       {"cert", "--cn", "b.example", "--dns", "b.example", "--p12", "old.p12", "--p12-compatible",
        "--p12-pass", "pass:bundle pass", "--store", At("cert")},
       "cert/old.p12",
       old,
       {"AES-256-CBC"}},
      {"cert without it",
       {"cert", "--cn", "b.example", "--dns", "b.example", "--p12", "new.p12", "--p12-pass",
        "pass:bundle pass", "--store", At("modern")},
       "modern/new.p12",
       {"MAC: sha256, Iteration 2048", "AES-256-CBC"},
       {"pbeWithSHA1And3-KeyTripleDES-CBC"}},
      {"dev",
       {"dev", "localhost", "--p12-compatible", "--p12-pass", "pass:bundle pass", "--store",
        At("dev")},
       "dev/localhost.p12",
       old,
       {"AES-256-CBC"}},
  };
  for (const BundleCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TProcessResult run = Cli(c.args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    const TRun info =
        OpenSSL("pkcs12 -info -nokeys -passin 'pass:bundle pass' -in " + Quoted(At(c.bundle)));
    ASSERT_EQ(info.status, 0) << info.output;
    for (const std::string& text : c.present)
      EXPECT_NE(info.output.find(text), std::string::npos) << text << "\n" << info.output;
    for (const std::string& text : c.absent)
      EXPECT_EQ(info.output.find(text), std::string::npos) << text << "\n" << info.output;
  }
}

}  // namespace
}  // namespace velmora::test
