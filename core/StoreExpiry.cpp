#include "core/StoreExpiry.h"

#include "core/CertDetails.h"
#include "core/Revocation.h"
#include "core/StoreCertificate.h"
#include "core/TextFile.h"

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>

namespace velmora {

namespace {

// A file is the same file while its device, inode, size and modification time are: then
// its certificate is too.
struct TFileIdentity {
  std::uint64_t Device;
  std::uint64_t Inode;
  std::int64_t Size;
  std::int64_t Seconds;
  long Nanoseconds;
  bool operator==(const TFileIdentity&) const = default;
};

struct TFileIdentityHash {
  std::size_t operator()(const TFileIdentity& Id) const noexcept {
    std::size_t hash = std::hash<std::uint64_t>()(Id.Inode);
    for (const std::uint64_t part :
         {Id.Device, static_cast<std::uint64_t>(Id.Size), static_cast<std::uint64_t>(Id.Seconds),
          static_cast<std::uint64_t>(Id.Nanoseconds)})
      hash ^= std::hash<std::uint64_t>()(part) + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
    return hash;
  }
};

// Shared by every listing of the program's life; a listing takes the lock twice, once to
// look up all its files and once to keep what it had to read.
struct TExpiryCache {
  std::mutex Guard;
  std::unordered_map<TFileIdentity, std::optional<std::time_t>, TFileIdentityHash> Entries;
};

TExpiryCache& Cache() {
  static TExpiryCache cache;
  return cache;
}

// A revocation list's Expires date is its next update: after it relying parties refuse it.
std::optional<std::time_t> NextUpdateOf(const std::string& Path) {
  const TReadOnlyFile file(Path);
  std::string bytes;
  if (!file.IsRegularFile() || file.ReadAll(bytes, kMaxCRLFileSize) != 0) return std::nullopt;
  const std::optional<TCRLView> crl = ReadCRLView(bytes);
  return crl ? crl->NextUpdate() : std::nullopt;
}

TFileIdentity IdentityOf(const TStoreEntry& Entry) {
  return {Entry.Device, Entry.Inode, Entry.Size, Entry.Modified, Entry.ModifiedNanoseconds};
}

}  // namespace

std::vector<std::size_t> LookUpCertificateExpiry(const std::vector<TStoreEntry>& Entries,
                                                 std::vector<std::optional<std::time_t>>& Expiry) {
  Expiry.assign(Entries.size(), std::nullopt);
  std::vector<std::size_t> unknown;
  TExpiryCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.Guard);
  for (std::size_t i = 0; i < Entries.size(); ++i) {
    const TStoreEntry& entry = Entries[i];
    const bool dated =
        entry.Kind == TStoreFileKind::Certificate || entry.Kind == TStoreFileKind::CRL;
    if (!dated || !entry.Found) continue;
    // The identity the listing saw: a file changed since is read again at the next listing.
    const auto known = cache.Entries.find(IdentityOf(entry));
    if (known != cache.Entries.end())
      Expiry[i] = known->second;
    else
      unknown.push_back(i);
  }
  return unknown;
}

void ReadUnknownCertificateExpiry(const std::string& Dir, const std::vector<TStoreEntry>& Entries,
                                  const std::vector<std::size_t>& Unknown,
                                  std::vector<std::optional<std::time_t>>& Expiry) {
  for (const std::size_t i : Unknown) {
    // The name came from the folder itself: any bytes a file name may hold, joined as they are.
    const std::string path = Dir + "/" + Entries[i].Name;
    if (Entries[i].Kind == TStoreFileKind::CRL) {
      Expiry[i] = NextUpdateOf(path);
      continue;
    }
    const X509Ptr cert = ReadStoreCertificate(path);
    Expiry[i] = cert ? NotAfterOf(cert.get()) : std::nullopt;
  }
  if (Unknown.empty()) return;
  TExpiryCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.Guard);
  for (const std::size_t i : Unknown) cache.Entries[IdentityOf(Entries[i])] = Expiry[i];
}

std::vector<std::optional<std::time_t>> ReadCertificateExpiry(
    const std::string& Dir, const std::vector<TStoreEntry>& Entries) {
  std::vector<std::optional<std::time_t>> expiry;
  const std::vector<std::size_t> unknown = LookUpCertificateExpiry(Entries, expiry);
  ReadUnknownCertificateExpiry(Dir, Entries, unknown, expiry);
  return expiry;
}

std::int64_t DaysLeft(std::time_t NotAfter, std::time_t Now) {
  const std::int64_t seconds = static_cast<std::int64_t>(NotAfter) - Now;
  constexpr std::int64_t kDay = 86400;
  return seconds >= 0 ? seconds / kDay : -((-seconds + kDay - 1) / kDay);
}

}  // namespace velmora
