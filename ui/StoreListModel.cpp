#include "ui/StoreListModel.h"

#include "core/FileNameText.h"
#include "core/NameOrder.h"
#include "core/Store.h"
#include "core/StoreExpiry.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace velmora {

namespace {

// The first 16 bytes of a sort key as two big-endian integers, shorter keys padded with zero
// bytes: two prefixes that differ order as their keys do (bytes compare unsigned, as
// std::string's compare does), and equal ones leave it to the whole keys.
struct TKeyPrefix {
  std::uint64_t High = 0, Low = 0;

  int Compare(const TKeyPrefix& Other) const {
    if (High != Other.High) return High < Other.High ? -1 : 1;
    if (Low != Other.Low) return Low < Other.Low ? -1 : 1;
    return 0;
  }
};

TKeyPrefix PrefixOf(const std::string& Key) {
  TKeyPrefix prefix;
  for (std::size_t i = 0; i < 16; ++i) {
    const std::uint64_t byte = i < Key.size() ? static_cast<unsigned char>(Key[i]) : 0;
    std::uint64_t& half = i < 8 ? prefix.High : prefix.Low;
    half = (half << 8) | byte;
  }
  return prefix;
}

}  // namespace

void SortRows(std::vector<TStoreRow>& Rows, int Column, Qt::SortOrder Order) {
  const auto key = [Column](const TStoreRow& RowA, const TStoreRow& RowB) {
    const TStoreEntry& A = RowA.Entry;
    const TStoreEntry& B = RowB.Entry;
    switch (Column) {
      case TStoreListModel::colType:
        return std::string_view(TypeText(A.Kind)).compare(TypeText(B.Kind));
      case TStoreListModel::colSize: return A.Size < B.Size ? -1 : (B.Size < A.Size ? 1 : 0);
      case TStoreListModel::colModified:
        return A.Modified < B.Modified ? -1 : (B.Modified < A.Modified ? 1 : 0);
      case TStoreListModel::colExpires:
        if (RowA.NotAfter.has_value() != RowB.NotAfter.has_value()) return RowA.NotAfter ? -1 : 1;
        if (!RowA.NotAfter) return 0;
        return *RowA.NotAfter < *RowB.NotAfter ? -1 : (*RowB.NotAfter < *RowA.NotAfter ? 1 : 0);
      default: return 0;
    }
  };
  // Sorted by position with the names' keys made once, then put in that order. Most pairs of
  // names differ within the first 16 bytes of their keys, compared as two integers.
  std::vector<std::string> names(Rows.size());
  std::vector<TKeyPrefix> prefixes(Rows.size());
  for (std::size_t i = 0; i < Rows.size(); ++i) {
    names[i] = NaturalSortKey(Rows[i].Entry.Name);
    prefixes[i] = PrefixOf(names[i]);
  }
  std::vector<std::size_t> order(Rows.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t A, std::size_t B) {
    int result = key(Rows[A], Rows[B]);
    if (result == 0) result = prefixes[A].Compare(prefixes[B]);
    if (result == 0) result = names[A].compare(names[B]);
    // Names equal but for case or zeros: still one order.
    if (result == 0) result = Rows[A].Entry.Name.compare(Rows[B].Entry.Name);
    return Order == Qt::AscendingOrder ? result < 0 : result > 0;
  });
  std::vector<TStoreRow> sorted;
  sorted.reserve(Rows.size());
  for (const std::size_t i : order) sorted.push_back(std::move(Rows[i]));
  Rows = std::move(sorted);
}

// Days left, counted from now each time the cell paints; red once expired, amber when soon.
QVariant TStoreListModel::ExpiresData(std::time_t NotAfter, int Role) {
  const std::time_t now = static_cast<std::time_t>(QDateTime::currentSecsSinceEpoch());
  if (Role == Qt::DisplayRole) return QString::fromStdString(ExpiresText(NotAfter, now));
  const std::int64_t days = DaysLeft(NotAfter, now);
  if (Role == Qt::ForegroundRole && days < 0) return QBrush(QColor(0xC0, 0x00, 0x00));
  if (Role == Qt::ForegroundRole && days <= kSoonDays) return QBrush(QColor(0xB0, 0x6A, 0x00));
  return {};
}

void TStoreListModel::SetRows(std::vector<TStoreRow> Rows) {
  beginResetModel();
  FRows = std::move(Rows);
  FDates = TDateTimeFormat();  // the regional settings as they are now
  endResetModel();
}

void TStoreListModel::SetExpiry(
    const std::vector<std::pair<std::string, std::optional<std::time_t>>>& NotAfter) {
  std::unordered_map<std::string_view, std::optional<std::time_t>> byName;
  byName.reserve(NotAfter.size());
  for (const auto& [name, when] : NotAfter) byName.emplace(name, when);
  for (TStoreRow& row : FRows)
    if (const auto found = byName.find(row.Entry.Name); found != byName.end())
      row.NotAfter = found->second;
  if (FRows.empty()) return;
  if (FSortColumn == colExpires) {
    sort(FSortColumn, FSortOrder);
    return;
  }
  emit dataChanged(index(0, colExpires), index(rowCount() - 1, colExpires));
}

// Only the rows whose mark changed are repainted: marks read again for an unchanged store
// cost the list nothing.
void TStoreListModel::SetRevoked(const std::vector<std::string>& Names) {
  const std::unordered_set<std::string_view> revoked(Names.begin(), Names.end());
  int first = rowCount(), last = -1;
  for (int i = 0; i < rowCount(); ++i) {
    TStoreRow& row = FRows[static_cast<std::size_t>(i)];
    const bool mark = revoked.contains(row.Entry.Name);
    if (row.Revoked == mark) continue;
    row.Revoked = mark;
    first = std::min(first, i);
    last = i;
  }
  if (last >= 0) emit dataChanged(index(first, colExpires), index(last, colExpires));
}

int TStoreListModel::rowCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TStoreListModel::columnCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : colCount;
}

QVariant TStoreListModel::data(const QModelIndex& Index, int Role) const {
  if (!Index.isValid() || Index.row() >= rowCount()) return {};
  const TStoreRow& row = FRows[static_cast<std::size_t>(Index.row())];
  const TStoreEntry& entry = row.Entry;
  if (Role == kNameBytesRole) return QByteArray::fromStdString(entry.Name);
  // A revoked certificate is worthless whatever its dates say.
  if (Index.column() == colExpires && row.Revoked) {
    if (Role == Qt::DisplayRole) return QStringLiteral("revoked");
    if (Role == Qt::ForegroundRole) return QBrush(QColor(0xC0, 0x00, 0x00));
    return {};
  }
  if (Index.column() == colExpires && row.NotAfter) return ExpiresData(*row.NotAfter, Role);
  if (Role != Qt::DisplayRole) return {};
  switch (Index.column()) {
    case colName: return FileNameCaption(entry.Name);
    case colType: return QString::fromLatin1(TypeText(entry.Kind));
    case colSize: return entry.Found ? QString::fromStdString(SizeText(entry.Size)) : QString();
    case colModified: return entry.Found ? FDates.Text(entry.Modified, true) : QString();
    default: return {};
  }
}

QVariant TStoreListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  static const char* const captions[] = {"File Name", "Type", "Size", "Modified", "Expires"};
  if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole || Section < 0 ||
      Section >= colCount)
    return QAbstractTableModel::headerData(Section, Orientation, Role);
  return QString::fromLatin1(captions[Section]);
}

void TStoreListModel::sort(int Column, Qt::SortOrder Order) {
  FSortColumn = Column;
  FSortOrder = Order;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(before.size()));
  for (const QModelIndex& index : before) names.push_back(Entry(index.row()).Name);
  SortRows(FRows, Column, Order);
  // The selection follows its file to wherever the file now stands.
  QModelIndexList after;
  for (int i = 0; i < before.size(); ++i) {
    const auto found = std::find_if(FRows.begin(), FRows.end(), [&](const TStoreRow& R) {
      return R.Entry.Name == names[static_cast<std::size_t>(i)];
    });
    after.push_back(index(static_cast<int>(found - FRows.begin()), before[i].column()));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace velmora
