#include "core/FileNameText.h"

#include "core/Utf8.h"

#include <cstddef>

namespace velmora {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // a stray byte b shows as U+DC00 + b (b >= 0x80)

}  // namespace

QString FileNameToText(const std::string& Name) {
  QString text;
  text.reserve(static_cast<qsizetype>(Name.size()));
  for (std::size_t at = 0; at < Name.size();) {
    char32_t codePoint = 0;
    const std::string_view rest = std::string_view(Name).substr(at);
    if (const std::size_t length = Utf8SequenceLength(rest, &codePoint)) {
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
