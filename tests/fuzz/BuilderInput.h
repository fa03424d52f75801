// What one input of the builder target asks for, and its byte layout. The target reads it,
// the seed maker writes typical forms of it; Fields lists the layout once for both, so the
// two never disagree.
#pragma once

#include "crypto/CertBuilder.h"
#include "tests/fuzz/FuzzInput.h"

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace velmora::fuzz {

// Keys an input can ask for by number. Each is made the first time it is asked for and kept
// for the process, unless the input asks for a fresh one: RSA generation would otherwise
// dominate every input. RSA stays small here, since the sizes only have to reach the code;
// Group is the name libcrypto reports for the curve made.
struct TKeptKey {
  TKeyType Type;
  std::int32_t RSABits;
  const char* Curve;
  const char* Group;
};

inline constexpr TKeptKey kKeptKeys[] = {
    {ktECC, 0, "P-256", "prime256v1"},
    {ktECC, 0, "P-384", "secp384r1"},
    {ktECC, 0, "P-521", "secp521r1"},
    {ktECC, 0, "secp256k1", "secp256k1"},
    {ktECC, 0, "brainpoolP256r1", "brainpoolP256r1"},
    {ktECC, 0, "secp112r1", "secp112r1"},
    {ktRSA, 512, "", ""},
    {ktRSA, 768, "", ""},
    {ktRSA, 1024, "", ""},
};
inline constexpr std::size_t kKeptKeyCount = std::size(kKeptKeys);
// The key choice after the table: type, RSA size and curve name from the input, made for
// that input alone (and often refused).
inline constexpr std::uint8_t kKeyFromInput = kKeptKeyCount;

// Who signs. The CAs are this process's own (made once, with the builder), or come from the
// input as PEM texts: CAText is "certificate NUL key NUL password".
enum class TIssuer : std::uint8_t {
  Self,
  CA,                  // the CA's certificate and plain key
  CAEncryptedKey,      // its encrypted key with the right password
  CAKeyInputPassword,  // its encrypted key with the input's password, mostly a wrong one
  InputCert,           // a certificate from the input, signed with the CA's key
  InputKey,            // the CA's certificate with a key and password from the input
  InputAll,            // certificate, key and password all from the input
  CACombinedText,      // one text holding certificate and key, given for both
  Count,
};

// The further certificate given to a bundle.
enum class TBundleCA : std::uint8_t { None, ProcessCA, InputCert, NotACertificate, Count };

struct TBuilderInput {
  std::uint8_t Key = 0;  // index into kKeptKeys, or kKeyFromInput; larger numbers wrap
  bool FreshKey = false;
  bool InputKeyIsRSA = false;
  std::int32_t InputRSABits = 0;
  std::string InputCurve;

  TSubjectDN Subject;
  std::int32_t ValidDays = 0;
  bool IsCA = false;
  std::int32_t PathLen = 0;
  std::uint16_t KeyUsage = 0;    // bit i is TKeyUsage i
  std::uint8_t ExtKeyUsage = 0;  // bit i is TExtKeyUsage i
  std::vector<std::string> DNSNames, IPs, Emails;

  // Key settings that disagree with the key held: the signing key alone chooses the digest,
  // and nothing may trip over settings that no longer describe the key.
  bool DigestSettingsFromInput = false;
  bool DigestRSA = false;
  std::int32_t DigestRSABits = 0;
  std::string DigestCurve;

  std::uint8_t Issuer = 0;  // TIssuer, wrapping
  bool RSACA = false;       // which of the process's CAs

  // Exports. Encrypted keys and bundles cost a 2048-round key derivation each, so only one
  // input in four (sixteen) makes them; a zero byte, as at the end of the input, means no.
  std::string Password;
  std::uint8_t EncryptedKeyExport = 0;
  std::uint8_t BundleExport = 0;
  std::string FriendlyName;
  std::uint8_t BundleCA = 0;  // TBundleCA, wrapping

  std::string CAText;

  TIssuer IssuerChoice() const {
    return static_cast<TIssuer>(Issuer % static_cast<std::uint8_t>(TIssuer::Count));
  }
  TBundleCA BundleCAChoice() const {
    return static_cast<TBundleCA>(BundleCA % static_cast<std::uint8_t>(TBundleCA::Count));
  }
  bool WantsEncryptedKey() const { return EncryptedKeyExport % 4 == 1; }
  bool WantsBundle() const { return BundleExport % 16 == 1; }
};

// The layout: Stream is FuzzInput (reading into Input) or FuzzOutput (writing from it).
template <typename Stream, typename Input>
void Fields(Stream& s, Input& p) {
  s.Field(p.Key);
  s.Field(p.FreshKey);
  s.Field(p.InputKeyIsRSA);
  s.Field(p.InputRSABits);
  s.Field(p.InputCurve, 24);

  s.Field(p.Subject.CN, 80);
  s.Field(p.Subject.O, 255);
  s.Field(p.Subject.OU, 255);
  s.Field(p.Subject.C, 4);
  s.Field(p.Subject.ST, 255);
  s.Field(p.Subject.L, 255);
  s.Field(p.Subject.Email, 80);
  s.Field(p.ValidDays);
  s.Field(p.IsCA);
  s.Field(p.PathLen);
  s.Field(p.KeyUsage);
  s.Field(p.ExtKeyUsage);
  s.Field(p.DNSNames, 64);
  s.Field(p.IPs, 64);
  s.Field(p.Emails, 64);

  s.Field(p.DigestSettingsFromInput);
  s.Field(p.DigestRSA);
  s.Field(p.DigestRSABits);
  s.Field(p.DigestCurve, 16);

  s.Field(p.Issuer);
  s.Field(p.RSACA);

  s.Field(p.Password, 32);
  s.Field(p.EncryptedKeyExport);
  s.Field(p.BundleExport);
  s.Field(p.FriendlyName, 32);
  s.Field(p.BundleCA);

  s.Remainder(p.CAText);
}

}  // namespace velmora::fuzz
