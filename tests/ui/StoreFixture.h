// A main window whose remembered store directory is a fresh temporary folder, with helpers to
// read the list and the info pane and to pick a row as the user would.
#pragma once

#include "tests/support/CryptoFixtures.h"
#include "tests/ui/WindowFixture.h"

#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QTableView>

#include <fcntl.h>
#include <sys/stat.h>

#include <string>

namespace velmora::test {

class StoreFixture : public WindowFixture {
 protected:
  void SetUp() override {
    Platform.StoreDirSetting = StoreDir();
    WindowFixture::SetUp();
  }

  std::string StoreDir() const { return Store.Path().string(); }
  std::string InStore(const std::string& Name) const { return StoreDir() + "/" + Name; }

  QTableView* List() const { return Control<QTableView>("lvCerts"); }
  int RowCount() const { return List()->model()->rowCount(); }
  // What the list shows in a cell.
  QString Cell(int Row, int Column) const {
    return List()->model()->index(Row, Column).data().toString();
  }
  QString StatusLine() const { return Control<QLabel>("lblStoreDir")->text(); }

  // Every row as "caption|type|size|modified", in the list's order (the Expires column has
  // tests of its own).
  QStringList Rows() const {
    QStringList rows;
    for (int row = 0; row < RowCount(); ++row) {
      QStringList cells;
      for (int column = 0; column < 4; ++column) cells << Cell(row, column);
      rows << cells.join(QLatin1Char('|'));
    }
    return rows;
  }

  QStringList SortedRows() const {
    QStringList rows = Rows();
    rows.sort();
    return rows;
  }

  // The row whose file has exactly these name bytes, or -1.
  int RowOf(const std::string& Name) const {
    for (int row = 0; row < RowCount(); ++row) {
      if (List()->model()->index(row, 0).data(Qt::UserRole).toByteArray().toStdString() == Name)
        return row;
    }
    return -1;
  }

  // Clicks the row of that file, as the user picks a file.
  void SelectRow(const std::string& Name) const {
    const int row = RowOf(Name);
    if (row < 0) throw std::runtime_error("no row for " + Name);
    const QModelIndex cell = List()->model()->index(row, 0);
    List()->scrollTo(cell);
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, List()->visualRect(cell).center());
    WaitIdle();
  }

  void DoubleClickRow(const std::string& Name) const {
    SelectRow(Name);
    const QModelIndex cell = List()->model()->index(RowOf(Name), 0);
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, List()->visualRect(cell).center());
  }

  // The panel's facts of the file and its key, up to the blank line before the details.
  QStringList InfoLines() const {
    const QStringList all = AllInfoLines();
    const qsizetype first = all.indexOf(QString());
    const qsizetype second = first < 0 ? -1 : all.indexOf(QString(), first + 1);
    return second < 0 ? all : all.mid(0, second);
  }

  // Everything the panel shows, details and related store files included.
  QStringList AllInfoLines() const {
    const QString text = Control<QPlainTextEdit>("memStoreInfo")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
  }

  TempDir Store;
};

// Sets the last-write time of a file to a local wall-clock time.
inline void SetModified(const std::string& Path, const QDateTime& Local) {
  const timespec times[2] = {{Local.toSecsSinceEpoch(), 0}, {Local.toSecsSinceEpoch(), 0}};
  if (::utimensat(AT_FDCWD, Path.c_str(), times, 0) != 0)
    throw std::runtime_error("cannot set the time of " + Path);
}

// The regional settings for one test; the system's again afterwards.
class ScopedLocale {
 public:
  explicit ScopedLocale(const QLocale& Locale) { QLocale::setDefault(Locale); }
  ~ScopedLocale() { QLocale::setDefault(QLocale::system()); }
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;
};

}  // namespace velmora::test
