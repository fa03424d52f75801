#include "cli/BatchInput.h"

#include "core/StorePaths.h"
#include "core/ValueConventions.h"
#include "crypto/Exception.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <set>
#include <system_error>

namespace velmora::cli {

namespace {

std::string Utf8(const QString& Text) { return Text.toUtf8().toStdString(); }

// A number as an option's argument: whole numbers without a fraction.
std::string NumberText(double Number) {
  double whole = 0;
  if (std::modf(Number, &whole) == 0 && std::fabs(whole) < 1e15)
    return std::to_string(static_cast<long long>(whole));
  return Utf8(QString::number(Number, 'g', 17));
}

// Text for a scalar; false for what is no scalar.
bool ScalarText(const QJsonValue& Value, std::string& Text) {
  if (Value.isString())
    Text = Utf8(Value.toString());
  else if (Value.isDouble())
    Text = NumberText(Value.toDouble());
  else
    return false;
  return true;
}

// A JSON value as a field: lists joined with commas, as the options take them.
std::string AddField(const std::string& Key, const QJsonValue& Value, TBatchRecord& Record) {
  TBatchField field{Key, {}, TBatchField::TKind::Text};
  if (Value.isNull()) return {};
  if (Value.isBool()) {
    field.Kind = Value.toBool() ? TBatchField::TKind::True : TBatchField::TKind::False;
  } else if (Value.isArray()) {
    for (const auto& item : Value.toArray()) {
      std::string text;
      if (!ScalarText(item, text)) return Key + ": a list holds text or numbers only.";
      field.Value += (field.Value.empty() ? "" : ",") + text;
    }
  } else if (!ScalarText(Value, field.Value)) {
    return Key + ": the value is text, a number, true, false or a list.";
  }
  Record.Fields.push_back(std::move(field));
  return {};
}

// One CSV cell: its text, and whether it was quoted ("" is an empty value, an empty cell
// none at all).
struct TCell {
  std::string Text;
  bool Quoted = false;
};

}  // namespace

TBatchReader::TBatchReader(const std::string& Path, bool CSV) : FCSV(CSV) {
  if (Path != "-") {
    FFile = std::fopen(Path.c_str(), "rbe");
    if (!FFile)
      throw Exception("Cannot read the batch " + Readable(Quoted(Path)) + ": " +
                      std::generic_category().message(errno));
  } else {
    // Standard input is read twice: once to check every line, once to issue.
    FFile = std::tmpfile();
    if (!FFile)
      throw Exception("Cannot keep the standard input: " + std::generic_category().message(errno));
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
      if (std::fwrite(buffer, 1, got, FFile) != got)
        throw Exception("Cannot keep the standard input: " +
                        std::generic_category().message(errno));
  }
}

TBatchReader::~TBatchReader() {
  if (FFile) std::fclose(FFile);
}

void TBatchReader::Rewind() {
  std::rewind(FFile);
  FLine = 0;
  FHeader.clear();
  if (FCSV) ReadHeader();
}

bool TBatchReader::ReadLine(std::string& Line) {
  Line.clear();
  int c = 0;
  while ((c = std::getc(FFile)) != EOF && c != '\n') Line += static_cast<char>(c);
  if (c == EOF && Line.empty()) return false;
  // Spreadsheets start their UTF-8 CSV with a byte order mark, which is no part of a name.
  if (FLine++ == 0 && Line.rfind("\xEF\xBB\xBF", 0) == 0) Line.erase(0, 3);
  if (!Line.empty() && Line.back() == '\r') Line.pop_back();
  return true;
}

bool TBatchReader::Next(TBatchRecord& Record) { return FCSV ? NextCSV(Record) : NextJSON(Record); }

bool TBatchReader::NextJSON(TBatchRecord& Record) {
  std::string line;
  do {
    if (!ReadLine(line)) return false;
  } while (line.find_first_not_of(" \t") == std::string::npos);  // blank lines separate
  Record = {FLine, {}, {}};
  QJsonParseError error{};
  const QJsonDocument document =
      QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size())), &error);
  if (error.error != QJsonParseError::NoError)
    throw TBatchSyntaxError(FLine, "not JSON: " + Utf8(error.errorString()) + " at column " +
                                       std::to_string(error.offset + 1) + ".");
  if (!document.isObject())
    throw TBatchSyntaxError(FLine,
                            "a line is one JSON object, such as {\"cn\": \"host.example\"}.");
  const QJsonObject object = document.object();
  for (auto it = object.begin(); it != object.end(); ++it) {
    std::string error = AddField(Utf8(it.key()), it.value(), Record);
    if (Record.Error.empty()) Record.Error = std::move(error);
  }
  return true;
}

namespace {

// The cells of one CSV record beginning with Line; more lines are read through More while a
// quoted cell goes on. Raises TBatchSyntaxError.
template <typename TMore>
std::vector<TCell> SplitCSV(std::string Line, std::uint64_t First, TMore More) {
  std::vector<TCell> cells(1);
  bool inQuotes = false, closed = false;
  for (std::size_t i = 0;; ++i) {
    if (i == Line.size()) {
      if (!inQuotes) break;
      std::string next;
      if (!More(next))
        throw TBatchSyntaxError(First, "a quoted cell is not closed before the end of the file.");
      Line += "\n" + next;
    }
    const char c = Line[i];
    TCell& cell = cells.back();
    if (inQuotes) {
      if (c != '"')
        cell.Text += c;
      else if (i + 1 < Line.size() && Line[i + 1] == '"')
        cell.Text += Line[++i];
      else
        inQuotes = false, closed = true;
    } else if (c == ',') {
      cells.emplace_back();
      closed = false;
    } else if (closed || (c == '"' && !cell.Text.empty())) {
      throw TBatchSyntaxError(First,
                              "a quote stands inside a cell; a quoted cell is \"...\", "
                              "with \"\" for a quote inside it.");
    } else if (c == '"') {
      inQuotes = cell.Quoted = true;
    } else {
      cell.Text += c;
    }
  }
  return cells;
}

}  // namespace

void TBatchReader::ReadHeader() {
  std::string line;
  if (!ReadLine(line)) return;
  std::set<std::string> seen;
  for (TCell& cell : SplitCSV(line, FLine, [&](std::string& More) { return ReadLine(More); })) {
    if (cell.Text.empty()) throw TBatchSyntaxError(FLine, "a column of the header has no name.");
    if (!seen.insert(cell.Text).second)
      throw TBatchSyntaxError(FLine,
                              "the column " + Readable(Quoted(cell.Text)) + " is there twice.");
    FHeader.push_back(std::move(cell.Text));
  }
}

bool TBatchReader::NextCSV(TBatchRecord& Record) {
  std::string line;
  do {
    if (!ReadLine(line)) return false;
  } while (line.empty());
  Record = {FLine, {}, {}};
  std::vector<TCell> cells =
      SplitCSV(line, Record.Line, [&](std::string& More) { return ReadLine(More); });
  if (cells.size() != FHeader.size())
    throw TBatchSyntaxError(Record.Line, "the row has " + std::to_string(cells.size()) +
                                             " cells, the header " +
                                             std::to_string(FHeader.size()) + ".");
  for (std::size_t i = 0; i < cells.size(); ++i) {
    TCell& cell = cells[i];
    if (cell.Text.empty() && !cell.Quoted) continue;  // an empty cell gives no value
    TBatchField field{FHeader[i], std::move(cell.Text), TBatchField::TKind::Text};
    if (!cell.Quoted && field.Value == "true") field.Kind = TBatchField::TKind::True;
    if (!cell.Quoted && field.Value == "false") field.Kind = TBatchField::TKind::False;
    Record.Fields.push_back(std::move(field));
  }
  return true;
}

}  // namespace velmora::cli
