// velmora-cli trust: a CA put into a sandboxed system store and sandboxed NSS databases, judged
// by the stores' own readers (openssl verify, certutil -L) and a real TLS client, and taken
// out again without touching anything else. The machine's own stores and home are never used:
// every run names a --root and a --home inside the test's folder.
#include "tests/cli/CliFixture.h"

#include <unistd.h>

#include <filesystem>
#include <optional>

namespace velmora::test {
namespace {

class CliTrust : public CliTest {
 protected:
  void SetUp() override {
    if (const std::string missing = MissingPrograms({"openssl", "curl", "certutil"}) +
                                    (std::filesystem::exists("/usr/sbin/update-ca-certificates")
                                         ? ""
                                         : " update-ca-certificates");
        !missing.empty())
      GTEST_FAIL() << "The trust tests judge with openssl, curl, certutil (libnss3-tools) and "
                      "update-ca-certificates (ca-certificates); not installed: "
                   << missing;
    MakeSandboxRoot();
    MakeDatabase(Nssdb());
    MakeDatabase(Profile());
    // Something of the user's own in the databases, which a removal must leave alone.
    for (const std::string& db : {Nssdb(), Profile()}) {
      const TRun add = RunCommand("certutil -A -n 'Someone Else' -t 'CT,C,C' -a -i " +
                                  Quoted(OtherCA()) + " -d " + Quoted("sql:" + db));
      ASSERT_EQ(add.status, 0) << add.output;
    }
  }

  std::string SandboxRoot() const { return At("root"); }
  std::string Home() const { return At("home"); }
  std::string Nssdb() const { return At("home/.pki/nssdb"); }
  std::string Profile() const { return At("home/.mozilla/firefox/abcd1234.default-release"); }
  std::string OtherCA() const { return At("root/usr/share/ca-certificates/other/other.crt"); }
  std::string CertsDir() const { return At("root/etc/ssl/certs"); }

  // A Debian system store in miniature: one CA of the distribution's, listed in the
  // configuration and linked into the hashed folder by update-ca-certificates itself.
  void MakeSandboxRoot() const {
    for (const char* dir : {"root/etc/ssl/certs", "root/usr/share/ca-certificates/other",
                            "root/usr/local/share/ca-certificates"})
      std::filesystem::create_directories(At(dir));
    const TRun other = OpenSSL(
        "req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " +
        Quoted(At("other.key")) + " -out " + Quoted(OtherCA()) + " -subj /CN=Other -days 30");
    ASSERT_EQ(other.status, 0) << other.output;
    WriteFile(At("root/etc/ca-certificates.conf"), std::string("other/other.crt\n"));
    const std::string r = SandboxRoot();
    const TRun update = RunCommand(
        "/usr/sbin/update-ca-certificates --certsconf " + Quoted(r + "/etc/ca-certificates.conf") +
        " --certsdir " + Quoted(r + "/usr/share/ca-certificates") + " --localcertsdir " +
        Quoted(r + "/usr/local/share/ca-certificates") + " --etccertsdir " + Quoted(CertsDir()) +
        " --hooksdir " + Quoted(r + "/etc/ca-certificates/update.d"));
    ASSERT_EQ(update.status, 0) << update.output;
  }

  static void MakeDatabase(const std::string& Dir) {
    std::filesystem::create_directories(Dir);
    const TRun made = RunCommand("certutil -N --empty-password -d " + Quoted("sql:" + Dir));
    ASSERT_EQ(made.status, 0) << made.output;
  }

  static std::string Listing(const std::string& Dir) {
    return RunCommand("certutil -L -d " + Quoted("sql:" + Dir)).output;
  }

  std::vector<std::string> Sandbox() const { return {"--root", SandboxRoot(), "--home", Home()}; }

  TProcessResult Trust(std::vector<std::string> Args) const {
    Args.insert(Args.begin(), "trust");
    const std::vector<std::string> sandbox = Sandbox();
    Args.insert(Args.end(), sandbox.begin(), sandbox.end());
    return Cli(Args);
  }

  // The development CA and a server certificate under it, made by velmora-cli dev.
  std::string MakeDevCA(const std::vector<std::string>& Extra = {}) const {
    std::vector<std::string> args{"dev", "localhost", "127.0.0.1", "--store", At("store")};
    args.insert(args.end(), Extra.begin(), Extra.end());
    const TProcessResult dev = Cli(args);
    EXPECT_EQ(dev.Status, 0) << dev.Err;
    return At("store/velmora-dev-ca.crt");
  }

  TRun VerifyLeaf() const {
    return OpenSSL("verify -purpose sslserver -CApath " + Quoted(CertsDir()) + " " +
                   Quoted(At("store/localhost.crt")));
  }
};

TEST_F(CliTrust, InstallReachesEveryStoreAndRemoveLeavesTheRestAsItWas) {
  const std::string ca = MakeDevCA();
  const std::string nssBefore = Listing(Nssdb());
  const std::string profileBefore = Listing(Profile());
  const std::string bundle = CertsDir() + "/ca-certificates.crt";
  const std::string bundleBefore = ReadFileText(bundle);
  ASSERT_NE(VerifyLeaf().status, 0);

  // A real client: before the install the sandbox's bundle does not let curl in, after it does.
  std::optional<TBackgroundProcess> server;
  std::string port;
  for (int attempt = 0; attempt < 3 && !server; ++attempt) {
    const int free = FreeLocalPort();
    port = std::to_string(free);
    server.emplace(FindProgram("openssl"),
                   std::vector<std::string>{"s_server", "-accept", "127.0.0.1:" + port, "-cert",
                                            At("store/localhost.crt"), "-key",
                                            At("store/localhost.key"), "-www"},
                   At("s_server.log"));
    if (!WaitUntilAccepting(free, *server)) server.reset();
  }
  ASSERT_TRUE(server) << ReadFileText(At("s_server.log"));
  const auto fetch = [&] {
    return RunCommand(
        "HOME=" + Quoted(Home()) +
        " curl -q -sS --noproxy '*' --max-time 60 -o /dev/null -w '%{http_code}' --cacert " +
        Quoted(bundle) + " --resolve " + Quoted("localhost:" + port + ":127.0.0.1") + " " +
        Quoted("https://localhost:" + port + "/"));
  };
  const TRun refused = fetch();
  EXPECT_NE(refused.status, 0) << refused.output;

  const TProcessResult install = Trust({"install", ca});
  ASSERT_EQ(install.Status, 0) << install.Out << install.Err;
  EXPECT_NE(install.Out.find("\u2713 system store (update-ca-certificates): installed"),
            std::string::npos)
      << install.Out;
  EXPECT_NE(install.Out.find("\u2713 NSS database (~/.pki/nssdb): installed"), std::string::npos)
      << install.Out;
  EXPECT_NE(install.Out.find("\u2713 Firefox (default-release): installed"), std::string::npos)
      << install.Out;

  const TRun verified = VerifyLeaf();
  EXPECT_EQ(verified.status, 0) << verified.output;
  const TRun accepted = fetch();
  EXPECT_EQ(accepted.status, 0) << accepted.output;
  EXPECT_EQ(accepted.output, "200");
  const std::string fingerprint =
      OpenSSL("x509 -noout -fingerprint -sha256 -in " + Quoted(ca)).output;
  const std::string hex = [&] {
    std::string h;
    for (std::size_t at = fingerprint.find('=') + 1; at < fingerprint.size() && h.size() < 8; ++at)
      if (std::isxdigit(static_cast<unsigned char>(fingerprint[at])))
        h += static_cast<char>(std::tolower(fingerprint[at]));
    return h;
  }();
  for (const std::string& db : {Nssdb(), Profile()}) {
    SCOPED_TRACE(db);
    const std::string listing = Listing(db);
    const std::size_t at = listing.find("Velmora Velmora development CA ");
    ASSERT_NE(at, std::string::npos) << listing;
    std::string line = listing.substr(at, listing.find('\n', at) - at);
    while (!line.empty() && line.back() == ' ') line.pop_back();  // certutil pads its columns
    EXPECT_NE(line.find(" " + hex + " "), std::string::npos) << line;
    EXPECT_TRUE(line.ends_with("C,,")) << line;
  }
  // Without a CA, status names the Velmora CAs each target holds.
  const TProcessResult listing = Trust({"status"});
  EXPECT_EQ(listing.Status, 0) << listing.Err;
  EXPECT_NE(listing.Out.find("\u2713 system store (update-ca-certificates): velmora-" + hex),
            std::string::npos)
      << listing.Out;
  const std::string firefoxLine =
      "\u2713 Firefox (default-release): Velmora Velmora development CA ";
  const std::size_t firefox = listing.Out.find(firefoxLine);
  ASSERT_NE(firefox, std::string::npos) << listing.Out;
  EXPECT_NE(listing.Out.substr(firefox, listing.Out.find('\n', firefox) - firefox).find(" " + hex),
            std::string::npos)
      << listing.Out;
  const TProcessResult status = Trust({"status", ca, "--json"});
  ASSERT_EQ(status.Status, 0) << status.Err;
  EXPECT_EQ(status.Out.find("\"installed\": false"), std::string::npos) << status.Out;
  EXPECT_NE(status.Out.find("\"installed\": true"), std::string::npos) << status.Out;

  // Twice is once: nothing is added a second time.
  const std::string profileInstalled = Listing(Profile());
  const TProcessResult again = Trust({"install", ca});
  EXPECT_EQ(again.Status, 0) << again.Out << again.Err;
  EXPECT_NE(again.Out.find("\u2713 Firefox (default-release): already installed"),
            std::string::npos)
      << again.Out;
  EXPECT_EQ(Listing(Profile()), profileInstalled);

  const TProcessResult remove = Trust({"remove", ca});
  ASSERT_EQ(remove.Status, 0) << remove.Out << remove.Err;
  EXPECT_NE(remove.Out.find("\u2713 Firefox (default-release): removed"), std::string::npos)
      << remove.Out;
  EXPECT_NE(VerifyLeaf().status, 0);
  EXPECT_NE(fetch().status, 0);
  EXPECT_EQ(Listing(Nssdb()), nssBefore);
  EXPECT_EQ(Listing(Profile()), profileBefore);
  EXPECT_EQ(ReadFileText(bundle), bundleBefore);
  const TProcessResult after = Trust({"status", ca, "--json"});
  EXPECT_EQ(after.Out.find("\"installed\": true"), std::string::npos) << after.Out;
  EXPECT_NE(after.Out.find("\"installed\": false"), std::string::npos) << after.Out;

  const TProcessResult removeAgain = Trust({"remove", ca});
  EXPECT_EQ(removeAgain.Status, 0) << removeAgain.Out;
  EXPECT_NE(removeAgain.Out.find("\u2713 Firefox (default-release): not installed"),
            std::string::npos)
      << removeAgain.Out;
}

TEST_F(CliTrust, ProfileOpenInFirefoxIsReportedAndLeftAlone) {
  const std::string ca = MakeDevCA();
  // Firefox names its process in the lock link; this test's own process stands for it.
  std::filesystem::create_symlink("127.0.1.1:+" + std::to_string(::getpid()), Profile() + "/lock");
  const std::string before = Listing(Profile());

  const TProcessResult install = Trust({"install", ca, "--no-system"});
  EXPECT_EQ(install.Status, 1) << install.Out << install.Err;
  EXPECT_NE(install.Out.find("\u2717 Firefox (default-release): open in a running Firefox: close "
                             "Firefox and run again"),
            std::string::npos)
      << install.Out;
  EXPECT_NE(install.Out.find("\u2713 NSS database (~/.pki/nssdb): installed"), std::string::npos)
      << install.Out;
  EXPECT_EQ(install.Out.find("system store"), std::string::npos) << install.Out;
  EXPECT_EQ(Listing(Profile()), before);
}

TEST_F(CliTrust, UnconstrainedCANeedsYesWithoutATerminal) {
  const std::string ca = MakeDevCA({"--unconstrained"});
  const std::string before = Listing(Profile());
  const TProcessResult refused = Trust({"install", ca, "--no-system"});
  EXPECT_EQ(refused.Status, 1);
  EXPECT_NE(refused.Err.find("has no name constraints: it can vouch for any web site"),
            std::string::npos)
      << refused.Err;
  EXPECT_NE(refused.Err.find("run again with --yes"), std::string::npos) << refused.Err;
  EXPECT_EQ(Listing(Profile()), before);

  const TProcessResult accepted = Trust({"install", ca, "--no-system", "--yes"});
  EXPECT_EQ(accepted.Status, 0) << accepted.Out << accepted.Err;
  EXPECT_NE(Listing(Profile()).find("Velmora Velmora development CA"), std::string::npos);
}

TEST_F(CliTrust, RefusedFilesChangeNothing) {
  const std::string ca = MakeDevCA();
  WriteFile(At("key-and-cert.pem"),
            ReadFileText(ca) + ReadFileText(At("store/velmora-dev-ca.key")));
  WriteFile(At("two.pem"), ReadFileText(ca) + ReadFileText(OtherCA()));
  struct TCase {
    const char* Name;
    std::string File;
    const char* Says;
  };
  const TCase cases[] = {
      {"leaf", At("store/localhost.crt"), "is not a CA certificate"},
      {"private key", At("key-and-cert.pem"), "holds a private key"},
      {"two certificates", At("two.pem"), "holds 2 certificates"},
  };
  const TFileTree before = FilesUnder(Root());
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TProcessResult run = Trust({"install", c.File, "--yes"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("Nothing was changed"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
    EXPECT_EQ(ChangedFiles(before, FilesUnder(Root())), std::set<std::string>{});
  }
}

// With no other CA in the configuration, update-ca-certificates leaves the old bundle, and the
// removed CA in it, behind: that is no success to report.
TEST_F(CliTrust, RemovalThatLeavesTheCAInTheBundleIsNoSuccess) {
  WriteFile(At("root/etc/ca-certificates.conf"), std::string());
  const std::string ca = MakeDevCA();
  ASSERT_EQ(Trust({"install", ca}).Status, 0);
  const TProcessResult remove = Trust({"remove", ca});
  EXPECT_EQ(remove.Status, 1) << remove.Out;
  EXPECT_NE(remove.Out.find("\u2717 system store (update-ca-certificates): still installed after "
                            "update-ca-certificates: its file is gone, but the bundle "),
            std::string::npos)
      << remove.Out;
  const TRun bundle = OpenSSL("verify -CAfile " + Quoted(CertsDir() + "/ca-certificates.crt") +
                              " " + Quoted(At("store/localhost.crt")));
  EXPECT_EQ(bundle.status, 0) << "the bundle no longer holds the CA after all: " << bundle.output;
}

TEST_F(CliTrust, DevTrustsItsCAOrNamesTheOneCommand) {
  const TProcessResult plain = Cli({"dev", "localhost", "--store", At("store")});
  ASSERT_EQ(plain.Status, 0) << plain.Err;
  EXPECT_TRUE(plain.Out.ends_with(
      "To trust the development CA on this computer:\n  velmora-cli trust install " +
      At("store/velmora-dev-ca.crt") + "\n"))
      << plain.Out;

  std::vector<std::string> args{"dev", "localhost", "--store", At("store"), "--force", "--trust"};
  const std::vector<std::string> sandbox = Sandbox();
  args.insert(args.end(), sandbox.begin(), sandbox.end());
  const TProcessResult trusted = Cli(args);
  ASSERT_EQ(trusted.Status, 0) << trusted.Out << trusted.Err;
  EXPECT_NE(trusted.Out.find("\u2713 Firefox (default-release): installed"), std::string::npos)
      << trusted.Out;
  const TRun verified = VerifyLeaf();
  EXPECT_EQ(verified.status, 0) << verified.output;
}

}  // namespace
}  // namespace velmora::test
