// Revocation in core: where the CRL and its lock live, the refusals that write nothing, the CA
// profiles that allow signing CRLs, and the check before issuing that warns about a CA that
// does not.
#include "core/Profiles.h"
#include "core/RequestChecks.h"
#include "core/Revocation.h"
#include "crypto/CertBuilder.h"
#include "tests/support/CryptoFixtures.h"
#include "tests/support/SignerFixtures.h"

#include <gtest/gtest.h>

#include <openssl/x509v3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace velmora {
namespace {

constexpr std::time_t kNow = 1'800'000'000;

const std::string kNoCRLSignFinding =
    "The CA certificate does not allow signing revocation lists (cRLSign): the new certificate "
    "cannot be revoked.";

class CoreRevocation : public testing::Test {
 protected:
  std::string At(const std::string& Name) const { return FDir.File(Name); }

  // A CA with Usages, its files written as ca.crt and ca.key, and a leaf it issued.
  void MakeCA(TKeyUsageSet Usages) {
    TCertBuilder ca;
    ca.Subject.CN = "Core Revocation CA";
    ca.IsCA = true;
    ca.KeyUsage = Usages;
    ca.ExtKeyUsage = {};
    ca.GenerateKey();
    ca.BuildSelfSigned();
    ca.SaveCertToPEM(At("ca.crt"));
    ca.SaveKeyToPEM(At("ca.key"), "");
    TCertBuilder leaf;
    leaf.Subject.CN = "leaf.example";
    leaf.GenerateKey();
    leaf.BuildSignedBy(ca.CertToPEM(), ca.KeyToPEM(""), "");
    leaf.SaveCertToPEM(At("leaf.crt"));
  }

  TCRLRequest Request(bool WithLeaf) const {
    TCRLRequest request;
    request.CACertFile = At("ca.crt");
    request.CAKeyFile = At("ca.key");
    if (WithLeaf) request.CertFile = At("leaf.crt");
    return request;
  }

  test::TempDir FDir;
};

TEST_F(CoreRevocation, TheCRLLivesBesideTheCAAndItsLockGoesAgain) {
  EXPECT_EQ(CRLFileFor("/store/My CA.crt"), "/store/My CA.crl");
  EXPECT_EQ(CRLFileFor("/store/ca.pem"), "/store/ca.crl");
  EXPECT_EQ(CRLLockFileFor("/store/ca.crl"), "/store/.ca.crl.lock");
  MakeCA({kuKeyCertSign, kuCRLSign});
  TCRLRequest request = Request(true);
  request.Reason = TRevocationReason::Superseded;
  const TCRLOutcome outcome = RevokeCertificate(request, "", kNow);
  EXPECT_EQ(outcome.CRLFile, At("ca.crl"));
  EXPECT_EQ(outcome.Number, "1");
  EXPECT_EQ(outcome.Entries, 1u);
  EXPECT_TRUE(std::filesystem::exists(At("ca.crl")));
  EXPECT_FALSE(std::filesystem::exists(At(".ca.crl.lock")));
  const TCRLOutcome published = PublishCRL(Request(false), "", kNow + 10);
  EXPECT_EQ(published.Number, "2");
  EXPECT_EQ(published.Entries, 1u);
}

TEST_F(CoreRevocation, ACAWithoutCRLSignWritesNothing) {
  MakeCA({kuKeyCertSign});
  for (const bool revoke : {true, false}) {
    SCOPED_TRACE(revoke);
    try {
      if (revoke)
        RevokeCertificate(Request(true), "", kNow);
      else
        PublishCRL(Request(false), "", kNow);
      ADD_FAILURE() << "a CA without cRLSign signed a CRL";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(),
                   "This CA certificate does not allow signing revocation lists (cRLSign).");
    }
    EXPECT_FALSE(std::filesystem::exists(At("ca.crl")));
  }
}

TEST_F(CoreRevocation, CRLValidityIsBounded) {
  MakeCA({kuKeyCertSign, kuCRLSign});
  for (const std::int32_t days : {0, -1, kMaxCRLDays + 1}) {
    SCOPED_TRACE(days);
    TCRLRequest request = Request(false);
    request.Days = days;
    EXPECT_THROW(PublishCRL(request, "", kNow), Exception);
    EXPECT_FALSE(std::filesystem::exists(At("ca.crl")));
  }
  TCRLRequest longest = Request(false);
  longest.Days = kMaxCRLDays;
  EXPECT_NO_THROW(PublishCRL(longest, "", kNow));
}

TEST(CoreRevocationProfiles, CAProfilesAllowSigningCRLs) {
  for (const TProfile profile : {TProfile::RootCA, TProfile::IntermediateCA})
    for (const TKeyType type : {ktRSA, ktECC, ktEdwards}) {
      SCOPED_TRACE(ProfileSlug(profile) + std::string(" ") + std::to_string(type));
      const std::optional<TProfileSettings> settings = ProfileSettings(profile, type);
      ASSERT_TRUE(settings);
      TCertRequest request;
      ApplyProfile(profile, type, request);
      EXPECT_TRUE(request.KeyUsage.contains(kuCRLSign));
      EXPECT_TRUE(request.KeyUsage.contains(kuKeyCertSign));
    }
}

TEST(CoreRevocationChecks, WarnAboutASigningCAWithoutCRLSign) {
  const EVP_PKEYPtr key = test::MakeECKey("P-256");
  TCertRequest request;
  request.Subject.CN = "leaf.example";
  request.SANDNSNames = {"leaf.example"};
  request.KeyUsage = {kuDigitalSignature};
  const TKeyFacts facts{ktECC, 256};
  const X509Ptr sound = test::MakeSelfSignedWith(key.get(), test::SoundCAExtensions());
  const std::vector<std::string> none = CheckRequest(request, facts, sound.get());
  EXPECT_EQ(std::count(none.begin(), none.end(), kNoCRLSignFinding), 0);
  const X509Ptr without =
      test::MakeSelfSignedWith(key.get(), {{NID_basic_constraints, "critical,CA:TRUE"},
                                           {NID_key_usage, "critical,keyCertSign"},
                                           {NID_subject_key_identifier, "hash"}});
  const std::vector<std::string> found = CheckRequest(request, facts, without.get());
  EXPECT_EQ(std::count(found.begin(), found.end(), kNoCRLSignFinding), 1);
}

}  // namespace
}  // namespace velmora
