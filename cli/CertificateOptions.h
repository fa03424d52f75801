// The option groups that cert, csr and sign share: the key to make, the subject, the validity
// and the extensions (profile, CA flag, usages, alternative names, name constraints). Each
// command defines the groups it takes; one definition keeps their names, help and checks alike.
#pragma once

#include "cli/Issue.h"
#include "core/CertRequest.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

namespace velmora::cli {

// "custom, tls-server, ...": the profile names the command line takes.
std::string ProfileSlugs();

class TCertificateOptions {
 public:
  // --key
  void DefineKey(CLI::App& Command);
  // --cn --o --ou --c --st --l --email
  void DefineSubject(CLI::App& Command);
  // --days
  void DefineValidity(CLI::App& Command);
  // --profile --ca --pathlen --ku --eku --dns --ip --san-email; with NameConstraints also
  // --permit --exclude.
  void DefineExtensions(CLI::App& Command, bool NameConstraints);
  // --crl-url, for the commands that issue a certificate
  void DefineCRLURL(CLI::App& Command);

  // After parsing: reads the key choice (when defined), applies the profile for KeyType (the
  // chosen key's type when --key is defined) and every explicit option over it, the lists and
  // the name constraints; raises UsageError for what makes no sense.
  // KeyType, when given, is the type of a key that is not made here (an existing key's, a
  // request's).
  void Prepare(std::optional<TKeyType> KeyType = std::nullopt);

  // What the options say, after Prepare.
  TCertRequest Request;
  TKeyChoice KeyChoice;

  // Whether an option of the extension group was given (for the command that takes the
  // rest from elsewhere).
  bool GivenCA() const { return FCAOption && FCAOption->count() > 0; }
  bool GivenPathLen() const { return FPathLenOption && FPathLenOption->count() > 0; }
  bool GivenKeyUsages() const { return FKeyUsagesOption && FKeyUsagesOption->count() > 0; }
  bool GivenExtKeyUsages() const { return FExtKeyUsagesOption && FExtKeyUsagesOption->count() > 0; }
  bool GivenDNS() const { return FDNSOption && FDNSOption->count() > 0; }
  bool GivenIPs() const { return FIPsOption && FIPsOption->count() > 0; }
  bool GivenEmails() const { return FEmailsOption && FEmailsOption->count() > 0; }
  bool GivenSubject() const;
  bool GivenProfile() const { return !FProfile.empty(); }
  bool GivenDays() const { return FDaysOption && FDaysOption->count() > 0; }
  bool GivenNameConstraints() const {
    return FPermitOption && (FPermitOption->count() > 0 || FExcludeOption->count() > 0);
  }

  // --from: whatever the options do not give explicitly is taken from Template's request
  // (after Prepare); prints which file filled them.
  void TakeUnsetFrom(const TCertRequest& Template, const std::string& File);
  bool KeyGiven() const { return FKeyOption && FKeyOption->count() > 0; }

 private:
  void ApplyUsages(TKeyType KeyType);
  void ApplyNameConstraints();

  std::string FKey = std::string("ec:") + kDefaultECCurve;
  CLI::Option* FKeyOption = nullptr;
  std::string FProfile;
  CLI::Option* FDaysOption = nullptr;
  bool FIsCA = false;
  std::int32_t FPathLen = 0;
  std::string FKeyUsages;
  std::string FExtKeyUsages = "serverAuth,clientAuth";
  CLI::Option* FCAOption = nullptr;
  CLI::Option* FPathLenOption = nullptr;
  CLI::Option* FKeyUsagesOption = nullptr;
  CLI::Option* FExtKeyUsagesOption = nullptr;
  std::string FDNS, FIPs, FEmails;
  CLI::Option* FDNSOption = nullptr;
  CLI::Option* FIPsOption = nullptr;
  CLI::Option* FEmailsOption = nullptr;
  std::vector<CLI::Option*> FSubjectOptions;
  std::string FPermit, FExclude;
  CLI::Option* FPermitOption = nullptr;
  CLI::Option* FExcludeOption = nullptr;
  std::string FCRLURL;
};

// Checked before any key is made, in the command line's words: libcrypto's own ("string too
// long") names neither the option nor what it wants.
void CheckCountry(const std::string& Country);

// The CA's files are the user's, not the store's: a relative path is taken from the current
// folder, as any program's arguments are. The path is made whole here so that a message
// names the file that was looked for. Raises Exception when there is no such file.
std::string CAFileFromCurrentFolder(const std::string& Path, const char* Option);

}  // namespace velmora::cli
