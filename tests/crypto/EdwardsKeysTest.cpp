// Edwards-curve keys beside RSA and EC: every kind of CA signs every kind of key, with the
// digest its own key calls for, and three independent verifiers (OpenSSL in strict mode,
// GnuTLS's certtool, Python's cryptography) accept each result; bundles of Edwards keys read
// back in both protections and open in NSS and Python.
#include "BuilderTestSupport.h"
#include "tests/support/RunCommand.h"

#include <map>
#include <memory>

namespace velmora::test {
namespace {

struct TKeyKind {
  const char* name;
  TKeyType type;
  const char* curveOrAlgorithm;
  // The signature a CA of this kind makes, whatever key it signs.
  int signatureNID;
};

const TKeyKind kKinds[] = {
    {"RSA", ktRSA, "", NID_sha256WithRSAEncryption},
    {"P256", ktECC, "P-256", NID_ecdsa_with_SHA256},
    {"P384", ktECC, "P-384", NID_ecdsa_with_SHA384},
    {"P521", ktECC, "P-521", NID_ecdsa_with_SHA512},
    {"Ed25519", ktEdwards, kEd25519, NID_ED25519},
    {"Ed448", ktEdwards, kEd448, NID_ED448},
};

std::unique_ptr<TCertBuilder> KeyOfKind(const TKeyKind& Kind, const std::string& CommonName) {
  auto builder = std::make_unique<TCertBuilder>();
  builder->Subject.CN = CommonName;
  builder->KeyType = Kind.type;
  builder->ECCurve = Kind.type == ktECC ? Kind.curveOrAlgorithm : "P-256";
  builder->EdAlgorithm = Kind.type == ktEdwards ? Kind.curveOrAlgorithm : kEd25519;
  builder->GenerateKey();
  return builder;
}

// A builder holding a new key of Algorithm ("Ed25519" or "Ed448").
std::unique_ptr<TNamedBuilder> EdwardsBuilder(const std::string& Algorithm) {
  auto builder = std::make_unique<TNamedBuilder>();
  builder->KeyType = ktEdwards;
  builder->EdAlgorithm = Algorithm;
  builder->GenerateKey();
  return builder;
}

void RequireTools() {
  for (const char* program : {"openssl", "certtool", "/usr/bin/python3", "pk12util"})
    ASSERT_EQ(RunCommand(std::string("command -v ") + program).status, 0)
        << program << " is not installed; scripts/install-deps installs it";
  ASSERT_EQ(RunCommand("/usr/bin/python3 -c 'import cryptography'").status, 0)
      << "python3-cryptography is not installed; scripts/install-deps installs it";
}

TEST(EdwardsKeys, GenerateBothCurvesAndRefuseAnyOther) {
  for (const char* algorithm : {kEd25519, kEd448}) {
    SCOPED_TRACE(algorithm);
    const std::unique_ptr<TNamedBuilder> b = EdwardsBuilder(algorithm);
    ASSERT_NE(b->Key(), nullptr);
    EXPECT_EQ(EdwardsAlgorithmOf(b->Key()), algorithm);
    EXPECT_EQ(SignatureDigestFor(b->Key()), nullptr);
  }
  std::unique_ptr<TNamedBuilder> b;
  EXPECT_EQ(MessageOf([&] { b = EdwardsBuilder("X25519"); }),
            "Unknown Edwards-curve algorithm \"X25519\": Ed25519 or Ed448.");
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(ERR_peek_error(), 0u);
}

// The public key is written without libcrypto's encoder: the bytes must be the encoder's.
TEST(EdwardsKeys, PublicKeyInfoIsTheEncodersOwn) {
  for (const char* algorithm : {kEd25519, kEd448}) {
    SCOPED_TRACE(algorithm);
    const std::unique_ptr<TNamedBuilder> owner = EdwardsBuilder(algorithm);
    TNamedBuilder& b = *owner;
    b.BuildSelfSigned();
    unsigned char* expected = nullptr;
    const int expectedLength = i2d_PUBKEY(b.Key(), &expected);
    unsigned char* written = nullptr;
    const int writtenLength = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(b.Cert()), &written);
    ASSERT_GT(expectedLength, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(written), writtenLength),
              std::string(reinterpret_cast<char*>(expected), expectedLength));
    OPENSSL_free(expected);
    OPENSSL_free(written);
    EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(b.Cert()), b.Key()), 1);
    EXPECT_EQ(X509_verify(b.Cert(), b.Key()), 1);
  }
}

// Every signer with every subject: the signature follows the signer's key, and every verifier
// accepts the certificate under its CA.
TEST(EdwardsKeys, EverySignerWithEverySubjectVerifiesEverywhere) {
  RequireTools();
  TTempDir dir;
  std::map<std::string, std::string> caFiles;
  std::map<std::string, std::unique_ptr<TCertBuilder>> subjects;
  for (const TKeyKind& kind : kKinds) {
    std::unique_ptr<TCertBuilder> ca = KeyOfKind(kind, std::string(kind.name) + " CA");
    ca->IsCA = true;
    ca->PathLenConstraint = -1;
    ca->KeyUsage = {kuKeyCertSign, kuCRLSign};
    ca->ExtKeyUsage = {};
    ca->BuildSelfSigned();
    EXPECT_EQ(X509_get_signature_nid(ca->Cert()), kind.signatureNID) << kind.name;
    caFiles[kind.name] = dir / (std::string(kind.name) + "-ca.crt");
    WriteFileBytes(caFiles[kind.name], ca->CertToPEM());
    WriteFileBytes(dir / (std::string(kind.name) + "-ca.key"), ca->KeyToPEM(""));
    subjects[kind.name] = KeyOfKind(kind, std::string(kind.name) + ".leaf.test");
    subjects[kind.name]->KeyUsage = {kuDigitalSignature};
    subjects[kind.name]->SANDNSNames = {std::string(kind.name) + ".leaf.test"};
  }
  std::string pythonPairs;
  for (const TKeyKind& signer : kKinds) {
    const std::string caPEM = ReadFileBytes(caFiles[signer.name]);
    const std::string caKeyPEM = ReadFileBytes(dir / (std::string(signer.name) + "-ca.key"));
    for (const TKeyKind& subject : kKinds) {
      const std::string pair = std::string(signer.name) + " signs " + subject.name;
      SCOPED_TRACE(pair);
      TCertBuilder& leaf = *subjects[subject.name];
      leaf.BuildSignedBy(caPEM, caKeyPEM, "");
      EXPECT_EQ(X509_get_signature_nid(leaf.Cert()), signer.signatureNID)
          << OBJ_nid2ln(X509_get_signature_nid(leaf.Cert()));
      const std::string leafFile = dir / (std::string(signer.name) + "-" + subject.name + ".crt");
      WriteFileBytes(leafFile, leaf.CertToPEM());
      const TRun openssl = RunCommand("openssl verify -x509_strict -CAfile " +
                                      Quoted(caFiles[signer.name]) + " " + Quoted(leafFile));
      EXPECT_EQ(openssl.status, 0) << openssl.output;
      const TRun certtool =
          RunCommand("certtool --verify --load-ca-certificate " + Quoted(caFiles[signer.name]) +
                     " --infile " + Quoted(leafFile));
      EXPECT_EQ(certtool.status, 0) << certtool.output;
      pythonPairs += caFiles[signer.name] + " " + leafFile + " ";
    }
  }
  // One interpreter for all pairs: each leaf's signature checked under its CA's key.
  const TRun python = RunCommand(
      "/usr/bin/python3 -c 'import sys\n"
      "from cryptography import x509\n"
      "from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa\n"
      "a = sys.argv[1:]\n"
      "for ca, leaf in zip(a[0::2], a[1::2]):\n"
      "    c = x509.load_pem_x509_certificate(open(ca, \"rb\").read())\n"
      "    l = x509.load_pem_x509_certificate(open(leaf, \"rb\").read())\n"
      "    assert l.issuer == c.subject\n"
      "    k = c.public_key()\n"
      "    h = l.signature_hash_algorithm\n"
      "    if isinstance(k, rsa.RSAPublicKey):\n"
      "        k.verify(l.signature, l.tbs_certificate_bytes, padding.PKCS1v15(), h)\n"
      "    elif isinstance(k, ec.EllipticCurvePublicKey):\n"
      "        k.verify(l.signature, l.tbs_certificate_bytes, ec.ECDSA(h))\n"
      "    else:\n"
      "        assert h is None\n"
      "        k.verify(l.signature, l.tbs_certificate_bytes)\n"
      "    l.extensions\n"
      "print(len(a) // 2)' " +
      pythonPairs);
  EXPECT_EQ(python.status, 0) << python.output;
  EXPECT_EQ(python.output, std::to_string(std::size(kKinds) * std::size(kKinds)) + "\n");
}

// Both protections of a bundle hold an Edwards key that reads back whole; NSS decrypts and
// lists them, Python's cryptography loads key and certificates.
TEST(EdwardsKeys, BundlesInBothProtectionsOpenElsewhere) {
  RequireTools();
  TTempDir dir;
  for (const char* algorithm : {kEd25519, kEd448}) {
    const std::unique_ptr<TNamedBuilder> owner = EdwardsBuilder(algorithm);
    TNamedBuilder& leaf = *owner;
    leaf.BuildSignedBy(FirstCA().certPEM, FirstCA().keyPEM, "");
    for (const TPKCS12Format format : {TPKCS12Format::Modern, TPKCS12Format::Compatible}) {
      const std::string name =
          std::string(algorithm) + (format == TPKCS12Format::Modern ? "-modern" : "-compatible");
      SCOPED_TRACE(name);
      const std::string bundle = dir / (name + ".p12");
      leaf.SaveToPKCS12(bundle, "secret", name, FirstCA().certPEM, format);
      const TRun nss = RunCommand("pk12util -l " + Quoted(bundle) + " -W secret");
      EXPECT_EQ(nss.status, 0) << nss.output;
      EXPECT_NE(nss.output.find("Certificate(has private key)"), std::string::npos) << nss.output;
      const TRun python = RunCommand(
          "/usr/bin/python3 -c 'import sys\n"
          "from cryptography.hazmat.primitives.asymmetric import ed25519, ed448\n"
          "from cryptography.hazmat.primitives.serialization import pkcs12\n"
          "k, c, chain = pkcs12.load_key_and_certificates(open(sys.argv[1], \"rb\").read(), "
          "b\"secret\")\n"
          "kind = \"Ed25519\" if isinstance(k, ed25519.Ed25519PrivateKey) else \"Ed448\" if "
          "isinstance(k, ed448.Ed448PrivateKey) else \"other\"\n"
          "from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat\n"
          "raw = lambda p: p.public_bytes(Encoding.Raw, PublicFormat.Raw)\n"
          "assert raw(k.public_key()) == raw(c.public_key())\n"
          "print(kind, c.subject.rfc4514_string(), len(chain))' " +
          Quoted(bundle));
      EXPECT_EQ(python.status, 0) << python.output;
      EXPECT_EQ(python.output, std::string(algorithm) + " CN=builder.test 1\n");
    }
  }
}

}  // namespace
}  // namespace velmora::test
