// How a store file relates to the others in its folder: a certificate's private key and
// issuer, a key's certificates. Reads every certificate and key of the folder (within bounds),
// so it is worker-thread work, cancellable between files.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace velmora {

// At most this many files and bytes of the folder are compared; a larger store is described
// from its first files and says so.
inline constexpr int kMaxRelatedFiles = 2000;
inline constexpr long long kMaxRelatedBytes = 32LL * 1024 * 1024;

// For a certificate: "Private key in store: ..." and "Issued by (in store): ..."; for a request:
// "Private key in store: ..." and "Certificates for this key: ..."; for a key
// file: "Certificates with this key: ...". Names are listed in byte order. Empty for other
// files, files that hold nothing readable, and when Cancelled says so (asked between files).
std::vector<std::string> DescribeStoreRelations(const std::string& Path,
                                                const std::function<bool()>& Cancelled = {});

}  // namespace velmora
