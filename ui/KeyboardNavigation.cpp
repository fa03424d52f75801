#include "ui/KeyboardNavigation.h"

#include "ui/StorePanel.h"
#include "ui_VelmoraMain.h"

#include <QKeySequence>
#include <QPainter>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTabBar>
#include <QTextEdit>

#include <algorithm>
#include <initializer_list>

namespace velmora {

namespace {

// A caption as it reads on screen: the access-key marks gone ("&&" is one "&").
QString WithoutAccessKeys(const QString& Caption) {
  QString text;
  for (qsizetype i = 0; i < Caption.size(); ++i) {
    if (Caption[i] == QLatin1Char('&') && ++i == Caption.size()) break;
    text += Caption[i];
  }
  return text;
}

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

// The connections go with the navigation, before the controls do.
TKeyboardNavigation::TKeyboardNavigation(QWidget& Window, Ui::TfrmVelmora& Form, TStorePanel& Store)
    : FWindow(&Window), ui(&Form), FStore(&Store) {
  BuildTabOrder();
  NameInputsAfterTheirLabels();
  MarkFocusOnPanes();
  BindPageKeys();
}

void TKeyboardNavigation::MarkFocusOnPanes() {
  for (QPlainTextEdit* pane : {ui->memKeyInfo, ui->memStoreInfo, ui->memPreview})
    new TFocusMark(pane);
}

// One chain through the whole window: the tab bar, every page's controls in reading order,
// the preview and the button bar, and round again. Qt passes over the controls of the pages
// not shown. The tab bar stands in the chain itself, not its tab widget: a tab widget counts
// all its pages' controls as its own and would take them along out of the chain.
void TKeyboardNavigation::BuildTabOrder() {
  const std::initializer_list<QWidget*> order = {
      ui->pgcMain->tabBar(),
      // 1 - Key
      ui->rbRSA, ui->rbECC, ui->rbEd, ui->cmbRSABits, ui->cmbECCurve, ui->cbEdAlg, ui->btnGenKey,
      ui->btnCancelKey, ui->memKeyInfo,
      // 2 - Subject DN
      ui->edtCN, ui->edtO, ui->edtOU, ui->edtC, ui->edtST, ui->edtL, ui->edtEmail,
      // 3 - Validity
      ui->edtDays,
      // 4 - Extensions: the profile, basic constraints beside the alternative names, then the
      // two usage lists side by side, the CRL URL below them
      ui->cbProfile, ui->chkIsCA, ui->edtPathLen, ui->edtPermitted, ui->edtExcluded, ui->edtSANDNS,
      ui->edtSANIP, ui->edtSANEmail, ui->clbKeyUsage, ui->clbEKU, ui->edtCRLURL,
      // 5 - Signing
      ui->rbSelfSigned, ui->rbCASign, ui->rbRequest, ui->edtCACertFile, ui->btnBrowseCACert,
      ui->edtCAKeyFile, ui->btnBrowseCAKey, ui->edtCAPwd,
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
void TKeyboardNavigation::BindPageKeys() {
  for (QRadioButton* radio : FWindow->findChildren<QRadioButton*>())
    connect(radio, &QRadioButton::toggled, this, [this] { MakeChosenRadioButtonsTheTabStops(); });
  connect(ui->pgcMain, &QTabWidget::currentChanged, this,
          [this] { MakeChosenRadioButtonsTheTabStops(); });
  MakeChosenRadioButtonsTheTabStops();

  const auto bind = [this](const QList<QKeySequence>& Keys, int Step) {
    auto* shortcut = new QShortcut(FWindow);
    shortcut->setKeys(Keys);
    connect(shortcut, &QShortcut::activated, this, [this, Step] { ShowPageByKeyboard(Step); });
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
void TKeyboardNavigation::ShowPageByKeyboard(int Step) {
  FWindow->setAttribute(Qt::WA_KeyboardFocusChange);
  const int count = ui->pgcMain->count();
  ui->pgcMain->setCurrentIndex((ui->pgcMain->currentIndex() + Step + count) % count);
  FocusFirstInput();
}

// The first control after the tab bar in the chain that is on the shown page and can take the
// focus now: the page's first input in reading order. As Tab does, it selects an edit's text,
// so that what is typed replaces it, unless told not to.
void TKeyboardNavigation::FocusFirstInput(bool SelectText) {
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
void TKeyboardNavigation::MakeChosenRadioButtonsTheTabStops() {
  for (QRadioButton* radio : FWindow->findChildren<QRadioButton*>()) {
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
void TKeyboardNavigation::NameInputsAfterTheirLabels() {
  for (QLabel* label : FWindow->findChildren<QLabel*>()) {
    QWidget* input = label->buddy();
    if (!input || !input->accessibleName().isEmpty()) continue;
    QString name = WithoutAccessKeys(label->text()).trimmed();
    if (name.endsWith(QLatin1Char(':'))) name.chop(1);
    input->setAccessibleName(name.trimmed());
  }
}

// A main window has no default button of its own. Enter and Return reach the window only when
// the focused control ignored them; then they press "Generate Certificate" while it is enabled,
// unless the focused control takes Enter itself: a push button presses itself, a text pane
// keeps it, and on the store tab the directory edit and the list have their own use for it.
bool TKeyboardNavigation::PressDefaultButton() {
  QWidget* focused = FWindow->focusWidget();
  if (auto* button = qobject_cast<QPushButton*>(focused)) {
    button->click();
    return true;
  }
  if (qobject_cast<QPlainTextEdit*>(focused) || qobject_cast<QTextEdit*>(focused)) return false;
  if (FStore->TakesEnter(focused)) return true;
  if (!ui->btnGenCert->isEnabled()) return false;
  ui->btnGenCert->click();
  return true;
}

}  // namespace velmora
