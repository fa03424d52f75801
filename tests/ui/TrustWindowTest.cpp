// Trust from the store tab: the row's menu puts a CA certificate into the trust stores and
// takes it out again, as a job, with one box of outcomes; the File Info pane says where it is
// trusted. The stores are a sandbox made here (a Debian root in miniature and a home with a
// Firefox profile), never the machine's own.
#include "tests/support/CryptoFixtures.h"
#include "tests/support/RunCommand.h"
#include "tests/ui/BareStorePanel.h"
#include "tests/ui/LoggingHost.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::test {
namespace {

class TrustFromTheStore : public BareStorePanel<LoggingHost> {
 protected:
  void SetUp() override {
    for (const char* tool : {"openssl", "certutil"})
      ASSERT_EQ(RunCommand(std::string("command -v ") + tool).status, 0)
          << tool << " judges the trust stores; it is not installed";
    ASSERT_TRUE(std::filesystem::exists("/usr/sbin/update-ca-certificates"))
        << "update-ca-certificates (ca-certificates) is not installed";
    const std::string r = Sandbox.File("root");
    for (const char* dir :
         {"/etc/ssl/certs", "/usr/share/ca-certificates", "/usr/local/share/ca-certificates"})
      std::filesystem::create_directories(r + dir);
    // One CA of the distribution's, as every real system store has: update-ca-certificates
    // rewrites its bundle only when some certificate is left.
    std::filesystem::create_directories(r + "/usr/share/ca-certificates/other");
    const TRun other =
        RunCommand("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " +
                   Quoted(Sandbox.File("other.key")) + " -out " +
                   Quoted(r + "/usr/share/ca-certificates/other/other.crt") +
                   " -subj /CN=Other -days 30 2>&1");
    ASSERT_EQ(other.status, 0) << other.output;
    WriteFile(r + "/etc/ca-certificates.conf", std::string("other/other.crt\n"));
    std::filesystem::create_directories(Profile());
    const TRun db = RunCommand("certutil -N --empty-password -d " + Quoted("sql:" + Profile()));
    ASSERT_EQ(db.status, 0) << db.output;
    const auto make = [this](const std::string& Name, const std::string& Extensions) {
      const TRun run = RunCommand(
          "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " +
          Quoted(Sandbox.File(Name + ".key")) + " -out " + Quoted(Store.File(Name + ".crt")) +
          " -subj " + Quoted("/CN=" + Name) + " -days 30 " + Extensions + " 2>&1");
      ASSERT_EQ(run.status, 0) << run.output;
    };
    make("Window Root",
         "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign "
         "-addext 'nameConstraints=critical,permitted;DNS:.test'");
    make("leaf", "-addext basicConstraints=critical,CA:FALSE");

    TTrustPlace place;
    place.Root = r;
    place.Home = Sandbox.File("home");
    Panel.SetTrustPlace(place);
    OpenPanel();
  }

  std::string Profile() const { return Sandbox.File("home/.mozilla/firefox/x1.default-release"); }
  std::string Listing() const {
    return RunCommand("certutil -L -d " + Quoted("sql:" + Profile())).output;
  }

  std::string Info() const { return Form.memStoreInfo->toPlainText().toStdString(); }

  TempDir Sandbox;
};

TEST_F(TrustFromTheStore, TrustsAsksFirstReportsAndStopsTrusting) {
  const std::string before = Listing();
  Pick("Window Root.crt");
  EXPECT_NE(Info().find("Trusted by: none"), std::string::npos) << Info();

  // No: nothing changes.
  Choose("Window Root.crt", "actTrustOnComputer");
  ASSERT_EQ(Platform.Confirmations.size(), 1u);
  EXPECT_EQ(Platform.Confirmations[0],
            "Trust \"Window Root\" on this computer?\n\nTargets:\n"
            "  system store (update-ca-certificates)\n  Firefox (default-release)");
  EXPECT_TRUE(Platform.Messages.empty());
  EXPECT_EQ(Listing(), before);

  Platform.ConfirmAnswers.push_back(true);
  Choose("Window Root.crt", "actTrustOnComputer");
  ASSERT_EQ(Platform.Messages.size(), 1u);
  EXPECT_EQ(Platform.Messages[0],
            "\u2713 system store (update-ca-certificates): installed\n"
            "\u2713 Firefox (default-release): installed");
  EXPECT_NE(Listing().find("Velmora Window Root "), std::string::npos) << Listing();
  WaitIdle();
  EXPECT_NE(Info().find("Trusted by: system store, Firefox (default-release)"), std::string::npos)
      << Info();

  Platform.ConfirmAnswers.push_back(true);
  Choose("Window Root.crt", "actStopTrusting");
  ASSERT_EQ(Platform.Messages.size(), 2u);
  EXPECT_EQ(Platform.Messages[1],
            "\u2713 system store (update-ca-certificates): removed\n"
            "\u2713 Firefox (default-release): removed");
  EXPECT_EQ(Listing(), before);
  EXPECT_TRUE(Platform.ErrorBoxes.empty());
}

TEST_F(TrustFromTheStore, ALeafIsRefusedBeforeAnythingIsAsked) {
  Pick("leaf.crt");
  EXPECT_EQ(Info().find("Trusted by:"), std::string::npos) << Info();
  Choose("leaf.crt", "actTrustOnComputer");
  EXPECT_TRUE(Platform.Confirmations.empty());
  ASSERT_EQ(Platform.ErrorBoxes.size(), 1u);
  EXPECT_NE(Platform.ErrorBoxes[0].find("is not a CA certificate"), std::string::npos)
      << Platform.ErrorBoxes[0];
}

}  // namespace
}  // namespace velmora::test
