// velmora-cli csr: a certificate request for another CA, for a new key or an existing one.
// velmora-cli sign: a certificate for somebody else's request, signed by a CA of the user's.
#include "cli/CertificateOptions.h"
#include "cli/Command.h"
#include "cli/Issue.h"
#include "cli/PassArg.h"
#include "core/CSR.h"
#include "core/Defaults.h"
#include "core/StoreChain.h"
#include "core/StorePaths.h"
#include "core/StoreSetting.h"
#include "crypto/SecretText.h"

#include <cstdio>
#include <filesystem>

namespace velmora::cli {

namespace {

inline constexpr const char* kDefaultRequestName = "certificate.csr";

std::unique_ptr<TSecretText> PassPhrase(const CLI::Option& Option, const std::string& Arg) {
  if (Option.count() == 0) return std::make_unique<TSecretText>();
  return ReadPassArg(Arg, Option.get_name());
}

std::string FromCurrentFolder(const std::string& Path) {
  std::error_code error;
  const std::filesystem::path whole = std::filesystem::absolute(Path, error);
  return error ? Path : whole.string();
}

void PrintLine(const std::string& Line) { std::printf("%s\n", Line.c_str()); }

class TCSRCommand : public TCommand {
 public:
  const char* Name() const override { return "csr"; }
  const char* Description() const override {
    return "Make a certificate request (CSR) for another CA, with a new key or an existing one";
  }

  void DefineOptions(CLI::App& Command) override {
    FOptions.DefineKey(Command);
    FOptions.DefineSubject(Command);
    FOptions.DefineExtensions(Command, false);
    FKeyFileOption = Command.add_option(
        "--key-file", FKeyFile,
        "Make the request for this existing private key (PEM or DER, PKCS#8 or traditional) "
        "instead of a new one; a relative path is taken from the current folder");
    FKeyPassOption = Command.add_option(
        "--key-pass", FKeyPass,
        "Pass phrase of --key-file, or for a new key the one to encrypt it under: pass:, env:, "
        "file:, fd: or stdin");
    Command
        .add_option("--out-csr", FIssue.RequestName,
                    "Certificate request file name, in the store folder")
        ->default_str(kDefaultRequestName);
    Command
        .add_option("--out-key", FIssue.KeyName,
                    "Private key file name of a new key, in the store folder")
        ->default_str(kDefaultKeyName);
    Command.add_option("--store", FIssue.StoreDir, "Store folder (default: the window's)");
    Command.add_flag("--force", FForce, "Replace an existing private key");
  }

  void Prepare() override {
    const bool existingKey = FKeyFileOption->count() > 0;
    if (existingKey && FOptions.KeyGiven())
      throw UsageError("--key makes a new key and --key-file names an existing one: give one.");
    if (FIssue.RequestName.empty()) throw UsageError("--out-csr names no file.");
    FKeyPassword = PassPhrase(*FKeyPassOption, FKeyPass);
    if (existingKey) {
      // Read now, so that its type decides the usages the profile gives.
      FIssue.KeyName.clear();
      UseKeyFile(FBuilder, FromCurrentFolder(FKeyFile), FKeyPassword->Text());
      FOptions.Prepare(KeyTypeOf(PublicKeyFactsOf(FBuilder.Key()).Family));
    } else {
      FOptions.Prepare();
    }
  }

  int Execute() override {
    if (FIssue.StoreDir.empty()) FIssue.StoreDir = EffectiveStoreDir();
    CheckRequestBuilds(FOptions.Request);  // before a key is made for nothing
    if (!FBuilder.Key()) GenerateKey(FBuilder, FOptions.KeyChoice);
    ApplyRequestToBuilder(FOptions.Request, FBuilder);
    CreateStoreDirectory(FIssue.StoreDir);
    FIssue.ReplaceExisting = FForce;
    std::vector<std::string> refused;
    const TIssueEvents events{PrintLine,
                              [&](const std::vector<std::string>& Names, const std::string&) {
                                if (!FForce) refused = Names;
                                return FForce;
                              },
                              {}};
    // A new key is encrypted under --key-pass; an existing one is not written again.
    const TSecretText none;
    if (MakeCertificateRequest(FBuilder, FIssue, {none.Text(), FKeyPassword->Text(), none.Text()},
                               events) == TIssueOutcome::Written)
      return 0;
    std::string names;
    for (const std::string& name : refused) names += (names.empty() ? "" : ", ") + Readable(name);
    throw Exception("These files already exist in the store: " + names +
                    ". Use --force to replace them.");
  }

 private:
  TCertificateOptions FOptions;
  TCertBuilder FBuilder;
  std::string FKeyFile, FKeyPass;
  CLI::Option* FKeyFileOption = nullptr;
  CLI::Option* FKeyPassOption = nullptr;
  TIssueRequest FIssue = [] {
    TIssueRequest issue;
    issue.RequestName = kDefaultRequestName;
    issue.KeyName = kDefaultKeyName;
    return issue;
  }();
  bool FForce = false;
  std::unique_ptr<TSecretText> FKeyPassword;
};

class TSignCommand : public TCommand {
 public:
  const char* Name() const override { return "sign"; }
  const char* Description() const override {
    return "Issue a certificate for a certificate request (CSR), signed by a CA";
  }

  void DefineOptions(CLI::App& Command) override {
    Command
        .add_option("request", FRequestFile,
                    "The certificate request (PEM or DER); a relative path is taken from the "
                    "current folder")
        ->required();
    Command
        .add_option("--sign-with", FIssue.CACertFile,
                    "CA certificate (PEM) to sign with; a relative path is taken from the "
                    "current folder, not the store")
        ->required();
    Command
        .add_option("--sign-key", FIssue.CAKeyFile,
                    "CA private key (PEM); a relative path is taken from the current folder, "
                    "not the store")
        ->required();
    FCAPassOption = Command.add_option("--ca-pass", FCAPass,
                                       "CA key pass phrase: pass:, env:, file:, fd: or stdin");
    FOptions.DefineValidity(Command);
    FOptions.DefineExtensions(Command, false);
    FOptions.DefineCRLURL(Command);
    Command.add_option("--out-cert", FIssue.CertName,
                       "Certificate file name, in the store folder (default: the request's "
                       "name with .crt)");
    Command.add_option("--store", FIssue.StoreDir, "Store folder (default: the window's)");
    Command.add_flag("--force", FForce, "Replace an existing file");
    Command.add_flag("--strict", FStrict,
                     "Refuse to issue when the checks before issuing find problems");
    Command.add_option("--chain-out", FChainName,
                       "Also write the full chain (the certificate, then its issuers in the "
                       "store up to the root) to this file name, in the store folder");
  }

  void Prepare() override { FCAPassword = PassPhrase(*FCAPassOption, FCAPass); }

  int Execute() override {
    // The request first: one that does not read or verify stops everything else.
    const TCSRView request = ReadCSRFile(FromCurrentFolder(FRequestFile));
    const TCSRContent requested = request.Content();
    FOptions.Prepare(KeyTypeOf(request.KeyFacts().Family));
    if (FIssue.StoreDir.empty()) FIssue.StoreDir = EffectiveStoreDir();
    FIssue.CASigned = true;
    FIssue.CACertFile = CAFileFromCurrentFolder(FIssue.CACertFile, "--sign-with");
    FIssue.CAKeyFile = CAFileFromCurrentFolder(FIssue.CAKeyFile, "--sign-key");
    if (FIssue.CertName.empty())
      FIssue.CertName = std::filesystem::path(FRequestFile).filename().replace_extension(".crt");
    FIssue.KeyName.clear();

    const TCSRIssuePlan plan = PlanCSRIssue(requested, FOptions.Request, Edits());
    PrintLine("Requested vs. issued:");
    for (const std::string& line : plan.Comparison) PrintLine("  " + line);
    for (const std::string& line : plan.Log) PrintLine(line);
    FIssue.PriorFindings = plan.Findings;

    TCertBuilder builder;
    builder.UseRequestPublicKey(request.PublicKey());
    const TSecretText none;
    TCertRequest certificate = plan.Certificate;
    certificate.CRLURL = FOptions.Request.CRLURL;
    Issue(builder, certificate, FIssue, {FCAPassword->Text(), none.Text(), none.Text()}, FForce,
          FStrict);
    if (!FChainName.empty())
      PrintLine(WriteStoreChain(JoinStorePath(FIssue.StoreDir, FIssue.CertName), FIssue.StoreDir,
                                FChainName));
    return 0;
  }

 private:
  // What the options change against the request; a CA profile or --ca grants a CA.
  TCSREdits Edits() const {
    const TCertRequest& given = FOptions.Request;
    TCSREdits edits;
    if (FOptions.GivenDNS()) edits.SANDNSNames = given.SANDNSNames;
    if (FOptions.GivenIPs()) edits.SANIPs = given.SANIPs;
    if (FOptions.GivenEmails()) edits.SANEmails = given.SANEmails;
    if (FOptions.GivenKeyUsages()) edits.KeyUsage = given.KeyUsage;
    if (FOptions.GivenExtKeyUsages()) edits.ExtKeyUsage = given.ExtKeyUsage;
    edits.GrantCA = given.IsCA;
    // Without --pathlen a granted CA keeps the limit its request asked for.
    if (FOptions.GivenPathLen()) edits.PathLenConstraint = given.PathLenConstraint;
    return edits;
  }

  TCertificateOptions FOptions;
  std::string FRequestFile;
  TIssueRequest FIssue;
  std::string FChainName;
  std::string FCAPass;
  CLI::Option* FCAPassOption = nullptr;
  bool FForce = false;
  bool FStrict = false;
  std::unique_ptr<TSecretText> FCAPassword;
};

}  // namespace

std::unique_ptr<TCommand> MakeCSRCommand() { return std::make_unique<TCSRCommand>(); }
std::unique_ptr<TCommand> MakeSignCommand() { return std::make_unique<TSignCommand>(); }

}  // namespace velmora::cli
