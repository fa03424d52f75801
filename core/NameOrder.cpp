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
  std::string key;
  key.reserve(Name.size() + 4);
  for (std::size_t i = 0; i < Name.size();) {
    if (!IsDigit(Name[i])) {
      key += Folded(Name[i++]);
      continue;
    }
    while (i < Name.size() && Name[i] == '0') ++i;
    std::size_t end = i;
    while (end < Name.size() && IsDigit(Name[end])) ++end;
    const std::size_t digits = std::min<std::size_t>(end - i, 255);
    key += '0';
    key += static_cast<char>(static_cast<unsigned char>(digits));
    key.append(Name, i, end - i);
    i = end;
  }
  return key;
}

// A run of digits counts by its value: leading zeros do not count, then the longer run is the
// greater number, else the first differing digit decides.
bool NaturalNameLess(const std::string& A, const std::string& B) {
  const int order = NaturalSortKey(A).compare(NaturalSortKey(B));
  return order != 0 ? order < 0 : A < B;  // equal but for case or zeros: still one order
}

}  // namespace velmora
