// The store tab on its own: a TStorePanel on the form's controls, without the main window,
// reaches the window only through what IStorePanelHost offers. A host that records the calls
// stands in for the window.
#include "tests/support/CryptoFixtures.h"
#include "tests/ui/BareStorePanel.h"

#include <gtest/gtest.h>

#include <QMainWindow>
#include <QPushButton>
#include <QTest>

#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace velmora::test {
namespace {

class RecordingHost final : public IStorePanelHost {
 public:
  void Log(const std::string& Text) override { Lines.push_back(Text); }
  void StoreDirChanged() override { ++DirChanges; }
  void UseAsCA(TCAPart Part, const std::string& Path) override {
    HandedOver.emplace_back(Part, Path);
  }
  void SignRequest(const std::string& Path) override { Commands.push_back("sign " + Path); }
  void UseAsTemplate(const std::string& Path) override { Commands.push_back("template " + Path); }
  void RenewStoreCertificate(const std::string& Path, bool NewKey) override {
    Commands.push_back((NewKey ? "renew with a new key " : "renew ") + Path);
  }
  void ExportChain(const std::string& Path) override { Commands.push_back("chain " + Path); }

  std::vector<std::string> Lines;
  int DirChanges = 0;
  std::vector<std::pair<TCAPart, std::string>> HandedOver;
  std::vector<std::string> Commands;
};

class StorePanelOnItsOwn : public BareStorePanel<RecordingHost> {
 protected:
  void SetUp() override {
    for (const char* name : {"ca.crt", "ca.key"}) std::ofstream(Store.File(name)) << "not PEM\n";
    OpenPanel();
  }
};

TEST_F(StorePanelOnItsOwn, HandsThePickedFileToItsHostAndLogsIt) {
  struct Case {
    const char* Button;
    const char* Name;
    TCAPart Part;
    const char* Logged;
  };
  const Case cases[] = {
      {"btnStoreLoadCACert", "ca.crt", TCAPart::Certificate, "CA certificate loaded from store: "},
      {"btnStoreLoadCAKey", "ca.key", TCAPart::Key, "CA key loaded from store: "}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Button);
    Host.HandedOver.clear();
    Host.Lines.clear();
    Pick(c.Name);
    auto* button = Window.findChild<QPushButton*>(QString::fromLatin1(c.Button));
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(Host.HandedOver.size(), 1u);
    EXPECT_EQ(Host.HandedOver[0].first, c.Part);
    EXPECT_EQ(Host.HandedOver[0].second, Store.File(c.Name));
    EXPECT_EQ(Host.Lines, std::vector<std::string>{c.Logged + std::string(c.Name)});
  }
  EXPECT_TRUE(Platform.Messages.empty());
}

TEST_F(StorePanelOnItsOwn, AnotherFolderTellsTheHostAndIsListed) {
  TempDir other;
  std::ofstream(other.File("other.key")) << "not PEM\n";
  const int before = Host.DirChanges;
  Form.edtStoreDir->setText(QString::fromStdString(other.Path().string()));
  WaitIdle();
  EXPECT_EQ(Host.DirChanges, before + 1);
  EXPECT_EQ(Panel.GetStoreDir(), other.Path().string());
  ASSERT_EQ(Form.lvCerts->model()->rowCount(), 1);
  EXPECT_EQ(Form.lvCerts->model()->index(0, 0).data(Qt::UserRole).toByteArray().toStdString(),
            "other.key");
}

// A small file is described as it is picked; a large one on a worker, while the pane keeps
// the text it had until the new description is ready.
TEST_F(StorePanelOnItsOwn, SmallFilesAreDescribedAtOnceLargeOnesReplaceTheOldTextWhenReady) {
  std::ofstream(Store.File("large.crt")) << std::string(256 * 1024, 'x');
  Form.btnStoreRefresh->click();
  WaitIdle();
  const auto select = [this](const std::string& Name) {
    const QAbstractItemModel* rows = Form.lvCerts->model();
    for (int row = 0; row < rows->rowCount(); ++row)
      if (rows->index(row, 0).data(Qt::UserRole).toByteArray().toStdString() == Name)
        Form.lvCerts->selectRow(row);
  };
  select("ca.crt");  // no event loop runs between the pick and the look
  const QString small = Form.memStoreInfo->toPlainText();
  EXPECT_TRUE(small.contains(QStringLiteral("ca.crt"))) << small.toStdString();
  WaitIdle();
  const QString smallWithRelations = Form.memStoreInfo->toPlainText();
  select("large.crt");
  EXPECT_EQ(Form.memStoreInfo->toPlainText(), smallWithRelations);
  EXPECT_TRUE(Panel.Busy());
  WaitIdle();
  EXPECT_TRUE(Form.memStoreInfo->toPlainText().contains(QStringLiteral("large.crt")))
      << Form.memStoreInfo->toPlainText().toStdString();
}

}  // namespace
}  // namespace velmora::test
