#include "core/StorePaths.h"

#include "crypto/OpenSSLWrapper.h"
#include "tests/support/CryptoFixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

TEST(JoinStorePath, JoinsOrRefusesAsTheCaseDemands) {
  struct Case {
    const char* name;
    std::string dir;
    std::string file;
    std::optional<std::string> joined;  // nothing: refused
  };
  const std::vector<Case> cases = {
      {"plain name", "/srv/certs", "a.crt", "/srv/certs/a.crt"},
      {"directory ending in a separator", "/srv/certs/", "a.crt", "/srv/certs/a.crt"},
      {"root directory", "/", "a.crt", "/a.crt"},
      {"empty directory", "", "a.crt", "a.crt"},
      {"empty name", "/srv/certs", "", "/srv/certs"},
      {"both empty", "", "", ""},
      {"rooted name", "/srv/certs", "/etc/ca.crt", "/etc/ca.crt"},
      {"wildcards are accepted", "/srv/certs", "*?.crt", "/srv/certs/*?.crt"},
      {"bytes that are not UTF-8", "/srv/certs", "caf\xE9.crt", "/srv/certs/caf\xE9.crt"},
      {"quote in name", "/srv/certs", "a\"b.crt", std::nullopt},
      {"less-than in name", "/srv/certs", "a<b.crt", std::nullopt},
      {"greater-than in name", "/srv/certs", "a>b.crt", std::nullopt},
      {"bar in name", "/srv/certs", "a|b.crt", std::nullopt},
      {"line feed in name", "/srv/certs", "a\nb.crt", std::nullopt},
      {"code 1 in name", "/srv/certs", "\x01.crt", std::nullopt},
      {"code 31 in name", "/srv/certs", "\x1F.crt", std::nullopt},
      {"tab in directory", "/srv/\tcerts", "a.crt", std::nullopt},
      {"NUL in directory", std::string("/srv/\0certs", 11), "a.crt", std::nullopt},
      {"bar in directory with an empty name", "/srv|certs", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.joined) {
      EXPECT_EQ(JoinStorePath(c.dir, c.file), *c.joined);
      continue;
    }
    try {
      JoinStorePath(c.dir, c.file);
      ADD_FAILURE() << "not refused";
    } catch (const Exception& e) {
      // The message names the offending part (as far as a NUL lets it be shown).
      const std::string offending = HasForbiddenPathChar(c.dir) ? c.dir : c.file;
      const std::string message = "Illegal characters in path: \"" + offending + "\"";
      EXPECT_STREQ(e.what(), message.c_str());
    }
  }
}

TEST(CreateStoreDirectory, MakesTheWholeMissingChainAndLeavesAFolderThatIsThere) {
  TempDir temp;
  const std::string chain = temp.File("a/b/c");
  CreateStoreDirectory(chain);
  EXPECT_TRUE(fs::is_directory(chain));

  // A folder already there is left as it is, also behind a link.
  WriteFile(chain + "/kept.crt", std::string("x"));
  CreateStoreDirectory(chain);
  fs::create_directory_symlink(chain, temp.File("link"));
  CreateStoreDirectory(temp.File("link"));
  EXPECT_TRUE(fs::exists(chain + "/kept.crt"));

  CreateStoreDirectory(temp.File("x/y/"));
  EXPECT_TRUE(fs::is_directory(temp.File("x/y")));
}

TEST(CreateStoreDirectory, RaisesWhenNoFolderCanBeMadeThere) {
  TempDir temp;
  WriteFile(temp.Path() / "file.txt", std::string("x"));
  fs::create_symlink(temp.File("nowhere"), temp.File("dangling"));
  struct Case {
    const char* name;
    std::string dir;
    std::string message;  // the start of the error's text
  };
  const std::vector<Case> cases = {
      {"empty", "", "The store directory name is empty."},
      {"blanks only", "  \t ", "The store directory name is empty."},
      {"forbidden character", temp.File("a|b"),
       "Illegal characters in path: \"" + temp.File("a|b")},
      {"wildcard", temp.File("certs*"), "Illegal characters in path: \"" + temp.File("certs*")},
      {"a file in the way", temp.File("file.txt"),
       "Cannot create directory \"" + temp.File("file.txt") + "\": "},
      {"a file as a parent", temp.File("file.txt/sub"),
       "Cannot create directory \"" + temp.File("file.txt/sub") + "\": Not a directory"},
      {"a link leading nowhere", temp.File("dangling"),
       "Cannot create directory \"" + temp.File("dangling") + "\": "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      CreateStoreDirectory(c.dir);
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.message.size()), c.message) << e.what();
    }
  }
  EXPECT_FALSE(fs::exists(temp.File("nowhere")));
  EXPECT_TRUE(fs::is_regular_file(temp.File("file.txt")));
}

TEST(DefaultStoreDirFor, TakesTheProgramsFolderOnlyWhenTheUserCanKeepFilesThere) {
  TempDir temp;
  const std::string data = temp.File("data");
  fs::create_directories(temp.File("plain"));
  fs::create_directories(temp.File("with-folder/Certificates"));
  fs::create_directories(temp.File("with-file"));
  WriteFile(temp.Path() / "with-file/Certificates", std::string("x"));
  fs::create_directories(temp.File("with-dangling-link"));
  fs::create_symlink(temp.File("nowhere"), temp.File("with-dangling-link/Certificates"));
  struct Case {
    const char* name;
    std::string app;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"writable, no store yet", temp.File("plain"), temp.File("plain/Certificates")},
      {"store folder already there", temp.File("with-folder"),
       temp.File("with-folder/Certificates")},
      {"a file named like the store", temp.File("with-file"), data + "/Certificates"},
      {"a link leading nowhere", temp.File("with-dangling-link"), data + "/Certificates"},
      {"program folder missing", temp.File("missing"), data + "/Certificates"},
      {"program folder unknown", "", data + "/Certificates"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DefaultStoreDirFor(c.app, data), c.expected);
  }
  // Choosing creates nothing.
  EXPECT_FALSE(fs::exists(temp.File("plain/Certificates")));
  EXPECT_FALSE(fs::exists(data));
}

TEST(DefaultStoreDirFor, TakesTheUsersDataFolderWhenTheProgramsFolderIsReadOnly) {
  if (::geteuid() == 0) GTEST_SKIP() << "the superuser may write anywhere";
  TempDir temp;
  const std::string data = temp.File("data");
  fs::create_directories(temp.File("installed"));
  fs::create_directories(temp.File("locked-store/Certificates"));
  ::chmod(temp.File("installed").c_str(), 0555);
  ::chmod(temp.File("locked-store/Certificates").c_str(), 0555);
  EXPECT_EQ(DefaultStoreDirFor(temp.File("installed"), data), data + "/Certificates");
  EXPECT_EQ(DefaultStoreDirFor(temp.File("locked-store"), data), data + "/Certificates");
}

// Installed beside the system's programs, even root's run keeps certificates out of there.
TEST(DefaultStoreDirFor, NeverTakesTheSystemsProgramFolders) {
  const std::string data = "/nonexistent/velmora-data";
  for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin", "/opt/velmora/bin"}) {
    SCOPED_TRACE(dir);
    EXPECT_EQ(DefaultStoreDirFor(dir, data), data + "/Certificates");
  }
}

}  // namespace
}  // namespace velmora
