#include "tests/cli/CliFixture.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace velmora::test {

CliTest::CliTest() {
  std::filesystem::create_directories(ConfigDir());
  std::filesystem::create_directories(At("home/.local/share"));
}

std::vector<std::string> CliTest::Environment() const {
  std::vector<std::string> env{
      "HOME=" + At("home"),
      "XDG_CONFIG_HOME=" + ConfigDir(),
      "XDG_DATA_HOME=" + At("home/.local/share"),
      "XDG_CACHE_HOME=" + At("home/.cache"),
      // Settings of the whole system are read too; the test's own empty folders stand in.
      "XDG_CONFIG_DIRS=" + At("etc-xdg"),
      "XDG_DATA_DIRS=" + At("usr-share"),
      "PATH=/usr/local/bin:/usr/bin:/bin",
      // Dates and messages come out the same on every machine.
      "TZ=UTC",
      "LC_ALL=C.UTF-8",
  };
  // A sanitizer build of the program takes its options from where the suite's run gives them.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  return env;
}

TProcessResult CliTest::Cli(const std::vector<std::string>& Args,
                            const std::vector<std::string>& ExtraEnv,
                            const TChildInput& Input) const {
  std::vector<std::string> env = Environment();
  env.insert(env.end(), ExtraEnv.begin(), ExtraEnv.end());
  return RunProcess(VELMORA_CLI_PATH, Args, env, Input);
}

std::string MissingPrograms(const std::vector<std::string>& Programs) {
  std::string missing;
  for (const std::string& program : Programs)
    if (FindProgram(program).empty()) missing += (missing.empty() ? "" : ", ") + program;
  return missing;
}

TRun OpenSSL(const std::string& Args) { return RunCommand("openssl " + Args); }

unsigned PermissionsOf(const std::string& Path) {
  struct stat info {};
  if (::stat(Path.c_str(), &info) != 0) return ~0u;
  return info.st_mode & 07777;
}

}  // namespace velmora::test
