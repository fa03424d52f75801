// Reading the start of a file: at most the bytes asked for, fewer from a shorter file, the same
// bytes again on a second read, and nothing from what is no regular file.
#include "core/TextFile.h"
#include "tests/support/CryptoFixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace velmora::test {
namespace {

TEST(ReadStart, ReadsAtMostTheBytesAskedForFromTheStart) {
  TempDir dir;
  const std::string path = dir.File("ten.pem");
  WriteFile(path, std::string("0123456789"));
  WriteFile(dir.File("empty.pem"), std::string());
  const struct {
    const char* Name;
    std::size_t Count;
    std::string Expected;
  } cases[] = {
      {"ten.pem", 4, "0123"}, {"ten.pem", 10, "0123456789"}, {"ten.pem", 100, "0123456789"},
      {"ten.pem", 0, ""},     {"empty.pem", 16, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + " " + std::to_string(c.Count));
    const TReadOnlyFile file(dir.File(c.Name));
    std::string bytes = "left over";
    ASSERT_EQ(file.ReadStart(bytes, c.Count), 0);
    EXPECT_EQ(bytes, c.Expected);
    // The offset stays where it was: a second read gives the same bytes.
    ASSERT_EQ(file.ReadStart(bytes, c.Count), 0);
    EXPECT_EQ(bytes, c.Expected);
  }
}

TEST(ReadStart, AFileThatCannotBeOpenedGivesItsErrorAndNoBytes) {
  TempDir dir;
  const TReadOnlyFile file(dir.File("absent.pem"));
  std::string bytes = "left over";
  EXPECT_EQ(file.ReadStart(bytes, 16), ENOENT);
  EXPECT_EQ(bytes, "");
}

}  // namespace
}  // namespace velmora::test
