// The steps the cert and dev subcommands share: a key pair as the window makes one, then the
// certificate and its files as "Generate Certificate" makes them.
#pragma once

#include "core/CertRequest.h"
#include "core/Issuance.h"
#include "crypto/CertBuilder.h"

#include <string>

namespace velmora::cli {

struct TKeyChoice {
  TKeyType Type = ktECC;
  std::int32_t RSABits = 2048;
  std::string Curve = "P-256";
};

// "rsa:BITS" or "ec:CURVE"; raises UsageError for anything else.
TKeyChoice ParseKeyChoice(const std::string& Choice);

// Raises Exception "Key generation failed:\n<reason>".
void GenerateKey(TCertBuilder& Builder, const TKeyChoice& Key);

// Applies the request, makes the store folder and issues. Output names that would replace a
// private key or a bundle are refused unless Force. The findings of the checks before issuing
// go to stderr as "Warning: " lines; Strict then refuses to issue. Raises Exception
// "Certificate generation failed:\n<reason>"; prints the window's log lines to stdout.
void Issue(TCertBuilder& Builder, const TCertRequest& Request, const TIssueRequest& Issue,
           const TIssuePasswords& Passwords, bool Force, bool Strict = false);

// Whether Text is an IPv4 or IPv6 address, as an alternative name takes it.
bool IsIPAddress(const std::string& Text);

}  // namespace velmora::cli
