// What the store's revocation lists say: which of its certificates are revoked, and what a
// CRL file holds. A CRL counts only when it verifies under a CA certificate of the same store,
// looked for first by the CRL's name, then among the first kMaxRelatedFiles certificates.
// Reads the folder's CRLs and certificates: worker-thread work.
#pragma once

#include "core/Store.h"
#include "crypto/CRL.h"

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// The details list at most this many entries of a CRL, then a count of the rest.
inline constexpr std::size_t kMaxListedCRLEntries = 1000;

// The store's CRLs that verify under a CA certificate of the store, with that CA.
class TStoreCRLs {
 public:
  // Reads the CRL files of Dir and the certificates their issuers may be. Never raises: a
  // file that does not read or verify is left out.
  static TStoreCRLs Read(const std::string& Dir);
  // The same over the entries of a listing of Dir already made.
  static TStoreCRLs Read(const std::string& Dir, const std::vector<TStoreEntry>& Entries);

  bool Empty() const noexcept { return FCRLs.empty(); }
  // The entry of a CRL of the store for Cert, when Cert was issued by that CRL's CA.
  std::optional<TRevokedEntry> RevocationOf(const TCertificateView& Cert) const;

 private:
  struct TCRL {
    TCRLView View;
    TCertificateView CA;
  };
  std::vector<TCRL> FCRLs;
};

// "Revoked (keyCompromise) on 2026-12-11 05:30:33 UTC".
std::string RevokedText(const TRevokedEntry& Entry);

// For each entry its revocation by a CRL of the store (certificates only); none for every
// other entry. Entries keep their order.
std::vector<std::optional<TRevokedEntry>> ReadRevocations(const std::string& Dir,
                                                          const std::vector<TStoreEntry>& Entries);
// Whether the listing holds a CRL at all: without one nothing is revoked and nothing is read.
bool HasCRLFile(const std::vector<TStoreEntry>& Entries);

// The details of a CRL file of the store at Path: issuer, this and next update, CRL number, the
// entries (the first kMaxListedCRLEntries, then a count), and whether its signature verifies
// under a CA certificate of the store ("issuer not in store" when none has its name; no such
// line unless CheckSignature). Raises Exception when the file holds no CRL.
std::vector<std::string> CRLDetailLines(const std::string& Path, const std::string& Bytes,
                                        bool CheckSignature = true);

// The CA certificate of the store that issued the certificate at CertPath, and its key file,
// as full paths. Empty when the certificate cannot be read, no certificate of its folder
// issued it (a self-signed one counts as issued by none), or that CA's key is not there.
struct TStoreCA {
  std::string CertFile;
  std::string KeyFile;
};
std::optional<TStoreCA> FindIssuingCAInStore(const std::string& CertPath);

}  // namespace velmora
