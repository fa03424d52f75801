// The failure texts both front ends show: the failed job on a line of its own, then the reason
// exactly as it came, with no full stop added or taken away.
#include "core/FailureText.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora {
namespace {

TEST(FailureText, NamesTheJobAboveTheReasonAsItCame) {
  const struct {
    std::string Reason;
    std::string Certificate;
    std::string Key;
  } cases[] = {
      {"Disk full", "Certificate generation failed:\nDisk full",
       "Key generation failed:\nDisk full"},
      {"Two lines.\nSecond", "Certificate generation failed:\nTwo lines.\nSecond",
       "Key generation failed:\nTwo lines.\nSecond"},
      {"", "Certificate generation failed:\n", "Key generation failed:\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Reason);
    EXPECT_EQ(CertificateFailedText(c.Reason), c.Certificate);
    EXPECT_EQ(KeyFailedText(c.Reason), c.Key);
  }
}

}  // namespace
}  // namespace velmora
