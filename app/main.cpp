// The program: one window, run until it is closed.
#include "ui/Platform.h"
#include "ui/VelmoraMain.h"

#include <QApplication>

#include <cstdio>

namespace {

// Without a display Qt would stop with a page about platform plugins; say what is wrong.
bool HasDisplay() {
  return qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!HasDisplay()) {
    std::fputs("velmora: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)\n",
               stderr);
    return 1;
  }
  QApplication app(argc, argv);
  // Organisation and program name place the per-user data folder (~/.local/share/Brenmoor/Velmora);
  // boxes carry the application title themselves.
  QApplication::setOrganizationName(QStringLiteral("Brenmoor"));
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  velmora::QtPlatform platform;
  velmora::TfrmVelmora frmVelmora(platform);
  frmVelmora.show();
  return QApplication::exec();
}
