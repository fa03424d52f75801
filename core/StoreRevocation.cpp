#include "core/StoreRevocation.h"

#include "core/Revocation.h"
#include "core/StoreCertificate.h"
#include "core/StoreKeyPair.h"
#include "core/StorePaths.h"
#include "core/StoreRelations.h"
#include "core/TextFile.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>

namespace velmora {

namespace {

std::string DirOf(const std::string& Path) {
  const std::string dir = std::filesystem::path(Path).parent_path().string();
  return dir.empty() ? "." : dir;
}

std::optional<TCRLView> ReadCRLFile(const std::string& Path) {
  const TReadOnlyFile file(Path);
  std::string bytes;
  if (!file.IsRegularFile() || file.ReadAll(bytes, kMaxCRLFileSize) != 0) return std::nullopt;
  return ReadCRLView(bytes);
}

std::string StemOf(const std::string& Name) { return std::filesystem::path(Name).stem().string(); }

// The certificate entries of a store in the order a CRL's CA is looked for: those named after
// the CRL first (the program names a CRL after its CA), then the rest by name.
std::vector<const TStoreEntry*> CACandidates(const std::vector<TStoreEntry>& Entries,
                                             const std::string& CRLName) {
  std::vector<const TStoreEntry*> candidates;
  for (const TStoreEntry& entry : Entries)
    if (entry.Kind == TStoreFileKind::Certificate && entry.Found) candidates.push_back(&entry);
  const std::string stem = StemOf(CRLName);
  std::sort(candidates.begin(), candidates.end(),
            [&stem](const TStoreEntry* A, const TStoreEntry* B) {
              const bool aNamed = StemOf(A->Name) == stem, bNamed = StemOf(B->Name) == stem;
              return aNamed != bNamed ? aNamed : A->Name < B->Name;
            });
  return candidates;
}

// The CA certificate of the store whose key signed CRL. A store of many certificates is
// searched in its first kMaxRelatedFiles only, as the related-files lines are: the CA the
// program names the CRL after comes first, so it is always among them. IssuerSeen tells
// whether a certificate of the CRL's issuer name was met at all.
struct TFoundCRLSigner {
  std::optional<TCertificateView> CA;
  bool IssuerSeen = false;
};

TFoundCRLSigner FindCRLSigner(const std::string& Dir, const std::vector<TStoreEntry>& Entries,
                              const std::string& CRLName, const TCRLView& CRL) {
  TFoundCRLSigner found;
  const std::string issuer = CRL.IssuerText();
  int read = 0;
  for (const TStoreEntry* entry : CACandidates(Entries, CRLName)) {
    if (++read > kMaxRelatedFiles) break;
    X509Ptr cert = ReadStoreCertificate(Dir + "/" + entry->Name);
    if (!cert) continue;
    TCertificateView view(std::move(cert));
    if (view.SubjectText() != issuer) continue;
    found.IssuerSeen = true;
    if (CRL.IsSignedBy(view)) {
      found.CA.emplace(std::move(view));
      break;
    }
  }
  return found;
}

std::vector<TStoreEntry> ListedOrEmpty(const std::string& Dir) {
  try {
    return ReadStoreEntries(Dir);
  } catch (const std::exception&) {
    return {};  // a folder that cannot be listed has nothing to say about revocations
  }
}

std::string DateText(const std::optional<std::time_t>& When) {
  return When ? UTCText(*When) : std::string("(unreadable)");
}

}  // namespace

TStoreCRLs TStoreCRLs::Read(const std::string& Dir) { return Read(Dir, ListedOrEmpty(Dir)); }

TStoreCRLs TStoreCRLs::Read(const std::string& Dir, const std::vector<TStoreEntry>& Entries) {
  TStoreCRLs crls;
  for (const TStoreEntry& entry : Entries) {
    if (entry.Kind != TStoreFileKind::CRL || !entry.Found) continue;
    std::optional<TCRLView> crl = ReadCRLFile(Dir + "/" + entry.Name);
    if (!crl) continue;
    TFoundCRLSigner signer = FindCRLSigner(Dir, Entries, entry.Name, *crl);
    if (signer.CA) crls.FCRLs.push_back({std::move(*crl), std::move(*signer.CA)});
  }
  return crls;
}

std::optional<TRevokedEntry> TStoreCRLs::RevocationOf(const TCertificateView& Cert) const {
  for (const TCRL& crl : FCRLs)
    if (Cert.IsIssuedBy(crl.CA))
      if (std::optional<TRevokedEntry> entry = crl.View.EntryFor(Cert)) return entry;
  return std::nullopt;
}

std::string RevokedText(const TRevokedEntry& Entry) {
  return "Revoked (" + Entry.ReasonText + ") on " + DateText(Entry.Date);
}

bool HasCRLFile(const std::vector<TStoreEntry>& Entries) {
  for (const TStoreEntry& entry : Entries)
    if (entry.Kind == TStoreFileKind::CRL) return true;
  return false;
}

namespace {

// A certificate or CRL file of a listing as the listing saw it: a file replaced or changed
// since has another identity.
struct TListedFile {
  std::string Name;
  std::uint64_t Device = 0, Inode = 0;
  std::int64_t Size = 0;
  std::time_t Modified = 0;
  long ModifiedNanoseconds = 0;
  bool operator==(const TListedFile&) const = default;
};

std::vector<TListedFile> RevocationSources(const std::vector<TStoreEntry>& Entries) {
  std::vector<TListedFile> files;
  for (const TStoreEntry& e : Entries)
    if (e.Found && (e.Kind == TStoreFileKind::Certificate || e.Kind == TStoreFileKind::CRL))
      files.push_back({e.Name, e.Device, e.Inode, e.Size, e.Modified, e.ModifiedNanoseconds});
  std::sort(files.begin(), files.end(),
            [](const TListedFile& A, const TListedFile& B) { return A.Name < B.Name; });
  return files;
}

// The revocations of the last store read, with the identities of the files they came from: a
// refresh of a store whose certificates and CRLs are unchanged reads none of them again (a
// CRL of 100,000 entries is megabytes to parse and verify).
struct TRevocationCache {
  std::mutex Guard;
  std::string Dir;
  std::vector<TListedFile> Sources;
  std::map<std::string, TRevokedEntry> Revoked;  // by file name
};

TRevocationCache& RevocationCache() {
  static TRevocationCache cache;
  return cache;
}

std::map<std::string, TRevokedEntry> ReadRevokedByName(const std::string& Dir,
                                                       const std::vector<TStoreEntry>& Entries) {
  std::map<std::string, TRevokedEntry> revoked;
  const TStoreCRLs crls = TStoreCRLs::Read(Dir, Entries);
  if (crls.Empty()) return revoked;
  for (const TStoreEntry& entry : Entries) {
    if (entry.Kind != TStoreFileKind::Certificate || !entry.Found) continue;
    if (X509Ptr cert = ReadStoreCertificate(Dir + "/" + entry.Name))
      if (std::optional<TRevokedEntry> found = crls.RevocationOf(TCertificateView(std::move(cert))))
        revoked.emplace(entry.Name, std::move(*found));
  }
  return revoked;
}

}  // namespace

std::vector<std::optional<TRevokedEntry>> ReadRevocations(const std::string& Dir,
                                                          const std::vector<TStoreEntry>& Entries) {
  std::vector<std::optional<TRevokedEntry>> revoked(Entries.size());
  if (!HasCRLFile(Entries)) return revoked;
  std::vector<TListedFile> sources = RevocationSources(Entries);
  const auto fill = [&](const std::map<std::string, TRevokedEntry>& ByName) {
    for (std::size_t i = 0; i < Entries.size(); ++i)
      if (Entries[i].Kind == TStoreFileKind::Certificate)
        if (const auto found = ByName.find(Entries[i].Name); found != ByName.end())
          revoked[i] = found->second;
  };
  TRevocationCache& cache = RevocationCache();
  {
    std::lock_guard<std::mutex> lock(cache.Guard);
    if (cache.Dir == Dir && cache.Sources == sources) {
      fill(cache.Revoked);
      return revoked;
    }
  }
  std::map<std::string, TRevokedEntry> byName = ReadRevokedByName(Dir, Entries);
  fill(byName);
  std::lock_guard<std::mutex> lock(cache.Guard);
  cache.Dir = Dir;
  cache.Sources = std::move(sources);
  cache.Revoked = std::move(byName);
  return revoked;
}

std::vector<std::string> CRLDetailLines(const std::string& Path, const std::string& Bytes,
                                        bool CheckSignature) {
  const std::optional<TCRLView> crl = ReadCRLView(Bytes);
  if (!crl) throw Exception("The file holds no CRL");
  std::vector<std::string> lines;
  lines.push_back("Issuer: " + crl->IssuerText());
  lines.push_back("This Update: " + DateText(crl->ThisUpdate()));
  lines.push_back("Next Update: " + DateText(crl->NextUpdate()));
  const std::string number = crl->NumberText();
  lines.push_back("CRL Number: " + (number.empty() ? std::string("(none)") : number));
  if (CheckSignature) {
    const std::string dir = DirOf(Path);
    const TFoundCRLSigner signer = FindCRLSigner(
        dir, ListedOrEmpty(dir), std::filesystem::path(Path).filename().string(), *crl);
    if (signer.CA)
      lines.push_back("Signature: verified against " + signer.CA->SubjectText() + " in the store");
    else
      lines.push_back(signer.IssuerSeen ? "Signature: does NOT verify against the CA in the store"
                                        : "Signature: issuer not in store");
  }
  lines.push_back("Revoked Certificates: " + std::to_string(crl->EntryCount()));
  for (const TRevokedEntry& entry : crl->Entries(kMaxListedCRLEntries))
    lines.push_back("  " + entry.SerialHex + "  " + DateText(entry.Date) + "  " + entry.ReasonText);
  if (crl->EntryCount() > kMaxListedCRLEntries)
    lines.push_back("  ... and " + std::to_string(crl->EntryCount() - kMaxListedCRLEntries) +
                    " more");
  return lines;
}

std::optional<TStoreCA> FindIssuingCAInStore(const std::string& CertPath) {
  X509Ptr read = ReadStoreCertificate(CertPath);
  if (!read) return std::nullopt;
  const TCertificateView cert(std::move(read));
  const std::string dir = DirOf(CertPath);
  std::vector<TStoreEntry> entries;
  try {
    entries = ReadStoreEntries(dir);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  std::sort(entries.begin(), entries.end(),
            [](const TStoreEntry& A, const TStoreEntry& B) { return A.Name < B.Name; });
  for (const TStoreEntry& entry : entries) {
    if (entry.Kind != TStoreFileKind::Certificate || !entry.Found) continue;
    const std::string path = dir + "/" + entry.Name;
    X509Ptr candidate = ReadStoreCertificate(path);
    if (!candidate) continue;
    const TCertificateView ca(std::move(candidate));
    if (!ca.IsCA() || !cert.IsIssuedBy(ca) || ca.SerialHex() == cert.SerialHex()) continue;
    const std::string key = FindStoreKeyOfCertificate(path, dir);
    if (key.empty()) continue;
    std::string keyPath = dir;
    keyPath.append("/").append(key);
    return TStoreCA{path, keyPath};
  }
  return std::nullopt;
}

}  // namespace velmora
