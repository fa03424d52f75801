// What a failure tells code beside its message: the failed step, libcrypto's library and
// reason codes of the root cause, and errno for a failed system call; the message stays as
// it always read.
#include "BuilderTestSupport.h"
#include "crypto/Exception.h"

#include <openssl/err.h>
#include <openssl/pemerr.h>
#include <openssl/proverr.h>
#include <openssl/x509v3err.h>

#include <cerrno>
#include <functional>

namespace velmora::test {
namespace {

Exception FailureOf(const std::function<void()>& Step) {
  try {
    Step();
  } catch (const Exception& e) {
    return e;
  }
  ADD_FAILURE() << "the step did not fail";
  return Exception("");
}

TEST(FailureCause, RealFailuresCarryTheirCodes) {
  TCertBuilder ca, leaf;
  ca.Subject.CN = "Cause CA";
  ca.IsCA = true;
  ca.GenerateKey();
  ca.BuildSelfSigned();
  leaf.Subject.CN = "leaf.example";
  leaf.GenerateKey();
  const std::string caPEM = ca.CertToPEM(), caKey = ca.KeyToPEM("right");
  TTempDir dir;
  struct Case {
    const char* name;
    std::function<void()> step;
    TFailureCause cause;
    const char* messageStart;
  };
  const Case cases[] = {
      {"WrongCAPassword",
       [&] { leaf.BuildSignedBy(caPEM, caKey, "wrong"); },
       {"PEM_read_bio_PrivateKey (CA)", ERR_LIB_PROV, PROV_R_BAD_DECRYPT, 0,
        TFailureKind::WrongPassword},
       "PEM_read_bio_PrivateKey (CA). OpenSSL: error:"},
      {"CACertificateNotPEM",
       [&] { leaf.BuildSignedBy("no certificate", caKey, "right"); },
       {"PEM_read_bio_X509 (CA cert)", ERR_LIB_PEM, PEM_R_NO_START_LINE, 0,
        TFailureKind::NoPEMBlock},
       "PEM_read_bio_X509 (CA cert). OpenSSL: error:"},
      {"HostNameAsIPAddress",
       [&] {
         TCertBuilder named;
         named.Subject.CN = "named.example";
         named.SANIPs = {"localhost"};
         named.GenerateKey();
         named.BuildSelfSigned();
       },
       {"X509V3_EXT_conf_nid nid=85 val=IP:localhost", ERR_LIB_X509V3, X509V3_R_BAD_IP_ADDRESS, 0,
        TFailureKind::BadIPAddress},
       "X509V3_EXT_conf_nid nid=85 val=IP:localhost. OpenSSL: error:"},
      {"BundleIntoAMissingFolder",
       [&] { ca.SaveToPKCS12(dir / "absent/ca.pfx", "x", "x", ""); },
       {"BIO_new_file (PFX)", ERR_LIB_SYS, ENOENT, ENOENT},
       "BIO_new_file (PFX). OpenSSL: error:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Exception e = FailureOf(c.step);
    EXPECT_EQ(e.Cause().Step, c.cause.Step);
    EXPECT_EQ(e.Cause().Library, c.cause.Library);
    EXPECT_EQ(e.Cause().Reason, c.cause.Reason);
    EXPECT_EQ(e.Cause().Errno, c.cause.Errno);
    EXPECT_EQ(e.Cause().Kind, c.cause.Kind);
    EXPECT_EQ(std::string(e.what()).rfind(c.messageStart, 0), 0u) << e.what();
  }
}

TEST(FailureCause, NothingQueuedLeavesTheCodesEmpty) {
  ERR_clear_error();
  const Exception e = FailureOf([] { RaiseOpenSSLError("some step"); });
  EXPECT_STREQ(e.what(), "some step. (No OpenSSL error queued.)");
  EXPECT_EQ(e.Cause().Step, "some step");
  EXPECT_EQ(e.Cause().Library, 0);
  EXPECT_EQ(e.Cause().Reason, 0);
  EXPECT_EQ(e.Cause().Errno, 0);
}

}  // namespace
}  // namespace velmora::test
