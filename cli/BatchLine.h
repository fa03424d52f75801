// One line of a batch as cert would take it: its fields turned into cert's arguments over the
// batch's defaults, parsed, read and checked by cert's own code, then issued.
#pragma once

#include "cli/BatchInput.h"
#include "cli/CertCommand.h"
#include "core/Issuance.h"
#include "crypto/SecretText.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace velmora::cli {

// What the batch's command line gives every line.
struct TBatchSettings {
  // Option name (without "--") and argument, for the lines that do not give that option.
  std::vector<std::pair<std::string, std::string>> Defaults;
  // The CA key's pass phrase, read once, for the lines without a ca-pass of their own.
  std::unique_ptr<TSecretText> CAPassword;
  bool Force = false;
};

// The keys a line may hold: cert's long option names, without "--help".
std::set<std::string> BatchKeys();

// cert's options over one line; the application keeps the options the job reads.
struct TBatchLine {
  CLI::App App{"", "cert"};
  TCertJob Job;
};

// Raises CLI::ParseError, UsageError or velmora::Exception as cert would for the same
// arguments, and UsageError for a pass phrase that a batch does not read (fd:, stdin).
// TrialBuild as TCertJob::Check takes it.
std::unique_ptr<TBatchLine> PrepareLine(const TBatchRecord& Record, const TBatchSettings& Settings,
                                        bool TrialBuild);

// The message cert would give for the failure that is in flight; CACertFile is the line's.
std::string LineFailureText(const std::string& CACertFile);

// The CAs of a batch, each read and its key decrypted once, whichever thread asks first; a
// CA that cannot be read fails every line that names it with the same message.
class TCACache {
 public:
  std::shared_ptr<const TIssuingCA> Get(const TIssueRequest& Request, const std::string& Password);

 private:
  struct TEntry {
    std::string CertFile, KeyFile;
    std::unique_ptr<TSecretText> Password;
    std::shared_ptr<const TIssuingCA> CA;
    std::exception_ptr Failure;
  };
  std::mutex FMutex;
  std::vector<TEntry> FEntries;
};

}  // namespace velmora::cli
