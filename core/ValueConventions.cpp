#include "core/ValueConventions.h"

#include <limits>

namespace velmora {

namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

int DigitValue(char c, int Base) {
  int value = -1;
  if (c >= '0' && c <= '9')
    value = c - '0';
  else if (c >= 'a' && c <= 'f')
    value = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F')
    value = c - 'A' + 10;
  return value < Base ? value : -1;
}

}  // namespace

std::string Trim(std::string_view Text) {
  std::size_t first = 0;
  std::size_t last = Text.size();
  while (first < last && IsBlankOrControl(Text[first])) ++first;
  while (last > first && IsBlankOrControl(Text[last - 1])) --last;
  return std::string(Text.substr(first, last - first));
}

std::int32_t IntOrDefault(std::string_view Text, std::int32_t Default) {
  std::size_t i = 0;
  while (i < Text.size() && Text[i] == ' ') ++i;

  bool negative = false;
  if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) negative = Text[i++] == '-';

  int base = 10;
  if (i < Text.size() && (Text[i] == '$' || Text[i] == 'x' || Text[i] == 'X')) {
    base = 16;
    i += 1;
  } else if (i + 1 < Text.size() && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == Text.size()) return Default;  // a sign or prefix without digits

  // The magnitude may reach 2^31 (for the most negative value); stop well before overflow.
  constexpr std::int64_t kLimit = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  for (; i < Text.size(); ++i) {
    const int digit = DigitValue(Text[i], base);
    if (digit < 0) return Default;
    magnitude = magnitude * base + digit;
    if (magnitude > kLimit) return Default;
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<std::int32_t>::max()) return Default;
  return static_cast<std::int32_t>(value);
}

std::string Quoted(std::string_view Text) {
  std::string quoted;
  quoted.reserve(Text.size() + 2);
  quoted += '"';
  quoted.append(Text);
  quoted += '"';
  return quoted;
}

}  // namespace velmora
