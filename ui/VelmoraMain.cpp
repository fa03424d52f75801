#include "ui/VelmoraMain.h"

#include "core/Defaults.h"
#include "core/FailureText.h"
#include "core/FileNameText.h"
#include "core/Profiles.h"
#include "core/Store.h"
#include "core/Usages.h"
#include "core/ValueConventions.h"
#include "crypto/AtomicFile.h"
#include "ui_VelmoraMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTextEdit>
#include <QTime>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <exception>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <vector>

// Resources of a static library must be registered by hand; Q_INIT_RESOURCE only works
// outside a namespace.
static void InitVelmoraResources() { Q_INIT_RESOURCE(velmora); }

namespace velmora {

namespace {

constexpr int kCheckListRowHeight = 17;

// Rows of the check lists are 17 pixels high, whatever the style would make of them.
class TFixedRowHeightDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override {
    QSize hint = QStyledItemDelegate::sizeHint(Option, Index);
    hint.setHeight(kCheckListRowHeight);
    return hint;
  }
};

QString ToQt(const std::string& Text) { return QString::fromStdString(Text); }

void FillFromCommaList(QComboBox* Combo, const QString& List, int Selected) {
  Combo->clear();
  Combo->addItems(List.split(QLatin1Char(',')));
  Combo->setCurrentIndex(Selected);
}

// Item i of a check list stands for the usage in row i of its table (core/Usages.h).
template <typename TMember, std::size_t N>
void AddCheckItems(QListWidget* List, const std::array<TUsageInfo<TMember>, N>& Items,
                   std::initializer_list<int> Checked) {
  for (const TUsageInfo<TMember>& entry : Items) {
    auto* item = new QListWidgetItem(QString::fromUtf8(entry.Caption), List);
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setCheckState(Qt::Unchecked);
    item->setToolTip(QString::fromUtf8(entry.Tip));
  }
  for (int index : Checked) List->item(index)->setCheckState(Qt::Checked);
}

QFont PaneFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSize(8);
  return font;
}

// The read-only panes of the Key and Store tabs sit on the button face, like the form.
void UseButtonFaceBackground(QPlainTextEdit* Pane) {
  QPalette palette = Pane->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    palette.setColor(group, QPalette::Base, palette.color(group, QPalette::Button));
  Pane->setPalette(palette);
}

void UseGreyText(QLabel* Label) {
  QPalette palette = Label->palette();
  palette.setColor(QPalette::WindowText, palette.color(QPalette::Disabled, QPalette::WindowText));
  Label->setPalette(palette);
}

void ScrollToEnd(QPlainTextEdit* Pane) {
  Pane->moveCursor(QTextCursor::End);
  Pane->ensureCursorVisible();
  Pane->verticalScrollBar()->setValue(Pane->verticalScrollBar()->maximum());
}

// A caption as it reads on screen: the access-key marks gone ("&&" is one "&").
QString WithoutAccessKeys(const QString& Caption) {
  QString text;
  for (qsizetype i = 0; i < Caption.size(); ++i) {
    if (Caption[i] == QLatin1Char('&') && ++i == Caption.size()) break;
    text += Caption[i];
  }
  return text;
}

// The window's four bands, top to bottom and each as wide as the window: title, tab area,
// preview, button bar. Each band stands at its full height (its maximum height) while the
// window has room, and a taller window only widens the empty band above the preview. A
// shorter window gives up that band first, then the preview's height down to its minimum,
// and only then the tab area's, whose pages scroll: the buttons stay on screen at any height
// the window can take.
class TWindowBandsLayout final : public QLayout {
 public:
  explicit TWindowBandsLayout(QWidget* Parent) : QLayout(Parent) {
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
  }
  ~TWindowBandsLayout() override {
    while (QLayoutItem* item = TWindowBandsLayout::takeAt(0)) delete item;
  }
  TWindowBandsLayout(const TWindowBandsLayout&) = delete;
  TWindowBandsLayout& operator=(const TWindowBandsLayout&) = delete;

  void addItem(QLayoutItem* Item) override { FItems.push_back(Item); }
  int count() const override { return static_cast<int>(FItems.size()); }
  QLayoutItem* itemAt(int Index) const override {
    return Index >= 0 && Index < count() ? FItems[static_cast<std::size_t>(Index)] : nullptr;
  }
  QLayoutItem* takeAt(int Index) override {
    if (Index < 0 || Index >= count()) return nullptr;
    QLayoutItem* item = FItems[static_cast<std::size_t>(Index)];
    FItems.erase(FItems.begin() + Index);
    return item;
  }
  Qt::Orientations expandingDirections() const override { return Qt::Horizontal | Qt::Vertical; }

  QSize sizeHint() const override {
    QSize hint(0, 0);
    for (const QLayoutItem* item : FItems)
      hint = QSize(std::max(hint.width(), item->sizeHint().width()), hint.height() + Full(item));
    return hint;
  }
  QSize minimumSize() const override {
    QSize least(0, 0);
    for (const QLayoutItem* item : FItems)
      least =
          QSize(std::max(least.width(), item->minimumSize().width()), least.height() + Least(item));
    return least;
  }

  void setGeometry(const QRect& Area) override {
    QLayout::setGeometry(Area);
    if (FItems.size() != 4) return;
    QLayoutItem* const top = FItems[0];
    QLayoutItem* const tabs = FItems[1];
    QLayoutItem* const preview = FItems[2];
    QLayoutItem* const bottom = FItems[3];
    const int middle = std::max(0, Area.height() - Full(top) - Full(bottom));
    const int tabsHeight = std::clamp(middle - Least(preview), Least(tabs), Full(tabs));
    const int previewHeight = std::clamp(middle - tabsHeight, Least(preview), Full(preview));
    const auto place = [&Area](QLayoutItem* Item, int Top, int Height) {
      Item->setGeometry(QRect(Area.left(), Top, Area.width(), Height));
    };
    const int bottomTop = Area.top() + Area.height() - Full(bottom);
    place(top, Area.top(), Full(top));
    place(tabs, Area.top() + Full(top), tabsHeight);
    place(preview, bottomTop - previewHeight, previewHeight);
    place(bottom, bottomTop, Full(bottom));
  }

 private:
  static int Least(const QLayoutItem* Item) { return Item->minimumSize().height(); }
  static int Full(const QLayoutItem* Item) {
    return std::max(Least(Item), Item->maximumSize().height());
  }

  std::vector<QLayoutItem*> FItems;
};

// A frame in the highlight colour over a read-only pane while the pane has the focus. The
// styles mark the focus of an edit or a button, but not of a text pane, and a keyboard user
// must see where Tab went. It lies over the pane without taking clicks or the focus.
class TFocusMark final : public QWidget {
 public:
  explicit TFocusMark(QWidget* Pane) : QWidget(Pane), FPane(Pane) {
    setObjectName(Pane->objectName() + QStringLiteral("FocusMark"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    Pane->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Watched != FPane) return false;
    switch (Event->type()) {
      case QEvent::FocusIn:
        setGeometry(FPane->rect());
        raise();
        show();
        break;
      case QEvent::FocusOut: hide(); break;
      case QEvent::Resize: setGeometry(FPane->rect()); break;
      default: break;
    }
    return false;
  }

  void paintEvent(QPaintEvent*) override {
    constexpr int kWidth = 2;
    QPainter painter(this);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Active, QPalette::Highlight));
    const QRect r = rect();
    painter.drawRect(QRect(r.left(), r.top(), r.width(), kWidth));
    painter.drawRect(QRect(r.left(), r.bottom() - kWidth + 1, r.width(), kWidth));
    painter.drawRect(QRect(r.left(), r.top(), kWidth, r.height()));
    painter.drawRect(QRect(r.right() - kWidth + 1, r.top(), kWidth, r.height()));
  }

 private:
  QWidget* FPane;
};

}  // namespace

std::string LogStamp(const QTime& Time) {
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d] ", Time.hour(), Time.minute(),
                Time.second());
  return stamp;
}

TfrmVelmora::TfrmVelmora(IPlatform& Platform, QWidget* Parent)
    : QMainWindow(Parent), ui(std::make_unique<Ui::TfrmVelmora>()), FPlatform(Platform) {
  InitVelmoraResources();
  ui->setupUi(this);
  FJobs = new TJobRunner(
      FPlatform, this, ui->pbProgress, ui->lblProgress,
      {ui->btnGenKey, ui->btnGenCert, ui->btnClear, ui->btnStoreRefresh, ui->btnStoreLoadCACert,
       ui->btnStoreLoadCAKey, ui->btnStoreDelete, ui->btnBrowseStoreDir});
  FJobs->SetEndingRunner([this](const std::function<void()>& Done) { RunJobEnding(Done); });
  connect(FJobs, &TJobRunner::Idle, this, &TfrmVelmora::JobsIdle);
  FFormSize = size();
  UseWindowBands();
  MakePagesScroll();
  BuildTabOrder();
  // The list's model first: its selection, which the events bind to, comes with it.
  FStoreModel = new TStoreListModel(this);
  ui->lvCerts->setModel(FStoreModel);
  ApplyLook();
  BindEvents();
  BindPageKeys();
  RunGuarded(FPlatform, [this] { FormCreate(); });
  ReportInterruptedSaves();
  // The remembered folder is not selected: a key pressed by chance must not replace it.
  FocusFirstInput(false);
}

TfrmVelmora::~TfrmVelmora() {
  SetInterruptedWriteReporter(nullptr);
  // A key still being generated is of no use to anyone now.
  if (FCancelKey) FCancelKey();
  for (const QMetaObject::Connection& connection : FConnections) disconnect(connection);
  FormDestroy();
}

// --- The window's life ---

// A save that a killed program left half done in the store is completed or undone by the next
// listing or save, on whatever thread runs it; the log says so. The line travels through the
// application object, which outlives every window, and reaches this window only if it is
// still there.
void TfrmVelmora::ReportInterruptedSaves() {
  SetInterruptedWriteReporter([window = QPointer<TfrmVelmora>(this)](const std::string& Line) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [window, Line] {
          if (window) window->Log(Line);
        },
        Qt::QueuedConnection);
  });
}

void TfrmVelmora::FormCreate() {
  FBuilder = std::make_unique<TCertBuilder>();
  setWindowTitle(ToQt(std::string("X.509 Velmora \u2014 ") + kMakerDomain));
  FillFromCommaList(ui->cmbRSABits, QStringLiteral("1024,2048,3072,4096,8192"), 1);
  FillFromCommaList(ui->cmbECCurve, QStringLiteral("P-256,P-384,P-521"), 0);
  ui->edtDays->setText(QString::number(kDefaultValidDays));
  // Filling the lists is no change by hand; the key usages follow the key type below.
  FApplyingProfile = true;
  AddCheckItems(ui->clbKeyUsage, kKeyUsages, {});
  AddCheckItems(ui->clbEKU, kExtKeyUsages, {0, 1});
  FApplyingProfile = false;
  ui->edtPathLen->setText(QStringLiteral("0"));
  FillProfiles();
  SetDefaultOutputNames();
  AddStoreListColumns();
  // The store takes over here: the remembered directory goes into edtStoreDir, whose change
  // handler already lists it once.
  LoadSettings();
  UpdateKeyTypeUI();
  UsagesFollowKeyType();
  UpdateSignModeUI();
  UpdateCAOptionsUI();
  // A directory that did not change the edit (an empty setting) is listed here; one that did
  // is being listed already, and once is enough.
  if (!FJobs->Running()) RefreshStoreList();
  // The active tab is left as the form has it: the window opens on the store.
}

void TfrmVelmora::FormClose() {
  SaveSettings();
  SaveWindowPlacement();
}

void TfrmVelmora::FormDestroy() { FBuilder.reset(); }

void TfrmVelmora::SetDefaultOutputNames() {
  ui->edtOutCert->setText(QString::fromLatin1(kDefaultCertName));
  ui->edtOutKey->setText(QString::fromLatin1(kDefaultKeyName));
  ui->edtOutPFX->setText(QString::fromLatin1(kDefaultBundleName));
  ui->edtFriendly->setText(QStringLiteral("My Certificate"));
}

void TfrmVelmora::AddStoreListColumns() {
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
void TfrmVelmora::FitModifiedColumn() {
  QTableView* list = ui->lvCerts;
  const TDateTimeFormat format;
  QStyleOptionViewItem option;
  option.initFrom(list);
  option.features = QStyleOptionViewItem::HasDisplay;
  option.textElideMode = Qt::ElideNone;
  const int year = QDate::currentDate().year();
  int widest = 0;
  for (int month = 1; month <= 12; ++month) {
    for (int day : {18, 28}) {
      for (const QTime& time : {QTime(10, 8, 48), QTime(18, 48, 58), QTime(23, 58, 58)}) {
        option.text =
            format.Text(QDateTime(QDate(year, month, day), time).toSecsSinceEpoch(), true);
        widest =
            std::max(widest, list->style()
                                 ->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), list)
                                 .width());
      }
    }
  }
  const int needed = widest + (list->showGrid() ? 1 : 0);
  if (list->columnWidth(TStoreListModel::colModified) < needed)
    list->setColumnWidth(TStoreListModel::colModified, needed);
}

// What the form file cannot say: colours and fonts that come from the system.
void TfrmVelmora::ApplyLook() {
  for (QPlainTextEdit* pane : {ui->memKeyInfo, ui->memStoreInfo, ui->memPreview})
    pane->setFont(PaneFont());
  UseButtonFaceBackground(ui->memKeyInfo);
  UseButtonFaceBackground(ui->memStoreInfo);
  for (QLabel* label : {ui->lblDaysHint, ui->lblPathHint, ui->lblStoreDir}) UseGreyText(label);
  NameInputsAfterTheirLabels();
  MarkFocusOnPanes();
  ui->btnGenCert->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
  for (QListWidget* list : {ui->clbKeyUsage, ui->clbEKU})
    list->setItemDelegate(new TFixedRowHeightDelegate(list));
  // Rows as high as a line of text and captions on the left, like a report-style list.
  ui->lvCerts->verticalHeader()->setMinimumSectionSize(1);
  // Rows of one height: the view then never measures rows one by one, which in a store of
  // many thousands of files costs more than listing them.
  ui->lvCerts->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  ui->lvCerts->verticalHeader()->setDefaultSectionSize(ui->lvCerts->fontMetrics().height() + 6);
  ui->lvCerts->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void TfrmVelmora::showEvent(QShowEvent* Event) {
  if (!FPlaced && !Event->spontaneous()) {
    FPlaced = true;
    PlaceOnScreen();
  }
  QMainWindow::showEvent(Event);
}

// Sizes are of the window without its frame and positions of its frame, as Qt's resize() and
// move() take them; the frame counts when it comes to fitting on a screen. Most window
// managers tell the frame only once the window is up: until then a title bar of two lines of
// text and thin borders are allowed for, so the button bar is not pushed off the screen's
// bottom by a title bar nobody measured.
void TfrmVelmora::PlaceOnScreen() {
  QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
  if (frame.isNull() && !windowFlags().testFlag(Qt::FramelessWindowHint))
    frame = QMargins(4, 2 * fontMetrics().height() + 4, 4, 4);
  const QSize frameSize(frame.left() + frame.right(), frame.top() + frame.bottom());
  const QSize least = minimumSize().expandedTo(minimumSizeHint());
  if (const std::optional<TWindowPlacement> saved = FPlatform.ReadWindowPlacementSetting()) {
    const QSize size = QSize(saved->Width, saved->Height).expandedTo(least);
    const QRect outer(QPoint(saved->X, saved->Y), size + frameSize);
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (std::any_of(screens.begin(), screens.end(), [&outer](const QScreen* Screen) {
          return Screen->availableGeometry().contains(outer);
        })) {
      resize(size);
      move(outer.topLeft());
      return;
    }
  }
  const QScreen* on = QGuiApplication::screenAt(frameGeometry().center());
  const QRect available = (on ? on : screen())->availableGeometry();
  resize(FFormSize.boundedTo(available.size() - frameSize).expandedTo(least));
  QRect outer(QPoint(0, 0), size() + frameSize);
  outer.moveCenter(available.center());
  // On a screen smaller than the window keep the title bar reachable.
  move(std::max(outer.left(), available.left()), std::max(outer.top(), available.top()));
}

// A maximised or minimised window keeps the place it had before it was.
void TfrmVelmora::SaveWindowPlacement() {
  if (windowState() != Qt::WindowNoState || !FPlaced) return;
  FPlatform.WriteWindowPlacementSetting({x(), y(), width(), height()});
}

// --- Event bindings ---

// Every handler runs inside the guard, so an error it lets escape ends up in the error box
// instead of in Qt's event loop.
template <typename TSender, typename TSignal>
void TfrmVelmora::Bind(TSender* Sender, TSignal Signal, void (TfrmVelmora::*Handler)()) {
  FConnections.push_back(connect(Sender, Signal, this, [this, Handler] {
    RunGuarded(FPlatform, [this, Handler] { (this->*Handler)(); });
  }));
}

// A radio button's click handler runs when it becomes checked, by a click or by the program.
void TfrmVelmora::BindChecked(QAbstractButton* Button, void (TfrmVelmora::*Handler)()) {
  FConnections.push_back(connect(Button, &QAbstractButton::toggled, this, [this, Handler](bool on) {
    if (on) RunGuarded(FPlatform, [this, Handler] { (this->*Handler)(); });
  }));
}

// The list reports the row that lost the selection, then the row that got it.
void TfrmVelmora::BindStoreListSelection() {
  FConnections.push_back(connect(
      ui->lvCerts->selectionModel(), &QItemSelectionModel::selectionChanged, this,
      [this](const QItemSelection& Selected, const QItemSelection& Deselected) {
        const auto report = [this](const QItemSelection& Rows, bool IsSelected) {
          for (const QModelIndex& index : Rows.indexes()) {
            if (index.column() != 0) continue;
            const int row = index.row();
            RunGuarded(FPlatform, [this, row, IsSelected] { lvCertsSelectItem(row, IsSelected); });
          }
        };
        report(Deselected, false);
        report(Selected, true);
      }));
}

void TfrmVelmora::BindEvents() {
  BindChecked(ui->rbRSA, &TfrmVelmora::rbRSAClick);
  BindChecked(ui->rbECC, &TfrmVelmora::rbECCClick);
  BindChecked(ui->rbSelfSigned, &TfrmVelmora::rbSelfSignedClick);
  BindChecked(ui->rbCASign, &TfrmVelmora::rbCASignClick);
  Bind(ui->chkIsCA, &QCheckBox::toggled, &TfrmVelmora::chkIsCAClick);
  Bind(ui->cbProfile, &QComboBox::currentIndexChanged, &TfrmVelmora::cbProfileChange);
  Bind(ui->rbECC, &QRadioButton::toggled, &TfrmVelmora::UsagesFollowKeyType);
  Bind(ui->chkIsCA, &QCheckBox::toggled, &TfrmVelmora::ExtensionsChangedByHand);
  Bind(ui->edtPathLen, &QLineEdit::textChanged, &TfrmVelmora::ExtensionsChangedByHand);
  Bind(ui->clbKeyUsage, &QListWidget::itemChanged, &TfrmVelmora::ExtensionsChangedByHand);
  FConnections.push_back(connect(ui->clbKeyUsage, &QListWidget::itemChanged, this, [this] {
    if (!FApplyingProfile) FKeyUsagesAreDefaults = false;
  }));
  Bind(ui->clbEKU, &QListWidget::itemChanged, &TfrmVelmora::ExtensionsChangedByHand);
  Bind(ui->btnGenKey, &QPushButton::clicked, &TfrmVelmora::btnGenKeyClick);
  Bind(ui->btnCancelKey, &QPushButton::clicked, &TfrmVelmora::btnCancelKeyClick);

  Bind(ui->btnGenCert, &QPushButton::clicked, &TfrmVelmora::btnGenCertClick);
  Bind(ui->btnBrowseCACert, &QPushButton::clicked, &TfrmVelmora::btnBrowseCACertClick);
  Bind(ui->btnBrowseCAKey, &QPushButton::clicked, &TfrmVelmora::btnBrowseCAKeyClick);
  Bind(ui->edtCACertFile, &QLineEdit::textChanged, &TfrmVelmora::edtCACertFileChange);
  Bind(ui->btnBrowseOutCert, &QPushButton::clicked, &TfrmVelmora::btnBrowseOutCertClick);
  Bind(ui->btnBrowseOutKey, &QPushButton::clicked, &TfrmVelmora::btnBrowseOutKeyClick);
  Bind(ui->btnBrowseOutPFX, &QPushButton::clicked, &TfrmVelmora::btnBrowseOutPFXClick);
  Bind(ui->edtEmail, &QLineEdit::textChanged, &TfrmVelmora::edtEmailChange);
  Bind(ui->btnClear, &QPushButton::clicked, &TfrmVelmora::btnClearClick);
  Bind(ui->btnAbout, &QPushButton::clicked, &TfrmVelmora::btnAboutClick);

  Bind(ui->edtStoreDir, &QLineEdit::textChanged, &TfrmVelmora::edtStoreDirChange);
  Bind(ui->btnBrowseStoreDir, &QPushButton::clicked, &TfrmVelmora::btnBrowseStoreDirClick);
  Bind(ui->btnOpenStoreDir, &QPushButton::clicked, &TfrmVelmora::btnOpenStoreDirClick);
  Bind(ui->btnStoreRefresh, &QPushButton::clicked, &TfrmVelmora::btnStoreRefreshClick);
  for (const auto& [button, part] : {std::pair{ui->btnStoreLoadCACert, TCAPart::Certificate},
                                     std::pair{ui->btnStoreLoadCAKey, TCAPart::Key}}) {
    FConnections.push_back(connect(button, &QPushButton::clicked, this, [this, part] {
      RunGuarded(FPlatform, [this, part] { UseStoreFileAsCA(part); });
    }));
  }
  Bind(ui->btnStoreDelete, &QPushButton::clicked, &TfrmVelmora::btnStoreDeleteClick);
  Bind(ui->lvCerts, &QAbstractItemView::doubleClicked, &TfrmVelmora::lvCertsDblClick);
  ui->lvCerts->setContextMenuPolicy(Qt::CustomContextMenu);
  FConnections.push_back(connect(ui->lvCerts, &QWidget::customContextMenuRequested, this,
                                 [this](const QPoint& Position) {
                                   RunGuarded(FPlatform, [&] { lvCertsContextMenu(Position); });
                                 }));
  BindStoreListSelection();
}

// --- The keyboard and small screens ---

// The form's box layout would share a shortage of height out evenly among the bands; these
// bands give way in order instead.
void TfrmVelmora::UseWindowBands() {
  delete ui->layWindow;  // its items go with it; the bands stay on the central widget
  ui->layWindow = nullptr;
  auto* bands = new TWindowBandsLayout(ui->centralwidget);
  for (QWidget* band :
       std::initializer_list<QWidget*>{ui->pnlTop, ui->pgcMain, ui->grpPreview, ui->pnlBottom})
    bands->addWidget(band);
}

// Each page keeps its layout and controls as the form has them, moved into a frameless scroll
// area that fills the page. A control that takes the focus is scrolled into view.
void TfrmVelmora::MakePagesScroll() {
  for (int i = 0; i < ui->pgcMain->count(); ++i) {
    QWidget* page = ui->pgcMain->widget(i);
    auto* scroll = new QScrollArea(page);
    scroll->setObjectName(page->objectName() + QStringLiteral("Scroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    auto* contents = new QWidget(scroll);
    contents->setObjectName(page->objectName() + QStringLiteral("Contents"));
    contents->setLayout(page->layout());  // takes the layout with every control in it
    scroll->setWidget(contents);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
  }
  FConnections.push_back(
      connect(qApp, &QApplication::focusChanged, this,
              [this](QWidget*, QWidget* Now) { KeepFocusedControlInView(Now); }));
}

void TfrmVelmora::MarkFocusOnPanes() {
  for (QPlainTextEdit* pane : {ui->memKeyInfo, ui->memStoreInfo, ui->memPreview})
    new TFocusMark(pane);
}

void TfrmVelmora::KeepFocusedControlInView(QWidget* Focused) {
  if (!Focused || !ui->pgcMain->isAncestorOf(Focused)) return;
  for (QWidget* parent = Focused->parentWidget(); parent; parent = parent->parentWidget()) {
    if (auto* scroll = qobject_cast<QScrollArea*>(parent)) {
      scroll->ensureWidgetVisible(Focused);
      return;
    }
  }
}

// One chain through the whole window: the tab bar, every page's controls in reading order,
// the preview and the button bar, and round again. Qt passes over the controls of the pages
// not shown. The tab bar stands in the chain itself, not its tab widget: a tab widget counts
// all its pages' controls as its own and would take them along out of the chain.
void TfrmVelmora::BuildTabOrder() {
  const std::initializer_list<QWidget*> order = {
      ui->pgcMain->tabBar(),
      // 1 - Key
      ui->rbRSA, ui->rbECC, ui->cmbRSABits, ui->cmbECCurve, ui->btnGenKey, ui->btnCancelKey,
      ui->memKeyInfo,
      // 2 - Subject DN
      ui->edtCN, ui->edtO, ui->edtOU, ui->edtC, ui->edtST, ui->edtL, ui->edtEmail,
      // 3 - Validity
      ui->edtDays,
      // 4 - Extensions: the profile, basic constraints beside the alternative names, then the
      // two usage lists side by side
      ui->cbProfile, ui->chkIsCA, ui->edtPathLen, ui->edtSANDNS, ui->edtSANIP, ui->edtSANEmail,
      ui->clbKeyUsage, ui->clbEKU,
      // 5 - Signing
      ui->rbSelfSigned, ui->rbCASign, ui->edtCACertFile, ui->btnBrowseCACert, ui->edtCAKeyFile,
      ui->btnBrowseCAKey, ui->edtCAPwd,
      // 6 - Output
      ui->edtOutCert, ui->btnBrowseOutCert, ui->edtOutKey, ui->btnBrowseOutKey, ui->edtOutKeyPwd,
      ui->edtOutKeyPwdConfirm, ui->chkSavePFX, ui->chkPFXCompatible, ui->edtOutPFX,
      ui->btnBrowseOutPFX, ui->edtOutPFXPwd, ui->edtOutPFXPwdConfirm, ui->edtFriendly,
      // 7 - Certificate Store
      ui->edtStoreDir, ui->btnBrowseStoreDir, ui->btnOpenStoreDir, ui->lvCerts, ui->btnStoreRefresh,
      ui->btnStoreLoadCACert, ui->btnStoreLoadCAKey, ui->btnStoreDelete, ui->memStoreInfo,
      // Below the tabs
      ui->memPreview, ui->btnGenCert, ui->btnClear, ui->btnAbout};
  QWidget* previous = nullptr;
  for (QWidget* control : order) {
    if (previous) QWidget::setTabOrder(previous, control);
    previous = control;
  }
}

// Ctrl+Tab and Ctrl+PgDn go to the next page, Ctrl+Shift+Tab and Ctrl+PgUp to the one before,
// wherever the focus is: the shortcuts come before the focused control, so a list does not
// take Ctrl+PgDn as a page of rows.
void TfrmVelmora::BindPageKeys() {
  for (QRadioButton* radio : findChildren<QRadioButton*>())
    FConnections.push_back(connect(radio, &QRadioButton::toggled, this,
                                   [this] { MakeChosenRadioButtonsTheTabStops(); }));
  FConnections.push_back(connect(ui->pgcMain, &QTabWidget::currentChanged, this,
                                 [this] { MakeChosenRadioButtonsTheTabStops(); }));
  MakeChosenRadioButtonsTheTabStops();

  const auto bind = [this](QList<QKeySequence> Keys, int Step) {
    auto* shortcut = new QShortcut(this);
    shortcut->setKeys(Keys);
    FConnections.push_back(
        connect(shortcut, &QShortcut::activated, this, [this, Step] { ShowPageByKeyboard(Step); }));
  };
  bind({QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)}, 1);
  // Shift+Tab arrives as Backtab, with or without the Shift it took.
  bind({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
        QKeySequence(Qt::CTRL | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::Key_PageUp)},
       -1);
}

// A focus moved by keyboard shows its mark, as Tab's does: the styles draw the focus rectangle
// of a button or check box only once the window was told the keyboard moves the focus, which
// Tab tells it, a shortcut such as Ctrl+Tab not.
void TfrmVelmora::ShowPageByKeyboard(int Step) {
  setAttribute(Qt::WA_KeyboardFocusChange);
  const int count = ui->pgcMain->count();
  ui->pgcMain->setCurrentIndex((ui->pgcMain->currentIndex() + Step + count) % count);
  FocusFirstInput();
}

// The first control after the tab bar in the chain that is on the shown page and can take the
// focus now: the page's first input in reading order. As Tab does, it selects an edit's text,
// so that what is typed replaces it, unless told not to.
void TfrmVelmora::FocusFirstInput(bool SelectText) {
  QWidget* page = ui->pgcMain->currentWidget();
  QWidget* tabBar = ui->pgcMain->tabBar();
  for (QWidget* control = tabBar->nextInFocusChain(); control && control != tabBar;
       control = control->nextInFocusChain()) {
    if (!page->isAncestorOf(control) || (control->focusPolicy() & Qt::TabFocus) != Qt::TabFocus ||
        !control->isEnabled() || !control->isVisibleTo(page))
      continue;
    control->setFocus(Qt::TabFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control); edit && SelectText) edit->selectAll();
    return;
  }
}

// A group of radio buttons is one stop for Tab, its chosen button; the arrow keys move within
// it. Qt makes the button that last had the focus the stop, which after a change of page may
// be one that is not chosen.
void TfrmVelmora::MakeChosenRadioButtonsTheTabStops() {
  for (QRadioButton* radio : findChildren<QRadioButton*>()) {
    if (!radio->autoExclusive()) continue;
    const QList<QRadioButton*> group =
        radio->parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    const bool groupHasChoice = std::any_of(group.begin(), group.end(), [](const QRadioButton* R) {
      return R->autoExclusive() && R->isChecked();
    });
    const bool stop = radio->isChecked() || !groupHasChoice;
    radio->setFocusPolicy(stop ? Qt::FocusPolicy(radio->focusPolicy() | Qt::TabFocus)
                               : Qt::FocusPolicy(radio->focusPolicy() & ~Qt::TabFocus));
  }
}

// "Common &Name (CN):" names its edit "Common Name (CN)". Inputs without a label carry their
// names in the form.
void TfrmVelmora::NameInputsAfterTheirLabels() {
  for (QLabel* label : findChildren<QLabel*>()) {
    QWidget* input = label->buddy();
    if (!input || !input->accessibleName().isEmpty()) continue;
    QString name = WithoutAccessKeys(label->text()).trimmed();
    if (name.endsWith(QLatin1Char(':'))) name.chop(1);
    input->setAccessibleName(name.trimmed());
  }
}

// --- Background work ---

void TfrmVelmora::RunJobEnding(const std::function<void()>& Done) {
  const TPlainWordsCACertFile words(
      FPlatform, ui->rbCASign->isChecked() ? TextToFileName(ui->edtCACertFile->text()) : "");
  RunGuarded(FPlatform, Done);
}

void TfrmVelmora::JobsIdle() {
  if (FCloseWhenDone) {
    close();
    return;
  }
  if (FListingWanted) {
    FListingWanted = false;
    RunGuarded(FPlatform, [this] { RefreshStoreList(); });
  }
}

void TfrmVelmora::btnCancelKeyClick() {
  if (FCancelKey) FCancelKey();
}

// Closing while a command runs asks first. Yes stops a key generation, lets a save finish
// its files, and closes when the job is over; No keeps working. A listing is simply dropped.
void TfrmVelmora::closeEvent(QCloseEvent* Event) {
  if (FJobs->CommandRunning()) {
    Event->ignore();
    if (FCloseWhenDone || !FPlatform.ConfirmYesNo("Work is still in progress. Stop it and quit?"))
      return;
    FCloseWhenDone = true;
    if (FCancelKey) FCancelKey();
    return;
  }
  RunGuarded(FPlatform, [this] { FormClose(); });
  QMainWindow::closeEvent(Event);
}

// --- The default button ---

// A main window has no default button of its own. Enter and Return reach the window only when
// the focused control ignored them; then they press "Generate Certificate" while it is enabled,
// unless the focused control takes Enter itself: a push button presses itself, a text pane
// keeps it, and on the store tab the directory edit and the list have their own use for it.
void TfrmVelmora::keyPressEvent(QKeyEvent* Event) {
  const bool enter = Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter;
  if (enter && PressDefaultButton()) {
    Event->accept();
    return;
  }
  QMainWindow::keyPressEvent(Event);
}

bool TfrmVelmora::PressDefaultButton() {
  QWidget* focused = focusWidget();
  if (auto* button = qobject_cast<QPushButton*>(focused)) {
    button->click();
    return true;
  }
  if (qobject_cast<QPlainTextEdit*>(focused) || qobject_cast<QTextEdit*>(focused)) return false;
  if (StoreTabTakesEnter(focused)) return true;
  if (!ui->btnGenCert->isEnabled()) return false;
  ui->btnGenCert->click();
  return true;
}

// --- Log ---

void TfrmVelmora::Log(const std::string& Text) {
  ui->memKeyInfo->appendPlainText(ToQt(LogStamp(QTime::currentTime()) + Text));
  ScrollToEnd(ui->memKeyInfo);
}

// --- Enabling rules ---

void TfrmVelmora::UpdateKeyTypeUI() {
  ui->grpRSA->setEnabled(ui->rbRSA->isChecked());
  ui->grpECC->setEnabled(ui->rbECC->isChecked());
}

void TfrmVelmora::UpdateSignModeUI() { ui->grpCA->setEnabled(ui->rbCASign->isChecked()); }

void TfrmVelmora::UpdateCAOptionsUI() {
  const bool isCA = ui->chkIsCA->isChecked();
  ui->edtPathLen->setEnabled(isCA);
  ui->lblPathLen->setEnabled(isCA);
  ui->lblPathHint->setEnabled(isCA);
}

// --- Profiles ---

void TfrmVelmora::FillProfiles() {
  ui->cbProfile->clear();
  for (TProfile profile : kAllProfiles)
    ui->cbProfile->addItem(QString::fromUtf8(ProfileCaption(profile)));
  ui->cbProfile->setCurrentIndex(0);  // Custom: the form's own defaults stay as they are
}

void TfrmVelmora::cbProfileChange() { ApplyProfileToForm(); }

// The items are in the order of the usage sets' members, so item i is set from member i.
void TfrmVelmora::ApplyProfileToForm() {
  const int index = ui->cbProfile->currentIndex();
  if (index < 0 || index >= static_cast<int>(kAllProfiles.size())) return;
  const std::optional<TProfileSettings> settings = ProfileSettings(
      kAllProfiles[static_cast<std::size_t>(index)], ui->rbRSA->isChecked() ? ktRSA : ktECC);
  if (!settings) return;
  FApplyingProfile = true;
  ui->chkIsCA->setChecked(settings->IsCA);
  ui->edtPathLen->setText(QString::number(settings->PathLenConstraint));
  CheckKeyUsages(settings->KeyUsage);
  FKeyUsagesAreDefaults = false;
  for (std::size_t i = 0; i < kExtKeyUsages.size(); ++i)
    ui->clbEKU->item(static_cast<int>(i))
        ->setCheckState(settings->ExtKeyUsage.contains(kExtKeyUsages[i].Member) ? Qt::Checked
                                                                                : Qt::Unchecked);
  FApplyingProfile = false;
}

// A profile is applied again for the new key type; without one, the form's starting usages
// follow it (an EC or Edwards key cannot encipher), while usages the user picked stay.
void TfrmVelmora::UsagesFollowKeyType() {
  if (ui->cbProfile->currentIndex() > 0) {
    ApplyProfileToForm();
    return;
  }
  if (!FKeyUsagesAreDefaults) return;
  FApplyingProfile = true;
  CheckKeyUsages(DefaultKeyUsages(ui->rbRSA->isChecked() ? ktRSA : ktECC));
  FApplyingProfile = false;
}

void TfrmVelmora::CheckKeyUsages(const TKeyUsageSet& Usages) {
  for (std::size_t i = 0; i < kKeyUsages.size(); ++i)
    ui->clbKeyUsage->item(static_cast<int>(i))
        ->setCheckState(Usages.contains(kKeyUsages[i].Member) ? Qt::Checked : Qt::Unchecked);
}

void TfrmVelmora::ExtensionsChangedByHand() {
  if (!FApplyingProfile && ui->cbProfile->currentIndex() > 0) ui->cbProfile->setCurrentIndex(0);
}

void TfrmVelmora::rbRSAClick() { UpdateKeyTypeUI(); }
void TfrmVelmora::rbECCClick() { UpdateKeyTypeUI(); }
void TfrmVelmora::rbSelfSignedClick() { UpdateSignModeUI(); }
void TfrmVelmora::rbCASignClick() { UpdateSignModeUI(); }
void TfrmVelmora::chkIsCAClick() { UpdateCAOptionsUI(); }

// --- "Generate Key Pair" ---

// Every key starts a new certificate: the old builder goes with its key and certificate,
// whatever happens afterwards.
void TfrmVelmora::btnGenKeyClick() {
  ui->memKeyInfo->clear();
  ui->memPreview->clear();
  // The new builder goes to the job and comes back with its key pair, or without one.
  struct TKeyJob {
    std::unique_ptr<TCertBuilder> Builder = std::make_unique<TCertBuilder>();
    std::atomic<bool> Cancel{false};
    std::atomic<int> Candidates{0};
    std::optional<std::string> Error;
  };
  auto job = std::make_shared<TKeyJob>();
  if (ui->rbRSA->isChecked()) {
    const std::string bits = ui->cmbRSABits->currentText().toStdString();
    job->Builder->KeyType = ktRSA;
    job->Builder->RSABits = IntOrDefault(bits, kDefaultRSABits);
    Log("Generating RSA-" + bits + " key pair ...");
  } else {
    job->Builder->KeyType = ktECC;
    job->Builder->ECCurve = ui->cmbECCurve->currentText().toStdString();
    Log("Generating ECC " + job->Builder->ECCurve + " key pair ...");
  }
  FCancelKey = [job] { job->Cancel = true; };
  ui->btnCancelKey->setEnabled(true);
  // The prime search reports each candidate it tries; the count shows that work goes on.
  auto* progress = new QTimer(this);
  connect(progress, &QTimer::timeout, this, [this, job] {
    if (const int tried = job->Candidates.load()) {
      ui->lblProgress->setText(QStringLiteral("Prime candidates tried: %1").arg(tried));
    }
  });
  progress->start(100);
  FJobs->Run(
      TJobRunner::TKind::Command,
      [job, step = KeyGenerationStep] {
        try {
          job->Builder->GenerateKey([&job = *job, &step] {
            ++job.Candidates;
            if (step) step(job.Cancel);
            return !job.Cancel.load();
          });
        } catch (const std::exception& e) {
          job->Error = e.what();
        }
      },
      [this, job, progress] {
        progress->deleteLater();
        FCancelKey = nullptr;
        ui->btnCancelKey->setEnabled(false);
        FBuilder = std::move(job->Builder);
        if (job->Error && job->Cancel) {
          Log("Key generation cancelled.");
        } else if (job->Error) {
          Log("ERROR: " + *job->Error);
          FPlatform.ShowMessage(KeyFailedText(*job->Error));
        } else {
          Log("Key pair generated successfully.");
          ui->btnGenCert->setEnabled(true);
        }
      });
}

}  // namespace velmora
