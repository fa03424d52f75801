// TCertificateView: a read-only view of one X.509 certificate, for code outside crypto that
// shows or compares certificates without calling libcrypto itself. A request view and a CRL
// view belong beside it, in the same style.
#pragma once

#include "crypto/Certificates.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// A distinguished name on one line, in its own order, as TCertificateView::SubjectText.
std::string NameText(const X509_NAME* Name);
// Seconds since the epoch; empty for no time or one libcrypto cannot read.
std::optional<std::time_t> TimeOf(const ASN1_TIME* Time);

// The first certificate in Bytes: a PEM block wherever it stands, otherwise DER from the first
// byte (bytes after the DER's end are not looked at). Null when neither reads; nothing is left
// in the error queue. The one place that turns certificate bytes of either form into a handle.
X509Ptr ReadCertificatePEMOrDER(const std::string& Bytes);
// The certificate whose DER starts Bytes; with WholeBytes only when nothing follows it. Null
// when none reads; nothing is left in the error queue.
X509Ptr ReadCertificateDER(std::string_view Bytes, bool WholeBytes);

// What a certificate file holds, for code that must refuse a file with more than it expects:
// every certificate in it (each PEM certificate block, or the file as one DER certificate when
// it holds no PEM block), and whether it holds a private key block of any form. Blocks of
// other kinds are passed over; nothing is left in the error queue.
struct TCertificateFileContents {
  std::vector<X509Ptr> Certificates;
  bool HasPrivateKey = false;
};
TCertificateFileContents ReadCertificateFileContents(const std::string& Bytes);

// The extensions a view prints, in libcrypto's own wording.
enum class TCertExtension {
  SubjectAltName,
  BasicConstraints,
  KeyUsage,
  ExtKeyUsage,
  SubjectKeyId,
  AuthorityKeyId,
};

// libcrypto's number of the extension, as the builder's failure messages name it.
int ExtensionNid(TCertExtension Which) noexcept;

enum class TFingerprintDigest { SHA256, SHA1 };

// What a public key is: its family (RSA-PSS counts as RSA: the size rule is the same), its size
// in bits (RSA: the modulus; EC: the order of the curve's group) and libcrypto's security bits.
struct TPublicKeyFacts {
  TKeyFamily Family = ctUnknown;
  std::int32_t Bits = 0;
  std::int32_t SecurityBits = 0;
};
// Blanks and line breaks that libcrypto's printers put around and inside a value become one
// line: "keyid:AB:CD\n" -> "keyid:AB:CD", a multi-line value joined with "; ".
std::string OnOneLine(const std::string& Text);

// All zero for no key.
TPublicKeyFacts PublicKeyFactsOf(const EVP_PKEY* Key);

class TCertificateView {
 public:
  // Shares the certificate: the view holds a reference of its own, so the caller's handle may
  // go first. Cert must not be null.
  explicit TCertificateView(const X509* Cert);
  explicit TCertificateView(X509Ptr Cert);

  // Borrowed; the view keeps ownership.
  X509* Handle() const noexcept { return FCert.get(); }

  // A distinguished name on one line, in the certificate's order: "C=DE, O=Example, CN=host".
  // Non-ASCII values print as the UTF-8 they are, as `openssl x509 -subject` shows them.
  std::string SubjectText() const;
  std::string IssuerText() const;
  // Upper-case hex as `openssl x509 -serial` prints it; empty when unreadable.
  std::string SerialHex() const;
  // Seconds since the epoch; empty for a date libcrypto cannot read.
  std::optional<std::time_t> NotBefore() const;
  std::optional<std::time_t> NotAfter() const;
  // The extension's value as libcrypto prints it, on one line ("keyid:AB:CD", a multi-line
  // value joined with "; "), with " (critical)" when it is marked so; "(unreadable)" when it
  // cannot be printed; empty when the certificate has none.
  std::optional<std::string> ExtensionText(TCertExtension Which) const;
  // The basic constraints' path length; empty when it has none or is no CA.
  std::optional<long> PathLength() const;
  // Whether the basic constraints say CA:TRUE.
  bool IsCA() const;
  // Whether the key usage allows signing certificates (keyCertSign); empty when the
  // certificate has no key usage, which leaves every usage open.
  std::optional<bool> MaySignCertificates() const;
  // Whether the key usage allows signing revocation lists (cRLSign); empty as above.
  std::optional<bool> MaySignCRLs() const;
  // Whether it carries name constraints: without them a CA can vouch for any name.
  bool HasNameConstraints() const;
  // The subject's last common name as UTF-8; empty when it has none.
  std::string CommonName() const;
  // The signature algorithm's name ("ecdsa-with-SHA256"); "(unknown)" when it has none.
  std::string SignatureAlgorithm() const;
  // The digest of the DER as upper-case hex pairs joined by colons (what `openssl x509
  // -fingerprint` prints after the "="); empty when it cannot be computed.
  std::string Fingerprint(TFingerprintDigest Digest) const;
  // The certificate as PEM text; empty when it cannot be written.
  std::string PEM() const;
  // Borrowed; null when the certificate's key cannot be decoded.
  EVP_PKEY* PublicKey() const noexcept;
  // Whether the public key in the certificate is Key's (a private key's public half counts).
  bool HasPublicKeyOf(const EVP_PKEY* Key) const;
  // The SHA-256 of its DER SubjectPublicKeyInfo in lower-case hex (PublicKeyIdentity); empty
  // when the key cannot be read.
  std::string PublicKeySHA256() const;
  // Whether Issuer signed this certificate: Issuer's subject is this certificate's issuer
  // name, their key identifiers (where both carry one) agree, and the signature verifies under
  // Issuer's key. Its key usage is left to whoever validates a chain.
  bool IsIssuedBy(const TCertificateView& Issuer) const;

 private:
  X509Ptr FCert;
};

}  // namespace velmora
