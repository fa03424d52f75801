#include "core/StoreSetting.h"

#include "core/Defaults.h"
#include "core/StorePaths.h"
#include "crypto/Exception.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QVariant>

#include <sys/stat.h>

namespace velmora {

namespace {

// Where QSettings keeps our setting: "Brenmoor/Velmora.conf" in the user's settings folder.
// A QSettings object reads its files as soon as it is made, so the folder is asked of one
// made for the organisation alone: that one reads only the organisation's own file
// ("Brenmoor.conf"), which ours reads as well.
QString SettingsFileName() {
  const QFileInfo organisation(QSettings(QString::fromLatin1(kOrganisationName)).fileName());
  return organisation.path() + QLatin1Char('/') + organisation.completeBaseName() +
         QLatin1Char('/') + QString::fromLatin1(kProgramName) + QLatin1Char('.') +
         organisation.suffix();
}

}  // namespace

// QSettings must not open such a name: its read of a pipe would block for good, and the
// program's start with it; a folder or a device holds no settings. Links are followed.
std::optional<std::string> IrregularSettingsFile() {
  const QString name = SettingsFileName();
  struct stat info {};
  if (::stat(QFile::encodeName(name).constData(), &info) != 0 || S_ISREG(info.st_mode))
    return std::nullopt;
  return name.toStdString();
}

// On Linux the setting lives in ~/.config/Brenmoor/Velmora.conf.
std::optional<std::string> ReadStoreDirSetting() {
  if (const std::optional<std::string> file = IrregularSettingsFile())
    throw Exception("Settings file \"" + *file + "\" is not a regular file");
  QSettings settings(QString::fromLatin1(kOrganisationName), QString::fromLatin1(kProgramName));
  const QVariant value = settings.value(QStringLiteral("StoreDir"));
  // A value edited into something else (a list, a number in a binary format) is not a path.
  if (value.typeId() != QMetaType::QString) return std::nullopt;
  return value.toString().toStdString();
}

void WriteStoreDirSetting(const std::string& Value) {
  if (IrregularSettingsFile()) return;  // like any other failure to save
  QSettings settings(QString::fromLatin1(kOrganisationName), QString::fromLatin1(kProgramName));
  settings.setValue(QStringLiteral("StoreDir"), QString::fromStdString(Value));
  settings.sync();
}

std::string ApplicationDir() { return QCoreApplication::applicationDirPath().toStdString(); }

std::string UserDataDir() {
  return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation).toStdString();
}

std::string EffectiveStoreDir() {
  std::optional<std::string> stored = ReadStoreDirSetting();
  if (stored && !stored->empty()) return *stored;
  return DefaultStoreDirFor(ApplicationDir(), UserDataDir());
}

}  // namespace velmora
