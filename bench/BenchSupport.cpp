#include "bench/BenchSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

extern char** environ;

void UseScratchHome(const std::filesystem::path& Dir) {
  for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
    ::setenv(variable, (Dir / variable).c_str(), 1);
  if (!std::getenv("XDG_RUNTIME_DIR")) {
    const std::filesystem::path runtime = Dir / "XDG_RUNTIME_DIR";
    ::mkdir(runtime.c_str(), 0700);  // Qt accepts no other mode for it
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  }
}

void MakeStore(const std::filesystem::path& Dir, int Count) {
  std::filesystem::create_directories(Dir);
  for (int i = 0; i < Count; ++i) {
    const int kind = i % 10;
    const char* ext = kind < 4 ? ".crt" : kind < 7 ? ".key" : ".txt";
    const std::filesystem::path file = Dir / ("file" + std::to_string(i) + ext);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) continue;
    if (::write(fd, "x", 1) != 1) std::perror(file.c_str());
    ::close(fd);
  }
}

namespace {

std::vector<std::string> EnvironmentWith(const TChildProcess::TEnvironment& Overrides) {
  std::vector<std::string> result;
  for (char** variable = environ; *variable; ++variable) {
    const std::string entry = *variable;
    bool replaced = false;
    for (const auto& [name, value] : Overrides) replaced |= entry.starts_with(name + "=");
    if (!replaced) result.push_back(entry);
  }
  for (const auto& [name, value] : Overrides) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& Strings) {
  std::vector<char*> result;
  for (std::string& s : Strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// posix_spawn rather than fork: the benchmark programs have threads (Qt's among them), and
// the child must not run anything of ours between the fork and the exec.
pid_t Spawn(const std::vector<std::string>& Argv, const TChildProcess::TEnvironment& Overrides,
            const posix_spawn_file_actions_t* Actions) {
  std::vector<std::string> args = Argv;
  std::vector<std::string> environment = EnvironmentWith(Overrides);
  pid_t pid = -1;
  return posix_spawnp(&pid, args.front().c_str(), Actions, nullptr, Pointers(args).data(),
                      Pointers(environment).data()) == 0
             ? pid
             : -1;
}

double Seconds(const timeval& Time) { return Time.tv_sec + Time.tv_usec / 1e6; }

}  // namespace

TChildProcess::TChildProcess(const std::vector<std::string>& Argv, const TEnvironment& Overrides) {
  int toChild[2];
  int fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0) return;
  if (::pipe2(fromChild, O_CLOEXEC) != 0) {
    ::close(toChild[0]);
    ::close(toChild[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
  FPid = Spawn(Argv, Overrides, &actions);
  posix_spawn_file_actions_destroy(&actions);
  ::close(toChild[0]);
  ::close(fromChild[1]);
  FInput = toChild[1];
  FOutput = fromChild[0];
}

TChildProcess::~TChildProcess() { Wait(); }

std::optional<std::string> TChildProcess::ReadLine(int TimeoutMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    if (const std::size_t end = FPending.find('\n'); end != std::string::npos) {
      std::string line = FPending.substr(0, end);
      FPending.erase(0, end + 1);
      return line;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd ready{FOutput, POLLIN, 0};
    if (FOutput < 0 || left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0)
      return std::nullopt;
    char buffer[4096];
    const ssize_t got = ::read(FOutput, buffer, sizeof buffer);
    if (got <= 0) return std::nullopt;
    FPending.append(buffer, static_cast<std::size_t>(got));
  }
}

void TChildProcess::WriteLine(const std::string& Line) {
  const std::string text = Line + "\n";
  if (FInput < 0 || ::write(FInput, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
    std::perror("writing to a helper program");
}

int TChildProcess::Wait() {
  for (int* fd : {&FInput, &FOutput}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (FPid <= 0) return -1;
  int status = 0;
  while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
  }
  FPid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TRunCost RunToEnd(const std::vector<std::string>& Argv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  TRunCost cost;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = Spawn(Argv, {}, &actions);
  posix_spawn_file_actions_destroy(&actions);
  if (pid <= 0) return cost;
  // wait4 rather than the difference of getrusage(RUSAGE_CHILDREN) before and after: the
  // usage of this one child, whatever else we have waited for.
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  cost.WallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cost.UserSeconds = Seconds(usage.ru_utime);
  cost.CpuSeconds = cost.UserSeconds + Seconds(usage.ru_stime);
  cost.MaxResidentBytes = usage.ru_maxrss * 1024L;
  cost.ExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return cost;
}
