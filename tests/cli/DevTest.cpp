// velmora-cli dev: a TLS server given its certificate and key is trusted by a client given
// only the development CA.
#include "tests/cli/CliFixture.h"

#include <optional>

namespace velmora::test {
namespace {

class CliDev : public CliTest {
 protected:
  void SetUp() override {
    if (const std::string missing = MissingPrograms({"openssl", "curl"}); !missing.empty())
      GTEST_FAIL() << "A real TLS server (openssl s_server) and client (curl) check the "
                      "development certificates; not installed: "
                   << missing;
  }

  // The HTTP status curl reports for Url, trusting nothing but the development CA. No proxy
  // and no ~/.curlrc of the machine take part.
  std::string Fetch(const std::string& Url, const std::string& Extra) const {
    const TRun run = RunCommand(
        "curl -q -sS --noproxy '*' --max-time 60 -o /dev/null -w "
        "'%{http_code}' --cacert " +
        Quoted(At("store/velmora-dev-ca.crt")) + " " + Extra + " " + Quoted(Url));
    return run.status == 0 ? run.output
                           : "curl failed (" + std::to_string(run.status) + "): " + run.output;
  }
};

TEST_F(CliDev, CurlTrustsTheServerThroughTheDevelopmentCA) {
  const std::string store = At("store");
  const TProcessResult dev = Cli({"dev", "localhost", "127.0.0.1", "::1", "--store", store});
  ASSERT_EQ(dev.Status, 0) << dev.Err;
  EXPECT_EQ(dev.Err, "");
  EXPECT_EQ(PermissionsOf(store + "/velmora-dev-ca.key"), 0600u);
  EXPECT_EQ(PermissionsOf(store + "/localhost.key"), 0600u);
  // The handshakes below go through the CA as dev makes it by default: name-constrained.
  const TRun constraints =
      OpenSSL("x509 -noout -ext nameConstraints -in " + Quoted(store + "/velmora-dev-ca.crt"));
  EXPECT_NE(constraints.output.find("X509v3 Name Constraints: critical"), std::string::npos)
      << constraints.output;

  // The address the server is not reached at is still one the certificate names.
  const TRun ipv6 =
      OpenSSL("verify -x509_strict -purpose sslserver -verify_ip ::1 -CAfile " +
              Quoted(store + "/velmora-dev-ca.crt") + " " + Quoted(store + "/localhost.crt"));
  EXPECT_EQ(ipv6.status, 0) << ipv6.output;

  // The free port may be taken again before the server binds it: then another one.
  std::optional<TBackgroundProcess> server;
  std::string portText;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int port = FreeLocalPort();
    portText = std::to_string(port);
    server.emplace(FindProgram("openssl"),
                   std::vector<std::string>{"s_server", "-accept", "127.0.0.1:" + portText, "-cert",
                                            store + "/localhost.crt", "-key",
                                            store + "/localhost.key", "-www"},
                   At("s_server.log"));
    if (WaitUntilAccepting(port, *server)) break;
    server.reset();
  }
  ASSERT_TRUE(server) << "openssl s_server did not start:\n" << ReadFileText(At("s_server.log"));

  EXPECT_EQ(Fetch("https://localhost:" + portText + "/",
                  "--resolve " + Quoted("localhost:" + portText + ":127.0.0.1")),
            "200");
  EXPECT_EQ(Fetch("https://127.0.0.1:" + portText + "/", ""), "200");
}

TEST_F(CliDev, SecondRunForAnotherNameReusesTheCA) {
  const std::string store = At("store");
  ASSERT_EQ(Cli({"dev", "first.test", "--store", store}).Status, 0);
  const std::string caCert = ReadFileText(store + "/velmora-dev-ca.crt");
  const std::string caKey = ReadFileText(store + "/velmora-dev-ca.key");

  const TProcessResult second = Cli({"dev", "second.test", "--store", store});
  ASSERT_EQ(second.Status, 0) << second.Err;
  EXPECT_EQ(ReadFileText(store + "/velmora-dev-ca.crt"), caCert);
  EXPECT_EQ(ReadFileText(store + "/velmora-dev-ca.key"), caKey);
  for (const char* name : {"first.test", "second.test"}) {
    SCOPED_TRACE(name);
    const TRun verify =
        OpenSSL("verify -x509_strict -purpose sslserver -verify_hostname " + std::string(name) +
                " -CAfile " + Quoted(store + "/velmora-dev-ca.crt") + " " +
                Quoted(store + "/" + name + ".crt"));
    EXPECT_EQ(verify.status, 0) << verify.output;
  }
}

}  // namespace
}  // namespace velmora::test
