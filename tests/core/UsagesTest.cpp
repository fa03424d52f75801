// The one table of usages: every member of the builder's sets in it once, under the name that
// --ku and --eku take and the caption that the window's check list shows.
#include "core/CertRequest.h"
#include "core/Usages.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace velmora {
namespace {

// Each member once, each name and caption once, every name taken back by its parser, and the
// list of all names giving the whole set.
template <typename TSet, typename TMember, std::size_t N>
void ExpectOneRowPerMember(const std::array<TUsageInfo<TMember>, N>& Usages, std::size_t Members,
                           std::optional<TMember> (*ByName)(std::string_view),
                           TSet (*FromList)(const std::string&)) {
  ASSERT_EQ(N, Members);
  std::set<int> members;
  std::set<std::string_view> names, captions;
  std::string all;
  TSet expected;
  for (const TUsageInfo<TMember>& usage : Usages) {
    SCOPED_TRACE(std::string(usage.Name));
    EXPECT_TRUE(members.insert(usage.Member).second);
    EXPECT_TRUE(names.insert(usage.Name).second);
    EXPECT_TRUE(captions.insert(usage.Caption).second);
    EXPECT_FALSE(usage.Caption.empty());
    EXPECT_FALSE(usage.Tip.empty());
    EXPECT_EQ(ByName(usage.Name), usage.Member);
    if (!all.empty()) all += ',';
    all.append(usage.Name);
    expected.insert(usage.Member);
  }
  EXPECT_EQ(*members.begin(), 0);
  EXPECT_EQ(*members.rbegin(), static_cast<int>(Members) - 1);
  EXPECT_EQ(FromList(all), expected);
}

TEST(Usages, KeyUsageTableHoldsEachMemberOnce) {
  ExpectOneRowPerMember<TKeyUsageSet>(kKeyUsages, kuDecipherOnly + 1, &KeyUsageByName,
                                      &KeyUsagesFromList);
}

TEST(Usages, ExtKeyUsageTableHoldsEachMemberOnce) {
  ExpectOneRowPerMember<TExtKeyUsageSet>(kExtKeyUsages, ekuOCSPSigning + 1, &ExtKeyUsageByName,
                                         &ExtKeyUsagesFromList);
}

// Names are X.509's, letter case included; the window's captions are no names.
TEST(Usages, NamesAreExactAndCaptionsAreNotNames) {
  const struct {
    std::string_view Name;
    std::optional<TKeyUsage> Member;
  } cases[] = {
      {"digitalSignature", kuDigitalSignature},
      {"nonRepudiation", kuContentCommitment},
      {"cRLSign", kuCRLSign},
      {"DigitalSignature", std::nullopt},
      {"Digital Signature", std::nullopt},
      {"crlSign", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Name));
    EXPECT_EQ(KeyUsageByName(c.Name), c.Member);
  }
  EXPECT_EQ(ExtKeyUsageByName("OCSPSigning"), ekuOCSPSigning);
  EXPECT_EQ(ExtKeyUsageByName("TLS Server Authentication"), std::nullopt);
}

}  // namespace
}  // namespace velmora
