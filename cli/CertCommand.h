// cert's options and work, for the cert subcommand and for every line of a batch: one
// definition keeps their option names, checks and messages the same.
#pragma once

#include "cli/CertificateOptions.h"
#include "cli/Issue.h"
#include "core/Issuance.h"
#include "crypto/SecretText.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

namespace velmora::cli {

class TCertJob {
 public:
  void DefineOptions(CLI::App& Command);
  // Everything the arguments say is read before anything is made; raises UsageError.
  void Prepare();
  // The store and the CA's files made whole, and every check that comes before a key is
  // made; raises as Run does. Without TrialBuild the request is not built on a throwaway
  // key first (a batch did that when it read the line before).
  void Check(bool TrialBuild = true);
  // Makes the key pair and issues; the log lines and warnings go to Sink. The serial number
  // of the certificate made, in hexadecimal.
  std::string Run(const TIssueSink& Sink);

  // Given no --ca-pass, the CA key's pass phrase is this one (a batch reads it once).
  void UseCAPassword(const std::string& Text);
  bool GivenCAPass() const { return FCAPassOption->count() > 0; }
  const std::string& CAPassword() const { return FCAPassword->Text(); }
  TIssueRequest& IssueRequest() { return FIssue; }
  // The paths of the files the line writes, after Check.
  std::vector<std::string> OutputPaths() const;
  bool Force() const { return FForce; }

 private:
  TCertificateOptions FOptions;
  CLI::Option* FCAPassOption = nullptr;
  CLI::Option* FKeyPassOption = nullptr;
  CLI::Option* FBundlePassOption = nullptr;
  TIssueRequest FIssue = DefaultIssue();
  std::string FCAPass, FKeyPass, FBundlePass;
  bool FForce = false;
  bool FStrict = false;
  std::unique_ptr<TSecretText> FCAPassword, FKeyPassword, FBundlePassword;

  std::string FFrom;       // --from: the certificate the request starts from
  std::string FChainName;  // --chain-out
  std::vector<std::string> FTemplateLog;

  static TIssueRequest DefaultIssue();
  void TakeTemplate();
};

}  // namespace velmora::cli
