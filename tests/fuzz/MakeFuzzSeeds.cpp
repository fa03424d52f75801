// Writes the fuzzers' seed inputs, made with our own builder: certificates and keys as PEM,
// bundles, Base64 DER and builder inputs. Usage: make_fuzz_seeds OUTPUT_DIR
//
// Whatever a seed encrypts, it encrypts with a single round of key derivation: the program's
// own 2048 rounds would make every input that starts from such a seed spend its time in the
// derivation, and a short fuzzing run would then explore almost nothing. A seed that the
// loaders cannot read back is no seed, so every bundle is read back before it is written.
#include "crypto/CRL.h"
#include "crypto/CertBuilder.h"
#include "crypto/Certificates.h"
#include "tests/fuzz/BuilderInput.h"
#include "tests/fuzz/FuzzInput.h"

#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;
using velmora::TCertBuilder;

namespace {

using P8InfoPtr = velmora::DeleteFnPtr<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>;

void Write(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

[[noreturn]] void Fail(const std::string& what) {
  ERR_print_errors_fp(stderr);
  throw std::runtime_error(what);
}

std::string Base64Der(X509* cert) {
  unsigned char* der = nullptr;
  const int length = i2d_X509(cert, &der);
  std::string out(4 * ((length + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), der, length);
  OPENSSL_free(der);
  out.resize(written);
  return out;
}

void MakeCA(TCertBuilder& ca) {
  ca.Subject.CN = "Seed Root";
  ca.IsCA = true;
  ca.KeyUsage = {velmora::kuKeyCertSign, velmora::kuCRLSign};
  ca.GenerateKey();
  ca.BuildSelfSigned();
}

// PKCS #8 under PBES2 (AES-256, HMAC-SHA-256) with one round.
std::string LowIterationKeyPEM(EVP_PKEY* key, const std::string& password) {
  P8InfoPtr info(EVP_PKEY2PKCS8(key));
  const int length = static_cast<int>(password.size());
  constexpr int rounds = 1;
  velmora::X509_SIGPtr sealed(info ? PKCS8_encrypt(-1, EVP_aes_256_cbc(), password.c_str(), length,
                                                   nullptr, 0, rounds, info.get())
                                   : nullptr);
  velmora::BIOPtr bio(BIO_new(BIO_s_mem()));
  if (!sealed || !bio || PEM_write_bio_PKCS8(bio.get(), sealed.get()) != 1) Fail("PKCS8_encrypt");
  return velmora::BioToString(bio.get());
}

// The older form with "Proc-Type" and "DEK-Info" headers (one round of MD5 by design).
std::string TraditionalEncryptedKeyPEM(EVP_PKEY* key, const std::string& password) {
  velmora::BIOPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey_traditional(
                  bio.get(), key, EVP_aes_128_cbc(),
                  reinterpret_cast<const unsigned char*>(password.data()),
                  static_cast<int>(password.size()), nullptr, nullptr) != 1)
    Fail("PEM_write_bio_PrivateKey_traditional");
  return velmora::BioToString(bio.get());
}

// Bundle shapes beyond the program's own: without MAC, without encryption, with the older
// 3DES PBE and a SHA-1 MAC (RC2 would need libcrypto's legacy provider), without key.
struct TBundleSeed {
  const char* File;
  const char* Password;
  bool WithKey, WithCA;
  int KeyNid, CertNid;           // 0: libcrypto's default (PBES2, AES-256), -1: not encrypted
  int MacIter;                   // -1: no MAC
  const EVP_MD* (*MacDigest)();  // set: a MAC of this digest instead of PKCS12_create's own
};

const TBundleSeed kBundleSeeds[] = {
    {"chain.pfx", "fixed", true, true, 0, 0, 1, nullptr},
    {"legacy_sha1_mac.pfx", "fixed", true, false, NID_pbe_WithSHA1And3_Key_TripleDES_CBC,
     NID_pbe_WithSHA1And3_Key_TripleDES_CBC, -1, EVP_sha1},
    {"plain_no_mac.pfx", "", true, false, -1, -1, -1, nullptr},
    {"encrypted_no_mac.pfx", "", true, false, 0, 0, -1, nullptr},
    {"cert_only.pfx", "", false, true, 0, -1, 1, nullptr},
};

std::string MakeBundle(const TBundleSeed& seed, const TCertBuilder& leaf, const TCertBuilder& ca,
                       const fs::path& scratch) {
  velmora::X509StackPtr chain(sk_X509_new_null());
  if (!chain) Fail("sk_X509_new_null");
  if (seed.WithCA) {
    if (sk_X509_push(chain.get(), ca.Cert()) <= 0) Fail("sk_X509_push");
    X509_up_ref(ca.Cert());  // the stack owns a reference of its own now
  }
  EVP_PKEY* key = seed.WithKey ? leaf.Key() : nullptr;
  velmora::PKCS12Ptr bundle(PKCS12_create(seed.Password, "Seed", key, leaf.Cert(), chain.get(),
                                          seed.KeyNid, seed.CertNid, 1,
                                          seed.MacDigest ? -1 : seed.MacIter, 0));
  if (!bundle) Fail(std::string("PKCS12_create ") + seed.File);
  if (seed.MacDigest &&
      PKCS12_set_mac(bundle.get(), seed.Password, -1, nullptr, 0, 1, seed.MacDigest()) != 1)
    Fail(std::string("PKCS12_set_mac ") + seed.File);
  velmora::BIOPtr der(BIO_new(BIO_s_mem()));
  if (!der || i2d_PKCS12_bio(der.get(), bundle.get()) != 1) Fail("i2d_PKCS12_bio");
  const std::string bytes = velmora::BioToString(der.get());

  Write(scratch, bytes);
  auto loaded = velmora::TCertLoader::LoadFromP12File(scratch.string(), seed.Password);
  fs::remove(scratch);
  if (!loaded->X509Cert() || X509_cmp(loaded->X509Cert(), leaf.Cert()) != 0 ||
      loaded->HasPrivateKey() != seed.WithKey)
    Fail(std::string("bundle seed does not read back: ") + seed.File);
  return bytes;
}

// The table number of a kept key, found by what it is rather than by where it stands.
std::uint8_t KeptKey(velmora::TKeyType type, std::int32_t bits, const std::string& curve) {
  for (std::size_t i = 0; i < velmora::fuzz::kKeptKeyCount; ++i) {
    const velmora::fuzz::TKeptKey& kept = velmora::fuzz::kKeptKeys[i];
    if (kept.Type == type && kept.RSABits == bits && curve == kept.Curve)
      return static_cast<std::uint8_t>(i);
  }
  throw std::logic_error("no kept key " + curve + std::to_string(bits));
}

template <typename TMember>
unsigned BitsOf(std::initializer_list<TMember> members) {
  unsigned value = 0;
  for (TMember m : members) value |= 1u << m;
  return value;
}

// Builder inputs for typical forms: a server certificate under the process's CA, a CA under
// the RSA CA with every export, keys the input describes, and a CA given by the input.
void WriteBuilderSeeds(const fs::path& dir, const std::string& inputCA) {
  using namespace velmora;
  using fuzz::TBuilderInput;
  using fuzz::TIssuer;
  const auto write = [&](const char* name, const TBuilderInput& p) {
    fuzz::FuzzOutput out;
    fuzz::Fields(out, p);
    Write(dir / name, out.Bytes());
  };

  write("empty.bin", {});

  TBuilderInput server;
  server.Key = KeptKey(ktECC, 0, "P-256");
  server.Subject = {"host.example", "Org", "", "DE", "", "", ""};
  server.ValidDays = 365;
  server.KeyUsage = static_cast<std::uint16_t>(BitsOf({kuDigitalSignature, kuKeyEncipherment}));
  server.ExtKeyUsage = static_cast<std::uint8_t>(BitsOf({ekuServerAuth, ekuClientAuth}));
  server.DNSNames = {"host.example", "*.host.example"};
  server.IPs = {"10.0.0.1", "::1"};
  server.Emails = {"a@host.example"};
  server.Issuer = static_cast<std::uint8_t>(TIssuer::CA);
  write("server_under_ca.bin", server);

  TBuilderInput sub;
  sub.Key = KeptKey(ktRSA, 1024, "");
  sub.Subject.CN = "Sub CA";
  sub.ValidDays = 3650;
  sub.IsCA = true;
  sub.KeyUsage = static_cast<std::uint16_t>(BitsOf({kuKeyCertSign, kuCRLSign}));
  sub.Issuer = static_cast<std::uint8_t>(TIssuer::CAEncryptedKey);
  sub.RSACA = true;
  sub.Password = "fixed";
  sub.EncryptedKeyExport = 1;
  sub.BundleExport = 1;
  sub.FriendlyName = "Sub CA";
  sub.BundleCA = static_cast<std::uint8_t>(fuzz::TBundleCA::ProcessCA);
  write("sub_ca_all_exports.bin", sub);

  TBuilderInput rsa;
  rsa.Key = fuzz::kKeyFromInput;
  rsa.InputKeyIsRSA = true;
  rsa.InputRSABits = 512;
  rsa.Subject.CN = "small";
  rsa.ValidDays = 1;
  rsa.DigestSettingsFromInput = true;  // P-521 settings pick SHA-512, too long for RSA-512
  rsa.DigestCurve = "P-521";
  write("input_rsa_key.bin", rsa);

  TBuilderInput curve;
  curve.Key = fuzz::kKeyFromInput;
  curve.InputCurve = "secp384r1";
  curve.Subject.CN = "curve";
  curve.ValidDays = 30;
  curve.Issuer = static_cast<std::uint8_t>(TIssuer::CACombinedText);
  curve.RSACA = true;
  write("input_curve_key.bin", curve);

  TBuilderInput byInput;
  byInput.Key = KeptKey(ktECC, 0, "P-384");
  byInput.Subject.CN = "under input CA";
  byInput.ValidDays = 90;
  byInput.Issuer = static_cast<std::uint8_t>(TIssuer::InputAll);
  byInput.CAText = inputCA;
  write("input_ca.bin", byInput);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const fs::path out(argv[1]);
  try {
    TCertBuilder ca;
    MakeCA(ca);

    TCertBuilder leaf;
    leaf.KeyType = velmora::ktRSA;
    leaf.RSABits = 1024;  // small seeds; the size makes no difference to the parsers
    leaf.Subject = {"leaf.example", "Org", "Unit", "DE", "Bayern", "Passau", "a@b.example"};
    leaf.SANDNSNames = {"leaf.example", "*.leaf.example"};
    leaf.SANIPs = {"10.0.0.1"};
    leaf.GenerateKey();
    leaf.BuildSignedBy(ca.CertToPEM(), ca.KeyToPEM(""), "");

    const std::string certPEM = leaf.CertToPEM();
    const std::string keyPEM = leaf.KeyToPEM("");
    const std::string caCertPEM = ca.CertToPEM();
    const std::string caKeyPEM = ca.KeyToPEM("");
    const std::string caEncKeyPEM = LowIterationKeyPEM(ca.Key(), "fixed");
    // Seeds of earlier versions go: a stale seed would still be fuzzed and replayed.
    for (const char* target :
         {"pem_text", "file_loaders", "base64", "builder_settings", "file_start", "text_decoding",
          "bundle_without_password", "store_description", "certificate_request", "crl_reader"})
      fs::remove_all(out / target);
    fs::create_directories(out);

    // PEM texts: certificate, keys, and both together in either order; then CA pairs as a
    // CA-signed build takes them (certificate NUL key NUL password).
    Write(out / "pem_text/cert.pem", certPEM);
    Write(out / "pem_text/key.pem", keyPEM);
    Write(out / "pem_text/enckey.pem", TraditionalEncryptedKeyPEM(leaf.Key(), "fixed"));
    Write(out / "pem_text/chain.pem", certPEM + caCertPEM);
    Write(out / "pem_text/ca_pair.pem", caCertPEM + '\0' + caKeyPEM + '\0');
    Write(out / "pem_text/ca_encrypted_pair.pem", caCertPEM + '\0' + caEncKeyPEM + '\0' + "fixed");

    // Whole files for the file loaders.
    Write(out / "file_loaders/cert_key.pem", certPEM + keyPEM);
    Write(out / "file_loaders/enckey_cert.pem", LowIterationKeyPEM(leaf.Key(), "fixed") + certPEM);
    for (const TBundleSeed& seed : kBundleSeeds)
      Write(out / "file_loaders" / seed.File, MakeBundle(seed, leaf, ca, out / "tmp.pfx"));

    // Base64 DER, on one line and wrapped.
    const std::string b64 = Base64Der(leaf.Cert());
    Write(out / "base64/one_line.txt", b64);
    std::string wrapped;
    for (size_t i = 0; i < b64.size(); i += 64) wrapped += b64.substr(i, 64) + "\r\n";
    Write(out / "base64/wrapped.txt", wrapped);

    // File starts as the plain words look at them, and the same files as texts to decode:
    // with each byte-order mark, and as Latin-1.
    Write(out / "file_start/cert.pem", certPEM);
    Write(out / "file_start/key.pem", keyPEM);
    Write(out / "file_start/request.pem",
          "-----BEGIN CERTIFICATE REQUEST-----\nMIIB\n-----END CERTIFICATE REQUEST-----\n");
    Write(out / "file_start/blank.txt", " \r\n\t");
    Write(out / "text_decoding/utf8_bom.pem", "\xEF\xBB\xBF" + certPEM);
    std::string utf16le = "\xFF\xFE", utf16be = "\xFE\xFF";
    for (char c : std::string("CN=Gr\xC3\xBC\xC3\x9F")) {
      utf16le += c, utf16le += '\0';
      utf16be += '\0', utf16be += c;
    }
    Write(out / "text_decoding/utf16le.txt", utf16le);
    Write(out / "text_decoding/utf16be.txt", utf16be);
    Write(out / "text_decoding/latin1.txt", "CN=Gr\xFC\xDF");
    // Bundles as the store panel opens them, and store files of each kind (the first byte
    // picks the extension: 0 .crt, 1 .key, 2 .pfx).
    for (const TBundleSeed& seed : kBundleSeeds) {
      const std::string bundle = MakeBundle(seed, leaf, ca, out / "tmp.pfx");
      Write(out / "bundle_without_password" / seed.File, bundle);
      Write(out / "file_start" / seed.File, bundle);
      Write(out / "store_description" / seed.File, '\2' + bundle);
    }
    Write(out / "store_description/cert.bin", '\0' + certPEM + caCertPEM);
    Write(out / "store_description/key.bin", '\1' + keyPEM);
    Write(out / "store_description/enckey.bin", '\1' + LowIterationKeyPEM(leaf.Key(), "fixed"));

    // Requests as the store and sign read them: PEM with and without names, and DER.
    leaf.BuildRequest();
    const std::string requestPEM = leaf.RequestToPEM();
    Write(out / "certificate_request/leaf.csr", requestPEM);
    Write(out / "certificate_request/after_cert.pem", certPEM + requestPEM);
    {
      unsigned char* der = nullptr;
      const int length = i2d_X509_REQ(leaf.Request(), &der);
      if (length > 0)
        Write(out / "certificate_request/leaf.der",
              std::string(reinterpret_cast<char*>(der), static_cast<std::size_t>(length)));
      OPENSSL_free(der);
    }
    TCertBuilder bare;
    bare.Subject.CN = "bare.example";
    bare.GenerateKey();
    bare.BuildRequest();
    Write(out / "certificate_request/bare.csr", bare.RequestToPEM());

    // Revocation lists: empty, with an entry and its reason, as PEM and as DER.
    const velmora::TCRLSigner signer(caCertPEM, caKeyPEM, "");
    const std::string emptyCRL = signer.Sign(nullptr, nullptr, {}, 30, 1'800'000'000);
    const velmora::TCertificateView revoked(leaf.Cert());
    const std::optional<velmora::TCRLView> first = velmora::ReadCRLView(emptyCRL);
    const std::string oneCRL = signer.Sign(
        &*first, &revoked, velmora::TRevocationReason::KeyCompromise, 30, 1'800'000'100);
    Write(out / "crl_reader/empty.crl", emptyCRL);
    Write(out / "crl_reader/one.crl", oneCRL);
    {
      const std::optional<velmora::TCRLView> view = velmora::ReadCRLView(oneCRL);
      unsigned char* der = nullptr;
      const int length = i2d_X509_CRL(view->Handle(), &der);
      if (length > 0)
        Write(out / "crl_reader/one.der",
              std::string(reinterpret_cast<char*>(der), static_cast<std::size_t>(length)));
      OPENSSL_free(der);
    }

    WriteBuilderSeeds(out / "builder_settings", caCertPEM + '\0' + caEncKeyPEM + '\0' + "fixed");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_fuzz_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
