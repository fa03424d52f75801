#include "ui/Platform.h"

#include "tests/ui/FakePlatform.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRect>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <stdexcept>

namespace velmora {
namespace {

TEST(ToQtFilter, TurnsDescriptionPatternPairsIntoQtFilters) {
  struct Case {
    const char* filter;
    const char* qt;
  };
  const Case cases[] = {
      {"PEM Files|*.pem;*.crt;*.cer|All Files|*.*", "PEM Files (*.pem *.crt *.cer);;All Files (*)"},
      {"PKCS#12|*.pfx;*.p12|All Files|*.*", "PKCS#12 (*.pfx *.p12);;All Files (*)"},
      {"PEM Key|*.key", "PEM Key (*.key)"},
      {"Keys|*.key;;*.pem;", "Keys (*.key *.pem)"},  // empty patterns are dropped
      {"Anything", "Anything (*)"},                  // a description without patterns
      {"A|*.a|", "A (*.a)"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    EXPECT_EQ(ToQtFilter(c.filter), c.qt);
  }
}

TEST(WithFullStop, AddsAFullStopOnlyAfterACharacterAboveIt) {
  struct Case {
    const char* message;
    const char* shown;
  };
  const Case cases[] = {
      {"Access denied", "Access denied."},
      {"Done.", "Done."},
      {"see log)", "see log)"},  // ')' is below '.'
      {"really!", "really!"},
      {"a-", "a-"},         // '-' is just below '.'
      {"path/", "path/."},  // '/' is just above
      {"code 42", "code 42."},
      {"Grüße", "Grüße."},
      {"Straße ü", "Straße ü."},  // a multi-byte last character
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(WithFullStop(c.message), c.shown);
  }
}

TEST(RunGuarded, ShowsAnEscapingErrorInTheErrorBoxAndSwallowsIt) {
  test::FakePlatform platform;
  bool ran = false;
  RunGuarded(platform, [&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(platform.ErrorBoxes.empty());

  RunGuarded(platform, [] { throw std::runtime_error("Cannot create directory"); });
  RunGuarded(platform, [] { throw 42; });
  ASSERT_EQ(platform.ErrorBoxes.size(), 2u);
  EXPECT_EQ(platform.ErrorBoxes[0], "Cannot create directory.");
  EXPECT_FALSE(platform.ErrorBoxes[1].empty());
  EXPECT_TRUE(platform.Messages.empty());
}

// Runs Action on the next modal window as soon as it shows, from inside its event loop.
void OnNextModal(std::function<void(QWidget*)> Action) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, Action] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    timer->stop();
    timer->deleteLater();
    Action(modal);
  });
  timer->start(10);
}

// Types a name into the dialog's name box and presses its accept button, as a user would.
void TypeNameAndAccept(QFileDialog* Dialog, const QString& Name) {
  if (auto* nameBox = Dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
    nameBox->setText(Name);
  static_cast<QDialog*>(Dialog)->accept();    // QFileDialog hides it
  if (Dialog->isVisible()) Dialog->reject();  // refused: end the test instead of hanging
}

void Close(QWidget* Modal) {
  if (auto* dialog = qobject_cast<QDialog*>(Modal)) dialog->reject();
}

TEST(QtPlatform, BoxesCarryTheApplicationTitleIconAndLines) {
  QtPlatform platform;
  struct Seen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
  };
  const auto seeAndPressOk = [](Seen& seen) {
    OnNextModal([&seen](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      if (!box) return Close(modal);
      seen = {box->windowTitle(), box->text(), box->icon()};
      box->button(QMessageBox::Ok)->click();
    });
  };
  Seen message, error;
  seeAndPressOk(message);
  platform.ShowMessage("Key generation failed:\r\nEC keygen");
  seeAndPressOk(error);
  platform.ShowErrorBox("Cannot open.");

  EXPECT_EQ(message.title, "X.509 Velmora");
  EXPECT_EQ(message.text, "Key generation failed:\nEC keygen");
  EXPECT_EQ(message.icon, QMessageBox::NoIcon);
  EXPECT_EQ(error.title, "X.509 Velmora");
  EXPECT_EQ(error.text, "Cannot open.");
  EXPECT_EQ(error.icon, QMessageBox::Critical);
}

TEST(QtPlatform, ConfirmationDefaultsToYesAndReportsTheAnswer) {
  QtPlatform platform;
  for (const auto answer : {QMessageBox::Yes, QMessageBox::No}) {
    bool yesIsDefault = false;
    OnNextModal([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      if (!box) return Close(modal);
      yesIsDefault = box->defaultButton() == box->button(QMessageBox::Yes);
      box->button(answer)->click();
    });
    EXPECT_EQ(platform.ConfirmYesNo("Delete a.crt?"), answer == QMessageBox::Yes);
    EXPECT_TRUE(yesIsDefault);
  }
}

TEST(QtPlatform, SaveDialogTakesTitleFilterFolderAndDefaultExtension) {
  QTemporaryDir folder;
  QtPlatform platform;
  QString title, directory;
  QStringList filters;
  QString suffix;
  OnNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog) return Close(modal);
    title = dialog->windowTitle();
    directory = dialog->directory().absolutePath();
    filters = dialog->nameFilters();
    suffix = dialog->defaultSuffix();
    TypeNameAndAccept(dialog, QStringLiteral("server"));
  });
  const auto chosen =
      platform.SaveFileDialog({"Save Certificate As", "PEM Certificate|*.crt;*.pem|All Files|*.*",
                               "crt", folder.path().toStdString()});
  EXPECT_EQ(title, "Save Certificate As");
  EXPECT_EQ(directory, QDir(folder.path()).absolutePath());
  EXPECT_EQ(filters, QStringList({"PEM Certificate (*.crt *.pem)", "All Files (*)"}));
  EXPECT_EQ(suffix, "crt");
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, folder.filePath(QStringLiteral("server.crt")).toStdString());
}

TEST(QtPlatform, OpenDialogReturnsTheChosenPathRemembersTheFilterAndCancelGivesNothing) {
  QTemporaryDir folder;
  const QString file = folder.filePath(QStringLiteral("ca.crt"));
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  QtPlatform platform;
  const TFileDialogOptions options{"Select CA Certificate",
                                   "PEM Files|*.pem;*.crt;*.cer|All Files|*.*", "",
                                   folder.path().toStdString()};
  QFileDialog::FileMode mode = QFileDialog::AnyFile;
  OnNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog) return Close(modal);
    mode = dialog->fileMode();
    dialog->selectNameFilter(QStringLiteral("All Files (*)"));
    TypeNameAndAccept(dialog, QStringLiteral("ca.crt"));
  });
  EXPECT_EQ(platform.OpenFileDialog(options), std::optional<std::string>(file.toStdString()));
  EXPECT_EQ(mode, QFileDialog::ExistingFile);

  QString filterShown;
  OnNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog) filterShown = dialog->selectedNameFilter();
    Close(modal);
  });
  EXPECT_EQ(platform.OpenFileDialog(options), std::nullopt);
  EXPECT_EQ(filterShown, "All Files (*)");
}

// A dialog told which name to start with starts with it, or with none for an empty name; told
// nothing, it offers the name chosen last.
TEST(QtPlatform, OpenDialogStartsWithTheNameItIsGivenOrTheLastOne) {
  QTemporaryDir folder;
  for (const char* name : {"ca.crt", "ca.key"}) {
    QFile f(folder.filePath(QString::fromLatin1(name)));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  QtPlatform platform;
  const auto nameShown = [&](std::optional<std::string> Start) {
    QString shown = QStringLiteral("(no dialog)");
    OnNextModal([&shown](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      auto* nameBox =
          dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
      if (nameBox) shown = nameBox->text();
      Close(modal);
    });
    TFileDialogOptions options{"Select", "All Files|*.*", "", folder.path().toStdString()};
    options.FileName = std::move(Start);
    EXPECT_EQ(platform.OpenFileDialog(options), std::nullopt);
    return shown.toStdString();
  };
  OnNextModal([](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog) return Close(modal);
    TypeNameAndAccept(dialog, QStringLiteral("ca.crt"));
  });
  ASSERT_TRUE(
      platform.OpenFileDialog({"Select", "All Files|*.*", "", folder.path().toStdString()}));

  EXPECT_EQ(nameShown(std::nullopt), "ca.crt");
  EXPECT_EQ(nameShown(std::string()), "");
  EXPECT_EQ(nameShown(std::string("ca.key")), "ca.key");
}

TEST(QtPlatform, WindowPlacementRoundTripsAndAnythingButASizedRectangleCountsAsAbsent) {
  QSettings settings(QStringLiteral("Brenmoor"), QStringLiteral("Velmora"));
  ASSERT_FALSE(settings.fileName().startsWith(QDir::homePath() + QStringLiteral("/.config")));
  settings.remove(QStringLiteral("WindowGeometry"));
  settings.sync();
  QtPlatform platform;
  EXPECT_EQ(platform.ReadWindowPlacementSetting(), std::nullopt);

  for (const TWindowPlacement placement :
       {TWindowPlacement{10, 20, 900, 700}, TWindowPlacement{-1200, -5, 1024, 600}}) {
    platform.WriteWindowPlacementSetting(placement);
    EXPECT_EQ(platform.ReadWindowPlacementSetting(), std::optional<TWindowPlacement>(placement));
  }
  // Written beside the store directory, which it leaves alone.
  platform.WriteStoreDirSetting("/srv/certs");
  platform.WriteWindowPlacementSetting({1, 2, 3, 4});
  EXPECT_EQ(platform.ReadStoreDirSetting(), std::optional<std::string>("/srv/certs"));

  for (const QVariant& value : {QVariant(QStringLiteral("10,20,900,700")),
                                QVariant(QRect(10, 20, 0, 700)), QVariant(QRect(0, 0, 900, -1))}) {
    SCOPED_TRACE(value.toString().toStdString());
    QSettings(QStringLiteral("Brenmoor"), QStringLiteral("Velmora"))
        .setValue(QStringLiteral("WindowGeometry"), value);
    EXPECT_EQ(platform.ReadWindowPlacementSetting(), std::nullopt);
  }
  QSettings left(QStringLiteral("Brenmoor"), QStringLiteral("Velmora"));
  left.remove(QStringLiteral("WindowGeometry"));
  left.remove(QStringLiteral("StoreDir"));
}

TEST(QtPlatform, BusyCursorIsTheHourglassUntilItEnds) {
  QtPlatform platform;
  ASSERT_EQ(QApplication::overrideCursor(), nullptr);
  {
    TBusyCursor busy(platform);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtPlatform, StoreDirSettingRoundTripsAndAnythingButTextCountsAsAbsent) {
  // The test program points the settings at a temporary folder; make sure of it.
  ASSERT_FALSE(QSettings(QStringLiteral("Brenmoor"), QStringLiteral("Velmora"))
                   .fileName()
                   .startsWith(QDir::homePath() + QStringLiteral("/.config")));
  QSettings(QStringLiteral("Brenmoor"), QStringLiteral("Velmora"))
      .remove(QStringLiteral("StoreDir"));
  QtPlatform platform;
  EXPECT_EQ(platform.ReadStoreDirSetting(), std::nullopt);

  for (const std::string value : {"/home/ann/My Certs, 2024/Zürich", ""}) {
    platform.WriteStoreDirSetting(value);
    EXPECT_EQ(platform.ReadStoreDirSetting(), std::optional<std::string>(value));
  }

  QSettings(QStringLiteral("Brenmoor"), QStringLiteral("Velmora"))
      .setValue(QStringLiteral("StoreDir"), QStringList{QStringLiteral("a"), QStringLiteral("b")});
  EXPECT_EQ(platform.ReadStoreDirSetting(), std::nullopt);
}

}  // namespace
}  // namespace velmora
