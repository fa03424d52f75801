// Self-signed certificates of every kind a user may hand over as "the CA": with or without
// the CA flag, key usage and key identifier, signed with any digest. Made with plain libcrypto
// at test time, so that the CAs other tools make can be had without those tools.
#pragma once

#include "crypto/OpenSSLWrapper.h"

#include <string>
#include <utility>
#include <vector>

namespace velmora::test {

// One extension as libcrypto's configuration syntax gives it: the extension's NID and its
// value, e.g. {NID_basic_constraints, "critical,CA:TRUE"}.
using TExtensionLines = std::vector<std::pair<int, std::string>>;

// The extensions of a sound CA: CA:TRUE, Key Cert Sign and CRL Sign, a key identifier.
TExtensionLines SoundCAExtensions();

// A version 3 certificate of Key for itself, valid from now for a year, with exactly the
// Extensions given, signed with Digest (null: SHA-256).
X509Ptr MakeSelfSignedWith(EVP_PKEY* Key, const TExtensionLines& Extensions,
                           const EVP_MD* Digest = nullptr,
                           const std::string& CommonName = "Fixture CA");

}  // namespace velmora::test
