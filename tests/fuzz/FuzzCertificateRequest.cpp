// Any bytes given as a certificate request: reading them must either refuse with an error or
// give a request whose every view answers, and the copy policy must plan a certificate for
// whatever such a request asks. A request that reads must read the same way twice.
#include "core/CSR.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (velmora::X509_REQPtr request = velmora::ReadCSRPEMOrDER(bytes)) {
    const velmora::TCSRView view(std::move(request));
    (void)view.SubjectText();
    (void)view.SignatureAlgorithm();
    (void)view.PublicKeySHA256();
    (void)view.RequestedExtensionTexts();
    (void)velmora::CSRDetailLines(view);
    const bool verifies = view.Verifies();
    if (velmora::TCSRView(velmora::ReadCSRPEMOrDER(bytes)).Verifies() != verifies) __builtin_trap();
  }
  try {
    const velmora::TCSRView view = velmora::ReadCSRBytes(bytes, "fuzz.csr");
    // What ReadCSRBytes lets through verifies, and its content reads.
    if (!view.Verifies()) __builtin_trap();
    const velmora::TCSRIssuePlan plan =
        velmora::PlanCSRIssue(view.Content(), velmora::TCertRequest{}, velmora::TCSREdits{});
    if (plan.Comparison.size() != 6) __builtin_trap();
  } catch (const velmora::Exception&) {
    // Refused, with its reason: what the command line and the window show.
  }
  return 0;
}
