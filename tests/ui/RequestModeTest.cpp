// The Signing tab's third mode: "Generate Certificate" writes the private key and a request
// for another CA instead of a certificate.
#include "tests/support/RunCommand.h"
#include "tests/ui/CommandFixture.h"
#include "ui/VelmoraMain.h"

#include <QPlainTextEdit>
#include <QRadioButton>

namespace velmora::test {
namespace {

class RequestMode : public CommandFixture {};

TEST_F(RequestMode, WritesTheKeyAndARequestNamedAfterTheCertificate) {
  if (RunCommand("command -v openssl >/dev/null").status != 0)
    GTEST_FAIL() << "This check reads the request with openssl, which is not installed";
  EXPECT_EQ(Control<QRadioButton>("rbRequest")->text().toStdString(),
            "Certificate request (CSR) for another CA");
  GenerateKey();
  Type("edtOutCert", "server.crt");
  Type("edtSANIP", "192.0.2.5");
  Press("rbRequest");
  // Nothing here is signed by a CA of ours, and there is no certificate to bundle.
  EXPECT_FALSE(Control<QWidget>("grpCA")->isEnabled());
  for (const char* name : {"chkSavePFX", "edtOutPFX", "edtOutPFXPwd", "edtFriendly"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(Control<QWidget>(name)->isEnabled());
  }
  SetChecked("chkSavePFX", false);
  const std::vector<std::string> logBefore = LogTexts();

  GenerateCertificate();

  EXPECT_EQ(Platform.Messages,
            std::vector<std::string>{"Certificate request complete!\nFiles saved to: " + StoreDir});
  EXPECT_EQ(StoreEntries(), (std::vector<std::string>{"private.key", "server.csr"}));
  std::vector<std::string> log = LogTexts();
  log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(logBefore.size()));
  EXPECT_EQ(log, (std::vector<std::string>{"Building certificate request ...",
                                           "Certificate request saved -> server.csr",
                                           "Private key saved -> private.key"}));
  const std::string preview = Control<QPlainTextEdit>("memPreview")->toPlainText().toStdString();
  EXPECT_TRUE(preview.starts_with("-----BEGIN CERTIFICATE REQUEST-----")) << preview;

  const TRun verify = RunCommand("openssl req -verify -noout -text -in " +
                                 Quoted(StoreFile("server.csr")) + " 2>&1");
  ASSERT_EQ(verify.status, 0) << verify.output;
  EXPECT_NE(verify.output.find("CN = command.test"), std::string::npos) << verify.output;
  EXPECT_NE(verify.output.find("DNS:command.test, IP Address:192.0.2.5"), std::string::npos)
      << verify.output;
  const TRun requestKey =
      RunCommand("openssl req -noout -pubkey -in " + Quoted(StoreFile("server.csr")));
  const TRun privateKey =
      RunCommand("openssl pkey -pubout -in " + Quoted(StoreFile("private.key")));
  EXPECT_EQ(requestKey.output, privateKey.output);

  // Back in a certificate mode, the bundle can be chosen again.
  Press("rbSelfSigned");
  EXPECT_TRUE(Control<QWidget>("chkSavePFX")->isEnabled());
}

// The bundle box left ticked from a certificate mode, with passwords that differ, does not
// stop a request: there is no bundle to protect.
TEST_F(RequestMode, BundlePasswordsLeftBehindDoNotStopARequest) {
  GenerateKey();
  SetChecked("chkSavePFX", true);
  Type("edtOutPFXPwd", "one");
  Type("edtOutPFXPwdConfirm", "two");
  Press("rbRequest");
  GenerateCertificate();
  EXPECT_EQ(Platform.Messages,
            std::vector<std::string>{"Certificate request complete!\nFiles saved to: " + StoreDir});
  EXPECT_EQ(StoreEntries(), (std::vector<std::string>{"certificate.csr", "private.key"}));
}

}  // namespace
}  // namespace velmora::test
