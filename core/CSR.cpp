#include "core/CSR.h"

#include "core/RequestChecks.h"
#include "core/StorePaths.h"
#include "core/TextFile.h"
#include "core/Usages.h"
#include "crypto/Certificates.h"
#include "crypto/SecretBytes.h"
#include "crypto/SecretText.h"

#include <cerrno>
#include <system_error>

namespace velmora {

namespace {

std::string Joined(const std::vector<std::string>& Items, const char* Separator = ", ") {
  std::string text;
  for (const std::string& item : Items) text += (text.empty() ? "" : Separator) + item;
  return text;
}

std::string OrNone(const std::string& Text) { return Text.empty() ? "(none)" : Text; }

std::string SubjectText(const TSubjectDN& Subject) {
  std::vector<std::string> parts;
  const auto add = [&](const char* Label, const std::string& Value) {
    if (!Value.empty()) parts.push_back(std::string(Label) + "=" + Value);
  };
  add("C", Subject.C);
  add("ST", Subject.ST);
  add("L", Subject.L);
  add("O", Subject.O);
  add("OU", Subject.OU);
  add("CN", Subject.CN);
  add("emailAddress", Subject.Email);
  return Joined(parts);
}

std::string NamesText(const std::vector<std::string>& DNS, const std::vector<std::string>& IPs,
                      const std::vector<std::string>& Emails,
                      const std::vector<std::string>& Others = {}) {
  std::vector<std::string> parts;
  parts.reserve(DNS.size() + IPs.size() + Emails.size() + Others.size());
  for (const std::string& name : DNS) parts.push_back("DNS:" + name);
  for (const std::string& ip : IPs) parts.push_back("IP:" + ip);
  for (const std::string& email : Emails) parts.push_back("email:" + email);
  for (const std::string& other : Others) parts.push_back(other);
  return Joined(parts);
}

std::string ConstraintsText(bool Present, bool IsCA, std::int32_t PathLen) {
  if (!Present) return "";
  if (!IsCA) return "CA:FALSE";
  return PathLen < 0 ? "CA:TRUE" : "CA:TRUE, pathlen:" + std::to_string(PathLen);
}

std::string KeyUsageText(const std::optional<TKeyUsageSet>& Usage) {
  if (!Usage) return "";
  std::vector<std::string> names;
  for (const auto& info : kKeyUsages)
    if (Usage->contains(info.Member)) names.emplace_back(info.Name);
  return Joined(names);
}

std::string ExtKeyUsageText(const std::optional<TExtKeyUsageSet>& Usage,
                            const std::vector<std::string>& Others = {}) {
  if (!Usage) return "";
  std::vector<std::string> names;
  for (const auto& info : kExtKeyUsages)
    if (Usage->contains(info.Member)) names.emplace_back(info.Name);
  for (const std::string& other : Others) names.push_back(other);
  return Joined(names);
}

std::string Comparing(const char* What, const std::string& Requested, const std::string& Issued) {
  return std::string(What) + ": requested " + OrNone(Requested) + "; issued " + OrNone(Issued);
}

std::string NameOfFile(const std::string& Path) { return Readable(Path); }

}  // namespace

TCSRView ReadCSRBytes(const std::string& Bytes, const std::string& Name) {
  const std::string file = NameOfFile(Name);
  bool notText = false;
  std::optional<TCSRView> request = ReadCSRView(Bytes, &notText);
  if (!request) {
    if (notText)
      throw Exception("The certificate request " + file +
                      " cannot be read: a name in it is not valid text (a subject that is not "
                      "UTF-8).");
    // The usual mix-ups get their own words: the user picked the wrong file of a pair.
    const TolerateErrors tolerate;
    if (HoldsPrivateKeyOrBundle(Bytes))
      throw Exception(file +
                      " holds a private key or a PKCS#12 bundle, not a certificate request.");
    if (HoldsCertificateWithoutKey(Bytes))
      throw Exception(file + " holds a certificate, not a certificate request.");
    throw Exception("The certificate request " + file +
                    " cannot be read: it is truncated or damaged, or it is not a certificate "
                    "request.");
  }
  CheckCSRUsable(*request, Name);
  return std::move(*request);
}

void CheckCSRUsable(const TCSRView& View, const std::string& Name) {
  const std::string file = NameOfFile(Name);
  if (!View.Verifies())
    throw Exception("The certificate request " + file +
                    " does not verify: it was changed after it was signed, or it is not a "
                    "certificate request.");
  if (const std::size_t names = View.NameCount(); names > kMaxCSRNames)
    throw Exception("The certificate request " + file + " holds " + std::to_string(names) +
                    " names; at most " + std::to_string(kMaxCSRNames) + " are taken.");
  try {
    (void)View.Content();
  } catch (const Exception& e) {
    throw Exception("The certificate request " + file + " cannot be used: " + e.what());
  }
}

TCSRView ReadCSRFile(const std::string& Path) {
  const std::string file = NameOfFile(Path);
  const TReadOnlyFile input(Path);
  const auto fail = [&](int Error) {
    throw Exception("Cannot read the certificate request " + file + ": " +
                    std::system_category().message(Error) + ".");
  };
  if (input.Error() != 0) fail(input.Error());
  if (S_ISDIR(input.Info().st_mode)) fail(EISDIR);
  if (!input.IsRegularFile())
    throw Exception("Cannot read the certificate request " + file + ": it is not a regular file.");
  if (input.Info().st_size > kMaxCertificateFileSize)
    throw Exception("The certificate request " + file + " is larger than " +
                    std::to_string(kMaxCertificateFileSize / (std::int64_t{1024} * 1024)) +
                    " MiB: no certificate request is.");
  std::string bytes;
  if (const int error = input.ReadAll(bytes, kMaxCertificateFileSize); error == EFBIG)
    throw Exception("The certificate request " + file + " is larger than " +
                    std::to_string(kMaxCertificateFileSize / (std::int64_t{1024} * 1024)) +
                    " MiB: no certificate request is.");
  else if (error != 0)
    fail(error);
  return ReadCSRBytes(bytes, Path);
}

void UseKeyFile(TCertBuilder& Builder, const std::string& Path, const std::string& Password) {
  const std::string file = NameOfFile(Path);
  const TReadOnlyFile input(Path);
  const auto fail = [&](const std::string& Reason) {
    throw Exception("Cannot read the private key " + file + ": " + Reason);
  };
  if (input.Error() != 0) fail(std::system_category().message(input.Error()) + ".");
  if (!input.IsRegularFile()) fail("it is not a regular file.");
  if (input.Info().st_size > kMaxCertificateFileSize) fail("the file is too large.");
  std::string bytes;
  if (const int error = input.ReadAll(bytes, kMaxCertificateFileSize); error != 0)
    fail(std::system_category().message(error) + ".");
  const TSecretText content(std::move(bytes));
  try {
    Builder.UseExistingKey(content.Text(), Password);
  } catch (const Exception& e) {
    throw Exception(file + ": " + e.what());
  }
}

TCSRIssuePlan PlanCSRIssue(const TCSRContent& Requested, const TCertRequest& Defaults,
                           const TCSREdits& Edits) {
  TCSRIssuePlan plan;
  TCertRequest& cert = plan.Certificate;
  cert = Defaults;
  // Constraints on names are the issuing CA's business, never a requester's.
  cert.PermittedNames.clear();
  cert.ExcludedNames.clear();
  cert.Subject = Edits.Subject.value_or(Requested.Subject);
  cert.SANDNSNames = Edits.SANDNSNames.value_or(Requested.SANDNSNames);
  cert.SANIPs = Edits.SANIPs.value_or(Requested.SANIPs);
  cert.SANEmails = Edits.SANEmails.value_or(Requested.SANEmails);

  cert.IsCA = Edits.GrantCA;
  if (Edits.PathLenConstraint)
    cert.PathLenConstraint = *Edits.PathLenConstraint;
  else if (Requested.IsCA)
    cert.PathLenConstraint = Requested.PathLenConstraint;
  if (Requested.IsCA && !Edits.GrantCA)
    plan.Findings.push_back(
        "The request asks for a CA certificate, and that was not granted: the certificate is "
        "issued as an end-entity certificate (CA:FALSE).");

  cert.KeyUsage = Edits.KeyUsage.value_or(Requested.KeyUsage.value_or(Defaults.KeyUsage));
  cert.ExtKeyUsage =
      Edits.ExtKeyUsage.value_or(Requested.ExtKeyUsage.value_or(Defaults.ExtKeyUsage));

  if (!Edits.Subject)
    for (const std::string& field : Requested.OtherSubjectFields)
      plan.Log.push_back("Dropped the requested subject field " + field + ".");
  const bool namesEdited = Edits.SANDNSNames || Edits.SANIPs || Edits.SANEmails;
  if (!namesEdited)
    for (const std::string& name : Requested.OtherAlternativeNames)
      plan.Log.push_back("Dropped the requested alternative name " + name + ".");
  if (!Edits.ExtKeyUsage)
    for (const std::string& purpose : Requested.OtherExtKeyUsages)
      plan.Log.push_back("Dropped the requested extended key usage " + purpose + ".");
  for (const std::string& extension : Requested.OtherExtensions)
    plan.Log.push_back("Dropped the requested extension " + extension + ".");

  if (AddCommonNameAsAlternativeName(cert))
    plan.Log.push_back("Added the common name " + cert.Subject.CN +
                       " as an alternative name: TLS clients look only there.");

  plan.Comparison.push_back(
      Comparing("Subject", SubjectText(Requested.Subject), SubjectText(cert.Subject)));
  plan.Comparison.push_back(
      Comparing("Alternative names",
                NamesText(Requested.SANDNSNames, Requested.SANIPs, Requested.SANEmails,
                          Requested.OtherAlternativeNames),
                NamesText(cert.SANDNSNames, cert.SANIPs, cert.SANEmails)));
  plan.Comparison.push_back(Comparing(
      "Basic constraints",
      ConstraintsText(Requested.HasBasicConstraints, Requested.IsCA, Requested.PathLenConstraint),
      ConstraintsText(true, cert.IsCA, cert.PathLenConstraint)));
  plan.Comparison.push_back(
      Comparing("Key usage", KeyUsageText(Requested.KeyUsage), KeyUsageText(cert.KeyUsage)));
  plan.Comparison.push_back(Comparing(
      "Extended key usage", ExtKeyUsageText(Requested.ExtKeyUsage, Requested.OtherExtKeyUsages),
      ExtKeyUsageText(cert.ExtKeyUsage)));
  plan.Comparison.push_back(Comparing("Other extensions", Joined(Requested.OtherExtensions), ""));
  return plan;
}

std::string CSRKeyText(const TCSRView& Request) {
  const TPublicKeyFacts facts = Request.KeyFacts();
  switch (facts.Family) {
    case ctRSA: return "RSA " + std::to_string(facts.Bits);
    case ctECC:
      return facts.Bits == 256   ? "EC P-256"
             : facts.Bits == 384 ? "EC P-384"
             : facts.Bits == 521 ? "EC P-521"
                                 : "EC " + std::to_string(facts.Bits) + " bit";
    case ctEdwards: return EdwardsAlgorithmOf(Request.PublicKey());
    case ctUnknown: break;
  }
  return "Unknown key type";
}

std::vector<std::string> CSRDetailLines(const TCSRView& Request) {
  std::vector<std::string> lines;
  lines.push_back("Certificate request");
  lines.push_back("Subject: " + OrNone(Request.SubjectText()));
  lines.push_back("Public key: " + CSRKeyText(Request));
  lines.push_back("Signature: " + Request.SignatureAlgorithm() +
                  (Request.Verifies() ? ", verifies" : ", DOES NOT VERIFY"));
  lines.push_back("Public key SHA-256: " + OrNone(Request.PublicKeySHA256()));
  const std::vector<std::string> extensions = Request.RequestedExtensionTexts();
  if (extensions.empty())
    lines.push_back("Requested extensions: (none)");
  else {
    lines.push_back("Requested extensions:");
    for (const std::string& extension : extensions) lines.push_back("  " + extension);
  }
  return lines;
}

TKeyType KeyTypeOf(TKeyFamily Family) {
  switch (Family) {
    case ctRSA: return ktRSA;
    case ctEdwards: return ktEdwards;
    case ctECC:
    case ctUnknown: break;
  }
  return ktECC;
}

}  // namespace velmora
