#include "cli/BatchLine.h"

#include "cli/Command.h"
#include "core/FailureText.h"

#include <algorithm>

namespace velmora::cli {

namespace {

bool StartsWith(const std::string& Text, const char* Prefix) { return Text.rfind(Prefix, 0) == 0; }

// A batch runs unattended over many lines: a pass phrase comes from the line itself, the
// environment or a file, never from a descriptor or the standard input read once.
void RequireBatchPassForm(const TBatchField& Field) {
  if (Field.Key != "key-pass" && Field.Key != "p12-pass" && Field.Key != "ca-pass") return;
  const std::string& value = Field.Value;
  if (StartsWith(value, "pass:") || StartsWith(value, "env:") || StartsWith(value, "file:")) return;
  throw UsageError("Invalid pass phrase source: a batch line takes pass:, env: or file: for --" +
                   Field.Key + ".");
}

// "--name=value": a value that begins with "-" stays a value.
std::string Argument(const TBatchField& Field) {
  switch (Field.Kind) {
    case TBatchField::TKind::True: return "--" + Field.Key;
    case TBatchField::TKind::False: return {};
    case TBatchField::TKind::Text: break;
  }
  return "--" + Field.Key + "=" + Field.Value;
}

// In the reversed order CLI11 takes a vector of arguments in.
std::vector<std::string> ArgumentsOf(const TBatchRecord& Record, const TBatchSettings& Settings) {
  std::set<std::string> given;
  std::vector<std::string> args;
  for (const TBatchField& field : Record.Fields) {
    RequireBatchPassForm(field);
    given.insert(field.Key);
    if (std::string argument = Argument(field); !argument.empty())
      args.push_back(std::move(argument));
  }
  for (const auto& [name, value] : Settings.Defaults)
    if (!given.count(name))
      args.push_back(std::string("--").append(name).append("=").append(value));
  if (Settings.Force && !given.count("force")) args.push_back("--force");
  std::reverse(args.begin(), args.end());
  return args;
}

}  // namespace

std::set<std::string> BatchKeys() {
  TBatchLine line;
  line.Job.DefineOptions(line.App);
  std::set<std::string> keys;
  for (const CLI::Option* option : line.App.get_options())
    for (const std::string& name : option->get_lnames())
      if (name != "help") keys.insert(name);
  return keys;
}

std::unique_ptr<TBatchLine> PrepareLine(const TBatchRecord& Record, const TBatchSettings& Settings,
                                        bool TrialBuild) {
  if (!Record.Error.empty()) throw UsageError(Record.Error);
  auto line = std::make_unique<TBatchLine>();
  line->Job.DefineOptions(line->App);
  line->App.parse(ArgumentsOf(Record, Settings));
  line->Job.Prepare();
  if (Settings.CAPassword) line->Job.UseCAPassword(Settings.CAPassword->Text());
  line->Job.Check(TrialBuild);
  return line;
}

std::string LineFailureText(const std::string& CACertFile) {
  try {
    throw;
  } catch (const CLI::ParseError& e) {
    return e.what();
  } catch (const UsageError& e) {
    return e.what();
  } catch (const std::exception& e) {
    return InPlainWords(e, CACertFile);
  } catch (...) {
    return "Unexpected failure.";
  }
}

std::shared_ptr<const TIssuingCA> TCACache::Get(const TIssueRequest& Request,
                                                const std::string& Password) {
  const std::lock_guard lock(FMutex);
  auto found = std::find_if(FEntries.begin(), FEntries.end(), [&](const TEntry& Entry) {
    return Entry.CertFile == Request.CACertFile && Entry.KeyFile == Request.CAKeyFile &&
           Entry.Password->Text() == Password;
  });
  if (found == FEntries.end()) {
    TEntry entry{Request.CACertFile, Request.CAKeyFile,
                 std::make_unique<TSecretText>(Password.data(), Password.size()), nullptr, nullptr};
    try {
      entry.CA = std::make_shared<const TIssuingCA>(Request, Password);
    } catch (const Exception& e) {
      // In the words IssueCertificate's own reading would fail with.
      entry.Failure =
          std::make_exception_ptr(Exception(CertificateFailedText(e.what()), e.Cause()));
    }
    FEntries.push_back(std::move(entry));
    found = std::prev(FEntries.end());
  }
  if (found->Failure) std::rethrow_exception(found->Failure);
  return found->CA;
}

}  // namespace velmora::cli
