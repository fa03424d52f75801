// The program's own start, as app/main.cpp does it, reporting the window's first expose.
#include "bench/WindowProbe.h"
#include "ui/Platform.h"
#include "ui/VelmoraMain.h"

#include <QApplication>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  TExposeReporter reporter;
  app.installEventFilter(&reporter);
  QApplication::setOrganizationName(QStringLiteral("Brenmoor"));
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  velmora::QtPlatform platform;
  velmora::TfrmVelmora frmVelmora(platform);
  frmVelmora.show();
  return QApplication::exec();
}
