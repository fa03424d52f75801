#include "cli/Issue.h"

#include "cli/Command.h"
#include "core/FailureText.h"
#include "core/StorePaths.h"
#include "core/ValueConventions.h"

#include <cctype>
#include <charconv>
#include <cstdio>

namespace velmora::cli {

namespace {

// The curves a certificate's key may use everywhere: the NIST curves that TLS and every
// X.509 verifier take, by each of the names OpenSSL and the standards give them. libcrypto
// offers more (SM2, the Brainpool and Koblitz curves), but a certificate on one of those is
// refused by most verifiers, so they are not taken at all.
struct TCurveName {
  const char* Name;
  const char* Curve;  // as the window names it
};
constexpr TCurveName kCurveNames[] = {
    {"P-256", "P-256"},     {"prime256v1", "P-256"}, {"secp256r1", "P-256"}, {"P-384", "P-384"},
    {"secp384r1", "P-384"}, {"P-521", "P-521"},      {"secp521r1", "P-521"},
};

bool SameIgnoringCase(const std::string& A, const char* B) {
  std::size_t i = 0;
  for (; i < A.size() && B[i] != '\0'; ++i)
    if (std::tolower(static_cast<unsigned char>(A[i])) !=
        std::tolower(static_cast<unsigned char>(B[i])))
      return false;
  return i == A.size() && B[i] == '\0';
}

}  // namespace

TKeyChoice ParseKeyChoice(const std::string& Choice) {
  TKeyChoice key;
  for (const char* algorithm : {kEd25519, kEd448})
    if (SameIgnoringCase(Choice, algorithm)) {
      key.Type = ktEdwards;
      key.EdAlgorithm = algorithm;
      return key;
    }
  if (Choice.rfind("ec:", 0) == 0 && Choice.size() > 3) {
    const std::string curve = Choice.substr(3);
    for (const TCurveName& name : kCurveNames)
      if (SameIgnoringCase(curve, name.Name)) {
        key.Curve = name.Curve;
        return key;
      }
    throw UsageError("Unknown curve " + Readable(Quoted(curve)) +
                     ": use ec:P-256, ec:P-384 or ec:P-521 (also named prime256v1 or "
                     "secp256r1, secp384r1, secp521r1).");
  }
  if (Choice.rfind("rsa:", 0) == 0) {
    const char* first = Choice.data() + 4;
    const char* last = Choice.data() + Choice.size();
    const auto [end, error] = std::from_chars(first, last, key.RSABits);
    if (error == std::errc::result_out_of_range ||
        (error == std::errc() && end == last &&
         (key.RSABits < kMinRSABits || key.RSABits > kMaxRSABits)))
      throw UsageError("Invalid key " + Readable(Quoted(Choice)) + ": an RSA key has " +
                       std::to_string(kMinRSABits) + " to " + std::to_string(kMaxRSABits) +
                       " bits.");
    if (error == std::errc() && end == last && first != last) {
      key.Type = ktRSA;
      return key;
    }
  }
  throw UsageError("Invalid key " + Readable(Quoted(Choice)) +
                   ": use rsa:BITS, ec:CURVE, ed25519 or ed448.");
}

void GenerateKey(TCertBuilder& Builder, const TKeyChoice& Key) {
  Builder.KeyType = Key.Type;
  Builder.RSABits = Key.RSABits;
  Builder.ECCurve = Key.Curve;
  Builder.EdAlgorithm = Key.EdAlgorithm;
  try {
    Builder.GenerateKey();
  } catch (const Exception& e) {
    throw Exception(KeyFailedText(e.what()), e.Cause());
  }
}

void CheckRequestBuilds(const TCertRequest& Request) {
  TCertBuilder trial;
  GenerateKey(trial, {});
  try {
    ApplyRequestToBuilder(Request, trial);
    trial.BuildSelfSigned();
  } catch (const Exception& e) {
    throw Exception(CertificateFailedText(e.what()), e.Cause());
  }
}

TIssueSink StandardIssueSink() {
  return {[](const std::string& Line) { std::printf("%s\n", Line.c_str()); },
          [](const std::string& Finding) {
            std::fflush(stdout);  // the warnings stand where they arise among the log lines
            std::fprintf(stderr, "Warning: %s\n", Finding.c_str());
          }};
}

void Issue(TCertBuilder& Builder, const TCertRequest& Request, const TIssueRequest& Issue,
           const TIssuePasswords& Passwords, bool Force, bool Strict, const TIssueSink& Sink) {
  std::vector<std::string> refused;
  bool refusedByStrict = false;
  const TIssueEvents events{Sink.Log,
                            [&](const std::vector<std::string>& Names, const std::string&) {
                              if (!Force) refused = Names;
                              return Force;
                            },
                            [&](const std::vector<std::string>& Findings) {
                              for (const std::string& finding : Findings) Sink.Warn(finding);
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
    throw Exception(CertificateFailedText(e.what()), e.Cause());
  }
  if (refusedByStrict)
    throw Exception(
        CertificateFailedText("The checks before issuing found problems, and --strict refuses "
                              "to issue such a certificate."));
  std::string names;
  for (const std::string& name : refused) names += (names.empty() ? "" : ", ") + Readable(name);
  throw Exception(CertificateFailedText("These files already exist in the store: " + names +
                                        ". Use --force to replace them."));
}

}  // namespace velmora::cli
