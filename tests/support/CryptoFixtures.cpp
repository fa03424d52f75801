#include "tests/support/CryptoFixtures.h"

#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdlib>
#include <fstream>
#include <map>

namespace velmora::test {

namespace {

EVP_PKEYPtr OwnedOrRaise(EVP_PKEY* Key, const std::string& Context) {
  EVP_PKEYPtr owned(Key);
  if (!owned) RaiseOpenSSLError(Context);
  return owned;
}

BIOPtr NewMemoryBIO() {
  BIOPtr bio(BIO_new(BIO_s_mem()));
  if (!bio) RaiseOpenSSLError("BIO_new");
  return bio;
}

Bytes ContentsOf(BIO* Bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(Bio, &data);
  if (length <= 0) return {};
  return Bytes(data, data + length);
}

std::string TextOf(BIO* Bio) {
  const Bytes bytes = ContentsOf(Bio);
  return std::string(bytes.begin(), bytes.end());
}

// Ed25519 and its kind sign the message itself and take no digest.
const EVP_MD* DigestFor(EVP_PKEY* Key) {
  if (EVP_PKEY_is_a(Key, "ED25519") || EVP_PKEY_is_a(Key, "ED448")) return nullptr;
  return EVP_sha256();
}

}  // namespace

EVP_PKEYPtr MakeRSAKey(int Bits, const char* Type) {
  const std::string what = std::string("keygen ") + Type + " " + std::to_string(Bits);
  EVP_PKEY_CTXPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, Type, nullptr));
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), Bits) <= 0)
    RaiseOpenSSLError(what);
  // libcrypto's default generator gives both primes half of the size, so an odd size such
  // as 3071 comes out a bit short. With a small public exponent it uses its older
  // generator, which makes the modulus exactly as long as asked.
  if (Bits % 2 != 0) {
    BIGNUMPtr three(BN_new());
    if (!three || BN_set_word(three.get(), 3) != 1 ||
        EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), three.get()) <= 0)
      RaiseOpenSSLError(what);
  }
  EVP_PKEY* raw = nullptr;
  const int generated = EVP_PKEY_generate(ctx.get(), &raw);
  EVP_PKEYPtr key(raw);
  if (generated != 1) RaiseOpenSSLError(what);
  if (EVP_PKEY_get_bits(key.get()) != Bits)
    throw Exception(what + " gave " + std::to_string(EVP_PKEY_get_bits(key.get())) + " bits");
  return key;
}

EVP_PKEYPtr MakeECKey(const std::string& Group) {
  return OwnedOrRaise(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", Group.c_str()),
                      "keygen EC " + Group);
}

EVP_PKEYPtr MakeKey(const std::string& Type) {
  return OwnedOrRaise(EVP_PKEY_Q_keygen(nullptr, nullptr, Type.c_str()), "keygen " + Type);
}

bool HasPrivateComponent(EVP_PKEY* Key) {
  TolerateErrors tolerate;  // asking a public key for its private part fails quietly
  BIGNUM* raw = nullptr;
  for (const char* name : {OSSL_PKEY_PARAM_PRIV_KEY, OSSL_PKEY_PARAM_RSA_D}) {
    const int found = EVP_PKEY_get_bn_param(Key, name, &raw);
    BIGNUMPtr value(raw);
    raw = nullptr;
    if (found == 1) return true;
  }
  size_t length = 0;  // Edwards-curve keys hold their private part as an octet string
  return EVP_PKEY_get_octet_string_param(Key, OSSL_PKEY_PARAM_PRIV_KEY, nullptr, 0, &length) == 1 &&
         length > 0;
}

EVP_PKEYPtr SharedRSAKey(int Bits) {
  static std::map<int, EVP_PKEYPtr> keys;
  EVP_PKEYPtr& key = keys[Bits];
  if (!key) key = MakeRSAKey(Bits);
  if (EVP_PKEY_up_ref(key.get()) != 1) RaiseOpenSSLError("EVP_PKEY_up_ref");
  return EVP_PKEYPtr(key.get());
}

X509Ptr MakeSignedCert(EVP_PKEY* Key, const std::string& CommonName, X509* Issuer,
                       EVP_PKEY* IssuerKey) {
  static long serial = 0;
  X509Ptr cert(X509_new());
  if (!cert) RaiseOpenSSLError("X509_new");
  X509_NAME* subject = X509_get_subject_name(cert.get());
  if (X509_set_version(cert.get(), X509_VERSION_3) != 1 ||
      ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ++serial) != 1 ||
      X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(CommonName.c_str()), -1, -1,
                                 0) != 1 ||
      X509_set_issuer_name(cert.get(), Issuer ? X509_get_subject_name(Issuer) : subject) != 1 ||
      !X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) ||
      !X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 24 * 60 * 60) ||
      X509_set_pubkey(cert.get(), Key) != 1)
    RaiseOpenSSLError("certificate body");
  if (X509_sign(cert.get(), IssuerKey, DigestFor(IssuerKey)) <= 0) RaiseOpenSSLError("X509_sign");
  return cert;
}

X509Ptr MakeSelfSignedCert(EVP_PKEY* Key, const std::string& CommonName) {
  return MakeSignedCert(Key, CommonName, nullptr, Key);
}

std::string CertToPEM(X509* Cert) {
  BIOPtr bio = NewMemoryBIO();
  if (PEM_write_bio_X509(bio.get(), Cert) != 1) RaiseOpenSSLError("PEM_write_bio_X509");
  return TextOf(bio.get());
}

Bytes CertToDER(X509* Cert) {
  BIOPtr bio = NewMemoryBIO();
  if (i2d_X509_bio(bio.get(), Cert) != 1) RaiseOpenSSLError("i2d_X509_bio");
  return ContentsOf(bio.get());
}

std::string KeyToPKCS8PEM(EVP_PKEY* Key, const std::string& Password) {
  BIOPtr bio = NewMemoryBIO();
  const EVP_CIPHER* cipher = Password.empty() ? nullptr : EVP_aes_256_cbc();
  if (PEM_write_bio_PKCS8PrivateKey(bio.get(), Key, cipher, nullptr, 0, nullptr,
                                    const_cast<char*>(Password.c_str())) != 1)
    RaiseOpenSSLError("PEM_write_bio_PKCS8PrivateKey");
  return TextOf(bio.get());
}

std::string KeyToTraditionalPEM(EVP_PKEY* Key, const std::string& Password) {
  BIOPtr bio = NewMemoryBIO();
  const EVP_CIPHER* cipher = Password.empty() ? nullptr : EVP_aes_256_cbc();
  if (PEM_write_bio_PrivateKey_traditional(
          bio.get(), Key, cipher,
          reinterpret_cast<unsigned char*>(const_cast<char*>(Password.c_str())),
          static_cast<int>(Password.size()), nullptr, nullptr) != 1)
    RaiseOpenSSLError("PEM_write_bio_PrivateKey_traditional");
  return TextOf(bio.get());
}

Bytes MakePKCS12(EVP_PKEY* Key, X509* Cert, const std::vector<X509*>& Chain,
                 const std::string& Password) {
  X509StackPtr chain;
  if (!Chain.empty()) {
    chain.reset(sk_X509_new_null());
    if (!chain) RaiseOpenSSLError("sk_X509_new_null");
    for (X509* cert : Chain) {
      // The stack frees what it holds, so it holds references of its own.
      if (X509_up_ref(cert) != 1) RaiseOpenSSLError("X509_up_ref");
      if (sk_X509_push(chain.get(), cert) <= 0) {
        X509_free(cert);
        RaiseOpenSSLError("sk_X509_push");
      }
    }
  }
  PKCS12Ptr bundle(
      PKCS12_create(Password.c_str(), "Velmora Test", Key, Cert, chain.get(), 0, 0, 0, 0, 0));
  if (!bundle) RaiseOpenSSLError("PKCS12_create");
  BIOPtr bio = NewMemoryBIO();
  if (i2d_PKCS12_bio(bio.get(), bundle.get()) != 1) RaiseOpenSSLError("i2d_PKCS12_bio");
  return ContentsOf(bio.get());
}

void WriteFile(const std::filesystem::path& Path, const std::string& Contents) {
  std::ofstream file(Path, std::ios::binary | std::ios::trunc);
  file << Contents;
  if (!file.flush()) throw Exception("Cannot write " + Path.string());
}

void WriteFile(const std::filesystem::path& Path, const Bytes& Contents) {
  WriteFile(Path, std::string(Contents.begin(), Contents.end()));
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw Exception("Cannot make a directory " + pattern);
  FPath = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

}  // namespace velmora::test
