// Writers of one store: outputs that name one file, a certificate name that lands on a key,
// two runs at once on the same outputs or the same development CA, a folder in the way, and
// a umask that would let others write.
#include "tests/cli/CliFixture.h"

#include <sys/stat.h>

#include <map>
#include <thread>

namespace velmora::test {
namespace {

class CliWriters : public CliTest {
 protected:
  void SetUp() override {
    const std::string missing = MissingPrograms({"openssl"});
    ASSERT_EQ(missing, "") << "these checks read our files with the openssl command line";
  }

  // The public key a certificate or key file holds, as openssl prints it.
  static std::string PublicKeyOf(const std::string& File, bool IsCert,
                                 const std::string& Pass = "") {
    const TRun run = IsCert ? OpenSSL("x509 -noout -pubkey -in " + Quoted(File))
                            : OpenSSL("pkey -pubout -passin pass:" + Pass + " -in " + Quoted(File));
    EXPECT_EQ(run.status, 0) << run.output;
    return run.output;
  }

  // Two runs started together; their results in the order given.
  std::pair<TProcessResult, TProcessResult> AtOnce(const std::vector<std::string>& A,
                                                   const std::vector<std::string>& B) const {
    TProcessResult first, second;
    std::thread other([&] { second = Cli(B); });
    first = Cli(A);
    other.join();
    return {first, second};
  }
};

TEST_F(CliWriters, TwoOutputsThatAreOneFileAreRefusedBeforeAnyWork) {
  const std::string store = At("store");
  struct Case {
    const char* Name;
    std::vector<std::string> Outputs;
  };
  const Case cases[] = {
      {"certificate and key", {"--out-cert", "x.pem", "--out-key", "x.pem"}},
      {"certificate and bundle", {"--out-cert", "x.pem", "--p12", "x.pem"}},
      {"key and bundle", {"--out-key", "x.pem", "--p12", "x.pem"}},
      {"one spelled with ./", {"--out-cert", "x.pem", "--out-key", "./x.pem"}},
      {"one given as the store path", {"--out-cert", "x.pem", "--out-key", store + "/x.pem"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::string> args = {"cert", "--cn",       "same.example", "--store",
                                     store,  "--p12-pass", "pass:bundle"};
    args.insert(args.end(), c.Outputs.begin(), c.Outputs.end());
    const TProcessResult run = Cli(args);
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("Two outputs are the same file: " + store + "/"), std::string::npos)
        << run.Err;
    EXPECT_EQ(run.Out, "") << "nothing was begun";
    EXPECT_FALSE(std::filesystem::exists(store + "/x.pem"));
  }
}

// Whichever output lands on a key or a bundle, it is judged by what the file holds.
TEST_F(CliWriters, ACertificateNameOnAKeyOrBundleAsksForForce) {
  const std::string store = At("store");
  ASSERT_EQ(Cli({"cert", "--ca", "--cn", "Root", "--out-cert", "root.crt", "--out-key", "root.key",
                 "--p12", "root.bin", "--p12-pass", "pass:b", "--store", store})
                .Status,
            0);
  ASSERT_EQ(Cli({"cert", "--cn", "Other", "--out-cert", "other.crt", "--out-key", "other-key.pem",
                 "--store", store})
                .Status,
            0);
  for (const char* secret : {"root.key", "other-key.pem", "root.bin"}) {
    SCOPED_TRACE(secret);
    const std::string before = ReadFileText(store + "/" + secret);
    const TProcessResult run = Cli(
        {"cert", "--cn", "leaf", "--out-cert", secret, "--out-key", "leaf.key", "--store", store});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("Use --force to replace them."), std::string::npos) << run.Err;
    EXPECT_EQ(ReadFileText(store + "/" + secret), before);
    EXPECT_FALSE(std::filesystem::exists(store + "/leaf.key"));
  }
  const TProcessResult forced = Cli({"cert", "--cn", "leaf", "--out-cert", "root.key", "--out-key",
                                     "leaf.key", "--store", store, "--force"});
  EXPECT_EQ(forced.Status, 0) << forced.Err;
  EXPECT_TRUE(ReadFileText(store + "/root.key").starts_with("-----BEGIN CERTIFICATE-----"));
}

// Before the store was locked, both runs of a pair succeeded nine times in ten, and with
// --force about one pair in ten left a certificate beside the other run's key. 20 and 60
// pairs miss such faults with odds below one in a million and one in 500.
TEST_F(CliWriters, TwoRunsOnTheSameOutputsNeverBothWinNorMixTheirFiles) {
  int bothWon = 0, mixed = 0;
  for (int pair = 0; pair < 20; ++pair) {
    const std::string store = At("race" + std::to_string(pair));
    const std::vector<std::string> args = {"cert", "--cn", "race.example", "--store", store};
    const auto [a, b] = AtOnce(args, args);
    if (a.Status == 0 && b.Status == 0) ++bothWon;
    EXPECT_TRUE(a.Status == 0 || b.Status == 0) << a.Err << b.Err;
    const std::string loser = a.Status == 0 ? b.Err : a.Err;
    EXPECT_TRUE(loser.find("Use --force") != std::string::npos ||
                loser.find("Another program created it meanwhile") != std::string::npos)
        << loser;
    if (PublicKeyOf(store + "/certificate.crt", true) != PublicKeyOf(store + "/private.key", false))
      ++mixed;
  }
  EXPECT_EQ(bothWon, 0);
  EXPECT_EQ(mixed, 0);

  for (int pair = 0; pair < 60; ++pair) {
    const std::string store = At("forced" + std::to_string(pair));
    const std::vector<std::string> args = {"cert",  "--cn",  "race.example", "--store", store,
                                           "--p12", "b.p12", "--p12-pass",   "pass:b",  "--force"};
    const auto [a, b] = AtOnce(args, args);
    EXPECT_EQ(a.Status, 0) << a.Err;
    EXPECT_EQ(b.Status, 0) << b.Err;
    const std::string cert = PublicKeyOf(store + "/certificate.crt", true);
    const TRun bundled = OpenSSL("pkcs12 -nokeys -clcerts -passin pass:b -in " +
                                 Quoted(store + "/b.p12") + " | openssl x509 -noout -pubkey");
    if (cert != PublicKeyOf(store + "/private.key", false) || cert != bundled.output) ++mixed;
  }
  EXPECT_EQ(mixed, 0);
}

// Before the CA was made under a lock, about one leaf in ten of two first runs at once did not
// verify under the CA left on disk; 25 stores of two leaves each miss that with odds below
// one in a hundred.
TEST_F(CliWriters, TwoFirstDevRunsShareOneDevelopmentCA) {
  int unverified = 0, mismatched = 0;
  for (int round = 0; round < 25; ++round) {
    const std::string store = At("dev" + std::to_string(round));
    const auto [a, b] =
        AtOnce({"dev", "a.test", "--store", store}, {"dev", "b.test", "--store", store});
    EXPECT_EQ(a.Status, 0) << a.Err;
    EXPECT_EQ(b.Status, 0) << b.Err;
    const std::string ca = store + "/velmora-dev-ca.crt";
    if (PublicKeyOf(ca, true) != PublicKeyOf(store + "/velmora-dev-ca.key", false)) ++mismatched;
    for (const char* leaf : {"/a.test.crt", "/b.test.crt"})
      if (OpenSSL("verify -CAfile " + Quoted(ca) + " " + Quoted(store + leaf)).status != 0)
        ++unverified;
  }
  EXPECT_EQ(mismatched, 0);
  EXPECT_EQ(unverified, 0);
}

TEST_F(CliWriters, AFolderAtAnOutputsNamePublishesNothing) {
  const char* outputs[] = {"leaf.crt", "leaf.key", "leaf.p12"};
  for (const char* blocked : outputs) {
    SCOPED_TRACE(blocked);
    const std::string store = At(std::string("blocked-") + blocked);
    const std::vector<std::string> args = {
        "cert",  "--cn",     "leaf",       "--out-cert", "leaf.crt", "--out-key", "leaf.key",
        "--p12", "leaf.p12", "--p12-pass", "pass:b",     "--store",  store,       "--force"};
    ASSERT_EQ(Cli(args).Status, 0);
    std::filesystem::remove(store + "/" + blocked);
    std::filesystem::create_directory(store + "/" + blocked);
    std::map<std::string, std::string> before;
    for (const char* name : outputs)
      if (std::string(name) != blocked) before[name] = ReadFileText(store + "/" + name);
    const TProcessResult run = Cli(args);
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("Is a directory"), std::string::npos) << run.Err;
    for (const auto& [name, bytes] : before) EXPECT_EQ(ReadFileText(store + "/" + name), bytes);
  }
}

TEST_F(CliWriters, AStoreMadeUnderUmask000IsWritableByItsOwnerOnly) {
  const std::string store = At("open/store");
  // The program inherits the umask of the test.
  const mode_t old = ::umask(0);
  const TProcessResult run = Cli({"cert", "--cn", "umask.example", "--store", store});
  ::umask(old);
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(PermissionsOf(At("open")), 0755u);
  EXPECT_EQ(PermissionsOf(store), 0755u);
  EXPECT_EQ(PermissionsOf(store + "/certificate.crt"), 0644u);
  EXPECT_EQ(PermissionsOf(store + "/private.key"), 0600u);
}

}  // namespace
}  // namespace velmora::test
