// The store panel's details of a picked file with its related store files, and a list that
// follows changes other programs make in the folder.
#include "tests/ui/StoreFixture.h"

#include <QLineEdit>
#include <QTabWidget>
#include <QTest>

#include <filesystem>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

class StoreDetails : public StoreFixture {
 protected:
  void SetUp() override {
    const EVP_PKEYPtr caKey = MakeECKey("P-256");
    const X509Ptr ca = MakeSelfSignedCert(caKey.get(), "Panel CA");
    const EVP_PKEYPtr leafKey = MakeECKey("P-256");
    WriteFile(InStore("ca.crt"), CertToPEM(ca.get()));
    WriteFile(InStore("leaf.crt"),
              CertToPEM(MakeSignedCert(leafKey.get(), "leaf.test", ca.get(), caKey.get()).get()));
    WriteFile(InStore("leaf.key"), KeyToPKCS8PEM(leafKey.get()));
    ::chmod(InStore("leaf.key").c_str(), 0644);
    StoreFixture::SetUp();
  }
};

// The file's facts, a blank line, its details, a blank line, then the store's files that
// belong with it, which are read after the rest.
TEST_F(StoreDetails, APickedFileShowsItsDetailsAndRelatedStoreFiles) {
  SelectRow("leaf.crt");
  QStringList all = AllInfoLines();
  EXPECT_EQ(all.mid(0, InfoLines().size()), InfoLines());
  ASSERT_GT(all.size(), InfoLines().size() + 1) << all.join('\n').toStdString();
  EXPECT_EQ(all[InfoLines().size()], "");
  EXPECT_EQ(all[InfoLines().size() + 1], "Subject: CN=leaf.test");
  EXPECT_TRUE(all.contains("Issuer: CN=Panel CA"));
  EXPECT_EQ(all.mid(all.size() - 3),
            (QStringList{"", "Private key in store: leaf.key", "Issued by (in store): ca.crt"}));

  SelectRow("leaf.key");
  all = AllInfoLines();
  EXPECT_EQ(all.mid(InfoLines().size()),
            (QStringList{"", "Warning: readable by other users (mode 0644)", "",
                         "Certificates with this key: leaf.crt"}));
}

// A file handed to the program (its command line, a desktop's "Open with"): its folder is the
// store for this session, the file is picked, and the remembered store stays as it was.
TEST_F(StoreDetails, AFileHandedOverOpensItsFolderForThisSessionOnly) {
  // A file of the folder shown already: the list stays and the file is picked.
  Control<QTabWidget>("pgcMain")->setCurrentIndex(0);
  Window->OpenStoreFile(InStore("leaf.key"));
  WaitIdle();
  EXPECT_EQ(Control<QTabWidget>("pgcMain")->currentWidget(), Control<QWidget>("tabStore"));
  EXPECT_EQ(InfoLines()[0], "File: leaf.key");

  TempDir elsewhere;
  WriteFile(elsewhere.Path() / "other.crt",
            CertToPEM(MakeSelfSignedCert(MakeECKey("P-384").get(), "Elsewhere").get()));
  Window->OpenStoreFile(elsewhere.File("other.crt"));
  WaitIdle();
  EXPECT_EQ(Control<QLineEdit>("edtStoreDir")->text().toStdString(), elsewhere.Path().string());
  ASSERT_EQ(RowCount(), 1);
  EXPECT_TRUE(List()->selectionModel()->isRowSelected(0, {}));
  EXPECT_EQ(InfoLines()[0], "File: other.crt");
  Window->close();
  EXPECT_TRUE(Platform.StoreDirWrites.empty());
}

class StoreFollows : public StoreFixture {
 protected:
  void SetUp() override {
    Platform.WatchDelayMs = 20;
    WriteFile(InStore("a.crt"), CertToPEM(MakeSelfSignedCert(MakeECKey("P-256").get()).get()));
    WriteFile(InStore("b.key"), KeyToPKCS8PEM(MakeECKey("P-256").get()));
    StoreFixture::SetUp();
  }

  // The list catches up on its own; the wait is only how long the test gives it.
  bool ListShows(int Rows) const {
    return QTest::qWaitFor([&] { return RowCount() == Rows && !Window->Busy(); }, 10000);
  }
};

TEST_F(StoreFollows, FilesAddedRemovedOrReplacedOutsideAppearKeepingTheSelection) {
  ASSERT_EQ(RowCount(), 2);
  SelectRow("b.key");

  WriteFile(InStore("c.crt"), CertToPEM(MakeSelfSignedCert(MakeECKey("P-384").get()).get()));
  ASSERT_TRUE(ListShows(3));
  EXPECT_EQ(SortedRows().size(), 3);
  EXPECT_GE(RowOf("c.crt"), 0);
  ASSERT_TRUE(List()->selectionModel()->isRowSelected(RowOf("b.key"), {}));
  EXPECT_EQ(InfoLines()[0], "File: b.key");

  fs::remove(InStore("a.crt"));
  ASSERT_TRUE(ListShows(2));
  EXPECT_EQ(RowOf("a.crt"), -1);
  EXPECT_TRUE(List()->selectionModel()->isRowSelected(RowOf("b.key"), {}));

  // Replaced by another program (written aside, then renamed over it): picked still, and
  // described as it is now.
  WriteFile(InStore("b.tmp"), KeyToPKCS8PEM(MakeECKey("P-384").get()));
  fs::rename(InStore("b.tmp"), InStore("b.key"));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return !Window->Busy() && InfoLines().contains("Key Type: ECC P-384 private key"); },
      10000))
      << AllInfoLines().join('\n').toStdString();
  EXPECT_TRUE(List()->selectionModel()->isRowSelected(RowOf("b.key"), {}));

  // The picked file removed: nothing is picked and the panel is empty.
  fs::remove(InStore("b.key"));
  ASSERT_TRUE(ListShows(1));
  EXPECT_FALSE(List()->selectionModel()->hasSelection());
  EXPECT_TRUE(AllInfoLines().isEmpty());
}

}  // namespace
}  // namespace velmora::test
