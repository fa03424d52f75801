// The window's own costs: starting it (in this process and as a whole program), listing a
// large store and describing one file, each beside the same work done with plain Qt, plain
// libcrypto or the file system's own calls; and how long the window stops answering while
// its commands run, against a time budget.
#include "bench/BenchMain.h"
#include "bench/BenchSupport.h"
#include "bench/PlainLibcrypto.h"
#include "crypto/CertBuilder.h"
#include "ui/Platform.h"
#include "ui/VelmoraMain.h"
#include "ui_VelmoraMain.h"

#include <benchmark/benchmark.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using namespace velmora;

namespace {

// ---- fixtures, all made before the first benchmark runs ----

struct TFileInfoSize {
  const char* Name;
  std::size_t Bytes;
};

// Up to the largest file the store describes (4 MiB); beyond that it only says the file is
// too large. All in KiB, so that the summary's order is the order of size.
constexpr TFileInfoSize kFileInfoSizes[] = {
    {"1K", 1 << 10}, {"16K", 16 << 10}, {"256K", 256 << 10}, {"4096K", 4096 << 10}};

struct TFileInfoKind {
  const char* Work;
  const char* Extension;
  int (*PlainRead)(const std::string& Path);
};

constexpr TFileInfoKind kFileInfoKinds[] = {
    {"FileInfo-certificate", ".crt", PlainCertificateFileFacts},
    {"FileInfo-key", ".key", PlainKeyFileFacts},
};

std::string FileInfoName(const TFileInfoKind& Kind, const TFileInfoSize& Size) {
  return std::string("info-") + Size.Name + Kind.Extension;
}

std::string TextOf(BIO* Bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(Bio, &data);
  return std::string(data, length > 0 ? static_cast<std::size_t>(length) : 0);
}

// PEM text of Bytes bytes in all. The readers skip every line before the PEM block, so the
// block comes last, after the object's own text dump repeated to fill the size, the way
// `openssl x509 -text` writes a certificate file: the reader has to walk all of it, and the
// size is what the work grows with.
std::string PaddedPEM(const std::string& PEM, const std::string& Dump, std::size_t Bytes) {
  std::string text;
  while (text.size() + PEM.size() < Bytes) text += Dump;
  text.resize(Bytes > PEM.size() ? Bytes - PEM.size() : 0);
  if (!text.empty()) text.back() = '\n';
  return text + PEM;
}

// Huge is made by the one benchmark that lists it, on its first run: 100,000 files are
// seconds of work that no other benchmark needs.
struct TStores {
  fs::path Empty, Big, Info, Issue, Huge;
};

constexpr char kCAPassword[] = "gap-ca-pass";
constexpr char kCACertFile[] = "gap-ca.crt";
constexpr char kCAKeyFile[] = "gap-ca.key";

// A few files and a CA whose key is kept under a password, as a user signing with their own
// CA from the store would have it.
void MakeIssueStore(const fs::path& Dir) {
  MakeStore(Dir, 5);
  TCertBuilder ca;
  ca.Subject.CN = "Gap CA";
  ca.IsCA = true;
  ca.ValidDays = 3650;
  ca.KeyUsage = {kuKeyCertSign, kuCRLSign};
  ca.GenerateKey();
  ca.BuildSelfSigned();
  std::ofstream(Dir / kCACertFile, std::ios::binary) << ca.CertToPEM();
  std::ofstream(Dir / kCAKeyFile, std::ios::binary) << ca.KeyToPEM(kCAPassword);
}

TStores MakeStores(const fs::path& Home) {
  TStores stores{Home / "empty-store", Home / "big-store", Home / "info-store",
                 Home / "issue-store", Home / "huge-store"};
  fs::create_directories(stores.Empty);
  MakeStore(stores.Big, 10000);
  MakeIssueStore(stores.Issue);
  fs::create_directories(stores.Info);
  TCertBuilder b;
  b.Subject.CN = "info.example";
  b.GenerateKey();
  b.BuildSelfSigned();
  BIOPtr certDump(BIO_new(BIO_s_mem()));
  X509_print(certDump.get(), b.Cert());
  BIOPtr keyDump(BIO_new(BIO_s_mem()));
  EVP_PKEY_print_private(keyDump.get(), b.Key(), 0, nullptr);
  const std::string texts[][2] = {{b.CertToPEM(), TextOf(certDump.get())},
                                  {b.KeyToPEM(""), TextOf(keyDump.get())}};
  for (std::size_t kind = 0; kind < std::size(kFileInfoKinds); ++kind)
    for (const TFileInfoSize& size : kFileInfoSizes)
      std::ofstream(stores.Info / FileInfoName(kFileInfoKinds[kind], size), std::ios::binary)
          << PaddedPEM(texts[kind][0], texts[kind][1], size.Bytes);
  return stores;
}

const TStores* gStores = nullptr;

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

// ---- window start, in this process ----

void BM_WindowStart_ours(benchmark::State& state) {
  QtPlatform platform;
  platform.WriteStoreDirSetting(gStores->Empty.string());
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

// Every row of this program runs a fixed number of iterations: the window's work varies too
// much from one repetition to the next for the library to settle on one count by itself, and
// interleaved repetitions must all run the same count.
constexpr int kWindowIterations = 30;
BENCHMARK(BM_WindowStart_ours)
    ->Name("WindowStart/ours")
    ->Iterations(kWindowIterations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowStart_baseline)
    ->Name("WindowStart/baseline")
    ->Iterations(kWindowIterations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowStart_ours)
    ->Name("WindowStart-over-bare-form/ours")
    ->Iterations(kWindowIterations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowStart_bare_form)
    ->Name("WindowStart-over-bare-form/baseline")
    ->Iterations(kWindowIterations)
    ->Unit(benchmark::kMillisecond);

// ---- window start as a whole program: from the spawn to the first expose ----

// Program is one of the probe programs beside this one (WindowProbe.h), run on the Qt
// platform QtPlatformName. Its exit after the expose is not timed.
void BM_WindowProcess(benchmark::State& state, const std::string& Program,
                      const std::string& QtPlatformName) {
  QtPlatform().WriteStoreDirSetting(gStores->Empty.string());  // what the real window lists
  const std::string path =
      (QCoreApplication::applicationDirPath() + QLatin1Char('/') + QString::fromStdString(Program))
          .toStdString();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    TChildProcess probe({path}, {{"QT_QPA_PLATFORM", QtPlatformName}});
    const std::optional<std::string> said = probe.ReadLine(10000);
    const auto exposed = std::chrono::steady_clock::now();
    if (said != "exposed") {
      state.SkipWithError("the probe's window was never exposed");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(exposed - start).count());
  }
}

struct TProbe {
  const char* Side;
  const char* Program;
};

constexpr TProbe kProbes[] = {{"ours", "window_probe"}, {"baseline", "bare_window_probe"}};

// Offscreen always; under X only where there is a display to show it on.
void RegisterWindowProcess() {
  for (const std::string platform : {"offscreen", "xcb"}) {
    const std::string work = "WindowStart-process/" + platform;
    if (platform == "xcb" && qEnvironmentVariableIsEmpty("DISPLAY")) {
      NoteSkipped(work, "DISPLAY is not set");
      continue;
    }
    for (const TProbe& probe : kProbes)
      benchmark::RegisterBenchmark((work + "/" + probe.Side).c_str(), BM_WindowProcess,
                                   std::string(probe.Program), platform)
          ->Iterations(10)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
  }
}

// ---- store listing, 10,000 and 100,000 files ----

const fs::path& HugeStore() {
  static std::once_flag made;
  std::call_once(made, MakeStore, gStores->Huge, 100000);
  return gStores->Huge;
}

void BM_StoreList_ours(benchmark::State& state, const fs::path& (*Store)()) {
  QtPlatform platform;
  platform.WriteStoreDirSetting(Store().string());
  TfrmVelmora window(platform);
  window.show();
  if (!WaitExposed(&window)) state.SkipWithError("window not exposed");
  QPushButton* refresh = Control<QPushButton>(&window, "btnStoreRefresh");
  QTableView* list = Control<QTableView>(&window, "lvCerts");
  while (window.Busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  for (auto _ : state) {
    // The listing is a job of its own: over when the window is idle again, repaint included.
    refresh->click();
    while (window.Busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::processEvents();
  }
  state.counters["rows"] = list->model()->rowCount();
}

// A store of a CA, 1,000 other files and, in WithCRL, a CRL of the CA listing 100,000
// certificates: made on first use, like the huge store.
struct TCRLStores {
  fs::path WithCRL, WithoutCRL;
};

const TCRLStores& CRLStores() {
  static const TCRLStores stores = [] {
    const fs::path home = gStores->Empty.parent_path();
    TCRLStores made{home / "crl-store", home / "crl-free-store"};
    TCertBuilder ca;
    ca.Subject.CN = "List CRL CA";
    ca.IsCA = true;
    ca.KeyUsage = {kuKeyCertSign, kuCRLSign};
    ca.GenerateKey();
    ca.BuildSelfSigned();
    for (const fs::path& dir : {made.WithCRL, made.WithoutCRL}) {
      MakeStore(dir, 1000);
      std::ofstream(dir / "list-ca.crt", std::ios::binary) << ca.CertToPEM();
    }
    std::ofstream(made.WithCRL / "list-ca.crl", std::ios::binary)
        << PlainCRLWithEntries(ca.Cert(), ca.Key(), 100000);
    return made;
  }();
  return stores;
}

// From the refresh until the rows are in the list and painted; what is read behind the list
// (Expires dates, revocations) is left to end untimed before the next refresh.
void BM_StoreListShown(benchmark::State& state, bool WithCRL) {
  const fs::path& store = WithCRL ? CRLStores().WithCRL : CRLStores().WithoutCRL;
  QtPlatform platform;
  platform.WriteStoreDirSetting(store.string());
  TfrmVelmora window(platform);
  window.show();
  if (!WaitExposed(&window)) state.SkipWithError("window not exposed");
  QPushButton* refresh = Control<QPushButton>(&window, "btnStoreRefresh");
  QAbstractItemModel* model = Control<QTableView>(&window, "lvCerts")->model();
  while (window.Busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  for (auto _ : state) {
    bool shown = false;
    const QMetaObject::Connection connection =
        QObject::connect(model, &QAbstractItemModel::modelReset, [&shown] { shown = true; });
    refresh->click();
    while (!shown) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::processEvents();
    state.PauseTiming();
    QObject::disconnect(connection);
    // The marks the reading behind the list puts on its rows are painted here too.
    while (window.Busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::processEvents();
    state.ResumeTiming();
  }
  state.counters["rows"] = model->rowCount();
}

// The names the store lists: certificate, key and bundle extensions in either case.
bool IsStoreFileName(const char* Name) {
  const char* dot = std::strrchr(Name, '.');
  if (!dot || std::strlen(dot) != 4) return false;
  for (const char* extension : {".crt", ".cer", ".pem", ".der", ".key", ".pfx", ".p12"})
    if (::strcasecmp(dot, extension) == 0) return true;
  return false;
}

struct TDirCloser {
  void operator()(DIR* Dir) const noexcept { ::closedir(Dir); }
};

// The floor: enumerating the directory and one status look-up for each name the store lists;
// the other names, like ours, cost nothing beyond the enumeration.
int ListingFloor(const fs::path& Store) {
  std::unique_ptr<DIR, TDirCloser> dir(::opendir(Store.c_str()));
  const int dirFd = ::dirfd(dir.get());
  int listed = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (entry->d_type == DT_DIR || !IsStoreFileName(entry->d_name)) continue;
    struct stat info {};
    if (::fstatat(dirFd, entry->d_name, &info, 0) == 0 && !S_ISDIR(info.st_mode)) ++listed;
  }
  return listed;
}

void BM_StoreList_baseline(benchmark::State& state, const fs::path& (*Store)()) {
  const fs::path& store = Store();
  for (auto _ : state) benchmark::DoNotOptimize(ListingFloor(store));
}

// The window started on a store of 100,000 files, from its construction until the store is
// listed and everything read behind the list is in; against the same start on an empty store
// plus the floor of one listing of the big one.
// One start: the window shown and its store listed, with all that is read behind the list.
void StartUntilListed(benchmark::State& state, IPlatform& Platform) {
  TfrmVelmora window(Platform);
  window.show();
  if (!WaitExposed(&window)) state.SkipWithError("window not exposed");
  while (window.Busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  QApplication::processEvents();
}

void BM_StartWithHugeStore_ours(benchmark::State& state) {
  QtPlatform platform;
  platform.WriteStoreDirSetting(HugeStore().string());
  for (auto _ : state) StartUntilListed(state, platform);
}

void BM_StartWithHugeStore_baseline(benchmark::State& state) {
  QtPlatform platform;
  platform.WriteStoreDirSetting(gStores->Empty.string());
  const fs::path& huge = HugeStore();
  for (auto _ : state) {
    StartUntilListed(state, platform);
    benchmark::DoNotOptimize(ListingFloor(huge));
  }
}

void RegisterStoreLists() {
  const std::pair<const char*, const fs::path& (*)()> stores[] = {
      {"StoreList-10000", []() -> const fs::path& { return gStores->Big; }},
      {"StoreList-100000", HugeStore}};
  for (const auto& [work, store] : stores) {
    benchmark::RegisterBenchmark((std::string(work) + "/ours").c_str(), BM_StoreList_ours, store)
        ->Iterations(10)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string(work) + "/baseline").c_str(), BM_StoreList_baseline,
                                 store)
        ->Iterations(10)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("WindowStart-store-100000/ours", BM_StartWithHugeStore_ours)
      ->Iterations(10)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("WindowStart-store-100000/baseline", BM_StartWithHugeStore_baseline)
      ->Iterations(10)
      ->Unit(benchmark::kMillisecond);
  // The same store with and without a CRL of 100,000 entries: the list must not wait for it.
  benchmark::RegisterBenchmark("StoreList-CRLs-of-100000/ours", BM_StoreListShown, true)
      ->Iterations(10)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("StoreList-CRLs-of-100000/baseline", BM_StoreListShown, false)
      ->Iterations(10)
      ->Unit(benchmark::kMillisecond);
}

// ---- file information on certificates and keys of growing size ----

// Selecting a listed file's row is what describes it in the panel.
void BM_FileInfo_ours(benchmark::State& state, const std::string& FileName) {
  QtPlatform platform;
  platform.WriteStoreDirSetting(gStores->Info.string());
  TfrmVelmora window(platform);
  window.show();
  if (!WaitExposed(&window)) state.SkipWithError("window not exposed");
  while (window.JobRunning()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  QTableView* list = Control<QTableView>(&window, "lvCerts");
  const QModelIndexList found =
      list->model()->match(list->model()->index(0, 0), Qt::DisplayRole,
                           QString::fromStdString(FileName), 1, Qt::MatchExactly);
  if (found.isEmpty()) {
    state.SkipWithError("file not listed");
    return;
  }
  const int row = found.first().row();
  // Picking describes the file, a small one at once, a larger one off the window's thread:
  // over when its description shows. The pane keeps its text until then, so it is emptied
  // first, untimed. The store's related files are read after it, untimed; the next pick would
  // cut them short.
  auto* info = Control<QPlainTextEdit>(&window, "memStoreInfo");
  const QTextDocument* pane = info->document();
  for (auto _ : state) {
    state.PauseTiming();
    list->clearSelection();
    info->clear();
    state.ResumeTiming();
    list->selectRow(row);
    while (pane->isEmpty()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    state.PauseTiming();
    while (window.Busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    state.ResumeTiming();
  }
}

// The same object read from the same file with plain libcrypto.
void BM_FileInfo_baseline(benchmark::State& state, const std::string& FileName,
                          int (*PlainRead)(const std::string&)) {
  const std::string path = (gStores->Info / FileName).string();
  for (auto _ : state) benchmark::DoNotOptimize(PlainRead(path));
}

void RegisterFileInfo() {
  for (const TFileInfoKind& kind : kFileInfoKinds)
    for (const TFileInfoSize& size : kFileInfoSizes) {
      const std::string work = std::string(kind.Work) + "/" + size.Name;
      const std::string file = FileInfoName(kind, size);
      benchmark::RegisterBenchmark((work + "/ours").c_str(), BM_FileInfo_ours, file)
          ->Iterations(kWindowIterations)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark((work + "/baseline").c_str(), BM_FileInfo_baseline, file,
                                   kind.PlainRead)
          ->Iterations(kWindowIterations)
          ->Unit(benchmark::kMicrosecond);
    }
}

// ---- responsiveness: the longest the event loop goes unserved while a command runs ----
// No baseline: the budget of these rows is a time (BenchBudgets.h). Each iteration is one
// click, timed by hand as that click's longest gap, so a repetition reports the mean of its
// clicks' longest gaps.

// The desktop with every box answered at once, as by a user who agrees to everything (a real
// modal box would wait for a click that never comes), and the store folder setting held here.
// A failure's box is kept, so that a command that failed is reported rather than timed.
class TAgreeingPlatform final : public IPlatform {
 public:
  explicit TAgreeingPlatform(const fs::path& StoreDir) : FStoreDir(StoreDir.string()) {}

  std::optional<std::string> Failure;

  bool ConfirmYesNo(const std::string&) override { return true; }
  std::optional<std::string> AskPassword(const std::string&) override { return {}; }
  std::optional<std::string> OpenFileDialog(const TFileDialogOptions&) override { return {}; }
  std::optional<std::string> SaveFileDialog(const TFileDialogOptions&) override { return {}; }
  std::optional<std::string> FolderDialog(const std::string&, const std::string&) override {
    return {};
  }
  bool OpenInDesktop(const std::string&) override { return true; }
  void BeginBusyCursor() override { FDesktop.BeginBusyCursor(); }
  void EndBusyCursor() noexcept override { FDesktop.EndBusyCursor(); }
  std::optional<std::string> ReadStoreDirSetting() override { return FStoreDir; }
  void WriteStoreDirSetting(const std::string& Value) override { FStoreDir = Value; }
  std::string ApplicationDir() override { return FDesktop.ApplicationDir(); }
  std::string UserDataDir() override { return FDesktop.UserDataDir(); }

 protected:
  void ShowMessageBox(const std::string& Text) override {
    if (Text.find(" failed:") != std::string::npos) Failure = Text;
  }
  void ShowStopBox(const std::string& Text) override { Failure = Text; }

 private:
  QtPlatform FDesktop;
  std::string FStoreDir;
};

bool WorkGoesOn(const TfrmVelmora& Window) { return Window.Busy(); }

// Serves the event loop until the window's background work is over, then handles what that
// work left behind (its repaint among them); false when it is not over within two minutes.
// Between events the loop sleeps, as an idle window's would.
bool ServeUntilIdle(const TfrmVelmora& Window) {
  QTimer deadline;  // firing, it also wakes the loop for the last look
  deadline.setSingleShot(true);
  deadline.start(std::chrono::minutes(2));
  while (WorkGoesOn(Window) && deadline.isActive())
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  QApplication::processEvents();
  return !WorkGoesOn(Window);
}

// Untimed preparation: the command run to its end.
bool RunToIdle(TfrmVelmora& Window, const char* Button) {
  Control<QAbstractButton>(&Window, Button)->click();
  return ServeUntilIdle(Window);
}

// The longest stretch, in seconds, that a 10 ms timer waits for the event loop, from the
// click on Button until the window's work is over. The click and the end count as ticks, so
// a click handler that does the work itself shows whole. Nothing when the work did not end.
std::optional<double> LongestGap(TfrmVelmora& Window, QAbstractButton& Button) {
  using TClock = std::chrono::steady_clock;
  TClock::time_point last;
  TClock::duration longest{};
  const auto tick = [&] {
    const TClock::time_point now = TClock::now();
    longest = std::max(longest, now - last);
    last = now;
  };
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QObject::connect(&ticker, &QTimer::timeout, tick);
  ticker.start(10);
  last = TClock::now();
  QTest::mouseClick(&Button, Qt::LeftButton);
  const bool ended = ServeUntilIdle(Window);
  tick();
  if (!ended) return std::nullopt;
  return std::chrono::duration<double>(longest).count();
}

// Clicks the button once per iteration, with its tab in front as a user must have it. Ready
// says whether the window's preparation went through.
void MeasureLongestGap(benchmark::State& state, TfrmVelmora& Window,
                       const TAgreeingPlatform& Platform, const char* ButtonName, bool Ready,
                       const std::function<void()>& BeforeEach = {}) {
  auto* button = Control<QAbstractButton>(&Window, ButtonName);
  auto* tabs = Control<QTabWidget>(&Window, "pgcMain");
  for (int i = 0; i < tabs->count(); ++i)
    if (tabs->widget(i)->isAncestorOf(button)) tabs->setCurrentIndex(i);
  if (!Ready || !ServeUntilIdle(Window) || !button->isEnabled() || Platform.Failure) {
    state.SkipWithError(Platform.Failure ? Platform.Failure->c_str() : "the window is not ready");
    return;
  }
  for (auto _ : state) {
    if (BeforeEach) BeforeEach();
    const std::optional<double> gap = LongestGap(Window, *button);
    if (!gap || Platform.Failure) {
      state.SkipWithError(Platform.Failure ? Platform.Failure->c_str() : "the work did not end");
      break;
    }
    state.SetIterationTime(*gap);
  }
}

// The window on Platform's store, on screen, done with the listing it starts with.
bool OpenIdle(TfrmVelmora& Window) {
  Window.show();
  return WaitExposed(&Window) && ServeUntilIdle(Window);
}

void BM_LongestGap_GenKey(benchmark::State& state) {
  TAgreeingPlatform platform(gStores->Empty);
  TfrmVelmora window(platform);
  Control<QAbstractButton>(&window, "rbRSA")->click();
  Control<QComboBox>(&window, "cmbRSABits")->setCurrentText(QStringLiteral("4096"));
  MeasureLongestGap(state, window, platform, "btnGenKey", OpenIdle(window));
}

// Signed by the store's CA, with a bundle beside the certificate and key. The key pair is
// made and the files written once before timing, so every timed click replaces them.
void BM_LongestGap_GenCert(benchmark::State& state) {
  TAgreeingPlatform platform(gStores->Issue);
  TfrmVelmora window(platform);
  const std::pair<const char*, fs::path> edits[] = {{"edtCN", "gap.example"},
                                                    {"edtCACertFile", gStores->Issue / kCACertFile},
                                                    {"edtCAKeyFile", gStores->Issue / kCAKeyFile},
                                                    {"edtCAPwd", kCAPassword},
                                                    {"edtOutPFXPwd", "gap-bundle-pass"},
                                                    {"edtOutPFXPwdConfirm", "gap-bundle-pass"}};
  for (const auto& [edit, text] : edits)
    Control<QLineEdit>(&window, edit)->setText(QString::fromStdString(text.string()));
  Control<QAbstractButton>(&window, "rbCASign")->click();
  Control<QAbstractButton>(&window, "chkSavePFX")->setChecked(true);
  const bool ready =
      OpenIdle(window) && RunToIdle(window, "btnGenKey") && RunToIdle(window, "btnGenCert");
  MeasureLongestGap(state, window, platform, "btnGenCert", ready);
}

void BM_LongestGap_StoreRefresh(benchmark::State& state) {
  TAgreeingPlatform platform(HugeStore());
  TfrmVelmora window(platform);
  MeasureLongestGap(state, window, platform, "btnStoreRefresh", OpenIdle(window));
}

// 10,000 certificates the listing has not met: each click lists them and reads their dates
// behind the shown list. Touching every file before a click makes each a file not met yet.
void BM_LongestGap_ExpiresFill(benchmark::State& state) {
  static const fs::path store = [] {
    const fs::path dir = gStores->Huge.parent_path() / "certificate-store";
    fs::create_directories(dir);
    TCertBuilder b;
    b.Subject.CN = "expires.example";
    b.GenerateKey();
    b.BuildSelfSigned();
    const std::string pem = b.CertToPEM();
    for (int i = 0; i < 10000; ++i)
      std::ofstream(dir / ("cert" + std::to_string(i) + ".crt"), std::ios::binary) << pem;
    return dir;
  }();
  TAgreeingPlatform platform(store);
  TfrmVelmora window(platform);
  static long touch = 0;
  const auto touchAll = [] {
    ++touch;
    for (const auto& file : fs::directory_iterator(store)) {
      const timespec times[2] = {{0, UTIME_OMIT}, {1'700'000'000 + touch, 0}};
      ::utimensat(AT_FDCWD, file.path().c_str(), times, 0);
    }
  };
  MeasureLongestGap(state, window, platform, "btnStoreRefresh", OpenIdle(window), touchAll);
}

void RegisterLongestGaps() {
  const std::pair<const char*, void (*)(benchmark::State&)> commands[] = {
      {"GenKey-RSA-4096", BM_LongestGap_GenKey},
      {"GenCert-CA-signed-PFX", BM_LongestGap_GenCert},
      {"StoreRefresh-100000", BM_LongestGap_StoreRefresh},
      {"ExpiresFill-10000", BM_LongestGap_ExpiresFill}};
  for (const auto& [work, run] : commands)
    benchmark::RegisterBenchmark(("LongestGap/" + std::string(work) + "/ours").c_str(), run)
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home;
  UseScratchHome(home.path().toStdString());
  QApplication app(argc, argv);
  const TStores stores = MakeStores(home.path().toStdString());
  gStores = &stores;
  RegisterWindowProcess();
  RegisterStoreLists();
  RegisterFileInfo();
  RegisterLongestGaps();
  return RunBenchmarksWithSummary(argc, argv);
}
