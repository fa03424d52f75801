#include "tests/ui/WindowFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTableView>
#include <QTime>

#include <map>
#include <vector>

namespace velmora::test {
namespace {

QStringList ItemsOf(const QComboBox* Combo) {
  QStringList items;
  for (int i = 0; i < Combo->count(); ++i) items << Combo->itemText(i);
  return items;
}

// Each check-list item as "caption" or "[x] caption" when checked.
QStringList ItemsOf(const QListWidget* List) {
  QStringList items;
  for (int i = 0; i < List->count(); ++i) {
    const QListWidgetItem* item = List->item(i);
    items << (item->checkState() == Qt::Checked ? "[x] " : "") + item->text();
  }
  return items;
}

class MainWindow : public WindowFixture {};

TEST_F(MainWindow, OpensOnTheStoreTabWithTheStartValues) {
  EXPECT_EQ(Window->windowTitle(), "X.509 Velmora \u2014 brenmoor.example");
  auto* tabs = Control<QTabWidget>("pgcMain");
  QStringList titles;
  for (int i = 0; i < tabs->count(); ++i)
    titles << tabs->widget(i)->objectName() + "=" + tabs->tabText(i);
  EXPECT_EQ(titles,
            QStringList({"tabKey=1 - Key", "tabSubject=2 - Subject DN", "tabValidity=3 - Validity",
                         "tabExt=4 - Extensions", "tabSigning=5 - Signing", "tabOutput=6 - Output",
                         "tabStore=7 - Certificate Store"}));
  EXPECT_EQ(tabs->currentWidget(), Control<QWidget>("tabStore"));

  // Key tab: elliptic curve chosen, the RSA group disabled but holding its choice.
  EXPECT_TRUE(Control<QRadioButton>("rbECC")->isChecked());
  EXPECT_FALSE(Control<QRadioButton>("rbRSA")->isChecked());
  EXPECT_FALSE(Control<QGroupBox>("grpRSA")->isEnabled());
  EXPECT_TRUE(Control<QGroupBox>("grpECC")->isEnabled());
  EXPECT_EQ(ItemsOf(Control<QComboBox>("cmbRSABits")),
            QStringList({"1024", "2048", "3072", "4096", "8192"}));
  EXPECT_EQ(Control<QComboBox>("cmbRSABits")->currentText(), "2048");
  EXPECT_EQ(ItemsOf(Control<QComboBox>("cmbECCurve")), QStringList({"P-256", "P-384", "P-521"}));
  EXPECT_EQ(Control<QComboBox>("cmbECCurve")->currentText(), "P-256");
  EXPECT_FALSE(Control<QPushButton>("btnGenCert")->isEnabled());
  EXPECT_TRUE(LogLines().isEmpty());

  // Signing and extensions: self-signed, not a CA, path length "0" and disabled.
  EXPECT_TRUE(Control<QRadioButton>("rbSelfSigned")->isChecked());
  EXPECT_FALSE(Control<QGroupBox>("grpCA")->isEnabled());
  EXPECT_FALSE(Control<QCheckBox>("chkIsCA")->isChecked());
  EXPECT_EQ(Control<QLineEdit>("edtPathLen")->text(), "0");
  for (const char* name : {"edtPathLen", "lblPathLen", "lblPathHint"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(Control<QWidget>(name)->isEnabled());
  }
  // The window starts with an EC key, which cannot encipher: Digital Signature alone.
  EXPECT_EQ(ItemsOf(Control<QListWidget>("clbKeyUsage")),
            QStringList({"[x] Digital Signature", "Content Commitment", "Key Encipherment",
                         "Data Encipherment", "Key Agreement", "Key Cert Sign", "CRL Sign",
                         "Encipher Only", "Decipher Only"}));
  EXPECT_EQ(ItemsOf(Control<QListWidget>("clbEKU")),
            QStringList({"[x] TLS Server Authentication", "[x] TLS Client Authentication",
                         "Code Signing", "Email Protection", "Time Stamping", "OCSP Signing"}));

  // Validity and output names.
  EXPECT_EQ(Control<QLineEdit>("edtDays")->text(), "365");
  EXPECT_EQ(Control<QLineEdit>("edtOutCert")->text(), "certificate.crt");
  EXPECT_EQ(Control<QLineEdit>("edtOutKey")->text(), "private.key");
  EXPECT_EQ(Control<QLineEdit>("edtOutPFX")->text(), "certificate.pfx");
  EXPECT_EQ(Control<QLineEdit>("edtFriendly")->text(), "My Certificate");
  EXPECT_FALSE(Control<QCheckBox>("chkSavePFX")->isChecked());

  // Store list: five columns of the given widths; "Modified" at least as wide, and wider
  // where the dates need it (StoreList.ModifiedColumnShowsWholeDatesInEveryLocale); the name
  // takes the width the others leave (StoreView.ExpiresIsInViewAtTheDefaultSize).
  auto* list = Control<QTableView>("lvCerts");
  ASSERT_EQ(list->model()->columnCount(), 5);
  QStringList columns;
  for (int i = 0; i < 5; ++i)
    columns << list->model()->headerData(i, Qt::Horizontal).toString() + "/" +
                   (list->horizontalHeader()->sectionResizeMode(i) == QHeaderView::Stretch
                        ? QStringLiteral("rest")
                        : QString::number(i == 3 ? 130 : list->columnWidth(i)));
  EXPECT_EQ(columns,
            QStringList({"File Name/rest", "Type/60", "Size/70", "Modified/130", "Expires/90"}));
  EXPECT_GE(list->columnWidth(3), 130);
  EXPECT_EQ(Control<QLabel>("lblStoreDir")->text(), "Store: (not set)");

  // Start-up ran to its end without an error box.
  EXPECT_TRUE(Platform.ErrorBoxes.empty());
}

// A label marks an access key only when it has a buddy to give the focus to.
QString CaptionOf(const QWidget* Control) {
  if (auto* label = qobject_cast<const QLabel*>(Control))
    return label->buddy() ? WithoutAccessKey(label->text()) : label->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(Control))
    return WithoutAccessKey(button->text());
  if (auto* group = qobject_cast<const QGroupBox*>(Control))
    return WithoutAccessKey(group->title());
  return QStringLiteral("(no caption)");
}

TEST_F(MainWindow, ControlsCarryTheirCaptions) {
  struct Case {
    const char* name;
    const char* caption;
  };
  const Case cases[] = {
      {"lblTitle", "X.509 Velmora  -  brenmoor.example"},
      {"lblTitle2", "RSA & ECC  -  Self-signed & CA-signed  -  OpenSSL 3.x"},
      {"grpKeyType", "Key Type"},
      {"rbRSA", "RSA"},
      {"rbECC", "Elliptic Curve"},
      {"grpRSA", "RSA Options"},
      {"lblRSABits", "Key Size (bits):"},
      {"grpECC", "ECC Options"},
      {"lblECCurve", "Curve:"},
      {"btnGenKey", "Generate Key Pair"},
      {"lblCN", "Common Name (CN):"},
      {"lblO", "Organization (O):"},
      {"lblOU", "Org. Unit (OU):"},
      {"lblC", "Country (C) 2-letter:"},
      {"lblST", "State / Province (ST):"},
      {"lblL", "Locality / City (L):"},
      {"lblEmail", "Email:"},
      {"lblDays", "Valid for (days):"},
      {"lblDaysHint", "e.g. 365 = 1 year  |  3650 = 10 years  |  36500 = ~100 years"},
      {"grpBC", "Basic Constraints"},
      {"chkIsCA", "This is a CA certificate"},
      {"lblPathLen", "Path Length Constraint:"},
      {"lblPathHint", "(-1 = unlimited)"},
      {"grpKU", "Key Usage"},
      {"grpEKU", "Extended Key Usage"},
      {"grpSAN", "Subject Alternative Names"},
      {"lblSANDNS", "DNS Names:"},
      {"lblSANIP", "IP Addresses:"},
      {"lblSANEmail", "Emails:"},
      {"grpSignMode", "Signing Mode"},
      {"rbSelfSigned", "Self-Signed (Root CA or standalone)"},
      {"rbCASign", "Signed by CA / Sub-CA"},
      {"grpCA", "CA Certificate and Key  (opens from Certificate Store by default)"},
      {"lblCACert", "CA Certificate:"},
      {"btnBrowseCACert", "Browse ..."},
      {"lblCAKey", "CA Private Key:"},
      {"btnBrowseCAKey", "Browse ..."},
      {"lblCAPwd", "Key Password:"},
      {"grpOutCert", "Certificate file name  (saved into Certificate Store directory)"},
      {"btnBrowseOutCert", "Browse ..."},
      {"grpOutKey", "Private Key file name"},
      {"btnBrowseOutKey", "Browse ..."},
      {"lblOutKeyPwd", "Encryption Password (blank = unencrypted):"},
      {"grpOutPFX", "PKCS#12 / PFX Bundle"},
      {"chkSavePFX", "Also save as PKCS#12 (.pfx)"},
      {"btnBrowseOutPFX", "Browse ..."},
      {"lblOutPFXPwd", "PFX Password:"},
      {"lblFriendly", "Friendly Name:"},
      {"grpStoreDir", "Store Directory  (persisted in registry)"},
      {"btnBrowseStoreDir", "Browse"},
      {"btnOpenStoreDir", "Open"},
      {"grpStoreList", "Certificates in Store"},
      {"btnStoreRefresh", "Refresh"},
      {"btnStoreLoadCACert", "Use as CA Certificate"},
      {"btnStoreLoadCAKey", "Use as CA Key"},
      {"btnStoreDelete", "Delete File"},
      {"grpStoreInfo", "File Info"},
      {"grpPreview", "Generated Certificate (PEM preview)"},
      {"btnGenCert", "Generate Certificate"},
      {"btnClear", "Clear / Reset"},
      {"btnAbout", "About"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CaptionOf(Control<QWidget>(c.name)), QString::fromUtf8(c.caption));
  }
  // The ampersands of the subtitle are characters, not access keys.
  EXPECT_EQ(Control<QLabel>("lblTitle2")->textFormat(), Qt::PlainText);
  EXPECT_EQ(Control<QLabel>("lblTitle2")->buddy(), nullptr);
  for (const char* empty :
       {"edtCN", "edtO", "edtOU", "edtC", "edtST", "edtL", "edtEmail", "edtSANDNS", "edtSANIP",
        "edtSANEmail", "edtCACertFile", "edtCAKeyFile", "edtCAPwd", "edtOutKeyPwd",
        "edtOutKeyPwdConfirm", "edtOutPFXPwd", "edtOutPFXPwdConfirm"}) {
    SCOPED_TRACE(empty);
    EXPECT_TRUE(Control<QLineEdit>(empty)->text().isEmpty());
  }
}

// The three name lists show their format; the check box and every usage of the Extensions
// tab say what it means and when to tick it. Nothing else has a tooltip.
TEST_F(MainWindow, TooltipsOnTheNameListsAndEveryChoiceOfTheExtensionsTab) {
  const std::map<QString, QString> expected = {
      {"edtSANDNS", "Comma separated, e.g. brenmoor.example,*.brenmoor.example"},
      {"edtSANIP", "Comma separated, e.g. 192.168.1.1,10.0.0.1"},
      {"edtSANEmail", "Comma separated, e.g. admin@brenmoor.example"},
  };
  QStringList explanations;
  for (const QWidget* widget : Window->findChildren<QWidget*>()) {
    SCOPED_TRACE(widget->objectName().toStdString());
    if (widget->objectName() == "chkIsCA") {
      explanations << widget->toolTip();
      continue;
    }
    const auto it = expected.find(widget->objectName());
    EXPECT_EQ(widget->toolTip(), it == expected.end() ? QString() : it->second);
  }
  for (const char* name : {"clbKeyUsage", "clbEKU"}) {
    const auto* list = Control<QListWidget>(name);
    for (int i = 0; i < list->count(); ++i) explanations << list->item(i)->toolTip();
  }
  ASSERT_EQ(explanations.size(), 1 + 9 + 6);
  for (const QString& tip : explanations) {
    SCOPED_TRACE(tip.toStdString());
    EXPECT_TRUE(tip.contains("Tick it")) << "says when to tick it";
    EXPECT_GT(tip.size(), 60) << "says what it means";
  }
  EXPECT_EQ(QSet<QString>(explanations.begin(), explanations.end()).size(), explanations.size())
      << "each its own";
}

TEST_F(MainWindow, EditsPanesAndListBehaveAsTheirKindDemands) {
  // Passwords show one "*" per character.
  for (const char* name :
       {"edtCAPwd", "edtOutKeyPwd", "edtOutKeyPwdConfirm", "edtOutPFXPwd", "edtOutPFXPwdConfirm"}) {
    SCOPED_TRACE(name);
    auto* edit = Control<QLineEdit>(name);
    edit->setText(QStringLiteral("s3cr\u00e9t"));
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(edit->displayText(), "******");
    EXPECT_EQ(edit->text(), QStringLiteral("s3cr\u00e9t"));
  }
  // The panes are read-only in the fixed-pitch font at 8 points. What is checked is the font
  // the panes ask for, the desktop's fixed-pitch one, not what fontconfig resolves it to: that
  // depends on the fonts installed on the machine running the tests.
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  ASSERT_NE(fixed.family(), QApplication::font().family())
      << "the fixed-pitch font cannot be told from the UI font here";
  for (const char* name : {"memKeyInfo", "memStoreInfo", "memPreview"}) {
    SCOPED_TRACE(name);
    auto* pane = Control<QPlainTextEdit>(name);
    EXPECT_TRUE(pane->isReadOnly());
    EXPECT_EQ(pane->font().family(), fixed.family());
    EXPECT_EQ(pane->font().families(), fixed.families());
    EXPECT_EQ(pane->font().styleHint(), fixed.styleHint());
    EXPECT_EQ(pane->font().fixedPitch(), fixed.fixedPitch());
    EXPECT_EQ(pane->font().pointSize(), 8);
    EXPECT_EQ(pane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  }
  EXPECT_EQ(Control<QPlainTextEdit>("memPreview")->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(Control<QPlainTextEdit>("memPreview")->horizontalScrollBarPolicy(),
            Qt::ScrollBarAlwaysOn);

  // The rest speaks the UI font: 9 points, with the stated exceptions.
  EXPECT_EQ(Control<QLineEdit>("edtCN")->font().pointSize(), 9);
  EXPECT_EQ(Control<QLabel>("lblTitle")->font().pointSize(), 11);
  EXPECT_TRUE(Control<QLabel>("lblTitle")->font().bold());
  EXPECT_EQ(Control<QLabel>("lblTitle2")->font().pointSize(), 8);
  EXPECT_EQ(Control<QLabel>("lblStoreDir")->font().pointSize(), 8);
  EXPECT_EQ(Control<QPushButton>("btnGenCert")->font().pointSize(), 10);
  EXPECT_TRUE(Control<QPushButton>("btnGenCert")->font().bold());

  struct Size {
    const char* name;
    int width, height;  // 0: not fixed
  };
  for (const Size& s : {Size{"btnGenKey", 200, 36}, Size{"btnGenCert", 220, 36},
                        Size{"btnClear", 120, 36}, Size{"btnAbout", 80, 36}, Size{"edtC", 60, 0},
                        Size{"edtPathLen", 48, 0}, Size{"Image2", 40, 40}}) {
    SCOPED_TRACE(s.name);
    const QWidget* widget = Control<QWidget>(s.name);
    EXPECT_EQ(widget->width(), s.width);
    if (s.height) {
      EXPECT_EQ(widget->height(), s.height);
    }
  }
  EXPECT_EQ(Control<QLineEdit>("edtC")->maxLength(), 2);
  ShowTab("tabExt");
  for (const char* name : {"clbKeyUsage", "clbEKU"}) {
    SCOPED_TRACE(name);
    auto* checkList = Control<QListWidget>(name);
    EXPECT_EQ(checkList->visualItemRect(checkList->item(0)).height(), 17);
  }

  auto* list = Control<QTableView>("lvCerts");
  EXPECT_TRUE(list->showGrid());
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
  // Sorted by name to begin with; a click on a header sorts by that column.
  EXPECT_TRUE(list->isSortingEnabled());
  EXPECT_EQ(list->horizontalHeader()->sortIndicatorSection(), 0);
  EXPECT_EQ(list->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);

  EXPECT_FALSE(Window->windowIcon().pixmap(32, 32).isNull());
}

TEST_F(MainWindow, CountryTakesTwoCharactersAtMost) {
  ShowTab("tabSubject");
  auto* country = Control<QLineEdit>("edtC");
  QTest::keyClicks(country, "DEU");
  EXPECT_EQ(country->text(), "DE");
}

TEST_F(MainWindow, GroupsFollowTheirRadioButtonsAndCheckBox) {
  ShowTab("tabKey");
  Click("rbRSA");
  EXPECT_TRUE(Control<QGroupBox>("grpRSA")->isEnabled());
  EXPECT_FALSE(Control<QGroupBox>("grpECC")->isEnabled());
  EXPECT_EQ(Control<QComboBox>("cmbRSABits")->currentText(), "2048");
  EXPECT_EQ(Control<QComboBox>("cmbECCurve")->currentText(), "P-256");
  Click("rbECC");
  EXPECT_FALSE(Control<QGroupBox>("grpRSA")->isEnabled());
  EXPECT_TRUE(Control<QGroupBox>("grpECC")->isEnabled());

  ShowTab("tabSigning");
  Click("rbCASign");
  EXPECT_TRUE(Control<QGroupBox>("grpCA")->isEnabled());
  Click("rbSelfSigned");
  EXPECT_FALSE(Control<QGroupBox>("grpCA")->isEnabled());
  // A change made by the program counts like a click.
  Control<QRadioButton>("rbCASign")->setChecked(true);
  EXPECT_TRUE(Control<QGroupBox>("grpCA")->isEnabled());

  ShowTab("tabExt");
  const std::vector<const char*> pathLength = {"edtPathLen", "lblPathLen", "lblPathHint"};
  Click("chkIsCA");
  for (const char* name : pathLength) EXPECT_TRUE(Control<QWidget>(name)->isEnabled()) << name;
  auto* edit = Control<QLineEdit>("edtPathLen");
  edit->selectAll();
  QTest::keyClicks(edit, "-1");
  Click("chkIsCA");
  for (const char* name : pathLength) EXPECT_FALSE(Control<QWidget>(name)->isEnabled()) << name;
  EXPECT_EQ(edit->text(), "-1");
}

TEST_F(MainWindow, RegionsKeepTheirHeightsAndFollowTheWidth) {
  struct Region {
    const char* name;
    int top, height;
  };
  const auto check = [this](int width, std::initializer_list<Region> regions) {
    for (const Region& r : regions) {
      SCOPED_TRACE(r.name);
      const QRect area = Control<QWidget>(r.name)->geometry();
      EXPECT_EQ(area.top(), r.top);
      EXPECT_EQ(area.height(), r.height);
      EXPECT_EQ(area.left(), 0);
      EXPECT_EQ(area.width(), width);
    }
  };
  EXPECT_EQ(Window->size(), QSize(940, 800));
  check(
      940,
      {{"pnlTop", 0, 48}, {"pgcMain", 48, 500}, {"grpPreview", 580, 168}, {"pnlBottom", 748, 52}});
  // A taller window only widens the empty band above the preview.
  Window->resize(1100, 900);
  QApplication::processEvents();
  check(
      1100,
      {{"pnlTop", 0, 48}, {"pgcMain", 48, 500}, {"grpPreview", 680, 168}, {"pnlBottom", 848, 52}});
}

TEST(LogStamp, IsTwoDigitHoursMinutesAndSecondsInBrackets) {
  EXPECT_EQ(LogStamp(QTime(9, 5, 7)), "[09:05:07] ");
  EXPECT_EQ(LogStamp(QTime(0, 0, 0)), "[00:00:00] ");
  EXPECT_EQ(LogStamp(QTime(23, 59, 59, 999)), "[23:59:59] ");
}

TEST_F(MainWindow, LogAppendsStampedLinesAndKeepsTheLastInView) {
  Window->Log("first entry");
  Window->Log("two\nlines");
  QStringList lines = LogLines();
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(IsStampedLine(lines[0], "first entry"));
  EXPECT_TRUE(IsStampedLine(lines[1], "two"));
  EXPECT_EQ(lines[2], "lines");

  ShowTab("tabKey");
  auto* scroll = Control<QPlainTextEdit>("memKeyInfo")->verticalScrollBar();
  for (int i = 0; i < 200; ++i) Window->Log("entry " + std::to_string(i));
  ASSERT_GT(scroll->maximum(), 0);
  EXPECT_EQ(scroll->value(), scroll->maximum());
  // Also when the user had scrolled back to the top.
  scroll->setValue(0);
  Window->Log("the last one");
  EXPECT_EQ(scroll->value(), scroll->maximum());
  lines = LogLines();
  EXPECT_EQ(lines.size(), 204);
  EXPECT_TRUE(IsStampedLine(lines.last(), "the last one"));
}

struct EnterCase {
  const char* name;
  const char* tab;
  const char* focus;
  bool genCertEnabled;
  int genCertClicks;
  int focusClicks;  // clicks of the focused control when it is a button
};
void PrintTo(const EnterCase& c, std::ostream* out) { *out << c.name; }

class DefaultButton : public WindowFixture, public testing::WithParamInterface<EnterCase> {};

TEST_P(DefaultButton, EnterPressesGenerateCertificateUnlessTheFocusTakesIt) {
  const EnterCase& c = GetParam();
  auto* genCert = Control<QPushButton>("btnGenCert");
  genCert->setEnabled(c.genCertEnabled);
  ShowTab(c.tab);
  QWidget* focus = Control<QWidget>(c.focus);
  focus->setFocus();
  ASSERT_EQ(Window->focusWidget(), focus);

  QSignalSpy genCertClicks(genCert, &QPushButton::clicked);
  auto* focusButton = qobject_cast<QAbstractButton*>(focus);
  QSignalSpy focusClicks(focusButton ? focusButton : static_cast<QAbstractButton*>(genCert),
                         &QAbstractButton::clicked);
  QTest::keyClick(focus, Qt::Key_Return);
  QTest::keyClick(focus, Qt::Key_Enter);
  EXPECT_EQ(genCertClicks.count(), 2 * c.genCertClicks);
  if (focusButton) {
    EXPECT_EQ(focusClicks.count(), 2 * c.focusClicks);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Focus, DefaultButton,
    testing::Values(EnterCase{"EditWhileDisabled", "tabSubject", "edtCN", false, 0, 0},
                    EnterCase{"Edit", "tabSubject", "edtCN", true, 1, 0},
                    EnterCase{"CheckBox", "tabOutput", "chkSavePFX", true, 1, 0},
                    EnterCase{"CheckList", "tabExt", "clbKeyUsage", true, 1, 0},
                    EnterCase{"TextPane", "tabKey", "memKeyInfo", true, 0, 0},
                    EnterCase{"OtherButton", "tabKey", "btnAbout", true, 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::test
