// velmora-cli renew, cert --from and --chain-out: renewed certificates verify under their
// CAs as they are, the old files stay beside the new ones, a renewed root still vouches for
// what the old one signed, a full chain completes a TLS handshake, and bad input changes
// nothing.
#include "tests/cli/CliFixture.h"

#include <filesystem>
#include <optional>

namespace velmora::test {
namespace {

class CliRenew : public CliTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(MissingPrograms({"openssl"}), "") << "the openssl command line is needed";
  }

  std::string In(const std::string& Name) const { return Store + "/" + Name; }

  void MakeCert(const std::string& Name, const std::vector<std::string>& More,
                const std::string& Signer = {}) const {
    std::vector<std::string> args{"cert",        "--store",   Store,        "--out-cert",
                                  Name + ".crt", "--out-key", Name + ".key"};
    args.insert(args.end(), More.begin(), More.end());
    if (!Signer.empty())
      args.insert(args.end(),
                  {"--sign-with", In(Signer + ".crt"), "--sign-key", In(Signer + ".key")});
    const TProcessResult made = Cli(args);
    ASSERT_EQ(made.Status, 0) << made.Err;
  }

  void MakeRootAndLeaf() const {
    MakeCert("root", {"--profile", "root-ca", "--cn", "Renew Root", "--days", "3650"});
    MakeCert("leaf",
             {"--cn", "leaf.example", "--dns", "leaf.example,www.leaf.example", "--days", "90"},
             "root");
  }

  // What openssl prints of the certificate after its option, "serial=...".
  static std::string Field(const std::string& Cert, const std::string& Option) {
    return OpenSSL("x509 -noout " + Option + " -in " + Quoted(Cert)).output;
  }
  static std::string Serial8(const std::string& Cert) {
    return Field(Cert, "-serial").substr(std::string("serial=").size(), 8);
  }
  static TRun Verify(const std::string& CAFile, const std::string& Cert,
                     const std::string& Untrusted = {}) {
    return OpenSSL("verify -x509_strict -CAfile " + Quoted(CAFile) +
                   (Untrusted.empty() ? "" : " -untrusted " + Quoted(Untrusted)) + " " +
                   Quoted(Cert));
  }

  const std::string Store = At("store");
};

struct TRenewCase {
  const char* Name;
  const char* Cert;  // of the store made by MakeRootAndLeaf, or "self" for a self-signed one
  bool NewKey;
};

TEST_F(CliRenew, RenewedCertificatesVerifyAndKeepTheOldFiles) {
  const TRenewCase cases[] = {
      {"self-signed, same key", "self", false}, {"self-signed, new key", "self", true},
      {"CA-signed, same key", "leaf", false},   {"CA-signed, new key", "leaf", true},
      {"a root CA, same key", "root", false},   {"a root CA, new key", "root", true},
  };
  for (const TRenewCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove_all(Store);
    MakeRootAndLeaf();
    MakeCert("self", {"--cn", "self.example", "--dns", "self.example", "--days", "30"});
    const std::string cert = In(std::string(c.Cert) + ".crt"),
                      key = In(std::string(c.Cert) + ".key");
    const std::string oldCert = ReadFileText(cert), oldKey = ReadFileText(key);
    const std::string oldSerial8 = Serial8(cert), oldSubject = Field(cert, "-subject");
    const std::string oldExtensions =
        Field(cert, "-ext subjectAltName,basicConstraints,keyUsage,extendedKeyUsage");
    const std::string oldPublicKey = Field(cert, "-pubkey");

    std::vector<std::string> args{"renew", cert, "--store", Store};
    if (c.NewKey) args.insert(args.end(), {"--rekey", "--force"});
    const TProcessResult run = Cli(args);
    ASSERT_EQ(run.Status, 0) << run.Err;

    EXPECT_EQ(ReadFileText(In(std::string(c.Cert) + "." + oldSerial8 + ".crt")), oldCert);
    EXPECT_NE(Serial8(cert), oldSerial8);
    EXPECT_EQ(Field(cert, "-subject"), oldSubject);
    EXPECT_EQ(Field(cert, "-ext subjectAltName,basicConstraints,keyUsage,extendedKeyUsage"),
              oldExtensions);
    if (c.NewKey) {
      EXPECT_EQ(ReadFileText(In(std::string(c.Cert) + "." + oldSerial8 + ".key")), oldKey);
      EXPECT_NE(Field(cert, "-pubkey"), oldPublicKey);
      const TRun matches = OpenSSL("pkey -pubout -in " + Quoted(key));
      EXPECT_EQ(matches.output, Field(cert, "-pubkey"));
    } else {
      EXPECT_EQ(ReadFileText(key), oldKey);
      EXPECT_EQ(Field(cert, "-pubkey"), oldPublicKey);
    }
    const std::string anchor = std::string(c.Cert) == "leaf" ? In("root.crt") : cert;
    const TRun verify = Verify(anchor, cert);
    EXPECT_EQ(verify.status, 0) << verify.output;
  }
}

TEST_F(CliRenew, ARenewedRootStillVerifiesItsOldLeaves) {
  MakeRootAndLeaf();
  MakeCert("inter", {"--profile", "intermediate-ca", "--cn", "Renew Intermediate"}, "root");
  MakeCert("deep", {"--cn", "deep.example", "--dns", "deep.example", "--days", "30"}, "inter");
  const std::string oldRoot = ReadFileText(In("root.crt"));
  const TProcessResult run = Cli({"renew", "root.crt", "--store", Store, "--days", "7300"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  ASSERT_NE(ReadFileText(In("root.crt")), oldRoot);
  EXPECT_NE(Field(In("root.crt"), "-enddate"),
            Field(In("root." + Serial8(In("root.crt")) + ".crt"), "-enddate"));
  EXPECT_EQ(Verify(In("root.crt"), In("leaf.crt")).status, 0)
      << Verify(In("root.crt"), In("leaf.crt")).output;
  const TRun deep = Verify(In("root.crt"), In("deep.crt"), In("inter.crt"));
  EXPECT_EQ(deep.status, 0) << deep.output;
}

TEST_F(CliRenew, AnEncryptedKeyIsOpenedWithKeyPass) {
  MakeCert("locked",
           {"--cn", "locked.example", "--dns", "locked.example", "--key-pass", "pass:s3cret"});
  const std::string oldKey = ReadFileText(In("locked.key"));
  const TProcessResult run = Cli(
      {"renew", In("locked.crt"), "--store", Store, "--key-pass", "pass:s3cret", "--days", "10"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(ReadFileText(In("locked.key")), oldKey);
  EXPECT_EQ(Field(In("locked.crt"), "-pubkey"),
            OpenSSL("pkey -pubout -passin pass:s3cret -in " + Quoted(In("locked.key"))).output);
  const TRun days = OpenSSL("x509 -noout -checkend " + std::to_string(11 * 86400) + " -in " +
                            Quoted(In("locked.crt")));
  EXPECT_NE(days.status, 0) << "ten days, not the old length: " << days.output;
}

TEST_F(CliRenew, AnIssuerOutsideTheStoreIsGivenWithSignWith) {
  MakeRootAndLeaf();
  const std::string outside = At("outside");
  std::filesystem::create_directories(outside);
  for (const char* name : {"root.crt", "root.key"})
    std::filesystem::rename(In(name), outside + "/" + name);
  const TProcessResult run = Cli({"renew", In("leaf.crt"), "--store", Store, "--sign-with",
                                  outside + "/root.crt", "--sign-key", outside + "/root.key"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const TRun verify = Verify(outside + "/root.crt", In("leaf.crt"));
  EXPECT_EQ(verify.status, 0) << verify.output;
}

struct TBadCase {
  const char* Name;
  std::vector<std::string> Args;  // after "renew"; STORE and OUT stand for the folders
  int Status;
  const char* Says;  // a part of the error
};

TEST_F(CliRenew, BadInputIsAClearErrorAndChangesNothing) {
  MakeRootAndLeaf();
  MakeCert("locked",
           {"--cn", "locked.example", "--dns", "locked.example", "--key-pass", "pass:right"});
  MakeCert("keyless", {"--cn", "keyless.example", "--dns", "keyless.example"});
  std::filesystem::remove(In("keyless.key"));
  // The CA of "orphan" leaves the store: nothing in the store signed it.
  MakeCert("gone", {"--profile", "root-ca", "--cn", "Gone CA"});
  MakeCert("orphan", {"--cn", "orphan.example", "--dns", "orphan.example"}, "gone");
  std::filesystem::create_directories(At("elsewhere"));
  std::filesystem::copy_file(In("leaf.crt"), At("elsewhere/leaf.crt"));
  std::filesystem::rename(In("gone.crt"), At("elsewhere/gone.crt"));
  std::filesystem::rename(In("gone.key"), At("elsewhere/gone.key"));

  const TBadCase cases[] = {
      {"a certificate that is not in the store",
       {At("elsewhere/leaf.crt")},
       1,
       "is not a certificate file of the store"},
      {"no such certificate", {"nothing.crt"}, 1, "is not a certificate file of the store"},
      {"a wrong key password", {In("locked.crt"), "--key-pass", "pass:wrong"}, 1, "locked.key"},
      {"a missing key", {In("keyless.crt")}, 1, "\"keyless.key\" is missing"},
      {"an issuer outside the store", {In("orphan.crt")}, 1, "is not in the store: choose the CA"},
      {"a new key over the old one without --force",
       {In("leaf.crt"), "--rekey"},
       1,
       "Use --force to replace them."},
      {"--sign-with without --sign-key",
       {In("leaf.crt"), "--sign-with", In("root.crt")},
       2,
       "--sign-with and --sign-key go together."},
      {"no days", {In("leaf.crt"), "--days", "0"}, 2, "at least one day"},
      {"no certificate", {}, 2, "certificate is required"},
  };
  for (const TBadCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TFileTree before = FilesUnder(Root());
    std::vector<std::string> args{"renew"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    args.insert(args.end(), {"--store", Store});
    const TProcessResult run = Cli(args);
    EXPECT_EQ(run.Status, c.Status) << run.Out << run.Err;
    EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
    EXPECT_EQ(ChangedFiles(before, FilesUnder(Root())), std::set<std::string>{});
  }
}

TEST_F(CliRenew, CertFromTakesWhatTheCertificateCarries) {
  MakeRootAndLeaf();
  // A root has no extended key usage and no alternative names: none are taken from the
  // defaults either. An explicit option wins over the template.
  const TProcessResult run = Cli({"cert", "--from", In("root.crt"), "--store", Store, "--out-cert",
                                  "copy.crt", "--out-key", "copy.key", "--o", "Given Org"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Out.find("Certificate options filled from " + In("root.crt")), std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find("Profile: Root CA"), std::string::npos) << run.Out;
  EXPECT_EQ(Field(In("copy.crt"), "-subject"), "subject=O = Given Org\n");
  const std::string extensions =
      Field(In("copy.crt"), "-ext subjectAltName,basicConstraints,keyUsage,extendedKeyUsage");
  EXPECT_EQ(extensions, Field(In("root.crt"),
                              "-ext subjectAltName,basicConstraints,keyUsage,extendedKeyUsage"));
  EXPECT_EQ(extensions.find("Extended Key Usage"), std::string::npos) << extensions;
  EXPECT_NE(Field(In("copy.crt"), "-pubkey"), Field(In("root.crt"), "-pubkey"));

  const TProcessResult leaf = Cli({"cert", "--from", In("leaf.crt"), "--store", Store, "--out-cert",
                                   "leaf2.crt", "--out-key", "leaf2.key"});
  ASSERT_EQ(leaf.Status, 0) << leaf.Err;
  EXPECT_EQ(Field(In("leaf2.crt"),
                  "-subject -ext subjectAltName,basicConstraints,keyUsage,extendedKeyUsage"),
            Field(In("leaf.crt"),
                  "-subject -ext subjectAltName,basicConstraints,keyUsage,extendedKeyUsage"));
  const TRun notAfter = OpenSSL("x509 -noout -checkend " + std::to_string(89 * 86400) + " -in " +
                                Quoted(In("leaf2.crt")));
  EXPECT_EQ(notAfter.status, 0) << "the template's 90 days: " << notAfter.output;
}

TEST_F(CliRenew, AChainThatCannotBeCompletedNamesTheMissingIssuer) {
  MakeRootAndLeaf();
  MakeCert("inter", {"--profile", "intermediate-ca", "--cn", "Renew Intermediate"}, "root");
  std::filesystem::rename(In("root.crt"), At("root.crt"));
  const TProcessResult run =
      Cli({"cert", "--cn", "x.example", "--dns", "x.example", "--store", Store, "--out-cert",
           "x.crt", "--out-key", "x.key", "--sign-with", In("inter.crt"), "--sign-key",
           In("inter.key"), "--chain-out", "x-chain.pem"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("cannot be completed from the store: the issuer of \"inter.crt\", "
                         "\"CN=Renew Root\", is not in the store."),
            std::string::npos)
      << run.Err;
  EXPECT_FALSE(std::filesystem::exists(In("x-chain.pem")));
}

TEST_F(CliRenew, SignWritesTheChainOfTheCertificateItIssued) {
  MakeRootAndLeaf();
  MakeCert("inter", {"--profile", "intermediate-ca", "--cn", "Renew Intermediate"}, "root");
  const TRun request = OpenSSL(
      "req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
      "-subj /CN=asked.example -addext subjectAltName=DNS:asked.example "
      "-keyout " +
      Quoted(At("asked.key")) + " -out " + Quoted(At("asked.csr")));
  ASSERT_EQ(request.status, 0) << request.output;
  const TProcessResult run =
      Cli({"sign", At("asked.csr"), "--sign-with", In("inter.crt"), "--sign-key", In("inter.key"),
           "--store", Store, "--chain-out", "asked-chain.pem"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const TRun verify =
      OpenSSL("verify -x509_strict -CAfile " + Quoted(In("root.crt")) + " -untrusted " +
              Quoted(In("asked-chain.pem")) + " " + Quoted(In("asked.crt")));
  EXPECT_EQ(verify.status, 0) << verify.output;
  EXPECT_EQ(OpenSSL("crl2pkcs7 -nocrl -certfile " + Quoted(In("asked-chain.pem")) +
                    " | openssl pkcs7 -print_certs -noout")
                .output,
            "subject=CN = asked.example\nissuer=CN = Renew Intermediate\n\n"
            "subject=CN = Renew Intermediate\nissuer=CN = Renew Root\n\n");
}

TEST_F(CliRenew, AFullChainCompletesAHandshake) {
  ASSERT_EQ(MissingPrograms({"curl"}), "") << "curl checks the chain as a client";
  MakeRootAndLeaf();
  MakeCert("inter", {"--profile", "intermediate-ca", "--cn", "Renew Intermediate"}, "root");
  MakeCert("server", {"--cn", "localhost", "--dns", "localhost", "--days", "30"}, "inter");
  const TProcessResult renewed =
      Cli({"renew", In("server.crt"), "--store", Store, "--chain-out", "fullchain.pem"});
  ASSERT_EQ(renewed.Status, 0) << renewed.Err;
  EXPECT_NE(renewed.Out.find("Certificate chain saved -> fullchain.pem"), std::string::npos);
  // The chain is the server's certificate and the intermediate: never the root.
  const auto lines = [](std::string Text) {
    std::erase(Text, '\r');  // the store writes its certificates with CRLF line ends
    return Text;
  };
  EXPECT_EQ(lines(ReadFileText(In("fullchain.pem"))),
            lines(ReadFileText(In("server.crt")) + ReadFileText(In("inter.crt"))));

  // Without the chain the client cannot reach the root; with it, it can.
  for (const bool withChain : {false, true}) {
    SCOPED_TRACE(withChain ? "with the chain" : "the leaf alone");
    std::optional<TBackgroundProcess> server;
    std::string port;
    for (int attempt = 0; attempt < 3 && !server; ++attempt) {
      port = std::to_string(FreeLocalPort());
      std::vector<std::string> args{"s_server",       "-accept", "127.0.0.1:" + port, "-cert",
                                    In("server.crt"), "-key",    In("server.key"),    "-www"};
      if (withChain) args.insert(args.end(), {"-cert_chain", In("fullchain.pem")});
      server.emplace(FindProgram("openssl"), args, At("s_server.log"));
      if (!WaitUntilAccepting(std::stoi(port), *server)) server.reset();
    }
    ASSERT_TRUE(server) << ReadFileText(At("s_server.log"));
    const TRun curl = RunCommand(
        "curl -q -sS --noproxy '*' --max-time 60 -o /dev/null -w '%{http_code}' --cacert " +
        Quoted(In("root.crt")) + " --resolve localhost:" + port +
        ":127.0.0.1 https://localhost:" + port + "/");
    if (withChain)
      EXPECT_EQ(curl.output, "200");
    else
      EXPECT_NE(curl.status, 0) << curl.output;
  }
}

}  // namespace
}  // namespace velmora::test
