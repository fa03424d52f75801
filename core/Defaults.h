// The values both front ends start from, in one place so that the window, the command line and
// the checks before issuing cannot drift apart.
#pragma once

#include <cstdint>

namespace velmora {

// The output names a new form starts with, and the command line's defaults.
inline constexpr const char* kDefaultCertName = "certificate.crt";
inline constexpr const char* kDefaultKeyName = "private.key";
inline constexpr const char* kDefaultBundleName = "certificate.pfx";

// A year: what a certificate is made for unless told otherwise.
inline constexpr std::int32_t kDefaultValidDays = 365;

// The key a new certificate gets unless told otherwise: P-256 is small, fast and taken
// everywhere; RSA 2048 is the size an RSA choice starts at.
inline constexpr std::int32_t kDefaultRSABits = 2048;
inline constexpr const char* kDefaultECCurve = "P-256";

// QSettings and QCoreApplication place the per-user setting and data folder by these names
// (~/.config/Brenmoor/Velmora.conf, ~/.local/share/Brenmoor/Velmora).
inline constexpr const char* kOrganisationName = "Brenmoor";
inline constexpr const char* kProgramName = "Velmora";

// The longest validity that browsers accept from a public TLS server certificate: the
// CA/Browser Forum limit that they enforce counts 398 days. The checks before issuing warn
// above it.
inline constexpr std::int32_t kMaxTLSServerDays = 398;

// What "velmora-cli dev" gives a server certificate: a day under kMaxTLSServerDays, so that a
// clock running ahead or a time zone's difference at the verifier never makes a development
// certificate count as one day too long and be rejected.
inline constexpr std::int32_t kDevServerDays = kMaxTLSServerDays - 1;

}  // namespace velmora
