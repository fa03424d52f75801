// Signing somebody else's certificate request from the store tab: requests made by openssl
// and Python's cryptography become certificates for their own keys that verify strictly under
// the CA and serve TLS with the requester's key; a request changed after it was signed is
// refused and nothing changes; Clear and Generate Key Pair leave the signing state.
#include "tests/support/ForeignRequests.h"
#include "tests/support/RunCommand.h"
#include "tests/ui/CommandFixture.h"

#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

#include <filesystem>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& Text, const std::string& Part) {
  return Text.find(Part) != std::string::npos;
}

class RequestSigningWindow : public CommandFixture {
 protected:
  void SetUp() override {
    CommandFixture::SetUp();
    const TRun tools = RunCommand(
        "for p in openssl python3 curl; do command -v $p >/dev/null || echo missing $p; done; "
        "python3 -c 'import cryptography' || echo missing cryptography");
    ASSERT_EQ(tools.output, "") << "These checks need openssl, curl and Python's cryptography";
    fs::create_directories(StoreDir);
    const TRun ca = RunCommand(
        "cd " + Quoted(StoreDir) +
        " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3650 "
        "-keyout ca.key -out ca.crt -subj '/CN=Window Request CA' "
        "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign");
    ASSERT_EQ(ca.status, 0) << ca.output;
  }

  // The request in the folder Dir made by the command, moved into the store as Name.
  void MakeRequest(const std::string& Command, const std::string& Dir, const std::string& Name) {
    fs::create_directories(Dir);
    const TRun made = RunCommand("D=" + Quoted(Dir) + "; " + Command);
    ASSERT_EQ(made.status, 0) << made.output;
    fs::copy_file(fs::path(Dir) / "request.csr", StoreFile(Name));
  }

  // "Sign Request..." on the request's row, then the store's CA files as the signer.
  void LoadRequest(const std::string& Name) {
    Press("btnStoreRefresh");
    ChooseOnStoreRow(Name, "actSignRequest");
  }

  TRun OpenSSL(const std::string& Arguments) { return RunCommand("openssl " + Arguments); }

  TRun VerifyUnderCA(const std::string& Cert, const std::string& Host) {
    return OpenSSL("verify -x509_strict -verify_hostname " + Host + " -CAfile " +
                   Quoted(StoreFile("ca.crt")) + " " + Quoted(Cert));
  }

  // The label's tab may be behind another: whether the label itself is shown counts.
  bool SigningStateShown() const { return !Control<QLabel>("lblRequestKey")->isHidden(); }
};

TEST_F(RequestSigningWindow, SignsRequestsOfOpenSSLAndPythonForTheirOwnKeys) {
  int n = 0;
  for (const TForeignRequest& c : ForeignRequests()) {
    SCOPED_TRACE(c.Name);
    const std::string stem = "request" + std::to_string(++n);
    const std::string dir = Temp.File(stem);
    MakeRequest(c.Command, dir, stem + ".csr");
    LoadRequest(stem + ".csr");
    ASSERT_TRUE(Platform.Messages.empty()) << Platform.Messages.back();
    ASSERT_TRUE(Platform.ErrorBoxes.empty()) << Platform.ErrorBoxes.back();
    ASSERT_TRUE(SigningStateShown()) << LogLines().join('\n').toStdString();
    const std::string key = Control<QLabel>("lblRequestKey")->text().toStdString();
    EXPECT_EQ(key, "Public key from request " + stem + ".csr (" +
                       (Contains(c.Command, "rsa:2048") ? "RSA 2048" : "EC P-256") + ")");
    // A request without alternative names gets its common name as one.
    EXPECT_TRUE(Contains(TextIn("edtSANDNS"), c.Host)) << TextIn("edtSANDNS");
    EXPECT_EQ(TextIn("edtOutCert"), stem + ".crt");
    EXPECT_FALSE(Control<QCheckBox>("chkIsCA")->isChecked());

    UseStoreFilesAsCA("ca.crt", "ca.key");
    // The request that asks for a CA gets the question of the checks before issuing.
    Platform.ConfirmAnswers = {true};
    GenerateCertificate();
    ASSERT_EQ(Platform.Messages.back(), CompletionMessage());
    Platform.Messages.clear();
    EXPECT_EQ(std::any_of(Platform.Confirmations.begin(), Platform.Confirmations.end(),
                          [](const std::string& Question) {
                            return Contains(Question, "The request asks for a CA certificate");
                          }),
              c.AsksForCA);
    Platform.Confirmations.clear();

    const std::string cert = StoreFile(stem + ".crt");
    const TRun verify = VerifyUnderCA(cert, c.Host);
    EXPECT_EQ(verify.status, 0) << verify.output;
    EXPECT_TRUE(Contains(OpenSSL("x509 -noout -text -in " + Quoted(cert)).output, "CA:FALSE"));
    // The certificate holds the requester's public key.
    EXPECT_EQ(OpenSSL("x509 -noout -pubkey -in " + Quoted(cert)).output,
              OpenSSL("req -noout -pubkey -in " + Quoted(StoreFile(stem + ".csr"))).output);
    if (!c.Python && !c.AsksForCA) {
      const TRun handshake =
          HandshakeWithCurl(cert, dir + "/request.key", StoreFile("ca.crt"), c.Host);
      EXPECT_EQ(handshake.status, 0) << handshake.output;
      EXPECT_EQ(handshake.output, "200");
    }
  }
  // Only the certificates were written: there is no private key or bundle of a request.
  std::vector<std::string> expected = {"ca.crt", "ca.key"};
  for (int i = 1; i <= n; ++i)
    for (const char* extension : {".crt", ".csr"})
      expected.push_back("request" + std::to_string(i) + extension);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(StoreEntries(), expected);
}

// A request whose subject was changed after it was signed reads, but its signature does not
// verify: it is refused before the form or the key change.
TEST_F(RequestSigningWindow, AnAlteredRequestIsRefusedAndNothingChanges) {
  const std::string dir = Temp.File("altered");
  MakeRequest(ForeignRequests()[2].Command, dir, "original.csr");
  const std::string der = Temp.File("original.der");
  ASSERT_EQ(
      OpenSSL("req -in " + Quoted(StoreFile("original.csr")) + " -outform DER -out " + Quoted(der))
          .status,
      0);
  std::string bytes = FileText(der);
  const std::size_t at = bytes.find("ec.example");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'f';  // "fc.example"
  WriteFile(StoreFile("altered.csr"), bytes);
  fs::remove(StoreFile("original.csr"));
  const std::vector<std::string> files = StoreEntries();

  LoadRequest("altered.csr");
  ASSERT_EQ(Platform.Messages.size(), 1u);
  EXPECT_EQ(Platform.Messages.back(),
            "The certificate request " + StoreFile("altered.csr") +
                " does not verify: it was changed after it was signed, or it is not a "
                "certificate request.");
  EXPECT_FALSE(SigningStateShown());
  EXPECT_EQ(TextIn("edtCN"), "command.test");
  EXPECT_EQ(Window->Builder().Key(), nullptr);
  EXPECT_TRUE(Control<QRadioButton>("rbSelfSigned")->isChecked());
  Press("btnGenCert");
  EXPECT_EQ(StoreEntries(), files);
}

// The form is the signer's to edit, and what it holds is issued: here a subject field and the
// CA the request asks for, granted. Clear / Reset and Generate Key Pair each give the window
// its own key controls and outputs back.
TEST_F(RequestSigningWindow, EditsAreIssuedAndClearOrANewKeyLeaveTheState) {
  MakeRequest(ForeignRequests()[3].Command, Temp.File("ca-request"), "sub.csr");
  const auto keyControlsEnabled = [this] {
    std::vector<bool> enabled;
    for (const char* name : {"grpKeyType", "grpECC", "rbSelfSigned", "rbRequest", "grpOutKey",
                             "chkSavePFX", "edtOutPFX"})
      enabled.push_back(Control<QWidget>(name)->isEnabled());
    return enabled;
  };
  LoadRequest("sub.csr");
  ASSERT_TRUE(SigningStateShown());
  EXPECT_TRUE(Control<QRadioButton>("rbCASign")->isChecked());
  EXPECT_EQ(keyControlsEnabled(), std::vector<bool>(7, false));
  EXPECT_TRUE(Control<QWidget>("btnGenKey")->isEnabled());

  Type("edtO", "Signer Edited");
  SetChecked("chkIsCA", true);
  Type("edtPathLen", "0");
  CheckOnly("clbKeyUsage", {0, 5, 6});  // Digital Signature, Key Cert Sign, CRL Sign
  UseStoreFilesAsCA("ca.crt", "ca.key");
  GenerateCertificate();
  ASSERT_TRUE(Platform.Confirmations.empty()) << Platform.Confirmations.front();
  ASSERT_FALSE(Platform.Messages.empty());
  ASSERT_EQ(Platform.Messages.back(), CompletionMessage());
  const std::string cert = StoreFile("sub.crt");
  const TRun text = OpenSSL("x509 -noout -text -in " + Quoted(cert));
  EXPECT_TRUE(Contains(text.output, "CA:TRUE, pathlen:0")) << text.output;
  EXPECT_TRUE(Contains(text.output, "O = Signer Edited")) << text.output;
  const TRun verify =
      OpenSSL("verify -x509_strict -CAfile " + Quoted(StoreFile("ca.crt")) + " " + Quoted(cert));
  EXPECT_EQ(verify.status, 0) << verify.output;
  EXPECT_TRUE(SigningStateShown());  // until the user leaves it

  for (const char* leave : {"btnClear", "btnGenKey"}) {
    SCOPED_TRACE(leave);
    if (!SigningStateShown()) LoadRequest("sub.csr");
    ASSERT_TRUE(SigningStateShown());
    Press(leave);
    EXPECT_FALSE(SigningStateShown());
    EXPECT_EQ(keyControlsEnabled(), std::vector<bool>(7, true));
  }
  EXPECT_TRUE(Window->Builder().HoldsPrivateKey());
}

}  // namespace
}  // namespace velmora::test
