// Certificate profiles: the usual kinds of certificate, each a consistent set of basic
// constraints, key usages and extended key usages, so that a user who says "a TLS server"
// gets a certificate that clients accept without knowing the bits by heart.
#pragma once

#include "core/CertRequest.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

enum class TProfile : std::uint8_t {
  Custom,  // whatever the user set; choosing it changes nothing
  TLSServer,
  TLSClient,
  TLSServerClient,
  RootCA,
  IntermediateCA,
  Email,
  CodeSigning,
  TimeStamping,
};

// Every profile in the order the window lists them, Custom first.
inline constexpr std::array<TProfile, 9> kAllProfiles = {
    TProfile::Custom,          TProfile::TLSServer,   TProfile::TLSClient,
    TProfile::TLSServerClient, TProfile::RootCA,      TProfile::IntermediateCA,
    TProfile::Email,           TProfile::CodeSigning, TProfile::TimeStamping,
};

// "TLS Server + Client", "E-mail (S/MIME)", ...: the name the window shows.
const char* ProfileCaption(TProfile Profile);
// "tls-server-client", "email", ...: the name the command line takes.
const char* ProfileSlug(TProfile Profile);
// A profile by its slug or its caption, letter case ignored; none for any other name.
std::optional<TProfile> ProfileByName(std::string_view Name);

// What a profile sets. An EC or Edwards-curve key cannot encipher, so its variants leave out
// Key Encipherment and Data Encipherment; an Edwards-curve key does no key agreement either.
struct TProfileSettings {
  bool IsCA = false;
  std::int32_t PathLenConstraint = 0;  // -1: no limit
  TKeyUsageSet KeyUsage;
  TExtKeyUsageSet ExtKeyUsage;
};

// The settings of Profile for a key of KeyType; none for Custom.
std::optional<TProfileSettings> ProfileSettings(TProfile Profile, TKeyType KeyType);

// The key usages a form starts with for a key of KeyType: those of a TLS server and client
// certificate, so Key Encipherment only for RSA.
TKeyUsageSet DefaultKeyUsages(TKeyType KeyType);

// Puts the profile's settings into the request; Custom leaves it as it is.
void ApplyProfile(TProfile Profile, TKeyType KeyType, TCertRequest& Request);

}  // namespace velmora
