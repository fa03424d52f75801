// Certificate profiles: found by either of their names, and each one, for either key type, a
// request in which the checks before issuing find nothing.
#include "core/Profiles.h"
#include "core/RequestChecks.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace velmora {
namespace {

TEST(ProfileNames, SlugAndCaptionFindTheProfileInAnyCaseAndNothingElseDoes) {
  std::set<std::string> slugs, captions;
  for (TProfile profile : kAllProfiles) {
    const std::string slug = ProfileSlug(profile), caption = ProfileCaption(profile);
    SCOPED_TRACE(caption);
    EXPECT_TRUE(slugs.insert(slug).second) << "slug used twice";
    EXPECT_TRUE(captions.insert(caption).second) << "caption used twice";
    EXPECT_EQ(ProfileByName(slug), profile);
    EXPECT_EQ(ProfileByName(caption), profile);
    std::string shouted = slug;
    for (char& c : shouted) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    EXPECT_EQ(ProfileByName(shouted), profile);
  }
  EXPECT_EQ(ProfileCaption(kAllProfiles.front()), std::string("Custom"));
  const struct {
    const char* name;
    std::optional<TProfile> profile;
  } cases[] = {
      {"tls-server", TProfile::TLSServer},
      {"TLS Server + Client", TProfile::TLSServerClient},
      {"e-mail (s/mime)", TProfile::Email},
      {"email", TProfile::Email},
      {"time-stamping", TProfile::TimeStamping},
      {"", std::nullopt},
      {"tls", std::nullopt},
      {"tls-server ", std::nullopt},
      {"root_ca", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ProfileByName(c.name), c.profile);
  }
}

TEST(ProfileSettings, CustomChangesNothing) {
  TCertRequest request;
  request.IsCA = true;
  request.PathLenConstraint = 7;
  request.KeyUsage = {kuDecipherOnly};
  request.ExtKeyUsage = {ekuOCSPSigning};
  ApplyProfile(TProfile::Custom, ktRSA, request);
  EXPECT_TRUE(request.IsCA);
  EXPECT_EQ(request.PathLenConstraint, 7);
  EXPECT_EQ(request.KeyUsage, TKeyUsageSet{kuDecipherOnly});
  EXPECT_EQ(request.ExtKeyUsage, TExtKeyUsageSet{ekuOCSPSigning});
  EXPECT_FALSE(ProfileSettings(TProfile::Custom, ktECC));
}

// What the profile cannot know (names, lifetime) is filled in as its user would; the rest must
// pass the checks as the profile leaves it, whatever was in the request before.
TEST(ProfileSettings, EveryProfileGivesARequestTheChecksFindNothingIn) {
  const TKeyFacts keys[] = {{ktECC, 256}, {ktECC, 521}, {ktRSA, 2048}, {ktRSA, 4096}};
  for (TProfile profile : kAllProfiles) {
    if (profile == TProfile::Custom) continue;
    for (const TKeyFacts& key : keys) {
      SCOPED_TRACE(std::string(ProfileCaption(profile)) + (key.Type == ktRSA ? " RSA " : " EC ") +
                   std::to_string(key.Bits));
      TCertRequest request;
      request.KeyUsage = {kuDigitalSignature, kuKeyEncipherment, kuDataEncipherment, kuKeyCertSign,
                          kuEncipherOnly};  // all of it replaced
      request.ExtKeyUsage = {ekuOCSPSigning, ekuTimeStamping};
      request.IsCA = profile != TProfile::RootCA;
      request.Subject.CN = "profile.example";
      request.SANDNSNames = {"profile.example"};
      request.SANEmails = {"someone@profile.example"};
      request.ValidDays = 365;
      ApplyProfile(profile, key.Type, request);
      EXPECT_EQ(CheckRequest(request, key, nullptr), std::vector<std::string>{});
      // An EC key never claims to encipher; only an RSA key may.
      const bool enciphers = request.KeyUsage.contains(kuKeyEncipherment) ||
                             request.KeyUsage.contains(kuDataEncipherment);
      if (key.Type == ktECC) {
        EXPECT_FALSE(enciphers);
      }
    }
  }
}

TEST(ProfileSettings, TheKeyTypeDecidesOnlyWhatAnECKeyCannotDo) {
  // An RSA server may have to decrypt a key exchange; an EC server only signs.
  EXPECT_EQ(ProfileSettings(TProfile::TLSServer, ktRSA)->KeyUsage,
            (TKeyUsageSet{kuDigitalSignature, kuKeyEncipherment}));
  EXPECT_EQ(ProfileSettings(TProfile::TLSServer, ktECC)->KeyUsage,
            TKeyUsageSet{kuDigitalSignature});
  for (TProfile profile : {TProfile::RootCA, TProfile::IntermediateCA, TProfile::TLSClient,
                           TProfile::CodeSigning, TProfile::TimeStamping}) {
    SCOPED_TRACE(ProfileCaption(profile));
    const TProfileSettings rsa = *ProfileSettings(profile, ktRSA);
    const TProfileSettings ec = *ProfileSettings(profile, ktECC);
    EXPECT_EQ(rsa.KeyUsage, ec.KeyUsage);
    EXPECT_EQ(rsa.ExtKeyUsage, ec.ExtKeyUsage);
    EXPECT_EQ(rsa.IsCA, ec.IsCA);
  }
  // A root may have CAs below it; an intermediate issues end-entity certificates only.
  EXPECT_EQ(ProfileSettings(TProfile::RootCA, ktECC)->PathLenConstraint, -1);
  EXPECT_EQ(ProfileSettings(TProfile::IntermediateCA, ktECC)->PathLenConstraint, 0);
}

}  // namespace
}  // namespace velmora
