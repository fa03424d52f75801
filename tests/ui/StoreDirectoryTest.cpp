// The store directory: the remembered setting, the default, typing a path, "Open" and
// "Browse".
#include "core/StorePaths.h"
#include "tests/support/CryptoFixtures.h"
#include "tests/ui/WindowFixture.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QTableView>

#include <filesystem>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

// Each test arranges the fake desktop (setting, program folder) and then opens the window.
class StoreDirectory : public WindowFixture {
 protected:
  void SetUp() override {}
  void Open() { WindowFixture::SetUp(); }

  QLineEdit* DirEdit() const { return Control<QLineEdit>("edtStoreDir"); }
  QString StatusLine() const { return Control<QLabel>("lblStoreDir")->text(); }
  QStringList Captions() const {
    const QAbstractItemModel* list = Control<QTableView>("lvCerts")->model();
    QStringList captions;
    for (int row = 0; row < list->rowCount(); ++row)
      captions << list->index(row, 0).data().toString();
    captions.sort();
    return captions;
  }
  static QString Status(const std::string& Dir, int Files) {
    return "Store: " + QString::fromStdString(Dir) + "   (" + QString::number(Files) + " files)";
  }
  void Type(const QString& Text) const {
    DirEdit()->selectAll();
    QTest::keyClick(DirEdit(), Qt::Key_Delete);
    QTest::keyClicks(DirEdit(), Text);
    WaitIdle();
  }

  TempDir Temp;
  // A program folder the user may write into, with a store beside the program holding a.crt.
  std::string AppDir() const { return Temp.File("app"); }
  std::string DefaultDir() const { return Temp.File("app/Certificates"); }
  void MakeDefaultStore() const {
    fs::create_directories(DefaultDir());
    WriteFile(DefaultDir() + "/a.crt", std::string("x"));
  }
};

TEST_F(StoreDirectory, FirstRunShowsTheDefaultPathMakesNothingAndSavesThatPathAtClose) {
  fs::create_directories(AppDir());
  Platform.AppDir = AppDir();
  Platform.StoreDirSetting = std::nullopt;  // never saved, or not text
  Open();
  EXPECT_EQ(DirEdit()->text().toStdString(), DefaultDir());
  EXPECT_FALSE(fs::exists(DefaultDir()));
  EXPECT_EQ(StatusLine(), "Store: (not set)");
  Window->close();
  EXPECT_EQ(Platform.StoreDirWrites, std::vector<std::string>{DefaultDir()});
}

TEST_F(StoreDirectory, ProgramFolderNotWritableGivesTheUsersDataFolder) {
  Platform.AppDir = Temp.File("not-there");
  Platform.DataDir = Temp.File("data");
  Open();
  EXPECT_EQ(DirEdit()->text().toStdString(), Temp.File("data/Certificates"));
  EXPECT_FALSE(fs::exists(Temp.File("data")));
}

TEST_F(StoreDirectory, EmptySettingLeavesTheEditEmptyAndUsesTheDefaultEverywhere) {
  MakeDefaultStore();
  Platform.AppDir = AppDir();
  Platform.StoreDirSetting = "";
  Open();
  EXPECT_EQ(DirEdit()->text(), "");
  EXPECT_EQ(Captions(), QStringList{"a.crt"});
  EXPECT_EQ(StatusLine(), Status(DefaultDir(), 1));
  Click("btnOpenStoreDir");
  EXPECT_EQ(Platform.OpenedPaths, std::vector<std::string>{DefaultDir()});
  Window->close();
  EXPECT_EQ(Platform.StoreDirWrites, std::vector<std::string>{""});
}

TEST_F(StoreDirectory, ClearingTheEditSwitchesToTheDefaultAndSavesAnEmptyValue) {
  MakeDefaultStore();
  fs::create_directories(Temp.File("mine"));
  WriteFile(Temp.Path() / "mine/b.key", std::string("x"));
  Platform.AppDir = AppDir();
  Platform.StoreDirSetting = Temp.File("mine");
  Open();
  EXPECT_EQ(Captions(), QStringList{"b.key"});
  Type("");
  EXPECT_EQ(Captions(), QStringList{"a.crt"});
  EXPECT_EQ(StatusLine(), Status(DefaultDir(), 1));
  Window->close();
  EXPECT_EQ(Platform.StoreDirWrites, std::vector<std::string>{""});
}

TEST_F(StoreDirectory, TypedPathIsUsedWithoutItsBlanksWhileTheEditKeepsThem) {
  // "%2" in the name must reach the status line as it stands.
  const std::string dir = Temp.File("typed 100%2 %1");
  fs::create_directories(dir);
  WriteFile(dir + "/c.pem", std::string("x"));
  Platform.StoreDirSetting = Temp.File("elsewhere");
  Open();
  const QString typed = QStringLiteral("  ") + QString::fromStdString(dir) + "  ";
  Type(typed);
  EXPECT_EQ(DirEdit()->text(), typed);
  EXPECT_EQ(Captions(), QStringList{"c.pem"});
  EXPECT_EQ(StatusLine(), Status(dir, 1));
  // Typing reaches the setting only when the window closes.
  EXPECT_TRUE(Platform.StoreDirWrites.empty());
  Window->close();
  EXPECT_EQ(Platform.StoreDirWrites, std::vector<std::string>{dir});
}

TEST_F(StoreDirectory, SettingThatIsNotTextCountsAsAbsent) {
  QSettings(QStringLiteral("Brenmoor"), QStringLiteral("Velmora"))
      .setValue(QStringLiteral("StoreDir"), QStringList{QStringLiteral("a"), QStringLiteral("b")});
  QtPlatform desktop;
  {
    TfrmVelmora window(desktop);
    const std::string expected = DefaultStoreDirFor(
        QCoreApplication::applicationDirPath().toStdString(),
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation).toStdString());
    EXPECT_EQ(window.findChild<QLineEdit*>("edtStoreDir")->text().toStdString(), expected);
  }
  QSettings(QStringLiteral("Brenmoor"), QStringLiteral("Velmora"))
      .remove(QStringLiteral("StoreDir"));
}

TEST_F(StoreDirectory, OpenMakesTheMissingChainThenOpensIt) {
  const std::string chain = Temp.File("a/b/c");
  Platform.StoreDirSetting = chain;
  Open();
  EXPECT_FALSE(fs::exists(Temp.File("a")));
  Click("btnOpenStoreDir");
  EXPECT_TRUE(fs::is_directory(chain));
  EXPECT_EQ(Platform.OpenedPaths, std::vector<std::string>{chain});
  EXPECT_TRUE(Platform.ErrorBoxes.empty());
}

TEST_F(StoreDirectory, OpenThatCannotMakeTheFolderShowsTheReasonAndOpensNothing) {
  WriteFile(Temp.Path() / "file.txt", std::string("x"));
  const std::string impossible = Temp.File("file.txt/store");
  Platform.StoreDirSetting = impossible;
  Open();
  Click("btnOpenStoreDir");
  EXPECT_EQ(Platform.ErrorBoxes, std::vector<std::string>{"Cannot create directory \"" +
                                                          impossible + "\": Not a directory."});
  EXPECT_TRUE(Platform.OpenedPaths.empty());
}

TEST_F(StoreDirectory, BrowseCancelledChangesNothing) {
  fs::create_directories(Temp.File("store"));
  WriteFile(Temp.Path() / "store/a.crt", std::string("x"));
  Platform.StoreDirSetting = Temp.File("store");
  Open();
  const QString statusBefore = StatusLine();
  Click("btnBrowseStoreDir");
  ASSERT_EQ(Platform.FolderCalls.size(), 1u);
  EXPECT_EQ(Platform.FolderCalls[0].first, "Select Certificate Store Directory");
  EXPECT_EQ(Platform.FolderCalls[0].second, Temp.File("store"));
  EXPECT_EQ(DirEdit()->text().toStdString(), Temp.File("store"));
  EXPECT_EQ(Captions(), QStringList{"a.crt"});
  EXPECT_EQ(StatusLine(), statusBefore);
  EXPECT_TRUE(Platform.StoreDirWrites.empty());
  EXPECT_TRUE(LogLines().isEmpty());
}

TEST_F(StoreDirectory, BrowseSavesTheChoiceMakesTheFolderListsItAndLogs) {
  fs::create_directories(AppDir());
  Platform.AppDir = AppDir();
  Platform.StoreDirSetting = "";
  const std::string chosen = Temp.File("chosen/store");
  Platform.FolderAnswers.push_back(chosen);
  Open();
  Click("btnBrowseStoreDir");
  // An empty setting starts the dialog at the default folder.
  ASSERT_EQ(Platform.FolderCalls.size(), 1u);
  EXPECT_EQ(Platform.FolderCalls[0].second, DefaultDir());
  EXPECT_EQ(DirEdit()->text().toStdString(), chosen);
  EXPECT_EQ(Platform.StoreDirWrites, std::vector<std::string>{chosen});
  EXPECT_TRUE(fs::is_directory(chosen));
  EXPECT_EQ(StatusLine(), Status(chosen, 0));
  ASSERT_EQ(LogLines().size(), 1);
  EXPECT_TRUE(IsStampedLine(LogLines()[0], "Certificate store directory set to: " + chosen));
  EXPECT_TRUE(Platform.ErrorBoxes.empty());
}

TEST_F(StoreDirectory, BrowseKeepsTheSavedChoiceWhenTheFolderCannotBeMade) {
  WriteFile(Temp.Path() / "file.txt", std::string("x"));
  const std::string impossible = Temp.File("file.txt/store");
  Platform.FolderAnswers.push_back(impossible);
  Open();
  Click("btnBrowseStoreDir");
  EXPECT_EQ(Platform.StoreDirWrites, std::vector<std::string>{impossible});
  EXPECT_EQ(DirEdit()->text().toStdString(), impossible);
  EXPECT_EQ(Platform.ErrorBoxes, std::vector<std::string>{"Cannot create directory \"" +
                                                          impossible + "\": Not a directory."});
  EXPECT_TRUE(LogLines().isEmpty());
}

}  // namespace
}  // namespace velmora::test
