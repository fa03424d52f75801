// velmora-cli cert: "Generate Key Pair" followed by "Generate Certificate", from arguments.
#include "cli/Command.h"
#include "cli/Issue.h"
#include "cli/PassArg.h"
#include "core/Profiles.h"
#include "core/StoreSetting.h"

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
    Command.add_option("--key", FKey, "rsa:BITS or ec:CURVE (P-256, P-384, P-521)")
        ->default_str("ec:P-256");
    Command.add_option("--cn", FRequest.Subject.CN, "Common name");
    Command.add_option("--o", FRequest.Subject.O, "Organisation");
    Command.add_option("--ou", FRequest.Subject.OU, "Organisational unit");
    Command.add_option("--c", FRequest.Subject.C, "Country (two letters)");
    Command.add_option("--st", FRequest.Subject.ST, "State or province");
    Command.add_option("--l", FRequest.Subject.L, "Locality");
    Command.add_option("--email", FRequest.Subject.Email, "E-mail address of the subject");
    Command.add_option("--days", FRequest.ValidDays, "Days of validity")->default_val(365);
    Command.add_option("--profile", FProfile,
                       "Certificate profile: " + ProfileSlugs() +
                           "; sets CA flag, path length and usages for the key type");
    FCAOption = Command.add_flag("--ca", FIsCA, "A CA certificate (overrides the profile)");
    FPathLenOption = Command.add_option("--pathlen", FPathLen,
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
    Command.add_option("--sign-with", FIssue.CACertFile, "CA certificate (PEM) to sign with");
    Command.add_option("--sign-key", FIssue.CAKeyFile, "CA private key (PEM)");
    Command.add_option("--ca-pass", FCAPass, "CA key pass phrase: pass:, env:, file:, fd:, stdin");
    Command.add_option("--out-cert", FIssue.CertName, "Certificate file name in the store")
        ->default_str("certificate.crt");
    Command.add_option("--out-key", FIssue.KeyName, "Private key file name in the store")
        ->default_str("private.key");
    Command.add_option("--key-pass", FKeyPass, "Encrypt the key under this pass phrase");
    Command.add_option("--p12", FIssue.BundleName, "Also write a PKCS#12 bundle of this name");
    Command.add_option("--p12-pass", FBundlePass, "Bundle pass phrase");
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
    FIssue.CASigned = !FIssue.CACertFile.empty() || !FIssue.CAKeyFile.empty();
    if (FIssue.CASigned && (FIssue.CACertFile.empty() || FIssue.CAKeyFile.empty()))
      throw UsageError("--sign-with and --sign-key go together.");
    FCAPassword = ReadPassArg(FCAPass);
    FKeyPassword = ReadPassArg(FKeyPass);
    FBundlePassword = ReadPassArg(FBundlePass);
  }

  int Execute() override {
    if (FIssue.StoreDir.empty()) FIssue.StoreDir = EffectiveStoreDir();
    try {
      RequireDistinctOutputs(FIssue);  // before a key is made for nothing
    } catch (const Exception& e) {
      throw Exception(std::string("Certificate generation failed:\n") + e.what());
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
    std::optional<TProfile> profile =
        FProfile.empty() ? TProfile::Custom : ProfileByName(FProfile);
    if (!profile)
      throw UsageError("Unknown profile \"" + FProfile + "\": use one of " + ProfileSlugs() + ".");
    if (*profile == TProfile::Custom) profile = TProfile::TLSServerClient;
    ApplyProfile(*profile, FKeyChoice.Type, FRequest);
    if (FCAOption->count() > 0) FRequest.IsCA = FIsCA;
    if (FPathLenOption->count() > 0) FRequest.PathLenConstraint = FPathLen;
    if (FKeyUsagesOption->count() > 0) FRequest.KeyUsage = KeyUsagesOrUsage(FKeyUsages);
    if (FExtKeyUsagesOption->count() > 0)
      FRequest.ExtKeyUsage = ExtKeyUsagesOrUsage(FExtKeyUsages);
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
    issue.CertName = "certificate.crt";
    issue.KeyName = "private.key";
    return issue;
  }

  std::string FKey = "ec:P-256";
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
  std::string FDNS, FIPs, FEmails;
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
