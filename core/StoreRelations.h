// How a store file relates to the others in its folder: a certificate's private key and
// issuer, a key's certificates. Reads every certificate and key of the folder (within bounds),
// so it is worker-thread work, cancellable between files.
#pragma once

#include "crypto/CertificateView.h"

#include <sys/stat.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// What comparing needs of one store file: a certificate, or a private key's public key.
struct TStoreFileFacts {
  std::shared_ptr<const TCertificateView> Certificate;
  // A readable private key's public key SHA-256 (PublicKeyIdentity): the key itself is never
  // kept.
  std::string KeyIdentity;
  bool LockedKey = false;  // a key with a password, which cannot be compared
};

// The facts of the files read for earlier picks, each kept with the identity of the file it
// came from (device, inode, size, modification and change times), so that the next pick in
// the same folder reads and parses only the files that changed since. Shared between the
// window's thread and its workers.
class TStoreReadCache {
 public:
  // Facts read from a file of that path whose fstat still says Info; none otherwise.
  std::optional<TStoreFileFacts> Find(const std::string& Path, const struct stat& Info) const;
  void Keep(const std::string& Path, const struct stat& Info, TStoreFileFacts Facts);
  // Forgets everything: the folder shown is another.
  void Clear();

 private:
  struct TStamp {
    dev_t Device;
    ino_t Inode;
    off_t Size;
    long long Modified, Changed;  // nanoseconds
    bool operator==(const TStamp&) const = default;
  };
  static TStamp StampOf(const struct stat& Info);

  mutable std::mutex FMutex;
  std::map<std::string, std::pair<TStamp, TStoreFileFacts>> FFiles;
};

// At most this many files and bytes of the folder are compared; a larger store is described
// from its first files and says so.
inline constexpr int kMaxRelatedFiles = 2000;
inline constexpr long long kMaxRelatedBytes = 32LL * 1024 * 1024;

// For a certificate: "Private key in store: ..." and "Issued by (in store): ..."; for a request:
// "Private key in store: ..." and "Certificates for this key: ..."; for a key
// file: "Certificates with this key: ...". Names are listed in byte order. Empty for other
// files, files that hold nothing readable, and when Cancelled says so (asked between files).
// With Cache, the other files of the folder are taken from it where they did not change, and
// what is read is kept there.
std::vector<std::string> DescribeStoreRelations(const std::string& Path,
                                                const std::function<bool()>& Cancelled = {},
                                                TStoreReadCache* Cache = nullptr);

}  // namespace velmora
