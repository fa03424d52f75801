#include "core/CertificateTemplate.h"

#include "core/CSR.h"
#include "core/StoreCertificate.h"
#include "core/StorePaths.h"
#include "core/ValueConventions.h"
#include "crypto/NameConstraints.h"

#include <algorithm>

namespace velmora {

namespace {

std::string CurveOf(std::int32_t Bits) {
  return Bits == 384 ? "P-384" : Bits == 521 ? "P-521" : "P-256";
}

void TakeKeyOf(const TCertificateView& Cert, TCertificateTemplate& Template) {
  const TPublicKeyFacts facts = PublicKeyFactsOf(Cert.PublicKey());
  Template.KeyType = KeyTypeOf(facts.Family);
  Template.RSABits = facts.Family == ctRSA ? facts.Bits : 0;
  Template.ECCurve = facts.Family == ctECC ? CurveOf(facts.Bits) : "";
  Template.EdAlgorithm = EdwardsAlgorithmOf(Cert.PublicKey());
}

// Name constraints in the words the form and --permit take them.
void TakeNameConstraints(const TCertificateView& Cert, TCertRequest& Request) {
  const TNameConstraints constraints = NameConstraintsOf(Cert.Handle());
  Request.PermittedNames.clear();
  Request.ExcludedNames.clear();
  for (const TNameConstraint& item : constraints.Permitted)
    Request.PermittedNames.push_back(item.Text);
  for (const TNameConstraint& item : constraints.Excluded)
    Request.ExcludedNames.push_back(item.Text);
}

}  // namespace

std::int32_t ValidityDaysOf(const TCertificateView& Cert) {
  const std::optional<std::time_t> from = Cert.NotBefore(), to = Cert.NotAfter();
  if (!from || !to || *to <= *from) return 1;
  const std::time_t days = (*to - *from + 43200) / 86400;  // to the nearest whole day
  return static_cast<std::int32_t>(std::clamp<std::time_t>(days, 1, INT32_MAX));
}

TProfile MatchingProfile(const TCertRequest& Request, TKeyType KeyType) {
  for (TProfile profile : kAllProfiles) {
    const std::optional<TProfileSettings> settings = ProfileSettings(profile, KeyType);
    if (!settings || settings->IsCA != Request.IsCA) continue;
    if (Request.IsCA && settings->PathLenConstraint != Request.PathLenConstraint) continue;
    if (settings->KeyUsage == Request.KeyUsage && settings->ExtKeyUsage == Request.ExtKeyUsage)
      return profile;
  }
  return TProfile::Custom;
}

TCertificateTemplate TemplateOfCertificate(const TCertificateView& Cert) {
  TCertificateTemplate result;
  TakeKeyOf(Cert, result);
  // The copy policy of requests, with nothing of a previous form as defaults: a usage the
  // certificate does not carry stays empty.
  TCertRequest blank;
  blank.ValidDays = ValidityDaysOf(Cert);
  blank.KeyUsage = {};
  blank.ExtKeyUsage = {};
  const TCSRContent content = CertificateContent(Cert);
  TCSREdits edits;
  edits.GrantCA = content.IsCA;
  TCSRIssuePlan plan = PlanCSRIssue(content, blank, edits);
  result.Request = std::move(plan.Certificate);
  if (!content.IsCA) result.Request.PathLenConstraint = 0;
  TakeNameConstraints(Cert, result.Request);
  result.Log = std::move(plan.Log);
  result.Profile = MatchingProfile(result.Request, result.KeyType);
  return result;
}

TCertificateTemplate TemplateOfCertificateFile(const std::string& Path) {
  X509Ptr cert = ReadStoreCertificate(Path);
  if (!cert)
    throw Exception("The certificate " + Quoted(Readable(Path)) +
                    " cannot be read: it holds no certificate, or it cannot be opened.");
  const TCertificateView view(std::move(cert));
  try {
    return TemplateOfCertificate(view);
  } catch (const Exception& e) {
    throw Exception("The certificate " + Quoted(Readable(Path)) + " cannot be used: " + e.what());
  }
}

}  // namespace velmora
