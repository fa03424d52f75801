// velmora-cli csr and sign, judged by openssl and Python's cryptography: requests the command
// line makes verify elsewhere, requests made elsewhere are signed into certificates that
// verify strictly under the CA, and a request that is not sound is refused with nothing
// written.
#include "tests/cli/CliFixture.h"
#include "tests/support/ForeignRequests.h"

#include <fstream>

namespace velmora::test {
namespace {

bool Contains(const std::string& Text, const std::string& Part) {
  return Text.find(Part) != std::string::npos;
}

class CliCertificateRequest : public CliTest {
 protected:
  void SetUp() override {
    if (const std::string missing = MissingPrograms({"openssl", "python3"}); !missing.empty())
      GTEST_FAIL() << "These checks need openssl and python3; not installed: " << missing;
    const TRun python = RunCommand("python3 -c 'import cryptography'");
    if (python.status != 0)
      GTEST_FAIL() << "These checks need Python's cryptography: " << python.output;
  }

  // A root CA of the command line's own, in its own folder.
  void MakeCA() {
    const TProcessResult ca =
        Cli({"cert", "--profile", "root-ca", "--cn", "Request Test CA", "--out-cert", "ca.crt",
             "--out-key", "ca.key", "--store", At("ca")});
    ASSERT_EQ(ca.Status, 0) << ca.Err;
  }

  TProcessResult Sign(const std::string& Request, std::vector<std::string> Extra = {}) {
    std::vector<std::string> args = {"sign",       Request,         "--sign-with", At("ca/ca.crt"),
                                     "--sign-key", At("ca/ca.key"), "--store",     At("store")};
    args.insert(args.end(), Extra.begin(), Extra.end());
    return Cli(args);
  }

  TRun VerifyUnderCA(const std::string& Cert) {
    return OpenSSL("verify -x509_strict -CAfile " + Quoted(At("ca/ca.crt")) + " " + Quoted(Cert));
  }
};

struct TMadeRequest {
  const char* Name;
  std::vector<std::string> Args;
};

TEST_F(CliCertificateRequest, RequestsVerifyUnderOpenSSLAndShowTheirExtensions) {
  const TMadeRequest cases[] = {
      {"EC with names", {"--cn", "ec.example", "--dns", "ec.example,www.ec.example"}},
      {"EC without names", {"--cn", "Plain EC", "--eku", "clientAuth"}},
      {"RSA with names", {"--key", "rsa:2048", "--cn", "rsa.example", "--ip", "192.0.2.3"}},
  };
  for (const TMadeRequest& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string store = At(std::string("store-") + c.Args[1]);
    std::vector<std::string> args = {"csr", "--store", store};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const TProcessResult run = Cli(args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out,
              "Building certificate request ...\nCertificate request saved -> "
              "certificate.csr\nPrivate key saved -> private.key\n");
    const TRun verify =
        OpenSSL("req -verify -noout -text -in " + Quoted(store + "/certificate.csr"));
    ASSERT_EQ(verify.status, 0) << verify.output;
    EXPECT_TRUE(Contains(verify.output, "verify OK")) << verify.output;
    EXPECT_TRUE(Contains(verify.output, "Requested Extensions:")) << verify.output;
    EXPECT_TRUE(Contains(verify.output, "X509v3 Basic Constraints")) << verify.output;
    // The request is for the key written beside it.
    const TRun requestKey = OpenSSL("req -noout -pubkey -in " + Quoted(store + "/certificate.csr"));
    const TRun privateKey = OpenSSL("pkey -pubout -in " + Quoted(store + "/private.key"));
    EXPECT_EQ(requestKey.output, privateKey.output);
  }
}

// An existing key in PEM (encrypted) or DER: the request carries its public key and no key
// file is written.
TEST_F(CliCertificateRequest, RequestForAnExistingKey) {
  const std::string pem = At("existing.pem"), der = At("existing.der");
  ASSERT_EQ(OpenSSL("genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -aes256 -pass "
                    "pass:secret -out " +
                    Quoted(pem))
                .status,
            0);
  ASSERT_EQ(
      OpenSSL("pkey -passin pass:secret -in " + Quoted(pem) + " -outform DER -out " + Quoted(der))
          .status,
      0);
  const std::string expected =
      OpenSSL("pkey -passin pass:secret -pubout -in " + Quoted(pem)).output;
  struct TCase {
    const char* Name;
    std::vector<std::string> Args;
  };
  const TCase cases[] = {
      {"encrypted PEM", {"--key-file", pem, "--key-pass", "pass:secret"}},
      {"DER", {"--key-file", der}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string store = At(std::string("store-") + c.Name);
    std::vector<std::string> args = {"csr", "--cn", "existing.example", "--store", store};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const TProcessResult run = Cli(args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out,
              "Building certificate request ...\nCertificate request saved -> certificate.csr\n");
    EXPECT_FALSE(std::filesystem::exists(store + "/private.key"));
    const TRun verify = OpenSSL("req -verify -noout -in " + Quoted(store + "/certificate.csr"));
    EXPECT_EQ(verify.status, 0) << verify.output;
    EXPECT_EQ(OpenSSL("req -noout -pubkey -in " + Quoted(store + "/certificate.csr")).output,
              expected);
    // P-384 signs with SHA-384, as issuance would.
    EXPECT_TRUE(
        Contains(OpenSSL("req -noout -text -in " + Quoted(store + "/certificate.csr")).output,
                 "ecdsa-with-SHA384"));
  }
  const TProcessResult wrong = Cli({"csr", "--cn", "x", "--store", At("store-wrong"), "--key-file",
                                    pem, "--key-pass", "pass:other"});
  EXPECT_EQ(wrong.Status, 1);
  EXPECT_TRUE(Contains(wrong.Err, pem)) << wrong.Err;
  EXPECT_FALSE(std::filesystem::exists(At("store-wrong")));
}

TEST_F(CliCertificateRequest, SignsRequestsOfOpenSSLAndPython) {
  MakeCA();
  int n = 0;
  for (const TForeignRequest& c : ForeignRequests()) {
    SCOPED_TRACE(c.Name);
    const std::string dir = At("req" + std::to_string(++n));
    std::filesystem::create_directories(dir);
    const TRun made = RunCommand("D=" + Quoted(dir) + "; " + c.Command);
    ASSERT_EQ(made.status, 0) << made.output;
    const std::string name = "signed" + std::to_string(n) + ".crt";
    const TProcessResult run = Sign(dir + "/request.csr", {"--out-cert", name});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(Contains(run.Out, "Requested vs. issued:\n  Subject: requested CN=")) << run.Out;
    EXPECT_TRUE(Contains(run.Out, "Certificate saved -> " + name)) << run.Out;
    EXPECT_EQ(Contains(run.Err,
                       "Warning: The request asks for a CA certificate, and that was "
                       "not granted"),
              c.AsksForCA)
        << run.Err;
    const std::string cert = At("store/" + name);
    const TRun verify = VerifyUnderCA(cert);
    EXPECT_EQ(verify.status, 0) << verify.output;
    const TRun text = OpenSSL("x509 -noout -text -in " + Quoted(cert));
    EXPECT_TRUE(Contains(text.output, "CA:FALSE")) << text.output;
    EXPECT_TRUE(Contains(text.output, "DNS:" + c.Host)) << text.output;
    // The certificate holds the requester's public key.
    EXPECT_EQ(OpenSSL("x509 -noout -pubkey -in " + Quoted(cert)).output,
              OpenSSL("req -noout -pubkey -in " + Quoted(dir + "/request.csr")).output);
    if (!c.Python) {
      const TRun host = OpenSSL("verify -x509_strict -verify_hostname " + c.Host + " -CAfile " +
                                Quoted(At("ca/ca.crt")) + " " + Quoted(cert));
      EXPECT_EQ(host.status, 0) << host.output;
    }
  }
  // Only certificates were written: no private key, no bundle.
  for (const auto& entry : std::filesystem::directory_iterator(At("store")))
    EXPECT_EQ(entry.path().extension(), ".crt") << entry.path();
}

// The requester's own key and the certificate signed for its request serve TLS, and a client
// that trusts only the CA completes the handshake with the host name of the request.
TEST_F(CliCertificateRequest, TLSHandshakeWithTheRequestersKey) {
  if (const std::string missing = MissingPrograms({"curl"}); !missing.empty())
    GTEST_FAIL() << "This check connects with curl; not installed: " << missing;
  MakeCA();
  const std::string key = At("tls.key"), request = At("tls.csr");
  ASSERT_EQ(RunCommand("openssl req -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
                       "-keyout " +
                       Quoted(key) + " -out " + Quoted(request) +
                       " -subj /CN=tls.example -addext subjectAltName=DNS:tls.example")
                .status,
            0);
  ASSERT_EQ(Sign(request).Status, 0);
  const std::string cert = At("store/tls.crt");
  const TRun handshake = HandshakeWithCurl(cert, key, At("ca/ca.crt"), "tls.example");
  EXPECT_EQ(handshake.status, 0) << handshake.output;
  EXPECT_EQ(handshake.output, "200") << handshake.output;
}

// --ca grants what the request asks for; the default name is the request's with .crt.
TEST_F(CliCertificateRequest, GrantedCAAndDefaultName) {
  MakeCA();
  ASSERT_EQ(RunCommand("openssl req -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
                       "-keyout " +
                       Quoted(At("sub.key")) + " -out " + Quoted(At("sub.csr")) +
                       " -subj /CN=Sub -addext basicConstraints=critical,CA:TRUE,pathlen:1 "
                       "-addext keyUsage=critical,keyCertSign,cRLSign")
                .status,
            0);
  const TProcessResult run = Sign(At("sub.csr"), {"--ca"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(Contains(run.Out,
                       "  Basic constraints: requested CA:TRUE, pathlen:1; issued "
                       "CA:TRUE, pathlen:1\n"))
      << run.Out;
  EXPECT_TRUE(Contains(run.Out,
                       "  Key usage: requested keyCertSign, cRLSign; issued "
                       "keyCertSign, cRLSign\n"))
      << run.Out;
  EXPECT_FALSE(Contains(run.Err, "not granted")) << run.Err;
  const TRun verify = VerifyUnderCA(At("store/sub.crt"));
  EXPECT_EQ(verify.status, 0) << verify.output;
}

// Whatever is wrong with the request, sign says so naming the file, exits 1 and writes
// nothing.
TEST_F(CliCertificateRequest, BadRequestsAreRefusedAndNothingIsWritten) {
  MakeCA();
  ASSERT_EQ(Cli({"csr", "--cn", "good.example", "--store", At("made")}).Status, 0);
  const std::string good = ReadFileText(At("made/certificate.csr"));
  // One base64 letter of the signature changed: the bytes still read, the signature fails.
  std::string altered = good;
  const std::size_t end = altered.find("-----END");
  const std::size_t lastLine = altered.rfind('\n', end - 2);
  const std::size_t at = altered.rfind('\n', lastLine - 1) + 10;
  altered[at] = altered[at] == 'A' ? 'B' : 'A';
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::string Message;
  };
  const TCase cases[] = {
      {"altered", altered, "does not verify: it was changed after it was signed"},
      {"certificate", ReadFileText(At("ca/ca.crt")),
       "holds a certificate, not a certificate request"},
      {"key", ReadFileText(At("made/private.key")),
       "holds a private key or a PKCS#12 bundle, not a certificate request"},
      {"truncated", good.substr(0, good.size() / 2), "cannot be read: it is truncated or damaged"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = At(std::string(c.Name) + ".csr");
    {
      std::ofstream out(path, std::ios::binary);
      out << c.Bytes;
    }
    const TFileTree before = FilesUnder(Root());
    const TProcessResult run = Sign(path);
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(Contains(run.Err, path)) << run.Err;
    EXPECT_TRUE(Contains(run.Err, c.Message)) << run.Err;
    EXPECT_EQ(ChangedFiles(before, FilesUnder(Root())), std::set<std::string>{});
  }
}

TEST_F(CliCertificateRequest, InfoDescribesARequestAndItsRelations) {
  ASSERT_EQ(
      Cli({"csr", "--cn", "info.example", "--dns", "info.example", "--store", At("store")}).Status,
      0);
  const std::string identity = RunCommand("openssl pkey -in " + Quoted(At("store/private.key")) +
                                          " -pubout -outform DER | openssl dgst -sha256 -r")
                                   .output.substr(0, 64);
  const TProcessResult run = Cli({"info", "--json", At("store/certificate.csr")});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(Contains(run.Out, "\"Key Type: EC P-256\"")) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "\"Subject: CN=info.example\"")) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "\"Signature: ecdsa-with-SHA256, verifies\"")) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "\"Public key SHA-256: " + identity + "\"")) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "X509v3 Subject Alternative Name: DNS:info.example")) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "\"Private key in store: private.key\"")) << run.Out;
  const TProcessResult list = Cli({"list", At("store")});
  EXPECT_TRUE(Contains(list.Out, "Request")) << list.Out;
}

}  // namespace
}  // namespace velmora::test
