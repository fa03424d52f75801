#include "ui/VelmoraMain.h"

#include "core/Defaults.h"
#include "core/FileNameText.h"
#include "core/Profiles.h"
#include "core/Usages.h"
#include "crypto/AtomicFile.h"
#include "ui/GuardedConnect.h"
#include "ui_VelmoraMain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTime>

#include <array>
#include <cstdio>
#include <functional>
#include <initializer_list>
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
  FPlacer = std::make_unique<TWindowPlacer>(*this, FPlatform);
  FBands = std::make_unique<TWindowBands>(*ui);
  IStorePanelHost& storeHost = *this;  // the window answers the store tab's requests
  FStore = std::make_unique<TStorePanel>(*ui, FPlatform, *FJobs, storeHost);
  ApplyLook();
  BindEvents();
  FKeyboard = std::make_unique<TKeyboardNavigation>(*this, *ui, *FStore);
  RunGuarded(FPlatform, [this] { FormCreate(); });
  ReportInterruptedSaves();
  // The remembered folder is not selected: a key pressed by chance must not replace it.
  FKeyboard->FocusFirstInput(false);
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
  FillFromCommaList(ui->cbEdAlg, QStringLiteral("Ed25519,Ed448"), 0);
  ui->edtDays->setText(QString::number(kDefaultValidDays));
  // Filling the lists is no change by hand; the key usages follow the key type below.
  FApplyingProfile = true;
  AddCheckItems(ui->clbKeyUsage, kKeyUsages, {});
  AddCheckItems(ui->clbEKU, kExtKeyUsages, {0, 1});
  FApplyingProfile = false;
  ui->edtPathLen->setText(QStringLiteral("0"));
  FillProfiles();
  SetDefaultOutputNames();
  // The store takes over here: the remembered directory goes into edtStoreDir, whose change
  // handler already lists it once.
  FStore->Open();
  UpdateKeyTypeUI();
  UsagesFollowKeyType();
  UpdateSignModeUI();
  UpdateCAOptionsUI();
  // A directory that did not change the edit (an empty setting) is listed here; one that did
  // is being listed already, and once is enough.
  if (!FJobs->Running()) FStore->RefreshStoreList();
  // The active tab is left as the form has it: the window opens on the store.
}

void TfrmVelmora::FormClose() {
  FStore->SaveSettings();
  FPlacer->Save();
}

void TfrmVelmora::FormDestroy() { FBuilder.reset(); }

void TfrmVelmora::SetDefaultOutputNames() {
  ui->edtOutCert->setText(QString::fromLatin1(kDefaultCertName));
  ui->edtOutKey->setText(QString::fromLatin1(kDefaultKeyName));
  ui->edtOutPFX->setText(QString::fromLatin1(kDefaultBundleName));
  ui->edtFriendly->setText(QStringLiteral("My Certificate"));
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
}

void TfrmVelmora::showEvent(QShowEvent* Event) {
  if (!Event->spontaneous()) FPlacer->FirstShow();
  QMainWindow::showEvent(Event);
}

// --- Event bindings ---

// Every handler runs inside the guard, so an error it lets escape ends up in the error box
// instead of in Qt's event loop.
void TfrmVelmora::BindEvents() {
  const auto bind = [this](auto* Sender, auto Signal, void (TfrmVelmora::*Handler)()) {
    FConnections.push_back(
        ConnectGuarded(FPlatform, Sender, Signal, this, [this, Handler] { (this->*Handler)(); }));
  };
  // A radio button's click handler runs when it becomes checked, by a click or by the program.
  const auto bindChecked = [this](QAbstractButton* Button, void (TfrmVelmora::*Handler)()) {
    FConnections.push_back(
        connect(Button, &QAbstractButton::toggled, this, [this, Handler](bool on) {
          if (on) RunGuarded(FPlatform, [this, Handler] { (this->*Handler)(); });
        }));
  };
  // Each group follows its radio button or check box.
  bindChecked(ui->rbRSA, &TfrmVelmora::rbRSAClick);
  bindChecked(ui->rbECC, &TfrmVelmora::rbECCClick);
  bindChecked(ui->rbEd, &TfrmVelmora::rbEdClick);
  bindChecked(ui->rbSelfSigned, &TfrmVelmora::rbSelfSignedClick);
  bindChecked(ui->rbCASign, &TfrmVelmora::rbCASignClick);
  bindChecked(ui->rbRequest, &TfrmVelmora::rbRequestClick);
  bind(ui->chkIsCA, &QCheckBox::toggled, &TfrmVelmora::chkIsCAClick);
  bind(ui->cbProfile, &QComboBox::currentIndexChanged, &TfrmVelmora::ApplyProfileToForm);
  bind(ui->chkIsCA, &QCheckBox::toggled, &TfrmVelmora::ExtensionsChangedByHand);
  bind(ui->edtPathLen, &QLineEdit::textChanged, &TfrmVelmora::ExtensionsChangedByHand);
  bind(ui->clbKeyUsage, &QListWidget::itemChanged, &TfrmVelmora::ExtensionsChangedByHand);
  FConnections.push_back(connect(ui->clbKeyUsage, &QListWidget::itemChanged, this, [this] {
    if (!FApplyingProfile) FKeyUsagesAreDefaults = false;
  }));
  bind(ui->clbEKU, &QListWidget::itemChanged, &TfrmVelmora::ExtensionsChangedByHand);
  bind(ui->btnGenKey, &QPushButton::clicked, &TfrmVelmora::btnGenKeyClick);
  bind(ui->btnCancelKey, &QPushButton::clicked, &TfrmVelmora::btnCancelKeyClick);

  bind(ui->btnGenCert, &QPushButton::clicked, &TfrmVelmora::btnGenCertClick);
  bind(ui->btnBrowseCACert, &QPushButton::clicked, &TfrmVelmora::btnBrowseCACertClick);
  bind(ui->btnBrowseCAKey, &QPushButton::clicked, &TfrmVelmora::btnBrowseCAKeyClick);
  bind(ui->edtCACertFile, &QLineEdit::textChanged, &TfrmVelmora::edtCACertFileChange);
  bind(ui->btnBrowseOutCert, &QPushButton::clicked, &TfrmVelmora::btnBrowseOutCertClick);
  bind(ui->btnBrowseOutKey, &QPushButton::clicked, &TfrmVelmora::btnBrowseOutKeyClick);
  bind(ui->btnBrowseOutPFX, &QPushButton::clicked, &TfrmVelmora::btnBrowseOutPFXClick);
  bind(ui->edtEmail, &QLineEdit::textChanged, &TfrmVelmora::edtEmailChange);
  bind(ui->btnClear, &QPushButton::clicked, &TfrmVelmora::btnClearClick);
  bind(ui->btnAbout, &QPushButton::clicked, &TfrmVelmora::btnAboutClick);
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
  FStore->RunWantedListing();
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

// A main window has no default button of its own; the keyboard navigation gives Enter one.
void TfrmVelmora::keyPressEvent(QKeyEvent* Event) {
  const bool enter = Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter;
  if (enter && FKeyboard->PressDefaultButton()) {
    Event->accept();
    return;
  }
  QMainWindow::keyPressEvent(Event);
}

// --- Log ---

void TfrmVelmora::Log(const std::string& Text) {
  ui->memKeyInfo->appendPlainText(ToQt(LogStamp(QTime::currentTime()) + Text));
  ScrollToEnd(ui->memKeyInfo);
}

// --- The store tab's requests ---

void TfrmVelmora::OpenStoreFile(const std::string& Path) { FStore->OpenStoreFile(Path); }

void TfrmVelmora::SetTrustPlace(TTrustPlace Place) { FStore->SetTrustPlace(std::move(Place)); }

// The store's key found for the CA certificate belonged to the folder shown before.
void TfrmVelmora::StoreDirChanged() {
  if (!ui->edtCACertFile->text().isEmpty()) edtCACertFileChange();
}

// Puts Path into one of the Signing tab's CA edits and brings that tab up in CA-signed mode,
// its focus on the chosen "Signed by CA / Sub-CA", not on the button left behind.
void TfrmVelmora::UseAsCA(TCAPart Part, const std::string& Path) {
  QLineEdit* edit = Part == TCAPart::Certificate ? ui->edtCACertFile : ui->edtCAKeyFile;
  edit->setText(FileNameToText(Path));
  ui->pgcMain->setCurrentWidget(ui->tabSigning);
  ui->rbCASign->setChecked(true);
  UpdateSignModeUI();
  FKeyboard->FocusFirstInput();
}

// --- Enabling rules ---

TKeyType TfrmVelmora::FormKeyType() const {
  if (ui->rbRSA->isChecked()) return ktRSA;
  return ui->rbEd->isChecked() ? ktEdwards : ktECC;
}

void TfrmVelmora::KeyTypeChosen() {
  UpdateKeyTypeUI();
  UsagesFollowKeyType();
}

void TfrmVelmora::UpdateKeyTypeUI() {
  ui->grpRSA->setEnabled(ui->rbRSA->isChecked());
  ui->grpECC->setEnabled(ui->rbECC->isChecked());
  ui->grpEd->setEnabled(ui->rbEd->isChecked());
}

// A request is signed by another CA, and there is no certificate to bundle with the key; nor
// is there a key to bundle while somebody else's request is signed.
void TfrmVelmora::UpdateSignModeUI() {
  ui->grpCA->setEnabled(ui->rbCASign->isChecked());
  const bool bundle = !ui->rbRequest->isChecked() && !SigningRequest();
  for (QWidget* control : std::initializer_list<QWidget*>{
           ui->chkSavePFX, ui->chkPFXCompatible, ui->edtOutPFX, ui->btnBrowseOutPFX,
           ui->lblOutPFXPwd, ui->edtOutPFXPwd, ui->lblOutPFXPwdConfirm, ui->edtOutPFXPwdConfirm,
           ui->lblFriendly, ui->edtFriendly})
    control->setEnabled(bundle);
}

void TfrmVelmora::UpdateCAOptionsUI() {
  const bool isCA = ui->chkIsCA->isChecked();
  for (QWidget* control : std::initializer_list<QWidget*>{
           ui->edtPathLen, ui->lblPathLen, ui->lblPathHint, ui->lblPermitted, ui->edtPermitted,
           ui->lblExcluded, ui->edtExcluded})
    control->setEnabled(isCA);
}

// --- Profiles ---

void TfrmVelmora::FillProfiles() {
  ui->cbProfile->clear();
  for (TProfile profile : kAllProfiles)
    ui->cbProfile->addItem(QString::fromUtf8(ProfileCaption(profile)));
  ui->cbProfile->setCurrentIndex(0);  // Custom: the form's own defaults stay as they are
}

// The items are in the order of the usage sets' members, so item i is set from member i.
void TfrmVelmora::ApplyProfileToForm() {
  const int index = ui->cbProfile->currentIndex();
  if (index < 0 || index >= static_cast<int>(kAllProfiles.size())) return;
  const std::optional<TProfileSettings> settings =
      ProfileSettings(kAllProfiles[static_cast<std::size_t>(index)], FormKeyType());
  if (!settings) return;
  FApplyingProfile = true;
  ui->chkIsCA->setChecked(settings->IsCA);
  ui->edtPathLen->setText(QString::number(settings->PathLenConstraint));
  CheckKeyUsages(settings->KeyUsage);
  FKeyUsagesAreDefaults = false;
  CheckExtKeyUsages(settings->ExtKeyUsage);
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
  CheckKeyUsages(DefaultKeyUsages(FormKeyType()));
  FApplyingProfile = false;
}

void TfrmVelmora::CheckKeyUsages(const TKeyUsageSet& Usages) {
  for (std::size_t i = 0; i < kKeyUsages.size(); ++i)
    ui->clbKeyUsage->item(static_cast<int>(i))
        ->setCheckState(Usages.contains(kKeyUsages[i].Member) ? Qt::Checked : Qt::Unchecked);
}

void TfrmVelmora::CheckExtKeyUsages(const TExtKeyUsageSet& Usages) {
  for (std::size_t i = 0; i < kExtKeyUsages.size(); ++i)
    ui->clbEKU->item(static_cast<int>(i))
        ->setCheckState(Usages.contains(kExtKeyUsages[i].Member) ? Qt::Checked : Qt::Unchecked);
}

// The e-mail goes first: the output names follow it, and the caller may set them afterwards.
void TfrmVelmora::FillForm(const TCertRequest& Values) {
  const auto put = [](QLineEdit* Edit, const std::string& Text) {
    Edit->setText(QString::fromStdString(Text));
  };
  const auto list = [](const std::vector<std::string>& Items) {
    std::string text;
    for (const std::string& item : Items) text += (text.empty() ? "" : ", ") + item;
    return text;
  };
  const TSubjectDN& subject = Values.Subject;
  put(ui->edtEmail, subject.Email);
  put(ui->edtCN, subject.CN);
  put(ui->edtO, subject.O);
  put(ui->edtOU, subject.OU);
  put(ui->edtC, subject.C);
  put(ui->edtST, subject.ST);
  put(ui->edtL, subject.L);
  put(ui->edtDays, std::to_string(Values.ValidDays));
  ui->chkIsCA->setChecked(Values.IsCA);
  put(ui->edtPathLen, std::to_string(Values.PathLenConstraint));
  put(ui->edtPermitted, list(Values.PermittedNames));
  put(ui->edtExcluded, list(Values.ExcludedNames));
  CheckKeyUsages(Values.KeyUsage);
  CheckExtKeyUsages(Values.ExtKeyUsage);
  FKeyUsagesAreDefaults = false;
  put(ui->edtSANDNS, list(Values.SANDNSNames));
  put(ui->edtSANIP, list(Values.SANIPs));
  put(ui->edtSANEmail, list(Values.SANEmails));
}

void TfrmVelmora::ExtensionsChangedByHand() {
  if (!FApplyingProfile && ui->cbProfile->currentIndex() > 0) ui->cbProfile->setCurrentIndex(0);
}

}  // namespace velmora
