// When the store's certificates expire: days counted from now, certificates read in PEM and
// DER, other files without an expiry, and a changed file read again.
#include "core/StoreExpiry.h"
#include "tests/support/CryptoFixtures.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <ctime>
#include <map>
#include <optional>
#include <string>

namespace velmora::test {
namespace {

// A self-signed certificate that ends Seconds from now.
X509Ptr CertEndingIn(EVP_PKEY* Key, long Seconds) {
  X509Ptr cert = MakeSelfSignedCert(Key);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), Seconds);
  X509_sign(cert.get(), Key, EVP_sha256());
  return cert;
}

std::time_t NotAfterOf(X509* Cert) {
  std::tm when{};
  ASN1_TIME_to_tm(X509_get0_notAfter(Cert), &when);
  return ::timegm(&when);
}

TEST(DaysLeft, WholeDaysRoundedDownNegativeOncePassed) {
  const std::time_t now = 1'700'000'000;
  struct Case {
    long offset;
    std::int64_t days;
  };
  const Case cases[] = {
      {10 * 86400 + 1, 10}, {10 * 86400, 10},    {10 * 86400 - 1, 9}, {1, 0}, {0, 0}, {-1, -1},
      {-3 * 86400, -3},     {-3 * 86400 - 1, -4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(DaysLeft(now + c.offset, now), c.days);
  }
}

TEST(ReadCertificateExpiry, CertificatesInPEMOrDEROthersNoneAndAChangedFileReadAgain) {
  TempDir dir;
  const EVP_PKEYPtr key = MakeECKey("P-256");
  const X509Ptr soon = CertEndingIn(key.get(), 10 * 86400);
  const X509Ptr gone = CertEndingIn(key.get(), -86400);
  WriteFile(dir.Path() / "soon.crt", CertToPEM(soon.get()));
  WriteFile(dir.Path() / "gone.cer", CertToDER(gone.get()));
  WriteFile(dir.Path() / "garbage.crt", std::string("not a certificate"));
  WriteFile(dir.Path() / "only.key", KeyToPKCS8PEM(key.get()));
  ASSERT_EQ(::mkfifo((dir.Path() / "pipe.crt").c_str(), 0600), 0);  // must not be waited for

  // Each file with its date, as the listing found it.
  const auto expiryByName = [&] {
    const std::vector<TStoreEntry> entries = ReadStoreEntries(dir.Path().string());
    const auto expiry = ReadCertificateExpiry(dir.Path().string(), entries);
    EXPECT_EQ(expiry.size(), entries.size());
    std::map<std::string, std::optional<std::time_t>> byName;
    for (std::size_t i = 0; i < entries.size() && i < expiry.size(); ++i)
      byName[entries[i].Name] = expiry[i];
    return byName;
  };
  auto expiry = expiryByName();
  ASSERT_EQ(expiry.size(), 5u);
  EXPECT_EQ(expiry["soon.crt"], NotAfterOf(soon.get()));
  EXPECT_EQ(expiry["gone.cer"], NotAfterOf(gone.get()));
  EXPECT_EQ(expiry["garbage.crt"], std::nullopt);
  EXPECT_EQ(expiry["only.key"], std::nullopt);
  EXPECT_EQ(expiry["pipe.crt"], std::nullopt);

  // Replaced by another certificate: the cached date of the old file is not used.
  const X509Ptr later = CertEndingIn(key.get(), 400 * 86400);
  std::filesystem::remove(dir.Path() / "soon.crt");
  WriteFile(dir.Path() / "soon.crt", CertToPEM(later.get()));
  EXPECT_EQ(expiryByName()["soon.crt"], NotAfterOf(later.get()));
}

}  // namespace
}  // namespace velmora::test
