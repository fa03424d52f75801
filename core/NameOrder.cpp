#include "core/NameOrder.h"

#include <algorithm>

namespace velmora {

namespace {

char Folded(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }
bool IsDigit(char C) { return C >= '0' && C <= '9'; }

}  // namespace

// Letters folded to lower case, and each run of digits as a marker in the digits' range (so it
// still orders against other characters as a digit does), the count of its significant digits,
// then those digits. A name has at most 255 bytes, so one byte holds the count. Sorting on
// these costs a memcmp per comparison instead of a walk over both names.
std::string NaturalSortKey(const std::string& Name) {
  // Written through a pointer into room for the longest key (one-digit runs between single
  // other characters: "1a1" makes seven bytes), then cut to length: a listing makes one key
  // per file.
  std::string key(2 * Name.size() + 1, '\0');
  char* out = key.data();
  for (std::size_t i = 0; i < Name.size();) {
    if (!IsDigit(Name[i])) {
      *out++ = Folded(Name[i++]);
      continue;
    }
    while (i < Name.size() && Name[i] == '0') ++i;
    std::size_t end = i;
    while (end < Name.size() && IsDigit(Name[end])) ++end;
    const std::size_t digits = std::min<std::size_t>(end - i, 255);
    *out++ = '0';
    *out++ = static_cast<char>(static_cast<unsigned char>(digits));
    for (; i < end; ++i) *out++ = Name[i];
  }
  key.resize(static_cast<std::size_t>(out - key.data()));
  return key;
}

// A run of digits counts by its value: leading zeros do not count, then the longer run is the
// greater number, else the first differing digit decides.
bool NaturalNameLess(const std::string& A, const std::string& B) {
  const int order = NaturalSortKey(A).compare(NaturalSortKey(B));
  return order != 0 ? order < 0 : A < B;  // equal but for case or zeros: still one order
}

}  // namespace velmora
