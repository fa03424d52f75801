// The store tab at the window's default size: every column in view, Expires included; and the
// file information pane, which belongs to the folder shown, emptied when the folder changes.
#include "tests/ui/StoreFixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

#include <filesystem>

namespace velmora::test {
namespace {

class StoreView : public StoreFixture {
 protected:
  void WriteCertificate(const std::string& Name) {
    const EVP_PKEYPtr key = MakeECKey("P-256");
    const X509Ptr cert = MakeSelfSignedCert(key.get(), "View");
    WriteFile(InStore(Name), CertToPEM(cert.get()));
  }
  void Refresh() {
    ShowTab("tabStore");
    Click("btnStoreRefresh");
  }
  std::string InfoText() const {
    return Control<QPlainTextEdit>("memStoreInfo")->toPlainText().toStdString();
  }
};

TEST_F(StoreView, ExpiresIsInViewAtTheDefaultSize) {
  ASSERT_EQ(Window->size(), QSize(940, 800));
  WriteCertificate("a-certificate-with-a-name-longer-than-its-column-has-room-for.crt");
  Refresh();
  ASSERT_EQ(RowCount(), 1);
  ASSERT_FALSE(Cell(0, TStoreListModel::colExpires).isEmpty());
  QApplication::processEvents();

  const QHeaderView* header = List()->horizontalHeader();
  EXPECT_EQ(List()->horizontalScrollBar()->maximum(), 0) << "the list scrolls sideways";
  for (int column = 0; column < TStoreListModel::colCount; ++column) {
    SCOPED_TRACE(column);
    EXPECT_FALSE(header->isSectionHidden(column));
    EXPECT_GE(header->sectionViewportPosition(column), 0);
    EXPECT_LE(header->sectionViewportPosition(column) + header->sectionSize(column),
              List()->viewport()->width());
  }
  // The whole date shows, and the name keeps a column worth reading.
  EXPECT_GE(
      header->sectionSize(TStoreListModel::colExpires),
      List()->sizeHintForIndex(List()->model()->index(0, TStoreListModel::colExpires)).width());
  EXPECT_GE(header->sectionSize(TStoreListModel::colName), 120);

  // A wider window gives the name the room.
  const int name = header->sectionSize(TStoreListModel::colName);
  Window->resize(1240, 800);
  QApplication::processEvents();
  EXPECT_GT(header->sectionSize(TStoreListModel::colName), name);
  EXPECT_EQ(header->sectionSize(TStoreListModel::colExpires), 90);
}

TEST_F(StoreView, FileInfoIsEmptiedWhenTheStoreFolderChanges) {
  const TempDir other;
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"typed",
       [&] {
         Control<QLineEdit>("edtStoreDir")->setText(QString::fromStdString(other.Path().string()));
       }},
      {"chosen",
       [&] {
         Platform.FolderAnswers = {other.Path().string()};
         Click("btnBrowseStoreDir");
       }},
  };
  WriteCertificate("shown.crt");
  for (const auto& [how, change] : changes) {
    SCOPED_TRACE(how);
    Control<QLineEdit>("edtStoreDir")->setText(QString::fromStdString(StoreDir()));
    WaitIdle();
    Refresh();
    SelectRow("shown.crt");
    ASSERT_EQ(InfoText().rfind("File: shown.crt\n", 0), 0u) << InfoText();
    change();
    WaitIdle();
    EXPECT_EQ(RowCount(), 0);
    EXPECT_EQ(InfoText(), "");
  }
}

}  // namespace
}  // namespace velmora::test
