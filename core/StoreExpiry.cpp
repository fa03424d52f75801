#include "core/StoreExpiry.h"

#include "core/CertDetails.h"
#include "core/StoreCertificate.h"

#include <sys/stat.h>

#include <map>
#include <mutex>
#include <tuple>

namespace velmora {

namespace {

// A file is the same file while its device, inode, size and modification time are: then
// its certificate is too.
using TFileIdentity = std::tuple<dev_t, ino_t, off_t, std::int64_t, long>;

class TExpiryCache {
 public:
  std::optional<std::optional<std::time_t>> Find(const TFileIdentity& Key) {
    std::lock_guard<std::mutex> lock(FGuard);
    const auto found = FEntries.find(Key);
    if (found == FEntries.end()) return std::nullopt;
    return found->second;
  }
  void Keep(const TFileIdentity& Key, std::optional<std::time_t> NotAfter) {
    std::lock_guard<std::mutex> lock(FGuard);
    FEntries[Key] = NotAfter;
  }

 private:
  std::mutex FGuard;
  std::map<TFileIdentity, std::optional<std::time_t>> FEntries;
};

TExpiryCache& Cache() {
  static TExpiryCache cache;
  return cache;
}

}  // namespace

std::vector<std::optional<std::time_t>> ReadCertificateExpiry(
    const std::string& Dir, const std::vector<TStoreEntry>& Entries) {
  std::vector<std::optional<std::time_t>> expiry(Entries.size());
  for (std::size_t i = 0; i < Entries.size(); ++i) {
    const TStoreEntry& entry = Entries[i];
    if (entry.Kind != TStoreFileKind::Certificate || !entry.Found) continue;
    // The name came from the folder itself: any bytes a file name may hold, joined as they are.
    const std::string path = Dir + "/" + entry.Name;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) continue;
    const TFileIdentity key{info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec,
                            info.st_mtim.tv_nsec};
    if (const auto known = Cache().Find(key)) {
      expiry[i] = *known;
      continue;
    }
    const X509Ptr cert = ReadStoreCertificate(path);
    expiry[i] = cert ? NotAfterOf(cert.get()) : std::nullopt;
    Cache().Keep(key, expiry[i]);
  }
  return expiry;
}

std::int64_t DaysLeft(std::time_t NotAfter, std::time_t Now) {
  const std::int64_t seconds = static_cast<std::int64_t>(NotAfter) - Now;
  constexpr std::int64_t kDay = 86400;
  return seconds >= 0 ? seconds / kDay : -((-seconds + kDay - 1) / kDay);
}

}  // namespace velmora
