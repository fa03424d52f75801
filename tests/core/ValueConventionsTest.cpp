#include "core/ValueConventions.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora {
namespace {

TEST(Trim, RemovesBlanksAndControlCharactersAtBothEndsOnly) {
  struct Case {
    std::string text, trimmed;
  };
  const Case cases[] = {
      {"", ""},
      {"   ", ""},
      {"  alice  ", "alice"},
      {"\t\r\nbob\x01\x1f", "bob"},
      {" a b ", "a b"},  // inner blanks stay
      {"\x7f"
       "x\x7f",
       "\x7f"
       "x\x7f"},             // DEL is above 32
      {" Grüße ", "Grüße"},  // UTF-8 survives untouched
      {std::string("\0 z\0", 4), "z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(Trim(c.text), c.trimmed);
  }
}

TEST(IntOrDefault, ReadsExactlyOneNumberOrGivesTheDefault) {
  struct Case {
    const char* text;
    std::int32_t expected;  // with 77 as the default
  };
  const Case cases[] = {
      {"365", 365},
      {"  365", 365},  // leading blanks are fine
      {"+12", 12},
      {"-1", -1},
      {"007", 7},
      {"$1F", 31},
      {"x1f", 31},
      {"X10", 16},
      {"0x10", 16},
      {"0XfF", 255},
      {"-$10", -16},
      {" -0x10", -16},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"$7FFFFFFF", 2147483647},
      {"-0x80000000", -2147483647 - 1},
      // Everything else gives the default.
      {"", 77},
      {"   ", 77},
      {"365 ", 77},  // trailing blank
      {"365 days", 77},
      {"\t365", 77},  // only code 32 counts as a leading blank
      {"- 5", 77},
      {"+", 77},
      {"$", 77},
      {"0x", 77},
      {"$g", 77},
      {"12a", 77},  // hex digits need a prefix
      {"1.5", 77},
      {"--1", 77},
      {"2147483648", 77},
      {"-2147483649", 77},
      {"$80000000", 77},
      {"99999999999999999999", 77},
      {"0x-5", 77},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IntOrDefault(c.text, 77), c.expected);
  }
}

}  // namespace
}  // namespace velmora
