// The window by keyboard alone: where the focus starts and where Tab takes it, the page keys,
// the access keys, the names a screen reader hears, Enter on the store tab, and whole
// certificates made without a mouse.
#include "tests/ui/CommandFixture.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QSignalSpy>

#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <map>
#include <set>

namespace velmora::test {
namespace {

// A label's caption as the name of its input: "Common Name (CN):" names "Common Name (CN)".
QString WithoutColon(QString Caption) {
  if (Caption.endsWith(QLatin1Char(':'))) Caption.chop(1);
  return Caption;
}

QString NameOf(const QWidget* Widget) {
  return Widget ? Widget->objectName() : QStringLiteral("(nothing)");
}

// A fresh window on a store of its own, driven through the key presses a user makes. Keys go
// to whatever has the focus, as they do from a real keyboard.
class Keyboard : public WindowFixture {
 protected:
  void SetUp() override {
    StoreDir = Temp.File("store");
    Platform.StoreDirSetting = StoreDir;
    WindowFixture::SetUp();
  }

  static QWidget* Focused() { return QApplication::focusWidget(); }
  std::string FocusName() const { return NameOf(Focused()).toStdString(); }
  std::string PageName() const {
    return Control<QTabWidget>("pgcMain")->currentWidget()->objectName().toStdString();
  }

  void Key(Qt::Key Pressed, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) const {
    QWidget* target = Focused();
    QTest::keyClick(target ? target : Window.get(), Pressed, Modifiers);
  }
  void Type(const QString& Text) const {
    ASSERT_NE(Focused(), nullptr);
    QTest::keyClicks(Focused(), Text);
  }
  void Type(const std::string& Text) const { Type(QString::fromStdString(Text)); }
  void Alt(char Letter) const {
    Key(static_cast<Qt::Key>(Qt::Key_A + (Letter - 'A')), Qt::AltModifier);
  }
  // A button pressed by its access key shows itself pressed for a moment before it answers.
  void PressByAlt(char Letter, const char* Button) const {
    QSignalSpy clicked(Control<QAbstractButton>(Button), &QAbstractButton::clicked);
    Alt(Letter);
    ASSERT_TRUE(clicked.count() == 1 || clicked.wait(2000)) << Button << " was not pressed";
    WaitIdle();
  }
  void PressBySpace(const char* Button) const {
    ASSERT_EQ(FocusName(), Button);
    QSignalSpy clicked(Control<QAbstractButton>(Button), &QAbstractButton::clicked);
    Key(Qt::Key_Space);
    ASSERT_EQ(clicked.count(), 1) << Button;
    WaitIdle();
  }
  // Ctrl+PgDn until the page is up.
  void GoToPage(const char* Page) const {
    for (int i = 0; i < 7 && PageName() != Page; ++i) Key(Qt::Key_PageDown, Qt::ControlModifier);
    ASSERT_EQ(PageName(), Page);
  }
  // Tab (or Shift+Tab) until the focus comes back to where it was; the names on the way.
  std::vector<std::string> Walk(bool Forward) const {
    const QWidget* start = Focused();
    std::vector<std::string> names;
    for (int i = 0; i < 60; ++i) {
      Key(Forward ? Qt::Key_Tab : Qt::Key_Backtab, Forward ? Qt::NoModifier : Qt::ShiftModifier);
      if (Focused() == start) return names;
      names.push_back(FocusName());
    }
    names.emplace_back("(the walk never came back)");
    return names;
  }

  TempDir Temp;
  std::string StoreDir;
};

// ---- Focus and Tab ----

// The remembered folder is not selected, so that a key pressed by chance does not replace it.
TEST_F(Keyboard, StartsInTheFirstInputOfTheStoreTab) {
  EXPECT_EQ(PageName(), "tabStore");
  EXPECT_EQ(FocusName(), "edtStoreDir");
  EXPECT_FALSE(Control<QLineEdit>("edtStoreDir")->hasSelectedText());
}

struct PageWalk {
  const char* page;
  // The page's enabled controls in reading order; of a group of radio buttons the chosen one,
  // as the arrow keys move within the group.
  std::vector<std::string> controls;
};
void PrintTo(const PageWalk& Walk, std::ostream* Out) { *Out << Walk.page; }

class TabWalk : public Keyboard, public testing::WithParamInterface<PageWalk> {};

// From the page's first input, Tab passes every enabled control of the page, the preview,
// the button bar and the tab bar, and comes round again; Shift+Tab goes the same way back.
TEST_P(TabWalk, PassesThePageThePreviewTheButtonsAndTheTabBar) {
  const PageWalk& c = GetParam();
  Control<QPushButton>("btnGenCert")->setEnabled(true);  // as after a key pair
  GoToPage(c.page);
  ASSERT_EQ(FocusName(), c.controls.front());

  std::vector<std::string> expected(c.controls.begin() + 1, c.controls.end());
  for (const char* below :
       {"memPreview", "btnGenCert", "btnClear", "btnAbout", "qt_tabwidget_tabbar"})
    expected.emplace_back(below);
  EXPECT_EQ(Walk(true), expected);
  std::reverse(expected.begin(), expected.end());
  EXPECT_EQ(Walk(false), expected);

  // Nothing on the page that takes the focus is left out of the walk.
  QWidget* page = Control<QWidget>(c.page);
  std::set<std::string> focusable;
  for (QWidget* widget : page->findChildren<QWidget*>()) {
    const auto* radio = qobject_cast<QRadioButton*>(widget);
    if ((widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && widget->isEnabled() &&
        widget->isVisible() && !(radio && !radio->isChecked()))
      focusable.insert(widget->objectName().toStdString());
  }
  EXPECT_EQ(focusable, std::set<std::string>(c.controls.begin(), c.controls.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, TabWalk,
    testing::Values(
        PageWalk{"tabKey", {"rbECC", "cmbECCurve", "btnGenKey", "memKeyInfo"}},
        PageWalk{"tabSubject", {"edtCN", "edtO", "edtOU", "edtC", "edtST", "edtL", "edtEmail"}},
        PageWalk{"tabValidity", {"edtDays"}},
        PageWalk{"tabExt",
                 {"cbProfile", "chkIsCA", "edtSANDNS", "edtSANIP", "edtSANEmail", "clbKeyUsage",
                  "clbEKU", "edtCRLURL"}},
        PageWalk{"tabSigning", {"rbSelfSigned"}},
        PageWalk{"tabOutput",
                 {"edtOutCert", "btnBrowseOutCert", "edtOutKey", "btnBrowseOutKey", "edtOutKeyPwd",
                  "edtOutKeyPwdConfirm", "chkSavePFX", "chkPFXCompatible", "edtOutPFX",
                  "btnBrowseOutPFX", "edtOutPFXPwd", "edtOutPFXPwdConfirm", "edtFriendly"}},
        PageWalk{
            "tabStore",
            {"edtStoreDir", "btnBrowseStoreDir", "btnOpenStoreDir", "lvCerts", "btnStoreRefresh",
             "btnStoreLoadCACert", "btnStoreLoadCAKey", "btnStoreDelete", "memStoreInfo"}}),
    [](const auto& info) { return std::string(info.param.page); });

// Controls that a group enables join the walk where they stand.
TEST_F(Keyboard, EnabledGroupsJoinTheWalkInPlace) {
  GoToPage("tabSigning");
  Key(Qt::Key_Down);  // from "Self-Signed" to "Signed by CA / Sub-CA"
  ASSERT_TRUE(Control<QRadioButton>("rbCASign")->isChecked());
  std::vector<std::string> walk = Walk(true);
  walk.resize(std::min<std::size_t>(walk.size(), 6));
  EXPECT_EQ(walk, std::vector<std::string>({"edtCACertFile", "btnBrowseCACert", "edtCAKeyFile",
                                            "btnBrowseCAKey", "edtCAPwd", "memPreview"}));
}

// The page keys work wherever the focus is, also in the store list (where PgDn pages rows)
// and below the tabs, and they put the focus into the page's first input.
TEST_F(Keyboard, PageKeysChangePagesFromAnywhereAndFocusTheFirstInput) {
  struct Step {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    const char* page;
    const char* focus;
  };
  const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
  const Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
  const Step steps[] = {
      {Qt::Key_Tab, ctrl, "tabKey", "rbECC"},  // round from the last page to the first
      {Qt::Key_Tab, ctrl, "tabSubject", "edtCN"},
      {Qt::Key_PageDown, ctrl, "tabValidity", "edtDays"},
      {Qt::Key_Tab, ctrlShift, "tabSubject", "edtCN"},
      {Qt::Key_Backtab, ctrlShift, "tabKey", "rbECC"},
      {Qt::Key_PageUp, ctrl, "tabStore", "edtStoreDir"},
      {Qt::Key_PageUp, ctrl, "tabOutput", "edtOutCert"},
      {Qt::Key_PageUp, ctrl, "tabSigning", "rbSelfSigned"},
      {Qt::Key_PageUp, ctrl, "tabExt", "cbProfile"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.page);
    Key(step.key, step.modifiers);
    EXPECT_EQ(PageName(), step.page);
    EXPECT_EQ(FocusName(), step.focus);
  }

  // From inside the store list and from the preview below the tabs.
  GoToPage("tabStore");
  Key(Qt::Key_Tab);
  Key(Qt::Key_Tab);
  Key(Qt::Key_Tab);
  ASSERT_EQ(FocusName(), "lvCerts");
  Key(Qt::Key_PageDown, ctrl);
  EXPECT_EQ(PageName(), "tabKey");
  Control<QWidget>("memPreview")->setFocus();
  Key(Qt::Key_Tab, ctrl);
  EXPECT_EQ(PageName(), "tabSubject");
  EXPECT_EQ(FocusName(), "edtCN");
}

// ---- Access keys and names ----

// Every access key on a page leads somewhere: a label's to its input, a button's presses it.
// On no page do two visible captions share one.
TEST_F(Keyboard, AccessKeysAreUniquePerPageAndLeadToTheirControls) {
  // The groups that start disabled enabled, so their captions count.
  Control<QRadioButton>("rbCASign")->setChecked(true);
  Control<QCheckBox>("chkIsCA")->setChecked(true);
  Control<QPushButton>("btnGenCert")->setEnabled(true);
  auto* tabs = Control<QTabWidget>("pgcMain");
  for (int page = 0; page < tabs->count(); ++page) {
    tabs->setCurrentIndex(page);
    SCOPED_TRACE(tabs->currentWidget()->objectName().toStdString());
    // The keys of the captions on screen; the enabled ones are tried.
    std::map<QKeySequence, QString> keys;
    std::vector<std::pair<QKeySequence, QWidget*>> tried;
    const auto take = [&](QWidget* Control, const QString& Caption) {
      const QKeySequence key = QKeySequence::mnemonic(Caption);
      if (key.isEmpty() || !Control->isVisible()) return;
      const auto [at, added] = keys.emplace(key, Control->objectName());
      EXPECT_TRUE(added) << key.toString().toStdString() << " is taken by both "
                         << at->second.toStdString() << " and "
                         << Control->objectName().toStdString();
      // The button bar's keys are tried once, with the first page.
      if (Control->isEnabled() && (page == 0 || tabs->currentWidget()->isAncestorOf(Control)))
        tried.emplace_back(key, Control);
    };
    for (QLabel* label : Window->findChildren<QLabel*>())
      if (label->buddy()) take(label, label->text());
    for (QAbstractButton* button : Window->findChildren<QAbstractButton*>())
      take(button, button->text());
    for (QGroupBox* group : Window->findChildren<QGroupBox*>()) take(group, group->title());

    for (const auto& [key, control] : tried) {
      SCOPED_TRACE(control->objectName().toStdString());
      if (!control->isEnabled()) continue;  // a command whose job ended took it along
      const auto* label = qobject_cast<const QLabel*>(control);
      if (label) {
        QTest::keySequence(Focused(), key);
        EXPECT_EQ(Focused(), label->buddy());
        continue;
      }
      auto* button = qobject_cast<QAbstractButton*>(control);
      ASSERT_NE(button, nullptr);
      // What each button does has tests of its own; here the key must press it. The fake
      // desktop cancels the dialogs and says No to questions.
      QSignalSpy clicked(button, &QAbstractButton::clicked);
      QTest::keySequence(Focused(), key);
      EXPECT_TRUE(clicked.count() == 1 || clicked.wait(2000));
      WaitIdle();
    }
  }
}

TEST_F(Keyboard, TheMainButtonsHaveAccessKeys) {
  const std::map<QString, QString> expected = {
      {"btnGenCert", "Alt+G"},        {"btnClear", "Alt+C"},        {"btnAbout", "Alt+A"},
      {"btnGenKey", "Alt+K"},         {"btnCancelKey", "Alt+N"},    {"btnBrowseStoreDir", "Alt+B"},
      {"btnOpenStoreDir", "Alt+O"},   {"btnStoreRefresh", "Alt+R"}, {"btnStoreLoadCACert", "Alt+E"},
      {"btnStoreLoadCAKey", "Alt+K"}, {"btnStoreDelete", "Alt+D"},
  };
  for (const auto& [name, key] : expected) {
    SCOPED_TRACE(name.toStdString());
    const QString caption = Control<QAbstractButton>(name.toLatin1().constData())->text();
    EXPECT_EQ(QKeySequence::mnemonic(caption).toString(QKeySequence::PortableText), key);
  }
  // Pressed by its key, "About" shows the About box.
  Alt('A');
  EXPECT_TRUE(QTest::qWaitFor([this] { return !Platform.Messages.empty(); }, 2000));
}

// A screen reader names every input: a labelled one after its label, the others as the form
// names them. (A drop-down reads out its choice as its name on this desktop, and its label
// through the labelling relation that the buddy makes.)
TEST_F(Keyboard, EveryInputHasAnAccessibleName) {
  std::map<const QWidget*, std::string> labels;
  for (const QLabel* label : Window->findChildren<QLabel*>())
    if (label->buddy())
      labels[label->buddy()] = WithoutColon(WithoutAccessKey(label->text())).toStdString();
  int inputs = 0;
  for (QWidget* widget : Window->findChildren<QWidget*>()) {
    if (!qobject_cast<QLineEdit*>(widget) && !qobject_cast<QComboBox*>(widget) &&
        !qobject_cast<QAbstractItemView*>(widget) && !qobject_cast<QPlainTextEdit*>(widget))
      continue;
    if (widget->objectName().isEmpty()) continue;  // parts Qt builds into its controls
    SCOPED_TRACE(widget->objectName().toStdString());
    ++inputs;
    const std::string name = widget->accessibleName().toStdString();
    EXPECT_FALSE(QString::fromStdString(name).trimmed().isEmpty());
    if (const auto label = labels.find(widget); label != labels.end()) {
      EXPECT_EQ(name, label->second);
    }
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    ASSERT_NE(accessible, nullptr);
    if (!qobject_cast<QComboBox*>(widget)) {
      EXPECT_EQ(accessible->text(QAccessible::Name).toStdString(), name);
    }
  }
  EXPECT_GE(inputs, 30);  // the edits, lists and panes were found at all
}

// ---- Enter on the store tab ----

class StoreEnter : public Keyboard {
 protected:
  void SetUp() override {
    Keyboard::SetUp();
    std::filesystem::create_directories(StoreDir);
    Control<QPushButton>("btnGenCert")->setEnabled(true);  // as after a key pair
  }
  void WriteFile(const std::string& Name, const std::string& Text) const {
    std::ofstream(StoreDir + "/" + Name, std::ios::binary) << Text;
  }
  std::vector<std::string> ListedNames() const {
    const QAbstractItemModel* model = Control<QTableView>("lvCerts")->model();
    std::vector<std::string> names;
    for (int row = 0; row < model->rowCount(); ++row)
      names.push_back(model->index(row, 0).data().toString().toStdString());
    return names;
  }
  QString InfoText() const { return Control<QPlainTextEdit>("memStoreInfo")->toPlainText(); }
};

TEST_F(StoreEnter, InTheDirectoryEditListsTheFolderAgainAndIssuesNothing) {
  QSignalSpy issued(Control<QPushButton>("btnGenCert"), &QPushButton::clicked);
  ASSERT_EQ(FocusName(), "edtStoreDir");
  WriteFile("late.crt", "x");  // arrived after the start-up listing
  ASSERT_TRUE(ListedNames().empty());
  Key(Qt::Key_Return);
  WaitIdle();
  EXPECT_EQ(ListedNames(), std::vector<std::string>({"late.crt"}));

  // A folder typed and entered is the one listed.
  const std::string other = Temp.File("other");
  std::filesystem::create_directories(other);
  std::ofstream(other + "/elsewhere.key") << "k";
  Key(Qt::Key_A, Qt::ControlModifier);
  Type(other);
  Key(Qt::Key_Enter);
  WaitIdle();
  EXPECT_EQ(ListedNames(), std::vector<std::string>({"elsewhere.key"}));
  EXPECT_EQ(issued.count(), 0);
  EXPECT_TRUE(Platform.Messages.empty());
}

TEST_F(StoreEnter, OnARowDescribesThatFileAndIssuesNothing) {
  WriteFile("a.key", "first");
  WriteFile("b.key", "second text");
  Key(Qt::Key_Return);  // list them
  WaitIdle();
  QSignalSpy issued(Control<QPushButton>("btnGenCert"), &QPushButton::clicked);
  Key(Qt::Key_Tab);
  Key(Qt::Key_Tab);
  Key(Qt::Key_Tab);
  ASSERT_EQ(FocusName(), "lvCerts");
  // The list comes in on its first row, not yet picked: Enter picks and describes it.
  ASSERT_TRUE(InfoText().isEmpty());
  Key(Qt::Key_Return);
  WaitIdle();
  EXPECT_TRUE(InfoText().startsWith("File: a.key\n")) << InfoText().toStdString();
  Key(Qt::Key_Down);
  WaitIdle();
  ASSERT_TRUE(InfoText().startsWith("File: b.key\n")) << InfoText().toStdString();
  ASSERT_TRUE(InfoText().contains("Size: 11 bytes"));

  // The file changes on disk; Enter describes it as it is now.
  WriteFile("b.key", "now a longer text");
  Key(Qt::Key_Return);
  WaitIdle();
  EXPECT_TRUE(InfoText().startsWith("File: b.key\n"));
  EXPECT_TRUE(InfoText().contains("Size: 17 bytes")) << InfoText().toStdString();
  Key(Qt::Key_Enter);
  WaitIdle();
  EXPECT_EQ(issued.count(), 0);
  EXPECT_EQ(FocusName(), "lvCerts");
}

// A listed file handed to the Signing tab by keyboard: the focus follows to the chosen mode.
TEST_F(StoreEnter, UseAsCACertificateByKeyboardLeavesTheFocusOnTheSigningTab) {
  WriteFile("ca.crt", "x");
  Key(Qt::Key_Return);
  WaitIdle();
  for (int i = 0; i < 3; ++i) Key(Qt::Key_Tab);
  ASSERT_EQ(FocusName(), "lvCerts");
  Key(Qt::Key_Return);  // picks the first row
  WaitIdle();
  PressByAlt('E', "btnStoreLoadCACert");
  EXPECT_EQ(PageName(), "tabSigning");
  EXPECT_TRUE(Control<QRadioButton>("rbCASign")->isChecked());
  EXPECT_EQ(Control<QLineEdit>("edtCACertFile")->text().toStdString(), StoreDir + "/ca.crt");
  EXPECT_EQ(FocusName(), "rbCASign");
  Key(Qt::Key_Tab);
  EXPECT_EQ(FocusName(), "edtCACertFile");
}

// Elsewhere Enter keeps pressing "Generate Certificate"; on the store tab nothing does.
TEST_F(StoreEnter, NowhereOnTheStoreTabPressesGenerateCertificate) {
  QSignalSpy issued(Control<QPushButton>("btnGenCert"), &QPushButton::clicked);
  for (const char* name : {"edtStoreDir", "lvCerts", "memStoreInfo"}) {
    SCOPED_TRACE(name);
    Control<QWidget>(name)->setFocus();
    ASSERT_EQ(FocusName(), name);
    Key(Qt::Key_Return);
    WaitIdle();
  }
  EXPECT_EQ(issued.count(), 0);
  GoToPage("tabSubject");
  Key(Qt::Key_Return);
  EXPECT_EQ(issued.count(), 1);
}

// ---- Whole certificates by keyboard ----

class KeyboardRoad : public Keyboard {
 protected:
  // "1 - Key": a new key pair, pressed with Space on the button.
  void MakeKey() {
    GoToPage("tabKey");
    while (FocusName() != "btnGenKey" && FocusName() != "memKeyInfo") Key(Qt::Key_Tab);
    PressBySpace("btnGenKey");
    // The button was disabled while the key was made; the focus is back on it.
    EXPECT_EQ(FocusName(), "btnGenKey");
    EXPECT_TRUE(Control<QPushButton>("btnGenCert")->isEnabled());
  }

  void Subject(const std::string& CN) {
    GoToPage("tabSubject");
    ASSERT_EQ(FocusName(), "edtCN");
    Type(CN);  // the edit's text was selected on the way in, so this replaces it
  }

  // "4 - Extensions": the profile picked with the arrow keys, and the DNS name.
  void Extensions(const char* Profile, const std::string& DNSName) {
    GoToPage("tabExt");
    ASSERT_EQ(FocusName(), "cbProfile");
    auto* profiles = Control<QComboBox>("cbProfile");
    Key(Qt::Key_Home);
    for (int i = 0; i < profiles->count() && profiles->currentText() != Profile; ++i)
      Key(Qt::Key_Down);
    ASSERT_EQ(profiles->currentText(), Profile);
    Alt('D');
    ASSERT_EQ(FocusName(), "edtSANDNS");
    Key(Qt::Key_A, Qt::ControlModifier);
    if (DNSName.empty()) {
      Key(Qt::Key_Delete);
    } else {
      Type(DNSName);
    }
  }

  void OutputNames(const std::string& Cert, const std::string& Key) {
    GoToPage("tabOutput");
    ASSERT_EQ(FocusName(), "edtOutCert");
    Type(Cert);
    this->Key(Qt::Key_Tab);
    this->Key(Qt::Key_Tab);
    ASSERT_EQ(FocusName(), "edtOutKey");
    Type(Key);
  }

  void Generate() {
    PressByAlt('G', "btnGenCert");
    EXPECT_EQ(Platform.Confirmations, std::vector<std::string>());
    ASSERT_FALSE(Platform.Messages.empty());
    EXPECT_EQ(Platform.Messages.back(),
              "Certificate generation complete!\nFiles saved to: " + StoreDir);
  }

  std::string StorePath(const std::string& Name) const { return StoreDir + "/" + Name; }
};

std::string CommonName(X509_NAME* Name) {
  char text[256] = {};
  X509_NAME_get_text_by_NID(Name, NID_commonName, text, sizeof text);
  return text;
}

TEST_F(KeyboardRoad, SelfSignedCertificate) {
  MakeKey();
  Subject("kb.example");
  Extensions("TLS Server", "kb.example");
  Generate();

  const X509Ptr cert = ReadCertFile(StorePath("certificate.crt"));
  ASSERT_NE(cert, nullptr);
  const EVP_PKEYPtr key = ReadKeyFile(StorePath("private.key"), "");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(CommonName(X509_get_subject_name(cert.get())), "kb.example");
  EXPECT_EQ(X509_NAME_cmp(X509_get_issuer_name(cert.get()), X509_get_subject_name(cert.get())), 0);
  EXPECT_EQ(X509_verify(cert.get(), key.get()), 1);
  EXPECT_EQ(X509_check_private_key(cert.get(), key.get()), 1);
  EXPECT_NE(X509_get_extended_key_usage(cert.get()) & XKU_SSL_SERVER, 0u);
}

TEST_F(KeyboardRoad, CASignedCertificate) {
  // The CA first, the same way.
  MakeKey();
  Subject("KB Root");
  Extensions("Root CA", "");
  OutputNames("root.crt", "root.key");
  Generate();

  // Then a server certificate it signs, with its CA files typed into the Signing tab.
  MakeKey();
  Subject("leaf.example");
  Extensions("TLS Server", "leaf.example");
  GoToPage("tabSigning");
  ASSERT_EQ(FocusName(), "rbSelfSigned");
  Key(Qt::Key_Down);
  ASSERT_EQ(FocusName(), "rbCASign");
  Key(Qt::Key_Tab);
  ASSERT_EQ(FocusName(), "edtCACertFile");
  Type(StorePath("root.crt"));
  Alt('K');  // "CA Private Key:"
  ASSERT_EQ(FocusName(), "edtCAKeyFile");
  Type(StorePath("root.key"));
  OutputNames("leaf.crt", "leaf.key");
  Generate();

  const X509Ptr root = ReadCertFile(StorePath("root.crt"));
  const X509Ptr leaf = ReadCertFile(StorePath("leaf.crt"));
  const EVP_PKEYPtr leafKey = ReadKeyFile(StorePath("leaf.key"), "");
  ASSERT_NE(root, nullptr);
  ASSERT_NE(leaf, nullptr);
  ASSERT_NE(leafKey, nullptr);
  EXPECT_EQ(X509_check_ca(root.get()), 1);
  EXPECT_EQ(CommonName(X509_get_subject_name(leaf.get())), "leaf.example");
  EXPECT_EQ(X509_NAME_cmp(X509_get_issuer_name(leaf.get()), X509_get_subject_name(root.get())), 0);
  EXPECT_EQ(X509_verify(leaf.get(), X509_get0_pubkey(root.get())), 1);
  EXPECT_EQ(X509_check_private_key(leaf.get(), leafKey.get()), 1);
}

}  // namespace
}  // namespace velmora::test
