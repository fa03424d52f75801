#include "tests/cli/CliProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

extern char** environ;

namespace velmora::test {

namespace {

[[noreturn]] void Fail(const std::string& What) {
  throw std::system_error(errno, std::generic_category(), What);
}

// Descriptors of ours are made close-on-exec, so that a child sees only what it is given.
struct TPipe {
  TPipe() {
    if (::pipe2(Fd, O_CLOEXEC) != 0) Fail("pipe2");
  }
  ~TPipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() {
    if (Fd[0] >= 0) ::close(Fd[0]);
    Fd[0] = -1;
  }
  void CloseWrite() {
    if (Fd[1] >= 0) ::close(Fd[1]);
    Fd[1] = -1;
  }
  int Fd[2] = {-1, -1};
};

// argv and envp are made before fork: between fork and exec the child calls only what is
// safe there.
std::vector<char*> PointersTo(std::vector<std::string>& Strings) {
  std::vector<char*> pointers;
  for (std::string& s : Strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

pid_t Start(const std::string& Program, const std::vector<std::string>& Args, char** Env, int In,
            int Out, int Err, const std::vector<int>& Inherited, bool DieWithParent) {
  std::vector<std::string> argStrings{Program};
  argStrings.insert(argStrings.end(), Args.begin(), Args.end());
  std::vector<char*> argv = PointersTo(argStrings);
  const pid_t parent = ::getpid();
  const long openMax = ::sysconf(_SC_OPEN_MAX);
  const int maxFd = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536;
  const pid_t pid = ::fork();
  if (pid < 0) Fail("fork");
  if (pid > 0) return pid;
  // The runner ignores SIGPIPE for itself; an ignored signal would stay ignored in the
  // program it starts.
  ::signal(SIGPIPE, SIG_DFL);
  if (DieWithParent) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
  }
  if (::dup2(In, STDIN_FILENO) < 0 || ::dup2(Out, STDOUT_FILENO) < 0 ||
      ::dup2(Err, STDERR_FILENO) < 0)
    ::_exit(127);
  // Whatever the test program holds open stays with it (a runner may have leaked
  // descriptors to us); the child gets its three streams and what it was given.
  if (::close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) != 0)
    for (int fd = 3; fd < maxFd; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  for (const int fd : Inherited)
    if (::fcntl(fd, F_SETFD, 0) != 0) ::_exit(127);
  ::execve(Program.c_str(), argv.data(), Env);
  ::_exit(127);
}

int WaitFor(pid_t Pid) {
  int status = 0;
  while (::waitpid(Pid, &status, 0) < 0)
    if (errno != EINTR) Fail("waitpid");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string FindProgram(const std::string& Name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (dir.empty()) continue;
    const std::string candidate = dir + "/" + Name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

TProcessResult RunProcess(const std::string& Program, const std::vector<std::string>& Args,
                          const std::vector<std::string>& Env, const TChildInput& Input) {
  TPipe in, out, err;
  std::vector<std::string> envStrings = Env;
  std::vector<char*> envp = PointersTo(envStrings);
  const pid_t pid =
      Start(Program, Args, envp.data(), in.Fd[0], out.Fd[1], err.Fd[1], Input.InheritedFds, false);
  in.CloseRead();
  out.CloseWrite();
  err.CloseWrite();

  // The child may write before it reads, and either stream may fill: feed the input and
  // drain both outputs together.
  ::signal(SIGPIPE, SIG_IGN);
  std::size_t fed = 0;
  if (Input.Stdin.empty()) in.CloseWrite();
  TProcessResult result;
  for (;;) {
    pollfd fds[3] = {{out.Fd[0], POLLIN, 0}, {err.Fd[0], POLLIN, 0}, {in.Fd[1], POLLOUT, 0}};
    if (out.Fd[0] < 0 && err.Fd[0] < 0) break;
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      Fail("poll");
    }
    if (fds[2].revents != 0) {
      const ssize_t n = ::write(in.Fd[1], Input.Stdin.data() + fed, Input.Stdin.size() - fed);
      if (n > 0) fed += static_cast<std::size_t>(n);
      if (n < 0 || fed == Input.Stdin.size()) in.CloseWrite();
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.Out : result.Err).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        (i == 0 ? out : err).CloseRead();
      }
    }
  }
  in.CloseWrite();
  result.Status = WaitFor(pid);
  return result;
}

TBackgroundProcess::TBackgroundProcess(const std::string& Program,
                                       const std::vector<std::string>& Args,
                                       const std::string& LogFile) {
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (in < 0) Fail("open /dev/null");
  const int log = ::open(LogFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (log < 0) {
    ::close(in);
    Fail("open " + LogFile);
  }
  try {
    FPid = Start(Program, Args, environ, in, log, log, {}, true);
  } catch (...) {
    ::close(in);
    ::close(log);
    throw;
  }
  ::close(in);
  ::close(log);
}

TBackgroundProcess::~TBackgroundProcess() {
  if (FPid <= 0) return;
  ::kill(FPid, SIGKILL);
  int status = 0;
  while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
  }
}

bool TBackgroundProcess::Running() {
  if (FPid <= 0) return false;
  int status = 0;
  if (::waitpid(FPid, &status, WNOHANG) == 0) return true;
  FPid = -1;  // reaped: nothing left to end
  return false;
}

bool WaitUntilAccepting(int Port, TBackgroundProcess& Server) {
  // A bound on a wait for readiness, not a measurement: a loaded machine gets all of it.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < giveUp) {
    if (!Server.Running()) return false;
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) Fail("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(Port));
    const bool accepted = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(s);
    if (accepted) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TFileTree FilesUnder(const std::filesystem::path& Root) {
  namespace fs = std::filesystem;
  TFileTree files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(Root)) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    files[fs::relative(entry.path(), Root).string()] = ReadFileText(entry.path());
  }
  return files;
}

std::set<std::string> ChangedFiles(const TFileTree& Before, const TFileTree& After) {
  std::set<std::string> changed;
  for (const auto& [name, contents] : After) {
    const auto old = Before.find(name);
    if (old == Before.end() || old->second != contents) changed.insert(name);
  }
  for (const auto& [name, contents] : Before)
    if (After.find(name) == After.end()) changed.insert(name);
  return changed;
}

std::string ReadFileText(const std::filesystem::path& Path) {
  std::ifstream file(Path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + Path.string());
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

}  // namespace velmora::test
