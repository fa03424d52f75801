// Telling, from a file's bytes, whether it holds secrets: a private key or a PKCS#12 bundle.
#pragma once

#include <string_view>

namespace velmora {

// PEM with a private key block (plain, encrypted or traditional), a DER PKCS#12 bundle, or a
// DER private key (encrypted or not). Decided by content alone, whatever the file is called.
bool HoldsPrivateKeyOrBundle(std::string_view Bytes);

}  // namespace velmora
