// The Certificate Store tab: the remembered store directory, the listing of its files, the
// description of a listed file and the actions on it.
//
// A file name here is bytes, not text. Each row keeps its file's name bytes beside the
// caption (which is only a lossy picture of them), and every action builds its path from
// those bytes, so it reaches exactly the file the row shows even when the name is not UTF-8.
#include "ui/StorePanel.h"

#include "core/FileNameText.h"
#include "core/NameOrder.h"
#include "core/Revocation.h"
#include "core/Store.h"
#include "core/StoreCertificate.h"
#include "core/StoreExpiry.h"
#include "core/StoreKeyPair.h"
#include "core/StorePaths.h"
#include "core/StoreRelations.h"
#include "core/StoreRevocation.h"
#include "core/TextFile.h"
#include "core/ValueConventions.h"
#include "crypto/SecretText.h"
#include "ui/GuardedConnect.h"
#include "ui_VelmoraMain.h"

#include <QByteArray>
#include <QClipboard>
#include <QDateTime>
#include <QFileSystemWatcher>
#include <QFontMetrics>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace velmora {

namespace {

void ShowLines(QPlainTextEdit& Pane, const std::vector<std::string>& Lines) {
  QStringList text;
  for (const std::string& line : Lines) text << FileNameCaption(line);
  Pane.setPlainText(text.join(QLatin1Char('\n')));
}

// A desktop without a file manager, or without a program for that kind of file, opens
// nothing; the user hears why nothing appeared instead of waiting for a window.
void OpenInDesktopOrSay(IPlatform& Platform, const std::string& Path) {
  if (!Platform.OpenInDesktop(Path))
    throw Exception("The desktop could not open \"" + Readable(Path) +
                    "\": no program is set up to open it.");
}

}  // namespace

TStorePanel::TStorePanel(Ui::TfrmVelmora& Form, IPlatform& Platform, TJobRunner& Jobs,
                         IStorePanelHost& Host)
    : ui(&Form), FPlatform(Platform), FJobs(&Jobs), FHost(Host) {
  // The list's model first: its selection, which the events bind to, comes with it.
  FStoreModel = new TStoreListModel(ui->lvCerts);
  ui->lvCerts->setModel(FStoreModel);
  ApplyLook();
  BindEvents();
}

TStorePanel::~TStorePanel() = default;

void TStorePanel::Open() {
  AddStoreListColumns();
  LoadSettings();
}

// ---- The list's look and events ----

// Rows as high as a line of text and captions on the left, like a report-style list.
void TStorePanel::ApplyLook() {
  ui->lvCerts->verticalHeader()->setMinimumSectionSize(1);
  // Rows of one height: the view then never measures rows one by one, which in a store of
  // many thousands of files costs more than listing them.
  ui->lvCerts->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  ui->lvCerts->verticalHeader()->setDefaultSectionSize(ui->lvCerts->fontMetrics().height() + 6);
  ui->lvCerts->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void TStorePanel::AddStoreListColumns() {
  struct Column {
    const char* Caption;
    int Width;
  };
  constexpr Column columns[] = {
      {"File Name", 220}, {"Type", 60}, {"Size", 70}, {"Modified", 130}, {"Expires", 90}};
  // The captions come from the model; sorted by name until the user clicks another header.
  for (int i = 0; i < static_cast<int>(std::size(columns)); ++i)
    ui->lvCerts->setColumnWidth(i, columns[i].Width);
  // The name takes the width the other columns leave, so Expires, the last, is in view without
  // scrolling; only a list narrower than all of them together scrolls.
  ui->lvCerts->horizontalHeader()->setSectionResizeMode(TStoreListModel::colName,
                                                        QHeaderView::Stretch);
  ui->lvCerts->horizontalHeader()->setSortIndicator(TStoreListModel::colName, Qt::AscendingOrder);
  FitModifiedColumn();
}

// Measured on sample dates rather than on the rows, which may be a hundred thousand: every
// month (for formats that name it), days that fall on every weekday, both halves of the day
// and wide digits. The column only grows, so a width the user gave it stays when it is enough.
// Measured again only when the regional settings, the list's font or style, or the year
// changed since: a listing would otherwise lay out these dates at every refresh.
void TStorePanel::FitModifiedColumn() {
  QTableView* list = ui->lvCerts;
  const TDateTimeFormat format;
  const int year = QDate::currentDate().year();
  const QString measuredFor = format.Key() + QLatin1Char('|') + list->font().key() +
                              QLatin1Char('|') + list->style()->name() + QLatin1Char('|') +
                              QString::number(year);
  if (measuredFor != FModifiedFitFor) {
    FModifiedFitWidth = WidestModifiedText(format, year);
    FModifiedFitFor = measuredFor;
  }
  const int needed = FModifiedFitWidth + (list->showGrid() ? 1 : 0);
  if (list->columnWidth(TStoreListModel::colModified) < needed)
    list->setColumnWidth(TStoreListModel::colModified, needed);
}

// The samples are compared by their text's advance, and only the widest go through the
// style's item measure, which lays out each text it is given.
int TStorePanel::WidestModifiedText(const TDateTimeFormat& Format, int Year) const {
  QTableView* list = ui->lvCerts;
  QStyleOptionViewItem option;
  option.initFrom(list);
  option.features = QStyleOptionViewItem::HasDisplay;
  option.textElideMode = Qt::ElideNone;
  const QFontMetrics metrics(option.font);
  std::vector<std::pair<int, QString>> samples;
  for (int month = 1; month <= 12; ++month)
    for (int day : {18, 28})
      for (const QTime& time : {QTime(10, 8, 48), QTime(18, 48, 58), QTime(23, 58, 58)}) {
        QString text =
            Format.Text(QDateTime(QDate(Year, month, day), time).toSecsSinceEpoch(), true);
        samples.emplace_back(metrics.horizontalAdvance(text), std::move(text));
      }
  int advance = 0;
  for (const auto& sample : samples) advance = std::max(advance, sample.first);
  int widest = 0;
  for (auto& [width, text] : samples) {
    if (width < advance) continue;  // the advance is of the shaped text, as the item lays it out
    option.text = std::move(text);
    widest = std::max(
        widest,
        list->style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), list).width());
  }
  return widest;
}

// The connections go with the panel, before the controls do.
void TStorePanel::BindEvents() {
  const auto bind = [this](auto* Sender, auto Signal, void (TStorePanel::*Handler)()) {
    ConnectGuarded(FPlatform, Sender, Signal, this, [this, Handler] { (this->*Handler)(); });
  };
  bind(ui->edtStoreDir, &QLineEdit::textChanged, &TStorePanel::edtStoreDirChange);
  bind(ui->btnBrowseStoreDir, &QPushButton::clicked, &TStorePanel::btnBrowseStoreDirClick);
  bind(ui->btnOpenStoreDir, &QPushButton::clicked, &TStorePanel::btnOpenStoreDirClick);
  bind(ui->btnStoreRefresh, &QPushButton::clicked, &TStorePanel::btnStoreRefreshClick);
  for (const auto& use : {std::pair{ui->btnStoreLoadCACert, TCAPart::Certificate},
                          std::pair{ui->btnStoreLoadCAKey, TCAPart::Key}}) {
    ConnectGuarded(FPlatform, use.first, &QPushButton::clicked, this,
                   [this, part = use.second] { UseStoreFileAsCA(part); });
  }
  bind(ui->btnStoreDelete, &QPushButton::clicked, &TStorePanel::btnStoreDeleteClick);
  bind(ui->lvCerts, &QAbstractItemView::doubleClicked, &TStorePanel::lvCertsDblClick);
  ui->lvCerts->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ui->lvCerts, &QWidget::customContextMenuRequested, this, [this](const QPoint& Position) {
    RunGuarded(FPlatform, [&] { lvCertsContextMenu(Position); });
  });
  BindListSelection();
}

// The list reports the row that lost the selection, then the row that got it.
void TStorePanel::BindListSelection() {
  connect(ui->lvCerts->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& Selected, const QItemSelection& Deselected) {
            const auto report = [this](const QItemSelection& Rows, bool IsSelected) {
              for (const QModelIndex& index : Rows.indexes()) {
                if (index.column() != 0) continue;
                const int row = index.row();
                RunGuarded(FPlatform,
                           [this, row, IsSelected] { lvCertsSelectItem(row, IsSelected); });
              }
            };
            report(Deselected, false);
            report(Selected, true);
          });
}

// ---- Directory and its setting ----

// A setting that cannot be read counts as absent: the window starts on the default folder
// and the log says why.
void TStorePanel::LoadSettings() {
  FStoreDir = DefaultStoreDir();
  try {
    if (std::optional<std::string> stored = FPlatform.ReadStoreDirSetting()) FStoreDir = *stored;
  } catch (const Exception& e) {
    FHost.Log(std::string(e.what()) + "; ignored.");
  }
  // Setting the text runs edtStoreDirChange whenever it changes the edit, as typing would.
  ui->edtStoreDir->setText(QString::fromStdString(FStoreDir));
}

// A folder opened for one file is not remembered; one the user typed or chose is.
void TStorePanel::SaveSettings() {
  if (!FOneTimeStore) FPlatform.WriteStoreDirSetting(FStoreDir);
}

void TStorePanel::OpenStoreFile(const std::string& Path) {
  std::string dir = Path;
  std::string name;
  if (!IsDirectoryAt(Path)) {
    name = FileNamePart(Path);
    dir = Path.substr(0, Path.size() - name.size());
    if (dir.size() > 1) dir.pop_back();  // the "/" before the name, unless it is the root
  }
  ui->pgcMain->setCurrentWidget(ui->tabStore);
  const QString text = FileNameToText(dir);
  const bool shownAlready = ui->edtStoreDir->text() == text;
  ui->edtStoreDir->setText(text);  // a new folder is listed, as typing it would
  FStoreDir = dir;
  FOneTimeStore = true;
  if (!name.empty()) FPendingPick = TPendingPick{dir, name};
  if (shownAlready) RefreshStoreList();
}

std::string TStorePanel::DefaultStoreDir() const {
  return DefaultStoreDirFor(FPlatform.ApplicationDir(), FPlatform.UserDataDir());
}

std::string TStorePanel::GetStoreDir() const {
  return FStoreDir.empty() ? DefaultStoreDir() : FStoreDir;
}

void TStorePanel::EnsureStoreDir() { CreateStoreDirectory(GetStoreDir()); }

std::string TStorePanel::StorePath(const std::string& Name) const {
  return JoinStorePath(GetStoreDir(), Name);
}

void TStorePanel::btnOpenStoreDirClick() {
  EnsureStoreDir();
  OpenInDesktopOrSay(FPlatform, GetStoreDir());
}

// ---- Listing ----

// What a listing job found: the rows in the list's order, or why there are none.
struct TStorePanel::TStoreListing {
  std::string Dir;
  int SortColumn = TStoreListModel::colName;
  Qt::SortOrder SortOrder = Qt::AscendingOrder;
  bool IsDirectory = false;
  std::vector<TStoreRow> Rows;
  // Certificates whose dates the cache did not know: read after the list shows.
  std::vector<TStoreEntry> Unread;
  std::optional<std::string> Error;
};

// The folder is read, and its rows put in the list's order, by a job; a listing asked for
// while another job runs follows it.
void TStorePanel::RefreshStoreList() {
  if (FJobs->Running()) {
    FListingWanted = true;
    return;
  }
  auto listing = std::make_shared<TStoreListing>();
  listing->Dir = GetStoreDir();
  listing->SortColumn = FStoreModel->SortColumn();
  listing->SortOrder = FStoreModel->SortOrder();
  FJobs->Run(
      TJobRunner::TKind::Listing,
      [listing] {
        try {
          listing->IsDirectory = IsDirectoryAt(listing->Dir);
          if (!listing->IsDirectory) return;
          std::vector<TStoreEntry> entries = ReadStoreEntries(listing->Dir);
          std::vector<std::optional<std::time_t>> expiry;
          for (const std::size_t i : LookUpCertificateExpiry(entries, expiry))
            listing->Unread.push_back(entries[i]);
          listing->Rows.reserve(entries.size());
          for (std::size_t i = 0; i < entries.size(); ++i)
            listing->Rows.push_back({std::move(entries[i]), expiry[i]});
          SortRows(listing->Rows, listing->SortColumn, listing->SortOrder);
        } catch (const std::exception& e) {
          listing->Error = e.what();
        }
      },
      [this, listing] { ShowStoreListing(*listing); });
}

void TStorePanel::RunWantedListing() {
  if (!FListingWanted) return;
  FListingWanted = false;
  RunGuarded(FPlatform, [this] { RefreshStoreList(); });
}

// The Expires cells of certificates met for the first time are filled once their files are
// read, off the window's thread; a newer listing makes the result void. The commands stay
// available meanwhile: nothing here conflicts with them.
void TStorePanel::ReadExpiryInBackground(const std::string& Dir, std::vector<TStoreEntry> Unread) {
  using TResult = std::vector<std::pair<std::string, std::optional<std::time_t>>>;
  ++FExpiryPending;
  const std::uint64_t listing = FListingShown;
  auto* watcher = new QFutureWatcher<TResult>(this);
  connect(watcher, &QFutureWatcher<TResult>::finished, this, [this, watcher, listing] {
    watcher->deleteLater();
    --FExpiryPending;
    if (listing == FListingShown) FStoreModel->SetExpiry(watcher->result());
  });
  watcher->setFuture(QtConcurrent::run([Dir, Unread = std::move(Unread)] {
    std::vector<std::size_t> all(Unread.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    std::vector<std::optional<std::time_t>> expiry(Unread.size());
    ReadUnknownCertificateExpiry(Dir, Unread, all, expiry);
    TResult result;
    result.reserve(Unread.size());
    for (std::size_t i = 0; i < Unread.size(); ++i) result.emplace_back(Unread[i].Name, expiry[i]);
    return result;
  }));
}

// Which certificates the store's CRLs list: read behind the list like the Expires dates, and
// only when the store holds a CRL at all, so a store without one costs nothing more.
void TStorePanel::ReadRevocationsInBackground(const std::string& Dir,
                                              std::vector<TStoreEntry> Entries) {
  if (!HasCRLFile(Entries)) return;
  ++FRevocationsPending;
  const std::uint64_t listing = FListingShown;
  auto* watcher = new QFutureWatcher<std::vector<std::string>>(this);
  connect(watcher, &QFutureWatcher<std::vector<std::string>>::finished, this,
          [this, watcher, listing] {
            watcher->deleteLater();
            --FRevocationsPending;
            if (listing != FListingShown) return;
            FRevokedShown = watcher->result();
            FStoreModel->SetRevoked(FRevokedShown);
          });
  watcher->setFuture(QtConcurrent::run([Dir, Entries = std::move(Entries)] {
    const std::vector<std::optional<TRevokedEntry>> revoked = ReadRevocations(Dir, Entries);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < Entries.size(); ++i)
      if (revoked[i]) names.push_back(Entries[i].Name);
    return names;
  }));
}

void TStorePanel::ShowStoreListing(TStoreListing& Listing) {
  std::optional<TPendingPick> pick;
  if (FPendingPick && FPendingPick->Dir == Listing.Dir)
    pick = std::exchange(FPendingPick, std::nullopt);
  ui->lvCerts->clearSelection();
  if (Listing.Error || !Listing.IsDirectory) {
    FStoreModel->SetRows({});
    FListingHasCRL = false;
    if (Listing.Error) throw Exception(*Listing.Error);
    return;  // the status line keeps what it said
  }
  std::vector<TStoreEntry> entries;
  entries.reserve(Listing.Rows.size());
  for (const TStoreRow& row : Listing.Rows) entries.push_back(row.Entry);
  FStoreModel->SetRows(std::move(Listing.Rows));
  FitModifiedColumn();  // the regional settings may have changed since the last listing
  ++FListingShown;
  FListingHasCRL = HasCRLFile(entries);
  // A listing of the same store keeps its revoked marks until they are read again, so a
  // refresh does not flash the dates of revoked certificates.
  if (Listing.Dir != FRevokedDir || !FListingHasCRL) FRevokedShown.clear();
  FRevokedDir = Listing.Dir;
  FStoreModel->SetRevoked(FRevokedShown);
  if (!Listing.Unread.empty()) ReadExpiryInBackground(Listing.Dir, std::move(Listing.Unread));
  ReadRevocationsInBackground(Listing.Dir, std::move(entries));
  WatchStoreDir(Listing.Dir);
  if (pick) SelectStoreFile(pick->Name);
  // Joined, not formatted: a folder name may hold "%2" itself.
  ui->lblStoreDir->setText(QStringLiteral("Store: ") + QString::fromStdString(Listing.Dir) +
                           QStringLiteral("   (") + QString::number(FStoreModel->rowCount()) +
                           QStringLiteral(" files)"));
}

// One folder is watched at a time: the one the list shows.
void TStorePanel::WatchStoreDir(const std::string& Dir) {
  const int delay = FPlatform.FolderWatchDelayMs();
  if (delay < 0) return;
  if (!FStoreWatcher) {
    FStoreWatcher = new QFileSystemWatcher(this);
    FStoreWatchDelay = new QTimer(this);
    FStoreWatchDelay->setSingleShot(true);
    FStoreWatchDelay->setInterval(delay);
    connect(FStoreWatcher, &QFileSystemWatcher::directoryChanged, FStoreWatchDelay,
            qOverload<>(&QTimer::start));
    connect(FStoreWatchDelay, &QTimer::timeout, this,
            [this] { RunGuarded(FPlatform, [this] { StoreDirChangedOutside(); }); });
  }
  const QString path = FileNameToText(Dir);
  const QStringList watched = FStoreWatcher->directories();
  if (watched == QStringList{path}) return;
  if (!watched.isEmpty()) FStoreWatcher->removePaths(watched);
  FStoreWatcher->addPath(path);
}

// The listing that follows keeps the picked file picked, if it is still there.
void TStorePanel::StoreDirChangedOutside() {
  if (const std::optional<int> row = SelectedRow())
    FPendingPick = TPendingPick{GetStoreDir(), FStoreModel->Entry(*row).Name};
  RefreshStoreList();
}

void TStorePanel::SelectStoreFile(const std::string& Name) {
  for (int row = 0; row < FStoreModel->rowCount(); ++row) {
    if (FStoreModel->Entry(row).Name != Name) continue;
    ui->lvCerts->selectRow(row);
    return;
  }
  ClearFileInfo();  // it went
}

// The file described belongs to the folder shown before, and so may the key found for the CA
// certificate: both go.
void TStorePanel::edtStoreDirChange() {
  FStoreDir = Trim(ui->edtStoreDir->text().toStdString());
  FOneTimeStore = false;
  ClearFileInfo();
  FReadCache->Clear();
  FHost.StoreDirChanged();
  RefreshStoreList();
}

// The choice is saved before the folder is made, so it is kept even if making it fails.
void TStorePanel::btnBrowseStoreDirClick() {
  const std::optional<std::string> chosen =
      FPlatform.FolderDialog("Select Certificate Store Directory", GetStoreDir());
  if (!chosen) return;
  FStoreDir = *chosen;
  FOneTimeStore = false;
  ui->edtStoreDir->setText(QString::fromStdString(*chosen));
  SaveSettings();
  EnsureStoreDir();
  RefreshStoreList();
  FHost.Log("Certificate store directory set to: " + *chosen);
}

void TStorePanel::btnStoreRefreshClick() { RefreshStoreList(); }

// ---- File information and actions ----

// The file's own description first, then (a folder's worth of reading later) the store's files
// that belong with it. A file that vanished since it was listed shows the lines so far, then
// its error.
// A small file is described at once: handing it to a worker and back would cost more than
// reading it. A larger one, or one whose description reads the store's CRLs, is read on a
// worker, and the pane keeps the text it shows until the new one is ready.
bool TStorePanel::DescribedAtOnce(const std::string& Path) const {
  struct stat info {};
  if (::stat(Path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kDescribedAtOnce)
    return false;
  switch (StoreFileKind(FileNamePart(Path))) {
    case TStoreFileKind::CRL: return false;
    case TStoreFileKind::Certificate: return !FListingHasCRL;
    default: return true;
  }
}

void TStorePanel::ShowFileInfo(const std::string& Path) {
  ForgetFileInfo();
  const std::uint64_t request = FFileInfoRequest;
  const std::time_t now = std::time(nullptr);
  if (DescribedAtOnce(Path)) {
    // What is described at once never reads the folder: with no CRL listed there is no
    // revocation to look up.
    ShowFileDescription(Path, request,
                        DescribeStoreFile(Path, now, TWording::Window, TStoreLookup::Skip));
    return;
  }
  ++FFileInfoPending;
  auto* watcher = new QFutureWatcher<TFileDescription>(this);
  connect(watcher, &QFutureWatcher<TFileDescription>::finished, this,
          [this, watcher, Path, request] {
            watcher->deleteLater();
            --FFileInfoPending;
            if (request == FFileInfoRequest) ShowFileDescription(Path, request, watcher->result());
          });
  watcher->setFuture(QtConcurrent::run([Path, now] { return DescribeStoreFile(Path, now); }));
}

void TStorePanel::ShowFileDescription(const std::string& Path, std::uint64_t Request,
                                      const TFileDescription& Description) {
  std::vector<std::string> lines = Description.Lines;
  if (!Description.Details.empty()) {
    lines.emplace_back();
    lines.insert(lines.end(), Description.Details.begin(), Description.Details.end());
  }
  ShowLines(*ui->memStoreInfo, lines);
  if (Description.Error) {
    RunGuarded(FPlatform, [&] { throw Exception(*Description.Error); });
    return;
  }
  ShowFileRelations(Path, Request);
}

void TStorePanel::ShowFileRelations(const std::string& Path, std::uint64_t Request) {
  ++FFileInfoPending;
  std::shared_ptr<std::atomic<bool>> cancel = FFileInfoCancel;
  auto* watcher = new QFutureWatcher<std::vector<std::string>>(this);
  connect(watcher, &QFutureWatcher<std::vector<std::string>>::finished, this,
          [this, watcher, Path, Request] {
            watcher->deleteLater();
            --FFileInfoPending;
            const std::vector<std::string> lines = watcher->result();
            if (Request != FFileInfoRequest) return;
            if (!lines.empty()) {
              QStringList text;
              for (const std::string& line : lines) text << FileNameCaption(line);
              ui->memStoreInfo->appendPlainText(QString());
              ui->memStoreInfo->appendPlainText(text.join(QLatin1Char('\n')));
            }
            ShowTrustedBy(Path, Request);
          });
  watcher->setFuture(QtConcurrent::run([Path, cancel, cache = FReadCache] {
    return DescribeStoreRelations(
        Path, [cancel] { return cancel->load(); }, cache.get());
  }));
}

// Only a CA certificate gets the line; the stores are asked by their own tools, which takes a
// moment per browser profile, so it comes last.
void TStorePanel::ShowTrustedBy(const std::string& Path, std::uint64_t Request) {
  if (!FTrustPlace) return;
  ++FFileInfoPending;
  auto* watcher = new QFutureWatcher<std::optional<std::string>>(this);
  connect(watcher, &QFutureWatcher<std::optional<std::string>>::finished, this,
          [this, watcher, Request] {
            watcher->deleteLater();
            --FFileInfoPending;
            const std::optional<std::string> trustedBy = watcher->result();
            if (Request != FFileInfoRequest || !trustedBy) return;
            ui->memStoreInfo->appendPlainText(QString());
            ui->memStoreInfo->appendPlainText(QString::fromStdString(
                "Trusted by: " + (trustedBy->empty() ? std::string("none") : *trustedBy)));
          });
  watcher->setFuture(
      QtConcurrent::run([Path, Place = *FTrustPlace]() -> std::optional<std::string> {
        try {
          // An expired CA may still be trusted somewhere: the line tells where.
          const TTrustCA ca = ReadTrustCA(Path, 0);
          return TrustedByText(TrustStatus(ca, Place));
        } catch (const std::exception&) {
          return std::nullopt;  // no CA certificate: nothing to say
        }
      }));
}

// Results still on their way for an earlier pick are dropped when they arrive, and the
// folder reading behind them stops at its next file.
void TStorePanel::ForgetFileInfo() {
  ++FFileInfoRequest;
  if (FFileInfoCancel) FFileInfoCancel->store(true);
  FFileInfoCancel = std::make_shared<std::atomic<bool>>(false);
}

void TStorePanel::ClearFileInfo() {
  ForgetFileInfo();
  ui->memStoreInfo->clear();
}

// Enter never issues a certificate from here: in the directory edit it applies the folder as
// typed and lists it afresh; on a row of the list it describes that row's file.
bool TStorePanel::TakesEnter(QWidget* Focused) {
  if (!Focused || !ui->tabStore->isAncestorOf(Focused)) return false;
  if (Focused == ui->edtStoreDir) {
    RunGuarded(FPlatform, [this] { edtStoreDirChange(); });
  } else if (Focused == ui->lvCerts) {
    const QModelIndex current = ui->lvCerts->currentIndex();
    if (current.isValid() && current.row() < FStoreModel->rowCount()) {
      const int row = current.row();
      if (ui->lvCerts->selectionModel()->isRowSelected(row, {}))
        RunGuarded(FPlatform,
                   [this, row] { ShowFileInfo(StorePath(FStoreModel->Entry(row).Name)); });
      else
        ui->lvCerts->selectRow(row);  // picking it describes it
    }
  }
  return true;
}

std::optional<int> TStorePanel::SelectedRow() const {
  const QModelIndexList rows = ui->lvCerts->selectionModel()->selectedRows();
  if (rows.isEmpty()) return std::nullopt;
  return rows.constFirst().row();
}

void TStorePanel::lvCertsSelectItem(int Row, bool Selected) {
  if (!Selected || Row < 0 || Row >= FStoreModel->rowCount()) return;
  ShowFileInfo(StorePath(FStoreModel->Entry(Row).Name));
}

void TStorePanel::lvCertsDblClick() {
  if (const std::optional<int> row = SelectedRow())
    OpenInDesktopOrSay(FPlatform, StorePath(FStoreModel->Entry(*row).Name));
}

// A menu that pops up and goes: the window goes on while it is open, and each action does
// its work when chosen.
void TStorePanel::lvCertsContextMenu(const QPoint& Position) {
  const QModelIndex index = ui->lvCerts->indexAt(Position);
  if (!index.isValid()) return;
  ui->lvCerts->selectRow(index.row());
  const TStoreEntry& entry = FStoreModel->Entry(index.row());
  const std::string path = StorePath(entry.Name);
  const bool certificate = entry.Kind == TStoreFileKind::Certificate;
  auto* menu = new QMenu(ui->lvCerts->window());
  menu->setObjectName(QStringLiteral("mnuStoreRow"));
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addAction(QStringLiteral("Copy Path"), this,
                  [path] { QGuiApplication::clipboard()->setText(FileNameToText(path)); });
  menu->addAction(
          QStringLiteral("Copy PEM"), this,
          [this, path] { RunGuarded(FPlatform, [&] { CopyCertificateText(path, false); }); })
      ->setEnabled(certificate);
  menu->addAction(QStringLiteral("Copy SHA-256 Fingerprint"), this,
                  [this, path] { RunGuarded(FPlatform, [&] { CopyCertificateText(path, true); }); })
      ->setEnabled(certificate);
  // The commands that start work are off while a job runs.
  const bool idle = !FJobs->Running();
  AddCommand(*menu, "Sign Request...", "actSignRequest",
             entry.Kind == TStoreFileKind::Request && idle,
             [this, path] { FHost.SignRequest(path); });
  menu->addSeparator();
  const bool forCertificate = certificate && idle;
  AddCommand(*menu, "Use as Template", "actUseAsTemplate", forCertificate,
             [this, path] { FHost.UseAsTemplate(path); });
  AddCommand(*menu, "Renew...", "actRenew", forCertificate,
             [this, path] { FHost.RenewStoreCertificate(path, false); });
  AddCommand(*menu, "Renew with a New Key...", "actRenewNewKey", forCertificate,
             [this, path] { FHost.RenewStoreCertificate(path, true); });
  AddCommand(*menu, "Export Chain...", "actExportChain", forCertificate,
             [this, path] { FHost.ExportChain(path); });
  menu->addSeparator();
  AddCommand(*menu, "Revoke...", "actRevoke", forCertificate,
             [this, path] { SignCRL(path, true); });
  AddCommand(*menu, "Publish CRL...", "actPublishCRL", forCertificate,
             [this, path] { SignCRL(path, false); });
  if (FTrustPlace) {
    menu->addSeparator();
    AddCommand(*menu, "Trust on This Computer...", "actTrustOnComputer", forCertificate,
               [this, path] { ChangeTrust(path, true); });
    AddCommand(*menu, "Stop Trusting...", "actStopTrusting", forCertificate,
               [this, path] { ChangeTrust(path, false); });
  }
  menu->popup(ui->lvCerts->viewport()->mapToGlobal(Position));
}

// Each command runs in the guard: a failure it raises ends up in the error box.
void TStorePanel::AddCommand(QMenu& Menu, const char* Text, const char* Name, bool Enabled,
                             std::function<void()> Command) {
  QAction* action = Menu.addAction(QString::fromUtf8(Text), this,
                                   [this, Command] { RunGuarded(FPlatform, [&] { Command(); }); });
  action->setObjectName(QString::fromUtf8(Name));
  action->setEnabled(Enabled);
}

void TStorePanel::SetTrustPlace(TTrustPlace Place) { FTrustPlace = std::move(Place); }

void TStorePanel::ChangeTrust(const std::string& Path, bool Install) {
  if (!FTrustPlace || FJobs->Running()) return;
  // A refused file raises before anything is asked or changed; an expired CA can still be
  // taken out.
  const TTrustCA ca = ReadTrustCA(Path, Install ? std::time(nullptr) : 0);
  const std::vector<TTrustTarget> targets = FindTrustTargets(*FTrustPlace);
  if (targets.empty()) {
    FPlatform.ShowMessage("No trust store was found on this computer.");
    return;
  }
  std::string question = (Install ? "Trust \"" : "Stop trusting \"") + ca.CommonName +
                         "\" on this computer?\n\nTargets:";
  for (const TTrustTarget& target : targets) question += "\n  " + target.Name;
  if (Install && !ca.Constrained)
    question +=
        "\n\nThis CA has no name constraints: it can vouch for any web site, so whoever "
        "obtains its key can impersonate every web site to this computer.";
  if (!FPlatform.ConfirmYesNo(question)) return;

  TTrustPlace place = *FTrustPlace;
  // What runs with root's rights is logged, exactly, before it runs.
  place.Announce = [this](const std::string& Line) {
    FJobs->PostToWindow([this, Line] { FHost.Log(Line); });
  };
  auto outcomes = std::make_shared<std::vector<TTrustOutcome>>();
  auto failure = std::make_shared<std::optional<TFailure>>();
  FJobs->Run(
      TJobRunner::TKind::Command,
      [ca, place, Install, outcomes, failure] {
        try {
          *outcomes = Install ? InstallTrust(ca, place) : RemoveTrust(ca, place);
        } catch (const std::exception& e) {
          *failure = FailureOf(e);
        }
      },
      [this, Path, outcomes, failure] {
        if (*failure) throw Exception((*failure)->Message, (*failure)->Cause);
        std::string text;
        for (const TTrustOutcome& outcome : *outcomes) {
          const std::string line = TrustOutcomeLine(outcome);
          FHost.Log(line);
          text += (text.empty() ? "" : "\n") + line;
        }
        FPlatform.ShowMessage(text);
        // The pane says where the certificate is trusted now.
        if (const std::optional<int> row = SelectedRow();
            row && StorePath(FStoreModel->Entry(*row).Name) == Path)
          ShowFileInfo(Path);
      });
}

// Revoke... on a certificate and Publish CRL... on a CA, as one job: the CA (for a revocation,
// the store's CA that issued the certificate, with its key) is looked for off the window's
// thread, the dialog is asked on it, and the CRL is signed and written off it again.
void TStorePanel::SignCRL(const std::string& Path, bool Revoke) {
  if (FJobs->Running()) return;
  const std::string name = FileNamePart(Path);
  auto outcome = std::make_shared<std::optional<TCRLOutcome>>();
  auto failure = std::make_shared<std::optional<TFailure>>();
  FJobs->Run(
      TJobRunner::TKind::Command,
      [this, Path, Revoke, name, outcome, failure] {
        try {
          TCRLRequest request;
          if (Revoke) {
            const std::optional<TStoreCA> ca = FindIssuingCAInStore(Path);
            if (!ca)
              throw Exception("The CA certificate that issued \"" + Readable(name) +
                              "\" is not in the store with its private key.");
            request = {ca->CertFile, ca->KeyFile, kDefaultCRLDays, Path, {}};
          } else {
            const std::string key = FindStoreKeyOfCertificate(Path, GetStoreDir());
            if (key.empty())
              throw Exception("The private key of \"" + Readable(name) + "\" is not in the store.");
            request = {Path, StorePath(key), kDefaultCRLDays, {}, {}};
          }
          std::optional<TCRLChoice> choice;
          const TCRLDialogOptions options{(Revoke ? "Revoke " : "Publish CRL of ") + name, Revoke};
          FJobs->CallOnWindow([&] { choice = FPlatform.AskCRLSigning(options); });
          if (!choice) return;
          request.Reason = choice->Reason;
          request.Days = choice->Days;
          const TSecretText password(std::move(choice->CAKeyPassword));
          *outcome = Revoke ? RevokeCertificate(request, password.Text())
                            : PublishCRL(request, password.Text());
        } catch (const std::exception& e) {
          *failure = FailureOf(e);
        }
      },
      [this, Path, Revoke, name, outcome, failure] {
        if (*failure) throw Exception((*failure)->Message, (*failure)->Cause);
        if (!*outcome) return;
        const std::string line = (Revoke ? "Revoked " + name + ". " : std::string()) +
                                 "CRL written: " + FileNamePart((*outcome)->CRLFile) + " (number " +
                                 (*outcome)->Number + ", " + std::to_string((*outcome)->Entries) +
                                 " revoked)";
        FHost.Log(line);
        FPlatform.ShowMessage(line);
        RefreshStoreList();
      });
}

void TStorePanel::CopyCertificateText(const std::string& Path, bool Fingerprint) {
  const X509Ptr cert = ReadStoreCertificate(Path);
  if (!cert) throw Exception("No certificate can be read from \"" + Readable(Path) + "\"");
  const std::string text = Fingerprint ? SHA256Fingerprint(cert.get()) : CertificatePEM(cert.get());
  QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

// "Use as CA certificate" and "Use as CA key": the picked file goes to the signing tab's
// field for it.
void TStorePanel::UseStoreFileAsCA(TCAPart Part) {
  const bool cert = Part == TCAPart::Certificate;
  const std::optional<int> row = SelectedRow();
  if (!row) {
    FPlatform.ShowMessage(cert ? "Please select a certificate file from the list first."
                               : "Please select a key file from the list first.");
    return;
  }
  const std::string path = StorePath(FStoreModel->Entry(*row).Name);
  FHost.UseAsCA(Part, path);
  FHost.Log((cert ? "CA certificate loaded from store: " : "CA key loaded from store: ") +
            Readable(FileNamePart(path)));
}

void TStorePanel::btnStoreDeleteClick() {
  const std::optional<int> row = SelectedRow();
  if (!row) return;
  const std::string path = StorePath(FStoreModel->Entry(*row).Name);
  const std::string name = FileNamePart(path);
  if (!FPlatform.ConfirmYesNo("Delete " + Readable(name) + "?")) return;
  DeleteStoreFile(path);
  FHost.Log("Deleted: " + Readable(name));
  RefreshStoreList();
  ClearFileInfo();
}

}  // namespace velmora
