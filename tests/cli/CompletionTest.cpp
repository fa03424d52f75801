// The bash completion as a shell uses it (plain bash, without bash-completion's helpers): each
// subcommand completes its own options.
#include "tests/cli/CliFixture.h"

namespace velmora::test {
namespace {

struct TCompletionCase {
  const char* Line;
  const char* Replies;
};

class BashCompletion : public testing::TestWithParam<TCompletionCase> {};

TEST_P(BashCompletion, CompletesTheSubcommandsOptions) {
  ASSERT_EQ(MissingPrograms({"bash"}), "");
  // The line goes in through a file: it is the shell's own quoting that is tested.
  const TempDir dir;
  WriteFile(dir.File("line"), std::string(GetParam().Line));
  const TRun run = RunCommand(
      "bash -c 'source \"$0\"; COMP_LINE=$(cat \"$1\"); "
      "COMP_POINT=${#COMP_LINE}; _velmora_cli; echo \"${COMPREPLY[*]}\"' " +
      Quoted(VELMORA_COMPLETION_PATH) + " " + Quoted(dir.File("line")));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, std::string(GetParam().Replies) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BashCompletion,
    testing::Values(TCompletionCase{"velmora-cli re", "renew revoke"},
                    TCompletionCase{"velmora-cli revoke --re", "--reason"},
                    TCompletionCase{"velmora-cli revoke leaf.crt --reason key", "keyCompromise"},
                    TCompletionCase{"velmora-cli crl --crl", "--crl-days"},
                    TCompletionCase{"velmora-cli sign --sign-", "--sign-with --sign-key"},
                    TCompletionCase{"velmora-cli csr --out-", "--out-csr --out-key"},
                    TCompletionCase{"velmora-cli cert --crl", "--crl-url"},
                    TCompletionCase{"velmora-cli renew --re", "--rekey"},
                    TCompletionCase{"velmora-cli batch --stop", "--stop-on-error"},
                    TCompletionCase{"velmora-cli sign --crl", "--crl-url"}));

}  // namespace
}  // namespace velmora::test
