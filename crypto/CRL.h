// Certificate revocation lists: reading one into a read-only view, so that code outside crypto
// can show and check a CRL without calling libcrypto itself, and signing a new one with a CA's
// key. The last signed CRL is the whole record of a CA's revocations; a new one is made from
// its entries.
#pragma once

#include "crypto/CertificateView.h"
#include "crypto/OpenSSLWrapper.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The reasons a revocation may give, with RFC 5280's numbers.
enum class TRevocationReason : std::uint8_t {
  Unspecified = 0,
  KeyCompromise = 1,
  CACompromise = 2,
  AffiliationChanged = 3,
  Superseded = 4,
  CessationOfOperation = 5,
};

// Every reason the program offers, in RFC 5280's order.
const std::vector<TRevocationReason>& RevocationReasons();
// "unspecified", "keyCompromise", ... as RFC 5280 spells them.
const char* RevocationReasonName(TRevocationReason Reason) noexcept;
// The reason of that name (exact spelling); none for any other text.
std::optional<TRevocationReason> RevocationReasonByName(std::string_view Name) noexcept;

// One revoked certificate as a CRL lists it. A reason code the program does not offer
// (certificateHold, privilegeWithdrawn, ...) is shown by its number.
struct TRevokedEntry {
  std::string SerialHex;  // upper-case hex, as TCertificateView::SerialHex
  std::optional<std::time_t> Date;
  std::string ReasonText;  // "keyCompromise"; "unspecified" for an entry without a reason
};

// The first CRL in Bytes: a PEM block ("X509 CRL") wherever it stands, otherwise DER that
// fills Bytes exactly. Null when neither reads; nothing is left in the error queue.
X509_CRLPtr ReadCRLPEMOrDER(const std::string& Bytes);

class TCRLView;
// ReadCRLPEMOrDER's CRL, as a view; none when nothing reads.
std::optional<TCRLView> ReadCRLView(const std::string& Bytes);

class TCRLView {
 public:
  // CRL must not be null.
  explicit TCRLView(X509_CRLPtr CRL);

  // Borrowed; the view keeps ownership.
  X509_CRL* Handle() const noexcept { return FCRL.get(); }

  // On one line, as TCertificateView::IssuerText prints a certificate's.
  std::string IssuerText() const;
  std::optional<std::time_t> ThisUpdate() const;
  std::optional<std::time_t> NextUpdate() const;
  // The CRL number in decimal; empty when it has none or it cannot be read.
  std::string NumberText() const;
  std::size_t EntryCount() const noexcept;
  // The first Max entries in the CRL's order.
  std::vector<TRevokedEntry> Entries(std::size_t Max) const;
  // The entry for Cert's serial, when Cert's issuer is this CRL's issuer and it is listed.
  std::optional<TRevokedEntry> EntryFor(const TCertificateView& Cert) const;
  // Whether CA signed this CRL: CA's subject is the CRL's issuer and the signature verifies
  // under CA's key. False for anything that cannot be checked.
  bool IsSignedBy(const TCertificateView& CA) const;
  // The CRL as PEM text; empty when it cannot be written.
  std::string PEM() const;

 private:
  X509_CRLPtr FCRL;
};

// What a newly signed CRL holds, for reporting it without reading it again.
struct TSignedCRLFacts {
  std::string NumberText;  // decimal
  std::size_t EntryCount = 0;
};

// A CA certificate with its private key, ready to sign revocation lists.
class TCRLSigner {
 public:
  // Reads both; raises Exception with kStepReadCACert or kStepReadCAKey as the cause when one
  // does not read (a wrong password among them), and "The CA private key does not belong to the
  // CA certificate." when they are not one pair.
  TCRLSigner(const std::string& CACertPEM, const std::string& CAKeyPEM,
             const std::string& CAKeyPassword);

  const TCertificateView& CA() const noexcept { return FCA; }

  // A CRL of this CA valid from Now for Days days: Previous's entries (when given) and, when
  // Revoke is given, an entry for Revoke dated Now with Reason (none for unspecified, as
  // RFC 5280 asks); its number one more than Previous's (1 without one), the authority key
  // identifier of the CA, signed with the digest this CA signs certificates with (none for
  // Edwards keys). Returns it as PEM, its number and entry count in Facts when given; raises
  // Exception for a failed step.
  std::string Sign(const TCRLView* Previous, const TCertificateView* Revoke,
                   TRevocationReason Reason, std::int32_t Days, std::time_t Now,
                   TSignedCRLFacts* Facts = nullptr) const;

 private:
  TCertificateView FCA;
  EVP_PKEYPtr FKey;
};

// A CRL distribution points extension with one full-name URI. Raises Exception "The CRL URL
// "<URL>" is not a URL: ..." for an empty text or one with blanks, control or non-ASCII
// characters (an IA5String holds none of them).
X509_EXTENSIONPtr NewCRLDistributionPointExtension(const std::string& URL);

}  // namespace velmora
