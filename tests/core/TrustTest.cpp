// Trust on this computer, the parts that need no store tool: which certificates may be trusted,
// which targets a home and a root hold, and how a privileged command is shown.
#include "core/Trust.h"
#include "crypto/Exception.h"
#include "tests/support/CryptoFixtures.h"
#include "tests/support/RunCommand.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace velmora::test {
namespace {

class TrustFiles : public testing::Test {
 protected:
  void SetUp() override {
    const TRun openssl = RunCommand("command -v openssl");
    ASSERT_EQ(openssl.status, 0) << "The CA files are made with the openssl command line";
  }

  // A self-signed certificate made by openssl with the given extensions; its key in
  // <Name>.key.
  std::string Make(const std::string& Name, const std::string& Extensions,
                   const std::string& Days = "30") const {
    const std::string cert = FDir.File(Name + ".crt");
    const TRun run =
        RunCommand("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " +
                   Quoted(FDir.File(Name + ".key")) + " -out " + Quoted(cert) + " -subj " +
                   Quoted("/CN=" + Name) + " -days " + Days + " " + Extensions + " 2>&1");
    EXPECT_EQ(run.status, 0) << run.output;
    return cert;
  }

  std::string Join(const std::string& Name, const std::vector<std::string>& Files) const {
    std::string text;
    for (const std::string& file : Files) {
      std::ifstream in(file);
      text += std::string(std::istreambuf_iterator<char>(in), {});
    }
    WriteFile(FDir.File(Name), text);
    return FDir.File(Name);
  }

  TempDir FDir;
};

constexpr const char* kCA =
    "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign";

TEST_F(TrustFiles, RefusesWhatMayNotBeTrusted) {
  const std::string ca = Make("good", kCA);
  const std::time_t now = std::time(nullptr);
  struct TCase {
    const char* Name;
    std::string File;
    std::time_t Now;
    const char* Says;
  };
  const TCase cases[] = {
      {"no CA:TRUE", Make("leaf", "-addext basicConstraints=critical,CA:FALSE"), now,
       "is not a CA certificate: it does not say CA:TRUE"},
      {"no keyCertSign",
       Make("signer",
            "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,digitalSignature"),
       now, "its key usage does not allow keyCertSign"},
      // Thirty days on, a day past the end of its validity.
      {"expired", ca, now + 31 * 86400, "has expired"},
      {"with its key", Join("with-key.pem", {ca, FDir.File("good.key")}), now,
       "holds a private key"},
      {"key first", Join("key-first.pem", {FDir.File("good.key"), ca}), now, "holds a private key"},
      {"two certificates", Join("two.pem", {ca, Make("other", kCA)}), now, "holds 2 certificates"},
      {"no certificate", Join("empty.pem", {}), now, "holds no certificate"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    try {
      ReadTrustCA(c.File, c.Now);
      ADD_FAILURE() << "accepted";
    } catch (const Exception& e) {
      const std::string message = e.what();
      EXPECT_TRUE(message.starts_with("Nothing was changed: ")) << message;
      EXPECT_NE(message.find(c.Says), std::string::npos) << message;
    }
  }
}

TEST_F(TrustFiles, ReadsACAInEitherFormWithItsNames) {
  const std::string pem = Make("Example Root", kCA);
  const std::string der = FDir.File("root.der");
  const TRun converted =
      RunCommand("openssl x509 -in " + Quoted(pem) + " -outform DER -out " + Quoted(der));
  ASSERT_EQ(converted.status, 0) << converted.output;
  const std::string fingerprint =
      RunCommand("openssl x509 -noout -fingerprint -sha256 -in " + Quoted(pem)).output;
  const std::string expected = fingerprint.substr(fingerprint.find('=') + 1, 95);

  for (const std::string& file : {pem, der}) {
    SCOPED_TRACE(file);
    const TTrustCA ca = ReadTrustCA(file, std::time(nullptr));
    EXPECT_EQ(ca.Fingerprint, expected);
    EXPECT_EQ(ca.CommonName, "Example Root");
    EXPECT_FALSE(ca.Constrained);
    std::string hex;
    for (const char c : expected)
      if (c != ':' && hex.size() < 16) hex += static_cast<char>(std::tolower(c));
    EXPECT_EQ(ca.SystemFileName(), "velmora-" + hex + ".crt");
    EXPECT_EQ(ca.Nickname(), "Velmora Example Root " + hex.substr(0, 8));
    EXPECT_TRUE(ca.PEM.starts_with("-----BEGIN CERTIFICATE-----")) << ca.PEM;
  }
  const TTrustCA constrained = ReadTrustCA(
      Make("Constrained",
           std::string(kCA) + " -addext 'nameConstraints=critical,permitted;DNS:.test'"),
      std::time(nullptr));
  EXPECT_TRUE(constrained.Constrained);
}

TEST(TrustTargets, FoundByWhatExistsInNameOrder) {
  const TempDir dir;
  const std::string home = dir.File("home");
  // Profiles with a database of today's form count; a folder without one does not.
  for (const char* profile :
       {".mozilla/firefox/zz99.second", ".mozilla/firefox/ab12.default-release",
        "snap/firefox/common/.mozilla/firefox/cd34.default",
        ".var/app/org.mozilla.firefox/.mozilla/firefox/ef56.default", ".thunderbird/gh78.default",
        "snap/thunderbird/common/.thunderbird/ij90.default",
        ".var/app/org.mozilla.Thunderbird/.thunderbird/kl12.default", ".pki/nssdb"}) {
    std::filesystem::create_directories(home + "/" + profile);
    WriteFile(home + "/" + profile + "/cert9.db", std::string());
  }
  std::filesystem::create_directories(home + "/.mozilla/firefox/Crash Reports");
  std::filesystem::create_directories(dir.File("root/usr/local/share/ca-certificates"));

  TTrustPlace place;
  place.Root = dir.File("root");
  place.Home = home;
  std::vector<std::string> names;
  for (const TTrustTarget& target : FindTrustTargets(place)) names.push_back(target.Name);
  const std::vector<std::string> expected{
      "system store (update-ca-certificates)",
      "NSS database (~/.pki/nssdb)",
      "Firefox (default-release)",
      "Firefox (second)",
      "Firefox snap (default)",
      "Firefox flatpak (default)",
      "Thunderbird (default)",
      "Thunderbird snap (default)",
      "Thunderbird flatpak (default)",
  };
  EXPECT_EQ(names, expected);

  place.System = false;
  const std::vector<TTrustTarget> withoutSystem = FindTrustTargets(place);
  ASSERT_FALSE(withoutSystem.empty());
  EXPECT_EQ(withoutSystem.front().Name, "NSS database (~/.pki/nssdb)");
  EXPECT_EQ(withoutSystem.size(), expected.size() - 1);
}

TEST(TrustText, CommandLinesAndTrustedBy) {
  EXPECT_EQ(CommandLineText({"pkexec", "/usr/sbin/update-ca-certificates", "--fresh"}),
            "pkexec /usr/sbin/update-ca-certificates --fresh");
  EXPECT_EQ(CommandLineText({"install", "-m", "0644", "/tmp/a b/it's.crt"}),
            "install -m 0644 '/tmp/a b/it'\\''s.crt'");
  EXPECT_EQ(CommandLineText({"x", ""}), "x ''");
  const std::vector<TTrustOutcome> status{
      {"system store (update-ca-certificates)", "/", true, true, "installed"},
      {"NSS database (~/.pki/nssdb)", "/h", true, false, "not installed"},
      {"Firefox (default-release)", "/p", true, true, "installed"},
  };
  EXPECT_EQ(TrustedByText(status), "system store, Firefox (default-release)");
  EXPECT_EQ(TrustOutcomeLine(status[1]), "\u2713 NSS database (~/.pki/nssdb): not installed");
  EXPECT_EQ(TrustOutcomeLine({"Firefox (x)", "/p", false, false, "close Firefox and run again"}),
            "\u2717 Firefox (x): close Firefox and run again");
}

}  // namespace
}  // namespace velmora::test
