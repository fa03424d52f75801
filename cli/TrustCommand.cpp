// velmora-cli trust: a CA into the system store and the browsers' NSS databases, out again,
// and where it is trusted now. Each target gets a line of its own with its outcome.
#include "cli/Command.h"
#include "cli/TrustSteps.h"
#include "core/Trust.h"
#include "crypto/Exception.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <iostream>

namespace velmora::cli {

namespace {

// A certificate's name may hold control characters; a terminal must not act on them.
std::string Printable(const std::string& Text) {
  std::string text;
  for (const char c : Text) text += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
  return text;
}

void PrintOutcomes(const std::vector<TTrustOutcome>& Outcomes) {
  for (const TTrustOutcome& outcome : Outcomes)
    std::printf("%s\n", Printable(TrustOutcomeLine(outcome)).c_str());
}

bool AllOk(const std::vector<TTrustOutcome>& Outcomes) {
  for (const TTrustOutcome& outcome : Outcomes)
    if (!outcome.Ok) return false;
  return true;
}

void PrintCA(const TTrustCA& CA) {
  std::printf("CA %s (SHA-256 %s)\n", Printable(CA.CommonName).c_str(), CA.Fingerprint.c_str());
}

// A CA without name constraints is a key to every site; without a terminal there is nobody to
// ask, so only --yes goes on.
void ConfirmUnconstrained(const TTrustCA& CA, bool Yes) {
  if (CA.Constrained) return;
  std::fflush(stdout);
  std::fprintf(stderr,
               "Warning: %s has no name constraints: it can vouch for any web site, so whoever "
               "obtains its key can impersonate every web site to this computer.\n",
               Printable(CA.File).c_str());
  if (Yes) return;
  if (::isatty(STDIN_FILENO) != 1)
    throw Exception(
        "Nothing was changed: run again with --yes to trust a CA without name constraints.");
  std::fprintf(stderr, "Trust it anyway? [y/N] ");
  std::string answer;
  std::getline(std::cin, answer);
  if (answer != "y" && answer != "Y" && answer != "yes") throw Exception("Nothing was changed.");
}

class TTrustCommand : public TCommand {
 public:
  const char* Name() const override { return "trust"; }
  const char* Description() const override {
    return "Trust a CA on this computer (system store, browsers), stop trusting it, or show where "
           "it is trusted";
  }

  void DefineOptions(CLI::App& Command) override {
    FInstall = Command.add_subcommand("install", "Put the CA into every trust store found");
    FRemove = Command.add_subcommand("remove", "Take the CA out of every trust store found");
    FStatus = Command.add_subcommand("status", "Show, per trust store, whether the CA is there");
    // A subcommand takes its parent's settings when made: these three need none of their own.
    Command.require_subcommand(1);
    for (CLI::App* sub : {FInstall, FRemove, FStatus}) {
      sub->require_subcommand(0);
      CLI::Option* file = sub->add_option("ca", FCAFile, "The CA certificate file (PEM or DER)");
      if (sub != FStatus) file->required();
      sub->add_option("--root", FRoot, "File-system root of the system store (default: /)");
      sub->add_option("--home", FHome, "Home folder of the NSS databases (default: yours)");
      sub->add_flag("--no-system", FNoSystem, "Leave the system store alone");
    }
    FInstall->add_flag("--yes", FYes, "Trust a CA without name constraints without asking");
    FStatus->add_flag("--json", FJson, "Print the status as JSON");
  }

  int Execute() override {
    TTrustPlace place;
    place.Root = FRoot.empty() ? "/" : FRoot;
    place.Home = FHome.empty() ? QDir::homePath().toStdString() : FHome;
    place.System = !FNoSystem;
    AnnounceOnStdout(place);
    if (FInstall->parsed()) return InstallTrustFor(FCAFile, place, FYes);
    if (FRemove->parsed()) {
      // An expired CA is taken out like any other: that is when it is most worth removing.
      const TTrustCA ca = ReadTrustCA(FCAFile, 0);
      PrintCA(ca);
      const std::vector<TTrustOutcome> outcomes = RemoveTrust(ca, place);
      if (outcomes.empty()) std::printf("No trust store was found.\n");
      PrintOutcomes(outcomes);
      return AllOk(outcomes) ? 0 : kExitFailure;
    }
    return Status(place);
  }

 private:
  int Status(const TTrustPlace& Place) const {
    std::optional<TTrustCA> ca;
    // An expired CA may still sit in a store: status asks about it all the same.
    if (!FCAFile.empty()) ca = ReadTrustCA(FCAFile, 0);
    const std::vector<TTrustOutcome> outcomes = ca ? TrustStatus(*ca, Place) : TrustListing(Place);
    if (FJson) {
      QJsonObject root;
      if (ca) {
        root.insert("certificate", QString::fromStdString(ca->File));
        root.insert("common_name", QString::fromStdString(ca->CommonName));
        root.insert("fingerprint_sha256", QString::fromStdString(ca->Fingerprint));
      }
      QJsonArray targets;
      for (const TTrustOutcome& outcome : outcomes) {
        QJsonObject target;
        target.insert("target", QString::fromStdString(outcome.Target));
        target.insert("path", QString::fromStdString(outcome.Path));
        target.insert("ok", outcome.Ok);
        target.insert("installed", outcome.Installed);
        target.insert("reason", QString::fromStdString(outcome.Reason));
        targets.append(target);
      }
      root.insert("targets", targets);
      std::printf("%s", QJsonDocument(root).toJson(QJsonDocument::Indented).constData());
    } else {
      if (ca) PrintCA(*ca);
      if (outcomes.empty()) std::printf("No trust store was found.\n");
      PrintOutcomes(outcomes);
    }
    return AllOk(outcomes) ? 0 : kExitFailure;
  }

  CLI::App* FInstall = nullptr;
  CLI::App* FRemove = nullptr;
  CLI::App* FStatus = nullptr;
  std::string FCAFile;
  std::string FRoot;
  std::string FHome;
  bool FNoSystem = false;
  bool FYes = false;
  bool FJson = false;
};

}  // namespace

void AnnounceOnStdout(TTrustPlace& Place) {
  Place.Announce = [](const std::string& Line) {
    std::printf("%s\n", Printable(Line).c_str());
    std::fflush(stdout);
  };
}

int InstallTrustFor(const std::string& CAFile, const TTrustPlace& Place, bool Yes) {
  const TTrustCA ca = ReadTrustCA(CAFile, std::time(nullptr));
  PrintCA(ca);
  ConfirmUnconstrained(ca, Yes);
  const std::vector<TTrustOutcome> outcomes = InstallTrust(ca, Place);
  if (outcomes.empty()) {
    std::printf("No trust store was found: nothing was installed.\n");
    return kExitFailure;
  }
  PrintOutcomes(outcomes);
  return AllOk(outcomes) ? 0 : kExitFailure;
}

std::unique_ptr<TCommand> MakeTrustCommand() { return std::make_unique<TTrustCommand>(); }

}  // namespace velmora::cli
