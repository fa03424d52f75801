// A set of files published together: a target that cannot take its file stops the set before
// the first rename, a rename that fails puts back what the earlier ones replaced, a name that
// another program took meanwhile is not replaced, and a writer killed at any rename leaves a
// set that the next writer or listing completes or undoes.
#include "crypto/AtomicFile.h"
#include "tests/crypto/BuilderTestSupport.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>

namespace velmora::test {
namespace {

const std::array<std::string, 3> kNames = {"leaf.crt", "leaf.key", "leaf.p12"};

// The three outputs of one command, as "new <name>".
void StageNewSet(TAtomicFileSet& Set, const TTempDir& Dir) {
  for (const std::string& name : kNames)
    Set.Add(Dir / name, "new " + name,
            name == "leaf.crt" ? TFileAccess::Usual : TFileAccess::OwnerOnly);
}

void WriteOldSet(const TTempDir& Dir) {
  for (const std::string& name : kNames) WriteFileBytes(Dir / name, "old " + name);
}

// Every member old, or every member new: never a mix.
std::string StateOf(const TTempDir& Dir) {
  std::vector<std::string> states;
  for (const std::string& name : kNames) {
    const std::string bytes = ReadFileBytes(Dir / name);
    states.push_back(bytes == "old " + name ? "old" : bytes == "new " + name ? "new" : "?");
  }
  return states[0] + " " + states[1] + " " + states[2];
}

TEST(SetPublication, AFolderAtAnyOutputsNameStopsTheSetBeforeAnythingIsPublished) {
  for (std::size_t blocked = 0; blocked < kNames.size(); ++blocked) {
    SCOPED_TRACE(kNames[blocked]);
    TTempDir dir;
    WriteOldSet(dir);
    ASSERT_EQ(::unlink((dir / kNames[blocked]).c_str()), 0);
    ASSERT_EQ(::mkdir((dir / kNames[blocked]).c_str(), 0755), 0);
    TAtomicFileSet set;
    const std::string message = MessageOf([&] { StageNewSet(set, dir); });
    EXPECT_NE(message.find(kNames[blocked]), std::string::npos) << message;
    EXPECT_NE(message.find("Is a directory"), std::string::npos) << message;
    for (std::size_t i = 0; i < kNames.size(); ++i)
      if (i != blocked) {
        EXPECT_EQ(ReadFileBytes(dir / kNames[i]), "old " + kNames[i]);
      }
  }
}

// The folder appears after the files were written: the check before the first rename still
// finds it.
TEST(SetPublication, AFolderThatAppearsBeforeTheCommitStopsIt) {
  for (std::size_t blocked = 0; blocked < kNames.size(); ++blocked) {
    SCOPED_TRACE(kNames[blocked]);
    TTempDir dir;
    WriteOldSet(dir);
    TAtomicFileSet set;
    StageNewSet(set, dir);
    ASSERT_EQ(::unlink((dir / kNames[blocked]).c_str()), 0);
    ASSERT_EQ(::mkdir((dir / kNames[blocked]).c_str(), 0755), 0);
    EXPECT_NE(MessageOf([&] { set.Commit(); }).find("Is a directory"), std::string::npos);
    for (std::size_t i = 0; i < kNames.size(); ++i)
      if (i != blocked) {
        EXPECT_EQ(ReadFileBytes(dir / kNames[i]), "old " + kNames[i]);
      }
  }
}

// A rename that fails after others succeeded: the files they replaced come back, and a target
// that was new is gone again.
std::string gBlockedTarget;
void MakeFolderAtBlockedTarget(int) { ::mkdir(gBlockedTarget.c_str(), 0755); }

TEST(SetPublication, AFailedRenamePutsBackWhatTheEarlierOnesReplaced) {
  for (std::size_t blocked = 1; blocked < kNames.size(); ++blocked) {
    SCOPED_TRACE(kNames[blocked]);
    TTempDir dir;
    WriteOldSet(dir);
    ASSERT_EQ(::unlink((dir / kNames[0]).c_str()), 0);  // the certificate is new
    ASSERT_EQ(::unlink((dir / kNames[blocked]).c_str()), 0);
    TAtomicFileSet set;
    StageNewSet(set, dir);
    gBlockedTarget = dir / kNames[blocked];
    SetBeforeRenameHookForTesting(MakeFolderAtBlockedTarget);
    const std::string message = MessageOf([&] { set.Commit(); });
    SetBeforeRenameHookForTesting(nullptr);
    EXPECT_NE(message.find(kNames[blocked]), std::string::npos) << message;
    EXPECT_FALSE(std::filesystem::exists(dir / kNames[0])) << "the new certificate stayed";
    for (std::size_t i = 1; i < kNames.size(); ++i)
      if (i != blocked) {
        EXPECT_EQ(ReadFileBytes(dir / kNames[i]), "old " + kNames[i]);
      }
    ASSERT_EQ(::rmdir(gBlockedTarget.c_str()), 0);
    std::vector<std::string> expected;
    for (std::size_t i = 1; i < kNames.size(); ++i)
      if (i != blocked) expected.push_back(kNames[i]);
    EXPECT_EQ(dir.Names(), expected) << "no temporary file, link or intent left";
  }
}

TEST(SetPublication, ANameAnotherProgramTookMeanwhileIsNotReplaced) {
  TTempDir dir;
  TAtomicFileSet set;
  StageNewSet(set, dir);
  for (const std::string& name : kNames) set.RequireAbsent(dir / name);
  WriteFileBytes(dir / "leaf.key", "the other program's key");
  const std::string message = MessageOf([&] { set.Commit(); });
  EXPECT_NE(message.find("Another program created it meanwhile"), std::string::npos) << message;
  EXPECT_EQ(ReadFileBytes(dir / "leaf.key"), "the other program's key");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"leaf.key"});
}

// The writer dies at rename Index, as SIGKILL would end it.
int gKillAt = -1;
void KillAtRename(int Index) {
  if (Index == gKillAt) ::raise(SIGKILL);
}

void PublishInChildKilledAt(const TTempDir& Dir, int Index) {
  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    gKillAt = Index;
    SetBeforeRenameHookForTesting(KillAtRename);
    TAtomicFileSet set;
    StageNewSet(set, Dir);
    set.Commit();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
}

std::vector<std::string> gReported;

TEST(SetPublication, ASetKilledAtAnyRenameIsCompletedByTheNextListing) {
  SetInterruptedWriteReporter([](const std::string& Line) { gReported.push_back(Line); });
  for (int index = 0; index < static_cast<int>(kNames.size()); ++index) {
    SCOPED_TRACE(index);
    TTempDir dir;
    WriteOldSet(dir);
    PublishInChildKilledAt(dir, index);
    EXPECT_EQ(StateOf(dir), index == 0   ? "old old old"
                            : index == 1 ? "new old old"
                                         : "new new old");
    gReported.clear();
    EXPECT_TRUE(TidyInterruptedWrites(dir.Path()));
    EXPECT_EQ(StateOf(dir), "new new new");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{kNames.begin(), kNames.end()}));
    ASSERT_EQ(gReported.size(), 1u);
    EXPECT_EQ(gReported[0], "Completed an interrupted save: leaf.crt, leaf.key, leaf.p12.");
  }
  SetInterruptedWriteReporter(nullptr);
}

// The next writer of the folder completes it too, before its own set.
TEST(SetPublication, ASetKilledHalfWayIsCompletedByTheNextWriter) {
  TTempDir dir;
  WriteOldSet(dir);
  PublishInChildKilledAt(dir, 1);
  WriteFileAtomically(dir / "other.crt", "other", TFileAccess::Usual);
  EXPECT_EQ(StateOf(dir), "new new new");
  EXPECT_EQ(dir.Names(),
            (std::vector<std::string>{"leaf.crt", "leaf.key", "leaf.p12", "other.crt"}));
}

// A writer killed after this process already tidied the folder once: the set it left is still
// finished before this process writes the same files again, never later over them.
TEST(SetPublication, ASetKilledAfterTheFolderWasTidiedIsCompletedBeforeTheNextSet) {
  TTempDir dir;
  WriteFileAtomically(dir / "first.crt", "first", TFileAccess::Usual);
  WriteOldSet(dir);
  PublishInChildKilledAt(dir, 2);
  ASSERT_EQ(StateOf(dir), "new new old");
  WriteFileAtomically(dir / "leaf.crt", "newer leaf.crt", TFileAccess::Usual);
  EXPECT_EQ(ReadFileBytes(dir / "leaf.crt"), "newer leaf.crt");
  EXPECT_EQ(ReadFileBytes(dir / "leaf.key"), "new leaf.key");
  EXPECT_EQ(ReadFileBytes(dir / "leaf.p12"), "new leaf.p12");
  EXPECT_EQ(dir.Names(),
            (std::vector<std::string>{"first.crt", "leaf.crt", "leaf.key", "leaf.p12"}))
      << "no intent, temporary file or lock file left";
}

// A member that is nowhere (its temporary file removed by hand) cannot be completed: the old
// files come back, including those the dead writer had already replaced.
TEST(SetPublication, ASetThatCannotBeCompletedIsUndone) {
  SetInterruptedWriteReporter([](const std::string& Line) { gReported.push_back(Line); });
  TTempDir dir;
  WriteOldSet(dir);
  PublishInChildKilledAt(dir, 2);
  ASSERT_EQ(StateOf(dir), "new new old");
  // The temporary file of the bundle: the only one of ours not locked as a kept old file.
  for (const std::string& name : dir.Names())
    if (name.ends_with(".tmp") && ReadFileBytes(dir / name) == "new leaf.p12") {
      ASSERT_EQ(::unlink((dir / name).c_str()), 0);
    }
  gReported.clear();
  EXPECT_TRUE(TidyInterruptedWrites(dir.Path()));
  EXPECT_EQ(StateOf(dir), "old old old");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{kNames.begin(), kNames.end()}));
  ASSERT_EQ(gReported.size(), 1u);
  EXPECT_EQ(gReported[0],
            "Undid an interrupted save; the earlier files are back: leaf.crt, leaf.key, leaf.p12.");
  SetInterruptedWriteReporter(nullptr);
}

// A writer killed while writing its intent never renamed anything: whatever lines of the
// intent reached the disk, the old files stay and the temporary files go.
TEST(SetPublication, AnIntentCutShortIsNeverActedOn) {
  TTempDir dir;
  WriteOldSet(dir);
  const auto hex = [](const std::string& Text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : Text) (out += digits[c >> 4]) += digits[c & 0xF];
    return out;
  };
  std::string intent = "velmora-set 1\n";
  for (int i = 0; i < 2; ++i) {
    const std::string temp = dir / (".velmora-1-000000000000000" + std::to_string(i) + ".tmp");
    WriteFileBytes(temp, "new " + kNames[i]);
    struct stat info {};
    ASSERT_EQ(::stat(temp.c_str(), &info), 0);
    intent += hex(temp) + " " + hex(dir / kNames[i]) + " - " + std::to_string(info.st_dev) + " " +
              std::to_string(info.st_ino) + "\n";
  }
  WriteFileBytes(dir / ".velmora-1-0000000000000000.intent", intent);  // no closing line
  TidyInterruptedWrites(dir.Path());
  EXPECT_EQ(StateOf(dir), "old old old");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{kNames.begin(), kNames.end()}));
}

TEST(SetPublication, NewFilesAreNeverWritableByOthersWhateverTheUmask) {
  TTempDir dir;
  const mode_t old = ::umask(0);
  WriteFileAtomically(dir / "ca.crt", "certificate", TFileAccess::Usual);
  WriteFileAtomically(dir / "ca.key", "key", TFileAccess::OwnerOnly);
  ::umask(old);
  struct stat cert {
  }, key{};
  ASSERT_EQ(::stat((dir / "ca.crt").c_str(), &cert), 0);
  ASSERT_EQ(::stat((dir / "ca.key").c_str(), &key), 0);
  EXPECT_EQ(cert.st_mode & 0777, 0644u);
  EXPECT_EQ(key.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace velmora::test
