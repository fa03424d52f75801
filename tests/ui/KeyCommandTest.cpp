#include "tests/ui/WindowFixture.h"

#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

#include <openssl/core_names.h>
#include <openssl/evp.h>

namespace velmora::test {
namespace {

std::string GroupOf(EVP_PKEY* Key) {
  char name[80] = {};
  size_t length = 0;
  if (EVP_PKEY_get_utf8_string_param(Key, OSSL_PKEY_PARAM_GROUP_NAME, name, sizeof name, &length) !=
      1)
    return {};
  return name;
}

class KeyCommand : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    ShowTab("tabKey");
  }

  void ChooseCurve(const QString& Curve) {
    auto* curves = Control<QComboBox>("cmbECCurve");
    if (curves->findText(Curve) < 0) curves->addItem(Curve);
    curves->setCurrentText(Curve);
  }
};

TEST_F(KeyCommand, MakesAnECKeyFromTheChosenCurveAndEnablesGenerateCertificate) {
  // Whatever an earlier run left must go.
  Window->Log("an earlier line");
  Control<QPlainTextEdit>("memPreview")
      ->setPlainText(QStringLiteral("-----BEGIN CERTIFICATE-----"));
  const TCertBuilder* before = &Window->Builder();

  ChooseCurve(QStringLiteral("P-384"));
  Click("btnGenKey");

  const QStringList lines = LogLines();
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(IsStampedLine(lines[0], "Generating ECC P-384 key pair ..."));
  EXPECT_TRUE(IsStampedLine(lines[1], "Key pair generated successfully."));
  EXPECT_TRUE(Control<QPlainTextEdit>("memPreview")->toPlainText().isEmpty());
  EXPECT_TRUE(Control<QPushButton>("btnGenCert")->isEnabled());

  EXPECT_NE(&Window->Builder(), before);  // a fresh builder, the old one is gone
  ASSERT_NE(Window->Builder().Key(), nullptr);
  EXPECT_EQ(EVP_PKEY_get_base_id(Window->Builder().Key()), EVP_PKEY_EC);
  EXPECT_EQ(GroupOf(Window->Builder().Key()), "secp384r1");

  EXPECT_EQ(Platform.BusyStarts, 1);
  EXPECT_EQ(Platform.BusyDepth, 0);
  EXPECT_TRUE(Platform.Messages.empty());
  EXPECT_TRUE(Platform.ErrorBoxes.empty());
}

struct RSACase {
  const char* name;
  int shownItem;  // -1: nothing shown in the size list
  int bits;
  const char* firstLine;
};
void PrintTo(const RSACase& c, std::ostream* out) { *out << c.name; }

class RSAKeyCommand : public KeyCommand, public testing::WithParamInterface<RSACase> {};

TEST_P(RSAKeyCommand, TakesTheSizeFromTheListAndFallsBackTo2048) {
  const RSACase& c = GetParam();
  Click("rbRSA");
  Control<QComboBox>("cmbRSABits")->setCurrentIndex(c.shownItem);
  Click("btnGenKey");

  const QStringList lines = LogLines();
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(IsStampedLine(lines[0], c.firstLine));
  EXPECT_TRUE(IsStampedLine(lines[1], "Key pair generated successfully."));
  ASSERT_NE(Window->Builder().Key(), nullptr);
  EXPECT_EQ(EVP_PKEY_get_base_id(Window->Builder().Key()), EVP_PKEY_RSA);
  EXPECT_EQ(EVP_PKEY_get_bits(Window->Builder().Key()), c.bits);
  EXPECT_EQ(Window->Builder().RSABits, c.bits);
  EXPECT_TRUE(Control<QPushButton>("btnGenCert")->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, RSAKeyCommand,
    testing::Values(RSACase{"EmptySizeText", -1, 2048, "Generating RSA- key pair ..."},
                    RSACase{"Chosen1024", 0, 1024, "Generating RSA-1024 key pair ..."}),
    [](const auto& info) { return std::string(info.param.name); });

class FailingKeyCommand : public KeyCommand, public testing::WithParamInterface<bool> {};

// A curve libcrypto does not know makes the generation fail for real.
TEST_P(FailingKeyCommand, LogsTheErrorShowsTheBoxAndKeepsTheButtonAsItWas) {
  const bool earlierSuccess = GetParam();
  if (earlierSuccess) {
    Click("btnGenKey");
    ASSERT_TRUE(Control<QPushButton>("btnGenCert")->isEnabled());
  }
  ChooseCurve(QStringLiteral("P-999"));
  Click("btnGenKey");

  const QStringList lines = LogLines();
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(IsStampedLine(lines[0], "Generating ECC P-999 key pair ..."));
  const QString errorLine = lines[1].mid(11);
  EXPECT_TRUE(errorLine.startsWith("ERROR: EC ")) << errorLine.toStdString();
  EXPECT_TRUE(errorLine.contains("OpenSSL: ")) << errorLine.toStdString();

  ASSERT_EQ(Platform.Messages.size(), 1u);
  EXPECT_EQ(QString::fromStdString(Platform.Messages[0]),
            "Key generation failed:\n" + errorLine.mid(7));
  EXPECT_TRUE(Platform.ErrorBoxes.empty());                   // the command handles its own error
  EXPECT_EQ(Platform.BusyDepthAtBoxes, std::vector<int>{1});  // the box comes first,
  EXPECT_EQ(Platform.BusyDepth, 0);                           // then the normal cursor

  EXPECT_EQ(Control<QPushButton>("btnGenCert")->isEnabled(), earlierSuccess);
  EXPECT_EQ(Window->Builder().Key(), nullptr);  // the earlier key went with its builder
}

INSTANTIATE_TEST_SUITE_P(EarlierSuccess, FailingKeyCommand, testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "AfterASuccess" : "FirstRun");
});

}  // namespace
}  // namespace velmora::test
