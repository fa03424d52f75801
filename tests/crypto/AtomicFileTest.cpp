// Replacing a file keeps what the user set on it, leftovers of dead writers go away, and the
// files of one command change together or not at all.
#include "crypto/AtomicFile.h"
#include "tests/crypto/BuilderTestSupport.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::test {
namespace {

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

unsigned ModeOf(const std::string& path) { return StatOf(path).st_mode & 07777; }

// A process id that is certainly gone: a child that has exited and been reaped.
pid_t DeadProcessId() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

const TCertBuilder& Leaf() {
  static TNamedBuilder leaf;
  static const bool ready = [] {
    leaf.GenerateKey();
    leaf.BuildSelfSigned();
    return true;
  }();
  EXPECT_TRUE(ready);
  return leaf;
}

TEST(AtomicFile, ReplacingKeepsTheModeAKeyNeverWiderThanTheOwners) {
  struct Case {
    const char* name;
    TFileAccess access;
    unsigned before, after;
  };
  const Case cases[] = {{"certificate 0640", TFileAccess::Usual, 0640, 0640},
                        {"certificate 0600", TFileAccess::Usual, 0600, 0600},
                        {"certificate 0664", TFileAccess::Usual, 0664, 0664},
                        {"key 0640", TFileAccess::OwnerOnly, 0640, 0600},
                        {"key 0600", TFileAccess::OwnerOnly, 0600, 0600}};
  TTempDir dir;
  const mode_t oldMask = ::umask(077);  // a replaced file's mode is its own, not the umask's
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / "target";
    WriteFileBytes(path, "old\n");
    ASSERT_EQ(::chmod(path.c_str(), c.before), 0);
    WriteFileAtomically(path, "new\n", c.access);
    EXPECT_EQ(ReadFileBytes(path), "new\n");
    EXPECT_EQ(ModeOf(path), c.after);
    std::filesystem::remove(path);
  }
  ::umask(oldMask);
}

TEST(AtomicFile, AFileTheUserMayNotWriteIsRefusedAsACreateFailure) {
  TTempDir dir;
  const std::string cert = dir / "readonly.crt", bundle = dir / "readonly.pfx";
  for (const std::string& path : {cert, bundle}) {
    WriteFileBytes(path, "kept\n");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  }
  const std::string certMessage = MessageOf([&] { Leaf().SaveCertToPEM(cert); });
  const std::string bundleMessage = MessageOf([&] { Leaf().SaveToPKCS12(bundle, "p", "n", ""); });
  if (::geteuid() == 0) {
    // The superuser may write any file, and keeps its mode when replacing it.
    EXPECT_EQ(certMessage, "(no failure)");
    EXPECT_EQ(bundleMessage, "(no failure)");
    EXPECT_EQ(ModeOf(cert), 0444u);
    EXPECT_EQ(ModeOf(bundle), 0400u);
    return;
  }
  EXPECT_EQ(certMessage, "Cannot create file \"" + cert + "\". Permission denied");
  EXPECT_TRUE(StartsWith(bundleMessage, "BIO_new_file (PFX). OpenSSL: ")) << bundleMessage;
  EXPECT_NE(bundleMessage.find("Permission denied"), std::string::npos) << bundleMessage;
  EXPECT_EQ(ReadFileBytes(cert), "kept\n");
  EXPECT_EQ(ReadFileBytes(bundle), "kept\n");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"readonly.crt", "readonly.pfx"}));
}

TEST(AtomicFile, ReplacingOurOwnFileKeepsItsGroup) {
  // Another group to give the file: any group for the superuser, else one we belong to.
  gid_t other = 0;
  if (::geteuid() == 0) {
    other = 4242;
  } else {
    gid_t groups[64];
    const int count = ::getgroups(64, groups);
    for (int i = 0; i < count; ++i)
      if (groups[i] != ::getegid()) other = groups[i];
    if (other == 0) GTEST_SKIP() << "no second group to give a file";
  }
  TTempDir dir;
  const std::string path = dir / "grouped.key";
  WriteFileBytes(path, "old\n");
  ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(-1), other), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  Leaf().SaveKeyToPEM(path, "");
  EXPECT_EQ(StatOf(path).st_gid, other);
  EXPECT_EQ(ModeOf(path), 0600u);
}

TEST(AtomicFile, ALinkIsReplacedNeverWrittenThrough) {
  TTempDir dir;
  const std::string elsewhere = dir / "elsewhere.txt", link = dir / "leaf.crt";
  WriteFileBytes(elsewhere, "not ours\n");
  ASSERT_EQ(::chmod(elsewhere.c_str(), 0640), 0);
  ASSERT_EQ(::symlink(elsewhere.c_str(), link.c_str()), 0);
  Leaf().SaveCertToPEM(link);
  EXPECT_TRUE(S_ISREG(StatOf(link).st_mode));
  EXPECT_EQ(ReadFileBytes(elsewhere), "not ours\n");
}

// A writer holds the lock of its temporary file while it lives; what nobody holds is a dead
// writer's, whatever process id its name carries (ours, init's, a reused one).
TEST(AtomicFile, LeftoversNobodyHoldsAreRemovedLockedOnesStay) {
  TTempDir dir;
  const std::string dead = ".velmora-" + std::to_string(DeadProcessId()) + "-0123456789abcdef.tmp";
  const std::string ours = ".velmora-" + std::to_string(::getpid()) + "-0123456789abcdef.tmp";
  const std::string init = ".velmora-1-0123456789abcdef.tmp";
  const std::string held = ".velmora-1-fedcba9876543210.tmp";
  const std::string unrelated = ".velmora-notes.txt";
  for (const std::string& name : {dead, ours, init, held, unrelated})
    WriteFileBytes(dir / name, "x");
  // A live writer elsewhere, in another PID namespace perhaps: only its lock tells.
  const int writer = ::open((dir / held).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::flock(writer, LOCK_EX), 0);
  const int dirFd = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(dirFd, 0);
  for (const std::string& name : {dead, ours, init})
    EXPECT_TRUE(IsAbandonedTemporaryFile(dirFd, name.c_str())) << name;
  EXPECT_FALSE(IsAbandonedTemporaryFile(dirFd, held.c_str()));
  EXPECT_FALSE(IsAbandonedTemporaryFile(dirFd, unrelated.c_str()));
  ::close(dirFd);

  WriteFileAtomically(dir / "new.crt", "new\n", TFileAccess::Usual);
  std::vector<std::string> expected = {held, unrelated, "new.crt"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(dir.Names(), expected);
  ::close(writer);
}

TEST(AtomicFile, FilesOfOneSetChangeTogetherOrNotAtAll) {
  TTempDir dir;
  const std::string cert = dir / "leaf.crt", key = dir / "leaf.key";
  WriteFileBytes(cert, "old certificate\n");
  WriteFileBytes(key, "old key\n");
  {
    // The key fails after the certificate is complete: neither changes.
    TAtomicFileSet files;
    Leaf().StageCertPEM(files, cert);
    EXPECT_NE(MessageOf([&] { Leaf().StageKeyPEM(files, dir / "missing/leaf.key", ""); }),
              "(no failure)");
  }
  EXPECT_EQ(ReadFileBytes(cert), "old certificate\n");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"leaf.crt", "leaf.key"}));

  TAtomicFileSet files;
  Leaf().StageCertPEM(files, cert);
  Leaf().StageKeyPEM(files, key, "");
  EXPECT_EQ(ReadFileBytes(cert), "old certificate\n") << "nothing replaced before the commit";
  files.Commit();
  EXPECT_NE(ReadFileBytes(cert), "old certificate\n");
  EXPECT_NE(ReadFileBytes(key), "old key\n");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"leaf.crt", "leaf.key"}));
}

}  // namespace
}  // namespace velmora::test
