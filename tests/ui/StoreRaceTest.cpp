// Store files that change between the listing and the user's pick: each is described from
// what its one descriptor shows, a pipe or a folder under a certificate's name answers at once
// with its message, and certificates that stayed what they were read as before.
#include "core/TextFile.h"
#include "tests/ui/StoreFixture.h"
#include "tests/ui/Watchdog.h"

#include <cerrno>

#include <sys/stat.h>

#include <filesystem>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

const QString kNotRegular = QStringLiteral("(Could not parse certificate: Not a regular file)");
const QString kLockedKey =
    QString::fromUtf16(u"(Encrypted or unreadable key \u2014 password required)");

class StoreRace : public StoreFixture {
 protected:
  void SetUp() override {
    const EVP_PKEYPtr key = MakeECKey("P-256");
    const X509Ptr cert = MakeSelfSignedCert(key.get());
    Pem = CertToPEM(cert.get());
    WriteFile(InStore("pem.crt"), Pem);
    WriteFile(InStore("der.cer"), CertToDER(cert.get()));
    fs::create_symlink("pem.crt", InStore("link.crt"));
    MakePipe("pipe.crt");
    for (const char* name :
         {"to-pipe.crt", "to-dir.crt", "to-link-to-pipe.crt", "grown.crt", "at-limit.crt"})
      WriteFile(InStore(name), Pem);
    WriteFile(InStore("to-pipe.key"), KeyToPKCS8PEM(key.get()));
    StoreFixture::SetUp();
  }

  void MakePipe(const std::string& Name) const {
    if (::mkfifo(InStore(Name).c_str(), 0600) != 0) throw std::runtime_error("mkfifo " + Name);
  }

  // What the size line must say: the size of what the name leads to now.
  QString SizeLine(const std::string& Name) const {
    struct stat info {};
    if (::stat(InStore(Name).c_str(), &info) != 0) throw std::runtime_error("stat " + Name);
    return QStringLiteral("Size: %1 bytes").arg(static_cast<qint64>(info.st_size));
  }

  std::string Pem;
};

TEST_F(StoreRace, EachFileIsDescribedAsWhatItIsWhenPicked) {
  // The list was made; now the files change under it.
  for (const char* name : {"to-pipe.crt", "to-pipe.key"}) {
    fs::remove(InStore(name));
    MakePipe(name);
  }
  fs::remove(InStore("to-dir.crt"));
  fs::create_directory(InStore("to-dir.crt"));
  fs::remove(InStore("to-link-to-pipe.crt"));
  fs::create_symlink("pipe.crt", InStore("to-link-to-pipe.crt"));
  // 4 MiB is the most that is read; past it the file is refused unread.
  fs::resize_file(InStore("at-limit.crt"), 4 * 1024 * 1024);
  fs::resize_file(InStore("grown.crt"), 4 * 1024 * 1024 + 1);

  const QStringList pemLines = {"Key Type:     ECC P-256", "Sig Algorithm: ES256",
                                "Has Private Key: False"};
  struct Case {
    std::string name;
    QStringList tail;  // the lines after the blank one
  };
  const Case cases[] = {
      {"pem.crt", pemLines},
      {"link.crt", pemLines},      // links are followed
      {"der.cer", pemLines},       // DER reads like the PEM it encodes
      {"at-limit.crt", pemLines},  // the certificate, then zeros up to the limit
      {"grown.crt", {"(Could not parse certificate: File too large (4194305 bytes))"}},
      {"pipe.crt", {kNotRegular}},
      {"to-pipe.crt", {kNotRegular}},
      {"to-pipe.key", {kLockedKey}},
      {"to-dir.crt", {kNotRegular}},
      {"to-link-to-pipe.crt", {kNotRegular}},
  };
  const TWatchdog watchdog("picking store files that are pipes or folders");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SelectRow(c.name);
    const QStringList lines = InfoLines();
    ASSERT_EQ(lines.size(), 5 + c.tail.size()) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0], "File: " + QString::fromStdString(c.name));
    EXPECT_EQ(lines[1], "Path: " + QString::fromStdString(InStore(c.name)));
    EXPECT_EQ(lines[2], SizeLine(c.name));
    EXPECT_TRUE(lines[3].startsWith("Modified: ")) << lines[3].toStdString();
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(lines.mid(5), c.tail);
  }
  EXPECT_TRUE(Platform.ErrorBoxes.empty());
}

// The property the panel rests on: once a file is open, what its name later leads to does
// not matter; the descriptor is checked and read, and it is the file that was opened.
TEST(TReadOnlyFile, ChecksAndReadsTheFileItOpenedWhateverItsNameLeadsToLater) {
  TempDir dir;
  const std::string path = dir.File("ca.crt");
  WriteFile(path, std::string("-----BEGIN CERTIFICATE-----\n"));
  const TReadOnlyFile file(path);
  fs::remove(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);

  const TWatchdog watchdog("reading a file whose name became a pipe");
  ASSERT_EQ(file.Error(), 0);
  EXPECT_TRUE(file.IsRegularFile());
  std::string bytes;
  EXPECT_EQ(file.ReadAll(bytes, kMaxCertificateFileSize), 0);
  EXPECT_EQ(bytes, "-----BEGIN CERTIFICATE-----\n");
  EXPECT_EQ(file.ReadAll(bytes, 10), EFBIG);  // read again, against a smaller limit
  EXPECT_TRUE(bytes.empty());

  // Opened now, the name is the pipe: it opens at once and is refused by its descriptor.
  const TReadOnlyFile pipe(path);
  EXPECT_EQ(pipe.Error(), 0);
  EXPECT_TRUE(S_ISFIFO(pipe.Info().st_mode));
  EXPECT_FALSE(pipe.IsRegularFile());
}

}  // namespace
}  // namespace velmora::test
