// The keys --key takes: each name a curve goes by gives that curve, the RSA sizes at the
// ends of the range are made, and the two Edwards curves.
#include "tests/cli/CliFixture.h"

#include <cctype>

namespace velmora::test {
namespace {

struct KeyCase {
  const char* key;
  const char* openSSLSays;  // a line of `openssl pkey -text` for the key made
  const char* signature;    // the certificate's signature algorithm, which follows the curve
};

const KeyCase kKeys[] = {
    {"ec:P-256", "NIST CURVE: P-256", "ecdsa-with-SHA256"},
    {"ec:prime256v1", "NIST CURVE: P-256", "ecdsa-with-SHA256"},
    {"ec:secp256r1", "NIST CURVE: P-256", "ecdsa-with-SHA256"},
    {"ec:p-384", "NIST CURVE: P-384", "ecdsa-with-SHA384"},
    {"ec:secp384r1", "NIST CURVE: P-384", "ecdsa-with-SHA384"},
    {"ec:secp521r1", "NIST CURVE: P-521", "ecdsa-with-SHA512"},
    {"ec:SECP521R1", "NIST CURVE: P-521", "ecdsa-with-SHA512"},
    {"rsa:1024", "Private-Key: (1024 bit, 2 primes)", "sha256WithRSAEncryption"},
    {"ed25519", "ED25519 Private-Key:", "ED25519"},
    {"Ed448", "ED448 Private-Key:", "ED448"},
};

class CliKeyChoice : public CliTest, public testing::WithParamInterface<KeyCase> {};

TEST_P(CliKeyChoice, EachNameGivesItsKey) {
  ASSERT_EQ(MissingPrograms({"openssl"}), "");
  const KeyCase& c = GetParam();
  const std::string store = At("store");
  const TProcessResult run = Cli(
      {"cert", "--cn", "key.example", "--dns", "key.example", "--key", c.key, "--store", store});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const TRun text = OpenSSL("pkey -noout -text -in " + Quoted(store + "/private.key"));
  ASSERT_EQ(text.status, 0) << text.output;
  EXPECT_NE(text.output.find(c.openSSLSays), std::string::npos) << text.output;
  const TRun cert = OpenSSL("x509 -noout -text -in " + Quoted(store + "/certificate.crt"));
  ASSERT_EQ(cert.status, 0) << cert.output;
  EXPECT_NE(cert.output.find(std::string("Signature Algorithm: ") + c.signature), std::string::npos)
      << cert.output;
}

INSTANTIATE_TEST_SUITE_P(Keys, CliKeyChoice, testing::ValuesIn(kKeys),
                         [](const testing::TestParamInfo<KeyCase>& info) {
                           std::string name;
                           for (const char c : std::string(info.param.key))
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

}  // namespace
}  // namespace velmora::test
