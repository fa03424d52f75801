// Any bytes as a bundle opened without a password, as the store panel does: the answer is the
// contents, none (a real password is needed), or a velmora::Exception. Contents hold
// certificates only where there are any, never a null one.
#include "core/StoreCertificate.h"
#include "crypto/OpenSSLWrapper.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    const auto contents = velmora::ReadBundleWithoutPassword(bytes);
    if (contents) {
      for (const velmora::X509Ptr& cert : contents->Certificates)
        if (!cert) __builtin_trap();
    }
  } catch (const velmora::Exception&) {
  }
  return 0;
}
