// The window's boxes put a common cause in plain words before the exact message, which the log
// keeps alone; and "Open" says so when the desktop cannot open what it was handed.
#include "tests/ui/CommandFixture.h"
#include "tests/ui/StoreFixture.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::test {
namespace {

std::string Failed(const std::string& Message) {
  return "Certificate generation failed:\n" + Message;
}

class PlainWordsInTheBoxes : public CommandFixture {
 protected:
  // The message the command logged for its failure, without "ERROR: ".
  std::string LoggedError() const {
    const std::string line = LastLogLineText();
    EXPECT_EQ(line.rfind("ERROR: ", 0), 0u) << line;
    return line.substr(std::min<std::size_t>(line.size(), 7));
  }
};

// The CA certificate file is looked into only when it held no certificate: the box then says
// what the file holds instead.
TEST_F(PlainWordsInTheBoxes, ACAFileOfTheWrongKindIsNamedForWhatItHolds) {
  const EVP_PKEYPtr caKey = MakeECKey("P-256");
  const X509Ptr caCert = MakeSelfSignedCert(caKey.get(), "Box CA");
  const std::string keyFile = Temp.File("ca.key");
  WriteFile(keyFile, KeyToPKCS8PEM(caKey.get()));
  WriteFile(Temp.File("ca.der"), CertToDER(caCert.get()));
  struct Case {
    const char* name;
    std::string certFile;
    std::string words;
  };
  const Case cases[] = {
      {"KeyChosenAsCertificate", keyFile,
       "The CA certificate file holds a private key, not a certificate; choose the CA's "
       "certificate file here and give the key file as the CA key."},
      {"BinaryCertificate", Temp.File("ca.der"),
       "The CA certificate file is in binary (DER) form, but it must be PEM text; convert it to "
       "PEM and choose the converted file."},
  };
  GenerateKey();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Press("rbCASign");
    Type("edtCACertFile", c.certFile);
    Type("edtCAKeyFile", keyFile);
    Platform.Messages.clear();
    GenerateCertificate();
    const std::string message = LoggedError();
    EXPECT_EQ(message.rfind("PEM_read_bio_X509 (CA cert). OpenSSL: ", 0), 0u) << message;
    EXPECT_EQ(Platform.Messages, std::vector<std::string>{c.words + "\n\n" + Failed(message)});
    EXPECT_TRUE(StoreEntries().empty());
  }
}

TEST_F(PlainWordsInTheBoxes, AHostNameAmongTheIPAddressesIsNamed) {
  Type("edtSANIP", "10.0.0.1, localhost");
  GenerateKey();
  GenerateCertificate();
  const std::string message = LoggedError();
  EXPECT_EQ(message.rfind("X509V3_EXT_conf_nid nid=85 val=", 0), 0u) << message;
  EXPECT_EQ(Platform.Messages,
            std::vector<std::string>{
                "The IP address field holds \"localhost\", which is not an IP address; write "
                "addresses such as 192.168.1.10 or ::1 there, and put host names among the DNS "
                "names.\n\n" +
                Failed(message)});
}

// Root may write anywhere; the folder without write permission only stops an ordinary user
// (the window tests also run as one).
TEST_F(PlainWordsInTheBoxes, AStoreFolderThatCannotBeMadeSaysWhyInPlainWords) {
  if (::geteuid() == 0) GTEST_SKIP() << "root is never refused by a folder's permissions";
  const std::string locked = Temp.File("locked");
  std::filesystem::create_directory(locked);
  ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
  Type("edtStoreDir", locked + "/Certificates");
  WaitIdle();
  Press("btnOpenStoreDir");
  ::chmod(locked.c_str(), 0755);
  EXPECT_EQ(Platform.ErrorBoxes,
            std::vector<std::string>{
                "You do not have permission to write in this folder; choose another store "
                "folder, or get write permission for this one.\n\nCannot create directory \"" +
                locked + "/Certificates\": Permission denied."});
  EXPECT_TRUE(Platform.OpenedPaths.empty());
}

// Every error box passes through the words, the full stop the box adds staying with the
// message; a box whose text only looks like a cause shows as it is.
TEST(PlainWordsInTheErrorBox, ComeBeforeTheMessageAsTheBoxEndsIt) {
  FakePlatform platform;
  RunGuarded(platform, [] {
    throw Exception("Cannot create directory \"/media/cdrom/Certificates\": Read-only file system",
                    SystemFailure(kStepCreateDirectory, EROFS));
  });
  EXPECT_EQ(platform.ErrorBoxes,
            std::vector<std::string>{
                "This folder is on a read-only disk, so nothing can be saved in it; choose a "
                "store folder on a disk that can be written.\n\nCannot create directory "
                "\"/media/cdrom/Certificates\": Read-only file system."});
  const std::string done =
      "Certificate generation complete!\nFiles saved to: /srv/Permission denied";
  platform.ShowMessage(done);
  EXPECT_EQ(platform.Messages, std::vector<std::string>{done});
}

class DesktopWithoutProgram : public StoreFixture {};

TEST_F(DesktopWithoutProgram, OpenAndDoubleClickSayTheDesktopCouldNotOpenThePath) {
  WriteFile(InStore("a.crt"), std::string("x"));
  Platform.DesktopOpens = false;
  Click("btnStoreRefresh");
  Click("btnOpenStoreDir");
  DoubleClickRow("a.crt");
  EXPECT_EQ(Platform.OpenedPaths, (std::vector<std::string>{StoreDir(), InStore("a.crt")}));
  EXPECT_EQ(Platform.ErrorBoxes,
            (std::vector<std::string>{"The desktop could not open \"" + StoreDir() +
                                          "\": no program is set up to open it.",
                                      "The desktop could not open \"" + InStore("a.crt") +
                                          "\": no program is set up to open it."}));
  // A desktop that opens it says nothing.
  Platform.DesktopOpens = true;
  Click("btnOpenStoreDir");
  EXPECT_EQ(Platform.ErrorBoxes.size(), 2u);
}

}  // namespace
}  // namespace velmora::test
