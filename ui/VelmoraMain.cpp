#include "ui/VelmoraMain.h"

#include "core/Profiles.h"
#include "core/ValueConventions.h"
#include "ui_VelmoraMain.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTextEdit>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <exception>
#include <initializer_list>
#include <iterator>
#include <optional>

// Resources of a static library must be registered by hand; Q_INIT_RESOURCE only works
// outside a namespace.
static void InitVelmoraResources() { Q_INIT_RESOURCE(velmora); }

namespace velmora {

namespace {

// The check-list items; an item's position is the bit of the builder's usage set it stands for.
constexpr std::array<const char*, 9> kKeyUsageItems = {
    "Digital Signature", "Content Commitment", "Key Encipherment",
    "Data Encipherment", "Key Agreement",      "Key Cert Sign",
    "CRL Sign",          "Encipher Only",      "Decipher Only",
};
constexpr std::array<const char*, 6> kExtKeyUsageItems = {
    "TLS Server Authentication", "TLS Client Authentication", "Code Signing",
    "Email Protection",          "Time Stamping",             "OCSP Signing",
};

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

template <std::size_t N>
void AddCheckItems(QListWidget* List, const std::array<const char*, N>& Items,
                   std::initializer_list<int> Checked) {
  for (const char* caption : Items) {
    auto* item = new QListWidgetItem(QString::fromUtf8(caption), List);
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setCheckState(Qt::Unchecked);
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
  // The list's model first: its selection, which the events bind to, comes with it.
  FStoreModel = new TStoreListModel(this);
  ui->lvCerts->setModel(FStoreModel);
  ApplyLook();
  BindEvents();
  RunGuarded(FPlatform, [this] { FormCreate(); });
  CentreOnScreen();
}

TfrmVelmora::~TfrmVelmora() {
  // A key still being generated is of no use to anyone now.
  if (FCancelKey) FCancelKey();
  for (const QMetaObject::Connection& connection : FConnections) disconnect(connection);
  FormDestroy();
}

// --- The window's life ---

void TfrmVelmora::FormCreate() {
  FBuilder = std::make_unique<TCertBuilder>();
  setWindowTitle(ToQt(std::string("X.509 Velmora \u2014 ") + kMakerDomain));
  FillFromCommaList(ui->cmbRSABits, QStringLiteral("1024,2048,3072,4096,8192"), 1);
  FillFromCommaList(ui->cmbECCurve, QStringLiteral("P-256,P-384,P-521"), 0);
  ui->edtDays->setText(QStringLiteral("365"));
  AddCheckItems(ui->clbKeyUsage, kKeyUsageItems, {0, 2});
  AddCheckItems(ui->clbEKU, kExtKeyUsageItems, {0, 1});
  ui->edtPathLen->setText(QStringLiteral("0"));
  FillProfiles();
  SetDefaultOutputNames();
  AddStoreListColumns();
  // The store takes over here: the remembered directory goes into edtStoreDir, whose change
  // handler already lists it once.
  LoadSettings();
  UpdateKeyTypeUI();
  UpdateSignModeUI();
  UpdateCAOptionsUI();
  // A directory that did not change the edit (an empty setting) is listed here; one that did
  // is being listed already, and once is enough.
  if (!FJobRunning) RefreshStoreList();
  // The active tab is left as the form has it: the window opens on the store.
}

void TfrmVelmora::FormClose() { SaveSettings(); }

void TfrmVelmora::FormDestroy() { FBuilder.reset(); }

void TfrmVelmora::SetDefaultOutputNames() {
  ui->edtOutCert->setText(QStringLiteral("certificate.crt"));
  ui->edtOutKey->setText(QStringLiteral("private.key"));
  ui->edtOutPFX->setText(QStringLiteral("certificate.pfx"));
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
  ui->lvCerts->horizontalHeader()->setSortIndicator(TStoreListModel::colName, Qt::AscendingOrder);
}

// What the form file cannot say: colours and fonts that come from the system.
void TfrmVelmora::ApplyLook() {
  for (QPlainTextEdit* pane : {ui->memKeyInfo, ui->memStoreInfo, ui->memPreview})
    pane->setFont(PaneFont());
  UseButtonFaceBackground(ui->memKeyInfo);
  UseButtonFaceBackground(ui->memStoreInfo);
  for (QLabel* label : {ui->lblDaysHint, ui->lblPathHint, ui->lblStoreDir}) UseGreyText(label);
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

void TfrmVelmora::CentreOnScreen() {
  const QRect available = screen()->availableGeometry();
  QRect frame(QPoint(0, 0), size());
  frame.moveCenter(available.center());
  // On a screen smaller than the window keep the title bar reachable.
  move(std::max(frame.left(), available.left()), std::max(frame.top(), available.top()));
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
  Bind(ui->rbECC, &QRadioButton::toggled, &TfrmVelmora::ApplyProfileToForm);
  Bind(ui->chkIsCA, &QCheckBox::toggled, &TfrmVelmora::ExtensionsChangedByHand);
  Bind(ui->edtPathLen, &QLineEdit::textChanged, &TfrmVelmora::ExtensionsChangedByHand);
  Bind(ui->clbKeyUsage, &QListWidget::itemChanged, &TfrmVelmora::ExtensionsChangedByHand);
  Bind(ui->clbEKU, &QListWidget::itemChanged, &TfrmVelmora::ExtensionsChangedByHand);
  Bind(ui->btnGenKey, &QPushButton::clicked, &TfrmVelmora::btnGenKeyClick);
  Bind(ui->btnCancelKey, &QPushButton::clicked, &TfrmVelmora::btnCancelKeyClick);

  Bind(ui->btnGenCert, &QPushButton::clicked, &TfrmVelmora::btnGenCertClick);
  Bind(ui->btnBrowseCACert, &QPushButton::clicked, &TfrmVelmora::btnBrowseCACertClick);
  Bind(ui->btnBrowseCAKey, &QPushButton::clicked, &TfrmVelmora::btnBrowseCAKeyClick);
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
  Bind(ui->btnStoreLoadCACert, &QPushButton::clicked, &TfrmVelmora::btnStoreLoadCACertClick);
  Bind(ui->btnStoreLoadCAKey, &QPushButton::clicked, &TfrmVelmora::btnStoreLoadCAKeyClick);
  Bind(ui->btnStoreDelete, &QPushButton::clicked, &TfrmVelmora::btnStoreDeleteClick);
  Bind(ui->lvCerts, &QAbstractItemView::doubleClicked, &TfrmVelmora::lvCertsDblClick);
  ui->lvCerts->setContextMenuPolicy(Qt::CustomContextMenu);
  FConnections.push_back(connect(ui->lvCerts, &QWidget::customContextMenuRequested, this,
                                 [this](const QPoint& Position) {
                                   RunGuarded(FPlatform, [&] { lvCertsContextMenu(Position); });
                                 }));
  BindStoreListSelection();
}

// --- The default button ---

// A main window has no default button of its own. Enter and Return reach the window only when
// the focused control ignored them; then they press "Generate Certificate" while it is enabled,
// unless the focused control takes Enter itself: a push button presses itself, a text pane
// keeps it.
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
  const std::optional<TProfileSettings> settings =
      ProfileSettings(kAllProfiles[static_cast<std::size_t>(index)],
                      ui->rbRSA->isChecked() ? ktRSA : ktECC);
  if (!settings) return;
  FApplyingProfile = true;
  ui->chkIsCA->setChecked(settings->IsCA);
  ui->edtPathLen->setText(QString::number(settings->PathLenConstraint));
  for (int i = 0; i < ui->clbKeyUsage->count(); ++i)
    ui->clbKeyUsage->item(i)->setCheckState(
        settings->KeyUsage.contains(static_cast<TKeyUsage>(i)) ? Qt::Checked : Qt::Unchecked);
  for (int i = 0; i < ui->clbEKU->count(); ++i)
    ui->clbEKU->item(i)->setCheckState(
        settings->ExtKeyUsage.contains(static_cast<TExtKeyUsage>(i)) ? Qt::Checked
                                                                      : Qt::Unchecked);
  FApplyingProfile = false;
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
    job->Builder->RSABits = IntOrDefault(bits, 2048);
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
  RunInBackground(
      TJobKind::Command,
      [job] {
        try {
          job->Builder->GenerateKey([&job = *job] {
            ++job.Candidates;
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
          FPlatform.ShowMessage("Key generation failed:\n" + *job->Error);
        } else {
          Log("Key pair generated successfully.");
          ui->btnGenCert->setEnabled(true);
        }
      });
}

}  // namespace velmora
