#include "core/Profiles.h"

namespace velmora {

namespace {

struct TProfileNames {
  TProfile Profile;
  const char* Caption;
  const char* Slug;
};

constexpr TProfileNames kNames[] = {
    {TProfile::Custom, "Custom", "custom"},
    {TProfile::TLSServer, "TLS Server", "tls-server"},
    {TProfile::TLSClient, "TLS Client", "tls-client"},
    {TProfile::TLSServerClient, "TLS Server + Client", "tls-server-client"},
    {TProfile::RootCA, "Root CA", "root-ca"},
    {TProfile::IntermediateCA, "Intermediate CA", "intermediate-ca"},
    {TProfile::Email, "E-mail (S/MIME)", "email"},
    {TProfile::CodeSigning, "Code Signing", "code-signing"},
    {TProfile::TimeStamping, "Time Stamping", "time-stamping"},
};

const TProfileNames& NamesOf(TProfile Profile) {
  for (const TProfileNames& names : kNames)
    if (names.Profile == Profile) return names;
  return kNames[0];
}

bool EqualIgnoringCase(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  for (std::size_t i = 0; i < A.size(); ++i)
    if (lower(A[i]) != lower(B[i])) return false;
  return true;
}

}  // namespace

const char* ProfileCaption(TProfile Profile) { return NamesOf(Profile).Caption; }

const char* ProfileSlug(TProfile Profile) { return NamesOf(Profile).Slug; }

std::optional<TProfile> ProfileByName(std::string_view Name) {
  for (const TProfileNames& names : kNames)
    if (EqualIgnoringCase(Name, names.Slug) || EqualIgnoringCase(Name, names.Caption))
      return names.Profile;
  return std::nullopt;
}

// What the CA/Browser Forum's requirements, RFC 5280 and RFC 3161 ask of each kind, and what
// OpenSSL, GnuTLS and the browsers check when they judge a certificate for that purpose.
std::optional<TProfileSettings> ProfileSettings(TProfile Profile, TKeyType KeyType) {
  const bool rsa = KeyType == ktRSA;
  // An RSA server may be asked to decrypt the premaster secret (TLS 1.2 RSA key exchange);
  // an EC key only ever signs in TLS.
  const TKeyUsageSet tlsServer =
      rsa ? TKeyUsageSet{kuDigitalSignature, kuKeyEncipherment} : TKeyUsageSet{kuDigitalSignature};
  switch (Profile) {
    case TProfile::Custom: return std::nullopt;
    case TProfile::TLSServer: return TProfileSettings{false, 0, tlsServer, {ekuServerAuth}};
    case TProfile::TLSClient:
      return TProfileSettings{false, 0, {kuDigitalSignature}, {ekuClientAuth}};
    case TProfile::TLSServerClient:
      return TProfileSettings{false, 0, tlsServer, {ekuServerAuth, ekuClientAuth}};
    case TProfile::RootCA:
      // No extended key usage: a root that names purposes would restrict everything below it.
      return TProfileSettings{true, -1, {kuKeyCertSign, kuCRLSign}, {}};
    case TProfile::IntermediateCA:
      // Issues end-entity certificates only.
      return TProfileSettings{true, 0, {kuKeyCertSign, kuCRLSign}, {}};
    case TProfile::Email:
      // Mail is encrypted to an RSA key directly, to an EC key by key agreement (ECDH). An
      // Edwards-curve key only signs mail: RFC 8410 allows it no other usage.
      if (KeyType == ktEdwards)
        return TProfileSettings{false, 0, {kuDigitalSignature}, {ekuEmailProtection}};
      return TProfileSettings{false,
                              0,
                              rsa ? TKeyUsageSet{kuDigitalSignature, kuKeyEncipherment}
                                  : TKeyUsageSet{kuDigitalSignature, kuKeyAgreement},
                              {ekuEmailProtection}};
    case TProfile::CodeSigning:
      return TProfileSettings{false, 0, {kuDigitalSignature}, {ekuCodeSigning}};
    case TProfile::TimeStamping:
      // Time Stamping as the one extended key usage, which the builder then marks critical.
      return TProfileSettings{false, 0, {kuDigitalSignature}, {ekuTimeStamping}};
  }
  return std::nullopt;
}

TKeyUsageSet DefaultKeyUsages(TKeyType KeyType) {
  return ProfileSettings(TProfile::TLSServerClient, KeyType)->KeyUsage;
}

void ApplyProfile(TProfile Profile, TKeyType KeyType, TCertRequest& Request) {
  const std::optional<TProfileSettings> settings = ProfileSettings(Profile, KeyType);
  if (!settings) return;
  Request.IsCA = settings->IsCA;
  Request.PathLenConstraint = settings->PathLenConstraint;
  Request.KeyUsage = settings->KeyUsage;
  Request.ExtKeyUsage = settings->ExtKeyUsage;
}

}  // namespace velmora
