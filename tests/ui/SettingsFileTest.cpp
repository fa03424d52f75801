// A settings file that is no regular file: QSettings would block for good reading a pipe, and
// the program's start with it. The window must start on the default folder, say why in its
// log, and leave the thing alone when it saves the setting at close.
#include "core/StorePaths.h"
#include "tests/ui/Watchdog.h"
#include "tests/ui/WindowFixture.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>

#include <sys/stat.h>

#include <filesystem>
#include <ostream>
#include <stdexcept>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

struct SettingsCase {
  const char* name;
  void (*make)(const std::string& Path);
};

void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }

void MakePipe(const std::string& Path) {
  if (::mkfifo(Path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo " + Path);
}
void MakeFolder(const std::string& Path) { fs::create_directory(Path); }
void MakeLinkToPipe(const std::string& Path) {
  MakePipe(Path + ".pipe");
  fs::create_symlink(Path + ".pipe", Path);
}

// The file type of what Path leads to, links followed.
mode_t TypeAt(const std::string& Path) {
  struct stat info {};
  return ::stat(Path.c_str(), &info) == 0 ? info.st_mode & S_IFMT : 0;
}

class IrregularSettingsFile : public testing::TestWithParam<SettingsCase> {
 protected:
  // Where QSettings keeps the setting, asked while nothing irregular is there; the test
  // program points it into a temporary folder.
  void SetUp() override {
    const QSettings settings(QStringLiteral("Brenmoor"), QStringLiteral("Velmora"));
    Path = settings.fileName().toStdString();
    fs::create_directories(fs::path(Path).parent_path());
    fs::remove(Path);
  }
  void TearDown() override {
    fs::remove_all(Path);
    fs::remove(Path + ".pipe");
  }

  std::string Path;
};

TEST_P(IrregularSettingsFile, WindowStartsOnTheDefaultFolderSaysWhyAndLeavesItAlone) {
  GetParam().make(Path);
  const mode_t made = TypeAt(Path);
  ASSERT_NE(made, S_IFREG);
  const std::string defaultDir = DefaultStoreDirFor(
      QCoreApplication::applicationDirPath().toStdString(),
      QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation).toStdString());

  const TWatchdog watchdog(GetParam().name);
  QtPlatform desktop;
  {
    TfrmVelmora window(desktop);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.findChild<QLineEdit*>("edtStoreDir")->text().toStdString(), defaultDir);
    const QStringList log =
        window.findChild<QPlainTextEdit*>("memKeyInfo")->toPlainText().split('\n');
    ASSERT_EQ(log.size(), 1) << log.join('\n').toStdString();
    EXPECT_TRUE(
        IsStampedLine(log[0], "Settings file \"" + Path + "\" is not a regular file; ignored."));
    window.close();  // saves the setting
  }
  EXPECT_EQ(TypeAt(Path), made);
}

INSTANTIATE_TEST_SUITE_P(Kinds, IrregularSettingsFile,
                         testing::Values(SettingsCase{"Pipe", MakePipe},
                                         SettingsCase{"LinkToPipe", MakeLinkToPipe},
                                         SettingsCase{"Folder", MakeFolder}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::test
