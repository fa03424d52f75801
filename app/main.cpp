// The program: one window, run until it is closed. --help and --version answer in the terminal.
#include "core/Defaults.h"
#include "ui/Platform.h"
#include "ui/VelmoraMain.h"
#include "velmora/Version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

// The same status as velmora-cli for a command line that is wrong.
constexpr int kExitUsage = 2;

// Without a display Qt would stop with a page about platform plugins; say what is wrong.
bool HasDisplay() {
  return qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Help and version are text for the terminal: they are served by a core application object, which
// needs no window system, so they work without a display or with one that cannot be reached.
bool AsksForTextOnly(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) return false;
    for (const char* option : {"-h", "--help", "--help-all", "-v", "--version"})
      if (std::strcmp(argv[i], option) == 0) return true;
  }
  return false;
}

struct TCommandLine {
  std::optional<int> ExitCode;  // set when the command line was answered or refused: stop there
  QString File;                 // the one file argument made absolute, or empty
};

// Reads the arguments of the application object that exists (the window system's own options are
// gone by then). Help pages and the version go to the standard output, mistakes to the standard
// error with the same usage hint velmora-cli gives.
TCommandLine ParseCommandLine() {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Makes X.509 certificates with their private keys into a certificate store."));
  parser.addHelpOption();
  const QCommandLineOption versionOption = parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("file"),
                               QStringLiteral("A certificate, key or bundle file to open."),
                               QStringLiteral("[file]"));
  const QStringList arguments = QCoreApplication::arguments();

  QString error;
  if (!parser.parse(arguments))
    error = parser.errorText();
  else if (parser.positionalArguments().size() > 1)
    error = QStringLiteral("Only one file can be opened at a time.");
  if (!error.isEmpty()) {
    std::fprintf(stderr,
                 "velmora: %s\nUsage: velmora [options] [file]\nRun with --help for more.\n",
                 qPrintable(error));
    return {kExitUsage, {}};
  }
  if (parser.isSet(versionOption)) {
    std::printf("velmora %s\n", VELMORA_VERSION);
    return {0, {}};
  }
  // Prints the help page (with Qt's own options for --help-all) and exits when one was asked for.
  parser.process(arguments);

  const QStringList files = parser.positionalArguments();
  if (files.isEmpty() || files.first().isEmpty()) return {};
  return {std::nullopt, QFileInfo(files.first()).absoluteFilePath()};
}

}  // namespace

int main(int argc, char* argv[]) {
  // Organisation and program name place the per-user data folder (~/.local/share/Brenmoor/Velmora);
  // boxes carry the application title themselves.
  QCoreApplication::setOrganizationName(QString::fromLatin1(velmora::kOrganisationName));
  QCoreApplication::setApplicationName(QString::fromLatin1(velmora::kProgramName));
  QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));

  if (AsksForTextOnly(argc, argv) || !HasDisplay()) {
    QCoreApplication app(argc, argv);
    const TCommandLine commandLine = ParseCommandLine();
    if (commandLine.ExitCode) return *commandLine.ExitCode;
    std::fputs(
        "velmora: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)\n",
        stderr);
    return 1;
  }

  QApplication app(argc, argv);
  const TCommandLine commandLine = ParseCommandLine();
  if (commandLine.ExitCode) return *commandLine.ExitCode;
  // Lets the desktop match the window to its entry and icon (the Wayland app id, X11's class hint).
  QGuiApplication::setDesktopFileName(QStringLiteral(VELMORA_APP_ID));
  velmora::QtPlatform platform;
  velmora::TfrmVelmora frmVelmora(platform);
  // This computer's own trust stores; a privileged step asks through the desktop's agent.
  velmora::TTrustPlace trustPlace;
  trustPlace.Home = QDir::homePath().toStdString();
  trustPlace.Elevator = "pkexec";
  frmVelmora.SetTrustPlace(trustPlace);
  frmVelmora.show();
  if (!commandLine.File.isEmpty())
    velmora::RunGuarded(platform, [&] {
      frmVelmora.OpenStoreFile(QFile::encodeName(commandLine.File).toStdString());
    });
  return QApplication::exec();
}
