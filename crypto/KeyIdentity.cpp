#include "crypto/KeyIdentity.h"

#include <array>

namespace velmora {

namespace {

std::string Hex(const unsigned char* Bytes, unsigned Length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(std::size_t{Length} * 2);
  for (unsigned i = 0; i < Length; ++i) {
    text += kDigits[Bytes[i] >> 4];
    text += kDigits[Bytes[i] & 0x0F];
  }
  return text;
}

}  // namespace

// A key that cannot be encoded has no identity: the callers only compare, and an empty text
// never equals one that was computed.
std::string PublicKeyIdentity(const EVP_PKEY* Key) {
  if (!Key) return {};
  TolerateErrors tolerate;
  const BIOPtr der(BIO_new(BIO_s_mem()));
  if (!der || i2d_PUBKEY_bio(der.get(), Key) != 1) return {};
  char* bytes = nullptr;
  const long length = BIO_get_mem_data(der.get(), &bytes);
  if (length <= 0 || !bytes) return {};
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned digestLength = 0;
  if (EVP_Digest(bytes, static_cast<std::size_t>(length), digest.data(), &digestLength,
                 EVP_sha256(), nullptr) != 1)
    return {};
  return Hex(digest.data(), digestLength);
}

std::string CertificateKeyIdentity(const X509* Cert) {
  if (!Cert) return {};
  return PublicKeyIdentity(X509_get0_pubkey(Cert));
}

}  // namespace velmora
