// The CRL URL edit of the Extensions tab: what it says, and the distribution point that the
// certificate then carries (none while it is empty).
#include "tests/support/RunCommand.h"
#include "tests/ui/CommandFixture.h"

#include <QLabel>
#include <QLineEdit>

namespace velmora::test {
namespace {

class CRLURLEdit : public CommandFixture {};

TEST_F(CRLURLEdit, FilledItBecomesTheDistributionPointEmptyThereIsNone) {
  ShowTab("tabExt");
  EXPECT_EQ(Control<QLabel>("lblCRLURL")->text(), "CRL URL (written into the certificate)");
  EXPECT_EQ(Control<QLabel>("lblCRLURL")->buddy(), Control<QLineEdit>("edtCRLURL"));
  EXPECT_TRUE(Control<QLineEdit>("edtCRLURL")->text().isEmpty());
  for (const std::string& url : {std::string("http://pki.example/root.crl"), std::string()}) {
    SCOPED_TRACE(url);
    GenerateKey();
    Type("edtCN", "crl.example");
    Type("edtCRLURL", url);
    Platform.ConfirmAnswers = {true, true};
    GenerateCertificate();
    ASSERT_EQ(Platform.Messages.back(), CompletionMessage());
    const TRun text =
        RunCommand("openssl x509 -noout -text -in " + Quoted(StoreFile("certificate.crt")));
    ASSERT_EQ(text.status, 0) << text.output;
    EXPECT_EQ(text.output.find("CRL Distribution Points") != std::string::npos, !url.empty());
    if (!url.empty()) {
      EXPECT_NE(text.output.find("URI:" + url), std::string::npos) << text.output;
    }
  }
}

}  // namespace
}  // namespace velmora::test
