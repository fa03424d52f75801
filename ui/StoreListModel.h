// The store list's rows: one per listed file, kept as the listing found them and shown by a
// QTableView. Cells are made when the view paints them, not one object per cell, so a store
// of a hundred thousand files costs what its entries cost.
#pragma once

#include "core/NameOrder.h"
#include "core/Store.h"

#include <QAbstractTableModel>

#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

// One row: the file as listed, and when its certificate expires (certificates only).
struct TStoreRow {
  TStoreEntry Entry;
  std::optional<std::time_t> NotAfter;
  bool Revoked = false;  // a CRL of the store lists the certificate
};

class TStoreListModel final : public QAbstractTableModel {
 public:
  enum TColumn { colName, colType, colSize, colModified, colExpires, colCount };
  // A certificate this close to its end is shown in amber; one past it in red.
  static constexpr std::int64_t kSoonDays = 30;
  // The name's own bytes, which a caption shows only lossily: every action builds its path
  // from these.
  static constexpr int kNameBytesRole = Qt::UserRole;

  using QAbstractTableModel::QAbstractTableModel;

  // Takes over a listing already in the order the view asks for (see SortRows).
  void SetRows(std::vector<TStoreRow> Rows);
  // Fills in the Expires cells of the files named, as read after the rows were shown. The
  // rows keep their order unless the list is sorted by that column.
  void SetExpiry(const std::vector<std::pair<std::string, std::optional<std::time_t>>>& NotAfter);
  // Marks the certificates named as revoked (and every other as not), as read after the rows
  // were shown.
  void SetRevoked(const std::vector<std::string>& Names);
  const TStoreEntry& Entry(int Row) const { return FRows[static_cast<std::size_t>(Row)].Entry; }
  int SortColumn() const noexcept { return FSortColumn; }
  Qt::SortOrder SortOrder() const noexcept { return FSortOrder; }

  int rowCount(const QModelIndex& Parent = {}) const override;
  int columnCount(const QModelIndex& Parent = {}) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
  void sort(int Column, Qt::SortOrder Order) override;

 private:
  static QVariant ExpiresData(std::time_t NotAfter, int Role);

  std::vector<TStoreRow> FRows;
  TDateTimeFormat FDates;
  int FSortColumn = colName;
  Qt::SortOrder FSortOrder = Qt::AscendingOrder;
};

// Sorts a listing the way the list shows it: names as a file manager orders them (letters
// without regard to case, runs of digits by their value), types by text, sizes, dates and
// expiry by value (files without an expiry last), ties by name. Costs no more than
// std::sort, so it can run on a worker thread.
void SortRows(std::vector<TStoreRow>& Rows, int Column, Qt::SortOrder Order);

}  // namespace velmora
