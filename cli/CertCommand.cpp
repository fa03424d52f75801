#include "cli/CertCommand.h"

#include "cli/Command.h"
#include "cli/PassArg.h"
#include "core/CertificateTemplate.h"
#include "core/Defaults.h"
#include "core/FailureText.h"
#include "core/Profiles.h"
#include "core/StoreChain.h"
#include "core/StorePaths.h"
#include "core/StoreSetting.h"
#include "crypto/CertificateView.h"

namespace velmora::cli {

namespace {

std::unique_ptr<TSecretText> PassPhrase(const CLI::Option& Option, const std::string& Arg) {
  if (Option.count() == 0) return std::make_unique<TSecretText>();
  return ReadPassArg(Arg, Option.get_name());
}

}  // namespace

void TCertJob::DefineOptions(CLI::App& Command) {
  FOptions.DefineKey(Command);
  FOptions.DefineSubject(Command);
  FOptions.DefineValidity(Command);
  FOptions.DefineExtensions(Command, true);
  FOptions.DefineCRLURL(Command);
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
  Command.add_option("--from", FFrom,
                     "Take subject, names, CA flag, usages and validity length from this "
                     "certificate; options given explicitly win");
  Command.add_option("--chain-out", FChainName,
                     "Also write the full chain (the certificate, then its issuers in the "
                     "store up to the root) to this file name, in the store folder");
}

void TCertJob::Prepare() {
  FOptions.Prepare();
  if (!FFrom.empty()) TakeTemplate();
  if (!FChainName.empty() && FIssue.CertName.empty())
    throw UsageError("--chain-out needs the certificate: --out-cert is empty.");
  FIssue.CASigned = !FIssue.CACertFile.empty() || !FIssue.CAKeyFile.empty();
  if (FIssue.CASigned && (FIssue.CACertFile.empty() || FIssue.CAKeyFile.empty()))
    throw UsageError("--sign-with and --sign-key go together.");
  if (FIssue.CertName.empty() && FIssue.KeyName.empty() && FIssue.BundleName.empty())
    throw UsageError(
        "There is nothing to write: --out-cert and --out-key are empty and --p12 is not "
        "given.");
  // A key encrypted in its own file would lie in the bundle under an empty password.
  if (FKeyPassOption->count() > 0 && !FIssue.BundleName.empty() && FBundlePassOption->count() == 0)
    throw UsageError(
        "--key-pass encrypts the key, but the bundle from --p12 would hold it without one: "
        "give --p12-pass; pass: for an empty one.");
  FCAPassword = PassPhrase(*FCAPassOption, FCAPass);
  FKeyPassword = PassPhrase(*FKeyPassOption, FKeyPass);
  FBundlePassword = PassPhrase(*FBundlePassOption, FBundlePass);
}

void TCertJob::Check(bool TrialBuild) {
  if (FIssue.StoreDir.empty()) FIssue.StoreDir = EffectiveStoreDir();
  if (FIssue.CASigned) {
    FIssue.CACertFile = CAFileFromCurrentFolder(FIssue.CACertFile, "--sign-with");
    FIssue.CAKeyFile = CAFileFromCurrentFolder(FIssue.CAKeyFile, "--sign-key");
  }
  // Everything the builder would refuse is found before a key is made: an RSA key of
  // thousands of bits may take minutes.
  if (TrialBuild) CheckRequestBuilds(FOptions.Request);
  try {
    RequireDistinctOutputs(FIssue);  // before a key is made for nothing
  } catch (const Exception& e) {
    throw Exception(CertificateFailedText(e.what()), e.Cause());
  }
}

std::string TCertJob::Run(const TIssueSink& Sink) {
  for (const std::string& line : FTemplateLog) Sink.Log(line);
  TCertBuilder builder;
  GenerateKey(builder, FOptions.KeyChoice);
  Issue(builder, FOptions.Request, FIssue,
        {FCAPassword->Text(), FKeyPassword->Text(), FBundlePassword->Text()}, FForce, FStrict,
        Sink);
  if (!FChainName.empty())
    Sink.Log(WriteStoreChain(JoinStorePath(FIssue.StoreDir, FIssue.CertName), FIssue.StoreDir,
                             FChainName));
  return TCertificateView(builder.IssuedCert()).SerialHex();
}

// The key is the options' own: a template says what to certify, not with which key. What it
// says goes to the log of the issuance.
void TCertJob::TakeTemplate() {
  const TCertificateTemplate from = TemplateOfCertificateFile(FFrom);
  FOptions.TakeUnsetFrom(from.Request, FFrom);
  FTemplateLog = {std::string("Profile: ") + ProfileCaption(from.Profile)};
  FTemplateLog.insert(FTemplateLog.end(), from.Log.begin(), from.Log.end());
}

void TCertJob::UseCAPassword(const std::string& Text) {
  if (!GivenCAPass()) FCAPassword = std::make_unique<TSecretText>(Text.data(), Text.size());
}

std::vector<std::string> TCertJob::OutputPaths() const {
  std::vector<std::string> paths;
  for (const std::string* name :
       {&FIssue.CertName, &FIssue.KeyName, &FIssue.BundleName, &FChainName})
    if (!name->empty()) paths.push_back(JoinStorePath(FIssue.StoreDir, *name));
  return paths;
}

TIssueRequest TCertJob::DefaultIssue() {
  TIssueRequest issue;
  issue.CertName = kDefaultCertName;
  issue.KeyName = kDefaultKeyName;
  return issue;
}

namespace {

class TCertCommand : public TCommand {
 public:
  const char* Name() const override { return "cert"; }
  const char* Description() const override {
    return "Generate a key pair and issue a certificate into the store";
  }
  void DefineOptions(CLI::App& Command) override { FJob.DefineOptions(Command); }
  void Prepare() override { FJob.Prepare(); }
  int Execute() override {
    FJob.Check();
    FJob.Run(StandardIssueSink());
    return 0;
  }

 private:
  TCertJob FJob;
};

}  // namespace

std::unique_ptr<TCommand> MakeCertCommand() { return std::make_unique<TCertCommand>(); }

}  // namespace velmora::cli
