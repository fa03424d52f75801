// Edwards-curve keys and name constraints in the core: the checks before issuing, the
// profiles' usages, the request's constraint lists, and the store's description and pairing
// of Edwards keys.
#include "core/CertRequest.h"
#include "core/Profiles.h"
#include "core/RequestChecks.h"
#include "core/Store.h"
#include "core/StoreRelations.h"
#include "tests/support/CryptoFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace velmora::test {
namespace {

TCertRequest TLSRequest() {
  TCertRequest request;
  request.Subject.CN = "edwards.example";
  request.SANDNSNames = {"edwards.example"};
  request.KeyUsage = {kuDigitalSignature};
  request.ExtKeyUsage = {ekuServerAuth, ekuClientAuth};
  return request;
}

const std::string kBrowsersEd25519 =
    "A TLS server or client certificate with an Ed25519 key: current browsers do not accept "
    "Edwards-curve certificates in TLS (OpenSSL, GnuTLS and Go do).";

TEST(EdwardsChecks, KeyFactsOfBothCurves) {
  for (const auto& [type, bits] : {std::pair{"ED25519", 256}, std::pair{"ED448", 448}}) {
    SCOPED_TRACE(type);
    const EVP_PKEYPtr key = MakeKey(type);
    const TKeyFacts facts = KeyFactsOf(PublicKeyFactsOf(key.get()));
    EXPECT_EQ(facts.Type, ktEdwards);
    EXPECT_EQ(facts.Bits, bits);
    EXPECT_EQ(EdAlgorithmOf(facts), type == std::string("ED25519") ? kEd25519 : kEd448);
  }
}

TEST(EdwardsChecks, TLSUsesAndForbiddenUsagesAreFound) {
  struct Case {
    const char* name;
    void (*change)(TCertRequest&);
    TKeyFacts key;
    std::vector<std::string> findings;
  };
  const Case cases[] = {
      {"TLS server and client", [](TCertRequest&) {}, {ktEdwards, 256}, {kBrowsersEd25519}},
      {"TLS client only",
       [](TCertRequest& r) { r.ExtKeyUsage = {ekuClientAuth}; },
       {ktEdwards, 256},
       {kBrowsersEd25519}},
      {"Ed448",
       [](TCertRequest&) {},
       {ktEdwards, 448},
       {"A TLS server or client certificate with an Ed448 key: current browsers do not accept "
        "Edwards-curve certificates in TLS (OpenSSL, GnuTLS and Go do)."}},
      {"code signing",
       [](TCertRequest& r) { r.ExtKeyUsage = {ekuCodeSigning}; },
       {ktEdwards, 256},
       {}},
      {"a CA",
       [](TCertRequest& r) {
         r.IsCA = true;
         r.KeyUsage = {kuKeyCertSign, kuCRLSign};
       },
       {ktEdwards, 256},
       {}},
      {"the same request with an EC key", [](TCertRequest&) {}, {ktECC, 256}, {}},
      {"key encipherment and agreement",
       [](TCertRequest& r) {
         r.ExtKeyUsage = {ekuCodeSigning};
         r.KeyUsage = {kuDigitalSignature, kuKeyEncipherment, kuKeyAgreement};
       },
       {ktEdwards, 256},
       {"Key Encipherment with an Ed25519 key: an Ed25519 key only signs, and RFC 8410 forbids "
        "this usage for it.",
        "Key Agreement with an Ed25519 key: an Ed25519 key only signs, and RFC 8410 forbids this "
        "usage for it."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TCertRequest request = TLSRequest();
    c.change(request);
    EXPECT_EQ(CheckRequest(request, c.key, nullptr), c.findings);
  }
}

TEST(EdwardsChecks, ProfilesGiveAnEdwardsKeySigningUsagesOnly) {
  for (const TProfile profile : kAllProfiles) {
    const std::optional<TProfileSettings> settings = ProfileSettings(profile, ktEdwards);
    if (!settings) continue;
    SCOPED_TRACE(ProfileSlug(profile));
    for (const TKeyUsage forbidden : {kuKeyEncipherment, kuDataEncipherment, kuKeyAgreement})
      EXPECT_FALSE(settings->KeyUsage.contains(forbidden));
  }
  EXPECT_EQ(ProfileSettings(TProfile::Email, ktEdwards)->KeyUsage,
            TKeyUsageSet{kuDigitalSignature});
  EXPECT_EQ(DefaultKeyUsages(ktEdwards), TKeyUsageSet{kuDigitalSignature});
}

TEST(NameConstraintLists, ItemsAreTrimmedAndTheFirstBadOneNamed) {
  EXPECT_EQ(
      NameConstraintsFromList(" example.org, .test ,10.0.0.0/8,, @example.org,fd00::/8 "),
      (std::vector<std::string>{"example.org", ".test", "10.0.0.0/8", "@example.org", "fd00::/8"}));
  EXPECT_TRUE(NameConstraintsFromList("  ").empty());
  for (const auto& [list, item] : {std::pair{"example.org, 10.0.0.1, bad item", "10.0.0.1"},
                                   std::pair{"*.example.org", "*.example.org"},
                                   std::pair{"192.168.1.0/16", "192.168.1.0/16"}}) {
    SCOPED_TRACE(list);
    try {
      NameConstraintsFromList(list);
      ADD_FAILURE() << "taken";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Invalid name constraint \"") + item + "\".");
    }
  }
}

TEST(NameConstraintLists, OnlyACAsRequestPassesThemOn) {
  for (const bool isCA : {true, false}) {
    SCOPED_TRACE(isCA);
    TCertRequest request;
    request.IsCA = isCA;
    request.PermittedNames = {"example.org"};
    request.ExcludedNames = {"secret.example.org"};
    TCertBuilder builder;
    ApplyRequestToBuilder(request, builder);
    EXPECT_EQ(builder.PermittedNames.size(), isCA ? 1u : 0u);
    EXPECT_EQ(builder.ExcludedNames.size(), isCA ? 1u : 0u);
  }
}

// A CA constrained to example.org and 10.0.0.0/8, with secret.example.org excluded.
X509Ptr ConstrainedCA() {
  TCertBuilder ca;
  ca.Subject.CN = "Constrained CA";
  ca.IsCA = true;
  ca.KeyUsage = {kuKeyCertSign, kuCRLSign};
  ca.ExtKeyUsage = {};
  ca.PermittedNames = {"example.org", "10.0.0.0/8", "@example.org"};
  ca.ExcludedNames = {"secret.example.org"};
  ca.GenerateKey();
  ca.BuildSelfSigned();
  return X509Ptr(X509_dup(ca.Cert()));
}

TEST(NameConstraintChecks, EachNameOutsideTheCAsConstraintsIsFound) {
  const X509Ptr ca = ConstrainedCA();
  TCertRequest request = TLSRequest();
  request.SANDNSNames = {"www.example.org", "www.example.com", "x.secret.example.org"};
  request.SANIPs = {"10.1.1.1", "192.168.1.1"};
  request.SANEmails = {"alice@example.org", "bob@example.net"};
  const auto finding = [](const std::string& Name) {
    return "The CA may not issue for " + Name + ": clients will refuse this certificate.";
  };
  EXPECT_EQ(CheckRequest(request, {ktECC, 256}, ca.get()),
            (std::vector<std::string>{finding("www.example.com"), finding("x.secret.example.org"),
                                      finding("192.168.1.1"), finding("bob@example.net")}));
  request.SANDNSNames = {"www.example.org"};
  request.SANIPs = {"10.1.1.1"};
  request.SANEmails = {};
  request.Subject.Email = "carol@example.org";
  EXPECT_EQ(CheckRequest(request, {ktECC, 256}, ca.get()), std::vector<std::string>{});
  request.Subject.Email = "carol@elsewhere.org";
  EXPECT_EQ(CheckRequest(request, {ktECC, 256}, ca.get()),
            std::vector<std::string>{finding("carol@elsewhere.org")});
  // With no DNS alternative name, a common name that is a host name counts as one.
  request.Subject.Email.clear();
  request.SANDNSNames.clear();
  request.Subject.CN = "www.elsewhere.org";
  EXPECT_EQ(CheckRequest(request, {ktECC, 256}, ca.get()),
            std::vector<std::string>{finding("www.elsewhere.org")});
  request.Subject.CN = "Carol's device";
  EXPECT_EQ(CheckRequest(request, {ktECC, 256}, ca.get()), std::vector<std::string>{});
}

// The store shows an Edwards key by its curve and pairs it with its certificate.
TEST(EdwardsStore, DescribedByCurveAndPairedWithItsCertificate) {
  for (const char* type : {"ED25519", "ED448"}) {
    SCOPED_TRACE(type);
    const std::string name = type == std::string("ED25519") ? kEd25519 : kEd448;
    TempDir store;
    const EVP_PKEYPtr key = MakeKey(type);
    const X509Ptr cert = MakeSelfSignedCert(key.get(), "edwards.example");
    WriteFile(store.Path() / "edwards.crt", CertToPEM(cert.get()));
    WriteFile(store.Path() / "edwards.key", KeyToPKCS8PEM(key.get()));
    const TFileDescription certificate = DescribeStoreFile(store.File("edwards.crt"));
    EXPECT_NE(
        std::find(certificate.Lines.begin(), certificate.Lines.end(), "Key Type:     " + name),
        certificate.Lines.end());
    const TFileDescription privateKey = DescribeStoreFile(store.File("edwards.key"));
    EXPECT_NE(std::find(privateKey.Lines.begin(), privateKey.Lines.end(),
                        "Key Type: " + name + " private key"),
              privateKey.Lines.end());
    EXPECT_EQ(DescribeStoreRelations(store.File("edwards.crt")).front(),
              "Private key in store: edwards.key");
  }
}

}  // namespace
}  // namespace velmora::test
