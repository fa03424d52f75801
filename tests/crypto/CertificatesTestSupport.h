// Small checks shared by the certificate object and loader tests.
#pragma once

#include "crypto/Certificates.h"
#include "tests/support/CryptoFixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace velmora::test {

// A further reference to a handle, for an object that takes ownership of what it is given.
inline EVP_PKEY* NewRef(EVP_PKEY* Key) {
  EVP_PKEY_up_ref(Key);
  return Key;
}
inline X509* NewRef(X509* Cert) {
  X509_up_ref(Cert);
  return Cert;
}

inline Bytes BytesOf(const std::string& Text) { return Bytes(Text.begin(), Text.end()); }

// The message of the velmora::Exception that Action raises, or "(no failure)".
template <typename TAction>
std::string FailureOf(TAction&& Action) {
  try {
    std::forward<TAction>(Action)();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no failure)";
}

// A failure reported through RaiseOpenSSLError for the step named Context.
inline ::testing::AssertionResult IsOpenSSLFailure(const std::string& Message,
                                                   const std::string& Context) {
  for (const char* tail : {". OpenSSL: ", ". (No OpenSSL error queued.)"})
    if (Message.rfind(Context + tail, 0) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "\"" << Message << "\" is not a failure of \"" << Context << "\"";
}

// What an object should hold: Key and Cert are the expected ones (null for none).
inline void ExpectHolds(const TOpenSSLCert& Object, EVP_PKEY* Key, bool PrivateKey, X509* Cert) {
  if (Key == nullptr) {
    EXPECT_EQ(Object.PKey(), nullptr);
  } else {
    ASSERT_NE(Object.PKey(), nullptr);
    EXPECT_EQ(EVP_PKEY_eq(Object.PKey(), Key), 1) << "another key";
    EXPECT_EQ(HasPrivateComponent(Object.PKey()), PrivateKey);
  }
  EXPECT_EQ(Object.HasPrivateKey(), PrivateKey);
  if (Cert == nullptr) {
    EXPECT_EQ(Object.X509Cert(), nullptr);
  } else {
    ASSERT_NE(Object.X509Cert(), nullptr);
    EXPECT_EQ(X509_cmp(Object.X509Cert(), Cert), 0) << "another certificate";
  }
}

}  // namespace velmora::test
