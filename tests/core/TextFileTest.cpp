// Reading a text file by its byte-order mark, and wiping secrets from our buffers.
#include "core/TextFile.h"
#include "crypto/SecretText.h"
#include "tests/support/CryptoFixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace velmora::test {
namespace {

TEST(DecodeText, TheMarkChoosesTheDecodingAndIsDropped) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {
      {"Empty", "", ""},
      {"Ascii", "-----BEGIN\r\n", "-----BEGIN\r\n"},
      {"UTF8WithoutMark", "Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x94\x91",
       "Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x94\x91"},
      {"UTF8Mark", "\xEF\xBB\xBFZ\xC3\xBCrich", "Z\xC3\xBCrich"},
      {"UTF8MarkOnly", "\xEF\xBB\xBF", ""},
      {"UTF8MarkThenBadByte",
       "\xEF\xBB\xBF"
       "a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b"},
      {"UTF16LE", std::string("\xFF\xFEZ\0\xFC\0\xAC\x20", 8), "Z\xC3\xBC\xE2\x82\xAC"},
      {"UTF16BE", std::string("\xFE\xFF\0Z\0\xFC\x20\xAC", 8), "Z\xC3\xBC\xE2\x82\xAC"},
      {"UTF16LESurrogatePair", std::string("\xFF\xFE\x3D\xD8\x11\xDD", 6), "\xF0\x9F\x94\x91"},
      {"UTF16LELoneSurrogate",
       std::string("\xFF\xFE\x3D\xD8"
                   "a\0",
                   6),
       "\xEF\xBF\xBD"
       "a"},
      {"UTF16LEOddByte",
       std::string("\xFF\xFE"
                   "a\0b",
                   5),
       "a\xEF\xBF\xBD"},
      // Without a mark, anything that is not UTF-8 is Latin-1: one character per byte.
      {"Latin1", "Z\xFCrich \xA9", "Z\xC3\xBCrich \xC2\xA9"},
      {"Latin1OverlongSlash", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
      {"Latin1EncodedSurrogate", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},
      {"Latin1TruncatedSequence", "ab\xE2\x82", "ab\xC3\xA2\xC2\x82"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeText(c.bytes), c.text);
  }
}

TEST(ReadTextFile, ReadsTheWholeFileAndSaysWhyItCannot) {
  TempDir dir;
  std::string big(200000, 'x');
  big = "\xEF\xBB\xBF" + big + "\xC3\xA9";
  WriteFile(dir.File("big.pem"), big);
  EXPECT_EQ(ReadTextFile(dir.File("big.pem")), big.substr(3));
  // 4 MiB is the most a CA file may hold; one byte more and it is not read at all.
  WriteFile(dir.File("limit.pem"), std::string("-----BEGIN"));
  std::filesystem::resize_file(dir.File("limit.pem"), 4 * 1024 * 1024);
  EXPECT_EQ(ReadTextFile(dir.File("limit.pem")).size(), 4u * 1024 * 1024);
  WriteFile(dir.File("huge.pem"), std::string("-----BEGIN"));
  std::filesystem::resize_file(dir.File("huge.pem"), 4 * 1024 * 1024 + 1);

  ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
  struct Case {
    const char* name;
    std::string path;
    std::string reason;
  };
  const Case cases[] = {
      {"Missing", dir.File("missing.pem"), std::strerror(ENOENT)},
      {"Directory", dir.Path().string(), std::strerror(EISDIR)},
      {"Pipe", dir.File("pipe"), "It is not a regular file."},
      {"TooLarge", dir.File("huge.pem"), std::strerror(EFBIG)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      ReadTextFile(c.path);
      ADD_FAILURE() << "read without error";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot read file \"" + c.path + "\". " + c.reason);
    }
  }
}

TEST(Wipe, OverwritesTheWholeBufferInPlace) {
  std::string secret = "a password long enough to live on the heap, not inside the string";
  secret.resize(10);  // the bytes past the end are still in the buffer
  const char* buffer = secret.data();
  const std::size_t capacity = secret.capacity();

  Wipe(secret);

  EXPECT_TRUE(secret.empty());
  ASSERT_EQ(secret.data(), buffer);  // the same buffer, still owned by the string
  for (std::size_t i = 0; i < capacity; ++i) EXPECT_EQ(buffer[i], '\0') << "byte " << i;
}

TEST(SecretText, WipesTheStringItTookOver) {
  std::string shortText = "pass";  // short enough to be moved by copying its bytes
  const char* local = shortText.data();
  const TSecretText secret(std::move(shortText));
  EXPECT_EQ(secret.Text(), "pass");
  EXPECT_TRUE(shortText.empty());
  if (shortText.data() == local) {  // the moved-from string kept its own small buffer
    for (std::size_t i = 0; i < shortText.capacity(); ++i) EXPECT_EQ(local[i], '\0') << i;
  }
}

}  // namespace
}  // namespace velmora::test
