// TCertLoader: what each function puts into the object it returns, and how it fails.
#include "tests/crypto/CertificatesTestSupport.h"

#include <fstream>
#include <functional>
#include <iterator>

namespace velmora::test {
namespace {

std::string Base64Of(const Bytes& Data) {
  std::string text(4 * ((Data.size() + 2) / 3) + 1, '\0');
  text.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                                  Data.data(), static_cast<int>(Data.size()))));
  return text;
}

// One key pair with its certificate, a second certificate, a small CA chain, and files
// holding them in every form the loaders read.
class Loader : public ::testing::Test {
 protected:
  Loader() {
    WriteFile(dir.File("cert.pem"), CertToPEM(cert.get()));
    WriteFile(dir.File("key.pem"), KeyToPKCS8PEM(key.get()));
    WriteFile(dir.File("encrypted-key.pem"), KeyToPKCS8PEM(key.get(), "secret"));
    WriteFile(dir.File("cert-key.pem"), CertToPEM(cert.get()) + KeyToPKCS8PEM(key.get()));
    WriteFile(dir.File("key-cert.pem"), KeyToPKCS8PEM(key.get()) + CertToPEM(cert.get()));
    WriteFile(dir.File("cert-encrypted-key.pem"),
              CertToPEM(cert.get()) + KeyToPKCS8PEM(key.get(), "secret"));
    WriteFile(dir.File("other-cert-key.pem"),
              CertToPEM(otherCert.get()) + KeyToPKCS8PEM(key.get()));
    WriteFile(dir.File("neither.pem"), std::string("Just some text.\n"));
    WriteFile(dir.File("cert.cer"), CertToDER(cert.get()));
    WriteFile(dir.File("bundle.p12"), MakePKCS12(key.get(), cert.get(), {}, "secret"));
    WriteFile(dir.File("cert-only.p12"), MakePKCS12(nullptr, cert.get(), {}, "secret"));
    WriteFile(dir.File("chain.p12"),
              MakePKCS12(leafKey.get(), leafCert.get(), {caCert.get(), cert.get()}, "secret"));
  }

  std::string File(const std::string& name) const { return dir.File(name); }
  // A file's whole content, as a caller that opened and checked the file itself hands it over.
  std::string ContentOf(const std::string& name) const {
    std::ifstream in(File(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  const TempDir dir;
  const EVP_PKEYPtr key = MakeECKey("prime256v1");
  const X509Ptr cert = MakeSelfSignedCert(key.get(), "Velmora Test");
  const EVP_PKEYPtr otherKey = MakeECKey("prime256v1");
  const X509Ptr otherCert = MakeSelfSignedCert(otherKey.get(), "Other");
  const EVP_PKEYPtr caKey = MakeECKey("secp384r1");
  const X509Ptr caCert = MakeSelfSignedCert(caKey.get(), "Velmora Test CA");
  const EVP_PKEYPtr leafKey = MakeECKey("prime256v1");
  const X509Ptr leafCert = MakeSignedCert(leafKey.get(), "Leaf", caCert.get(), caKey.get());
};

using Load = std::function<std::unique_ptr<TOpenSSLCert>()>;

TEST_F(Loader, EachFunctionFillsKeyCertificateAndFlag) {
  struct Case {
    const char* name;
    Load load;
    EVP_PKEY* key;
    bool privateKey;
    X509* cert;
  };
  const Case cases[] = {
      {"LoadPrivateKey", [&] { return TCertLoader::LoadPrivateKey(KeyToPKCS8PEM(key.get())); },
       key.get(), true, nullptr},
      {"LoadCertificate", [&] { return TCertLoader::LoadCertificate(CertToPEM(cert.get())); },
       key.get(), false, cert.get()},
      {"LoadCertificateFromPEMFile",
       [&] { return TCertLoader::LoadCertificateFromPEMFile(File("cert.pem")); }, key.get(), false,
       cert.get()},
      {"LoadCertificateFromPEMFile, key first",
       [&] { return TCertLoader::LoadCertificateFromPEMFile(File("key-cert.pem")); }, key.get(),
       false, cert.get()},
      {"LoadPrivateKeyFromPEMFile",
       [&] { return TCertLoader::LoadPrivateKeyFromPEMFile(File("key.pem"), ""); }, key.get(), true,
       nullptr},
      {"LoadPrivateKeyFromPEMFile, certificate first",
       [&] { return TCertLoader::LoadPrivateKeyFromPEMFile(File("cert-key.pem"), ""); }, key.get(),
       true, nullptr},
      {"LoadPrivateKeyFromPEMFile, encrypted",
       [&] { return TCertLoader::LoadPrivateKeyFromPEMFile(File("encrypted-key.pem"), "secret"); },
       key.get(), true, nullptr},
      {"LoadFromPEMFile, certificate then key",
       [&] { return TCertLoader::LoadFromPEMFile(File("cert-key.pem"), ""); }, key.get(), true,
       cert.get()},
      {"LoadFromPEMFile, key then certificate",
       [&] { return TCertLoader::LoadFromPEMFile(File("key-cert.pem"), ""); }, key.get(), true,
       cert.get()},
      {"LoadFromPEMFile, certificate only",
       [&] { return TCertLoader::LoadFromPEMFile(File("cert.pem"), ""); }, key.get(), false,
       cert.get()},
      {"LoadFromPEMFile, neither",
       [&] { return TCertLoader::LoadFromPEMFile(File("neither.pem"), ""); }, nullptr, false,
       nullptr},
      {"LoadFromPEMFile, encrypted key and its password",
       [&] { return TCertLoader::LoadFromPEMFile(File("cert-encrypted-key.pem"), "secret"); },
       key.get(), true, cert.get()},
      {"LoadFromPEMFile, encrypted key and a wrong password",
       [&] { return TCertLoader::LoadFromPEMFile(File("cert-encrypted-key.pem"), "wrong"); },
       key.get(), false, cert.get()},
      {"LoadFromPEMFile does not match key and certificate",
       [&] { return TCertLoader::LoadFromPEMFile(File("other-cert-key.pem"), ""); }, key.get(),
       true, otherCert.get()},
      {"LoadFromP12File",
       [&] { return TCertLoader::LoadFromP12File(File("bundle.p12"), "secret"); }, key.get(), true,
       cert.get()},
      {"LoadFromP12File, certificate without key",
       [&] { return TCertLoader::LoadFromP12File(File("cert-only.p12"), "secret"); }, nullptr,
       false, cert.get()},
      {"LoadFromP12File, CA chain dropped",
       [&] { return TCertLoader::LoadFromP12File(File("chain.p12"), "secret"); }, leafKey.get(),
       true, leafCert.get()},
      {"LoadCertificateFromPEMBytes",
       [&] { return TCertLoader::LoadCertificateFromPEMBytes(ContentOf("key-cert.pem")); },
       key.get(), false, cert.get()},
      {"LoadPrivateKeyFromPEMBytes, encrypted",
       [&] {
         return TCertLoader::LoadPrivateKeyFromPEMBytes(ContentOf("encrypted-key.pem"), "secret");
       },
       key.get(), true, nullptr},
      {"LoadFromPEMBytes, certificate then key",
       [&] { return TCertLoader::LoadFromPEMBytes(ContentOf("cert-key.pem"), ""); }, key.get(),
       true, cert.get()},
      // DER holds NUL bytes: the whole of the bytes is read, not a C string's worth.
      {"LoadFromP12Bytes",
       [&] { return TCertLoader::LoadFromP12Bytes(ContentOf("bundle.p12"), "secret"); }, key.get(),
       true, cert.get()},
      {"LoadFromBase64 of a DER file's bytes",
       [&] { return TCertLoader::LoadFromBase64(Base64Of(CertToDER(cert.get()))); }, key.get(),
       false, cert.get()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TOpenSSLCert> object = c.load();
    ASSERT_NE(object, nullptr);
    ExpectHolds(*object, c.key, c.privateKey, c.cert);
    // The facts describe the key held, and only that.
    EXPECT_EQ(object->KeyType(), c.key ? ctECC : ctUnknown);
    EXPECT_EQ(object->Bits(), c.key ? EVP_PKEY_get_bits(c.key) : 0);
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

TEST_F(Loader, TextWithoutTheWantedItemGivesNoObject) {
  const std::pair<const char*, Load> cases[] = {
      {"private key from empty text", [] { return TCertLoader::LoadPrivateKey(""); }},
      {"certificate from empty text", [] { return TCertLoader::LoadCertificate(""); }},
      {"private key from a certificate",
       [&] { return TCertLoader::LoadPrivateKey(CertToPEM(cert.get())); }},
      {"certificate from a private key",
       [&] { return TCertLoader::LoadCertificate(KeyToPKCS8PEM(key.get())); }},
      // With no password to give, libcrypto must neither prompt nor read the key.
      {"encrypted PKCS#8 key",
       [&] { return TCertLoader::LoadPrivateKey(KeyToPKCS8PEM(key.get(), "secret")); }},
      {"encrypted traditional key",
       [&] { return TCertLoader::LoadPrivateKey(KeyToTraditionalPEM(key.get(), "secret")); }},
  };
  for (const auto& [name, load] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(load(), nullptr);
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

TEST_F(Loader, FailuresNameTheStep) {
  const std::string missing = File("missing.pem");
  const std::string missingBundle = File("missing.PFX");
  const std::string cannotOpen = "BIO_new_file: " + missing;
  const struct {
    const char* name;
    std::function<void()> load;
    std::string context;
  } cases[] = {
      {"certificate file missing", [&] { TCertLoader::LoadCertificateFromPEMFile(missing); },
       cannotOpen},
      {"key file missing", [&] { TCertLoader::LoadPrivateKeyFromPEMFile(missing, ""); },
       cannotOpen},
      {"PEM file missing", [&] { TCertLoader::LoadFromPEMFile(missing, ""); }, cannotOpen},
      {"bundle missing", [&] { TCertLoader::LoadFromP12File(missing, ""); }, cannotOpen},
      {"file missing", [&] { TCertLoader::LoadFromFile(missingBundle, ""); },
       "BIO_new_file: " + missingBundle},
      {"no certificate in the file",
       [&] { TCertLoader::LoadCertificateFromPEMFile(File("neither.pem")); }, "PEM_read_bio_X509"},
      {"a key is no certificate", [&] { TCertLoader::LoadCertificateFromPEMFile(File("key.pem")); },
       "PEM_read_bio_X509"},
      {"binary DER certificate", [&] { TCertLoader::LoadCertificateFromPEMFile(File("cert.cer")); },
       "PEM_read_bio_X509"},
      {"no key in the file", [&] { TCertLoader::LoadPrivateKeyFromPEMFile(File("cert.pem"), ""); },
       "PEM_read_bio_PrivateKey"},
      {"encrypted key, empty password",
       [&] { TCertLoader::LoadPrivateKeyFromPEMFile(File("encrypted-key.pem"), ""); },
       "PEM_read_bio_PrivateKey"},
      {"encrypted key, wrong password",
       [&] { TCertLoader::LoadPrivateKeyFromPEMFile(File("encrypted-key.pem"), "wrong"); },
       "PEM_read_bio_PrivateKey"},
      {"PEM text is no bundle", [&] { TCertLoader::LoadFromP12File(File("cert-key.pem"), ""); },
       "d2i_PKCS12_bio"},
      {"bundle, wrong password", [&] { TCertLoader::LoadFromP12File(File("bundle.p12"), "wrong"); },
       "PKCS12_parse"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(IsOpenSSLFailure(FailureOf(c.load), c.context));
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

// What a loader gave, in words: its failure, or whether it holds a private key, the DER of
// its public key and of its certificate.
std::string Outcome(const Load& load) {
  std::unique_ptr<TOpenSSLCert> object;
  const std::string failure = FailureOf([&] { object = load(); });
  if (!object) return "failed: " + failure;
  std::string publicKey = "none";
  if (object->PKey()) {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(object->PKey(), &der);
    publicKey = length > 0 ? Base64Of(Bytes(der, der + length)) : "unencodable";
    OPENSSL_free(der);
  }
  return std::string(object->HasPrivateKey() ? "private" : "public") + ", key " + publicKey +
         ", certificate " + object->GetCertificateBase64();
}

// A caller that opened and checked a file itself hands over its bytes; whatever the file
// holds, each bytes loader must then give what its file twin gives, failures included.
TEST_F(Loader, BytesLoadersGiveWhatTheirFileTwinsGive) {
  WriteFile(File("empty"), std::string());
  using FromFile =
      std::function<std::unique_ptr<TOpenSSLCert>(const std::string&, const std::string&)>;
  const struct {
    const char* name;
    FromFile fromFile;
    FromFile fromBytes;
  } twins[] = {
      {"certificate", [](auto& f, auto&) { return TCertLoader::LoadCertificateFromPEMFile(f); },
       [](auto& b, auto&) { return TCertLoader::LoadCertificateFromPEMBytes(b); }},
      {"private key", &TCertLoader::LoadPrivateKeyFromPEMFile,
       &TCertLoader::LoadPrivateKeyFromPEMBytes},
      {"PEM", &TCertLoader::LoadFromPEMFile, &TCertLoader::LoadFromPEMBytes},
      {"PKCS#12", &TCertLoader::LoadFromP12File, &TCertLoader::LoadFromP12Bytes},
  };
  const char* files[] = {"cert.pem",
                         "key.pem",
                         "encrypted-key.pem",
                         "cert-key.pem",
                         "key-cert.pem",
                         "cert-encrypted-key.pem",
                         "other-cert-key.pem",
                         "neither.pem",
                         "cert.cer",
                         "bundle.p12",
                         "cert-only.p12",
                         "chain.p12",
                         "empty"};
  for (const auto& twin : twins) {
    int loaded = 0;
    for (const char* file : files) {
      for (const char* password : {"", "secret"}) {
        SCOPED_TRACE(std::string(twin.name) + " from " + file + " with \"" + password + "\"");
        const std::string fromFile = Outcome([&] { return twin.fromFile(File(file), password); });
        const std::string content = ContentOf(file);
        EXPECT_EQ(Outcome([&] { return twin.fromBytes(content, password); }), fromFile);
        EXPECT_EQ(ERR_peek_error(), 0u);
        if (fromFile.rfind("failed: ", 0) != 0) ++loaded;
      }
    }
    EXPECT_GT(loaded, 0) << twin.name << ": every file failed, the comparison proves nothing";
  }
}

TEST_F(Loader, ReadsEveryPrivateKeyForm) {
  EVP_PKEYPtr rsaKey = SharedRSAKey(2048);
  const struct {
    const char* name;
    EVP_PKEY* key;
    std::string pem;
    const char* password;
  } cases[] = {
      {"PKCS#8 RSA", rsaKey.get(), KeyToPKCS8PEM(rsaKey.get()), ""},
      {"PKCS#8 EC", key.get(), KeyToPKCS8PEM(key.get()), ""},
      {"encrypted PKCS#8 RSA", rsaKey.get(), KeyToPKCS8PEM(rsaKey.get(), "secret"), "secret"},
      {"encrypted PKCS#8 EC", key.get(), KeyToPKCS8PEM(key.get(), "secret"), "secret"},
      {"traditional RSA", rsaKey.get(), KeyToTraditionalPEM(rsaKey.get()), ""},
      {"traditional EC", key.get(), KeyToTraditionalPEM(key.get()), ""},
      {"encrypted traditional RSA", rsaKey.get(), KeyToTraditionalPEM(rsaKey.get(), "secret"),
       "secret"},
      {"encrypted traditional EC", key.get(), KeyToTraditionalPEM(key.get(), "secret"), "secret"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = File("form" + std::to_string(++n) + ".key");
    WriteFile(file, c.pem);
    std::unique_ptr<TOpenSSLCert> object = TCertLoader::LoadPrivateKeyFromPEMFile(file, c.password);
    ExpectHolds(*object, c.key, true, nullptr);
    EXPECT_EQ(object->KeyType(), c.key == key.get() ? ctECC : ctRSA);
    if (*c.password) {
      // How the store opens a key file: an encrypted one is reported, never prompted for.
      EXPECT_TRUE(
          IsOpenSSLFailure(FailureOf([&] { TCertLoader::LoadPrivateKeyFromPEMFile(file, ""); }),
                           "PEM_read_bio_PrivateKey"));
    } else {
      EXPECT_NE(TCertLoader::LoadPrivateKey(c.pem), nullptr);
    }
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

// Only the extension after the last dot of the file name decides, in any letter case.
TEST_F(Loader, LoadFromFileChoosesTheReaderByExtension) {
  std::filesystem::create_directory(dir.Path() / "dir.p12");
  const Bytes bundle = MakePKCS12(key.get(), cert.get(), {}, "secret");
  const std::string pem = CertToPEM(cert.get()) + KeyToPKCS8PEM(key.get(), "secret");
  const struct {
    const char* name;
    bool isBundle;
  } cases[] = {
      {"a.p12", true},      {"a.pfx", true},         {"a.P12", true}, {"a.PFX", true},
      {"a.pFx", true},      {"a.p12.bak", false},    {"a", false},    {"a.pem", false},
      {"dir.p12/a", false}, {"dir.p12/a.p12", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = File(c.name);
    if (c.isBundle)
      WriteFile(file, bundle);
    else
      WriteFile(file, pem);
    // Read the wrong way, a bundle gives an empty object and PEM text raises.
    std::unique_ptr<TOpenSSLCert> object;
    EXPECT_EQ(FailureOf([&] { object = TCertLoader::LoadFromFile(file, "secret"); }),
              "(no failure)");
    ASSERT_NE(object, nullptr);
    ExpectHolds(*object, key.get(), true, cert.get());
  }
}

}  // namespace
}  // namespace velmora::test
