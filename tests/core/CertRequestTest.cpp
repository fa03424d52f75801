// The certificate request as plain data: lists, usage names and what reaches the builder.
#include "core/CertRequest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora {
namespace {

TEST(SplitCommaList, TrimsPiecesDropsEmptyOnesAndKeepsOrderAndDuplicates) {
  struct Case {
    const char* text;
    std::vector<std::string> pieces;
  };
  const Case cases[] = {
      {"", {}},
      {" \t ", {}},
      {",", {}},
      {" , ,, ", {}},
      {"one", {"one"}},
      {" one , two ,", {"one", "two"}},
      {",one,,two,", {"one", "two"}},
      {"b,a,b", {"b", "a", "b"}},
      {"in ner, x", {"in ner", "x"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    EXPECT_EQ(SplitCommaList(c.text), c.pieces);
  }
}

TEST(UsageNames, ListsOfX509NamesBecomeSetsAndUnknownNamesAreRefused) {
  EXPECT_EQ(KeyUsagesFromList("digitalSignature, keyEncipherment"),
            (TKeyUsageSet{kuDigitalSignature, kuKeyEncipherment}));
  EXPECT_EQ(KeyUsagesFromList("nonRepudiation,contentCommitment"),
            TKeyUsageSet{kuContentCommitment});
  EXPECT_EQ(KeyUsagesFromList("keyCertSign,cRLSign,encipherOnly,decipherOnly,keyAgreement,"
                              "dataEncipherment")
                .value(),
            (TKeyUsageSet{kuKeyCertSign, kuCRLSign, kuEncipherOnly, kuDecipherOnly, kuKeyAgreement,
                          kuDataEncipherment})
                .value());
  EXPECT_EQ(ExtKeyUsagesFromList("serverAuth,clientAuth,codeSigning,emailProtection,"
                                 "timeStamping,OCSPSigning")
                .value(),
            0x3F);
  EXPECT_TRUE(KeyUsagesFromList("").empty());
  const std::pair<std::string, std::string> refused[] = {
      {"digitalsignature", "Unknown key usage \"digitalsignature\"."},
      {"serverAuth", "Unknown key usage \"serverAuth\"."},
  };
  for (const auto& [list, message] : refused) {
    SCOPED_TRACE(list);
    try {
      KeyUsagesFromList(list);
      ADD_FAILURE() << "accepted";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
  EXPECT_THROW(ExtKeyUsagesFromList("anyExtendedKeyUsage"), Exception);
}

TEST(ApplyRequestToBuilder, CopiesEverySettingAndAPathLengthOnlyForACA) {
  TCertRequest request;
  request.Subject = {"cn", "o", "ou", "DE", "st", "l", "a@b.example"};
  request.ValidDays = 42;
  request.PathLenConstraint = 3;
  request.KeyUsage = {kuKeyAgreement};
  request.ExtKeyUsage = {ekuCodeSigning};
  request.SANDNSNames = {"d.example"};
  request.SANIPs = {"10.0.0.1"};
  request.SANEmails = {"e@d.example"};
  TCertBuilder b;
  ApplyRequestToBuilder(request, b);
  EXPECT_EQ(b.Subject.CN, "cn");
  EXPECT_EQ(b.Subject.Email, "a@b.example");
  EXPECT_EQ(b.ValidDays, 42);
  EXPECT_FALSE(b.IsCA);
  EXPECT_EQ(b.PathLenConstraint, 0);
  EXPECT_EQ(b.KeyUsage, TKeyUsageSet{kuKeyAgreement});
  EXPECT_EQ(b.ExtKeyUsage, TExtKeyUsageSet{ekuCodeSigning});
  EXPECT_EQ(b.SANDNSNames, std::vector<std::string>{"d.example"});
  EXPECT_EQ(b.SANIPs, std::vector<std::string>{"10.0.0.1"});
  EXPECT_EQ(b.SANEmails, std::vector<std::string>{"e@d.example"});
  request.IsCA = true;
  ApplyRequestToBuilder(request, b);
  EXPECT_EQ(b.PathLenConstraint, 3);
}

}  // namespace
}  // namespace velmora
