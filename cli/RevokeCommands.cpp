// velmora-cli revoke: withdraws a certificate by adding it to its CA's revocation list.
// velmora-cli crl: signs the CA's revocation list again, for when its next update nears.
#include "cli/Command.h"
#include "cli/PassArg.h"
#include "core/Revocation.h"
#include "core/StorePaths.h"
#include "crypto/SecretText.h"

#include <cstdio>
#include <filesystem>

namespace velmora::cli {

namespace {

// The CA's files and the certificate are the user's: a relative path is taken from the current
// folder, as any program's arguments are, so that a message names the file looked for.
std::string FromCurrentFolder(const std::string& Path) {
  std::error_code error;
  const std::filesystem::path whole = std::filesystem::absolute(Path, error);
  return error ? Path : whole.string();
}

std::string ReasonNames() {
  std::string names;
  for (const TRevocationReason reason : RevocationReasons())
    names += (names.empty() ? "" : ", ") + std::string(RevocationReasonName(reason));
  return names;
}

void PrintOutcome(const TCRLOutcome& Outcome) {
  std::printf("CRL written: %s (number %s, %zu revoked)\n", Readable(Outcome.CRLFile).c_str(),
              Outcome.Number.c_str(), Outcome.Entries);
}

// What revoke and crl share: the CA that signs, its pass phrase and the list's validity.
class TCRLCommand : public TCommand {
 public:
  void DefineOptions(CLI::App& Command) override {
    Command
        .add_option("--sign-with", FRequest.CACertFile,
                    "CA certificate (PEM); its CRL is the .crl file beside it. A relative path "
                    "is taken from the current folder")
        ->required();
    Command
        .add_option("--sign-key", FRequest.CAKeyFile,
                    "CA private key (PEM); a relative path is taken from the current folder")
        ->required();
    FCAPassOption = Command.add_option("--ca-pass", FCAPass,
                                       "CA key pass phrase: pass:, env:, file:, fd: or stdin");
    Command.add_option("--crl-days", FRequest.Days, "Days until the CRL's next update")
        ->default_val(kDefaultCRLDays)
        ->check(CLI::Range(1, kMaxCRLDays));
  }

  void Prepare() override {
    FCAPassword = FCAPassOption->count() > 0 ? ReadPassArg(FCAPass, "--ca-pass")
                                             : std::make_unique<TSecretText>();
  }

 protected:
  TCRLRequest WholePaths() const {
    TCRLRequest request = FRequest;
    request.CACertFile = FromCurrentFolder(request.CACertFile);
    request.CAKeyFile = FromCurrentFolder(request.CAKeyFile);
    if (!request.CertFile.empty()) request.CertFile = FromCurrentFolder(request.CertFile);
    return request;
  }

  TCRLRequest FRequest;
  std::string FCAPass;
  CLI::Option* FCAPassOption = nullptr;
  std::unique_ptr<TSecretText> FCAPassword;
};

class TRevokeCommand : public TCRLCommand {
 public:
  const char* Name() const override { return "revoke"; }
  const char* Description() const override {
    return "Revoke a certificate: add it to its CA's CRL and sign the CRL again";
  }

  void DefineOptions(CLI::App& Command) override {
    Command
        .add_option("certificate", FRequest.CertFile,
                    "The certificate to revoke (PEM or DER); a relative path is taken from the "
                    "current folder")
        ->required();
    TCRLCommand::DefineOptions(Command);
    Command.add_option("--reason", FReason, "Why: " + ReasonNames())
        ->default_str("unspecified")
        ->check(CLI::IsMember(ReasonList()));
  }

  int Execute() override {
    TCRLRequest request = WholePaths();
    request.Reason = RevocationReasonByName(FReason).value_or(TRevocationReason::Unspecified);
    const TCRLOutcome outcome = RevokeCertificate(request, FCAPassword->Text());
    std::printf("Revoked %s (%s).\n", Readable(request.CertFile).c_str(), FReason.c_str());
    PrintOutcome(outcome);
    return 0;
  }

 private:
  static std::vector<std::string> ReasonList() {
    std::vector<std::string> names;
    for (const TRevocationReason reason : RevocationReasons())
      names.emplace_back(RevocationReasonName(reason));
    return names;
  }

  std::string FReason = "unspecified";
};

class TPublishCRLCommand : public TCRLCommand {
 public:
  const char* Name() const override { return "crl"; }
  const char* Description() const override {
    return "Sign a CA's CRL again with the same entries (an empty one when it has none)";
  }

  int Execute() override {
    PrintOutcome(PublishCRL(WholePaths(), FCAPassword->Text()));
    return 0;
  }
};

}  // namespace

std::unique_ptr<TCommand> MakeRevokeCommand() { return std::make_unique<TRevokeCommand>(); }
std::unique_ptr<TCommand> MakePublishCRLCommand() { return std::make_unique<TPublishCRLCommand>(); }

}  // namespace velmora::cli
