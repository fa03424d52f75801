// A host name given only as the common name: TLS clients look for it among the alternative
// names alone, so issuance puts it there too and says so.
#include "tests/cli/CliFixture.h"

namespace velmora::test {
namespace {

const std::string kSelfSignedLog =
    "Building self-signed certificate ...\nCertificate created successfully.\n"
    "Certificate saved -> certificate.crt\nPrivate key saved -> private.key\n";

struct TCommonNameCase {
  const char* Name;
  std::vector<std::string> Args;
  std::string AltNames;  // openssl's line for the extension; empty: none in the certificate
  bool Added;            // whether the log tells of the added name
  std::string Err;
};

class CliCommonName : public CliTest, public ::testing::WithParamInterface<TCommonNameCase> {};

TEST_P(CliCommonName, HostNameInTheCommonNameBecomesAnAlternativeName) {
  if (const std::string missing = MissingPrograms({"openssl"}); !missing.empty())
    GTEST_FAIL() << "The certificate is read with the openssl command line; not installed: "
                 << missing;
  const TCommonNameCase& c = GetParam();
  const std::string store = At("store");
  std::vector<std::string> args = c.Args;
  args.insert(args.begin(), "cert");
  args.insert(args.end(), {"--store", store});
  const TProcessResult run = Cli(args);
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Err, c.Err);
  const std::string added = "Added the common name " + c.Args[1] +
                            " as an alternative name: TLS clients look only there.\n";
  EXPECT_EQ(run.Out, (c.Added ? added : "") + kSelfSignedLog);

  const TRun text =
      OpenSSL("x509 -noout -ext subjectAltName -in " + Quoted(store + "/certificate.crt"));
  ASSERT_EQ(text.status, 0) << text.output;
  if (c.AltNames.empty())
    EXPECT_EQ(text.output, "No extensions in certificate\n");
  else
    EXPECT_EQ(text.output, "X509v3 Subject Alternative Name: \n    " + c.AltNames + "\n");
}

const std::string kNoServerName =
    "Warning: TLS Server Authentication without a DNS name or IP address among the alternative "
    "names: browsers and current TLS clients ignore the Common Name, so they accept the "
    "certificate for no server.\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, CliCommonName,
    ::testing::Values(
        TCommonNameCase{"DNSName", {"--cn", "www.example.org"}, "DNS:www.example.org", true, ""},
        TCommonNameCase{"IPv4", {"--cn", "192.0.2.7"}, "IP Address:192.0.2.7", true, ""},
        TCommonNameCase{
            "IPv6", {"--cn", "2001:db8::1"}, "IP Address:2001:DB8:0:0:0:0:0:1", true, ""},
        // A person's or a service's name is no host name: nothing is added, and the check
        // still says the certificate serves no server.
        TCommonNameCase{"NotAHostName", {"--cn", "Test Server"}, "", false, kNoServerName},
        TCommonNameCase{"AlternativeNamesGiven",
                        {"--cn", "www.example.org", "--dns", "api.example.org"},
                        "DNS:api.example.org",
                        false,
                        ""},
        // Only a server is looked up by its name; a client certificate is left as asked.
        TCommonNameCase{
            "NoServer", {"--cn", "www.example.org", "--profile", "tls-client"}, "", false, ""}),
    [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace velmora::test
