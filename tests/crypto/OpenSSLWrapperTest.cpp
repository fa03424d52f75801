#include "crypto/OpenSSLWrapper.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <string>

namespace velmora {
namespace {

std::string MessageOf(const std::string& context) {
  try {
    RaiseOpenSSLError(context);
  } catch (const Exception& e) {
    return e.what();
  }
  ADD_FAILURE() << "RaiseOpenSSLError returned";
  return {};
}

// Queues one real libcrypto error by asking for a certificate in text that has none.
void QueueOneError() {
  const std::string text = "no certificate here";
  BIOPtr bio = NewMemBuf(text);
  X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  ASSERT_EQ(cert, nullptr);
  ASSERT_NE(ERR_peek_error(), 0u);
}

TEST(RaiseOpenSSLError, EmptyQueueGivesTheNoErrorForm) {
  ERR_clear_error();
  EXPECT_EQ(MessageOf("EVP_MD_CTX_new"), "EVP_MD_CTX_new. (No OpenSSL error queued.)");
  EXPECT_EQ(MessageOf("BIO_new_file: /tmp/x.pem"),
            "BIO_new_file: /tmp/x.pem. (No OpenSSL error queued.)");
}

TEST(RaiseOpenSSLError, QueuedEntryIsReportedAndQueueEmptied) {
  ERR_clear_error();
  QueueOneError();
  char expected[256];
  ERR_error_string_n(ERR_peek_error(), expected, sizeof expected);
  EXPECT_EQ(MessageOf("PEM_read_bio_X509"), std::string("PEM_read_bio_X509. OpenSSL: ") + expected);
  EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST(RaiseOpenSSLError, ReportsTheEarliestEntryOfTheFailingStep) {
  ERR_clear_error();
  ERR_raise(ERR_LIB_X509, X509_R_CERT_ALREADY_IN_HASH_TABLE);  // root cause
  ERR_raise(ERR_LIB_PEM, PEM_R_NO_START_LINE);                 // follow-up
  const std::string message = MessageOf("step");
  EXPECT_NE(message.find("cert already in hash table"), std::string::npos) << message;
  EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST(TolerateErrors, DropsWhatTheToleratedCallQueued) {
  ERR_clear_error();
  ERR_raise(ERR_LIB_X509, X509_R_CERT_ALREADY_IN_HASH_TABLE);
  {
    TolerateErrors tolerate;
    QueueOneError();
  }
  // The entry from before the guard is all that is left.
  EXPECT_EQ(ERR_GET_REASON(ERR_get_error()), X509_R_CERT_ALREADY_IN_HASH_TABLE);
  EXPECT_EQ(ERR_get_error(), 0u);
}

TEST(PassphraseCallback, SuppliesThePasswordOrNothing) {
  char buf[8] = {};
  char password[] = "secret";
  EXPECT_EQ(PassphraseCallback(buf, sizeof buf, 0, password), 6);
  EXPECT_EQ(std::string(buf, 6), "secret");
  EXPECT_EQ(PassphraseCallback(buf, sizeof buf, 0, nullptr), 0);
  char toolong[] = "much too long";
  EXPECT_EQ(PassphraseCallback(buf, sizeof buf, 0, toolong), 0);
}

}  // namespace
}  // namespace velmora
