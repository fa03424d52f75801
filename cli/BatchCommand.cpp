// velmora-cli batch: many certificates in one process, one per line of a file, each as cert
// would make it, on every core. The file is read twice: first every line is parsed and
// checked and only the output names are kept, so that a malformed file issues nothing and
// two lines that would write one file are found before any key is made; then the lines are
// issued. Neither reading holds more than a few lines per worker.
#include "cli/BatchInput.h"
#include "cli/BatchLine.h"
#include "cli/BatchProgress.h"
#include "cli/Command.h"
#include "cli/OrderedWork.h"
#include "cli/PassArg.h"
#include "core/StorePaths.h"
#include "core/StoreSetting.h"
#include "core/ValueConventions.h"
#include "crypto/Exception.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>
#include <unordered_map>

namespace fs = std::filesystem;

namespace velmora::cli {

namespace {

bool EndsWithCSV(const std::string& Path) {
  if (Path.size() < 4) return false;
  std::string end = Path.substr(Path.size() - 4);
  for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return end == ".csv";
}

bool ExistsAsFile(const std::string& Path) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(Path, ec);
  return fs::exists(status) && !fs::is_directory(status);
}

bool AllExist(const std::vector<std::string>& Paths) {
  for (const std::string& path : Paths)
    if (!ExistsAsFile(path)) return false;
  return !Paths.empty();
}

// A line and, found by the first reading, why it is refused before any work.
struct TBatchItem {
  TBatchRecord Record;
  std::string Refusal;
};

// What the first reading learns of a line: the files it writes, when it passed cert's checks.
struct TChecked {
  std::uint64_t Line = 0;
  std::vector<std::string> Outputs;
};

// NotRun: not begun once --stop-on-error had seen a failure.
enum class TStatus { Issued, Exists, Failed, NotRun };

struct TLineResult {
  std::uint64_t Line = 0;
  TStatus Status = TStatus::Failed;
  std::vector<std::string> Files;
  std::string Serial, Error;
  std::vector<std::string> Warnings;
};

// Output files by their folder and name, the folders numbered: a short name then fits in the
// string itself, so a hundred thousand lines cost a few megabytes.
class TOutputNames {
 public:
  // The earlier line that writes Path, or 0 after taking it for Line.
  std::uint64_t Claim(const std::string& Path, std::uint64_t Line) {
    std::error_code ec;
    const fs::path whole = fs::absolute(Path, ec).lexically_normal();
    const auto [folder, fresh] = FFolders.try_emplace(whole.parent_path().string(),
                                                      static_cast<std::uint32_t>(FFolders.size()));
    std::string key(reinterpret_cast<const char*>(&folder->second), sizeof folder->second);
    key += whole.filename().string();
    const auto [claim, taken] = FNames.try_emplace(std::move(key), Line);
    return taken ? 0 : claim->second;
  }

 private:
  std::unordered_map<std::string, std::uint32_t> FFolders;
  std::unordered_map<std::string, std::uint64_t> FNames;
};

class TBatchCommand : public TCommand {
 public:
  const char* Name() const override { return "batch"; }
  const char* Description() const override {
    return "Issue one certificate per line of a JSON Lines or CSV file, on several cores";
  }

  void DefineOptions(CLI::App& Command) override {
    Command.add_option("FILE", FPath, "JSON Lines, or CSV with a header row; - for standard input")
        ->required();
    Command.add_flag("--csv", FCSV, "The file is CSV (also when its name ends in .csv)");
    Command.add_flag("--json", FJSON, "Print one JSON object per line's result on standard output");
    Command.add_option("--jobs", FJobs, "Certificates made at once (default: the number of cores)")
        ->check(CLI::Range(1, 1024));
    Command.add_flag("--stop-on-error", FStopOnError, "Issue no further line after one failed");
    Command.add_flag("--force", FSettings.Force,
                     "Issue lines whose files all exist, and replace existing keys and bundles");
    for (const auto& [name, help] : kDefaultOptions)
      FDefaultOptions.push_back(Command.add_option(std::string("--") + name, help));
    FCAPassOption = Command.add_option("--ca-pass", FCAPass,
                                       "CA key pass phrase: pass:, env:, file:, fd: or stdin");
  }

  void Prepare() override {
    if (FCAPassOption->count() == 0) return;
    if (FPath == "-" && FCAPass == "stdin")
      throw UsageError("--ca-pass stdin: the standard input is the batch itself.");
    FSettings.CAPassword = ReadPassArg(FCAPass, "--ca-pass");
  }

  int Execute() override {
    TakeDefaults();
    TBatchReader reader(FPath, FCSV || EndsWithCSV(FPath));
    PrepareBatchCA();
    CheckAll(reader);
    reader.Rewind();
    IssueAll(reader);
    return Finish();
  }

 private:
  // The options that are every line's defaults; their help says so.
  static constexpr std::pair<const char*, const char*> kDefaultOptions[] = {
      {"sign-with", "CA certificate (PEM) for every line without one"},
      {"sign-key", "CA private key (PEM) for every line without one"},
      {"store", "Store folder for every line without one (default: the window's)"},
      {"profile", "Certificate profile for every line without one"},
      {"days", "Days of validity for every line without them"},
      {"key", "Key to make for every line without one, as cert's --key"},
  };
  // Places in kDefaultOptions of those looked at here.
  enum TDefault : std::size_t { kSignWith = 0, kSignKey = 1, kStore = 2 };

  void TakeDefaults() {
    for (CLI::Option* option : FDefaultOptions)
      if (option->count() > 0)
        FSettings.Defaults.emplace_back(option->get_lnames().front(), option->as<std::string>());
    if (FDefaultOptions[kStore]->count() == 0)
      FSettings.Defaults.emplace_back("store", EffectiveStoreDir());
  }

  // The batch's own CA is read and its key decrypted before any line: when it cannot be, no
  // line could be issued with it.
  void PrepareBatchCA() {
    if (FDefaultOptions[kSignWith]->count() == 0 || FDefaultOptions[kSignKey]->count() == 0) return;
    TIssueRequest request;
    request.CASigned = true;
    request.CACertFile =
        CAFileFromCurrentFolder(FDefaultOptions[kSignWith]->as<std::string>(), "--sign-with");
    request.CAKeyFile =
        CAFileFromCurrentFolder(FDefaultOptions[kSignKey]->as<std::string>(), "--sign-key");
    FCAs.Get(request, FSettings.CAPassword ? FSettings.CAPassword->Text() : std::string());
  }

  // The first reading: raises TBatchSyntaxError for a file that is not what it should be;
  // otherwise counts the lines and refuses the later of two lines that write one file.
  void CheckAll(TBatchReader& Reader) {
    const std::set<std::string> keys = BatchKeys();
    const auto requireKnown = [&](const std::string& Key, std::uint64_t Line) {
      if (!keys.count(Key))
        throw TBatchSyntaxError(Line, "unknown key " + Quoted(Key) +
                                          ": the keys are cert's long option names, such as "
                                          "cn, dns, out-cert, out-key.");
    };
    TOutputNames names;
    const auto next = [&](TBatchItem& Item) {
      if (!Reader.Next(Item.Record)) return false;
      for (const TBatchField& field : Item.Record.Fields) requireKnown(field.Key, Item.Record.Line);
      return true;
    };
    const auto check = [&](TBatchItem& Item) {
      TChecked checked{Item.Record.Line, {}};
      try {
        checked.Outputs = PrepareLine(Item.Record, FSettings, true)->Job.OutputPaths();
      } catch (...) {
        // The second reading reports it where it stands.
      }
      return checked;
    };
    const auto claim = [&](TChecked& Checked) {
      ++FTotal;
      for (const std::string& path : Checked.Outputs)
        if (const std::uint64_t earlier = names.Claim(path, Checked.Line); earlier != 0) {
          FRefusals.emplace(Checked.Line, "Line " + std::to_string(earlier) + " writes " +
                                              Readable(path) +
                                              " already: each line needs file names of its own.");
          break;
        }
      return true;
    };
    try {
      Reader.Rewind();
      for (const std::string& column : Reader.Columns()) requireKnown(column, 1);
      TOrderedWork<TBatchItem, TChecked>::Run(FJobs, next, check, claim);
    } catch (const TBatchSyntaxError& e) {
      throw Exception(std::string(e.what()) + " Nothing was issued.");
    }
  }

  void IssueAll(TBatchReader& Reader) {
    TBatchProgress progress(FTotal);
    const auto next = [&](TBatchItem& Item) {
      if (!Reader.Next(Item.Record)) return false;
      if (auto found = FRefusals.find(Item.Record.Line); found != FRefusals.end())
        Item.Refusal = found->second;
      return true;
    };
    const auto issue = [&](TBatchItem& Item) { return IssueLine(Item); };
    const auto report = [&](TLineResult& Result) {
      if (Result.Status == TStatus::NotRun) return false;
      Report(Result, progress);
      progress.Done();
      return !(FStopOnError && Result.Status == TStatus::Failed);
    };
    TOrderedWork<TBatchItem, TLineResult>::Run(FJobs, next, issue, report);
    progress.Clear();
  }

  TLineResult IssueLine(const TBatchItem& Item) {
    TLineResult result;
    result.Line = Item.Record.Line;
    // Lines already begun on other workers are finished; none is begun after a failure.
    if (FStopOnError && FStopping) {
      result.Status = TStatus::NotRun;
      return result;
    }
    std::string caCertFile;
    try {
      if (!Item.Refusal.empty()) throw UsageError(Item.Refusal);
      // The first reading built the request on a throwaway key already.
      const std::unique_ptr<TBatchLine> line = PrepareLine(Item.Record, FSettings, false);
      TIssueRequest& request = line->Job.IssueRequest();
      caCertFile = request.CACertFile;
      result.Files = line->Job.OutputPaths();
      if (!line->Job.Force() && AllExist(result.Files)) {
        result.Status = TStatus::Exists;
        return result;
      }
      if (request.CASigned) request.PreparedCA = FCAs.Get(request, line->Job.CAPassword());
      const TIssueSink sink{
          [](const std::string&) {},
          [&](const std::string& Finding) { result.Warnings.push_back(Finding); }};
      result.Serial = line->Job.Run(sink);
      result.Status = TStatus::Issued;
    } catch (...) {
      result.Status = TStatus::Failed;
      result.Files.clear();
      result.Error = LineFailureText(caCertFile);
      if (FStopOnError) FStopping = true;
    }
    return result;
  }

  void Report(const TLineResult& Result, TBatchProgress& Progress) {
    ++FCounts[Result.Status];
    if (Result.Status == TStatus::Failed) FLastFailed = Result.Line;
    if (FJSON) {
      std::fputs(JSONOf(Result).c_str(), stdout);
      std::fflush(stdout);
    }
    if (Result.Warnings.empty() && Result.Status != TStatus::Failed) return;
    Progress.Clear();
    const std::string line = "line " + std::to_string(Result.Line) + ": ";
    for (const std::string& warning : Result.Warnings)
      std::fprintf(stderr, "%sWarning: %s\n", line.c_str(), warning.c_str());
    if (Result.Status == TStatus::Failed)
      std::fprintf(stderr, "%s%s\n", line.c_str(), Result.Error.c_str());
  }

  static std::string JSONOf(const TLineResult& Result) {
    static const char* const kStatus[] = {"issued", "exists", "failed"};
    const auto text = [](const std::string& Text) {
      return Text.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(Text));
    };
    const auto list = [](const std::vector<std::string>& Texts) {
      QJsonArray array;
      for (const std::string& text : Texts) array.append(QString::fromStdString(text));
      return array;
    };
    QJsonObject object{{"line", static_cast<qint64>(Result.Line)},
                       {"status", kStatus[static_cast<int>(Result.Status)]},
                       {"files", list(Result.Files)},
                       {"serial", text(Result.Serial)},
                       {"error", text(Result.Error)}};
    if (!Result.Warnings.empty()) object.insert("warnings", list(Result.Warnings));
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n";
  }

  int Finish() {
    const std::uint64_t issued = FCounts[TStatus::Issued], exist = FCounts[TStatus::Exists],
                        failed = FCounts[TStatus::Failed];
    if (!FJSON)
      std::printf("Issued %llu certificates; %llu lines skipped, their files exist.\n",
                  static_cast<unsigned long long>(issued), static_cast<unsigned long long>(exist));
    if (failed == 0) return 0;
    std::fflush(stdout);
    const std::uint64_t left = FTotal - issued - exist - failed;
    if (FStopOnError && left > 0)
      std::fprintf(stderr, "Stopped after line %llu failed; %llu lines were not issued.\n",
                   static_cast<unsigned long long>(FLastFailed),
                   static_cast<unsigned long long>(left));
    std::fprintf(stderr, "%llu of %llu lines failed.\n", static_cast<unsigned long long>(failed),
                 static_cast<unsigned long long>(FTotal));
    return kExitFailure;
  }

  std::string FPath, FCAPass;
  bool FCSV = false, FJSON = false, FStopOnError = false;
  unsigned FJobs = std::max(1u, std::thread::hardware_concurrency());
  std::vector<CLI::Option*> FDefaultOptions;
  CLI::Option* FCAPassOption = nullptr;
  TBatchSettings FSettings;
  TCACache FCAs;
  std::atomic<bool> FStopping = false;
  std::uint64_t FTotal = 0, FLastFailed = 0;
  std::map<std::uint64_t, std::string> FRefusals;
  std::map<TStatus, std::uint64_t> FCounts;
};

}  // namespace

std::unique_ptr<TCommand> MakeBatchCommand() { return std::make_unique<TBatchCommand>(); }

}  // namespace velmora::cli
