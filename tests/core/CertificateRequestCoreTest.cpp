// Requests in core: the copy policy from a request to the certificate issued for it, the safe
// reading of a request file with its refusals, and requests in the store's listing, details
// and relations.
#include "core/CSR.h"
#include "core/Store.h"
#include "core/StoreRelations.h"
#include "core/TextFile.h"
#include "crypto/KeyIdentity.h"
#include "tests/support/CryptoFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace velmora::test {
namespace {

bool Has(const std::vector<std::string>& Lines, const std::string& Line) {
  return std::find(Lines.begin(), Lines.end(), Line) != Lines.end();
}

// ---- The copy policy ----------------------------------------------------------------

TCSRContent ServerRequest() {
  TCSRContent content;
  content.Subject.CN = "www.example.org";
  content.Subject.O = "Example";
  content.SANDNSNames = {"www.example.org", "example.org"};
  content.HasBasicConstraints = true;
  content.KeyUsage = TKeyUsageSet{kuDigitalSignature};
  content.ExtKeyUsage = TExtKeyUsageSet{ekuServerAuth};
  return content;
}

TCertRequest ProfileDefaults() {
  TCertRequest defaults;
  defaults.ValidDays = 90;
  defaults.KeyUsage = {kuDigitalSignature, kuKeyEncipherment};
  defaults.ExtKeyUsage = {ekuServerAuth, ekuClientAuth};
  defaults.PermittedNames = {"example.org"};
  return defaults;
}

struct TPolicyCase {
  const char* Name;
  TCSRContent Requested;
  TCSREdits Edits;
  // Expected:
  TSubjectDN Subject;
  std::vector<std::string> DNS;
  std::vector<std::string> IPs;
  bool IsCA;
  std::int32_t PathLen;
  TKeyUsageSet KeyUsage;
  TExtKeyUsageSet ExtKeyUsage;
  std::vector<std::string> Log;
  std::size_t Findings;
};

std::vector<TPolicyCase> PolicyCases() {
  std::vector<TPolicyCase> cases;
  {
    TPolicyCase c{"copied as requested", ServerRequest(), {}, {}, {}, {}, false, 0, {}, {}, {}, 0};
    c.Subject = c.Requested.Subject;
    c.DNS = c.Requested.SANDNSNames;
    c.KeyUsage = {kuDigitalSignature};
    c.ExtKeyUsage = {ekuServerAuth};
    cases.push_back(c);
  }
  {
    TPolicyCase c{
        "CA asked for and not granted", ServerRequest(), {}, {}, {}, {}, false, 0, {}, {}, {}, 1};
    c.Requested.IsCA = true;
    c.Requested.PathLenConstraint = 2;
    c.Subject = c.Requested.Subject;
    c.DNS = c.Requested.SANDNSNames;
    c.KeyUsage = {kuDigitalSignature};
    c.ExtKeyUsage = {ekuServerAuth};
    cases.push_back(c);
  }
  {
    TPolicyCase c{
        "CA asked for and granted", ServerRequest(), {}, {}, {}, {}, true, 2, {}, {}, {}, 0};
    c.Requested.IsCA = true;
    c.Requested.PathLenConstraint = 2;
    c.Requested.KeyUsage = TKeyUsageSet{kuKeyCertSign, kuCRLSign};
    c.Edits.GrantCA = true;
    c.Subject = c.Requested.Subject;
    c.DNS = c.Requested.SANDNSNames;
    c.KeyUsage = {kuKeyCertSign, kuCRLSign};
    c.ExtKeyUsage = {ekuServerAuth};
    cases.push_back(c);
  }
  {
    TPolicyCase c{
        "edits win over the request", ServerRequest(), {}, {}, {}, {}, false, 0, {}, {}, {}, 0};
    TSubjectDN edited;
    edited.CN = "edited.example.org";
    c.Edits.Subject = edited;
    c.Edits.SANDNSNames = std::vector<std::string>{"edited.example.org"};
    c.Edits.SANIPs = std::vector<std::string>{"192.0.2.1"};
    c.Edits.KeyUsage = TKeyUsageSet{kuDigitalSignature, kuKeyAgreement};
    c.Edits.ExtKeyUsage = TExtKeyUsageSet{ekuClientAuth};
    c.Subject = edited;
    c.DNS = {"edited.example.org"};
    c.IPs = {"192.0.2.1"};
    c.KeyUsage = {kuDigitalSignature, kuKeyAgreement};
    c.ExtKeyUsage = {ekuClientAuth};
    cases.push_back(c);
  }
  {
    TPolicyCase c{"usages the request lacks come from the profile",
                  ServerRequest(),
                  {},
                  {},
                  {},
                  {},
                  false,
                  0,
                  {},
                  {},
                  {},
                  0};
    c.Requested.KeyUsage.reset();
    c.Requested.ExtKeyUsage.reset();
    c.Subject = c.Requested.Subject;
    c.DNS = c.Requested.SANDNSNames;
    c.KeyUsage = {kuDigitalSignature, kuKeyEncipherment};
    c.ExtKeyUsage = {ekuServerAuth, ekuClientAuth};
    cases.push_back(c);
  }
  {
    TPolicyCase c{"other extensions, names and usages are dropped and named",
                  ServerRequest(),
                  {},
                  {},
                  {},
                  {},
                  false,
                  0,
                  {},
                  {},
                  {},
                  0};
    c.Requested.OtherExtensions = {"X509v3 Subject Key Identifier", "1.2.3.4.5"};
    c.Requested.OtherAlternativeNames = {"URI:https://example.org"};
    c.Requested.OtherExtKeyUsages = {"1.3.6.1.5.5.7.3.17"};
    c.Requested.OtherSubjectFields = {"serialNumber=42"};
    c.Subject = c.Requested.Subject;
    c.DNS = c.Requested.SANDNSNames;
    c.KeyUsage = {kuDigitalSignature};
    c.ExtKeyUsage = {ekuServerAuth};
    c.Log = {"Dropped the requested subject field serialNumber=42.",
             "Dropped the requested alternative name URI:https://example.org.",
             "Dropped the requested extended key usage 1.3.6.1.5.5.7.3.17.",
             "Dropped the requested extension X509v3 Subject Key Identifier.",
             "Dropped the requested extension 1.2.3.4.5."};
    cases.push_back(c);
  }
  {
    TPolicyCase c{"host name common name becomes the alternative name",
                  ServerRequest(),
                  {},
                  {},
                  {},
                  {},
                  false,
                  0,
                  {},
                  {},
                  {},
                  0};
    c.Requested.SANDNSNames.clear();
    c.Subject = c.Requested.Subject;
    c.DNS = {"www.example.org"};
    c.KeyUsage = {kuDigitalSignature};
    c.ExtKeyUsage = {ekuServerAuth};
    c.Log = {
        "Added the common name www.example.org as an alternative name: TLS clients look "
        "only there."};
    cases.push_back(c);
  }
  {
    TPolicyCase c{"IP address common name becomes the alternative name",
                  ServerRequest(),
                  {},
                  {},
                  {},
                  {},
                  false,
                  0,
                  {},
                  {},
                  {},
                  0};
    c.Requested.SANDNSNames.clear();
    c.Requested.Subject.CN = "192.0.2.9";
    c.Subject = c.Requested.Subject;
    c.IPs = {"192.0.2.9"};
    c.KeyUsage = {kuDigitalSignature};
    c.ExtKeyUsage = {ekuServerAuth};
    c.Log = {
        "Added the common name 192.0.2.9 as an alternative name: TLS clients look only "
        "there."};
    cases.push_back(c);
  }
  return cases;
}

TEST(CSRCopyPolicy, Table) {
  for (const TPolicyCase& c : PolicyCases()) {
    SCOPED_TRACE(c.Name);
    const TCSRIssuePlan plan = PlanCSRIssue(c.Requested, ProfileDefaults(), c.Edits);
    const TCertRequest& cert = plan.Certificate;
    EXPECT_EQ(cert.Subject.CN, c.Subject.CN);
    EXPECT_EQ(cert.Subject.O, c.Subject.O);
    EXPECT_EQ(cert.SANDNSNames, c.DNS);
    EXPECT_EQ(cert.SANIPs, c.IPs);
    EXPECT_EQ(cert.IsCA, c.IsCA);
    if (c.IsCA) {
      EXPECT_EQ(cert.PathLenConstraint, c.PathLen);
    }
    EXPECT_EQ(cert.KeyUsage, c.KeyUsage);
    EXPECT_EQ(cert.ExtKeyUsage, c.ExtKeyUsage);
    EXPECT_EQ(cert.ValidDays, 90);
    // A requester never sets the issuer's constraints, and key identifiers are never copied.
    EXPECT_TRUE(cert.PermittedNames.empty());
    EXPECT_EQ(plan.Log, c.Log);
    EXPECT_EQ(plan.Findings.size(), c.Findings);
    EXPECT_EQ(plan.Comparison.size(), 6u);
  }
}

TEST(CSRCopyPolicy, RequestedVersusIssuedLines) {
  TCSRContent requested = ServerRequest();
  requested.IsCA = true;
  requested.PathLenConstraint = 0;
  requested.OtherExtensions = {"X509v3 Subject Key Identifier"};
  const TCSRIssuePlan plan = PlanCSRIssue(requested, ProfileDefaults(), {});
  EXPECT_EQ(plan.Comparison,
            (std::vector<std::string>{
                "Subject: requested O=Example, CN=www.example.org; issued O=Example, "
                "CN=www.example.org",
                "Alternative names: requested DNS:www.example.org, DNS:example.org; issued "
                "DNS:www.example.org, DNS:example.org",
                "Basic constraints: requested CA:TRUE, pathlen:0; issued CA:FALSE",
                "Key usage: requested digitalSignature; issued digitalSignature",
                "Extended key usage: requested serverAuth; issued serverAuth",
                "Other extensions: requested X509v3 Subject Key Identifier; issued (none)"}));
  ASSERT_EQ(plan.Findings.size(), 1u);
  EXPECT_EQ(plan.Findings[0],
            "The request asks for a CA certificate, and that was not granted: the certificate "
            "is issued as an end-entity certificate (CA:FALSE).");
}

// ---- Reading a request file ------------------------------------------------------------

std::string RequestPEM(TCertBuilder& Builder, const std::string& CN) {
  if (!Builder.Key()) Builder.GenerateKey();
  Builder.Subject.CN = CN;
  Builder.BuildRequest();
  return Builder.RequestToPEM();
}

// A request carrying one key and signed by another.
std::string SignedByAnotherKey() {
  TCertBuilder builder;
  const std::string pem = RequestPEM(builder, "other.example");
  X509_REQPtr request(ReadCSRPEMOrDER(pem));
  const EVP_PKEYPtr other = MakeECKey("prime256v1");
  X509_REQ_set_pubkey(request.get(), other.get());
  X509_REQ_sign(request.get(), builder.Key(), EVP_sha256());
  return TCSRView(std::move(request)).PEM();
}

// A request whose common name is a UTF8String holding bytes that are no UTF-8.
std::string SubjectNotUtf8() {
  const EVP_PKEYPtr key = MakeECKey("prime256v1");
  X509_REQPtr request(X509_REQ_new());
  const unsigned char bad[] = {'a', 0xFF, 0xFE, 'b'};
  X509_NAME_add_entry_by_NID(X509_REQ_get_subject_name(request.get()), NID_commonName,
                             V_ASN1_UTF8STRING, bad, sizeof bad, -1, 0);
  X509_REQ_set_pubkey(request.get(), key.get());
  X509_REQ_sign(request.get(), key.get(), EVP_sha256());
  return TCSRView(std::move(request)).PEM();
}

TEST(CSRFile, BadInputIsRefusedNamingTheFileAndWhatIsWrong) {
  TempDir dir;
  TCertBuilder builder;
  const std::string good = RequestPEM(builder, "good.example");
  builder.BuildSelfSigned();
  const std::string cert = builder.CertToPEM();
  const std::string key = builder.KeyToPEM("");
  const Bytes bundle = MakePKCS12(builder.Key(), builder.Cert(), {}, "");
  std::string garbled = good;
  garbled.replace(good.size() / 2, 8, "********");
  TCertBuilder many;
  for (int i = 0; i < 10000; ++i) {
    std::string name = std::to_string(i);
    name.append(".example");
    many.SANDNSNames.push_back(std::move(name));
  }
  std::string huge = good;
  while (huge.size() <= static_cast<std::size_t>(kMaxCertificateFileSize))
    huge += "# padding padding padding padding padding padding padding padding padding\n";

  struct TCase {
    const char* Name;
    std::string Bytes;
    std::string Message;  // after the file's path
  };
  const std::vector<TCase> cases = {
      {"certificate", cert, " holds a certificate, not a certificate request."},
      {"private key", key, " holds a private key or a PKCS#12 bundle, not a certificate request."},
      {"bundle", std::string(bundle.begin(), bundle.end()),
       " holds a private key or a PKCS#12 bundle, not a certificate request."},
      {"truncated", good.substr(0, good.size() / 2),
       " cannot be read: it is truncated or damaged, or it is not a certificate request."},
      {"garbled base64", garbled,
       " cannot be read: it is truncated or damaged, or it is not a certificate request."},
      {"signed by another key", SignedByAnotherKey(),
       " does not verify: it was changed after it was signed, or it is not a certificate "
       "request."},
      {"ten thousand names", RequestPEM(many, "many.example"),
       " holds 10001 names; at most 1000 are taken."},
      {"over 4 MiB", huge, " is larger than 4 MiB: no certificate request is."},
      {"subject not UTF-8", SubjectNotUtf8(),
       " cannot be read: a name in it is not valid text (a subject that is not UTF-8)."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = dir.File(std::string(c.Name) + ".csr");
    WriteFile(path, c.Bytes);
    ERR_clear_error();  // whatever making the cases left behind
    try {
      (void)ReadCSRFile(path);
      ADD_FAILURE() << "read without complaint";
    } catch (const Exception& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(path + c.Message), std::string::npos) << message;
    }
    EXPECT_EQ(ERR_peek_error(), 0ul);
  }
  const std::string path = dir.File("good.csr");
  WriteFile(path, good);
  EXPECT_EQ(ReadCSRFile(path).SubjectText(), "CN=good.example");
}

// ---- The store -------------------------------------------------------------------------

TEST(CSRStore, RequestFilesAreListedAsRequests) {
  for (const char* name : {"a.csr", "b.REQ", "c.Csr"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(StoreFileKind(name), TStoreFileKind::Request);
  }
  EXPECT_STREQ(TypeText(TStoreFileKind::Request), "Request");
  EXPECT_EQ(StoreFileKind("a.csrx"), TStoreFileKind::Other);
}

TEST(CSRStore, DetailsAndRelations) {
  TempDir dir;
  TCertBuilder builder;
  builder.SANDNSNames = {"store.example"};
  const std::string request = RequestPEM(builder, "store.example");
  builder.BuildSelfSigned();
  WriteFile(dir.File("server.csr"), request);
  WriteFile(dir.File("server.key"), builder.KeyToPEM(""));
  WriteFile(dir.File("server.crt"), builder.CertToPEM());
  const EVP_PKEYPtr other = MakeECKey("prime256v1");
  WriteFile(dir.File("other.key"), KeyToPKCS8PEM(other.get()));

  const TFileDescription description = DescribeStoreFile(dir.File("server.csr"));
  EXPECT_FALSE(description.Problem) << *description.Problem;
  EXPECT_TRUE(Has(description.Lines, "Key Type: EC P-256"));
  const std::vector<std::string>& details = description.Details;

  EXPECT_TRUE(Has(details, "Subject: CN=store.example"));
  EXPECT_TRUE(Has(details, "Public key: EC P-256"));
  EXPECT_TRUE(Has(details, "Signature: ecdsa-with-SHA256, verifies"));
  EXPECT_TRUE(Has(details, "Public key SHA-256: " + PublicKeyIdentity(builder.Key())));
  EXPECT_TRUE(Has(details, "  X509v3 Subject Alternative Name: DNS:store.example"));
  EXPECT_TRUE(Has(details, "  X509v3 Key Usage: Digital Signature, Key Encipherment (critical)"));

  EXPECT_EQ(DescribeStoreRelations(dir.File("server.csr")),
            (std::vector<std::string>{"Private key in store: server.key",
                                      "Certificates for this key: server.crt"}));

  // A request changed after it was signed is described as one that does not verify.
  X509_REQPtr original(ReadCSRPEMOrDER(request));
  unsigned char* der = nullptr;
  const int length = i2d_X509_REQ(original.get(), &der);
  ASSERT_GT(length, 0);
  std::string bytes(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  const std::size_t at = bytes.find("store.example");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'S';
  WriteFile(dir.File("altered.csr"), bytes);
  const TFileDescription alteredDescription = DescribeStoreFile(dir.File("altered.csr"));
  ASSERT_TRUE(alteredDescription.Problem);
  EXPECT_NE(alteredDescription.Problem->find("does not verify"), std::string::npos);
  EXPECT_TRUE(Has(alteredDescription.Details, "Signature: ecdsa-with-SHA256, DOES NOT VERIFY"));
}

}  // namespace
}  // namespace velmora::test
