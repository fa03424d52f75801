// A store that holds whatever a user's folder may hold: links that loop or lead nowhere, names
// that are not UTF-8 or as long as a name can be, a huge file, garbage, pipes, and files that
// go away while the list shows them. Nothing may crash or hang, and every row's action must
// reach exactly the file the row names.
#include "core/FileNameText.h"
#include "core/StorePaths.h"
#include "tests/ui/StoreFixture.h"

#include <QDesktopServices>
#include <QLineEdit>
#include <QUrl>

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <random>
#include <vector>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

// "café.crt" with é in Latin-1, and the name a lossy conversion of it gives (U+FFFD for é).
const std::string kLatin1Name = "caf\xE9.crt";
const std::string kReplacedName = "caf\xEF\xBF\xBD.crt";
const QString kLossyCaption = QString::fromUtf16(u"caf\uFFFD.crt");

std::string LongName() { return std::string(255 - 4, 'n') + ".key"; }

std::string Garbage(std::size_t Size) {
  std::mt19937 random(42);
  std::string bytes(Size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

const QString kLockedKey =
    QString::fromUtf16(u"(Encrypted or unreadable key \u2014 password required)");

class HostileStore : public StoreFixture {
 protected:
  void SetUp() override {
    const EVP_PKEYPtr rsa = SharedRSAKey(2048);
    const EVP_PKEYPtr p384 = MakeECKey("P-384");
    fs::create_directory_symlink(StoreDir(), InStore("loop"));
    fs::create_directory_symlink("..", InStore("up.crt"));  // a folder, whatever its name
    fs::create_symlink("self.crt", InStore("self.crt"));
    fs::create_symlink("missing-target", InStore("x.crt"));
    WriteFile(InStore(kLatin1Name), CertToPEM(MakeSelfSignedCert(rsa.get()).get()));
    WriteFile(InStore(kReplacedName), CertToPEM(MakeSelfSignedCert(p384.get()).get()));
    WriteFile(InStore(LongName()), KeyToPKCS8PEM(MakeECKey("P-256").get()));
    // 50 MB that start like a certificate and never end like one.
    WriteFile(InStore("big.pem"), std::string("-----BEGIN CERTIFICATE-----\n"));
    fs::resize_file(InStore("big.pem"), kBigSize);
    for (const char* name : {"garbage.crt", "garbage.key", "garbage.pfx"})
      WriteFile(InStore(name), Garbage(4096));
    WriteFile(InStore("new\nline.crt"), std::string("x"));
    for (const char* name : {"pipe.crt", "pipe.key"})
      if (::mkfifo(InStore(name).c_str(), 0600) != 0) throw std::runtime_error("mkfifo");
    StoreFixture::SetUp();
  }

  static constexpr std::uintmax_t kBigSize = 50u * 1024 * 1024;
};

TEST_F(HostileStore, ListsEveryFileOnceWithoutEnteringTheLoops) {
  struct Row {
    std::string name;
    QString caption;
    QString type;
    QString size;  // empty: the entry leads to no file
  };
  const std::vector<Row> expected = {
      {"self.crt", "self.crt", "Cert", ""},
      {"x.crt", "x.crt", "Cert", ""},
      {kLatin1Name, kLossyCaption, "Cert", "1 KB"},
      {kReplacedName, kLossyCaption, "Cert", "1 KB"},
      {LongName(), QString::fromStdString(LongName()), "Key", "1 KB"},
      {"big.pem", "big.pem", "Cert", "51200 KB"},
      {"garbage.crt", "garbage.crt", "Cert", "4 KB"},
      {"garbage.key", "garbage.key", "Key", "4 KB"},
      {"garbage.pfx", "garbage.pfx", "PFX", "4 KB"},
      {"pipe.crt", "pipe.crt", "Cert", "1 KB"},
      {"pipe.key", "pipe.key", "Key", "1 KB"},
      {"new\nline.crt", "new\nline.crt", "Cert", "1 KB"},
  };
  EXPECT_EQ(RowCount(), static_cast<int>(expected.size())) << Rows().join('\n').toStdString();
  for (const Row& r : expected) {
    SCOPED_TRACE(r.caption.toStdString());
    const int row = RowOf(r.name);
    ASSERT_GE(row, 0);
    EXPECT_EQ(Cell(row, 0), r.caption);
    EXPECT_EQ(Cell(row, 1), r.type);
    EXPECT_EQ(Cell(row, 2), r.size);
    EXPECT_EQ(Cell(row, 3).isEmpty(), r.size.isEmpty());
  }
  EXPECT_TRUE(StatusLine().endsWith(QStringLiteral("   (%1 files)").arg(expected.size())));
  EXPECT_TRUE(Platform.ErrorBoxes.empty());
}

TEST_F(HostileStore, DescribesEachFileOrShowsItsMessage) {
  struct Case {
    std::string name;
    QString last;       // the panel's last line
    bool lastIsPrefix;  // the line only starts so (the loader's text follows)
    std::string error;  // the error box, for an entry that leads to no file
  };
  const std::string noFile = "\": No such file or directory.";
  const Case cases[] = {
      // The exact file: the Latin-1 name holds the RSA certificate, its lossy twin the P-384 one.
      {kLatin1Name, "Has Private Key: False", false, ""},
      {kReplacedName, "Has Private Key: False", false, ""},
      {LongName(), "Key Type: ECC P-256 private key", false, ""},
      {"big.pem", "(Could not parse certificate: File too large (52428800 bytes))", false, ""},
      {"garbage.crt", "(Could not parse certificate: PEM_read_bio_X509. OpenSSL: ", true, ""},
      {"garbage.key", kLockedKey, false, ""},
      {"garbage.pfx",
       QString::fromUtf16(u"PKCS#12 bundle \u2014 use Load buttons to import with password."),
       false, ""},
      {"pipe.crt", "(Could not parse certificate: Not a regular file)", false, ""},
      {"pipe.key", kLockedKey, false, ""},
      {"x.crt", "Size: -1 bytes", false, "Cannot read the date of \"" + InStore("x.crt") + noFile},
      {"self.crt", "Size: -1 bytes", false,
       "Cannot read the date of \"" + InStore("self.crt") +
           "\": Too many levels of symbolic links."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Readable(c.name));
    Platform.ErrorBoxes.clear();
    SelectRow(c.name);
    const QStringList lines = InfoLines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines[0], "File: " + FileNameCaption(c.name));
    if (c.lastIsPrefix)
      EXPECT_TRUE(lines.last().startsWith(c.last)) << lines.last().toStdString();
    else
      EXPECT_EQ(lines.last(), c.last);
    if (c.error.empty()) {
      EXPECT_TRUE(Platform.ErrorBoxes.empty());
    } else {
      EXPECT_EQ(lines.size(), 3);  // File, Path and Size: the date could not be read
      EXPECT_EQ(Platform.ErrorBoxes, std::vector<std::string>{c.error});
    }
  }
  SelectRow(kLatin1Name);
  EXPECT_TRUE(InfoLines().contains("Key Type:     RSA 2048 bit"));
  SelectRow(kReplacedName);
  EXPECT_TRUE(InfoLines().contains("Key Type:     ECC P-384"));

  // A name that no portable path may hold is listed, but no path is made of it.
  Platform.ErrorBoxes.clear();
  SelectRow("new\nline.crt");
  EXPECT_EQ(Platform.ErrorBoxes,
            std::vector<std::string>{"Illegal characters in path: \"new\nline.crt\""});
}

TEST_F(HostileStore, RowActionsReachExactlyTheFileTheRowNames) {
  SelectRow(kLatin1Name);
  Click("btnStoreLoadCACert");
  EXPECT_EQ(TextToFileName(Control<QLineEdit>("edtCACertFile")->text()), InStore(kLatin1Name));
  ShowTab("tabStore");
  SelectRow(LongName());
  Click("btnStoreLoadCAKey");
  EXPECT_EQ(TextToFileName(Control<QLineEdit>("edtCAKeyFile")->text()), InStore(LongName()));
  ShowTab("tabStore");
  DoubleClickRow(kLatin1Name);
  EXPECT_EQ(Platform.OpenedPaths, std::vector<std::string>{InStore(kLatin1Name)});

  // Deleting removes that file, not its lossy twin; a dangling link goes as itself.
  for (const std::string& name : {kLatin1Name, LongName(), std::string("x.crt")}) {
    SCOPED_TRACE(Readable(name));
    SelectRow(name);
    Platform.ConfirmAnswers.push_back(true);
    Click("btnStoreDelete");
    EXPECT_FALSE(fs::exists(fs::symlink_status(InStore(name))));
    EXPECT_EQ(RowOf(name), -1);
  }
  EXPECT_EQ(Platform.Confirmations.front(), "Delete " + Readable(kLatin1Name) + "?");
  EXPECT_TRUE(fs::exists(InStore(kReplacedName)));
  EXPECT_GE(RowOf(kReplacedName), 0);
  // Selecting the dangling link could not describe it; deleting it raised nothing.
  EXPECT_EQ(Platform.ErrorBoxes,
            std::vector<std::string>{"Cannot read the date of \"" + InStore("x.crt") +
                                     "\": No such file or directory."});
}

TEST_F(HostileStore, FileThatVanishesAfterListingReachesTheErrorBox) {
  WriteFile(InStore("gone.key"), std::string("x"));
  Click("btnStoreRefresh");
  fs::remove(InStore("gone.key"));
  const std::string noFile = "\": No such file or directory.";

  SelectRow("gone.key");
  const QStringList shown = {
      "File: gone.key", "Path: " + QString::fromStdString(InStore("gone.key")), "Size: -1 bytes"};
  EXPECT_EQ(InfoLines(), shown);
  EXPECT_EQ(Platform.ErrorBoxes,
            std::vector<std::string>{"Cannot read the date of \"" + InStore("gone.key") + noFile});

  // Deleting it fails the same way: no log line, the row stays, the panel keeps its text.
  Platform.ErrorBoxes.clear();
  Platform.ConfirmAnswers.push_back(true);
  Click("btnStoreDelete");
  EXPECT_EQ(Platform.ErrorBoxes,
            std::vector<std::string>{"Cannot delete \"" + InStore("gone.key") + noFile});
  EXPECT_GE(RowOf("gone.key"), 0);
  EXPECT_EQ(InfoLines(), shown);
  EXPECT_TRUE(LogLines().isEmpty());
}

// Receives what the desktop would be asked to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> Urls;
 public slots:
  void Open(const QUrl& Url) { Urls << Url; }
};

TEST(QtPlatformOpen, HandsTheDesktopEveryByteOfTheName) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
  QtPlatform desktop;
  desktop.OpenInDesktop("/srv/store/" + kLatin1Name);
  desktop.OpenInDesktop("/srv/my store/Zürich.crt");
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  ASSERT_EQ(catcher.Urls.size(), 2);
  EXPECT_EQ(QByteArray::fromPercentEncoding(catcher.Urls[0].toEncoded()).toStdString(),
            "file:///srv/store/" + kLatin1Name);
  EXPECT_EQ(catcher.Urls[1], QUrl::fromLocalFile(QStringLiteral("/srv/my store/Zürich.crt")));
}

}  // namespace
}  // namespace velmora::test

#include "StoreHardeningTest.moc"
