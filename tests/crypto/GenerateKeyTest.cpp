#include "crypto/CertBuilder.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>

#include <string>

namespace velmora {
namespace {

std::string GroupOf(EVP_PKEY* key) {
  char name[80] = {};
  size_t length = 0;
  if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, name, sizeof name, &length) !=
      1)
    return {};
  return name;
}

TEST(TCertBuilder, StartsWithDefaultsAndNothingMade) {
  TCertBuilder b;
  EXPECT_EQ(b.Key(), nullptr);
  EXPECT_EQ(b.Cert(), nullptr);
  EXPECT_EQ(b.KeyType, ktECC);
  EXPECT_EQ(b.ECCurve, "P-256");
  EXPECT_EQ(b.RSABits, 2048);
  EXPECT_EQ(b.ValidDays, 365);
  EXPECT_FALSE(b.IsCA);
  EXPECT_EQ(b.PathLenConstraint, 0);
  EXPECT_EQ(b.KeyUsage.value(), 5);
  EXPECT_EQ(b.ExtKeyUsage.value(), 3);
  EXPECT_TRUE(b.SANDNSNames.empty() && b.SANIPs.empty() && b.SANEmails.empty());
}

TEST(TSmallSet, MemberIIsBitI) {
  TKeyUsageSet set{kuDecipherOnly, kuDigitalSignature};
  EXPECT_EQ(set.value(), 0x101);
  set.erase(kuDigitalSignature);
  set.insert(kuKeyCertSign);
  EXPECT_TRUE(set.contains(kuKeyCertSign));
  EXPECT_FALSE(set.contains(kuDigitalSignature));
  EXPECT_EQ(set.value(), 0x120);
  EXPECT_TRUE(TExtKeyUsageSet{}.empty());
  EXPECT_EQ((TExtKeyUsageSet{ekuOCSPSigning}.value()), 0x20);
}

struct ECCase {
  const char* curve;
  const char* group;
  int bits;
};

void PrintTo(const ECCase& c, std::ostream* os) { *os << c.curve; }

class GenerateECKey : public testing::TestWithParam<ECCase> {};

TEST_P(GenerateECKey, MakesAKeyOnTheNamedGroup) {
  TCertBuilder b;
  b.ECCurve = GetParam().curve;
  b.RSABits = 1;  // must play no part for an EC key
  b.GenerateKey();
  ASSERT_NE(b.Key(), nullptr);
  EXPECT_EQ(EVP_PKEY_get_base_id(b.Key()), EVP_PKEY_EC);
  EXPECT_EQ(EVP_PKEY_get_bits(b.Key()), GetParam().bits);
  EXPECT_EQ(GroupOf(b.Key()), GetParam().group);
}

INSTANTIATE_TEST_SUITE_P(Curves, GenerateECKey,
                         testing::Values(ECCase{"P-256", "prime256v1", 256},
                                         ECCase{"P-384", "secp384r1", 384},
                                         ECCase{"P-521", "secp521r1", 521},
                                         ECCase{"secp256k1", "secp256k1", 256}),
                         [](const auto& info) { return std::string(info.param.group); });

TEST(GenerateKey, RSA2048) {
  TCertBuilder b;
  b.KeyType = ktRSA;
  b.ECCurve = "nonsense";  // must play no part for an RSA key
  b.GenerateKey();
  ASSERT_NE(b.Key(), nullptr);
  EXPECT_EQ(EVP_PKEY_get_base_id(b.Key()), EVP_PKEY_RSA);
  EXPECT_EQ(EVP_PKEY_get_bits(b.Key()), 2048);
}

std::string FailureOf(TCertBuilder& b) {
  try {
    b.GenerateKey();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no failure)";
}

TEST(GenerateKey, FailuresLeaveNoKeyAndCarryTheStepText) {
  struct Case {
    const char* name;
    TKeyType type;
    const char* curve;
    int bits;
    std::vector<std::string> prefixes;
  };
  const Case cases[] = {
      {"lower-case curve",
       ktECC,
       "p-256",
       2048,
       {"EC set_params(group). OpenSSL: ", "EC keygen. OpenSSL: "}},
      {"RSA below minimum", ktRSA, "P-256", 256, {"RSA set_keygen_bits. OpenSSL: "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TCertBuilder b;
    b.GenerateKey();  // an earlier key pair that the failure must free
    ASSERT_NE(b.Key(), nullptr);
    b.KeyType = c.type;
    b.ECCurve = c.curve;
    b.RSABits = c.bits;
    const std::string message = FailureOf(b);
    bool matched = false;
    for (const auto& prefix : c.prefixes) matched |= message.rfind(prefix, 0) == 0;
    EXPECT_TRUE(matched) << message;
    EXPECT_EQ(b.Key(), nullptr);
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

TEST(GenerateKey, ReplacesAnEarlierKey) {
  TCertBuilder b;
  b.GenerateKey();
  EVP_PKEYPtr first(EVP_PKEY_dup(b.Key()));
  b.GenerateKey();
  ASSERT_NE(b.Key(), nullptr);
  EXPECT_NE(EVP_PKEY_eq(first.get(), b.Key()), 1);
}

TEST(GenerateKey, TheObserverSeesThePrimeSearchAndCanStopIt) {
  struct Case {
    const char* name;
    int stopAfter;  // calls answered "go on" before the observer says stop; -1 never
  };
  for (const Case& c :
       {Case{"runs to the end", -1}, Case{"stopped at once", 0}, Case{"stopped midway", 20}}) {
    SCOPED_TRACE(c.name);
    TCertBuilder b;
    b.KeyType = ktRSA;
    b.RSABits = 1024;
    int calls = 0;
    const auto observer = [&] { return c.stopAfter < 0 || calls++ < c.stopAfter; };
    std::string message = "(no failure)";
    try {
      b.GenerateKey(observer);
    } catch (const Exception& e) {
      message = e.what();
    }
    if (c.stopAfter < 0) {
      EXPECT_EQ(message, "(no failure)");
      EXPECT_NE(b.Key(), nullptr);
    } else {
      EXPECT_EQ(message, "Key generation cancelled.");
      EXPECT_EQ(b.Key(), nullptr);
      EXPECT_EQ(calls, c.stopAfter + 1) << "the search went on after it was told to stop";
      EXPECT_EQ(ERR_peek_error(), 0u);
    }
  }
}

}  // namespace
}  // namespace velmora
