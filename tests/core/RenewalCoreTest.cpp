// A certificate read back into the request that makes it again, its profile recognised, and
// the full chain of a store certificate, on certificates the builder makes here.
#include "core/CertificateTemplate.h"
#include "core/Renewal.h"
#include "core/StoreChain.h"
#include "crypto/AtomicFile.h"
#include "tests/support/CryptoFixtures.h"

#include <gtest/gtest.h>

#include <memory>

namespace velmora::test {
namespace {

// A certificate made from Request with a new P-256 key, signed by Signer when given.
std::unique_ptr<TCertBuilder> Issued(const TCertRequest& Request,
                                     const TCertBuilder* Signer = nullptr) {
  auto builder = std::make_unique<TCertBuilder>();
  builder->GenerateKey();
  ApplyRequestToBuilder(Request, *builder);
  if (Signer)
    builder->BuildSignedBy(Signer->CertToPEM(), Signer->KeyToPEM(""), "");
  else
    builder->BuildSelfSigned();
  return builder;
}

TCertRequest Named(const std::string& CN, TProfile Profile) {
  TCertRequest request;
  request.Subject.CN = CN;
  ApplyProfile(Profile, ktECC, request);
  return request;
}

TEST(CertificateTemplate, EachProfileIsRecognisedFromItsCertificate) {
  for (TProfile profile : kAllProfiles) {
    if (profile == TProfile::Custom) continue;
    SCOPED_TRACE(ProfileCaption(profile));
    const auto made = Issued(Named("profile.example", profile));
    const TCertificateTemplate read = TemplateOfCertificate(TCertificateView(made->Cert()));
    EXPECT_EQ(read.Profile, profile);
    EXPECT_EQ(read.KeyType, ktECC);
    EXPECT_EQ(read.ECCurve, "P-256");
  }
  // Usages of no profile: Custom.
  TCertRequest mixed = Named("mixed.example", TProfile::TLSServer);
  mixed.ExtKeyUsage = {ekuServerAuth, ekuCodeSigning};
  const auto made = Issued(mixed);
  EXPECT_EQ(TemplateOfCertificate(TCertificateView(made->Cert())).Profile, TProfile::Custom);
}

TEST(CertificateTemplate, TakesWhatTheCertificateCarriesAndNothingElse) {
  TCertRequest request = Named("web.example", TProfile::TLSServerClient);
  request.Subject.O = "Example Org";
  request.Subject.C = "DE";
  request.SANDNSNames = {"web.example", "www.web.example"};
  request.SANIPs = {"192.0.2.7"};
  request.ValidDays = 45;
  const auto made = Issued(request);
  const TCertRequest read = TemplateOfCertificate(TCertificateView(made->Cert())).Request;
  EXPECT_EQ(read.Subject.CN, "web.example");
  EXPECT_EQ(read.Subject.O, "Example Org");
  EXPECT_EQ(read.Subject.C, "DE");
  EXPECT_EQ(read.Subject.OU, "");
  EXPECT_EQ(read.SANDNSNames, request.SANDNSNames);
  EXPECT_EQ(read.SANIPs, request.SANIPs);
  EXPECT_TRUE(read.SANEmails.empty());
  EXPECT_EQ(read.ValidDays, 45);
  EXPECT_FALSE(read.IsCA);
  EXPECT_EQ(read.KeyUsage, request.KeyUsage);
  EXPECT_EQ(read.ExtKeyUsage, request.ExtKeyUsage);

  // A root without extended key usage gives none, not the defaults of a new form.
  TCertRequest root = Named("Template Root", TProfile::RootCA);
  root.PermittedNames = {"example.org", "10.0.0.0/8"};
  const auto ca = Issued(root);
  const TCertRequest readRoot = TemplateOfCertificate(TCertificateView(ca->Cert())).Request;
  EXPECT_TRUE(readRoot.IsCA);
  EXPECT_EQ(readRoot.PathLenConstraint, -1);
  EXPECT_TRUE(readRoot.ExtKeyUsage.empty());
  EXPECT_EQ(readRoot.PermittedNames, root.PermittedNames);
}

TEST(CertificateTemplate, ValidityLengthIsInWholeDays) {
  for (const std::int32_t days : {1, 45, 3650}) {
    SCOPED_TRACE(days);
    TCertRequest request = Named("days.example", TProfile::TLSServer);
    request.ValidDays = days;
    const auto made = Issued(request);
    EXPECT_EQ(ValidityDaysOf(TCertificateView(made->Cert())), days);
  }
}

class StoreChainTest : public testing::Test {
 protected:
  void Put(const std::string& Name, const TCertBuilder& Made) {
    WriteFileAtomically(Store.File(Name), Made.CertToPEM(), TFileAccess::Usual);
  }
  TempDir Store;
};

TEST_F(StoreChainTest, TheChainRunsUpToTheRootAndNamesAMissingIssuer) {
  const auto root = Issued(Named("Chain Root", TProfile::RootCA));
  const auto inter = Issued(Named("Chain Intermediate", TProfile::IntermediateCA), root.get());
  const auto leaf = Issued(Named("leaf.example", TProfile::TLSServer), inter.get());
  Put("root.crt", *root);
  Put("inter.crt", *inter);
  Put("leaf.crt", *leaf);
  const std::string dir = Store.Path().string();

  EXPECT_EQ(StoreChainPEM(Store.File("leaf.crt"), dir), leaf->CertToPEM() + inter->CertToPEM());
  EXPECT_EQ(StoreChainPEM(Store.File("inter.crt"), dir), inter->CertToPEM());
  EXPECT_EQ(StoreChainPEM(Store.File("root.crt"), dir), root->CertToPEM());
  EXPECT_EQ(FindStoreIssuer(TCertificateView(leaf->Cert()), dir, "leaf.crt"), "inter.crt");

  std::filesystem::remove(Store.File("inter.crt"));
  try {
    (void)StoreChainPEM(Store.File("leaf.crt"), dir);
    FAIL() << "a chain without its intermediate";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()),
              "The chain of \"leaf.crt\" cannot be completed from the store: the issuer of "
              "\"leaf.crt\", \"CN=Chain Intermediate\", is not in the store.");
  }
}

TEST_F(StoreChainTest, OfARenewedCAAndItsOldCopyTheOneValidLongestIsTheIssuer) {
  const auto root = Issued(Named("Chain Root", TProfile::RootCA));
  TCertRequest interRequest = Named("Chain Intermediate", TProfile::IntermediateCA);
  interRequest.ValidDays = 30;
  const auto inter = Issued(interRequest, root.get());
  Put("root.crt", *root);
  // The copy kept of the old certificate sorts first; the renewed one lasts longer.
  Put("inter.00AA00AA.crt", *inter);
  TCertBuilder renewed;
  renewed.UseExistingKey(inter->KeyToPEM(""), "");
  interRequest.ValidDays = 400;
  ApplyRequestToBuilder(interRequest, renewed);
  renewed.BuildSignedBy(root->CertToPEM(), root->KeyToPEM(""), "");
  Put("inter.crt", renewed);
  const auto leaf = Issued(Named("leaf.example", TProfile::TLSServer), inter.get());
  EXPECT_EQ(FindStoreIssuer(TCertificateView(leaf->Cert()), Store.Path().string()), "inter.crt");
}

TEST(RenewalPlan, KeptNamesCarryTheOldSerial) {
  TRenewalPlan plan;
  plan.OldSerial8 = "3A4B5C6D";
  EXPECT_EQ(plan.KeptName("server.crt"), "server.3A4B5C6D.crt");
  EXPECT_EQ(plan.KeptName("server.key"), "server.3A4B5C6D.key");
  EXPECT_EQ(plan.KeptName("my.server.pem"), "my.server.3A4B5C6D.pem");
}

}  // namespace
}  // namespace velmora::test
