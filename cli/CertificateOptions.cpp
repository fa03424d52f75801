#include "cli/CertificateOptions.h"

#include "cli/Command.h"
#include "core/Defaults.h"
#include "core/FailureText.h"
#include "core/Profiles.h"
#include "core/StorePaths.h"
#include "core/ValueConventions.h"
#include "crypto/CRL.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace velmora::cli {

namespace {

TKeyUsageSet KeyUsagesOrUsage(const std::string& List) {
  try {
    return KeyUsagesFromList(List);
  } catch (const Exception& e) {
    throw UsageError(e.what());
  }
}

TExtKeyUsageSet ExtKeyUsagesOrUsage(const std::string& List) {
  try {
    return ExtKeyUsagesFromList(List);
  } catch (const Exception& e) {
    throw UsageError(e.what());
  }
}

}  // namespace

std::string ProfileSlugs() {
  std::string slugs;
  for (TProfile profile : kAllProfiles)
    slugs += (slugs.empty() ? "" : ", ") + std::string(ProfileSlug(profile));
  return slugs;
}

void TCertificateOptions::DefineKey(CLI::App& Command) {
  FKeyOption = Command
                   .add_option("--key", FKey,
                               "rsa:BITS (1024 to 16384), ec:CURVE (P-256, P-384, P-521; also "
                               "prime256v1, secp256r1, secp384r1, secp521r1), ed25519 or ed448")
                   ->default_str("ec:P-256");
}

void TCertificateOptions::DefineSubject(CLI::App& Command) {
  FSubjectOptions = {
      Command.add_option("--cn", Request.Subject.CN, "Common name"),
      Command.add_option("--o", Request.Subject.O, "Organisation"),
      Command.add_option("--ou", Request.Subject.OU, "Organisational unit"),
      Command.add_option("--c", Request.Subject.C, "Country (two letters)"),
      Command.add_option("--st", Request.Subject.ST, "State or province"),
      Command.add_option("--l", Request.Subject.L, "Locality"),
      Command.add_option("--email", Request.Subject.Email, "E-mail address of the subject"),
  };
}

void TCertificateOptions::DefineValidity(CLI::App& Command) {
  FDaysOption = Command.add_option("--days", Request.ValidDays, "Days of validity")
                    ->default_val(kDefaultValidDays);
}

void TCertificateOptions::DefineCRLURL(CLI::App& Command) {
  Command.add_option("--crl-url", FCRLURL,
                     "URL of the issuer's CRL, written into the certificate as its CRL "
                     "distribution point (default: none)");
}

void TCertificateOptions::DefineExtensions(CLI::App& Command, bool NameConstraints) {
  Command.add_option("--profile", FProfile,
                     "Certificate profile: " + ProfileSlugs() +
                         "; sets CA flag, path length and usages for the key type");
  FCAOption = Command.add_flag("--ca", FIsCA, "A CA certificate (overrides the profile)");
  FPathLenOption = Command
                       .add_option("--pathlen", FPathLen,
                                   "CA path length limit, -1 for none (overrides the profile)")
                       ->default_val(0);
  FKeyUsagesOption =
      Command
          .add_option("--ku", FKeyUsages,
                      "Key usages, e.g. digitalSignature,keyEncipherment (overrides the profile)")
          ->default_str("digitalSignature, with keyEncipherment for RSA");
  FExtKeyUsagesOption =
      Command
          .add_option("--eku", FExtKeyUsages,
                      "Extended key usages, e.g. serverAuth,clientAuth (overrides the profile)")
          ->default_str("serverAuth,clientAuth");
  FDNSOption = Command.add_option("--dns", FDNS, "DNS names, comma-separated");
  FIPsOption = Command.add_option("--ip", FIPs, "IP addresses, comma-separated");
  FEmailsOption = Command.add_option("--san-email", FEmails, "E-mail addresses, comma-separated");
  if (!NameConstraints) return;
  FPermitOption = Command.add_option(
      "--permit", FPermit,
      "CA only: the names it may issue for, comma-separated: DNS domains (example.org, "
      ".example.org), IP ranges (10.0.0.0/8, fd00::/8), mail domains (@example.org)");
  FExcludeOption = Command.add_option(
      "--exclude", FExclude, "CA only: the names it may not issue for, in the forms of --permit");
}

bool TCertificateOptions::GivenSubject() const {
  for (const CLI::Option* option : FSubjectOptions)
    if (option->count() > 0) return true;
  return false;
}

void TCertificateOptions::TakeUnsetFrom(const TCertRequest& Template, const std::string& File) {
  if (!GivenSubject()) Request.Subject = Template.Subject;
  if (!GivenDays()) Request.ValidDays = Template.ValidDays;
  if (!GivenDNS() && !GivenIPs() && !GivenEmails()) {
    Request.SANDNSNames = Template.SANDNSNames;
    Request.SANIPs = Template.SANIPs;
    Request.SANEmails = Template.SANEmails;
  }
  // A profile names the kind of certificate: the template's kind then gives way to it.
  if (!GivenProfile()) {
    if (!GivenCA()) Request.IsCA = Template.IsCA;
    if (!GivenPathLen()) Request.PathLenConstraint = Template.PathLenConstraint;
    if (!GivenKeyUsages()) Request.KeyUsage = Template.KeyUsage;
    if (!GivenExtKeyUsages()) Request.ExtKeyUsage = Template.ExtKeyUsage;
  }
  if (!GivenNameConstraints() && Request.IsCA) {
    Request.PermittedNames = Template.PermittedNames;
    Request.ExcludedNames = Template.ExcludedNames;
  }
  std::printf("Certificate options filled from %s\n", Readable(File).c_str());
}

void TCertificateOptions::Prepare(std::optional<TKeyType> KeyType) {
  if (FKeyOption && !KeyType) {
    KeyChoice = ParseKeyChoice(FKey);
    KeyType = KeyChoice.Type;
  }
  try {
    RequireValidValidity(Request.ValidDays);  // before a key is made for nothing
    if (!FCRLURL.empty()) static_cast<void>(NewCRLDistributionPointExtension(FCRLURL));
  } catch (const Exception& e) {
    throw UsageError(e.what());
  }
  Request.CRLURL = FCRLURL;
  if (FCAOption) {
    ApplyUsages(KeyType.value_or(ktECC));
    Request.SANDNSNames = SplitCommaList(FDNS);
    Request.SANIPs = SplitCommaList(FIPs);
    Request.SANEmails = SplitCommaList(FEmails);
    ApplyNameConstraints();
  }
  CheckCountry(Request.Subject.C);
}

// The profile's settings for the chosen key type first; whatever is given explicitly wins.
// Without a profile (or with "custom") the defaults are a TLS server and client certificate
// with the key usages that suit the key: an EC key cannot encipher, so it does not claim to.
void TCertificateOptions::ApplyUsages(TKeyType KeyType) {
  std::optional<TProfile> profile = FProfile.empty() ? TProfile::Custom : ProfileByName(FProfile);
  if (!profile)
    throw UsageError("Unknown profile \"" + FProfile + "\": use one of " + ProfileSlugs() + ".");
  if (*profile == TProfile::Custom) profile = TProfile::TLSServerClient;
  ApplyProfile(*profile, KeyType, Request);
  if (GivenCA()) Request.IsCA = FIsCA;
  if (GivenPathLen()) Request.PathLenConstraint = FPathLen;
  if (GivenKeyUsages()) Request.KeyUsage = KeyUsagesOrUsage(FKeyUsages);
  if (GivenExtKeyUsages()) Request.ExtKeyUsage = ExtKeyUsagesOrUsage(FExtKeyUsages);
}

// Constraints bind only what a CA signs: on any other certificate they would be dropped
// without a word, so they are refused instead.
void TCertificateOptions::ApplyNameConstraints() {
  if (!FPermitOption) return;
  if ((FPermitOption->count() > 0 || FExcludeOption->count() > 0) && !Request.IsCA)
    throw UsageError(
        "--permit and --exclude constrain a CA: give --ca or a CA profile (root-ca, "
        "intermediate-ca).");
  try {
    Request.PermittedNames = NameConstraintsFromList(FPermit);
    Request.ExcludedNames = NameConstraintsFromList(FExclude);
  } catch (const Exception& e) {
    throw UsageError(e.what());
  }
}

void CheckCountry(const std::string& Country) {
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (Country.empty() || (Country.size() == 2 && letter(Country[0]) && letter(Country[1]))) return;
  throw UsageError("The country is two letters, such as DE, FR or US: --c " +
                   Readable(Quoted(Country)) + " is not.");
}

std::string CAFileFromCurrentFolder(const std::string& Path, const char* Option) {
  std::error_code error;
  const std::filesystem::path whole = std::filesystem::absolute(Path, error);
  std::string tried = error ? Path : whole.string();
  struct stat info {};
  if (::stat(tried.c_str(), &info) != 0 && errno == ENOENT)
    throw Exception(CertificateFailedText(
        (Option == std::string("--sign-with") ? "CA certificate file" : "CA key file") +
        std::string(" not found: ") + Readable(Quoted(tried)) + " (" + Option +
        ", taken from the current folder)."));
  return tried;
}

}  // namespace velmora::cli
