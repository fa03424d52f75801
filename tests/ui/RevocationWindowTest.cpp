// Revocation from the store tab: the row's menu revokes a certificate with its issuing CA of the
// store and publishes a CRL of a CA, as a job after the small dialog; the list then reads
// "revoked" in red and the details say since when. Judged by openssl as a relying party.
#include "core/Store.h"
#include "crypto/CertBuilder.h"
#include "tests/support/CryptoFixtures.h"
#include "tests/support/RunCommand.h"
#include "tests/ui/BareStorePanel.h"
#include "tests/ui/LoggingHost.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QBrush>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTest>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::test {
namespace {

class RevocationFromTheStore : public BareStorePanel<LoggingHost> {
 protected:
  void SetUp() override {
    ASSERT_EQ(RunCommand("command -v openssl").status, 0) << "openssl judges the CRLs";
    TCertBuilder ca;
    ca.Subject.CN = "Window CA";
    ca.IsCA = true;
    ca.PathLenConstraint = -1;
    ca.KeyUsage = {kuKeyCertSign, kuCRLSign};
    ca.ExtKeyUsage = {};
    ca.GenerateKey();
    ca.BuildSelfSigned();
    ca.SaveCertToPEM(Store.File("ca.crt"));
    ca.SaveKeyToPEM(Store.File("ca.key"), "ca-secret");
    for (const char* name : {"leaf", "other"}) {
      TCertBuilder leaf;
      leaf.Subject.CN = std::string(name) + ".example";
      leaf.SANDNSNames = {leaf.Subject.CN};
      leaf.GenerateKey();
      leaf.BuildSignedBy(ca.CertToPEM(), ca.KeyToPEM(""), "");
      leaf.SaveCertToPEM(Store.File(std::string(name) + ".crt"));
    }
    // As the window does: a listing asked for while a command ran follows it.
    QObject::connect(&Jobs, &TJobRunner::Idle, &Window, [this] { Panel.RunWantedListing(); });
    OpenPanel();
  }

  // The listing after a command comes once the command's job has ended; the revocations are
  // read behind it.
  void WaitForListing(const std::string& Name, const QStringList& Expires) {
    const bool shown = QTest::qWaitFor(
        [&] {
          try {
            return !Panel.Busy() &&
                   Expires.contains(ExpiresCell(Name).data(Qt::DisplayRole).toString());
          } catch (const std::runtime_error&) {
            return false;
          }
        },
        20000);
    EXPECT_TRUE(shown) << Name << " never showed " << Expires.join(" or ").toStdString();
    WaitIdle();
  }

  QModelIndex ExpiresCell(const std::string& Name) const {
    return Form.lvCerts->model()->index(RowOf(Name), 4);
  }

  TRun Verify(const std::string& Leaf) const {
    return RunCommand("openssl verify -crl_check -CRLfile " + Quoted(Store.File("ca.crl")) +
                      " -CAfile " + Quoted(Store.File("ca.crt")) + " " + Quoted(Store.File(Leaf)) +
                      " 2>&1");
  }
};

TEST_F(RevocationFromTheStore, RevokesAfterTheDialogAndTheListSaysSo) {
  // Cancelled: nothing is written.
  Choose("leaf.crt", "actRevoke");
  ASSERT_EQ(Platform.CRLCalls.size(), 1u);
  EXPECT_EQ(Platform.CRLCalls[0].Caption, "Revoke leaf.crt");
  EXPECT_TRUE(Platform.CRLCalls[0].AskReason);
  EXPECT_FALSE(std::filesystem::exists(Store.File("ca.crl")));

  // A wrong password: the box says so, nothing is written.
  Platform.CRLAnswers.push_back(TCRLChoice{TRevocationReason::KeyCompromise, 30, "wrong"});
  Choose("leaf.crt", "actRevoke");
  ASSERT_EQ(Platform.ErrorBoxes.size(), 1u);
  EXPECT_NE(Platform.ErrorBoxes[0].find("password"), std::string::npos) << Platform.ErrorBoxes[0];
  EXPECT_FALSE(std::filesystem::exists(Store.File("ca.crl")));

  Platform.CRLAnswers.push_back(TCRLChoice{TRevocationReason::KeyCompromise, 30, "ca-secret"});
  Choose("leaf.crt", "actRevoke");
  ASSERT_EQ(Platform.Messages.size(), 1u)
      << (Platform.ErrorBoxes.size() > 1 ? Platform.ErrorBoxes[1] : "");
  EXPECT_EQ(Platform.Messages[0], "Revoked leaf.crt. CRL written: ca.crl (number 1, 1 revoked)");
  WaitForListing("leaf.crt", {"revoked"});
  EXPECT_NE(Verify("leaf.crt").output.find("certificate revoked"), std::string::npos);
  EXPECT_EQ(Verify("other.crt").status, 0) << Verify("other.crt").output;

  const QModelIndex revoked = ExpiresCell("leaf.crt");
  EXPECT_EQ(revoked.data(Qt::DisplayRole).toString(), "revoked");
  EXPECT_EQ(revoked.data(Qt::ForegroundRole).value<QBrush>().color(), QColor(0xC0, 0x00, 0x00));
  EXPECT_NE(ExpiresCell("other.crt").data(Qt::DisplayRole).toString(), "revoked");
  EXPECT_EQ(Form.lvCerts->model()->index(RowOf("ca.crl"), 1).data().toString(), "CRL");
  const TFileDescription details = DescribeStoreFile(Store.File("leaf.crt"));
  ASSERT_FALSE(details.Details.empty());
  EXPECT_EQ(details.Details[0].rfind("Revoked (keyCompromise) on ", 0), 0u) << details.Details[0];
}

TEST_F(RevocationFromTheStore, PublishesACRLOfTheCAWithoutAReason) {
  Platform.CRLAnswers.push_back(TCRLChoice{TRevocationReason::Unspecified, 7, "ca-secret"});
  Choose("ca.crt", "actPublishCRL");
  ASSERT_EQ(Platform.CRLCalls.size(), 1u);
  EXPECT_EQ(Platform.CRLCalls[0].Caption, "Publish CRL of ca.crt");
  EXPECT_FALSE(Platform.CRLCalls[0].AskReason);
  ASSERT_EQ(Platform.Messages.size(), 1u);
  EXPECT_EQ(Platform.Messages[0], "CRL written: ca.crl (number 1, 0 revoked)");
  // Seven days: the Expires cell of the CRL counts them down from its next update, whole days
  // rounded down (7 only within the second the CRL was signed in).
  WaitForListing("ca.crl", {"6 days", "7 days"});
  EXPECT_EQ(Verify("leaf.crt").status, 0) << Verify("leaf.crt").output;
}

TEST_F(RevocationFromTheStore, ACertificateWithoutItsCAInTheStoreIsRefused) {
  std::filesystem::remove(Store.File("ca.key"));
  Choose("leaf.crt", "actRevoke");
  WaitIdle();
  EXPECT_TRUE(Platform.CRLCalls.empty());
  ASSERT_EQ(Platform.ErrorBoxes.size(), 1u);
  EXPECT_NE(Platform.ErrorBoxes[0].find(
                "The CA certificate that issued \"leaf.crt\" is not in the store with its "
                "private key."),
            std::string::npos)
      << Platform.ErrorBoxes[0];
}

}  // namespace
}  // namespace velmora::test
