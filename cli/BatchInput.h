// The lines of a batch: JSON Lines, one object per line, or CSV with a header row, read one
// record at a time so that a file of any length takes no more memory than its longest line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::cli {

// A value as the line gives it: text (a list already joined with commas), or true or false.
struct TBatchField {
  enum class TKind { Text, True, False };
  std::string Key;
  std::string Value;
  TKind Kind = TKind::Text;
};

struct TBatchRecord {
  std::uint64_t Line = 0;  // where the record starts, from 1
  std::vector<TBatchField> Fields;
  // A value the line holds that no option takes (an object, a list of lists); the line
  // fails with it, the others go on.
  std::string Error;
};

// The file is not JSON Lines or CSV at Line: nothing of the batch is issued.
class TBatchSyntaxError : public std::runtime_error {
 public:
  TBatchSyntaxError(std::uint64_t Line, const std::string& Message)
      : std::runtime_error("line " + std::to_string(Line) + ": " + Message), FLine(Line) {}
  std::uint64_t Line() const { return FLine; }

 private:
  std::uint64_t FLine;
};

class TBatchReader {
 public:
  // Path "-" reads the standard input, which is kept in an unnamed temporary file for the
  // second reading. Raises velmora::Exception when the file cannot be opened. Rewind comes
  // before the first record.
  TBatchReader(const std::string& Path, bool CSV);
  ~TBatchReader();
  TBatchReader(const TBatchReader&) = delete;
  TBatchReader& operator=(const TBatchReader&) = delete;

  // The next record; false at the end. Raises TBatchSyntaxError.
  bool Next(TBatchRecord& Record);
  // Back to the first record; raises TBatchSyntaxError for a CSV header that is none.
  void Rewind();
  // A CSV file's column names, from its header row (line 1).
  const std::vector<std::string>& Columns() const { return FHeader; }

 private:
  bool ReadLine(std::string& Line);
  bool NextJSON(TBatchRecord& Record);
  bool NextCSV(TBatchRecord& Record);
  void ReadHeader();

  std::FILE* FFile = nullptr;
  bool FCSV = false;
  std::uint64_t FLine = 0;
  std::vector<std::string> FHeader;
};

}  // namespace velmora::cli
