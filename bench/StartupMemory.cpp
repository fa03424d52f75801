// The program's peak memory once its window is up, with an empty store and with stores of
// 10,000 and 100,000 files. The peak only ever grows, so each store gets a process of its
// own: run without arguments, this program makes the stores, points the setting the window
// reads at each in turn and runs itself with --measure, which starts the window as the
// program does and reports the high-water mark of its resident set.
#include "bench/BenchSupport.h"
#include "ui/Platform.h"
#include "ui/VelmoraMain.h"

#include <QApplication>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

namespace {

// Prints "<peak MB> <rows listed>".
int Measure(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Brenmoor"));
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  velmora::QtPlatform platform;
  velmora::TfrmVelmora window(platform);
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;
  // Started: the window shown and its store listed, which is a job of its own.
  while (window.JobRunning()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  QApplication::processEvents();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto* list = window.findChild<QTableView*>(QStringLiteral("lvCerts"));
  std::printf("%.1f %d\n", usage.ru_maxrss / 1024.0, list ? list->model()->rowCount() : -1);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc == 2 && std::strcmp(argv[1], "--measure") == 0) return Measure(argc, argv);

  QTemporaryDir home;
  UseScratchHome(home.path().toStdString());
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::printf("Peak memory after start\n%12s %8s %10s\n", "store files", "listed", "peak");
  for (const int files : {0, 10000, 100000}) {
    const std::filesystem::path store =
        std::filesystem::path(home.path().toStdString()) / ("store-" + std::to_string(files));
    MakeStore(store, files);
    velmora::QtPlatform().WriteStoreDirSetting(store.string());
    TChildProcess child({self, "--measure"});
    const std::optional<std::string> result = child.ReadLine(120000);
    double megabytes = 0;
    int listed = 0;
    if (child.Wait() != 0 || !result ||
        std::sscanf(result->c_str(), "%lf %d", &megabytes, &listed) != 2) {
      std::printf("%12d %8s %10s\n", files, "-", "failed");
      std::fflush(stdout);
      continue;
    }
    std::printf("%12d %8d %7.1f MB\n", files, listed, megabytes);
    std::fflush(stdout);  // before the next process's messages
    std::filesystem::remove_all(store);
  }
  return 0;
}
