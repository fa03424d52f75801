// "Generate Certificate": its checks and their order, how the form reaches the builder, what
// is written where, CA files in other encodings, and that no secret leaks into a message.
#include "tests/ui/CommandFixture.h"
#include "ui/VelmoraMain.h"

#include <QComboBox>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>

namespace velmora::test {
namespace {

std::string Failed(const std::string& Message) {
  return "Certificate generation failed:\n" + Message;
}

class CertCommand : public CommandFixture {
 protected:
  // A CA outside the store, as files a user might have been given.
  void MakeOutsideCA(const std::string& KeyPassword = "") {
    MakeCA(CACertFile, CAKeyFile, KeyPassword);
  }

  // A root CA made by the builder, as this program would have made it.
  void MakeCA(const std::string& CertFile, const std::string& KeyFile,
              const std::string& KeyPassword = "") {
    TCertBuilder ca;
    ca.Subject.CN = "Test CA";
    ca.IsCA = true;
    ca.KeyUsage = {kuKeyCertSign, kuCRLSign};
    ca.GenerateKey();
    ca.BuildSelfSigned();
    CACertPEM = ca.CertToPEM();
    CAKeyPEM = ca.KeyToPEM(KeyPassword);
    WriteFile(CertFile, CACertPEM);
    WriteFile(KeyFile, CAKeyPEM);
  }

  void SetCAFiles(const std::string& CertFile, const std::string& KeyFile) {
    Press("rbCASign");
    Type("edtCACertFile", CertFile);
    Type("edtCAKeyFile", KeyFile);
  }

  std::string Preview() const {
    return Control<QPlainTextEdit>("memPreview")->toPlainText().toStdString();
  }

  const std::string CACertFile = Temp.File("ca.crt");
  const std::string CAKeyFile = Temp.File("ca.key");
  std::string CACertPEM, CAKeyPEM;
};

// ---- The checks, in their order ----

TEST_F(CertCommand, WithoutAKeyPairOnlySaysSo) {
  // The button stays enabled after a key generation that failed behind a successful one.
  GenerateKey();
  auto* curves = Control<QComboBox>("cmbECCurve");
  curves->addItem(QStringLiteral("P-999"));
  curves->setCurrentText(QStringLiteral("P-999"));
  Press("btnGenKey");
  ASSERT_EQ(Window->Builder().Key(), nullptr);
  ASSERT_TRUE(Control<QPushButton>("btnGenCert")->isEnabled());
  Control<QPlainTextEdit>("memPreview")->setPlainText(QStringLiteral("earlier text"));
  const QStringList logBefore = LogLines();
  const int busyBefore = Platform.BusyStarts;
  Platform.Messages.clear();

  GenerateCertificate();

  EXPECT_EQ(Platform.Messages,
            std::vector<std::string>{"Please generate a key pair first (Tab 1 -> Generate Key)."});
  EXPECT_EQ(LogLines(), logBefore);
  EXPECT_EQ(Preview(), "earlier text");
  EXPECT_EQ(Platform.BusyStarts, busyBefore);
  EXPECT_FALSE(std::filesystem::exists(StoreDir));
}

struct CheckCase {
  const char* name;
  const char* certFile;  // "<ca>": the CA certificate file, "<dir>": a directory
  const char* keyFile;   // "<ca>": the CA key file, "<missing>": a file that is not there
  const char* message;
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class CACheck : public CertCommand, public testing::WithParamInterface<CheckCase> {};

std::string Resolve(const std::string& Text, const std::string& CAFile, const std::string& Dir,
                    const std::string& Missing) {
  if (Text == "<ca>") return CAFile;
  if (Text == "<dir>") return Dir;
  if (Text == "<missing>") return Missing;
  return Text;
}

TEST_P(CACheck, FailsWithItsMessageAfterCreatingTheStoreAndWritesNothing) {
  const CheckCase& c = GetParam();
  MakeOutsideCA();
  GenerateKey();
  Type("edtCN", "Checked");
  SetChecked("chkSavePFX", true);
  SetCAFiles(Resolve(c.certFile, CACertFile, Temp.Path().string(), Temp.File("none.crt")),
             Resolve(c.keyFile, CAKeyFile, Temp.Path().string(), Temp.File("none.key")));
  Control<QPlainTextEdit>("memPreview")->setPlainText(QStringLiteral("earlier text"));

  GenerateCertificate();

  EXPECT_EQ(LastLogLineText(), std::string("ERROR: ") + c.message);
  EXPECT_EQ(Platform.Messages, std::vector<std::string>{Failed(c.message)});
  EXPECT_TRUE(Platform.ErrorBoxes.empty());
  EXPECT_EQ(Platform.BusyDepthAtBoxes.back(), 1);  // the box comes before the normal cursor
  EXPECT_EQ(Platform.BusyDepth, 0);
  EXPECT_TRUE(Preview().empty());
  EXPECT_TRUE(Control<QPushButton>("btnGenCert")->isEnabled());
  // The form went into the builder and the store was made before the checks ran.
  EXPECT_EQ(Window->Builder().Subject.CN, "Checked");
  EXPECT_TRUE(std::filesystem::is_directory(StoreDir));
  EXPECT_TRUE(StoreEntries().empty());
  EXPECT_EQ(Window->Builder().Cert(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    InOrder, CACheck,
    testing::Values(
        CheckCase{"NoNames", "", "", "Please specify the CA certificate file."},
        CheckCase{"NoCertName", "", "<ca>", "Please specify the CA certificate file."},
        CheckCase{"BlankCertNoKeyName", "   ", "", "Please specify the CA private key file."},
        CheckCase{"BlankNames", "   ", "   ", "CA certificate file not found."},
        CheckCase{"CertIsADirectory", "<dir>", "<ca>", "CA certificate file not found."},
        CheckCase{"MissingCertAndKey", "<missing>", "<missing>", "CA certificate file not found."},
        CheckCase{"BlankKeyName", "<ca>", "   ", "CA key file not found."},
        CheckCase{"MissingKey", "<ca>", "<missing>", "CA key file not found."}),
    [](const auto& info) { return std::string(info.param.name); });

// A pipe passes the existence check but cannot be read whole; it must not hang the window.
TEST_F(CertCommand, ACAFileThatCannotBeReadFailsWithTheReason) {
  MakeOutsideCA();
  const std::string pipe = Temp.File("ca-pipe.crt");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  GenerateKey();
  SetCAFiles(pipe, CAKeyFile);

  GenerateCertificate();

  const std::string message = "Cannot read file \"" + pipe + "\". It is not a regular file.";
  EXPECT_EQ(LastLogLineText(), "ERROR: " + message);
  EXPECT_EQ(Platform.Messages, std::vector<std::string>{Failed(message)});
  EXPECT_TRUE(StoreEntries().empty());
}

// ---- The form into the builder ----

TEST_F(CertCommand, TakesTheSubjectTrimmedAndTheUsagesByPosition) {
  GenerateKey();
  Type("edtCN", "  Velmora Server \t");
  Type("edtO", " Brenmoor");
  Type("edtOU", "Certificates  ");
  Type("edtC", "NL");
  Type("edtST", "\tUtrecht");
  Type("edtL", " Zeist ");
  Type("edtEmail", " admin@brenmoor.example ");
  CheckOnly("clbKeyUsage", {1, 5, 8});
  CheckOnly("clbEKU", {2, 5});
  Platform.ConfirmAnswers = {true};  // issued despite Key Cert Sign without the CA flag

  GenerateCertificate();

  ASSERT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
  const TCertBuilder& b = Window->Builder();
  EXPECT_EQ(b.Subject.CN, "Velmora Server");
  EXPECT_EQ(b.Subject.O, "Brenmoor");
  EXPECT_EQ(b.Subject.OU, "Certificates");
  EXPECT_EQ(b.Subject.C, "NL");
  EXPECT_EQ(b.Subject.ST, "Utrecht");
  EXPECT_EQ(b.Subject.L, "Zeist");
  EXPECT_EQ(b.Subject.Email, "admin@brenmoor.example");
  EXPECT_EQ(b.KeyUsage, (TKeyUsageSet{kuContentCommitment, kuKeyCertSign, kuDecipherOnly}));
  EXPECT_EQ(b.ExtKeyUsage, (TExtKeyUsageSet{ekuCodeSigning, ekuOCSPSigning}));
  // The key settings came from the key command and stay.
  EXPECT_EQ(b.KeyType, ktECC);
  EXPECT_EQ(b.ECCurve, "P-256");

  CheckOnly("clbKeyUsage", {});
  CheckOnly("clbEKU", {});
  GenerateCertificate();
  EXPECT_TRUE(Window->Builder().KeyUsage.empty());
  EXPECT_TRUE(Window->Builder().ExtKeyUsage.empty());
}

struct NumberCase {
  const char* name;
  const char* days;
  bool isCA;
  const char* pathLen;
  std::int32_t expectedDays;
  std::int32_t expectedPathLen;
};

TEST_F(CertCommand, ReadsDaysAndPathLengthWithTheirDefaults) {
  const NumberCase cases[] = {
      {"LeadingBlanks", "  90", false, "0", 90, 0},
      {"TextAfterTheNumber", "90 days", false, "0", 365, 0},
      {"Empty", "", false, "0", 365, 0},
      {"Hexadecimal", "$5A", false, "0", 90, 0},
      {"PathLengthIgnoredWithoutCA", "30", false, "5", 30, 0},
      {"UnlimitedPathLength", "30", true, "-1", 30, -1},
      {"PathLengthNotANumber", "30", true, "two", 30, 0},
      {"PathLengthTwo", "30", true, "2", 30, 2},
  };
  GenerateKey();
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(StoreDir);  // no earlier key to ask about replacing
    Platform.Messages.clear();
    SetChecked("chkIsCA", c.isCA);
    Type("edtDays", c.days);
    Type("edtPathLen", c.pathLen);
    Platform.ConfirmAnswers = {true};  // a CA without Key Cert Sign is issued all the same
    GenerateCertificate();
    EXPECT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
    EXPECT_EQ(Window->Builder().ValidDays, c.expectedDays);
    EXPECT_EQ(Window->Builder().IsCA, c.isCA);
    EXPECT_EQ(Window->Builder().PathLenConstraint, c.expectedPathLen);
  }
}

TEST_F(CertCommand, SplitsEachNameListOnItsOwn) {
  GenerateKey();
  Type("edtSANDNS", " a.example , ,b.example, a.example,");
  Type("edtSANIP", "   ");
  Type("edtSANEmail", ",x@brenmoor.example");
  GenerateCertificate();
  ASSERT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
  EXPECT_EQ(Window->Builder().SANDNSNames,
            (std::vector<std::string>{"a.example", "b.example", "a.example"}));
  EXPECT_TRUE(Window->Builder().SANIPs.empty());
  EXPECT_EQ(Window->Builder().SANEmails, std::vector<std::string>{"x@brenmoor.example"});
}

// ---- What is written where ----

struct OutputCase {
  const char* name;
  const char* certName;
  bool savePFX;
  const char* pfxName;
  std::vector<std::string> files;
  std::vector<std::string> logTail;  // after "Certificate created successfully."
};

void PrintTo(const OutputCase& c, std::ostream* os) { *os << c.name; }

class Outputs : public CertCommand, public testing::WithParamInterface<OutputCase> {};

TEST_P(Outputs, WritesExactlyTheNamedFilesAndLogsEach) {
  const OutputCase& c = GetParam();
  GenerateKey();
  Type("edtOutCert", c.certName);
  SetChecked("chkSavePFX", c.savePFX);
  Type("edtOutPFX", c.pfxName);

  GenerateCertificate();

  EXPECT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
  EXPECT_EQ(StoreEntries(), c.files);
  const QStringList lines = LogLines();
  ASSERT_EQ(lines.size(), 4 + static_cast<int>(c.logTail.size()));
  EXPECT_TRUE(IsStampedLine(lines[3], "Certificate created successfully."));
  for (std::size_t i = 0; i < c.logTail.size(); ++i)
    EXPECT_TRUE(IsStampedLine(lines[4 + static_cast<int>(i)], c.logTail[i]));
  if (c.savePFX && *c.pfxName) {
    // A self-signed certificate's bundle has no chain.
    const TBundle bundle = ReadBundleFile(StoreFile(c.pfxName), "");
    ASSERT_TRUE(bundle.Parsed);
    EXPECT_TRUE(bundle.Key && bundle.Cert);
    EXPECT_EQ(CACount(bundle), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, Outputs,
    testing::Values(
        OutputCase{"AllThree",
                   "certificate.crt",
                   true,
                   "certificate.pfx",
                   {"certificate.crt", "certificate.pfx", "private.key"},
                   {"Certificate saved -> certificate.crt", "Private key saved -> private.key",
                    "PKCS#12 saved -> certificate.pfx"}},
        OutputCase{"NoCertificateName",
                   "",
                   false,
                   "certificate.pfx",
                   {"private.key"},
                   {"Private key saved -> private.key"}},
        OutputCase{"BundleTickedWithoutName",
                   "certificate.crt",
                   true,
                   "",
                   {"certificate.crt", "private.key"},
                   {"Certificate saved -> certificate.crt", "Private key saved -> private.key"}},
        OutputCase{"BundleNamedButNotTicked",
                   "certificate.crt",
                   false,
                   "certificate.pfx",
                   {"certificate.crt", "private.key"},
                   {"Certificate saved -> certificate.crt", "Private key saved -> private.key"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CertCommand, WritesARootedNameWhereItPoints) {
  TempDir elsewhere;
  const std::string target = elsewhere.File("elsewhere.crt");
  GenerateKey();
  Type("edtOutCert", target);
  GenerateCertificate();

  EXPECT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
  EXPECT_NE(ReadCertFile(target), nullptr);
  EXPECT_EQ(StoreEntries(), std::vector<std::string>{"private.key"});
  EXPECT_TRUE(IsStampedLine(LogLines()[4], "Certificate saved -> " + target));
}

TEST_F(CertCommand, AFailedKeyWriteWritesNothingAndLeavesThePreviewEmpty) {
  GenerateKey();
  std::filesystem::create_directories(StoreDir);
  WriteFile(StoreFile("certificate.crt"), std::string("old certificate\n"));
  Type("edtOutKey", "no-such-folder/private.key");
  SetChecked("chkSavePFX", true);
  GenerateCertificate();

  const std::string message = "Cannot create file \"" + StoreFile("no-such-folder/private.key") +
                              "\". " + std::strerror(ENOENT);
  const QStringList lines = LogLines();
  ASSERT_EQ(lines.size(), 5);
  EXPECT_TRUE(IsStampedLine(lines[4], "ERROR: " + message));
  EXPECT_EQ(Platform.Messages, std::vector<std::string>{Failed(message)});
  EXPECT_TRUE(Control<QPlainTextEdit>("memPreview")->toPlainText().isEmpty());
  // The certificate of this run was complete, yet the old one stays beside the old key.
  EXPECT_EQ(StoreEntries(), std::vector<std::string>{"certificate.crt"});
  EXPECT_EQ(FileText(StoreFile("certificate.crt")), "old certificate\n");
}

// A private key may be the only copy of a CA's key: it is replaced only on the user's word,
// and so is a bundle, which holds one. A certificate alone is replaced without asking.
TEST_F(CertCommand, AsksBeforeReplacingAKeyOrABundle) {
  struct Case {
    const char* name;
    std::vector<std::string> existing;
    std::deque<bool> answers;
    std::vector<std::string> asked;  // the names the question lists
    bool written;
  };
  const Case cases[] = {
      {"certificate only", {"certificate.crt"}, {}, {}, true},
      {"key, answered yes", {"private.key"}, {true}, {"private.key"}, true},
      {"key and bundle, answered no",
       {"private.key", "certificate.pfx"},
       {false},
       {"private.key", "certificate.pfx"},
       false},
  };
  GenerateKey();
  SetChecked("chkSavePFX", true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(StoreDir);
    std::filesystem::create_directories(StoreDir);
    for (const std::string& name : c.existing) WriteFile(StoreFile(name), std::string("old\n"));
    Platform.Confirmations.clear();
    Platform.ConfirmAnswers = c.answers;
    Platform.Messages.clear();

    GenerateCertificate();

    if (c.asked.empty()) {
      EXPECT_TRUE(Platform.Confirmations.empty());
    } else {
      std::string question = "These files already exist in the store and will be replaced:\n";
      for (const std::string& name : c.asked) question += name + "\n";
      EXPECT_EQ(Platform.Confirmations, std::vector<std::string>{question + "Replace them?"});
    }
    for (const std::string& name : c.existing)
      EXPECT_EQ(FileText(StoreFile(name)) == "old\n", !c.written) << name;
    if (c.written) {
      EXPECT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
      EXPECT_EQ(StoreEntries(),
                (std::vector<std::string>{"certificate.crt", "certificate.pfx", "private.key"}));
    } else {
      EXPECT_TRUE(Platform.Messages.empty());
      EXPECT_EQ(LastLogLineText(),
                "Certificate generation cancelled; the existing files are kept.");
      EXPECT_EQ(StoreEntries().size(), c.existing.size());
    }
  }
}

// Writing the new key over the CA's key would destroy the CA that signs it; writing the new
// certificate over the CA certificate would also put it into the bundle as its own CA.
TEST_F(CertCommand, RefusesToWriteOverTheCAFiles) {
  struct Case {
    const char* name;
    const char* certName;
    const char* keyName;
    std::string message;
    std::vector<std::string> files;
  };
  const Case cases[] = {
      {"KeyOverCAKey",
       "leaf.crt",
       "ca.key",
       "\"ca.key\" would replace the CA private key file; choose another name.",
       {"ca.crt", "ca.key"}},
      {"CertificateOverCACertificate",
       "ca.crt",
       "leaf.key",
       "\"ca.crt\" would replace the CA certificate file; choose another name.",
       {"ca.crt", "ca.key"}},
  };
  GenerateKey();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(StoreDir);
    std::filesystem::create_directories(StoreDir);
    MakeCA(StoreFile("ca.crt"), StoreFile("ca.key"));
    UseStoreFilesAsCA("ca.crt", "ca.key");
    Type("edtOutCert", c.certName);
    Type("edtOutKey", c.keyName);
    Platform.Messages.clear();

    GenerateCertificate();

    EXPECT_EQ(LastLogLineText(), "ERROR: " + c.message);
    EXPECT_EQ(Platform.Messages, std::vector<std::string>{Failed(c.message)});
    EXPECT_EQ(FileText(StoreFile("ca.crt")), CACertPEM);
    EXPECT_EQ(FileText(StoreFile("ca.key")), CAKeyPEM);
    EXPECT_EQ(StoreEntries(), c.files);
  }
}

// ---- CA files as other editors save them ----

std::string Utf16LE(const std::string& Ascii) {
  std::string out = "\xFF\xFE";
  for (char c : Ascii) out += {c, '\0'};
  return out;
}

std::string Utf16BE(const std::string& Ascii) {
  std::string out = "\xFE\xFF";
  for (char c : Ascii) out += {'\0', c};
  return out;
}

TEST_F(CertCommand, ReadsCAFilesWithAByteOrderMark) {
  struct Case {
    const char* name;
    std::string (*encode)(const std::string&);
  };
  const Case cases[] = {
      {"UTF8", [](const std::string& t) { return "\xEF\xBB\xBF" + t; }},
      {"UTF16LE", Utf16LE},
      {"UTF16BE", Utf16BE},
  };
  MakeOutsideCA("ca pass");
  const X509Ptr ca = ReadCertFile(CACertFile);
  GenerateKey();
  SetCAFiles(CACertFile, CAKeyFile);
  Type("edtCAPwd", "ca pass");
  SetChecked("chkSavePFX", true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(CACertFile, c.encode(CACertPEM));
    WriteFile(CAKeyFile, c.encode(CAKeyPEM));
    Platform.Messages.clear();
    Platform.ConfirmAnswers = {true};  // the earlier case's key and bundle are replaced

    GenerateCertificate();

    ASSERT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
    const X509Ptr leaf = ReadCertFile(StoreFile("certificate.crt"));
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(X509_verify(leaf.get(), X509_get0_pubkey(ca.get())), 1);
    // The bundle's chain comes from the same file, read the same way.
    const TBundle bundle = ReadBundleFile(StoreFile("certificate.pfx"), "");
    ASSERT_EQ(CACount(bundle), 1);
    EXPECT_EQ(X509_cmp(sk_X509_value(bundle.CACerts.get(), 0), ca.get()), 0);
  }
}

// ---- Secrets ----

TEST_F(CertCommand, NoPasswordOrKeyTextReachesTheLogOrAMessage) {
  const std::string secrets[] = {"ca-secret-7731", "wrong-secret-4410", "key-secret-9052",
                                 "pfx-secret-3318"};
  MakeOutsideCA(secrets[0]);
  GenerateKey();
  SetCAFiles(CACertFile, CAKeyFile);
  SetChecked("chkSavePFX", true);
  TypeNewPassword("edtOutKeyPwd", secrets[2]);
  TypeNewPassword("edtOutPFXPwd", secrets[3]);

  Type("edtCAPwd", secrets[1]);  // the wrong one first
  GenerateCertificate();
  ASSERT_EQ(Platform.Messages.size(), 1u);
  EXPECT_TRUE(Platform.Messages[0].starts_with(
      "The password for the CA key is wrong, or the key needs one and none was given; enter the "
      "password the key was saved with.\n\n" +
      Failed("PEM_read_bio_PrivateKey (CA)")))
      << Platform.Messages[0];
  Type("edtCAPwd", secrets[0]);
  GenerateCertificate();
  ASSERT_EQ(Platform.Messages.size(), 2u);
  ASSERT_EQ(Platform.Messages[1], CompletionMessage());
  // The CA key as the CA certificate: its text must not come back in the error.
  SetCAFiles(CAKeyFile, CAKeyFile);
  GenerateCertificate();
  ASSERT_EQ(Platform.Messages.size(), 3u);

  std::string shown = LogLines().join('\n').toStdString();
  for (const std::string& text : Platform.Messages) shown += "\n" + text;
  for (const std::string& text : Platform.ErrorBoxes) shown += "\n" + text;
  for (const std::string& secret : secrets)
    EXPECT_EQ(shown.find(secret), std::string::npos) << secret;
  EXPECT_EQ(shown.find("PRIVATE KEY"), std::string::npos) << shown;
  const std::string keyBody = CAKeyPEM.substr(CAKeyPEM.find('\n') + 1, 40);
  EXPECT_EQ(shown.find(keyBody), std::string::npos) << shown;
}

// What used to end in "complete" for a certificate no client accepts now ends in the failure
// box with nothing written.
TEST_F(CertCommand, RefusesCertificatesNoClientAcceptsAndWritesNothing) {
  struct Case {
    const char* name;
    std::function<void()> fill;
    std::string message;
    // The box's plain words before the message, for a cause users meet often.
    std::string words = "";
  };
  const Case cases[] = {
      {"CA key of another pair",
       [this] {
         MakeOutsideCA();
         TCertBuilder other;
         other.Subject.CN = "Other";
         other.GenerateKey();
         WriteFile(CAKeyFile, other.KeyToPEM(""));
         SetCAFiles(CACertFile, CAKeyFile);
       },
       "The CA private key does not belong to the CA certificate.",
       "The CA key does not belong to the CA certificate; choose the key file that was made "
       "together with this CA certificate.\n\n"},
      {"one-letter country", [this] { Type("edtC", "U"); }, "Subject field C = \"U\". OpenSSL: "},
      {"e-mail name that moves the subject's address",
       [this] {
         Type("edtEmail", "me@example.org");
         Type("edtSANEmail", "move");
       },
       "Invalid subject alternative name \"move\".",
       "An e-mail alternative name cannot be just \"move\"; enter a full mail address such as "
       "name@example.com.\n\n"},
      {"nobody named",
       [this] {
         Type("edtCN", "");
         Type("edtSANDNS", "");
       },
       "A certificate needs a subject or a subject alternative name."},
      {"key password of 342 euro signs",
       [this] {
         std::string euros;
         for (int i = 0; i < 342; ++i) euros += "\u20ac";
         TypeNewPassword("edtOutKeyPwd", euros);
       },
       "Password too long: at most 1023 bytes."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Press("rbSelfSigned");
    for (const char* edit :
         {"edtC", "edtEmail", "edtSANEmail", "edtOutKeyPwd", "edtOutKeyPwdConfirm"})
      Type(edit, "");
    Type("edtCN", "command.test");
    Type("edtSANDNS", "command.test");
    GenerateKey();
    c.fill();
    Platform.Messages.clear();
    // Whatever the checks before issuing find is issued anyway: the build itself refuses.
    Platform.ConfirmAnswers = {true};
    GenerateCertificate();
    ASSERT_EQ(Platform.Messages.size(), 1u);
    EXPECT_EQ(Platform.Messages[0].rfind(c.words + Failed(c.message), 0), 0u)
        << Platform.Messages[0];
    EXPECT_TRUE(StoreEntries().empty());
  }
  EXPECT_EQ(Control<QLineEdit>("edtC")->maxLength(), 2);
  for (const char* edit :
       {"edtCAPwd", "edtOutKeyPwd", "edtOutKeyPwdConfirm", "edtOutPFXPwd", "edtOutPFXPwdConfirm"})
    EXPECT_EQ(Control<QLineEdit>(edit)->maxLength(), 1023) << edit;
}

}  // namespace
}  // namespace velmora::test
