// The program's peak memory once its window is up with an empty store: what the program's
// own start does, then the high-water mark of the resident set.
#include "ui/Platform.h"
#include "ui/VelmoraMain.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home;
  for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
    qputenv(variable, home.filePath(QString::fromLatin1(variable)).toLocal8Bit());
  QApplication app(argc, argv);
  velmora::QtPlatform platform;
  platform.WriteStoreDirSetting(home.filePath(QStringLiteral("empty-store")).toStdString());
  velmora::TfrmVelmora window(platform);
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;
  QApplication::processEvents();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("Peak memory after start (empty store): %.1f MB\n", usage.ru_maxrss / 1024.0);
  return 0;
}
