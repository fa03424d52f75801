// velmora-cli renew: a certificate of the store issued again for the same length from now,
// with its own key or a new one, signed as before; the old files are kept beside the new.
#include "cli/CertificateOptions.h"
#include "cli/Command.h"
#include "cli/PassArg.h"
#include "core/Renewal.h"
#include "core/StorePaths.h"
#include "core/StoreSetting.h"
#include "crypto/SecretText.h"

#include <cstdio>
#include <filesystem>

namespace velmora::cli {

namespace {

std::string RenewalFailedText(const std::string& Reason) { return "Renewal failed:\n" + Reason; }

class TRenewCommand : public TCommand {
 public:
  const char* Name() const override { return "renew"; }
  const char* Description() const override {
    return "Renew a certificate of the store: same subject, names and extensions, new validity";
  }

  void DefineOptions(CLI::App& Command) override {
    Command
        .add_option("certificate", FCertFile,
                    "The certificate in the store; a relative path is taken from the current "
                    "folder, else from the store")
        ->required();
    FDaysOption = Command.add_option("--days", FDays,
                                     "Days of validity (default: the old certificate's length)");
    Command.add_flag("--rekey", FOptions.NewKey,
                     "Make a new key of the same type and size instead of keeping the key");
    FKeyPassOption = Command.add_option("--key-pass", FKeyPass,
                                        "Pass phrase of the store's key, or with --rekey the one "
                                        "to encrypt the new key under: pass:, env:, file:, fd: "
                                        "or stdin");
    FCAPassOption = Command.add_option("--ca-pass", FCAPass,
                                       "CA key pass phrase: pass:, env:, file:, fd: or stdin");
    Command.add_option("--sign-with", FOptions.CACertFile,
                       "CA certificate to sign with when the issuer is not in the store; a "
                       "relative path is taken from the current folder");
    Command.add_option("--sign-key", FOptions.CAKeyFile,
                       "Private key of --sign-with; a relative path is taken from the current "
                       "folder");
    Command.add_option("--chain-out", FOptions.ChainName,
                       "Also write the full chain (the certificate, then its issuers in the "
                       "store up to the root) to this file name, in the store folder");
    Command.add_option("--store", FStoreDir, "Store folder (default: the window's)");
    Command.add_flag("--force", FForce, "Replace the private key with --rekey");
  }

  void Prepare() override {
    if (FOptions.CACertFile.empty() != FOptions.CAKeyFile.empty())
      throw UsageError("--sign-with and --sign-key go together.");
    if (FDaysOption->count() > 0) {
      try {
        RequireValidValidity(FDays);
      } catch (const Exception& e) {
        throw UsageError(e.what());
      }
      FOptions.Days = FDays;
    }
    FKeyPassword = PassPhrase(*FKeyPassOption, FKeyPass);
    FCAPassword = PassPhrase(*FCAPassOption, FCAPass);
  }

  int Execute() override {
    if (FStoreDir.empty()) FStoreDir = EffectiveStoreDir();
    if (!FOptions.CACertFile.empty()) {
      FOptions.CACertFile = CAFileFromCurrentFolder(FOptions.CACertFile, "--sign-with");
      FOptions.CAKeyFile = CAFileFromCurrentFolder(FOptions.CAKeyFile, "--sign-key");
    }
    FOptions.ReplaceExisting = FForce;
    std::vector<std::string> refused;
    try {
      const TRenewalPlan plan = PlanRenewal(CertificatePath(), FStoreDir);
      if (Renew(plan, refused) == TIssueOutcome::Written) return 0;
    } catch (const Exception& e) {
      throw Exception(RenewalFailedText(e.what()), e.Cause());
    }
    std::string names;
    for (const std::string& name : refused) names += (names.empty() ? "" : ", ") + Readable(name);
    throw Exception(RenewalFailedText("These files already exist in the store: " + names +
                                      ". Use --force to replace them."));
  }

 private:
  static std::unique_ptr<TSecretText> PassPhrase(const CLI::Option& Option,
                                                 const std::string& Arg) {
    if (Option.count() == 0) return std::make_unique<TSecretText>();
    return ReadPassArg(Arg, Option.get_name());
  }

  // From the current folder when it is there, otherwise the store's file of that name.
  std::string CertificatePath() const {
    std::error_code ec;
    const std::filesystem::path here = std::filesystem::absolute(FCertFile, ec);
    if (!ec && std::filesystem::exists(here, ec)) return here.string();
    return JoinStorePath(FStoreDir, FCertFile);
  }

  // The certificate is replaced as cert replaces one (its old version is kept anyway); a key
  // only with --force.
  TIssueOutcome Renew(const TRenewalPlan& Plan, std::vector<std::string>& Refused) {
    const TIssueEvents events{[](const std::string& Line) { std::printf("%s\n", Line.c_str()); },
                              [&](const std::vector<std::string>& Names, const std::string&) {
                                const bool replacesKey = FOptions.NewKey && Names.size() > 1;
                                if (replacesKey && !FForce)
                                  Refused = {Names.begin() + 1, Names.end()};
                                return !replacesKey || FForce;
                              },
                              [](const std::vector<std::string>& Findings) {
                                std::fflush(stdout);
                                for (const std::string& finding : Findings)
                                  std::fprintf(stderr, "Warning: %s\n", finding.c_str());
                                return true;
                              }};
    return RenewCertificate(Plan, FOptions,
                            {FCAPassword->Text(), FKeyPassword->Text(), std::string()}, events);
  }

  std::string FCertFile, FStoreDir, FKeyPass, FCAPass;
  std::int32_t FDays = 0;
  CLI::Option* FDaysOption = nullptr;
  CLI::Option* FKeyPassOption = nullptr;
  CLI::Option* FCAPassOption = nullptr;
  TRenewOptions FOptions;
  bool FForce = false;
  std::unique_ptr<TSecretText> FKeyPassword, FCAPassword;
};

}  // namespace

std::unique_ptr<TCommand> MakeRenewCommand() { return std::make_unique<TRenewCommand>(); }

}  // namespace velmora::cli
