// velmora-cli: what the window makes, from a terminal or a script, without a display and
// without ever asking for a pass phrase.
#include "cli/Command.h"
#include "core/Defaults.h"
#include "core/PlainWords.h"
#include "crypto/AtomicFile.h"
#include "crypto/Exception.h"
#include "velmora/Version.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>
#include <string_view>

namespace velmora::cli {

std::vector<std::unique_ptr<TCommand>> AllCommands() {
  std::vector<std::unique_ptr<TCommand>> commands;
  commands.push_back(MakeCertCommand());
  commands.push_back(MakeCSRCommand());
  commands.push_back(MakeSignCommand());
  commands.push_back(MakeRenewCommand());
  commands.push_back(MakeBatchCommand());
  commands.push_back(MakeRevokeCommand());
  commands.push_back(MakePublishCRLCommand());
  commands.push_back(MakeDevCommand());
  commands.push_back(MakeInfoCommand());
  commands.push_back(MakeListCommand());
  commands.push_back(MakeTrustCommand());
  return commands;
}

std::string InPlainWords(const std::exception& Failure, const std::string& CACertFile) {
  const TFailureCause cause = CauseOf(Failure);
  return WithPlainWords(Failure.what(), cause, ObservePlainWordsFacts(cause, CACertFile),
                        TWording::CommandLine);
}

namespace {

// Of the arguments only the CA certificate file matters to the words of a failure.
std::string FailureWords(const std::exception& Failure, const CLI::App& Command) {
  std::string caCertFile;
  const CLI::Option* signWith = Command.get_option_no_throw("--sign-with");
  if (signWith != nullptr && signWith->count() > 0) caCertFile = signWith->as<std::string>();
  return InPlainWords(Failure, caCertFile);
}

// The subcommand the arguments name: the first one that is not an option, when it is a
// subcommand's name; empty otherwise. The program itself takes no option with a value.
std::string NamedSubcommand(int argc, char** argv,
                            const std::vector<std::unique_ptr<TCommand>>& Commands) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.starts_with('-')) continue;
    for (const std::unique_ptr<TCommand>& command : Commands)
      if (argument == command->Name()) return command->Name();
    return {};
  }
  return {};
}

int UsageFailure(const std::string& Command, const std::string& Message) {
  std::fflush(stdout);  // what was said so far stands before the error in a shared terminal
  std::fprintf(stderr, "velmora-cli: %s\nUsage: %s\nRun with --help for more.\n", Message.c_str(),
               Command.c_str());
  return kExitUsage;
}

}  // namespace

int Run(int argc, char** argv) {
  CLI::App app("Makes X.509 certificates with their private keys into a certificate store.",
               "velmora-cli");
  app.set_version_flag("--version", "velmora-cli " VELMORA_VERSION);
  app.require_subcommand(1);
  std::vector<std::unique_ptr<TCommand>> commands = AllCommands();
  // Only the subcommand the arguments name gets its options: defining those of all of them
  // costs more instructions than signing a certificate, at every start. Without one none is
  // entered, and the program's own help lists subcommands without their options.
  const std::string named = NamedSubcommand(argc, argv, commands);
  for (const std::unique_ptr<TCommand>& command : commands) {
    CLI::App* sub = app.add_subcommand(command->Name(), command->Description());
    if (named == command->Name()) command->DefineOptions(*sub);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    const CLI::App* failed = &app;
    for (CLI::App* sub : app.get_subcommands()) failed = sub;
    return UsageFailure(failed == &app ? "velmora-cli [OPTIONS] SUBCOMMAND"
                                       : "velmora-cli " + failed->get_name() + " [OPTIONS]",
                        e.what());
  }

  // A save that a killed run left half done is completed or undone by the next one that
  // writes or lists the folder; the user hears of it among the log lines.
  SetInterruptedWriteReporter([](const std::string& Line) { std::printf("%s\n", Line.c_str()); });
  for (const std::unique_ptr<TCommand>& command : commands) {
    CLI::App* sub = app.get_subcommand(command->Name());
    if (!sub->parsed()) continue;
    try {
      command->Prepare();
      // Organisation and program name place the per-user data folder, as the window's do.
      QCoreApplication qt(argc, argv);
      QCoreApplication::setOrganizationName(QString::fromLatin1(velmora::kOrganisationName));
      QCoreApplication::setApplicationName(QString::fromLatin1(velmora::kProgramName));
      return command->Execute();
    } catch (const UsageError& e) {
      return UsageFailure("velmora-cli " + sub->get_name() + " [OPTIONS]", e.what());
    } catch (const std::exception& e) {
      std::fflush(stdout);
      std::fprintf(stderr, "%s\n", FailureWords(e, *sub).c_str());
      return kExitFailure;
    }
  }
  return kExitUsage;
}

}  // namespace velmora::cli

// Whatever Run lets escape (memory running out while a message is printed) still ends the
// program with the failure status instead of terminate's abort.
int main(int argc, char** argv) {
  try {
    return velmora::cli::Run(argc, argv);
  } catch (...) {
    return velmora::cli::kExitFailure;
  }
}
