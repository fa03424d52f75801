// Revoking certificates and publishing a CA's revocation list, shared by the window and the
// command line. There is no database: the CA's last signed CRL, "<ca-stem>.crl" beside the CA
// certificate, is the record. Each change reads it, checks it was signed by the CA, signs a new
// one from its entries and replaces it atomically, under an advisory lock beside it, so that
// two writers at once cannot lose an entry.
#pragma once

#include "crypto/CRL.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace velmora {

inline constexpr std::int32_t kDefaultCRLDays = 30;
// A relying party caches a CRL until its next update: a list meant for years defeats revoking.
inline constexpr std::int32_t kMaxCRLDays = 3650;
// The most a CRL file may hold to be read: 100,000 entries take about 4 MB as PEM.
inline constexpr std::int64_t kMaxCRLFileSize = std::int64_t{64} * 1024 * 1024;

// The refusal for a CA certificate whose key usage leaves out signing revocation lists.
inline constexpr const char* kNoCRLSignText =
    "This CA certificate does not allow signing revocation lists (cRLSign).";

struct TCRLRequest {
  std::string CACertFile;  // paths as file name bytes
  std::string CAKeyFile;
  std::int32_t Days = kDefaultCRLDays;
  // For a revocation: the certificate to revoke and why. Empty for publishing a CRL.
  std::string CertFile;
  TRevocationReason Reason = TRevocationReason::Unspecified;
};

// What was written.
struct TCRLOutcome {
  std::string CRLFile;
  std::string Number;  // decimal
  std::size_t Entries = 0;
};

// The CA's CRL file: the CA certificate's path with ".crl" for its extension.
std::string CRLFileFor(const std::string& CACertFile);
// The lock that writers of CRLFile take, beside it.
std::string CRLLockFileFor(const std::string& CRLFile);

// Adds Request.CertFile to the CA's CRL and signs it again with a number one higher, valid for
// Request.Days from Now. Raises Exception with a plain sentence, and replaces nothing, for: a
// CA key that does not read (its cause kept) or does not belong to the CA certificate, a CA
// certificate that is no CA or does not allow cRLSign, a certificate file that is missing or
// holds no certificate, a certificate this CA did not issue or that the CRL already lists, and
// a CRL file that does not read or was not signed by this CA.
TCRLOutcome RevokeCertificate(const TCRLRequest& Request, const std::string& CAKeyPassword,
                              std::time_t Now = std::time(nullptr));
// Signs the CA's CRL again with the same entries (an empty one when there is none yet), with a
// number one higher, valid for Request.Days from Now. Raises as RevokeCertificate.
TCRLOutcome PublishCRL(const TCRLRequest& Request, const std::string& CAKeyPassword,
                       std::time_t Now = std::time(nullptr));

// Raises "The CRL's validity must be between 1 and 3650 days." for Days outside that range.
void RequireValidCRLDays(std::int32_t Days);

// "2026-12-11 05:30:33 UTC": a date in messages and the command line's output, the same for
// every user and time zone.
std::string UTCText(std::time_t When);

}  // namespace velmora
