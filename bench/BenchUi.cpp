// The window's own costs: starting it, listing a large store and describing one file, each
// beside the same work done with plain Qt or std::filesystem in the same process.
#include "bench/BenchMain.h"
#include "crypto/CertBuilder.h"
#include "ui/Platform.h"
#include "ui/VelmoraMain.h"
#include "ui_VelmoraMain.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QWindow>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace fs = std::filesystem;
using namespace velmora;

namespace {

QTemporaryDir* gHome = nullptr;

// A store of Count files: 40% certificates, 30% keys, 30% other files, a few bytes each.
fs::path MakeStore(const std::string& Name, int Count) {
  const fs::path dir = fs::path(gHome->path().toStdString()) / Name;
  fs::create_directories(dir);
  for (int i = 0; i < Count; ++i) {
    const int kind = i % 10;
    const char* ext = kind < 4 ? ".crt" : kind < 7 ? ".key" : ".txt";
    std::ofstream(dir / ("file" + std::to_string(i) + ext)) << "x";
  }
  return dir;
}

// Spins the event loop until the window is on screen. QTest's own wait sleeps 10 ms between
// looks, which would measure its sleep rather than the window.
bool WaitExposed(QWidget* Window) {
  QElapsedTimer timer;
  timer.start();
  while (!(Window->windowHandle() && Window->windowHandle()->isExposed())) {
    if (timer.elapsed() > 5000) return false;
    QApplication::processEvents(QEventLoop::AllEvents);
  }
  return true;
}

template <typename T>
T* Control(QWidget* Window, const char* Name) {
  return Window->findChild<T*>(QString::fromLatin1(Name));
}

// ---- window start ----

void BM_WindowStart_ours(benchmark::State& state) {
  QtPlatform platform;
  const fs::path empty = fs::path(gHome->path().toStdString()) / "empty-store";
  fs::create_directories(empty);
  platform.WriteStoreDirSetting(empty.string());
  for (auto _ : state) {
    TfrmVelmora window(platform);
    window.show();
    if (!WaitExposed(&window)) state.SkipWithError("window not exposed");
  }
}

void BM_WindowStart_baseline(benchmark::State& state) {
  for (auto _ : state) {
    QMainWindow window;
    auto* tabs = new QTabWidget;
    for (int i = 1; i <= 7; ++i) tabs->addTab(new QWidget, QString::number(i));
    window.setCentralWidget(tabs);
    window.resize(940, 800);
    window.show();
    if (!WaitExposed(&window)) state.SkipWithError("window not exposed");
  }
}

// The floor that the form itself sets: Qt building our .ui form on a bare QMainWindow and
// showing it, with none of the window's own code. Ours over this is what our code adds.
void BM_WindowStart_bare_form(benchmark::State& state) {
  for (auto _ : state) {
    QMainWindow window;
    Ui::TfrmVelmora form;
    form.setupUi(&window);
    window.show();
    if (!WaitExposed(&window)) state.SkipWithError("window not exposed");
  }
}

BENCHMARK(BM_WindowStart_ours)->Name("WindowStart/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowStart_baseline)->Name("WindowStart/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowStart_ours)->Name("WindowStart-over-bare-form/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowStart_bare_form)
    ->Name("WindowStart-over-bare-form/baseline")
    ->Unit(benchmark::kMillisecond);

// ---- store listing, 10,000 files ----

const fs::path& BigStore() {
  static const fs::path dir = MakeStore("big-store", 10000);
  return dir;
}

void BM_StoreList_ours(benchmark::State& state) {
  QtPlatform platform;
  platform.WriteStoreDirSetting(BigStore().string());
  TfrmVelmora window(platform);
  window.show();
  if (!WaitExposed(&window)) state.SkipWithError("window not exposed");
  QPushButton* refresh = Control<QPushButton>(&window, "btnStoreRefresh");
  QTableWidget* list = Control<QTableWidget>(&window, "lvCerts");
  for (auto _ : state) {
    refresh->click();
    QApplication::processEvents();  // the repaint the refresh asked for
  }
  state.counters["rows"] = list->rowCount();
}

// The floor: enumerating the directory with one status per entry.
void BM_StoreList_baseline(benchmark::State& state) {
  for (auto _ : state) {
    int listed = 0;
    for (const auto& entry : fs::directory_iterator(BigStore())) {
      struct stat st {};
      if (::stat(entry.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) ++listed;
    }
    benchmark::DoNotOptimize(listed);
  }
}

BENCHMARK(BM_StoreList_ours)->Name("StoreList-10000/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreList_baseline)->Name("StoreList-10000/baseline")->Unit(benchmark::kMillisecond);

// ---- file information on one certificate and one key ----

const fs::path& InfoStore() {
  static const fs::path dir = [] {
    const fs::path d = fs::path(gHome->path().toStdString()) / "info-store";
    fs::create_directories(d);
    TCertBuilder b;
    b.Subject.CN = "info.example";
    b.GenerateKey();
    b.BuildSelfSigned();
    b.SaveCertToPEM((d / "info.crt").string());
    b.SaveKeyToPEM((d / "info.key").string(), "");
    return d;
  }();
  return dir;
}

void BM_FileInfo(benchmark::State& state, const QString& Name) {
  QtPlatform platform;
  platform.WriteStoreDirSetting(InfoStore().string());
  TfrmVelmora window(platform);
  window.show();
  if (!WaitExposed(&window)) state.SkipWithError("window not exposed");
  QTableWidget* list = Control<QTableWidget>(&window, "lvCerts");
  const auto found = list->findItems(Name, Qt::MatchExactly);
  if (found.isEmpty()) {
    state.SkipWithError("file not listed");
    return;
  }
  const int row = found.first()->row();
  for (auto _ : state) {
    list->clearSelection();
    list->selectRow(row);  // selecting the row describes the file
  }
}

BENCHMARK_CAPTURE(BM_FileInfo, cert, QStringLiteral("info.crt"))
    ->Name("FileInfo-certificate/ours")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_FileInfo, key, QStringLiteral("info.key"))
    ->Name("FileInfo-key/ours")->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Settings and data go to a scratch folder, never to the user's own.
  QTemporaryDir home;
  gHome = &home;
  for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
    qputenv(variable, home.filePath(QString::fromLatin1(variable)).toLocal8Bit());
  QApplication app(argc, argv);
  return RunBenchmarksWithSummary(argc, argv);
}
