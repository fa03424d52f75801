// The private key of the store that goes with a certificate: what a dialog asking for a CA's
// key offers first once the CA certificate is chosen. Reads the store's key files (within the
// bounds of core/StoreRelations.h), so it is worker-thread work, cancellable between files.
#pragma once

#include <functional>
#include <string>

namespace velmora {

// The name (inside StoreDir) of the first key file in byte order whose public key is the
// certificate's. When no readable key matches, a key with a password named like the
// certificate ("root.key" for "root.crt"), which cannot be compared without its password but
// is how this program names a pair. Empty when there is none, the certificate cannot be read,
// or Cancelled says so.
std::string FindStoreKeyOfCertificate(const std::string& CertPath, const std::string& StoreDir,
                                      const std::function<bool()>& Cancelled = {});

}  // namespace velmora
