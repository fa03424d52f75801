// When the store's certificates expire: read from the files on a worker thread and kept
// by the file's identity, so a refresh reads again only what changed.
#pragma once

#include "core/Store.h"

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// For each entry its certificate's notAfter (a CRL's next update), or nothing for other files and
// for files that hold no readable certificate (PEM or DER). Entries keep their order.
std::vector<std::optional<std::time_t>> ReadCertificateExpiry(
    const std::string& Dir, const std::vector<TStoreEntry>& Entries);

// The same in two steps, so a listing can be shown before its certificates are read: what the
// cache knows, filled into Expiry (one element per entry), and the positions of the
// certificates it does not know yet; then reading those files, which fills in the rest.
std::vector<std::size_t> LookUpCertificateExpiry(const std::vector<TStoreEntry>& Entries,
                                                 std::vector<std::optional<std::time_t>>& Expiry);
void ReadUnknownCertificateExpiry(const std::string& Dir, const std::vector<TStoreEntry>& Entries,
                                  const std::vector<std::size_t>& Unknown,
                                  std::vector<std::optional<std::time_t>>& Expiry);

// Whole days from Now until NotAfter, rounded down; negative once it has passed.
std::int64_t DaysLeft(std::time_t NotAfter, std::time_t Now);

}  // namespace velmora
