// The program's start-up time and peak memory once its window is up, with an empty store and
// with stores of 10,000 and 100,000 files. The peak only ever grows, so each start is a
// process of its own: run without arguments, this program makes the stores, points the
// setting the window reads at each in turn and runs itself with --measure, which starts the
// window as the program does, says when the window is shown with its store listed, reports
// the high-water mark of its resident set, then lists the store once more and reports how
// long that took. The start-up time is from starting the process until the window is shown; the
// starts are interleaved over the stores and repeated, and medians are shown.
#include "bench/BenchSupport.h"
#include "ui/Platform.h"
#include "ui/VelmoraMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// Prints "shown" once the window is up with its store listed, then, once all its background
// work is over, "<peak MB> <rows listed> <seconds of one more listing>".
int Measure(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Brenmoor"));
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  velmora::QtPlatform platform;
  velmora::TfrmVelmora window(platform);
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;
  // Started: the window shown and its store listed, which is a job of its own.
  // Shown: the window up with its store listed, the one job of the start. The line tells the
  // parent the start is over; dates of certificates met for the first time follow.
  while (window.JobRunning()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  QApplication::processEvents();
  std::printf("shown\n");
  std::fflush(stdout);
  while (window.Busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  QApplication::processEvents();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto* list = window.findChild<QTableView*>(QStringLiteral("lvCerts"));
  auto* refresh = window.findChild<QPushButton*>(QStringLiteral("btnStoreRefresh"));
  if (!list || !refresh) return 1;
  QElapsedTimer listing;
  listing.start();
  refresh->click();
  while (window.Busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  QApplication::processEvents();
  std::printf("%.1f %d %.6f\n", usage.ru_maxrss / 1024.0,
              static_cast<int>(list->model()->rowCount()), listing.nsecsElapsed() / 1e9);
  return 0;
}

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  const std::size_t middle = Values.size() / 2;
  return Values.size() % 2 ? Values[middle] : (Values[middle - 1] + Values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc == 2 && std::strcmp(argv[1], "--measure") == 0) return Measure(argc, argv);

  QTemporaryDir home;
  UseScratchHome(home.path().toStdString());
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  constexpr int kStoreSizes[] = {0, 10000, 100000};
  constexpr int kRepetitions = 5;
  struct TSamples {
    int Listed = -1;
    std::vector<double> PeakMB, StartSeconds, ListingSeconds;
  };
  std::map<int, TSamples> samples;
  std::map<int, std::filesystem::path> stores;
  for (const int files : kStoreSizes) {
    stores[files] =
        std::filesystem::path(home.path().toStdString()) / ("store-" + std::to_string(files));
    MakeStore(stores[files], files);
  }
  for (int repetition = 0; repetition < kRepetitions; ++repetition) {
    for (const int files : kStoreSizes) {
      velmora::QtPlatform().WriteStoreDirSetting(stores[files].string());
      const auto started = std::chrono::steady_clock::now();
      TChildProcess child({self, "--measure"});
      const std::optional<std::string> shown = child.ReadLine(120000);
      const double startSeconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      const std::optional<std::string> result = shown ? child.ReadLine(120000) : std::nullopt;
      double megabytes = 0, listingSeconds = 0;
      int listed = 0;
      if (child.Wait() != 0 || !result ||
          std::sscanf(result->c_str(), "%lf %d %lf", &megabytes, &listed, &listingSeconds) != 3)
        continue;
      TSamples& s = samples[files];
      s.Listed = listed;
      s.PeakMB.push_back(megabytes);
      s.StartSeconds.push_back(startSeconds);
      s.ListingSeconds.push_back(listingSeconds);
    }
  }

  std::printf("Start-up with its store listed, medians of %d starts\n%12s %8s %10s %10s %12s\n",
              kRepetitions, "store files", "listed", "peak", "start", "one listing");
  for (const int files : kStoreSizes) {
    TSamples& s = samples[files];
    if (s.PeakMB.empty()) {
      std::printf("%12d %8s %10s\n", files, "-", "failed");
      continue;
    }
    std::printf("%12d %8d %7.1f MB %7.1f ms %9.1f ms\n", files, s.Listed, Median(s.PeakMB),
                Median(s.StartSeconds) * 1e3, Median(s.ListingSeconds) * 1e3);
  }
  TSamples& empty = samples[0];
  TSamples& huge = samples[100000];
  if (!empty.PeakMB.empty() && !huge.PeakMB.empty()) {
    // Budgets: 300 ms to the window with 100,000 files, no more than 1.3 times an empty
    // store's start plus one listing (the store is listed once), and 40 MB over an empty store.
    const double ratio =
        Median(huge.StartSeconds) / (Median(empty.StartSeconds) + Median(huge.ListingSeconds));
    std::printf(
        "100000 files: start %.1f ms (budget 300 ms), %.2fx empty start + one listing "
        "(budget 1.30x), peak +%.1f MB over an empty store (budget 40 MB)\n",
        Median(huge.StartSeconds) * 1e3, ratio, Median(huge.PeakMB) - Median(empty.PeakMB));
  }
  return 0;
}
