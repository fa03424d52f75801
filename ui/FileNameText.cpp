#include "ui/FileNameText.h"

#include <cstddef>

namespace velmora {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // a stray byte b shows as U+DC00 + b (b >= 0x80)

bool IsContinuation(unsigned char Byte) { return (Byte & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 sequence at Text[At] and its code point, or 0 when
// the bytes there are not one (stray continuation, overlong form, surrogate, beyond U+10FFFF,
// cut short).
std::size_t DecodeSequence(const std::string& Text, std::size_t At, char32_t& CodePoint) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(Text[At + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    CodePoint = lead;
    return 1;
  }
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (Text.size() - At < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (!IsContinuation(byte(i))) return 0;
  char32_t value = lead & (0xFF >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) value = (value << 6) | (byte(i) & 0x3F);
  CodePoint = value;
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

}  // namespace

QString FileNameToText(const std::string& Name) {
  QString text;
  text.reserve(static_cast<qsizetype>(Name.size()));
  for (std::size_t at = 0; at < Name.size();) {
    char32_t codePoint = 0;
    if (const std::size_t length = DecodeSequence(Name, at, codePoint)) {
      for (char16_t unit : QChar::fromUcs4(codePoint)) text += QChar(unit);
      at += length;
    } else {
      text += QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(Name[at])));
      ++at;
    }
  }
  return text;
}

std::string TextToFileName(const QString& Text) {
  std::string name;
  name.reserve(static_cast<std::size_t>(Text.size()));
  for (qsizetype i = 0; i < Text.size(); ++i) {
    const char16_t unit = Text[i].unicode();
    if (QChar::isHighSurrogate(unit) && i + 1 < Text.size() && Text[i + 1].isLowSurrogate()) {
      AppendUtf8(name, QChar::surrogateToUcs4(unit, Text[i + 1].unicode()));
      ++i;
    } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      name += static_cast<char>(unit - kEscapeBase);
    } else if (QChar::isSurrogate(unit)) {
      AppendUtf8(name, QChar::ReplacementCharacter);
    } else {
      AppendUtf8(name, unit);
    }
  }
  return name;
}

QString FileNameCaption(const std::string& Name) { return QString::fromUtf8(Name); }

}  // namespace velmora
