// What the store shows of its CRLs: the entries of a long CRL, and where the CA that signed a
// CRL is looked for in a store of many certificates.
#include "core/Revocation.h"
#include "core/Store.h"
#include "core/StoreRelations.h"
#include "core/StoreRevocation.h"
#include "core/TextFile.h"
#include "crypto/CertBuilder.h"
#include "tests/support/CryptoFixtures.h"

#include <gtest/gtest.h>

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace velmora {
namespace {

constexpr std::time_t kNow = 1'800'000'000;

void MakeCA(TCertBuilder& ca) {
  ca.Subject.CN = "Store Revocation CA";
  ca.IsCA = true;
  ca.KeyUsage = {kuKeyCertSign, kuCRLSign};
  ca.ExtKeyUsage = {};
  ca.GenerateKey();
  ca.BuildSelfSigned();
}

// A CRL of CA listing serials 1..Entries, made with libcrypto alone.
std::string CRLWithSerials(X509* CA, EVP_PKEY* Key, int Entries) {
  X509_CRLPtr crl(X509_CRL_new());
  X509_CRL_set_version(crl.get(), X509_CRL_VERSION_2);
  X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(CA));
  ASN1_TIMEPtr now(ASN1_TIME_set(nullptr, kNow));
  ASN1_TIMEPtr next(ASN1_TIME_set(nullptr, kNow + 86400));
  X509_CRL_set1_lastUpdate(crl.get(), now.get());
  X509_CRL_set1_nextUpdate(crl.get(), next.get());
  for (int i = 1; i <= Entries; ++i) {
    ASN1_INTEGERPtr serial(ASN1_INTEGER_new());
    ASN1_INTEGER_set(serial.get(), i);
    X509_REVOKED* entry = X509_REVOKED_new();
    X509_REVOKED_set_serialNumber(entry, serial.get());
    X509_REVOKED_set_revocationDate(entry, now.get());
    X509_CRL_add0_revoked(crl.get(), entry);
  }
  X509_CRL_sort(crl.get());
  X509_CRL_sign(crl.get(), Key, EVP_sha256());
  BIOPtr out(BIO_new(BIO_s_mem()));
  PEM_write_bio_X509_CRL(out.get(), crl.get());
  return BioToString(out.get());
}

bool Has(const std::vector<std::string>& Lines, const std::string& Line) {
  return std::find(Lines.begin(), Lines.end(), Line) != Lines.end();
}

TEST(StoreCRLDetails, ListTheFirstThousandEntriesThenACount) {
  test::TempDir dir;
  TCertBuilder ca;
  MakeCA(ca);
  ca.SaveCertToPEM(dir.File("ca.crt"));
  for (const int entries : {1000, 1003}) {
    SCOPED_TRACE(entries);
    const std::string crl = CRLWithSerials(ca.Cert(), ca.Key(), entries);
    test::WriteFile(dir.File("ca.crl"), crl);
    const std::vector<std::string> lines = CRLDetailLines(dir.File("ca.crl"), crl);
    EXPECT_TRUE(Has(lines, "Revoked Certificates: " + std::to_string(entries)));
    EXPECT_TRUE(Has(lines, "Signature: verified against CN=Store Revocation CA in the store"));
    const auto listed = std::count_if(lines.begin(), lines.end(), [](const std::string& Line) {
      return Line.starts_with("  ") && !Line.starts_with("  ...");
    });
    EXPECT_EQ(listed, 1000);
    if (entries > 1000)
      EXPECT_EQ(lines.back(), "  ... and 3 more");
    else
      EXPECT_FALSE(lines.back().starts_with("  ..."));
  }
}

// The related-files lines compare at most the first kMaxRelatedFiles files of a store; the
// CA of a CRL is looked for within the same bound, but the one the CRL is named after first.
TEST(StoreCRLDetails, TheCAIsLookedForByTheCRLsNameFirstAndWithinBounds) {
  test::TempDir dir;
  TCertBuilder ca;
  MakeCA(ca);
  ca.SaveCertToPEM(dir.File("zz-ca.crt"));
  ca.SaveKeyToPEM(dir.File("zz-ca.key"), "");
  TCertBuilder leaf;
  leaf.Subject.CN = "leaf.example";
  leaf.GenerateKey();
  leaf.BuildSignedBy(ca.CertToPEM(), ca.KeyToPEM(""), "");
  leaf.SaveCertToPEM(dir.File("zz-leaf.crt"));
  TCertBuilder later;
  later.Subject.CN = "later.example";
  later.GenerateKey();
  later.BuildSignedBy(ca.CertToPEM(), ca.KeyToPEM(""), "");
  later.SaveCertToPEM(dir.File("zz-later.crt"));
  // More certificate files than are compared, all listed before the CA by name.
  for (int i = 0; i <= kMaxRelatedFiles; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "a%05d.crt", i);
    test::WriteFile(dir.File(name), std::string("x"));
  }
  TCRLRequest request;
  request.CACertFile = dir.File("zz-ca.crt");
  request.CAKeyFile = dir.File("zz-ca.key");
  request.CertFile = dir.File("zz-leaf.crt");
  request.Reason = TRevocationReason::KeyCompromise;
  ASSERT_EQ(RevokeCertificate(request, "", kNow).CRLFile, dir.File("zz-ca.crl"));
  const std::string crl = ReadTextFile(dir.File("zz-ca.crl"));
  test::WriteFile(dir.File("copy.crl"), crl);

  EXPECT_TRUE(Has(CRLDetailLines(dir.File("zz-ca.crl"), crl),
                  "Signature: verified against CN=Store Revocation CA in the store"));
  // A CRL under another name finds its CA only among the files compared.
  EXPECT_TRUE(Has(CRLDetailLines(dir.File("copy.crl"), crl), "Signature: issuer not in store"));

  const std::string revoked = "Revoked (keyCompromise) on " + UTCText(kNow);
  const TFileDescription looked = DescribeStoreFile(dir.File("zz-leaf.crt"), kNow);
  ASSERT_TRUE(looked.Revocation);
  EXPECT_EQ(looked.Details.front(), revoked);
  // A quick description reads the certificate alone: nothing of the store's CRLs.
  const TFileDescription alone =
      DescribeStoreFile(dir.File("zz-leaf.crt"), kNow, TWording::Window, TStoreLookup::Skip);
  EXPECT_FALSE(alone.Revocation);
  EXPECT_FALSE(Has(alone.Details, revoked));
  for (const std::string& line :
       DescribeStoreFile(dir.File("zz-ca.crl"), kNow, TWording::Window, TStoreLookup::Skip).Details)
    EXPECT_FALSE(line.starts_with("Signature:")) << line;

  // The marks of a listing; read again once a CRL changed (they are kept between listings).
  const auto marked = [&dir] {
    const std::vector<TStoreEntry> entries = ReadStoreEntries(dir.Path().string());
    const std::vector<std::optional<TRevokedEntry>> marks =
        ReadRevocations(dir.Path().string(), entries);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < entries.size(); ++i)
      if (marks[i]) names.push_back(entries[i].Name);
    std::sort(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(marked(), std::vector<std::string>{"zz-leaf.crt"});
  EXPECT_EQ(marked(), std::vector<std::string>{"zz-leaf.crt"});
  request.CertFile = dir.File("zz-later.crt");
  RevokeCertificate(request, "", kNow + 60);
  EXPECT_EQ(marked(), (std::vector<std::string>{"zz-later.crt", "zz-leaf.crt"}));
}

}  // namespace
}  // namespace velmora
