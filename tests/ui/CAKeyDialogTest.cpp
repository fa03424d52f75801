// The CA key dialog, once a CA certificate is chosen, starts on the store's key of that
// certificate, or on no name at all: never on the certificate's own name.
#include "tests/ui/CommandFixture.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora::test {
namespace {

class CAKeyDialog : public CommandFixture {
 protected:
  void SetUp() override {
    CommandFixture::SetUp();
    std::filesystem::create_directories(StoreDir);
    CAKey = MakeECKey("P-256");
    OtherKey = MakeECKey("P-256");
    CACert = MakeSelfSignedCert(CAKey.get(), "Dialog Root");
    WriteFile(StoreFile("root.crt"), CertToPEM(CACert.get()));
    Press("rbCASign");
  }

  // The CA certificate chosen with its Browse button.
  void ChooseCACert(const std::string& Path) {
    Platform.OpenFileAnswers = {Path};
    Press("btnBrowseCACert");
    ASSERT_EQ(TextIn("edtCACertFile"), Path);
  }

  // Browse for the CA key (cancelled); the name its dialog started with.
  std::optional<std::string> KeyDialogStart() {
    const std::size_t before = Platform.OpenFileCalls.size();
    Press("btnBrowseCAKey");
    if (Platform.OpenFileCalls.size() != before + 1) throw std::runtime_error("no key dialog");
    const TFileDialogOptions& dialog = Platform.OpenFileCalls.back();
    EXPECT_EQ(dialog.Title, "Select CA Private Key");
    EXPECT_EQ(dialog.InitialDir, StoreDir);
    return dialog.FileName;
  }

  EVP_PKEYPtr CAKey, OtherKey;
  X509Ptr CACert;
};

struct KeyFile {
  const char* name;
  bool ofTheCA;          // the CA certificate's key, or another one
  const char* password;  // empty: written in the clear
};
struct StoreKeys {
  const char* name;
  std::vector<KeyFile> files;
  const char* offered;
};
void PrintTo(const StoreKeys& Case, std::ostream* Out) { *Out << Case.name; }

class CAKeyDialogOffers : public CAKeyDialog, public testing::WithParamInterface<StoreKeys> {};

TEST_P(CAKeyDialogOffers, TheStoresKeyOfTheChosenCertificateOrNoName) {
  for (const KeyFile& file : GetParam().files)
    WriteFile(StoreFile(file.name),
              KeyToPKCS8PEM(file.ofTheCA ? CAKey.get() : OtherKey.get(), file.password));
  ChooseCACert(StoreFile("root.crt"));
  EXPECT_EQ(KeyDialogStart(), std::optional<std::string>(GetParam().offered));
}

INSTANTIATE_TEST_SUITE_P(
    Stores, CAKeyDialogOffers,
    testing::Values(
        StoreKeys{"KeyNamedLikeIt", {{"a.key", false, ""}, {"root.key", true, ""}}, "root.key"},
        StoreKeys{
            "KeyOfAnotherName", {{"a.key", false, ""}, {"signing.key", true, ""}}, "signing.key"},
        StoreKeys{"LockedKeyNamedLikeIt", {{"root.key", true, "secret"}}, "root.key"},
        StoreKeys{"NoKeyOfIt", {{"root.key", false, ""}, {"x.key", false, ""}}, ""},
        StoreKeys{"NoKeys", {}, ""}),
    [](const auto& Info) { return std::string(Info.param.name); });

// The search follows the certificate edit however it changes, and the store it looks into.
TEST_F(CAKeyDialog, FollowsTheCertificateEditAndTheStore) {
  WriteFile(StoreFile("root.key"), KeyToPKCS8PEM(CAKey.get()));
  const X509Ptr other = MakeSelfSignedCert(OtherKey.get(), "Other Root");
  WriteFile(StoreFile("other.crt"), CertToPEM(other.get()));
  WriteFile(StoreFile("other-ca.key"), KeyToPKCS8PEM(OtherKey.get()));

  // Typed by hand.
  Type("edtCACertFile", StoreFile("other.crt"));
  WaitIdle();
  EXPECT_EQ(KeyDialogStart(), std::optional<std::string>("other-ca.key"));
  ChooseCACert(StoreFile("root.crt"));
  EXPECT_EQ(KeyDialogStart(), std::optional<std::string>("root.key"));
  // Handed over from the store tab.
  Press("btnStoreRefresh");
  ClickStoreRow("other.crt");
  Press("btnStoreLoadCACert");
  WaitIdle();
  EXPECT_EQ(KeyDialogStart(), std::optional<std::string>("other-ca.key"));
  // Emptied.
  Type("edtCACertFile", "");
  WaitIdle();
  EXPECT_EQ(KeyDialogStart(), std::optional<std::string>(""));
  // Another store, without the key: the certificate's key is not there.
  ChooseCACert(StoreFile("root.crt"));
  const std::string elsewhere = Temp.File("elsewhere");
  std::filesystem::create_directories(elsewhere);
  Type("edtStoreDir", elsewhere);
  WaitIdle();
  const std::size_t before = Platform.OpenFileCalls.size();
  Press("btnBrowseCAKey");
  ASSERT_EQ(Platform.OpenFileCalls.size(), before + 1);
  EXPECT_EQ(Platform.OpenFileCalls.back().InitialDir, elsewhere);
  EXPECT_EQ(Platform.OpenFileCalls.back().FileName, std::optional<std::string>(""));
}

}  // namespace
}  // namespace velmora::test
