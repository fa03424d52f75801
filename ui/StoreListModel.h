// The store list's rows: one per listed file, kept as the listing found them and shown by a
// QTableView. Cells are made when the view paints them, not one object per cell, so a store
// of a hundred thousand files costs what its entries cost.
#pragma once

#include "core/Store.h"

#include <QAbstractTableModel>

#include <vector>

namespace velmora {

class TStoreListModel final : public QAbstractTableModel {
 public:
  enum TColumn { colName, colType, colSize, colModified, colCount };
  // The name's own bytes, which a caption shows only lossily: every action builds its path
  // from these.
  static constexpr int kNameBytesRole = Qt::UserRole;

  using QAbstractTableModel::QAbstractTableModel;

  // Takes over a listing already in the order the view asks for (see SortEntries).
  void SetEntries(std::vector<TStoreEntry> Entries);
  const TStoreEntry& Entry(int Row) const { return FEntries[static_cast<std::size_t>(Row)]; }
  int SortColumn() const noexcept { return FSortColumn; }
  Qt::SortOrder SortOrder() const noexcept { return FSortOrder; }

  int rowCount(const QModelIndex& Parent = {}) const override;
  int columnCount(const QModelIndex& Parent = {}) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
  void sort(int Column, Qt::SortOrder Order) override;

 private:
  std::vector<TStoreEntry> FEntries;
  TDateTimeFormat FDates;
  int FSortColumn = colName;
  Qt::SortOrder FSortOrder = Qt::AscendingOrder;
};

// Sorts a listing the way the list shows it: names as a file manager orders them (letters
// without regard to case, runs of digits by their value), types by text, sizes and dates by
// value, ties by name. Costs no more than std::sort, so it can run on a worker thread.
void SortEntries(std::vector<TStoreEntry>& Entries, int Column, Qt::SortOrder Order);

// Whether A comes before B in a file manager's order of names.
bool NaturalNameLess(const std::string& A, const std::string& B);

}  // namespace velmora
