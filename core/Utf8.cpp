#include "core/Utf8.h"

namespace velmora {

std::size_t Utf8SequenceLength(std::string_view Bytes, char32_t* CodePoint) {
  if (Bytes.empty()) return 0;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(Bytes[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    if (CodePoint) *CodePoint = lead;
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (Bytes.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  if (CodePoint) {
    char32_t value = lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) value = (value << 6) | (byte(i) & 0x3F);
    *CodePoint = value;
  }
  return length;
}

void AppendUtf8(std::string& Out, char32_t CodePoint) {
  if (CodePoint < 0x80) {
    Out += static_cast<char>(CodePoint);
  } else if (CodePoint < 0x800) {
    Out += static_cast<char>(0xC0 | (CodePoint >> 6));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  } else if (CodePoint < 0x10000) {
    Out += static_cast<char>(0xE0 | (CodePoint >> 12));
    Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (CodePoint >> 18));
    Out += static_cast<char>(0x80 | ((CodePoint >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  }
}

}  // namespace velmora
