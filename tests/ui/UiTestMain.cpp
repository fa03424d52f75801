// The widget tests run in one QApplication on Qt's offscreen platform: no display needed.
// Settings, caches and runtime files go to a temporary folder, never to the user's home.
// The screens are the program's own as well, whatever machine runs it: a large one first,
// where the window has room for the form's size, and beside it a small one of 1024 x 600.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <ctime>

namespace {

QtMessageHandler QtDefaultHandler = nullptr;

// The offscreen platform warns on every shown window that it cannot pass size hints on.
void DropOffscreenNoise(QtMsgType Type, const QMessageLogContext& Context, const QString& Text) {
  if (Text.contains(QLatin1String("does not support propagateSizeHints"))) return;
  QtDefaultHandler(Type, Context, Text);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // The same clock and language on every machine: a test that needs another sets it itself.
  qputenv("TZ", "UTC");
  ::tzset();
  qputenv("LC_ALL", "C.UTF-8");
  qunsetenv("LANGUAGE");

  QTemporaryDir home;
  if (!home.isValid()) return 2;
  for (const char* variable :
       {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
    const QString folder = home.filePath(QString::fromLatin1(variable));
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv(variable, folder.toLocal8Bit());
  }
  const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
  if (platform.isEmpty() || platform == QLatin1String("offscreen")) {
    const QString screens = home.filePath(QStringLiteral("screens.json"));
    QFile config(screens);
    if (!config.open(QIODevice::WriteOnly) || config.write(R"({"screens": [
  {"name": "Large", "x": 0, "y": 0, "width": 1920, "height": 1200, "logicalDpi": 96},
  {"name": "Small", "x": 1920, "y": 0, "width": 1024, "height": 600, "logicalDpi": 96}
]}
)") < 0)
      return 2;
    config.close();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screens).toLocal8Bit());
  }
  QtDefaultHandler = qInstallMessageHandler(DropOffscreenNoise);

  QApplication app(argc, argv);
  for (auto format : {QSettings::NativeFormat, QSettings::IniFormat})
    QSettings::setPath(format, QSettings::UserScope, home.filePath(QStringLiteral("settings")));
  return RUN_ALL_TESTS();
}
