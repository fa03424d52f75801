#include "core/StoreRelations.h"

#include "core/CSR.h"
#include "core/Store.h"
#include "core/StoreCertificate.h"
#include "core/StorePaths.h"
#include "core/TextFile.h"
#include "crypto/CertificateView.h"
#include "crypto/Certificates.h"
#include "crypto/Directory.h"
#include "crypto/KeyIdentity.h"
#include "crypto/SecretText.h"

#include <dirent.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>

namespace velmora {

namespace {

// The folder's certificates and readable private keys, each with its file name. Keys with a
// password cannot be compared and are only counted.
struct TStoreContents {
  std::vector<std::pair<std::string, std::shared_ptr<const TCertificateView>>> Certificates;
  std::vector<std::pair<std::string, std::string>> KeyIdentities;
  int LockedKeys = 0;
  bool Truncated = false;
  bool Cancelled = false;
};

// The same safe read as the panel's own: one descriptor, plain files of sane size only.
bool ReadSmallFile(const std::string& Path, long long& Budget, std::string& Bytes) {
  const TReadOnlyFile file(Path);
  if (!file.IsRegularFile() || file.Info().st_size > kMaxCertificateFileSize) return false;
  if (file.Info().st_size > Budget) return false;
  Budget -= file.Info().st_size;
  return file.ReadAll(Bytes, kMaxCertificateFileSize) == 0;
}

std::unique_ptr<TOpenSSLCert> ReadPrivateKey(const std::string& Bytes, bool& Locked) {
  std::unique_ptr<TOpenSSLCert> key;
  try {
    key = TCertLoader::LoadPrivateKey(Bytes);
  } catch (const Exception&) {
    // Counted as no key, like one that does not read.
  }
  Locked = !key && Bytes.find("ENCRYPTED") != std::string::npos;
  return key;
}

// Bytes are the caller's to wipe: a certificate file may hold a key as well.
TStoreFileFacts FactsOf(const std::string& Name, const std::string& Bytes) {
  TStoreFileFacts facts;
  if (StoreFileKind(Name) == TStoreFileKind::Key) {
    if (const std::unique_ptr<TOpenSSLCert> key = ReadPrivateKey(Bytes, facts.LockedKey))
      facts.KeyIdentity = PublicKeyIdentity(key->PKey());
  } else if (X509Ptr cert = ReadCertificatePEMOrDER(Bytes)) {
    facts.Certificate = std::make_shared<const TCertificateView>(std::move(cert));
  }
  return facts;
}

// The facts of the store file at Path, from Cache while the file is the one they were read
// from; none for a file that is no plain file of sane size or beyond the folder's Budget.
std::optional<TStoreFileFacts> StoreFileFacts(const std::string& Path, const std::string& Name,
                                              long long& Budget, TStoreReadCache* Cache) {
  const TReadOnlyFile file(Path);
  const struct stat& info = file.Info();
  if (!file.IsRegularFile() || info.st_size > kMaxCertificateFileSize || info.st_size > Budget)
    return std::nullopt;
  Budget -= info.st_size;
  if (Cache)
    if (std::optional<TStoreFileFacts> kept = Cache->Find(Path, info)) return kept;
  std::string bytes;
  if (file.ReadAll(bytes, kMaxCertificateFileSize) != 0) return std::nullopt;
  const TSecretText text(std::move(bytes));
  TStoreFileFacts facts = FactsOf(Name, text.Text());
  if (Cache) Cache->Keep(Path, info, facts);
  return facts;
}

TStoreContents ReadStoreContents(const std::string& Dir, const std::function<bool()>& Cancelled,
                                 TStoreReadCache* Cache) {
  TStoreContents contents;
  const TDirPtr dir = OpenDirectory(Dir.c_str());
  if (!dir) return contents;
  std::vector<std::string> names;
  while (const dirent* found = ::readdir(dir.get())) {
    if (found->d_type == DT_DIR) continue;
    const TStoreFileKind kind = StoreFileKind(found->d_name);
    if (kind == TStoreFileKind::Certificate || kind == TStoreFileKind::Key)
      names.emplace_back(found->d_name);
  }
  // The same files are compared whatever order the folder lists them in.
  std::sort(names.begin(), names.end());
  if (names.size() > static_cast<std::size_t>(kMaxRelatedFiles)) {
    names.resize(kMaxRelatedFiles);
    contents.Truncated = true;
  }
  long long budget = kMaxRelatedBytes;
  for (const std::string& name : names) {
    if (Cancelled && Cancelled()) {
      contents.Cancelled = true;
      return contents;
    }
    const std::optional<TStoreFileFacts> facts =
        StoreFileFacts((std::filesystem::path(Dir) / name).string(), name, budget, Cache);
    if (!facts) {
      if (budget <= 0) contents.Truncated = true;
      continue;
    }
    if (facts->Certificate)
      contents.Certificates.emplace_back(name, facts->Certificate);
    else if (!facts->KeyIdentity.empty())
      contents.KeyIdentities.emplace_back(name, facts->KeyIdentity);
    else if (facts->LockedKey)
      ++contents.LockedKeys;
  }
  return contents;
}

std::string NamesOrNone(const std::vector<std::string>& Names, const char* None) {
  if (Names.empty()) return None;
  std::string text;
  for (const std::string& name : Names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// A certificate's issuer is found by TCertificateView::IsIssuedBy: names, key identifiers and
// signature. What the issuer's key usage allows is left to whoever validates the chain: this
// tells which file signed it.
std::vector<std::string> CertificateRelations(const std::string& Name, const TCertificateView& Cert,
                                              const TStoreContents& Contents) {
  const std::string identity = Cert.PublicKeySHA256();
  std::vector<std::string> keys;
  for (const auto& [name, keyIdentity] : Contents.KeyIdentities)
    if (!identity.empty() && keyIdentity == identity) keys.push_back(name);
  std::string keyLine = "Private key in store: " + NamesOrNone(keys, "none found");
  if (keys.empty() && Contents.LockedKeys > 0)
    keyLine += " (" + std::to_string(Contents.LockedKeys) +
               (Contents.LockedKeys == 1 ? " key has" : " keys have") +
               " a password and could not be compared)";

  std::string issuerLine = "Issued by (in store): ";
  if (Cert.IsIssuedBy(Cert)) {
    issuerLine += "itself (self-signed)";
  } else {
    std::vector<std::string> issuers;
    for (const auto& [name, candidate] : Contents.Certificates)
      if (name != Name && Cert.IsIssuedBy(*candidate)) issuers.push_back(name);
    issuerLine += NamesOrNone(issuers, "none found");
  }
  return {keyLine, issuerLine};
}

std::vector<std::string> KeyRelations(const std::string& KeyIdentity,
                                      const TStoreContents& Contents) {
  std::vector<std::string> certificates;
  for (const auto& [name, cert] : Contents.Certificates)
    if (!KeyIdentity.empty() && cert->PublicKeySHA256() == KeyIdentity)
      certificates.push_back(name);
  return {"Certificates with this key: " + NamesOrNone(certificates, "none in the store")};
}

// A request pairs with the private key it was made with and the certificates issued for its
// public key, all found by the public key alone.
std::vector<std::string> RequestRelations(const TCSRView& Request, const TStoreContents& Contents) {
  const std::string identity = Request.PublicKeySHA256();
  std::vector<std::string> keys;
  for (const auto& [name, keyIdentity] : Contents.KeyIdentities)
    if (!identity.empty() && keyIdentity == identity) keys.push_back(name);
  std::vector<std::string> certificates;
  for (const auto& [name, cert] : Contents.Certificates)
    if (!identity.empty() && cert->PublicKeySHA256() == identity) certificates.push_back(name);
  return {"Private key in store: " + NamesOrNone(keys, "none found"),
          "Certificates for this key: " + NamesOrNone(certificates, "none in the store")};
}

}  // namespace

TStoreReadCache::TStamp TStoreReadCache::StampOf(const struct stat& Info) {
  constexpr long long kNano = 1000000000LL;
  return {Info.st_dev, Info.st_ino, Info.st_size,
          Info.st_mtim.tv_sec * kNano + Info.st_mtim.tv_nsec,
          Info.st_ctim.tv_sec * kNano + Info.st_ctim.tv_nsec};
}

std::optional<TStoreFileFacts> TStoreReadCache::Find(const std::string& Path,
                                                     const struct stat& Info) const {
  const std::lock_guard lock(FMutex);
  const auto found = FFiles.find(Path);
  if (found == FFiles.end() || !(found->second.first == StampOf(Info))) return std::nullopt;
  return found->second.second;
}

void TStoreReadCache::Keep(const std::string& Path, const struct stat& Info,
                           TStoreFileFacts Facts) {
  const std::lock_guard lock(FMutex);
  FFiles[Path] = {StampOf(Info), std::move(Facts)};
}

void TStoreReadCache::Clear() {
  const std::lock_guard lock(FMutex);
  FFiles.clear();
}

std::vector<std::string> DescribeStoreRelations(const std::string& Path,
                                                const std::function<bool()>& Cancelled,
                                                TStoreReadCache* Cache) {
  const std::string name = FileNamePart(Path);
  const std::string dir = Path.substr(0, Path.size() - name.size());
  const TStoreFileKind kind = StoreFileKind(name);
  std::optional<TCertificateView> cert;
  std::string keyIdentity;
  std::optional<TCSRView> request;
  if (kind == TStoreFileKind::Request) {
    std::string bytes;
    long long budget = kMaxCertificateFileSize;
    if (!ReadSmallFile(Path, budget, bytes)) return {};
    request = ReadCSRView(bytes);
    if (!request) return {};
  } else if (kind == TStoreFileKind::Certificate) {
    X509Ptr read = ReadStoreCertificate(Path);
    if (!read) return {};
    cert.emplace(std::move(read));
  } else if (kind == TStoreFileKind::Key) {
    std::string bytes;
    long long budget = kMaxCertificateFileSize;
    if (!ReadSmallFile(Path, budget, bytes)) return {};
    const TSecretText text(std::move(bytes));
    bool locked = false;
    const std::unique_ptr<TOpenSSLCert> key = ReadPrivateKey(text.Text(), locked);
    if (!key) return {};
    keyIdentity = PublicKeyIdentity(key->PKey());
  } else {
    return {};
  }

  const TStoreContents contents = ReadStoreContents(dir.empty() ? "." : dir, Cancelled, Cache);
  if (contents.Cancelled) return {};
  std::vector<std::string> lines = request ? RequestRelations(*request, contents)
                                   : cert  ? CertificateRelations(name, *cert, contents)
                                           : KeyRelations(keyIdentity, contents);
  if (contents.Truncated)
    lines.push_back("(Only the first " + std::to_string(kMaxRelatedFiles) +
                    " files of the store, up to 32 MB, were compared.)");
  return lines;
}

}  // namespace velmora
