#include "cli/Issue.h"

#include "cli/Command.h"
#include "core/StorePaths.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstdio>

namespace velmora::cli {

TKeyChoice ParseKeyChoice(const std::string& Choice) {
  TKeyChoice key;
  if (Choice.rfind("ec:", 0) == 0 && Choice.size() > 3) {
    key.Curve = Choice.substr(3);
    return key;
  }
  if (Choice.rfind("rsa:", 0) == 0) {
    const char* first = Choice.data() + 4;
    const char* last = Choice.data() + Choice.size();
    const auto [end, error] = std::from_chars(first, last, key.RSABits);
    if (error == std::errc() && end == last && first != last && key.RSABits > 0) {
      key.Type = ktRSA;
      return key;
    }
  }
  throw UsageError("Invalid key \"" + Choice + "\": use rsa:BITS or ec:CURVE.");
}

void GenerateKey(TCertBuilder& Builder, const TKeyChoice& Key) {
  Builder.KeyType = Key.Type;
  Builder.RSABits = Key.RSABits;
  Builder.ECCurve = Key.Curve;
  try {
    Builder.GenerateKey();
  } catch (const Exception& e) {
    throw Exception(std::string("Key generation failed:\n") + e.what());
  }
}

void Issue(TCertBuilder& Builder, const TCertRequest& Request, const TIssueRequest& Issue,
           const TIssuePasswords& Passwords, bool Force, bool Strict) {
  std::vector<std::string> refused;
  bool refusedByStrict = false;
  const TIssueEvents events{
      [](const std::string& Line) { std::printf("%s\n", Line.c_str()); },
      [&](const std::vector<std::string>& Names, const std::string&) {
        if (!Force) refused = Names;
        return Force;
      },
      [&](const std::vector<std::string>& Findings) {
        std::fflush(stdout);  // the warnings stand where they arise among the log lines
        for (const std::string& finding : Findings)
          std::fprintf(stderr, "Warning: %s\n", finding.c_str());
        refusedByStrict = Strict;
        return !Strict;
      }};
  try {
    ApplyRequestToBuilder(Request, Builder);
    CreateStoreDirectory(Issue.StoreDir);
    TIssueRequest issue = Issue;
    issue.ReplaceExisting = Force;
    if (IssueCertificate(Builder, issue, Passwords, events) == TIssueOutcome::Written) return;
  } catch (const Exception& e) {
    throw Exception(std::string("Certificate generation failed:\n") + e.what());
  }
  if (refusedByStrict)
    throw Exception(
        "Certificate generation failed:\nThe checks before issuing found problems, and --strict "
        "refuses to issue such a certificate.");
  std::string names;
  for (const std::string& name : refused) names += (names.empty() ? "" : ", ") + Readable(name);
  throw Exception("Certificate generation failed:\nThese files already exist in the store: " +
                  names + ". Use --force to replace them.");
}

bool IsIPAddress(const std::string& Text) {
  unsigned char address[16];
  return ::inet_pton(AF_INET, Text.c_str(), address) == 1 ||
         ::inet_pton(AF_INET6, Text.c_str(), address) == 1;
}

}  // namespace velmora::cli
