// Chains from the store: a certificate's issuer among the store's certificates, and the
// "full chain" servers want (the certificate, then each issuer up to the root).
#pragma once

#include "crypto/CertificateView.h"

#include <optional>
#include <string>

namespace velmora {

// The store certificate (its name inside StoreDir) that signed Cert, other than Cert's own
// file CertName: of several (a renewed CA beside the copy of its old certificate) the one
// that is valid longest. Empty when none did.
std::string FindStoreIssuer(const TCertificateView& Cert, const std::string& StoreDir,
                            const std::string& CertName = {});

// The certificate in the file at CertPath, then each issuer found in StoreDir up to, not
// including, the self-signed root, as PEM. Raises Exception naming the issuer that is not in
// the store when the chain cannot be completed.
std::string StoreChainPEM(const std::string& CertPath, const std::string& StoreDir);

// StoreChainPEM written to ChainName inside StoreDir, as every output is written (complete
// or not at all). Returns the log line.
std::string WriteStoreChain(const std::string& CertPath, const std::string& StoreDir,
                            const std::string& ChainName);

}  // namespace velmora
