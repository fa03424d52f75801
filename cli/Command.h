// One subcommand of velmora-cli: its name, a one-line description, its options and the work.
// Every subcommand is listed once in AllCommands(); the top-level help is built from that list.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::cli {

// Exit statuses: 0 done, 1 the work failed, 2 the command line was wrong.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Wrong arguments found after parsing (a malformed --key, an unknown pass-phrase source):
// reported with the usage line, exit status 2, and nothing done.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TCommand {
 public:
  virtual ~TCommand() = default;
  virtual const char* Name() const = 0;
  virtual const char* Description() const = 0;
  virtual void DefineOptions(CLI::App& Command) = 0;
  // Reads what the arguments name (pass phrases from descriptors among them) before the
  // program opens descriptors of its own; raises as Execute does.
  virtual void Prepare() {}
  // Runs after Prepare. Raises UsageError for arguments that make no sense,
  // velmora::Exception for work that failed (its message is what the window would show).
  virtual int Execute() = 0;
};

std::vector<std::unique_ptr<TCommand>> AllCommands();

// A failure as the window's box says it, in the command line's words (options, not fields):
// a common cause in plain words first, then the message. When the CA certificate file
// (CACertFile, empty for none) held no certificate, the words say what it holds instead.
std::string InPlainWords(const std::exception& Failure, const std::string& CACertFile);

std::unique_ptr<TCommand> MakeCertCommand();
std::unique_ptr<TCommand> MakeInfoCommand();
std::unique_ptr<TCommand> MakeListCommand();
std::unique_ptr<TCommand> MakeDevCommand();
std::unique_ptr<TCommand> MakeTrustCommand();
std::unique_ptr<TCommand> MakeCSRCommand();
std::unique_ptr<TCommand> MakeSignCommand();
std::unique_ptr<TCommand> MakeRenewCommand();
std::unique_ptr<TCommand> MakeBatchCommand();
std::unique_ptr<TCommand> MakeRevokeCommand();
std::unique_ptr<TCommand> MakePublishCRLCommand();

}  // namespace velmora::cli
