#include "ui/StoreListModel.h"

#include "core/FileNameText.h"
#include "core/StoreExpiry.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>

#include <algorithm>

namespace velmora {

namespace {

char Folded(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }
bool IsDigit(char C) { return C >= '0' && C <= '9'; }

// -1, 0 or 1 as A orders before, with or after B, by the rule of NaturalNameLess.
int CompareNatural(const std::string& A, const std::string& B) {
  std::size_t i = 0, j = 0;
  while (i < A.size() && j < B.size()) {
    if (IsDigit(A[i]) && IsDigit(B[j])) {
      // A run of digits counts by its value: leading zeros skipped, then the longer run is
      // the greater number, else the first differing digit decides.
      while (i < A.size() && A[i] == '0') ++i;
      while (j < B.size() && B[j] == '0') ++j;
      std::size_t endA = i, endB = j;
      while (endA < A.size() && IsDigit(A[endA])) ++endA;
      while (endB < B.size() && IsDigit(B[endB])) ++endB;
      if (endA - i != endB - j) return endA - i < endB - j ? -1 : 1;
      for (; i < endA; ++i, ++j)
        if (A[i] != B[j]) return A[i] < B[j] ? -1 : 1;
      continue;
    }
    const char a = Folded(A[i]), b = Folded(B[j]);
    if (a != b) return static_cast<unsigned char>(a) < static_cast<unsigned char>(b) ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < A.size()) return 1;
  if (j < B.size()) return -1;
  return A < B ? -1 : (B < A ? 1 : 0);  // names equal but for case or zeros: still one order
}

}  // namespace

bool NaturalNameLess(const std::string& A, const std::string& B) {
  return CompareNatural(A, B) < 0;
}

void SortRows(std::vector<TStoreRow>& Rows, int Column, Qt::SortOrder Order) {
  const auto key = [Column](const TStoreRow& RowA, const TStoreRow& RowB) {
    const TStoreEntry& A = RowA.Entry;
    const TStoreEntry& B = RowB.Entry;
    switch (Column) {
      case TStoreListModel::colType:
        return std::string_view(TypeText(A.Kind)).compare(TypeText(B.Kind));
      case TStoreListModel::colSize:
        return A.Size < B.Size ? -1 : (B.Size < A.Size ? 1 : 0);
      case TStoreListModel::colModified:
        return A.Modified < B.Modified ? -1 : (B.Modified < A.Modified ? 1 : 0);
      case TStoreListModel::colExpires:
        if (RowA.NotAfter.has_value() != RowB.NotAfter.has_value())
          return RowA.NotAfter ? -1 : 1;
        if (!RowA.NotAfter) return 0;
        return *RowA.NotAfter < *RowB.NotAfter ? -1 : (*RowB.NotAfter < *RowA.NotAfter ? 1 : 0);
      default:
        return 0;
    }
  };
  std::sort(Rows.begin(), Rows.end(), [&](const TStoreRow& A, const TStoreRow& B) {
    int order = key(A, B);
    if (order == 0) order = CompareNatural(A.Entry.Name, B.Entry.Name);
    return Order == Qt::AscendingOrder ? order < 0 : order > 0;
  });
}

// Days left, counted from now each time the cell paints; red once expired, amber when soon.
QVariant TStoreListModel::ExpiresData(std::time_t NotAfter, int Role) {
  const std::int64_t days = DaysLeft(NotAfter, QDateTime::currentSecsSinceEpoch());
  if (Role == Qt::DisplayRole)
    return days < 0 ? QStringLiteral("expired") : QStringLiteral("%1 days").arg(days);
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
  if (Index.column() == colExpires && row.NotAfter)
    return ExpiresData(*row.NotAfter, Role);
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
