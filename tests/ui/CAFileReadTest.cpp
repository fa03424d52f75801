// CA files that cannot be read whole: a pipe, a folder, a file far larger than any certificate
// or key. The command must fail at once with the reason, and write nothing.
#include "tests/ui/CommandFixture.h"
#include "tests/ui/Watchdog.h"

#include <sys/stat.h>

#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

enum class TCAFile { Certificate, Key };

struct UnreadableCase {
  const char* name;
  TCAFile which;  // the CA file that is replaced
  void (*make)(const std::string& Path);
  // The reason after "Cannot read file "<path>". ", or the whole message when whole is set.
  const char* reason;
  bool whole;
};

void PrintTo(const UnreadableCase& c, std::ostream* os) { *os << c.name; }

void MakePipe(const std::string& Path) {
  if (::mkfifo(Path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo " + Path);
}
void MakeFolder(const std::string& Path) { fs::create_directory(Path); }
// One byte over 4 MiB, holding nothing on disk.
void MakeOversized(const std::string& Path) {
  WriteFile(Path, std::string("-----BEGIN CERTIFICATE-----\n"));
  fs::resize_file(Path, 4 * 1024 * 1024 + 1);
}
void MakeLinkToPipe(const std::string& Path) {
  MakePipe(Path + ".pipe");
  fs::create_symlink(Path + ".pipe", Path);
}

class UnreadableCAFile : public CommandFixture, public testing::WithParamInterface<UnreadableCase> {
 protected:
  // A working CA, of which one file is then replaced.
  void MakeCA() {
    const EVP_PKEYPtr key = MakeECKey("P-256");
    WriteFile(CACertFile, CertToPEM(MakeSelfSignedCert(key.get(), "Test CA").get()));
    WriteFile(CAKeyFile, KeyToPKCS8PEM(key.get()));
  }

  const std::string CACertFile = Temp.File("ca.crt");
  const std::string CAKeyFile = Temp.File("ca.key");
};

TEST_P(UnreadableCAFile, FailsAtOnceWithTheReasonAndWritesNothing) {
  const UnreadableCase& c = GetParam();
  MakeCA();
  const std::string replaced = c.which == TCAFile::Certificate ? CACertFile : CAKeyFile;
  fs::remove(replaced);
  c.make(replaced);
  Press("rbECC");
  GenerateKey();
  SetChecked("chkSavePFX", true);
  Press("rbCASign");
  Type("edtCACertFile", CACertFile);
  Type("edtCAKeyFile", CAKeyFile);
  Platform.Messages.clear();

  {
    const TWatchdog watchdog(c.name);
    GenerateCertificate();
  }

  const std::string message =
      c.whole ? c.reason : "Cannot read file \"" + replaced + "\". " + c.reason;
  EXPECT_EQ(LastLogLineText(), "ERROR: " + message);
  EXPECT_EQ(Platform.Messages,
            std::vector<std::string>{"Certificate generation failed:\n" + message});
  EXPECT_EQ(Window->Builder().Cert(), nullptr);
  EXPECT_TRUE(StoreEntries().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnreadableCAFile,
    testing::Values(
        UnreadableCase{"CertificateIsAPipe", TCAFile::Certificate, MakePipe,
                       "It is not a regular file.", false},
        UnreadableCase{"CertificateIsALinkToAPipe", TCAFile::Certificate, MakeLinkToPipe,
                       "It is not a regular file.", false},
        UnreadableCase{"KeyIsAPipe", TCAFile::Key, MakePipe, "It is not a regular file.", false},
        UnreadableCase{"CertificateOver4MiB", TCAFile::Certificate, MakeOversized, "File too large",
                       false},
        UnreadableCase{"KeyOver4MiB", TCAFile::Key, MakeOversized, "File too large", false},
        // A folder fails the existence check before anything is read.
        UnreadableCase{"CertificateIsAFolder", TCAFile::Certificate, MakeFolder,
                       "CA certificate file not found.", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::test
