#include "core/StoreRevocation.h"

#include "core/Revocation.h"
#include "core/StoreCertificate.h"
#include "core/StoreKeyPair.h"
#include "core/StorePaths.h"
#include "core/TextFile.h"

#include <algorithm>
#include <filesystem>

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

// The store's certificates, read once for every CRL that looks for its CA among them.
std::vector<TCertificateView> StoreCertificates(const std::string& Dir,
                                                const std::vector<TStoreEntry>& Entries) {
  std::vector<TCertificateView> certs;
  for (const TStoreEntry& entry : Entries)
    if (entry.Kind == TStoreFileKind::Certificate && entry.Found)
      if (X509Ptr cert = ReadStoreCertificate(Dir + "/" + entry.Name))
        certs.emplace_back(std::move(cert));
  return certs;
}

const TCertificateView* SignerAmong(const std::vector<TCertificateView>& Certs,
                                    const TCRLView& CRL) {
  for (const TCertificateView& cert : Certs)
    if (CRL.IsSignedBy(cert)) return &cert;
  return nullptr;
}

std::string DateText(const std::optional<std::time_t>& When) {
  return When ? UTCText(*When) : std::string("(unreadable)");
}

}  // namespace

TStoreCRLs TStoreCRLs::Read(const std::string& Dir) {
  TStoreCRLs crls;
  try {
    const std::vector<TStoreEntry> entries = ReadStoreEntries(Dir);
    if (!HasCRLFile(entries)) return crls;
    const std::vector<TCertificateView> certs = StoreCertificates(Dir, entries);
    for (const TStoreEntry& entry : entries) {
      if (entry.Kind != TStoreFileKind::CRL || !entry.Found) continue;
      std::optional<TCRLView> crl = ReadCRLFile(Dir + "/" + entry.Name);
      if (!crl) continue;
      if (const TCertificateView* ca = SignerAmong(certs, *crl))
        crls.FCRLs.push_back({std::move(*crl), TCertificateView(ca->Handle())});
    }
  } catch (const std::exception&) {
    // A folder that cannot be listed has no revocations to show.
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

std::vector<std::optional<TRevokedEntry>> ReadRevocations(const std::string& Dir,
                                                          const std::vector<TStoreEntry>& Entries) {
  std::vector<std::optional<TRevokedEntry>> revoked(Entries.size());
  if (!HasCRLFile(Entries)) return revoked;
  const TStoreCRLs crls = TStoreCRLs::Read(Dir);
  if (crls.Empty()) return revoked;
  for (std::size_t i = 0; i < Entries.size(); ++i) {
    if (Entries[i].Kind != TStoreFileKind::Certificate || !Entries[i].Found) continue;
    if (X509Ptr cert = ReadStoreCertificate(Dir + "/" + Entries[i].Name))
      revoked[i] = crls.RevocationOf(TCertificateView(std::move(cert)));
  }
  return revoked;
}

std::vector<std::string> CRLDetailLines(const std::string& Path, const std::string& Bytes) {
  const std::optional<TCRLView> crl = ReadCRLView(Bytes);
  if (!crl) throw Exception("The file holds no CRL");
  std::vector<std::string> lines;
  lines.push_back("Issuer: " + crl->IssuerText());
  lines.push_back("This Update: " + DateText(crl->ThisUpdate()));
  lines.push_back("Next Update: " + DateText(crl->NextUpdate()));
  const std::string number = crl->NumberText();
  lines.push_back("CRL Number: " + (number.empty() ? std::string("(none)") : number));
  const std::string dir = DirOf(Path);
  std::vector<TStoreEntry> entries;
  try {
    entries = ReadStoreEntries(dir);
  } catch (const std::exception&) {
  }
  const std::vector<TCertificateView> certs = StoreCertificates(dir, entries);
  bool issuerFound = false;
  for (const TCertificateView& cert : certs) issuerFound |= cert.SubjectText() == crl->IssuerText();
  if (const TCertificateView* ca = SignerAmong(certs, *crl))
    lines.push_back("Signature: verified against " + ca->SubjectText() + " in the store");
  else
    lines.push_back(issuerFound ? "Signature: does NOT verify against the CA in the store"
                                : "Signature: issuer not in store");
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
