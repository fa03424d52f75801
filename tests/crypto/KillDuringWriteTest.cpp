// A writer killed in the middle of replacing a file must leave the old file intact or the
// new one complete, never a mix. The writer runs in a child process that is sent SIGKILL at
// varying moments while it replaces the file over and over.
#include "crypto/AtomicFile.h"
#include "crypto/Certificates.h"
#include "tests/crypto/BuilderTestSupport.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace velmora::test {
namespace {

// Runs Writer in a child until the parent kills it after Delay.
template <typename TWriter>
void KillWriterAfter(std::chrono::microseconds Delay, TWriter&& Writer) {
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    for (;;) Writer();
  }
  std::this_thread::sleep_for(Delay);
  ASSERT_EQ(kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
}

TEST(KillDuringWrite, LargeFileIsAlwaysOneWholeVersion) {
  TTempDir dir;
  const std::string target = dir / "big.pem";
  // Two versions of 8 MB each, alternated by the writer, so every moment of the kill falls
  // inside some replacement.
  const std::string versions[] = {std::string(8 << 20, 'A'), std::string(8 << 20, 'B')};
  WriteFileAtomically(target, versions[0], TFileAccess::OwnerOnly);
  int next = 1;
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    KillWriterAfter(std::chrono::milliseconds(5 + 7 * round), [&] {
      WriteFileAtomically(target, versions[next], TFileAccess::OwnerOnly);
      next ^= 1;
    });
    const std::string now = ReadFileBytes(target);
    EXPECT_TRUE(now == versions[0] || now == versions[1]) << "size " << now.size();
  }
}

TEST(KillDuringWrite, BundleOverAnExistingBundleStaysReadable) {
  TTempDir dir;
  const std::string target = dir / "leaf.pfx";
  TCertBuilder b;
  b.Subject.CN = "kill.example";
  b.GenerateKey();
  b.BuildSelfSigned();
  b.SaveToPKCS12(target, "pw", "Old", "");
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    KillWriterAfter(std::chrono::milliseconds(1 + 3 * round),
                    [&] { b.SaveToPKCS12(target, "pw", "New", ""); });
    auto loaded = TCertLoader::LoadFromP12File(target, "pw");
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(loaded->HasPrivateKey());
    EXPECT_EQ(X509_cmp(loaded->X509Cert(), b.Cert()), 0);
  }
}

}  // namespace
}  // namespace velmora::test
