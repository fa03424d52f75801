// The fixture of the command-line tests: a fresh folder per test with a home of its own, and
// velmora-cli run in an environment made from nothing, so that the user's real settings and
// store are never read or touched.
#pragma once

#include "tests/cli/CliProcess.h"
#include "tests/support/CryptoFixtures.h"
#include "tests/support/RunCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora::test {

class CliTest : public testing::Test {
 protected:
  CliTest();

  // velmora-cli with Args; ExtraEnv ("NAME=value") is added to the fixture's environment.
  TProcessResult Cli(const std::vector<std::string>& Args,
                     const std::vector<std::string>& ExtraEnv = {},
                     const TChildInput& Input = {}) const;

  // The environment every run gets. Made from nothing: in particular QT_QPA_PLATFORM,
  // DISPLAY and WAYLAND_DISPLAY are never set, because the command line must work on a
  // machine without any display; HOME and the XDG folders lie inside Root().
  std::vector<std::string> Environment() const;

  const std::filesystem::path& Root() const { return FRoot.Path(); }
  std::string At(const std::string& Relative) const { return FRoot.File(Relative); }
  // ~/.config as the program sees it.
  std::string ConfigDir() const { return At("home/.config"); }

 private:
  TempDir FRoot;
};

// The names among Programs that PATH does not hold, comma-separated; empty when all are there.
std::string MissingPrograms(const std::vector<std::string>& Programs);

// The exit status and output of `openssl ARGS` (both streams together).
TRun OpenSSL(const std::string& Args);

// st_mode's permission bits of Path.
unsigned PermissionsOf(const std::string& Path);

}  // namespace velmora::test
