// The command line as a user meets it: whole processes, from the start to the end of each,
// beside openssl doing the same work. Every iteration starts the programs afresh, so each
// side pays its loader, its libraries, its work and its exit. A "/wall" row is the time the
// user waits, a "/cpu" row the processor time (user and system) the kernel charged to the
// processes themselves, a "/user" row the user part of it alone. An "/instructions" row counts
// the instructions each side executes (callgrind), which the load of the machine does not move.
#include "bench/BenchBudgets.h"
#include "bench/BenchMain.h"
#include "bench/BenchSupport.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using TArgv = std::vector<std::string>;

// One side of a piece of work: the programs it runs one after another, whose times add up,
// and the files among their outputs that this process then puts in place durably, each
// written by them as <file>.new.
struct TSide {
  std::vector<TArgv> Runs;
  std::vector<fs::path> Publish = {};
  // A folder emptied before each run, untimed, so that every run writes into nothing.
  fs::path Fresh = {};
};

// The kernel measures a process's processor time exactly but splits it into user and system
// time by where its timer ticks fell (every 4 ms at 250 Hz), so a run of a few milliseconds
// has a coarse split: a "/user" time is only steady as the mean of many runs.
enum class TClock { Wall, Cpu, User };

void FlushToDisk(const fs::path& Path) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) std::perror(Path.c_str());
  if (fd >= 0) ::close(fd);
}

// What ours does with its outputs, done to files another program wrote: every one flushed to
// disk, then one by one renamed over its target, each rename followed by a flush of the
// folder. The time it took.
double PublishDurably(const std::vector<fs::path>& Targets) {
  const auto start = std::chrono::steady_clock::now();
  for (const fs::path& target : Targets) FlushToDisk(target.string() + ".new");
  for (const fs::path& target : Targets) {
    std::error_code error;
    fs::rename(target.string() + ".new", target, error);
    if (error) std::fprintf(stderr, "%s: %s\n", target.c_str(), error.message().c_str());
    FlushToDisk(target.parent_path());
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One run of the side on Clock, in seconds; negative, with Failure set, when a program did
// not start or did not succeed.
double RunSide(const TSide& Side, TClock Clock, std::string& Failure) {
  if (!Side.Fresh.empty()) {
    std::error_code ignored;
    fs::remove_all(Side.Fresh, ignored);
    fs::create_directories(Side.Fresh, ignored);
  }
  double wall = 0, cpu = 0, user = 0;
  for (const TArgv& argv : Side.Runs) {
    const TRunCost cost = RunToEnd(argv);
    if (cost.ExitStatus != 0) {
      Failure = argv.front() + (argv.size() > 1 ? " " + argv[1] : "") + " ended with status " +
                std::to_string(cost.ExitStatus);
      return -1;
    }
    wall += cost.WallSeconds;
    cpu += cost.CpuSeconds;
    user += cost.UserSeconds;
  }
  if (!Side.Publish.empty()) wall += PublishDurably(Side.Publish);
  return Clock == TClock::Wall ? wall : Clock == TClock::Cpu ? cpu : user;
}

// The instructions one run of the side executes in user space, the dynamic loader's included:
// every program of the side runs once under callgrind, which follows any program it starts
// (a shell's), and the totals of all of them add up. Nothing else on the machine changes the
// count, and the work's own variation (the random key and signature) moves it by well under a
// percent, so one run per side does. Logs is a scratch folder for callgrind's reports.
std::optional<double> CountInstructions(const TSide& Side, const fs::path& Logs,
                                        std::string& Failure) {
  if (!Side.Fresh.empty()) {
    std::error_code ignored;
    fs::remove_all(Side.Fresh, ignored);
    fs::create_directories(Side.Fresh, ignored);
  }
  double total = 0;
  for (const TArgv& argv : Side.Runs) {
    std::error_code ignored;
    fs::remove_all(Logs, ignored);
    fs::create_directories(Logs, ignored);
    TArgv traced{"valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                 "--trace-children=yes", "--log-file=" + (Logs / "%p.log").string()};
    traced.insert(traced.end(), argv.begin(), argv.end());
    const TRunCost cost = RunToEnd(traced);
    const std::string what = argv.front() + (argv.size() > 1 ? " " + argv[1] : "");
    if (cost.ExitStatus != 0) {
      Failure = "valgrind " + what + " ended with status " + std::to_string(cost.ExitStatus);
      return std::nullopt;
    }
    // Each process's report ends with "==<pid>== Collected : <instructions>".
    bool counted = false;
    for (const fs::directory_entry& log : fs::directory_iterator(Logs, ignored)) {
      std::ifstream in(log.path());
      for (std::string line; std::getline(in, line);) {
        const std::size_t at = line.find("Collected :");
        if (at == std::string::npos) continue;
        total += std::strtod(line.c_str() + at + 11, nullptr);
        counted = true;
      }
    }
    if (!counted) {
      Failure = "callgrind reported no count for " + what;
      return std::nullopt;
    }
  }
  return total;
}

// Counts the instructions of both sides of Work, once each, after the timed benchmarks.
void RegisterInstructions(const std::string& Work, const TSide& Ours, const TSide& Baseline,
                          const fs::path& Logs) {
  RegisterCount(Work + "/instructions", [=] {
    TCounts counts;
    const std::optional<double> ours = CountInstructions(Ours, Logs, counts.Failure);
    const std::optional<double> baseline =
        ours ? CountInstructions(Baseline, Logs, counts.Failure) : std::nullopt;
    if (ours && baseline) counts = {*ours, *baseline};
    return counts;
  });
}

// Both sides of a pair run in turn, run by run, so that a change in the machine's load
// between runs falls on both alike instead of on one block of runs. The ours row runs them,
// the other side first every second run, and keeps the baseline's times; the baseline row
// then hands on those times in the same order (running for itself only past their end).
struct TPair {
  TSide Ours, Baseline;
  TClock Clock;
  std::deque<double> BaselineTimes = {};
  unsigned Runs = 0;
};

void BM_Ours(benchmark::State& state, TPair* Pair) {
  std::string failure;
  for (auto _ : state) {
    const bool baselineFirst = Pair->Runs++ % 2 == 1;
    double baseline = baselineFirst ? RunSide(Pair->Baseline, Pair->Clock, failure) : 0;
    const double ours = RunSide(Pair->Ours, Pair->Clock, failure);
    if (!baselineFirst && ours >= 0) baseline = RunSide(Pair->Baseline, Pair->Clock, failure);
    if (ours < 0 || baseline < 0) {
      state.SkipWithError(failure.c_str());
      break;
    }
    Pair->BaselineTimes.push_back(baseline);
    state.SetIterationTime(ours);
  }
}

void BM_Baseline(benchmark::State& state, TPair* Pair) {
  std::string failure;
  for (auto _ : state) {
    double seconds = 0;
    if (!Pair->BaselineTimes.empty()) {
      seconds = Pair->BaselineTimes.front();
      Pair->BaselineTimes.pop_front();
    } else {
      seconds = RunSide(Pair->Baseline, Pair->Clock, failure);
    }
    if (seconds < 0) {
      state.SkipWithError(failure.c_str());
      break;
    }
    state.SetIterationTime(seconds);
  }
}

// Runs both sides once untimed, which also leaves every output in place, so that each timed
// run replaces files as a repeated command does. Registers the pair only when both succeed.
// Both rows take Iterations runs per repetition, so that the baseline's times are used up.
void RegisterPair(const std::string& Work, const TSide& Ours, const TSide& Baseline, TClock Clock,
                  int Iterations = 10) {
  std::string failure;
  if (RunSide(Ours, Clock, failure) < 0 || RunSide(Baseline, Clock, failure) < 0) {
    NoteSkipped(Work, failure);
    return;
  }
  static std::deque<TPair> pairs;  // lives as long as the registered benchmarks
  TPair* pair = &pairs.emplace_back(TPair{Ours, Baseline, Clock});
  benchmark::RegisterBenchmark((Work + "/ours").c_str(), BM_Ours, pair)
      ->UseManualTime()
      ->Iterations(Iterations)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark((Work + "/baseline").c_str(), BM_Baseline, pair)
      ->UseManualTime()
      ->Iterations(Iterations)
      ->Unit(benchmark::kMillisecond);
}

// openssl making a P-256 leaf into Dir, self-signed or as Signer's options say; Suffix ends
// the output names.
TArgv OpensslLeaf(const fs::path& Dir, const TArgv& Signer, const std::string& Suffix = "") {
  TArgv argv{"openssl",
             "req",
             "-x509",
             "-newkey",
             "ec",
             "-pkeyopt",
             "ec_paramgen_curve:P-256",
             "-nodes",
             "-subj",
             "/CN=bench.example",
             "-addext",
             "subjectAltName=DNS:bench.example"};
  argv.insert(argv.end(), Signer.begin(), Signer.end());
  argv.insert(argv.end(), {"-keyout", (Dir / "leaf.key").string() + Suffix, "-out",
                           (Dir / "leaf.crt").string() + Suffix, "-days", "365"});
  return argv;
}

// A count from the environment variable Name, or Default; small counts try the rows out.
int CountFrom(const char* Name, int Default) {
  const char* value = std::getenv(Name);
  const int count = value ? std::atoi(value) : 0;
  return count > 0 ? count : Default;
}

// Lines of JSON, one CA-signed P-256 leaf with its key file each.
fs::path WriteBatch(const fs::path& Scratch, int Lines) {
  const fs::path file = Scratch / ("batch-" + std::to_string(Lines) + ".jsonl");
  std::ofstream out(file);
  for (int i = 1; i <= Lines; ++i)
    out << "{\"cn\":\"h" << i << ".example\",\"out-cert\":\"h" << i << ".crt\",\"out-key\":\"h" << i
        << ".key\"}\n";
  return file;
}

TArgv BatchRun(const std::string& Cli, const fs::path& File, const fs::path& Store,
               const fs::path& CACert, const fs::path& CAKey, int Jobs) {
  return {Cli,          "batch", File,    "--store",  Store,    "--sign-with",       CACert,
          "--sign-key", CAKey,   "--key", "ec:P-256", "--jobs", std::to_string(Jobs)};
}

// Many certificates in one process against what a script does without it: openssl once for
// the request and its key, once to sign it, per certificate. Each run starts from an empty
// folder. VELMORA_BENCH_BATCH_LINES (1000) sets the count.
void RegisterBatch(const fs::path& Scratch, const std::string& Cli, const fs::path& CACert,
                   const fs::path& CAKey) {
  const int lines = CountFrom("VELMORA_BENCH_BATCH_LINES", 1000);
  const fs::path file = WriteBatch(Scratch, lines);
  const fs::path ours = Scratch / "batch-ours", theirs = Scratch / "batch-openssl";
  const TSide jobs1{{BatchRun(Cli, file, ours, CACert, CAKey, 1)}, {}, ours};
  const TSide jobs2{{BatchRun(Cli, file, ours, CACert, CAKey, 2)}, {}, ours};
  const std::string loop =
      "for i in $(seq 1 \"$1\"); do openssl req -new -newkey ec -pkeyopt "
      "ec_paramgen_curve:P-256 -nodes -subj \"/CN=h$i.example\" -addext "
      "\"subjectAltName=DNS:h$i.example\" -keyout \"$2/h$i.key\" 2>/dev/null | openssl x509 "
      "-req -CA \"$3\" -CAkey \"$4\" -days 365 -copy_extensions copy -out \"$2/h$i.crt\" "
      "2>/dev/null || exit 1; done";
  const TSide openssl{
      {{"sh", "-c", loop, "sh", std::to_string(lines), theirs, CACert, CAKey}}, {}, theirs};
  const std::string name = "CLI-batch";
  RegisterPair(name + "-vs-openssl-loop/cpu", jobs1, openssl, TClock::Cpu, 1);
  RegisterPair(name + "-jobs2-vs-jobs1/wall", jobs2, jobs1, TClock::Wall, 1);
}

// The largest resident set of one batch of VELMORA_BENCH_BATCH_MEMORY_LINES (100,000) lines,
// P-256 keys, no bundles, beside its budget.
void ReportBatchMemory(const fs::path& Scratch, const std::string& Cli) {
  const int lines = CountFrom("VELMORA_BENCH_BATCH_MEMORY_LINES", 100000);
  const fs::path ca = Scratch / "ca";
  const TRunCost cost = RunToEnd(BatchRun(Cli, WriteBatch(Scratch, lines), Scratch / "batch-memory",
                                          ca / "ca.crt", ca / "ca.key", 2));
  if (cost.ExitStatus != 0) {
    std::printf("CLI-batch-memory: the batch ended with status %d\n", cost.ExitStatus);
    return;
  }
  const double mb = static_cast<double>(cost.MaxResidentBytes) / (1024 * 1024);
  std::printf("CLI-batch-memory: %d lines, largest resident set %.1f MB, budget %.0f MB%s\n", lines,
              mb, kMaxBatchResidentBytes / (1024.0 * 1024),
              cost.MaxResidentBytes > kMaxBatchResidentBytes ? "  OVER" : "");
}

void RegisterAll(const fs::path& Scratch) {
  const std::string cli = VELMORA_CLI;
  const fs::path ca = Scratch / "ca";
  const fs::path caCert = ca / "ca.crt", caKey = ca / "ca.key";
  std::string failure;
  const TSide makeCA{{{cli, "cert", "--store", ca, "--cn", "Velmora Bench CA", "--ca", "--ku",
                       "keyCertSign,cRLSign", "--eku", "", "--out-cert", "ca.crt", "--out-key",
                       "ca.key", "--force"}}};
  const bool haveCA = RunSide(makeCA, TClock::Wall, failure) >= 0;

  // A self-signed P-256 certificate with its key, both as PEM.
  const fs::path oursSelf = Scratch / "ours-selfsigned",
                 theirsSelf = Scratch / "openssl-selfsigned";
  fs::create_directories(theirsSelf);
  const TSide cliSelf{{{cli, "cert", "--store", oursSelf, "--cn", "bench.example", "--dns",
                        "bench.example", "--force"}}};
  const TSide opensslSelf{{OpensslLeaf(theirsSelf, {})}};
  const fs::path logs = Scratch / "callgrind";
  RegisterPair("CLI-cert-selfsigned/wall", cliSelf, opensslSelf, TClock::Wall);
  RegisterPair("CLI-cert-selfsigned/cpu", cliSelf, opensslSelf, TClock::Cpu);
  RegisterPair("CLI-cert-selfsigned/user", cliSelf, opensslSelf, TClock::User);
  RegisterInstructions("CLI-cert-selfsigned", cliSelf, opensslSelf, logs);

  // Ours writes each output to a temporary file, flushes it to disk, renames it over the old
  // one and flushes the store folder, so that a crash never leaves a half-written key or an
  // old name; openssl writes its files in place and leaves them to the page cache. Here the
  // baseline is openssl followed by the same publishing of its two files, so ours against it
  // is the gap that is not the flush. The flush's share of CLI-cert-selfsigned/wall's gap is
  // this row's baseline less that row's baseline, over that row's ours less its baseline. On
  // a folder in memory (tmpfs) the flush costs next to nothing.
  RegisterPair(
      "CLI-cert-selfsigned-durable/wall", cliSelf,
      {{OpensslLeaf(theirsSelf, {}, ".new")}, {theirsSelf / "leaf.crt", theirsSelf / "leaf.key"}},
      TClock::Wall);

  // A leaf signed by a CA read from PEM files, with a PKCS#12 bundle holding the chain;
  // openssl needs a second process for the bundle. Ours reads every bundle it writes back
  // with its password (the key and the certificate must come out as they went in), which
  // repeats the bundle's key derivations; openssl's side does the same with a third process,
  // so the row compares the same assurance.
  if (haveCA) {
    const fs::path oursCA = Scratch / "ours-casigned", theirsCA = Scratch / "openssl-casigned";
    fs::create_directories(theirsCA);
    const TSide cliCA{{{cli, "cert", "--store", oursCA, "--cn", "bench.example", "--dns",
                        "bench.example", "--sign-with", caCert, "--sign-key", caKey, "--p12",
                        "leaf.p12", "--p12-pass", "pass:x", "--force"}}};
    const TSide opensslCA{{OpensslLeaf(theirsCA, {"-CA", caCert, "-CAkey", caKey}),
                           {"openssl", "pkcs12", "-export", "-inkey", theirsCA / "leaf.key", "-in",
                            theirsCA / "leaf.crt", "-certfile", caCert, "-passout", "pass:x",
                            "-out", theirsCA / "leaf.p12"},
                           {"openssl", "pkcs12", "-in", theirsCA / "leaf.p12", "-passin", "pass:x",
                            "-noenc", "-out", theirsCA / "readback.pem"}}};
    RegisterPair("CLI-cert-casigned-p12/wall", cliCA, opensslCA, TClock::Wall);
    RegisterPair("CLI-cert-casigned-p12/cpu", cliCA, opensslCA, TClock::Cpu);
    RegisterPair("CLI-cert-casigned-p12/user", cliCA, opensslCA, TClock::User);
    RegisterInstructions("CLI-cert-casigned-p12", cliCA, opensslCA, logs);

    // Signing somebody's P-256 request: ours reads and verifies it, prints what it takes from
    // it and writes the certificate durably; openssl copies its extensions and signs.
    const fs::path request = Scratch / "request.csr", theirsSign = Scratch / "openssl-sign";
    fs::create_directories(theirsSign);
    const TSide makeRequest{
        {{"openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
          "-nodes", "-keyout", Scratch / "request.key", "-out", request, "-subj",
          "/CN=bench.example", "-addext", "subjectAltName=DNS:bench.example"}}};
    if (RunSide(makeRequest, TClock::Wall, failure) >= 0) {
      const TSide cliSign{
          {{cli, "sign", request, "--sign-with", caCert, "--sign-key", caKey, "--store",
            Scratch / "ours-sign", "--out-cert", "leaf.crt", "--force"}}};
      const TSide opensslSign{
          {{"openssl", "x509", "-req", "-in", request, "-CA", caCert, "-CAkey", caKey,
            "-copy_extensions", "copy", "-days", "365", "-out", theirsSign / "leaf.crt"}}};
      RegisterPair("CLI-sign-request/wall", cliSign, opensslSign, TClock::Wall);
      RegisterPair("CLI-sign-request/cpu", cliSign, opensslSign, TClock::Cpu);
      RegisterPair("CLI-sign-request/user", cliSign, opensslSign, TClock::User);
      RegisterInstructions("CLI-sign-request", cliSign, opensslSign, logs);
    } else {
      NoteSkipped("CLI-sign-request", "the request was not made: " + failure);
    }
    RegisterBatch(Scratch, cli, caCert, caKey);
  } else {
    NoteSkipped("CLI-cert-casigned-p12", "the CA was not made: " + failure);
  }

  // Start-up alone. Its budget is a time (BenchBudgets.h: 10 ms for ours' median); openssl
  // printing its version is the floor it reads against, a program of the same kind on the
  // same libcrypto.
  RegisterPair("CLI-version", {{{cli, "--version"}}}, {{{"openssl", "version"}}}, TClock::Wall);
}

// The children's per-user folders, in a folder of their own that goes when we end, however
// we end (Google Benchmark's --help exits from within).
struct TScratch {
  fs::path Dir;
  TScratch() {
    std::string pattern = (fs::temp_directory_path() / "velmora-bench-cli-XXXXXX").string();
    if (::mkdtemp(pattern.data())) Dir = pattern;
  }
  ~TScratch() {
    std::error_code ignored;
    if (!Dir.empty()) fs::remove_all(Dir, ignored);
  }
};

}  // namespace

int main(int argc, char** argv) {
  static const TScratch scratch;
  if (scratch.Dir.empty()) {
    std::perror("velmora-bench-cli: temporary folder");
    return 1;
  }
  ::setenv("HOME", scratch.Dir.c_str(), 1);
  UseScratchHome(scratch.Dir);
  ::unsetenv("QT_QPA_PLATFORM");  // as in a terminal where nobody chose a Qt platform
  RegisterAll(scratch.Dir);
  const int status = RunBenchmarksWithSummary(argc, argv);
  if (Selected("CLI-batch-memory")) ReportBatchMemory(scratch.Dir, VELMORA_CLI);
  return status;
}
