#include "core/FileNameText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace velmora {
namespace {

// The text's UTF-16 units in hex, so a failure shows exactly what came out.
std::string UnitsOf(const QString& Text) {
  std::string units;
  for (QChar c : Text) {
    char unit[8];
    std::snprintf(unit, sizeof unit, "%04X ", c.unicode());
    units += unit;
  }
  return units;
}

TEST(FileNameText, ShowsUTF8AsItselfAndEveryStrayByteAsItsOwnEscape) {
  struct Case {
    const char* name;
    std::string bytes;
    std::u16string text;
  };
  const std::vector<Case> cases = {
      {"ASCII", "a.crt", u"a.crt"},
      {"two, three and four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x94\x91",
       u"\u00E9\u20AC\U0001F511"},
      {"Latin-1 byte", "caf\xE9.crt", u"caf\xDCE9.crt"},
      {"stray continuation", "\x80", u"\xDC80"},
      {"cut short", "\xE2\x82", u"\xDCE2\xDC82"},
      {"overlong slash", "\xC0\xAF", u"\xDCC0\xDCAF"},
      {"encoded surrogate", "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
      {"U+FFFD is a real name of its own", "\xEF\xBF\xBD", u"\uFFFD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString text = FileNameToText(c.bytes);
    EXPECT_EQ(UnitsOf(text), UnitsOf(QString::fromStdU16String(c.text)));
    EXPECT_EQ(TextToFileName(text), c.bytes);
  }
}

TEST(FileNameText, EveryByteStringComesBackExactly) {
  // All single bytes and all pairs cover every lead, continuation and cut-off sequence.
  for (int first = 0; first < 256; ++first) {
    for (int second = 0; second < 256; ++second) {
      const std::string bytes{static_cast<char>(first), static_cast<char>(second)};
      ASSERT_EQ(TextToFileName(FileNameToText(bytes)), bytes) << first << " " << second;
    }
  }
  // Names of two files that differ in one invalid byte never show as the same text.
  EXPECT_NE(FileNameToText("a\xFE"), FileNameToText("a\xFF"));
  EXPECT_NE(FileNameToText("a\xFF"), FileNameToText("a\xEF\xBF\xBD"));
}

TEST(FileNameText, TypedTextBecomesUTF8AndALoneSurrogateAReplacement) {
  EXPECT_EQ(TextToFileName(QStringLiteral("Zürich/ключ.key")),
            "Z\xC3\xBCrich/\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87.key");
  EXPECT_EQ(TextToFileName(QString(QChar(0xD800))), "\xEF\xBF\xBD");
  // The caption is for reading only: a stray byte shows as U+FFFD.
  EXPECT_EQ(FileNameCaption("caf\xE9.crt"), QString::fromUtf16(u"caf\uFFFD.crt"));
}

}  // namespace
}  // namespace velmora
