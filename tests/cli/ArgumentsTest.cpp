// What each kind of command line gets: its exit status, what it says, and which files it
// writes. Wrong arguments and failed work write nothing at all.
#include "tests/cli/CliFixture.h"
#include "velmora/Version.h"

#include <set>

namespace velmora::test {
namespace {

enum class TMatch { Any, Exact, Prefix, Contains };

struct ArgCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  TMatch errMatch = TMatch::Any;
  std::string err = "";
  TMatch outMatch = TMatch::Any;
  std::string out = "";
  // Files (relative to the test's folder) the run adds or changes; every other file stays.
  std::set<std::string> written = {};
  // Files that are there before the run, relative to the test's folder, with their contents.
  std::vector<std::pair<std::string, std::string>> existing = {};
};

// "{root}" is the test's folder, "{store}" the store inside it, "{ca}" the folder of two CAs
// made for the case: one.crt with one.key (plain) and two.crt with two.key (pass phrase
// "second ca").
std::string Expand(std::string Text, const std::filesystem::path& Root) {
  const std::pair<const char*, std::string> names[] = {
      {"{root}", Root.string()},
      {"{store}", (Root / "store").string()},
      {"{ca}", (Root / "cas").string()},
  };
  for (const auto& [name, value] : names)
    for (size_t at; (at = Text.find(name)) != std::string::npos;)
      Text.replace(at, std::string(name).size(), value);
  return Text;
}

const std::string kUsageHint = "Run with --help for more.\n";
const std::string kCertUsage = "\nUsage: velmora-cli cert [OPTIONS]\n" + kUsageHint;
const std::string kSelfSignedLog =
    "Building self-signed certificate ...\nCertificate created successfully.\n"
    "Certificate saved -> certificate.crt\nPrivate key saved -> private.key\n";
const std::set<std::string> kCertAndKey{"store/certificate.crt", "store/private.key"};
// What the checks before issuing say about an EC key that claims to encipher, and about a
// server certificate without a DNS name or address.
const std::string kECKeyEncipherment =
    "Key Encipherment with an EC key: an EC key cannot encipher, and RFC 8813 forbids this "
    "usage for it.";
const std::string kNoServerName =
    "TLS Server Authentication without a DNS name or IP address among the alternative names: "
    "browsers and current TLS clients ignore the Common Name, so they accept the certificate "
    "for no server.";

const ArgCase kCases[] = {
    // The command line is wrong: status 2 with the usage line, nothing made.
    {.name = "NoSubcommand",
     .args = {},
     .status = 2,
     .errMatch = TMatch::Prefix,
     .err = "velmora-cli: A subcommand is required\nUsage: velmora-cli [OPTIONS] SUBCOMMAND\n"},
    {.name = "UnknownOption",
     .args = {"cert", "--cn", "x", "--bogus", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Prefix,
     .err = "velmora-cli: The following argument was not expected: --bogus\n"
            "Usage: velmora-cli cert [OPTIONS]\n"},
    {.name = "KeyOfNoKnownForm",
     .args = {"cert", "--cn", "x", "--key", "bad", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: Invalid key \"bad\": use rsa:BITS, ec:CURVE, ed25519 or ed448." +
            kCertUsage},
    {.name = "RSAKeyWithoutBits",
     .args = {"cert", "--cn", "x", "--key", "rsa:", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: Invalid key \"rsa:\": use rsa:BITS, ec:CURVE, ed25519 or ed448." +
            kCertUsage},
    // Key sizes and curves that are no use are refused before any key is made.
    {.name = "RSAKeyTooSmall",
     .args = {"cert", "--cn", "x", "--key", "rsa:512", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err =
         "velmora-cli: Invalid key \"rsa:512\": an RSA key has 1024 to 16384 bits." + kCertUsage},
    {.name = "RSAKeyJustTooSmall",
     .args = {"cert", "--cn", "x", "--key", "rsa:1023", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err =
         "velmora-cli: Invalid key \"rsa:1023\": an RSA key has 1024 to 16384 bits." + kCertUsage},
    {.name = "RSAKeyTooLarge",
     .args = {"cert", "--cn", "x", "--key", "rsa:100000", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: Invalid key \"rsa:100000\": an RSA key has 1024 to 16384 bits." +
            kCertUsage},
    {.name = "RSAKeyBeyondEveryNumber",
     .args = {"cert", "--cn", "x", "--key", "rsa:99999999999", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: Invalid key \"rsa:99999999999\": an RSA key has 1024 to 16384 "
            "bits." +
            kCertUsage},
    {.name = "CurveThatVerifiersReject",
     .args = {"cert", "--cn", "x", "--key", "ec:SM2", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: Unknown curve \"SM2\": use ec:P-256, ec:P-384 or ec:P-521 (also "
            "named prime256v1 or secp256r1, secp384r1, secp521r1)." +
            kCertUsage},
    {.name = "KoblitzCurve",
     .args = {"cert", "--cn", "x", "--key", "ec:secp256k1", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: Unknown curve \"secp256k1\": use ec:P-256, ec:P-384 or ec:P-521 "
            "(also named prime256v1 or secp256r1, secp384r1, secp521r1)." +
            kCertUsage},
    {.name = "CurveOfNoKind",
     .args = {"cert", "--cn", "x", "--key", "ec:P-999", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: Unknown curve \"P-999\": use ec:P-256, ec:P-384 or ec:P-521 (also "
            "named prime256v1 or secp256r1, secp384r1, secp521r1)." +
            kCertUsage},
    {.name = "CountryAsAWord",
     .args = {"cert", "--cn", "x", "--dns", "x", "--c", "Germany", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: The country is two letters, such as DE, FR or US: --c \"Germany\" is "
            "not." +
            kCertUsage},
    {.name = "CountryOfOneLetter",
     .args = {"cert", "--cn", "x", "--dns", "x", "--c", "D", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: The country is two letters, such as DE, FR or US: --c \"D\" is not." +
            kCertUsage},
    {.name = "ThreeLetterCountry",
     .args = {"cert", "--cn", "x", "--dns", "x", "--c", "USA", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: The country is two letters, such as DE, FR or US: --c \"USA\" is "
            "not." +
            kCertUsage},
    {.name = "NothingToWrite",
     .args = {"cert", "--cn", "x", "--out-cert", "", "--out-key", "", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: There is nothing to write: --out-cert and --out-key are empty and "
            "--p12 is not given." +
            kCertUsage},
    {.name = "EncryptedKeyIntoABundleWithoutItsPassPhrase",
     .args = {"cert", "--cn", "x", "--key-pass", "pass:k", "--p12", "x.p12", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: --key-pass encrypts the key, but the bundle from --p12 would hold it "
            "without one: give --p12-pass; pass: for an empty one." +
            kCertUsage},
    {.name = "UnknownKeyUsage",
     .args = {"cert", "--cn", "x", "--ku", "digitalSignature,unknownName", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: Unknown key usage \"unknownName\"." + kCertUsage},
    {.name = "UnknownExtendedKeyUsage",
     .args = {"cert", "--cn", "x", "--eku", "serverAuth,bogusAuth", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: Unknown extended key usage \"bogusAuth\"." + kCertUsage},
    {.name = "SignWithoutSignKey",
     .args = {"cert", "--cn", "x", "--sign-with", "{ca}/one.crt", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: --sign-with and --sign-key go together." + kCertUsage},
    {.name = "SignKeyWithoutSignWith",
     .args = {"cert", "--cn", "x", "--sign-key", "{ca}/one.key", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: --sign-with and --sign-key go together." + kCertUsage},
    {.name = "UnknownPassPhraseSource",
     .args = {"cert", "--cn", "x", "--ca-pass", "foo:bar", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: Invalid pass phrase source: expected pass:, env:, file:, fd: or "
            "stdin for --ca-pass." +
            kCertUsage},
    // A pass phrase given without its "pass:" is refused without being repeated.
    {.name = "PassPhraseWithoutSource",
     .args = {"cert", "--cn", "x", "--key-pass", "MyS3cretPass", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: Invalid pass phrase source: expected pass:, env:, file:, fd: or "
            "stdin for --key-pass." +
            kCertUsage},
    {.name = "DescriptorSourceWithoutNumber",
     .args = {"cert", "--cn", "x", "--key-pass", "fd:three", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: Invalid pass phrase source: fd: takes a descriptor number, for "
            "--key-pass." +
            kCertUsage},
    {.name = "DevWithoutNames",
     .args = {"dev", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Prefix,
     .err = "velmora-cli: "},
    {.name = "DevNameWithSlash",
     .args = {"dev", "a/b", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: Invalid name \"a/b\".\nUsage: velmora-cli dev [OPTIONS]\n" + kUsageHint},

    // The work fails: status 1 with the reason, nothing written.
    {.name = "UnsetEnvironmentVariable",
     .args = {"cert", "--cn", "x", "--ca-pass", "env:VELMORA_TEST_UNSET", "--store", "{store}"},
     .status = 1,
     .errMatch = TMatch::Exact,
     .err = "Cannot read the pass phrase: environment variable VELMORA_TEST_UNSET is not set.\n"},
    {.name = "DescriptorNotOpen",
     .args = {"cert", "--cn", "x", "--key-pass", "fd:99", "--store", "{store}"},
     .status = 1,
     .errMatch = TMatch::Exact,
     .err = "Cannot read the pass phrase from descriptor 99: Bad file descriptor\n"},
    {.name = "MissingPassPhraseFile",
     .args = {"cert", "--cn", "x", "--key-pass", "file:{root}/absent", "--store", "{store}"},
     .status = 1,
     .errMatch = TMatch::Exact,
     .err = "Cannot read the pass phrase from {root}/absent: No such file or directory\n"},
    // Found before any key is made, so before the checks that look at the key.
    {.name = "NeitherSubjectNorAlternativeName",
     .args = {"cert", "--store", "{store}"},
     .status = 1,
     .errMatch = TMatch::Exact,
     .err = "Certificate generation failed:\n"
            "A certificate needs a subject or a subject alternative name.\n"},
    // A common cause is said in plain words first, as the window's box says it.
    {.name = "CAKeyOfAnotherPair",
     .args = {"cert", "--cn", "x", "--dns", "x", "--sign-with", "{ca}/one.crt", "--sign-key",
              "{ca}/two.key", "--ca-pass", "pass:second ca", "--store", "{store}"},
     .status = 1,
     .errMatch = TMatch::Exact,
     .err = "The --sign-key key does not belong to the --sign-with certificate; give the key "
            "file that was made together with this CA certificate.\n\nCertificate generation "
            "failed:\n"
            "The CA private key does not belong to the CA certificate.\n"},
    {.name = "WrongCAPassPhrase",
     .args = {"cert", "--cn", "x", "--dns", "x", "--sign-with", "{ca}/two.crt", "--sign-key",
              "{ca}/two.key", "--ca-pass", "pass:wrong", "--store", "{store}"},
     .status = 1,
     .errMatch = TMatch::Prefix,
     .err = "The pass phrase for the CA key is wrong, or the key needs one and none was given; "
            "give the one the key was saved with to --ca-pass.\n\nCertificate generation "
            "failed:\n"
            "PEM_read_bio_PrivateKey (CA). OpenSSL: "},
    {.name = "CAKeyGivenAsCertificate",
     .args = {"cert", "--cn", "x", "--dns", "x", "--sign-with", "{ca}/one.key", "--sign-key",
              "{ca}/one.key", "--store", "{store}"},
     .status = 1,
     .errMatch = TMatch::Prefix,
     .err = "The --sign-with file holds a private key, not a certificate; give the CA's "
            "certificate file to --sign-with and the key file to --sign-key.\n\nCertificate "
            "generation failed:\nPEM_read_bio_X509 (CA cert). OpenSSL: "},
    {.name = "HostNameAsIPAddress",
     .args = {"cert", "--cn", "x", "--dns", "x", "--ip", "localhost", "--store", "{store}"},
     .status = 1,
     .errMatch = TMatch::Prefix,
     .err = "The --ip value \"localhost\" is not an IP address; give addresses such as "
            "192.168.1.10 or ::1 there, and host names to --dns.\n\nCertificate generation "
            "failed:\nX509V3_EXT_conf_nid nid=85 val=DNS:x,"
            "IP:localhost. OpenSSL: ",
     // Found before the key is made: the build has not started.
     .outMatch = TMatch::Exact,
     .out = ""},
    {.name = "CommonNameTooLongForItsField",
     .args = {"cert", "--cn", std::string(65, 'c'), "--store", "{store}"},
     .status = 1,
     .errMatch = TMatch::Prefix,
     .err = "Certificate generation failed:\nSubject field CN = \"" + std::string(65, 'c'),
     .outMatch = TMatch::Exact,
     .out = ""},
    {.name = "MissingCACertificate",
     .args = {"cert", "--cn", "x", "--sign-with", "{root}/absent.crt", "--sign-key", "{ca}/one.key",
              "--store", "{store}"},
     .status = 1,
     .errMatch = TMatch::Exact,
     .err = "Certificate generation failed:\nCA certificate file not found: "
            "\"{root}/absent.crt\" (--sign-with, taken from the current folder).\n"},
    {.name = "MissingCAKey",
     .args = {"cert", "--cn", "x", "--sign-with", "{ca}/one.crt", "--sign-key", "{root}/absent.key",
              "--store", "{store}"},
     .status = 1,
     .errMatch = TMatch::Exact,
     .err = "Certificate generation failed:\nCA key file not found: "
            "\"{root}/absent.key\" (--sign-key, taken from the current folder).\n"},
    {.name = "ExistingKeyWithoutForce",
     .args = {"cert", "--cn", "x", "--dns", "x", "--store", "{store}"},
     .status = 1,
     .errMatch = TMatch::Exact,
     .err = "Certificate generation failed:\n"
            "These files already exist in the store: private.key. Use --force to replace them.\n",
     .existing = {{"store/private.key", "the old key\n"}}},
    {.name = "ExistingBundleWithoutForce",
     .args = {"cert", "--cn", "x", "--dns", "x", "--p12", "x.p12", "--store", "{store}"},
     .status = 1,
     .errMatch = TMatch::Exact,
     .err = "Certificate generation failed:\n"
            "These files already exist in the store: x.p12. Use --force to replace them.\n",
     .existing = {{"store/x.p12", "the old bundle\n"}}},
    {.name = "UnknownProfile",
     .args = {"cert", "--cn", "x", "--profile", "web-server", "--store", "{store}"},
     .status = 2,
     .errMatch = TMatch::Exact,
     .err = "velmora-cli: Unknown profile \"web-server\": use one of custom, tls-server, "
            "tls-client, tls-server-client, root-ca, intermediate-ca, email, code-signing, "
            "time-stamping." +
            kCertUsage},
    {.name = "StrictRefusesWhatTheChecksFind",
     .args = {"cert", "--cn", "Test Server", "--ku", "digitalSignature,keyEncipherment", "--strict",
              "--store", "{store}"},
     .status = 1,
     .errMatch = TMatch::Exact,
     .err = "Warning: " + kECKeyEncipherment + "\nWarning: " + kNoServerName +
            "\nCertificate generation failed:\nThe checks before issuing found problems, and "
            "--strict refuses to issue such a certificate.\n"},
    {.name = "StrictSeesAnOptionThatOverridesTheProfile",
     .args = {"cert", "--cn", "x", "--profile", "root-ca", "--ku", "cRLSign", "--strict", "--store",
              "{store}"},
     .status = 1,
     .errMatch = TMatch::Exact,
     .err = "Warning: A CA certificate without Key Cert Sign cannot issue certificates: "
            "verifiers reject every certificate it signs.\nCertificate generation failed:\nThe "
            "checks before issuing found problems, and --strict refuses to issue such a "
            "certificate.\n"},
    {.name = "ListOfMissingFolder",
     .args = {"list", "{root}/absent"},
     .status = 1,
     .errMatch = TMatch::Exact,
     .err = "Cannot list the store directory \"{root}/absent\": No such file or directory.\n"},

    // Done: status 0.
    {.name = "ExistingKeyWithForce",
     .args = {"cert", "--cn", "x", "--dns", "x", "--force", "--store", "{store}"},
     .status = 0,
     .errMatch = TMatch::Exact,
     .err = "",
     .outMatch = TMatch::Exact,
     .out = kSelfSignedLog,
     .written = kCertAndKey,
     .existing = {{"store/private.key", "the old key\n"}}},
    {.name = "EmptyExtendedKeyUsage",
     .args = {"cert", "--cn", "x", "--eku", "", "--store", "{store}"},
     .status = 0,
     .errMatch = TMatch::Exact,
     .err = "",
     .outMatch = TMatch::Exact,
     .out = kSelfSignedLog,
     .written = kCertAndKey},
    {.name = "WarningsWithoutStrict",
     .args = {"cert", "--cn", "Test Server", "--ku", "digitalSignature,keyEncipherment", "--store",
              "{store}"},
     .status = 0,
     .errMatch = TMatch::Exact,
     .err = "Warning: " + kECKeyEncipherment + "\nWarning: " + kNoServerName + "\n",
     .outMatch = TMatch::Exact,
     .out = kSelfSignedLog,
     .written = kCertAndKey},
    {.name = "StrictWithNothingFound",
     .args = {"cert", "--cn", "x", "--dns", "x", "--strict", "--store", "{store}"},
     .status = 0,
     .errMatch = TMatch::Exact,
     .err = "",
     .outMatch = TMatch::Exact,
     .out = kSelfSignedLog,
     .written = kCertAndKey},
    {.name = "Help",
     .args = {"--help"},
     .status = 0,
     .errMatch = TMatch::Exact,
     .err = "",
     .outMatch = TMatch::Contains,
     .out = "Usage: velmora-cli [OPTIONS] SUBCOMMAND\n"},
    {.name = "CertHelp",
     .args = {"cert", "--help"},
     .status = 0,
     .errMatch = TMatch::Exact,
     .err = "",
     .outMatch = TMatch::Contains,
     .out = "Usage: velmora-cli cert [OPTIONS]\n"},
    {.name = "DevHelp",
     .args = {"dev", "--help"},
     .status = 0,
     .errMatch = TMatch::Exact,
     .err = "",
     .outMatch = TMatch::Contains,
     .out = "Usage: velmora-cli dev [OPTIONS] names...\n"},
    {.name = "InfoHelp",
     .args = {"info", "--help"},
     .status = 0,
     .errMatch = TMatch::Exact,
     .err = "",
     .outMatch = TMatch::Contains,
     .out = "Usage: velmora-cli info [OPTIONS] files...\n"},
    {.name = "ListHelp",
     .args = {"list", "--help"},
     .status = 0,
     .errMatch = TMatch::Exact,
     .err = "",
     .outMatch = TMatch::Contains,
     .out = "Usage: velmora-cli list [OPTIONS] [dir]\n"},
    {.name = "Version",
     .args = {"--version"},
     .status = 0,
     .errMatch = TMatch::Exact,
     .err = "",
     .outMatch = TMatch::Exact,
     .out = "velmora-cli " VELMORA_VERSION "\n"},
};

void PrintTo(const ArgCase& Case, std::ostream* Out) { *Out << Case.name; }

void ExpectText(const char* Stream, TMatch Match, const std::string& Expected,
                const std::string& Actual) {
  switch (Match) {
    case TMatch::Any: return;
    case TMatch::Exact: EXPECT_EQ(Actual, Expected) << Stream; return;
    case TMatch::Prefix:
      EXPECT_EQ(Actual.substr(0, Expected.size()), Expected) << Stream << ":\n" << Actual;
      return;
    case TMatch::Contains:
      EXPECT_NE(Actual.find(Expected), std::string::npos) << Stream << ":\n" << Actual;
      return;
  }
}

class CliArguments : public CliTest, public testing::WithParamInterface<ArgCase> {
 protected:
  // Two CAs made by the command line itself, the second one's key under a pass phrase.
  void MakeCAs() {
    const std::vector<std::string> ca{"cert",  "--ca", "--ku",    "keyCertSign,cRLSign",
                                      "--eku", "",     "--store", At("cas")};
    auto with = [&](std::vector<std::string> extra) {
      std::vector<std::string> args = ca;
      args.insert(args.end(), extra.begin(), extra.end());
      return args;
    };
    const TProcessResult one = Cli(
        with({"--cn", "Velmora CLI Test CA One", "--out-cert", "one.crt", "--out-key", "one.key"}));
    ASSERT_EQ(one.Status, 0) << one.Err;
    const TProcessResult two = Cli(with({"--cn", "Velmora CLI Test CA Two", "--out-cert", "two.crt",
                                         "--out-key", "two.key", "--key-pass", "pass:second ca"}));
    ASSERT_EQ(two.Status, 0) << two.Err;
  }
};

TEST_P(CliArguments, ExitStatusMessagesAndFiles) {
  const ArgCase& c = GetParam();
  std::vector<std::string> args;
  bool needsCAs = false;
  for (const std::string& arg : c.args) {
    needsCAs = needsCAs || arg.find("{ca}") != std::string::npos;
    args.push_back(Expand(arg, Root()));
  }
  if (needsCAs) {
    ASSERT_NO_FATAL_FAILURE(MakeCAs());
  }
  for (const auto& [name, contents] : c.existing) {
    std::filesystem::create_directories((Root() / name).parent_path());
    WriteFile(Root() / name, contents);
  }

  const TFileTree before = FilesUnder(Root());
  const TProcessResult run = Cli(args);
  const TFileTree after = FilesUnder(Root());

  EXPECT_EQ(run.Status, c.status) << "stderr:\n" << run.Err << "stdout:\n" << run.Out;
  ExpectText("stderr", c.errMatch, Expand(c.err, Root()), run.Err);
  ExpectText("stdout", c.outMatch, Expand(c.out, Root()), run.Out);
  if (c.status == 2) {
    // A wrong command line is told on the error stream with the way to more help.
    EXPECT_EQ(run.Out, "");
    EXPECT_TRUE(run.Err.ends_with(kUsageHint)) << run.Err;
  }
  EXPECT_EQ(ChangedFiles(before, after), c.written);
}

INSTANTIATE_TEST_SUITE_P(Cases, CliArguments, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ArgCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace velmora::test
