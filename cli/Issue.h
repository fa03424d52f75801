// The steps the cert and dev subcommands share: a key pair as the window makes one, then the
// certificate and its files as "Generate Certificate" makes them.
#pragma once

#include "core/CertRequest.h"
#include "core/Defaults.h"
#include "core/Issuance.h"
#include "crypto/CertBuilder.h"

#include <functional>
#include <string>

namespace velmora::cli {

struct TKeyChoice {
  TKeyType Type = ktECC;
  std::int32_t RSABits = kDefaultRSABits;
  std::string Curve = kDefaultECCurve;
  std::string EdAlgorithm = kEd25519;
};

// The RSA key sizes taken: below, a key is broken today; above, it takes hours to make and
// most programs refuse to load it.
inline constexpr std::int32_t kMinRSABits = 1024;
inline constexpr std::int32_t kMaxRSABits = 16384;

// "rsa:BITS" with BITS from kMinRSABits to kMaxRSABits, or "ec:CURVE" with one of the names of
// P-256, P-384 or P-521 (prime256v1, secp256r1, secp384r1, secp521r1; letter case does not
// matter), or "ed25519" or "ed448" (letter case does not matter either); raises UsageError for
// anything else.
TKeyChoice ParseKeyChoice(const std::string& Choice);

// Builds Request once, self-signed on a throwaway P-256 key, so that whatever the builder
// refuses (a subject value that does not fit its field, an IP address that is none) is found
// before a key is made that may take minutes. Raises as Issue does.
void CheckRequestBuilds(const TCertRequest& Request);

// Raises Exception "Key generation failed:\n<reason>".
void GenerateKey(TCertBuilder& Builder, const TKeyChoice& Key);

// Where the log lines of an issuance and the findings of its checks go.
struct TIssueSink {
  std::function<void(const std::string&)> Log;
  std::function<void(const std::string&)> Warn;
};

// Log lines to stdout, each finding to stderr as a "Warning: " line.
TIssueSink StandardIssueSink();

// Applies the request, makes the store folder and issues. Output names that would replace a
// private key or a bundle are refused unless Force. The findings of the checks before issuing
// go to Sink's Warn; Strict then refuses to issue. Raises Exception
// "Certificate generation failed:\n<reason>"; the window's log lines go to Sink's Log.
void Issue(TCertBuilder& Builder, const TCertRequest& Request, const TIssueRequest& Issue,
           const TIssuePasswords& Passwords, bool Force, bool Strict = false,
           const TIssueSink& Sink = StandardIssueSink());

}  // namespace velmora::cli
