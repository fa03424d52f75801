// Builder settings decoded from the input into a self-signed build and every export: each
// outcome must be a certificate or a velmora::Exception, never a crash, a hang or a leak.
#include "crypto/CertBuilder.h"
#include "tests/fuzz/FuzzInput.h"

#include <filesystem>
#include <unistd.h>

using velmora::fuzz::FuzzInput;

namespace {

std::vector<std::string> TextList(FuzzInput& in) {
  std::vector<std::string> list(in.Byte() % 4);
  for (auto& s : list) s = in.Text(64);
  return list;
}

void ApplySettings(velmora::TCertBuilder& b, FuzzInput& in) {
  b.Subject = {in.Text(80), in.Text(), in.Text(), in.Text(4), in.Text(), in.Text(), in.Text(80)};
  b.ValidDays = in.Int32();
  b.IsCA = in.Flag();
  b.PathLenConstraint = in.Int32();
  b.KeyUsage = {};
  b.ExtKeyUsage = {};
  const std::uint16_t ku = static_cast<std::uint16_t>(in.Byte() << 8 | in.Byte());
  for (int i = 0; i <= velmora::kuDecipherOnly; ++i)
    if (ku & (1u << i)) b.KeyUsage.insert(static_cast<velmora::TKeyUsage>(i));
  const std::uint8_t eku = in.Byte();
  for (int i = 0; i <= velmora::ekuOCSPSigning; ++i)
    if (eku & (1u << i)) b.ExtKeyUsage.insert(static_cast<velmora::TExtKeyUsage>(i));
  b.SANDNSNames = TextList(in);
  b.SANIPs = TextList(in);
  b.SANEmails = TextList(in);
  // The digest choice reads these settings, not the key.
  b.RSABits = in.Int32();
  b.ECCurve = in.Text(16);
  b.KeyType = in.Flag() ? velmora::ktRSA : velmora::ktECC;
}

void Export(const velmora::TCertBuilder& b, FuzzInput& in) {
  const std::string password = in.Text(32);
  (void)b.CertToPEM();
  (void)b.KeyToPEM(password);
  if (in.Byte() % 16 == 0) {  // bundles are slow (key derivation); make them now and then
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("velmora-fuzz-" + std::to_string(getpid()) + ".pfx"))
            .string();
    b.SaveToPKCS12(path, password, in.Text(32), in.Rest());
    std::filesystem::remove(path);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  velmora::TCertBuilder& b = velmora::fuzz::SharedBuilder();
  ApplySettings(b, in);
  try {
    b.BuildSelfSigned();
    if (b.Cert() == nullptr) __builtin_trap();  // a build that returns must have made one
    Export(b, in);
  } catch (const velmora::Exception&) {
  }
  return 0;
}
