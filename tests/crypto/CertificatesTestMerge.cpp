// TOpenSSLCert::AddFromPEMFile: merging a PEM file's key and certificate into an object.
#include "tests/crypto/CertificatesTestSupport.h"

namespace velmora::test {
namespace {

// Two pairs whose facts differ, so that stale facts cannot pass for the right ones.
struct Pairs {
  EVP_PKEYPtr keyA = MakeECKey("prime256v1");
  X509Ptr certA = MakeSelfSignedCert(keyA.get(), "A");
  EVP_PKEYPtr keyB = MakeECKey("secp384r1");
  X509Ptr certB = MakeSelfSignedCert(keyB.get(), "B");
};

enum class Start { Nothing, PrivateKeyA, PrivateKeyAndCertA, CertA };
enum class Holds { Nothing, A, B };

std::unique_ptr<TOpenSSLCert> Make(Start start, const Pairs& p) {
  switch (start) {
    case Start::Nothing: return std::make_unique<TOpenSSLCert>(nullptr, false, nullptr);
    case Start::PrivateKeyA:
      return std::make_unique<TOpenSSLCert>(NewRef(p.keyA.get()), true, nullptr);
    case Start::PrivateKeyAndCertA:
      return std::make_unique<TOpenSSLCert>(NewRef(p.keyA.get()), true, NewRef(p.certA.get()));
    case Start::CertA: return TCertLoader::LoadCertificate(CertToPEM(p.certA.get()));
  }
  return nullptr;
}

struct MergeCase {
  const char* name;
  Start start;
  // PEM pieces written to the file in this order: "certA", "certB", "keyA", "keyB",
  // "encryptedKeyA" (under "secret"), "text". No pieces at all: the file does not exist.
  std::vector<std::string> file;
  const char* password;
  const char* failure;  // empty when the merge succeeds
  Holds key;
  bool privateKey;
  Holds cert;
};

const char kCertMismatch[] = "Security Error: Certificate does not match the current private key.";
const char kKeyMismatch[] = "Security Error: Private key does not match the current certificate.";

const MergeCase kMergeCases[] = {
    {"matching certificate joins the held private key",
     Start::PrivateKeyA,
     {"certA"},
     "",
     "",
     Holds::A,
     true,
     Holds::A},
    {"certificate not matching the held private key is refused",
     Start::PrivateKeyA,
     {"certB"},
     "",
     kCertMismatch,
     Holds::A,
     true,
     Holds::Nothing},
    {"refused certificate leaves key and certificate in hand",
     Start::PrivateKeyAndCertA,
     {"certB", "keyB"},
     "",
     kCertMismatch,
     Holds::A,
     true,
     Holds::A},
    {"certificate replaces a held public key",
     Start::CertA,
     {"certB"},
     "",
     "",
     Holds::B,
     false,
     Holds::B},
    {"key matching the held certificate is taken",
     Start::CertA,
     {"keyA"},
     "",
     "",
     Holds::A,
     true,
     Holds::A},
    {"key not matching the held certificate is refused",
     Start::CertA,
     {"keyB"},
     "",
     kKeyMismatch,
     Holds::A,
     false,
     Holds::A},
    {"file's certificate is taken before its mismatching key is refused",
     Start::CertA,
     {"certB", "keyA"},
     "",
     kKeyMismatch,
     Holds::B,
     false,
     Holds::B},
    {"new private key replaces the held one",
     Start::PrivateKeyA,
     {"keyB"},
     "",
     "",
     Holds::B,
     true,
     Holds::Nothing},
    {"certificate then key into an empty object",
     Start::Nothing,
     {"certA", "keyA"},
     "",
     "",
     Holds::A,
     true,
     Holds::A},
    {"key then certificate into an empty object",
     Start::Nothing,
     {"keyA", "certA"},
     "",
     "",
     Holds::A,
     true,
     Holds::A},
    {"encrypted key with its password",
     Start::Nothing,
     {"certA", "encryptedKeyA"},
     "secret",
     "",
     Holds::A,
     true,
     Holds::A},
    {"encrypted key with a wrong password: only the certificate",
     Start::Nothing,
     {"certA", "encryptedKeyA"},
     "wrong",
     "",
     Holds::A,
     false,
     Holds::A},
    {"file with neither changes nothing",
     Start::PrivateKeyAndCertA,
     {"text"},
     "",
     "",
     Holds::A,
     true,
     Holds::A},
    {"missing file",
     Start::PrivateKeyAndCertA,
     {},
     "",
     "Cannot open file: ",
     Holds::A,
     true,
     Holds::A},
};

std::string PEMOf(const std::string& piece, const Pairs& p) {
  if (piece == "certA") return CertToPEM(p.certA.get());
  if (piece == "certB") return CertToPEM(p.certB.get());
  if (piece == "keyA") return KeyToPKCS8PEM(p.keyA.get());
  if (piece == "keyB") return KeyToPKCS8PEM(p.keyB.get());
  if (piece == "encryptedKeyA") return KeyToPKCS8PEM(p.keyA.get(), "secret");
  return "Nothing to see here.\n";
}

// Checks the object against the expected holdings, including that the derived facts
// describe the key actually held.
void ExpectMerged(const TOpenSSLCert& object, const MergeCase& c, const Pairs& p) {
  EVP_PKEY* key = c.key == Holds::A ? p.keyA.get() : c.key == Holds::B ? p.keyB.get() : nullptr;
  X509* cert = c.cert == Holds::A ? p.certA.get() : c.cert == Holds::B ? p.certB.get() : nullptr;
  ExpectHolds(object, key, c.privateKey, cert);
  EXPECT_EQ(object.KeyType(), key ? ctECC : ctUnknown);
  EXPECT_EQ(object.Bits(), c.key == Holds::A ? 256 : c.key == Holds::B ? 384 : 0);
  EXPECT_EQ(object.GetSigAlg(), c.key == Holds::A   ? saES256
                                : c.key == Holds::B ? saES384
                                                    : saUnknown);
}

TEST(AddFromPEMFile, MergesByItsRules) {
  const Pairs pairs;
  const TempDir dir;
  int n = 0;
  for (const MergeCase& c : kMergeCases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.File("merge" + std::to_string(++n) + ".pem");
    if (!c.file.empty()) {
      std::string contents;
      for (const std::string& piece : c.file) contents += PEMOf(piece, pairs);
      WriteFile(file, contents);
    }
    std::unique_ptr<TOpenSSLCert> object = Make(c.start, pairs);
    ASSERT_NE(object, nullptr);

    const std::string failure = FailureOf([&] { object->AddFromPEMFile(file, c.password); });
    if (c.file.empty())
      EXPECT_EQ(failure, c.failure + file);
    else
      EXPECT_EQ(failure, *c.failure ? c.failure : "(no failure)");
    ExpectMerged(*object, c, pairs);
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

}  // namespace
}  // namespace velmora::test
