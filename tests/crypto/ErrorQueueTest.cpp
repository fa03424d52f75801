// A caller may leave errors of its own in libcrypto's queue (a tolerated failure, another
// library on the same thread). Every public operation must report its own failure, never
// the earliest leftover: each case below fails once on a clean queue and once after a stray
// error, and both messages must be the same.
#include "crypto/Certificates.h"
#include "tests/crypto/BuilderTestSupport.h"

#include <functional>

namespace velmora::test {
namespace {

// An error no operation below causes itself, so its text in a message can only be a leftover.
void QueueStrayError() {
  ERR_raise_data(ERR_LIB_X509, X509_R_CERT_ALREADY_IN_HASH_TABLE, "left over by the caller");
}

struct TFailingOperation {
  const char* name;
  std::function<void(const TTempDir&)> run;
};

// Builders set up to fail at one particular step.
void GenerateWithCurve(const char* curve) {
  TCertBuilder b;
  b.ECCurve = curve;
  b.GenerateKey();
}

TCertBuilder& LeafWithKey() {
  static TCertBuilder leaf;
  static const bool ready = [] {
    leaf.Subject.CN = "error-queue.example";
    leaf.GenerateKey();
    leaf.BuildSelfSigned();
    return true;
  }();
  EXPECT_TRUE(ready);
  return leaf;
}

const TFailingOperation kOperations[] = {
    {"GenerateKey with an unknown curve", [](const TTempDir&) { GenerateWithCurve("no-such"); }},
    {"GenerateKey with an impossible RSA size",
     [](const TTempDir&) {
       TCertBuilder b;
       b.KeyType = ktRSA;
       b.RSABits = 1;
       b.GenerateKey();
     }},
    {"BuildSelfSigned with an IP that is none",
     [](const TTempDir&) {
       TCertBuilder& b = LeafWithKey();
       b.SANIPs = {"not-an-address"};
       struct Restore {
         TCertBuilder& b;
         ~Restore() { b.SANIPs.clear(); }
       } restore{b};
       b.BuildSelfSigned();
     }},
    {"BuildSignedBy with no CA certificate",
     [](const TTempDir&) { LeafWithKey().BuildSignedBy("no certificate", FirstCA().keyPEM, ""); }},
    {"BuildSignedBy with the wrong CA password",
     [](const TTempDir&) {
       LeafWithKey().BuildSignedBy(FirstCA().certPEM, FirstCA().encryptedKeyPEM, "wrong");
     }},
    {"SaveToPKCS12 into a missing directory",
     [](const TTempDir& dir) {
       LeafWithKey().SaveToPKCS12(dir / "missing/leaf.pfx", "pass", "leaf", "");
     }},
    {"AddFromPEMFile of a missing file",
     [](const TTempDir& dir) {
       TOpenSSLCert object(nullptr, false, nullptr);
       object.AddFromPEMFile(dir / "missing.pem", "");
     }},
    {"LoadCertificateFromPEMFile of a missing file",
     [](const TTempDir& dir) { TCertLoader::LoadCertificateFromPEMFile(dir / "missing.crt"); }},
    {"LoadCertificateFromPEMFile of a key",
     [](const TTempDir& dir) {
       WriteFileBytes(dir / "only.key", FirstCA().keyPEM);
       TCertLoader::LoadCertificateFromPEMFile(dir / "only.key");
     }},
    {"LoadPrivateKeyFromPEMFile with the wrong password",
     [](const TTempDir& dir) {
       WriteFileBytes(dir / "enc.key", FirstCA().encryptedKeyPEM);
       TCertLoader::LoadPrivateKeyFromPEMFile(dir / "enc.key", "wrong");
     }},
    {"LoadFromPEMFile of a missing file",
     [](const TTempDir& dir) { TCertLoader::LoadFromPEMFile(dir / "missing.pem", ""); }},
    {"LoadFromP12File of something else",
     [](const TTempDir& dir) {
       WriteFileBytes(dir / "text.p12", "not a bundle");
       TCertLoader::LoadFromP12File(dir / "text.p12", "");
     }},
    {"LoadFromP12File with the wrong password",
     [](const TTempDir& dir) {
       LeafWithKey().SaveToPKCS12(dir / "leaf.pfx", "right", "leaf", "");
       TCertLoader::LoadFromP12File(dir / "leaf.pfx", "wrong");
     }},
    {"LoadFromFile of a missing bundle",
     [](const TTempDir& dir) { TCertLoader::LoadFromFile(dir / "missing.pfx", ""); }},
};

TEST(ErrorQueue, EveryOperationReportsItsOwnFailureOverAStrayError) {
  TTempDir dir;
  for (const TFailingOperation& operation : kOperations) {
    SCOPED_TRACE(operation.name);
    ERR_clear_error();
    const std::string own = MessageOf([&] { operation.run(dir); });
    ASSERT_NE(own, "(no failure)");

    QueueStrayError();
    const std::string withStray = MessageOf([&] { operation.run(dir); });
    EXPECT_EQ(withStray, own);
    EXPECT_EQ(withStray.find("already in hash table"), std::string::npos) << withStray;
    ERR_clear_error();
  }
}

}  // namespace
}  // namespace velmora::test
