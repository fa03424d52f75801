// The command line with Edwards-curve keys and name constraints: a TLS handshake with an
// Ed25519 leaf, `info --json` for Edwards files, --permit/--exclude judged by OpenSSL, and the
// development CA that vouches only for development names unless told otherwise.
#include "tests/cli/CliFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <optional>

namespace velmora::test {
namespace {

class CliEdwardsAndConstraints : public CliTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(MissingPrograms({"openssl", "curl"}), "")
        << "scripts/install-deps installs the tools these tests check with";
  }

  std::string Store() const { return At("store"); }
  std::string InStore(const std::string& Name) const { return Store() + "/" + Name; }

  // `velmora-cli cert` into the store, expected to succeed.
  void Cert(const std::vector<std::string>& Args) {
    std::vector<std::string> all = {"cert", "--store", Store()};
    all.insert(all.end(), Args.begin(), Args.end());
    const TProcessResult run = Cli(all);
    ASSERT_EQ(run.Status, 0) << run.Err;
  }

  TRun Verify(const std::string& CA, const std::string& Leaf) const {
    return OpenSSL("verify -x509_strict -CAfile " + Quoted(InStore(CA)) + " " +
                   Quoted(InStore(Leaf)));
  }
};

TEST_F(CliEdwardsAndConstraints, TLSHandshakeCompletesWithAnEd25519Leaf) {
  Cert({"--key", "ed25519", "--cn", "Edwards CA", "--profile", "root-ca", "--out-cert", "ca.crt",
        "--out-key", "ca.key"});
  Cert({"--key", "ed25519", "--cn", "localhost", "--profile", "tls-server", "--sign-with",
        InStore("ca.crt"), "--sign-key", InStore("ca.key"), "--out-cert", "leaf.crt", "--out-key",
        "leaf.key"});
  std::optional<TBackgroundProcess> server;
  std::string port;
  for (int attempt = 0; attempt < 3 && !server; ++attempt) {
    port = std::to_string(FreeLocalPort());
    server.emplace(
        FindProgram("openssl"),
        std::vector<std::string>{"s_server", "-accept", "127.0.0.1:" + port, "-cert",
                                 InStore("leaf.crt"), "-key", InStore("leaf.key"), "-www"},
        At("s_server.log"));
    if (!WaitUntilAccepting(std::stoi(port), *server)) server.reset();
  }
  ASSERT_TRUE(server) << ReadFileText(At("s_server.log"));
  const TRun client = RunCommand("openssl s_client -connect 127.0.0.1:" + port +
                                 " -verify_return_error -verify_hostname localhost -CAfile " +
                                 Quoted(InStore("ca.crt")) + " </dev/null");
  EXPECT_EQ(client.status, 0) << client.output;
  EXPECT_NE(client.output.find("Verify return code: 0 (ok)"), std::string::npos) << client.output;
  EXPECT_NE(client.output.find("a:PKEY: ED25519, 256 (bit); sigalg: ED25519"), std::string::npos)
      << client.output;
}

TEST_F(CliEdwardsAndConstraints, InfoJsonShowsEdwardsKeysAndPairsThem) {
  Cert({"--key", "ed448", "--cn", "ed448.example", "--profile", "code-signing", "--out-cert",
        "ed.crt", "--out-key", "ed.key", "--p12", "ed.p12", "--p12-pass",
        "pass:", "--p12-compatible"});
  const TProcessResult info = Cli({"info", "--json", InStore("ed.crt"), InStore("ed.key")});
  ASSERT_EQ(info.Status, 0) << info.Err;
  const QJsonArray entries = QJsonDocument::fromJson(QByteArray::fromStdString(info.Out)).array();
  ASSERT_EQ(entries.size(), 2) << info.Out;
  const auto has = [](const QJsonValue& Lines, const QString& Line) {
    return Lines.toArray().contains(Line);
  };
  EXPECT_TRUE(has(entries[0].toObject()["lines"], "Key Type:     Ed448")) << info.Out;
  EXPECT_TRUE(has(entries[0].toObject()["related"], "Private key in store: ed.key")) << info.Out;
  EXPECT_TRUE(has(entries[1].toObject()["lines"], "Key Type: Ed448 private key")) << info.Out;
  const TRun bundle =
      OpenSSL("pkcs12 -info -nokeys -legacy -passin pass: -in " + Quoted(InStore("ed.p12")));
  EXPECT_NE(bundle.output.find("pbeWithSHA1And3-KeyTripleDES-CBC"), std::string::npos)
      << bundle.output;
}

TEST_F(CliEdwardsAndConstraints, PermitAndExcludeAreEnforcedByOpenSSL) {
  Cert({"--cn", "Corp CA", "--profile", "root-ca", "--permit", "corp.example, 10.0.0.0/8",
        "--exclude", ".secret.corp.example", "--out-cert", "ca.crt", "--out-key", "ca.key"});
  const TRun text = OpenSSL("x509 -noout -ext nameConstraints -in " + Quoted(InStore("ca.crt")));
  EXPECT_NE(text.output.find("X509v3 Name Constraints: critical"), std::string::npos)
      << text.output;
  struct Case {
    const char* name;
    const char* dns;
    bool inside;
    const char* warning;
  };
  const Case cases[] = {
      {"inside", "www.corp.example", true, nullptr},
      {"outside", "www.other.example", false, "www.other.example"},
      {"excluded", "a.secret.corp.example", false, "a.secret.corp.example"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string leaf = std::string(c.name) + ".crt";
    const TProcessResult run =
        Cli({"cert", "--store", Store(), "--cn", c.dns, "--dns", c.dns, "--sign-with",
             InStore("ca.crt"), "--sign-key", InStore("ca.key"), "--out-cert", leaf, "--out-key",
             std::string(c.name) + ".key"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::string warning = c.warning
                                    ? std::string("Warning: The CA may not issue for ") +
                                          c.warning + ": clients will refuse this certificate.\n"
                                    : "";
    EXPECT_EQ(run.Err, warning);
    const TRun verify = Verify("ca.crt", leaf);
    EXPECT_EQ(verify.status == 0, c.inside) << verify.output;
    if (c.inside) continue;
    EXPECT_NE(verify.output.find(c.name == std::string("excluded") ? "excluded subtree violation"
                                                                   : "permitted subtree violation"),
              std::string::npos)
        << verify.output;
  }
  // --strict refuses what the check finds, and writes nothing.
  const TProcessResult strict =
      Cli({"cert", "--store", Store(), "--cn", "x.other.example", "--dns", "x.other.example",
           "--sign-with", InStore("ca.crt"), "--sign-key", InStore("ca.key"), "--out-cert",
           "strict.crt", "--out-key", "strict.key", "--strict"});
  EXPECT_EQ(strict.Status, 1);
  EXPECT_FALSE(std::filesystem::exists(InStore("strict.crt")));
}

TEST_F(CliEdwardsAndConstraints, ConstraintArgumentsAreCheckedFirst) {
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--ca", "--permit", "example.org,exa mple.org"},
       "velmora-cli: Invalid name constraint \"exa mple.org\"."},
      {{"--ca", "--exclude", "10.0.0.1/8"}, "velmora-cli: Invalid name constraint \"10.0.0.1/8\"."},
      {{"--permit", "example.org"},
       "velmora-cli: --permit and --exclude constrain a CA: give --ca or a CA profile (root-ca, "
       "intermediate-ca)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> args = {"cert", "--store", Store(), "--cn", "x"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const TProcessResult run = Cli(args);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Err.substr(0, run.Err.find('\n')), c.message);
    EXPECT_FALSE(std::filesystem::exists(Store()));
  }
}

// ---- velmora-cli dev ----

std::string UserAtHost() {
  const passwd* entry = ::getpwuid(::getuid());
  char host[HOST_NAME_MAX + 1] = {};
  ::gethostname(host, sizeof host - 1);
  return std::string(entry ? entry->pw_name : "user") + "@" + host;
}

TEST_F(CliEdwardsAndConstraints, DevCAIsConstrainedToDevelopmentNames) {
  const TProcessResult dev =
      Cli({"dev", "app.test", "localhost", "127.0.0.1", "::1", "--store", Store()});
  ASSERT_EQ(dev.Status, 0) << dev.Err;
  EXPECT_EQ(dev.Err, "");
  const TRun ca = OpenSSL("x509 -noout -subject -ext nameConstraints -nameopt utf8 -in " +
                          Quoted(InStore("velmora-dev-ca.crt")));
  EXPECT_NE(ca.output.find("CN=Velmora development CA " + UserAtHost()), std::string::npos)
      << ca.output;
  for (const char* subtree :
       {"DNS:localhost", "DNS:.localhost", "DNS:.test", "DNS:.example", "DNS:.invalid",
        "DNS:.internal", "DNS:.home.arpa", "DNS:.local", "IP:127.0.0.0/255.0.0.0",
        "IP:10.0.0.0/255.0.0.0", "IP:172.16.0.0/255.240.0.0", "IP:192.168.0.0/255.255.0.0",
        "IP:FC00:0:0:0:0:0:0:0/FE00:0:0:0:0:0:0:0", "IP:FE80:0:0:0:0:0:0:0/FFC0:0:0:0:0:0:0:0"})
    EXPECT_NE(ca.output.find(subtree), std::string::npos) << subtree << "\n" << ca.output;
  EXPECT_EQ(Verify("velmora-dev-ca.crt", "app.test.crt").status, 0);
  // The leaf's validity: 397 days by default.
  const TRun dates = OpenSSL("x509 -noout -checkend " + std::to_string(396 * 86400) + " -in " +
                             Quoted(InStore("app.test.crt")));
  EXPECT_EQ(dates.status, 0) << dates.output;
  const TRun end = OpenSSL("x509 -noout -checkend " + std::to_string(398 * 86400) + " -in " +
                           Quoted(InStore("app.test.crt")));
  EXPECT_NE(end.status, 0) << end.output;

  // A public name is refused before anything is written, and the way out is named.
  const TFileTree before = FilesUnder(Store());
  const TProcessResult outside = Cli({"dev", "www.example.com", "--store", Store()});
  EXPECT_EQ(outside.Status, 1);
  EXPECT_NE(outside.Err.find("may not issue for www.example.com"), std::string::npos)
      << outside.Err;
  EXPECT_NE(outside.Err.find("--ca-name NAME with --unconstrained, or with --permit LIST"),
            std::string::npos)
      << outside.Err;
  EXPECT_TRUE(ChangedFiles(before, FilesUnder(Store())).empty());
}

TEST_F(CliEdwardsAndConstraints, ANameOutsideIsRefusedBeforeTheCAIsMade) {
  const TProcessResult outside =
      Cli({"dev", "localhost", "public.example.org", "--store", Store()});
  EXPECT_EQ(outside.Status, 1);
  EXPECT_NE(outside.Err.find("may not issue for public.example.org"), std::string::npos)
      << outside.Err;
  EXPECT_TRUE(!std::filesystem::exists(Store()) || FilesUnder(Store()).empty());
}

TEST_F(CliEdwardsAndConstraints, NamedDevCAsLiveSideBySide) {
  const TProcessResult wide = Cli({"dev", "intranet.corp.example", "--ca-name", "corp",
                                   "--unconstrained", "--store", Store(), "--days", "30"});
  ASSERT_EQ(wide.Status, 0) << wide.Err;
  EXPECT_NE(wide.Err.find("Warning: velmora-dev-ca-corp.crt is unconstrained: it can vouch for "
                          "any site"),
            std::string::npos)
      << wide.Err;
  const TRun text = OpenSSL("x509 -noout -text -in " + Quoted(InStore("velmora-dev-ca-corp.crt")));
  EXPECT_EQ(text.output.find("Name Constraints"), std::string::npos) << text.output;
  EXPECT_EQ(Verify("velmora-dev-ca-corp.crt", "intranet.corp.example.crt").status, 0);

  const TProcessResult permitted = Cli({"dev", "svc.corp.example", "--ca-name", "narrow",
                                        "--permit", ".corp.example", "--store", Store()});
  ASSERT_EQ(permitted.Status, 0) << permitted.Err;
  EXPECT_EQ(Verify("velmora-dev-ca-narrow.crt", "svc.corp.example.crt").status, 0);
  const TProcessResult outside =
      Cli({"dev", "localhost", "--ca-name", "narrow", "--store", Store()});
  EXPECT_EQ(outside.Status, 1);
  EXPECT_NE(outside.Err.find("velmora-dev-ca-narrow.crt may not issue for localhost"),
            std::string::npos)
      << outside.Err;
  EXPECT_FALSE(std::filesystem::exists(InStore("velmora-dev-ca.crt")));
}

TEST_F(CliEdwardsAndConstraints, DevRefusesBadDaysAndCANames) {
  for (const auto& [args, message] :
       {std::pair<std::vector<std::string>, std::string>{
            {"--days", "826"},
            "velmora-cli: --days is 1 to 825: Apple platforms accept no TLS server certificate "
            "valid longer."},
        {{"--days", "0"},
         "velmora-cli: --days is 1 to 825: Apple platforms accept no TLS server certificate "
         "valid longer."},
        {{"--ca-name", "../x"},
         "velmora-cli: Invalid CA name \"../x\": letters, digits, \".\", \"-\" and \"_\", up to "
         "64 of them."},
        {{"--unconstrained", "--permit", "example.org"},
         "velmora-cli: --unconstrained and --permit contradict each other: choose one."}}) {
    SCOPED_TRACE(message);
    std::vector<std::string> all = {"dev", "localhost", "--store", Store()};
    all.insert(all.end(), args.begin(), args.end());
    const TProcessResult run = Cli(all);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Err.substr(0, run.Err.find('\n')), message);
  }
  EXPECT_FALSE(std::filesystem::exists(Store()));
}

// A CA of an earlier version, without constraints, keeps serving, and dev says what it is.
TEST_F(CliEdwardsAndConstraints, AnEarlierUnconstrainedDevCAIsUsedAsItIs) {
  Cert({"--cn", "Velmora Development CA", "--profile", "root-ca", "--pathlen", "0", "--out-cert",
        "velmora-dev-ca.crt", "--out-key", "velmora-dev-ca.key"});
  const std::string caBefore = ReadFileText(InStore("velmora-dev-ca.crt"));
  const TProcessResult dev = Cli({"dev", "www.example.com", "--store", Store()});
  ASSERT_EQ(dev.Status, 0) << dev.Err;
  EXPECT_NE(dev.Err.find("Warning: velmora-dev-ca.crt is unconstrained: it can vouch for any "
                         "site"),
            std::string::npos)
      << dev.Err;
  EXPECT_EQ(ReadFileText(InStore("velmora-dev-ca.crt")), caBefore);
  EXPECT_EQ(Verify("velmora-dev-ca.crt", "www.example.com.crt").status, 0);
}

}  // namespace
}  // namespace velmora::test
