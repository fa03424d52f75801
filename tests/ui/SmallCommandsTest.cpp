// The file dialogs, the output names that follow the e-mail, Clear/Reset and About.
#include "tests/ui/CommandFixture.h"
#include "velmora/Version.h"

#include <QComboBox>
#include <QSignalSpy>

#include <algorithm>
#include <optional>

namespace velmora::test {
namespace {

class SmallCommands : public CommandFixture {};

// ---- Output names follow the e-mail ----

TEST_F(SmallCommands, EveryChangeOfTheEmailRewritesTheFourNames) {
  Type("edtOutKey", "chosen by hand.key");
  ShowTab("tabSubject");
  auto* email = Control<QLineEdit>("edtEmail");
  email->setFocus();
  QSignalSpy certNames(Control<QLineEdit>("edtOutCert"), &QLineEdit::textChanged);
  QTest::keyClicks(email, "a@b");

  QStringList seen;
  for (const QList<QVariant>& call : certNames) seen << call.at(0).toString();
  EXPECT_EQ(seen, QStringList({"a.crt", "a@.crt", "a@b.crt"}));
  EXPECT_EQ(TextIn("edtOutCert"), "a@b.crt");
  EXPECT_EQ(TextIn("edtOutKey"), "a@b.key");
  EXPECT_EQ(TextIn("edtOutPFX"), "a@b.pfx");
  EXPECT_EQ(TextIn("edtFriendly"), "a@b");

  struct Case {
    const char* email;
    const char* cert;
    const char* key;
    const char* pfx;
  };
  const Case cases[] = {
      {"", ".crt", ".key", ".pfx"},
      {" lead@brenmoor.example", " lead@brenmoor.example.crt", " lead@brenmoor.example.key",
       " lead@brenmoor.example.pfx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.email + "\"");
    Type("edtEmail", "x");  // a change is needed to see the names follow
    Type("edtEmail", c.email);
    EXPECT_EQ(TextIn("edtOutCert"), c.cert);
    EXPECT_EQ(TextIn("edtOutKey"), c.key);
    EXPECT_EQ(TextIn("edtOutPFX"), c.pfx);
    EXPECT_EQ(TextIn("edtFriendly"), c.email);
  }
}

// ---- File dialogs ----

struct BrowseCase {
  const char* button;
  bool open;
  const char* title;
  const char* filter;
  const char* defaultExt;
  const char* edit;
  const char* chosen;
  const char* written;
};
void PrintTo(const BrowseCase& c, std::ostream* out) { *out << c.button; }

class Browse : public SmallCommands, public testing::WithParamInterface<BrowseCase> {};

TEST_P(Browse, OffersTheStoreAndWritesBackTheRightPart) {
  const BrowseCase& c = GetParam();
  Press("rbCASign");  // the CA buttons are usable only then
  Type(c.edit, "before");
  auto& answers = c.open ? Platform.OpenFileAnswers : Platform.SaveFileAnswers;
  answers.push_back(std::nullopt);  // cancelled first
  answers.push_back(std::string(c.chosen));

  Press(c.button);
  EXPECT_EQ(TextIn(c.edit), "before");
  Press(c.button);
  EXPECT_EQ(TextIn(c.edit), c.written);

  const auto& calls = c.open ? Platform.OpenFileCalls : Platform.SaveFileCalls;
  EXPECT_TRUE((c.open ? Platform.SaveFileCalls : Platform.OpenFileCalls).empty());
  ASSERT_EQ(calls.size(), 2u);
  for (const TFileDialogOptions& call : calls) {
    EXPECT_EQ(call.Title, c.title);
    EXPECT_EQ(call.Filter, c.filter);
    EXPECT_EQ(call.DefaultExt, c.defaultExt);
    EXPECT_EQ(call.InitialDir, StoreDir);
  }
  EXPECT_TRUE(Platform.ErrorBoxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, Browse,
    testing::Values(BrowseCase{"btnBrowseCACert", true, "Select CA Certificate",
                               "PEM Files|*.pem;*.crt;*.cer|All Files|*.*", "", "edtCACertFile",
                               "/elsewhere/ca dir/root.crt", "/elsewhere/ca dir/root.crt"},
                    BrowseCase{"btnBrowseCAKey", true, "Select CA Private Key",
                               "PEM Files|*.pem;*.key|All Files|*.*", "", "edtCAKeyFile",
                               "/elsewhere/root.key", "/elsewhere/root.key"},
                    BrowseCase{"btnBrowseOutCert", false, "Save Certificate As",
                               "PEM Certificate|*.crt;*.pem|All Files|*.*", "crt", "edtOutCert",
                               "/elsewhere/other folder/server.crt", "server.crt"},
                    BrowseCase{"btnBrowseOutKey", false, "Save Private Key As",
                               "PEM Key|*.key;*.pem|All Files|*.*", "key", "edtOutKey",
                               "/elsewhere/server.key", "server.key"},
                    BrowseCase{"btnBrowseOutPFX", false, "Save PKCS#12 Bundle As",
                               "PKCS#12|*.pfx;*.p12|All Files|*.*", "pfx", "edtOutPFX",
                               "/elsewhere/server.p12", "server.p12"}),
    [](const auto& info) { return std::string(info.param.button); });

// ---- Clear / Reset ----

TEST_F(SmallCommands, ClearStartsOverWithAFreshBuilderAndKeepsTheForm) {
  GenerateKey();
  Type("edtCN", "Kept");
  Type("edtDays", "90");
  Type("edtEmail", "kept@brenmoor.example");
  SetChecked("chkIsCA", true);
  Platform.ConfirmAnswers = {true};  // a CA without Key Cert Sign is issued all the same
  Press("btnGenCert");
  ASSERT_NE(Window->Builder().Cert(), nullptr);
  ASSERT_EQ(Window->Builder().ValidDays, 90);
  ShowTab("tabExt");
  const TCertBuilder* before = &Window->Builder();
  Platform.Messages.clear();

  Press("btnClear");

  const QStringList lines = LogLines();
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(IsStampedLine(lines[0], "Cleared. Ready for a new certificate."));
  EXPECT_TRUE(Control<QPlainTextEdit>("memPreview")->toPlainText().isEmpty());
  EXPECT_FALSE(Control<QPushButton>("btnGenCert")->isEnabled());
  EXPECT_NE(&Window->Builder(), before);
  EXPECT_EQ(Window->Builder().Key(), nullptr);
  EXPECT_EQ(Window->Builder().Cert(), nullptr);
  EXPECT_EQ(Window->Builder().ValidDays, 365);
  EXPECT_TRUE(Window->Builder().Subject.CN.empty());

  EXPECT_EQ(TextIn("edtCN"), "Kept");
  EXPECT_EQ(TextIn("edtDays"), "90");
  EXPECT_EQ(TextIn("edtOutCert"), "kept@brenmoor.example.crt");
  EXPECT_TRUE(Control<QCheckBox>("chkIsCA")->isChecked());
  EXPECT_EQ(Control<QTabWidget>("pgcMain")->currentWidget(), Control<QWidget>("tabExt"));
  EXPECT_EQ(TextIn("edtStoreDir"), StoreDir);
  EXPECT_TRUE(Platform.Messages.empty());
}

// ---- About ----

// What the box must tell, not its every word: the program and its maker, OpenSSL, the key
// choices the form offers, and the version on the last of its thirteen lines.
TEST_F(SmallCommands, AboutShowsTwelveLinesAndTheVersion) {
  Press("btnAbout");
  ASSERT_EQ(Platform.Messages.size(), 1u);
  const QStringList lines = QString::fromStdString(Platform.Messages[0]).split('\n');
  ASSERT_EQ(lines.size(), 12 + 1);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("X.509 Velmora \u2014 "))) << "an em dash";
  EXPECT_TRUE(lines[0].endsWith(QLatin1String(kMakerDomain)));
  EXPECT_TRUE(lines[1].contains(QLatin1String("OpenSSL")));
  EXPECT_EQ(lines.last(), QStringLiteral("Version " VELMORA_VERSION));
  EXPECT_FALSE(QStringLiteral(VELMORA_VERSION).isEmpty());

  // The key choices it names are the ones the form offers.
  const auto* bits = Control<QComboBox>("cmbRSABits");
  const auto* curves = Control<QComboBox>("cmbECCurve");
  const QString rsaRange = bits->itemText(0) + "-" + bits->itemText(bits->count() - 1);
  const auto named = [&lines](const QString& Text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&Text](const QString& Line) { return Line.contains(Text); });
  };
  EXPECT_TRUE(named(rsaRange)) << rsaRange.toStdString();
  for (int i = 0; i < curves->count(); ++i) {
    EXPECT_TRUE(named(curves->itemText(i))) << curves->itemText(i).toStdString();
  }
  EXPECT_TRUE(named(QStringLiteral("PKCS#12")));
  EXPECT_TRUE(LogLines().isEmpty()) << "About is no activity";
}

}  // namespace
}  // namespace velmora::test
