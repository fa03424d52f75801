// The store tab at the window's default size: every column in view, Expires included; and the
// file information pane, which belongs to the folder shown, emptied when the folder changes.
#include "tests/ui/StoreFixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>

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
// Marks read again for an unchanged store repaint nothing; a changed mark repaints its rows.
TEST(StoreListModelMarks, OnlyChangedRevokedMarksAreRepainted) {
  TStoreListModel model;
  std::vector<TStoreRow> rows;
  for (const char* name : {"a.crt", "b.crt", "c.crt", "d.crt"}) {
    TStoreRow row;
    row.Entry.Name = name;
    row.Entry.Kind = TStoreFileKind::Certificate;
    rows.push_back(row);
  }
  model.SetRows(rows);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  const auto rowsOf = [&changed](int Call) {
    const QList<QVariant> arguments = changed.at(Call);
    return std::pair(arguments.at(0).toModelIndex().row(), arguments.at(1).toModelIndex().row());
  };
  model.SetRevoked({"b.crt", "c.crt"});
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(rowsOf(0), std::pair(1, 2));
  model.SetRevoked({"c.crt", "b.crt"});
  EXPECT_EQ(changed.count(), 1);
  model.SetRevoked({"c.crt"});
  ASSERT_EQ(changed.count(), 2);
  EXPECT_EQ(rowsOf(1), std::pair(1, 1));
  EXPECT_EQ(model.data(model.index(2, TStoreListModel::colExpires), Qt::DisplayRole).toString(),
            "revoked");
}

}  // namespace velmora::test
