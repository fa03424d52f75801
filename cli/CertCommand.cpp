// velmora-cli cert: "Generate Key Pair" followed by "Generate Certificate", from arguments.
#include "cli/Command.h"
#include "cli/Issue.h"
#include "cli/PassArg.h"
#include "core/Defaults.h"
#include "core/FailureText.h"
#include "core/Profiles.h"
#include "core/StorePaths.h"
#include "core/StoreSetting.h"
#include "core/ValueConventions.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace velmora::cli {

namespace {

// "custom, tls-server, ...": the profile names the command line takes.
std::string ProfileSlugs() {
  std::string slugs;
  for (TProfile profile : kAllProfiles)
    slugs += (slugs.empty() ? "" : ", ") + std::string(ProfileSlug(profile));
  return slugs;
}

class TCertCommand : public TCommand {
 public:
  const char* Name() const override { return "cert"; }
  const char* Description() const override {
    return "Generate a key pair and issue a certificate into the store";
  }

  void DefineOptions(CLI::App& Command) override {
    Command
        .add_option("--key", FKey,
                    "rsa:BITS (1024 to 16384), ec:CURVE (P-256, P-384, P-521; also "
                    "prime256v1, secp256r1, secp384r1, secp521r1), ed25519 or ed448")
        ->default_str("ec:P-256");
    Command.add_option("--cn", FRequest.Subject.CN, "Common name");
    Command.add_option("--o", FRequest.Subject.O, "Organisation");
    Command.add_option("--ou", FRequest.Subject.OU, "Organisational unit");
    Command.add_option("--c", FRequest.Subject.C, "Country (two letters)");
    Command.add_option("--st", FRequest.Subject.ST, "State or province");
    Command.add_option("--l", FRequest.Subject.L, "Locality");
    Command.add_option("--email", FRequest.Subject.Email, "E-mail address of the subject");
    Command.add_option("--days", FRequest.ValidDays, "Days of validity")
        ->default_val(kDefaultValidDays);
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
    Command.add_option("--dns", FDNS, "DNS names, comma-separated");
    Command.add_option("--ip", FIPs, "IP addresses, comma-separated");
    Command.add_option("--san-email", FEmails, "E-mail addresses, comma-separated");
    FPermitOption = Command.add_option(
        "--permit", FPermit,
        "CA only: the names it may issue for, comma-separated: DNS domains (example.org, "
        ".example.org), IP ranges (10.0.0.0/8, fd00::/8), mail domains (@example.org)");
    FExcludeOption = Command.add_option(
        "--exclude", FExclude, "CA only: the names it may not issue for, in the forms of --permit");
    Command.add_option("--sign-with", FIssue.CACertFile,
                       "CA certificate (PEM) to sign with; a relative path is taken from the "
                       "current folder, not the store");
    Command.add_option("--sign-key", FIssue.CAKeyFile,
                       "CA private key (PEM); a relative path is taken from the current folder, "
                       "not the store");
    FCAPassOption = Command.add_option("--ca-pass", FCAPass,
                                       "CA key pass phrase: pass:, env:, file:, fd: or stdin");
    Command
        .add_option("--out-cert", FIssue.CertName,
                    "Certificate file name, in the store folder; empty for none")
        ->default_str(kDefaultCertName);
    Command
        .add_option("--out-key", FIssue.KeyName,
                    "Private key file name, in the store folder; empty for none")
        ->default_str(kDefaultKeyName);
    FKeyPassOption = Command.add_option(
        "--key-pass", FKeyPass,
        "Encrypt the key under this pass phrase: pass:, env:, file:, fd: or stdin");
    Command.add_option("--p12", FIssue.BundleName,
                       "Also write a PKCS#12 bundle of this name, in the store folder");
    FBundlePassOption = Command.add_option(
        "--p12-pass", FBundlePass,
        "Bundle pass phrase: pass:, env:, file:, fd: or stdin; pass: for an empty one");
    Command.add_flag("--p12-compatible", FIssue.BundleCompatible,
                     "Bundle for older systems: 3DES and SHA-1 instead of AES and SHA-256");
    Command.add_option("--friendly", FIssue.FriendlyName, "Bundle friendly name");
    Command.add_option("--store", FIssue.StoreDir, "Store folder (default: the window's)");
    Command.add_flag("--force", FForce, "Replace existing private keys and bundles");
    Command.add_flag("--strict", FStrict,
                     "Refuse to issue when the checks before issuing find problems");
  }

  // Everything the arguments say is read before anything is made.
  void Prepare() override {
    FKeyChoice = ParseKeyChoice(FKey);
    try {
      RequireValidValidity(FRequest.ValidDays);  // before a key is made for nothing
    } catch (const Exception& e) {
      throw UsageError(e.what());
    }
    ApplyUsages();
    FRequest.SANDNSNames = SplitCommaList(FDNS);
    FRequest.SANIPs = SplitCommaList(FIPs);
    FRequest.SANEmails = SplitCommaList(FEmails);
    ApplyNameConstraints();
    FIssue.CASigned = !FIssue.CACertFile.empty() || !FIssue.CAKeyFile.empty();
    if (FIssue.CASigned && (FIssue.CACertFile.empty() || FIssue.CAKeyFile.empty()))
      throw UsageError("--sign-with and --sign-key go together.");
    CheckCountry(FRequest.Subject.C);
    if (FIssue.CertName.empty() && FIssue.KeyName.empty() && FIssue.BundleName.empty())
      throw UsageError(
          "There is nothing to write: --out-cert and --out-key are empty and --p12 is not "
          "given.");
    // A key encrypted in its own file would lie in the bundle under an empty password.
    if (FKeyPassOption->count() > 0 && !FIssue.BundleName.empty() &&
        FBundlePassOption->count() == 0)
      throw UsageError(
          "--key-pass encrypts the key, but the bundle from --p12 would hold it without one: "
          "give --p12-pass; pass: for an empty one.");
    FCAPassword = PassPhrase(*FCAPassOption, FCAPass);
    FKeyPassword = PassPhrase(*FKeyPassOption, FKeyPass);
    FBundlePassword = PassPhrase(*FBundlePassOption, FBundlePass);
  }

  int Execute() override {
    if (FIssue.StoreDir.empty()) FIssue.StoreDir = EffectiveStoreDir();
    if (FIssue.CASigned) {
      FIssue.CACertFile = CAFileFromCurrentFolder(FIssue.CACertFile, "--sign-with");
      FIssue.CAKeyFile = CAFileFromCurrentFolder(FIssue.CAKeyFile, "--sign-key");
    }
    // Everything the builder would refuse is found before a key is made: an RSA key of
    // thousands of bits may take minutes.
    CheckRequestBuilds(FRequest);
    try {
      RequireDistinctOutputs(FIssue);  // before a key is made for nothing
    } catch (const Exception& e) {
      throw Exception(CertificateFailedText(e.what()), e.Cause());
    }
    TCertBuilder builder;
    GenerateKey(builder, FKeyChoice);
    Issue(builder, FRequest, FIssue,
          {FCAPassword->Text(), FKeyPassword->Text(), FBundlePassword->Text()}, FForce, FStrict);
    return 0;
  }

 private:
  // The profile's settings for the chosen key type first; whatever is given explicitly wins.
  // Without a profile (or with "custom") the defaults are a TLS server and client certificate
  // with the key usages that suit the key: an EC key cannot encipher, so it does not claim to.
  void ApplyUsages() {
    std::optional<TProfile> profile = FProfile.empty() ? TProfile::Custom : ProfileByName(FProfile);
    if (!profile)
      throw UsageError("Unknown profile \"" + FProfile + "\": use one of " + ProfileSlugs() + ".");
    if (*profile == TProfile::Custom) profile = TProfile::TLSServerClient;
    ApplyProfile(*profile, FKeyChoice.Type, FRequest);
    if (FCAOption->count() > 0) FRequest.IsCA = FIsCA;
    if (FPathLenOption->count() > 0) FRequest.PathLenConstraint = FPathLen;
    if (FKeyUsagesOption->count() > 0) FRequest.KeyUsage = KeyUsagesOrUsage(FKeyUsages);
    if (FExtKeyUsagesOption->count() > 0) FRequest.ExtKeyUsage = ExtKeyUsagesOrUsage(FExtKeyUsages);
  }

  // Constraints bind only what a CA signs: on any other certificate they would be dropped
  // without a word, so they are refused instead.
  void ApplyNameConstraints() {
    if ((FPermitOption->count() > 0 || FExcludeOption->count() > 0) && !FRequest.IsCA)
      throw UsageError(
          "--permit and --exclude constrain a CA: give --ca or a CA profile (root-ca, "
          "intermediate-ca).");
    try {
      FRequest.PermittedNames = NameConstraintsFromList(FPermit);
      FRequest.ExcludedNames = NameConstraintsFromList(FExclude);
    } catch (const Exception& e) {
      throw UsageError(e.what());
    }
  }

  static std::unique_ptr<TSecretText> PassPhrase(const CLI::Option& Option,
                                                 const std::string& Arg) {
    if (Option.count() == 0) return std::make_unique<TSecretText>();
    return ReadPassArg(Arg, Option.get_name());
  }

  // Checked here, before any key is made, in the command line's words: libcrypto's own
  // ("string too long") names neither the option nor what it wants.
  static void CheckCountry(const std::string& Country) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (Country.empty() || (Country.size() == 2 && letter(Country[0]) && letter(Country[1])))
      return;
    throw UsageError("The country is two letters, such as DE, FR or US: --c " +
                     Readable(Quoted(Country)) + " is not.");
  }

  // The CA's files are the user's, not the store's: a relative path is taken from the current
  // folder, as any program's arguments are. The path is made whole here so that a message
  // names the file that was looked for.
  static std::string CAFileFromCurrentFolder(const std::string& Path, const char* Option) {
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

  static TKeyUsageSet KeyUsagesOrUsage(const std::string& List) {
    try {
      return KeyUsagesFromList(List);
    } catch (const Exception& e) {
      throw UsageError(e.what());
    }
  }
  static TExtKeyUsageSet ExtKeyUsagesOrUsage(const std::string& List) {
    try {
      return ExtKeyUsagesFromList(List);
    } catch (const Exception& e) {
      throw UsageError(e.what());
    }
  }
  static TIssueRequest DefaultIssue() {
    TIssueRequest issue;
    issue.CertName = kDefaultCertName;
    issue.KeyName = kDefaultKeyName;
    return issue;
  }

  std::string FKey = std::string("ec:") + kDefaultECCurve;
  TCertRequest FRequest;
  std::string FProfile;
  bool FIsCA = false;
  std::int32_t FPathLen = 0;
  std::string FKeyUsages;
  std::string FExtKeyUsages = "serverAuth,clientAuth";
  CLI::Option* FCAOption = nullptr;
  CLI::Option* FPathLenOption = nullptr;
  CLI::Option* FKeyUsagesOption = nullptr;
  CLI::Option* FExtKeyUsagesOption = nullptr;
  CLI::Option* FCAPassOption = nullptr;
  CLI::Option* FKeyPassOption = nullptr;
  CLI::Option* FBundlePassOption = nullptr;
  std::string FDNS, FIPs, FEmails;
  std::string FPermit, FExclude;
  CLI::Option* FPermitOption = nullptr;
  CLI::Option* FExcludeOption = nullptr;
  TIssueRequest FIssue = DefaultIssue();
  std::string FCAPass, FKeyPass, FBundlePass;
  bool FForce = false;
  bool FStrict = false;
  TKeyChoice FKeyChoice;
  std::unique_ptr<TSecretText> FCAPassword, FKeyPassword, FBundlePassword;
};

}  // namespace

std::unique_ptr<TCommand> MakeCertCommand() { return std::make_unique<TCertCommand>(); }

}  // namespace velmora::cli
