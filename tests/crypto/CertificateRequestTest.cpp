// PKCS#10 requests: the ones the builder makes, as openssl and certtool read them; the view
// of requests other tools make; and certificates issued for a request's public key alone.
#include "crypto/CSR.h"
#include "crypto/KeyIdentity.h"
#include "tests/support/CryptoFixtures.h"
#include "tests/support/RunCommand.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace velmora::test {
namespace {

std::string Missing(const std::vector<std::string>& Programs) {
  std::string missing;
  for (const std::string& program : Programs)
    if (RunCommand("command -v " + program + " >/dev/null 2>&1").status != 0)
      missing += (missing.empty() ? "" : ", ") + program;
  return missing;
}

std::string ReadAll(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class CertificateRequest : public testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = Missing({"openssl", "certtool"}); !missing.empty())
      GTEST_FAIL() << "These checks read requests with openssl and certtool; not installed: "
                   << missing;
  }
  TempDir FDir;
};

struct TRequestCase {
  const char* Name;
  TKeyType Type;
  bool WithNames;
  const char* Signature;  // as `openssl req -text` names it
};

TEST_F(CertificateRequest, BuilderRequestsVerifyAndShowTheirExtensionsToOpenSSLAndCerttool) {
  const TRequestCase cases[] = {
      {"EC with names", ktECC, true, "ecdsa-with-SHA256"},
      {"EC without names", ktECC, false, "ecdsa-with-SHA256"},
      {"RSA with names", ktRSA, true, "sha256WithRSAEncryption"},
      {"RSA without names", ktRSA, false, "sha256WithRSAEncryption"},
      {"Ed25519", ktEdwards, true, "ED25519"},
  };
  for (const TRequestCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TCertBuilder builder;
    builder.KeyType = c.Type;
    builder.GenerateKey();
    builder.Subject.CN = "server.example.org";
    builder.Subject.O = "Example";
    builder.KeyUsage = {kuDigitalSignature};
    builder.ExtKeyUsage = {ekuServerAuth};
    if (c.WithNames) {
      builder.SANDNSNames = {"server.example.org", "www.example.org"};
      builder.SANIPs = {"192.0.2.7"};
    }
    builder.BuildRequest();
    const std::string path = FDir.File("request.csr");
    WriteFile(path, builder.RequestToPEM());

    const TRun openssl =
        RunCommand("openssl req -verify -noout -text -in " + Quoted(path) + " 2>&1");
    ASSERT_EQ(openssl.status, 0) << openssl.output;
    EXPECT_NE(openssl.output.find("verify OK"), std::string::npos) << openssl.output;
    EXPECT_NE(openssl.output.find("Subject: O = Example, CN = server.example.org"),
              std::string::npos)
        << openssl.output;
    EXPECT_NE(openssl.output.find("Requested Extensions:"), std::string::npos);
    EXPECT_NE(openssl.output.find("CA:FALSE"), std::string::npos);
    EXPECT_NE(openssl.output.find("Digital Signature"), std::string::npos);
    EXPECT_NE(openssl.output.find("TLS Web Server Authentication"), std::string::npos);
    EXPECT_NE(openssl.output.find(c.Signature), std::string::npos) << openssl.output;
    EXPECT_EQ(
        openssl.output.find("DNS:server.example.org, DNS:www.example.org, IP Address:192.0.2.7") !=
            std::string::npos,
        c.WithNames)
        << openssl.output;

    const TRun certtool = RunCommand("certtool --crq-info --infile " + Quoted(path) + " 2>&1");
    ASSERT_EQ(certtool.status, 0) << certtool.output;
    EXPECT_NE(certtool.output.find("Basic Constraints"), std::string::npos) << certtool.output;
    EXPECT_NE(certtool.output.find("Key Usage"), std::string::npos);
    EXPECT_NE(certtool.output.find("TLS WWW Server"), std::string::npos);
    EXPECT_EQ(certtool.output.find("DNSname: www.example.org") != std::string::npos, c.WithNames)
        << certtool.output;
  }
}

// The digest follows the key as for certificates: a P-384 key signs its request with SHA-384.
TEST_F(CertificateRequest, RequestIsSignedWithTheDigestOfIssuance) {
  TCertBuilder builder;
  builder.ECCurve = "P-384";
  builder.GenerateKey();
  builder.Subject.CN = "p384.example";
  builder.BuildRequest();
  const TCSRView view(ReadCSRPEMOrDER(builder.RequestToPEM()));
  EXPECT_EQ(view.SignatureAlgorithm(), "ecdsa-with-SHA384");
  EXPECT_TRUE(view.Verifies());
}

TEST_F(CertificateRequest, ViewReadsWhatAnOpenSSLRequestAsksFor) {
  const std::string key = FDir.File("r.key"), csr = FDir.File("r.csr");
  const TRun made =
      RunCommand("openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " +
                 Quoted(key) + " -out " + Quoted(csr) +
                 " -subj '/C=DE/O=Example/OU=One/OU=Two/CN=r.example.org/serialNumber=42'"
                 " -addext 'basicConstraints=critical,CA:TRUE,pathlen:1'"
                 " -addext 'keyUsage=critical,keyCertSign,cRLSign'"
                 " -addext 'extendedKeyUsage=serverAuth,1.2.3.4'"
                 " -addext "
                 "'subjectAltName=DNS:r.example.org,IP:2001:db8::1,email:a@example.org,URI:https://"
                 "example.org'"
                 " -addext 'subjectKeyIdentifier=hash' 2>&1");
  ASSERT_EQ(made.status, 0) << made.output;
  const std::string bytes = ReadAll(csr);
  X509_REQPtr request = ReadCSRPEMOrDER(bytes);
  ASSERT_TRUE(request);
  const TCSRView view(std::move(request));
  EXPECT_TRUE(view.Verifies());
  const TCSRContent content = view.Content();
  EXPECT_EQ(content.Subject.C, "DE");
  EXPECT_EQ(content.Subject.O, "Example");
  EXPECT_EQ(content.Subject.OU, "One");
  EXPECT_EQ(content.Subject.CN, "r.example.org");
  EXPECT_EQ(content.OtherSubjectFields, (std::vector<std::string>{"OU=Two", "serialNumber=42"}));
  EXPECT_EQ(content.SANDNSNames, std::vector<std::string>{"r.example.org"});
  EXPECT_EQ(content.SANIPs, std::vector<std::string>{"2001:db8::1"});
  EXPECT_EQ(content.SANEmails, std::vector<std::string>{"a@example.org"});
  EXPECT_EQ(content.OtherAlternativeNames, std::vector<std::string>{"URI:https://example.org"});
  EXPECT_TRUE(content.HasBasicConstraints);
  EXPECT_TRUE(content.IsCA);
  EXPECT_EQ(content.PathLenConstraint, 1);
  EXPECT_EQ(content.KeyUsage, (TKeyUsageSet{kuKeyCertSign, kuCRLSign}));
  EXPECT_EQ(content.ExtKeyUsage, TExtKeyUsageSet{ekuServerAuth});
  EXPECT_EQ(content.OtherExtKeyUsages, std::vector<std::string>{"1.2.3.4"});
  EXPECT_EQ(content.OtherExtensions, std::vector<std::string>{"X509v3 Subject Key Identifier"});
  EXPECT_EQ(view.NameCount(), 10u);  // six subject attributes, four alternative names

  // The key's SHA-256 is the one of its SubjectPublicKeyInfo, as openssl computes it.
  const TRun digest = RunCommand("openssl pkey -in " + Quoted(key) +
                                 " -pubout -outform DER | openssl dgst -sha256 -r");
  ASSERT_EQ(digest.status, 0) << digest.output;
  EXPECT_EQ(view.PublicKeySHA256(), digest.output.substr(0, 64));
  EXPECT_EQ(view.KeyFacts().Family, ctECC);
  EXPECT_EQ(view.KeyFacts().Bits, 256);
}

// A request changed after it was signed reads, but does not verify.
TEST_F(CertificateRequest, AlteredRequestDoesNotVerify) {
  TCertBuilder builder;
  builder.GenerateKey();
  builder.Subject.CN = "alpha.example";
  builder.BuildRequest();
  const TCSRView original(ReadCSRPEMOrDER(builder.RequestToPEM()));
  unsigned char* der = nullptr;
  const int length = i2d_X509_REQ(original.Handle(), &der);
  ASSERT_GT(length, 0);
  std::string bytes(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  const std::size_t at = bytes.find("alpha");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'A';
  X509_REQPtr altered = ReadCSRPEMOrDER(bytes);
  ASSERT_TRUE(altered);
  EXPECT_FALSE(TCSRView(std::move(altered)).Verifies());
  EXPECT_TRUE(original.Verifies());
}

// The builder certifies a request's public key without any private key: the certificate
// carries exactly that key, verifies under the CA, and no private key can be written.
TEST_F(CertificateRequest, CertificateForTheRequestsPublicKey) {
  TCertBuilder requester;
  requester.KeyType = ktRSA;
  requester.GenerateKey();
  requester.Subject.CN = "rsa.example";
  requester.BuildRequest();
  const TCSRView request(ReadCSRPEMOrDER(requester.RequestToPEM()));

  TCertBuilder ca;
  ca.GenerateKey();
  ca.Subject.CN = "Request CA";
  ca.IsCA = true;
  ca.KeyUsage = {kuKeyCertSign, kuCRLSign};
  ca.ExtKeyUsage = {};
  ca.BuildSelfSigned();

  TCertBuilder issuer;
  issuer.UseRequestPublicKey(request.PublicKey());
  EXPECT_FALSE(issuer.HoldsPrivateKey());
  issuer.Subject.CN = "rsa.example";
  issuer.SANDNSNames = {"rsa.example"};
  issuer.BuildSignedBy(ca.CertToPEM(), ca.KeyToPEM(""), "");
  EXPECT_EQ(CertificateKeyIdentity(issuer.Cert()), request.PublicKeySHA256());
  EXPECT_EQ(PublicKeyIdentity(requester.Key()), request.PublicKeySHA256());
  EXPECT_THROW((void)issuer.KeyToPEM(""), Exception);
  EXPECT_THROW(issuer.BuildSelfSigned(), Exception);
  EXPECT_THROW(issuer.BuildRequest(), Exception);

  WriteFile(FDir.File("ca.crt"), ca.CertToPEM());
  WriteFile(FDir.File("leaf.crt"), issuer.CertToPEM());
  const TRun verify =
      RunCommand("openssl verify -x509_strict -CAfile " + Quoted(FDir.File("ca.crt")) + " " +
                 Quoted(FDir.File("leaf.crt")) + " 2>&1");
  EXPECT_EQ(verify.status, 0) << verify.output;
}

// An existing key in each form it is kept in gives the request its public key.
TEST_F(CertificateRequest, ExistingKeyInEveryForm) {
  const EVP_PKEYPtr key = MakeECKey("prime256v1");
  const std::string identity = PublicKeyIdentity(key.get());
  const std::string plainPEM = FDir.File("plain.pem");
  WriteFile(plainPEM, KeyToPKCS8PEM(key.get()));
  struct TForm {
    const char* Name;
    std::string Bytes;
    std::string Password;
  };
  const auto converted = [&](const std::string& Tool, const std::string& Args) {
    const std::string out = FDir.File("converted.der");
    const TRun run = RunCommand("openssl " + Tool + " -in " + Quoted(plainPEM) + " -out " +
                                Quoted(out) + " " + Args);
    EXPECT_EQ(run.status, 0) << run.output;
    return ReadAll(out);
  };
  const TForm forms[] = {
      {"PKCS#8 PEM", KeyToPKCS8PEM(key.get()), ""},
      {"encrypted PKCS#8 PEM", KeyToPKCS8PEM(key.get(), "secret"), "secret"},
      {"traditional PEM", KeyToTraditionalPEM(key.get()), ""},
      {"encrypted traditional PEM", KeyToTraditionalPEM(key.get(), "secret"), "secret"},
      {"PKCS#8 DER", converted("pkey", "-outform DER"), ""},
      {"traditional DER", converted("ec", "-outform DER"), ""},
      {"encrypted PKCS#8 DER",
       converted("pkcs8", "-topk8 -v2 aes-256-cbc -passout pass:secret -outform DER"), "secret"},
  };
  for (const TForm& form : forms) {
    SCOPED_TRACE(form.Name);
    TCertBuilder builder;
    ASSERT_NO_THROW(builder.UseExistingKey(form.Bytes, form.Password));
    builder.Subject.CN = "existing.example";
    builder.BuildRequest();
    const TCSRView view(ReadCSRPEMOrDER(builder.RequestToPEM()));
    EXPECT_TRUE(view.Verifies());
    EXPECT_EQ(view.PublicKeySHA256(), identity);
  }
  TCertBuilder wrong;
  EXPECT_THROW(wrong.UseExistingKey(KeyToPKCS8PEM(key.get(), "secret"), "other"), Exception);
  EXPECT_EQ(wrong.Key(), nullptr);
  EXPECT_EQ(ERR_peek_error(), 0ul);
}

}  // namespace
}  // namespace velmora::test
