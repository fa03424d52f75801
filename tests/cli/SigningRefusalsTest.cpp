// What `velmora-cli cert` refuses before it makes anything, in the same words as the window:
// a validity of no days (before a key is made), a signer that is no CA, a CA key file that
// holds a certificate; what it warns about (and --strict refuses): a weak CA; and a CA without
// a key identifier, which signs like any other.
#include "tests/cli/CliFixture.h"

#include <filesystem>

namespace velmora::test {
namespace {

class CliSigningRefusals : public CliTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(MissingPrograms({"openssl"}), "") << "the openssl command line is needed";
  }

  // A self-signed certificate and its key made by the openssl command line, with the
  // extensions given as -addext arguments.
  void MakeCA(const std::string& Key, const std::string& AddExt) {
    const TRun made = OpenSSL("req -x509 -newkey " + Key +
                              " -nodes -days 30 -subj /CN=Given-CA"
                              " -keyout " +
                              Quoted(CAKey) + " -out " + Quoted(CACert) + " " + AddExt);
    ASSERT_EQ(made.status, 0) << made.output;
  }

  TProcessResult SignedLeaf(const std::vector<std::string>& More = {}) const {
    // Within the CA's 30 days, so that the CA ending first is no finding here.
    std::vector<std::string> args{"cert",   "--cn",    "leaf.example", "--dns", "leaf.example",
                                  "--days", "20",      "--sign-with",  CACert,  "--sign-key",
                                  CAKey,    "--store", Store};
    args.insert(args.end(), More.begin(), More.end());
    return Cli(args);
  }

  bool StoreHasFiles() const {
    std::error_code ec;
    return std::filesystem::exists(Store, ec) && !std::filesystem::is_empty(Store, ec);
  }

  const std::string CACert = At("given ca.crt"), CAKey = At("given ca.key"), Store = At("store");
  const std::string kSoundCA =
      "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign";
};

TEST_F(CliSigningRefusals, AValidityOfNoDaysIsAWrongArgument) {
  for (const char* days : {"-5", "0"}) {
    SCOPED_TRACE(days);
    const TProcessResult run =
        Cli({"cert", "--cn", "days.example", "--days", days, "--store", Store});
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Err,
              "velmora-cli: The validity must be at least one day.\n"
              "Usage: velmora-cli cert [OPTIONS]\nRun with --help for more.\n");
    EXPECT_EQ(run.Out, "");  // not even a key was made
    EXPECT_FALSE(StoreHasFiles());
  }
  const TProcessResult far =
      Cli({"cert", "--cn", "days.example", "--days", "3000000", "--store", Store});
  EXPECT_EQ(far.Status, 2);
  EXPECT_TRUE(
      far.Err.starts_with("velmora-cli: The validity must end before the year 10000: "
                          "at most "))
      << far.Err;
  EXPECT_FALSE(StoreHasFiles());
}

TEST_F(CliSigningRefusals, ASignerThatIsNoCAIsRefused) {
  MakeCA("ec -pkeyopt ec_paramgen_curve:P-256", "-addext basicConstraints=critical,CA:FALSE");
  const TProcessResult run = SignedLeaf();
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "Certificate generation failed:\n\"" + CACert +
                         "\" is not a CA certificate: it cannot sign other certificates.\n");
  EXPECT_FALSE(StoreHasFiles());
}

TEST_F(CliSigningRefusals, ACAKeyFileHoldingACertificateIsNamed) {
  MakeCA("ec -pkeyopt ec_paramgen_curve:P-256", kSoundCA);
  std::filesystem::copy_file(CACert, CAKey, std::filesystem::copy_options::overwrite_existing);
  const TProcessResult run = SignedLeaf();
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "Certificate generation failed:\n\"" + CAKey +
                         "\" holds a certificate, not a private key: choose the CA's key file\n");
  EXPECT_FALSE(StoreHasFiles());
}

TEST_F(CliSigningRefusals, AWeakCAIsAWarningThatStrictRefuses) {
  MakeCA("rsa:1024", kSoundCA + " -sha1");
  const std::string warnings =
      "Warning: The CA's RSA key has only 1024 bits: current verifiers (OpenSSL and GnuTLS at "
      "their default levels, browsers) reject certificates signed with a key under 2048 "
      "bits.\n"
      "Warning: The CA certificate is signed with SHA-1, which no longer protects a signature: "
      "browsers and current TLS libraries reject a chain through it unless the CA is itself a "
      "trusted root.\n";
  const TProcessResult strict = SignedLeaf({"--strict"});
  EXPECT_EQ(strict.Status, 1);
  EXPECT_EQ(strict.Err, warnings +
                            "Certificate generation failed:\nThe checks before issuing found "
                            "problems, and --strict refuses to issue such a certificate.\n");
  EXPECT_FALSE(StoreHasFiles());

  const TProcessResult issued = SignedLeaf();
  EXPECT_EQ(issued.Status, 0) << issued.Err;
  EXPECT_EQ(issued.Err, warnings);
  EXPECT_TRUE(StoreHasFiles());
}

TEST_F(CliSigningRefusals, ACAWithoutAKeyIdentifierSignsAVerifiableCertificate) {
  MakeCA("ec -pkeyopt ec_paramgen_curve:P-256",
         kSoundCA + " -addext subjectKeyIdentifier=none -addext authorityKeyIdentifier=none");
  ASSERT_EQ(OpenSSL("x509 -noout -text -in " + Quoted(CACert)).output.find("Subject Key Id"),
            std::string::npos);
  const TProcessResult run = SignedLeaf();
  ASSERT_EQ(run.Status, 0) << run.Err;
  const std::string leaf = Store + "/certificate.crt";
  const TRun verify = OpenSSL("verify -purpose sslserver -verify_hostname leaf.example -CAfile " +
                              Quoted(CACert) + " " + Quoted(leaf));
  EXPECT_EQ(verify.status, 0) << verify.output;
  EXPECT_EQ(verify.output, leaf + ": OK\n");
}

}  // namespace
}  // namespace velmora::test
