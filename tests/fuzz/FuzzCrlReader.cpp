// Any bytes given as a revocation list: reading them must either find none or give a CRL whose
// every view answers, listing as many entries as it counts, and whose PEM reads back the same.
#include "crypto/CRL.h"

#include <cstdint>
#include <limits>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<velmora::TCRLView> crl = velmora::ReadCRLView(bytes);
  if (!crl) return 0;
  (void)crl->IssuerText();
  (void)crl->ThisUpdate();
  (void)crl->NextUpdate();
  const std::string number = crl->NumberText();
  const std::vector<velmora::TRevokedEntry> entries =
      crl->Entries(std::numeric_limits<std::size_t>::max());
  if (entries.size() != crl->EntryCount()) __builtin_trap();
  if (crl->Entries(1).size() > 1) __builtin_trap();
  const std::string pem = crl->PEM();
  if (!pem.empty()) {
    const std::optional<velmora::TCRLView> again = velmora::ReadCRLView(pem);
    if (!again || again->EntryCount() != crl->EntryCount() || again->NumberText() != number)
      __builtin_trap();
  }
  return 0;
}
