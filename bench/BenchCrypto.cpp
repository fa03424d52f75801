// Issuance and export through TCertBuilder against the same work in plain libcrypto.
#include "bench/BenchMain.h"
#include "bench/BenchSupport.h"
#include "bench/PlainLibcrypto.h"
#include "crypto/CSR.h"
#include "crypto/CertBuilder.h"
#include "crypto/Certificates.h"

#include <benchmark/benchmark.h>
#include <openssl/pem.h>
#include <openssl/rand.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

using namespace velmora;

namespace {

// ---- plain libcrypto, written the way one would without Velmora ----

EVP_PKEYPtr PlainECKey(const char* group) {
  return EVP_PKEYPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", group));
}

void PlainAddExt(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx{};
  X509V3_set_ctx(&ctx, issuer ? issuer : cert, cert, nullptr, nullptr, 0);
  X509_EXTENSIONPtr ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
  X509_add_ext(cert, ext.get(), -1);
}

X509Ptr PlainCert(EVP_PKEY* subjectKey, X509* issuer, EVP_PKEY* signer, const EVP_MD* md) {
  X509Ptr cert(X509_new());
  X509_set_version(cert.get(), 2);
  unsigned char serial[20];
  RAND_bytes(serial, sizeof serial);
  serial[0] &= 0x7F;
  BIGNUMPtr bn(BN_bin2bn(serial, sizeof serial, nullptr));
  BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert.get()));
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 86400);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>("bench.example"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
  X509_set_pubkey(cert.get(), subjectKey);
  PlainAddExt(cert.get(), issuer, NID_subject_key_identifier, "hash");
  if (issuer) PlainAddExt(cert.get(), issuer, NID_authority_key_identifier, "keyid");
  PlainAddExt(cert.get(), issuer, NID_basic_constraints, "CA:FALSE");
  PlainAddExt(cert.get(), issuer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
  PlainAddExt(cert.get(), issuer, NID_ext_key_usage, "serverAuth,clientAuth");
  PlainAddExt(cert.get(), issuer, NID_subject_alt_name, "DNS:bench.example,DNS:www.bench.example");
  X509_sign(cert.get(), signer, md);
  return cert;
}

std::string PlainPEM(X509* cert, EVP_PKEY* key, const char* password) {
  BIOPtr bio(BIO_new(BIO_s_mem()));
  if (cert) PEM_write_bio_X509(bio.get(), cert);
  if (key && password)
    PEM_write_bio_PKCS8PrivateKey(bio.get(), key, EVP_aes_256_cbc(), password,
                                  static_cast<int>(strlen(password)), nullptr, nullptr);
  else if (key)
    PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, length > 0 ? length : 0);
}

// The keys the self-signed rows make: "RSA-2048", an EC curve's name or "Ed25519".
const EVP_MD* DigestFor(const std::string& kind) {
  if (kind == "Ed25519") return nullptr;  // EdDSA signs the message itself
  if (kind == "P-521") return EVP_sha512();
  if (kind == "P-384") return EVP_sha384();
  return EVP_sha256();
}

EVP_PKEYPtr PlainKey(const std::string& kind) {
  if (kind == "RSA-2048")
    return EVP_PKEYPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048}));
  if (kind == "Ed25519") return EVP_PKEYPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
  if (kind == "P-521") return PlainECKey("secp521r1");
  if (kind == "P-384") return PlainECKey("secp384r1");
  return PlainECKey("prime256v1");
}

// ---- shared fixtures ----

void ConfigureLeaf(TCertBuilder& b) {
  b.Subject.CN = "bench.example";
  b.SANDNSNames = {"bench.example", "www.bench.example"};
}

EVP_PKEY* SharedRSAKey() {
  static EVP_PKEYPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048}));
  return key.get();
}

struct CA {
  TCertBuilder builder;
  std::string certPEM, keyPEM, encKeyPEM;
  CA() {
    builder.Subject.CN = "Bench Root";
    builder.IsCA = true;
    builder.GenerateKey();
    builder.BuildSelfSigned();
    certPEM = builder.CertToPEM();
    keyPEM = builder.KeyToPEM("");
    encKeyPEM = builder.KeyToPEM("secret");
  }
};

const CA& SharedCA() {
  static CA ca;
  return ca;
}

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() /
          ("velmora-bench-" + std::to_string(getpid()) + "-" + name))
      .string();
}

// ---- 1. self-signed issuance ----

void BM_SelfSigned_ours(benchmark::State& state, const std::string& kind) {
  for (auto _ : state) {
    TCertBuilder b;
    if (kind == "RSA-2048") {
      b.KeyType = ktRSA;
    } else if (kind == kEd25519) {
      b.KeyType = ktEdwards;
      b.EdAlgorithm = kind;
    } else {
      b.ECCurve = kind;
    }
    ConfigureLeaf(b);
    b.GenerateKey();
    b.BuildSelfSigned();
    benchmark::DoNotOptimize(b.CertToPEM() + b.KeyToPEM(""));
  }
}

void BM_SelfSigned_baseline(benchmark::State& state, const std::string& kind) {
  for (auto _ : state) {
    EVP_PKEYPtr key = PlainKey(kind);
    X509Ptr cert = PlainCert(key.get(), nullptr, key.get(), DigestFor(kind));
    benchmark::DoNotOptimize(PlainPEM(cert.get(), nullptr, nullptr) +
                             PlainPEM(nullptr, key.get(), nullptr));
  }
}

// The work of the issuance rows: key generation, the build and both PEM texts. An RSA key
// takes a hundred-odd milliseconds and varies widely with the primes it happens to find, so
// that row repeats a fixed few times per repetition rather than filling the minimum time.
struct TSelfSignedCase {
  const char* Work;
  const char* Key;
  int Iterations;  // 0: as many as the minimum time asks
};

constexpr TSelfSignedCase kSelfSignedCases[] = {
    {"SelfSigned/P-256", "P-256", 0},
    {"SelfSigned/P-384", "P-384", 0},
    {"SelfSigned/P-521", "P-521", 0},
    {"SelfSigned/Ed25519", "Ed25519", 0},
    {"SelfSigned/RSA-2048-keygen", "RSA-2048", 4},
};

void RegisterSelfSigned() {
  for (const TSelfSignedCase& c : kSelfSignedCases) {
    const std::string work = c.Work;
    const std::string key = c.Key;
    for (auto* bench :
         {benchmark::RegisterBenchmark((work + "/ours").c_str(), BM_SelfSigned_ours, key),
          benchmark::RegisterBenchmark((work + "/baseline").c_str(), BM_SelfSigned_baseline, key)})
      if (c.Iterations > 0) bench->Iterations(c.Iterations);
  }
}

// RSA generation left out: the builder owns the key it generates, so it is made once and
// only the build and export repeat.
void BM_SelfSignedRSA_ours(benchmark::State& state) {
  TCertBuilder b;
  b.KeyType = ktRSA;
  ConfigureLeaf(b);
  b.GenerateKey();
  for (auto _ : state) {
    b.BuildSelfSigned();
    benchmark::DoNotOptimize(b.CertToPEM() + b.KeyToPEM(""));
  }
}

void BM_SelfSignedRSA_baseline(benchmark::State& state) {
  EVP_PKEY* key = SharedRSAKey();
  for (auto _ : state) {
    X509Ptr cert = PlainCert(key, nullptr, key, EVP_sha256());
    benchmark::DoNotOptimize(PlainPEM(cert.get(), nullptr, nullptr) +
                             PlainPEM(nullptr, key, nullptr));
  }
}

BENCHMARK(BM_SelfSignedRSA_ours)->Name("SelfSigned/RSA-2048/ours");
BENCHMARK(BM_SelfSignedRSA_baseline)->Name("SelfSigned/RSA-2048/baseline");

// A self-signed row's work done by Python's cryptography package (on libcrypto as well) in a
// worker process of its own, which times each piece itself: the pipe between us is not
// part of it.
void BM_SelfSignedPython(benchmark::State& state, TChildProcess* worker) {
  for (auto _ : state) {
    worker->WriteLine("run");
    const std::optional<std::string> nanoseconds = worker->ReadLine(30000);
    if (!nanoseconds) {
      state.SkipWithError("the Python worker stopped answering");
      break;
    }
    state.SetIterationTime(std::strtod(nanoseconds->c_str(), nullptr) / 1e9);
  }
}

// Side by side only where the worker says it is ready; otherwise the summary says why not.
void RegisterPythonSideBySide(TChildProcess& worker, const std::string& kind) {
  const std::string work = "SelfSigned/" + kind + "-vs-python-cryptography";
  const std::optional<std::string> greeting =
      worker.Started() ? worker.ReadLine(30000) : std::nullopt;
  if (greeting != "ready") {
    NoteSkipped(work, greeting.value_or("the Python worker did not start"));
    return;
  }
  benchmark::RegisterBenchmark((work + "/ours").c_str(), BM_SelfSigned_ours, kind);
  benchmark::RegisterBenchmark((work + "/baseline").c_str(), BM_SelfSignedPython, &worker)
      ->UseManualTime();
}

// ---- 2. CA-signed issuance from PEM texts ----

void BM_CASigned_ours(benchmark::State& state, bool encrypted) {
  const CA& ca = SharedCA();
  TCertBuilder b;
  ConfigureLeaf(b);
  b.GenerateKey();
  for (auto _ : state)
    b.BuildSignedBy(ca.certPEM, encrypted ? ca.encKeyPEM : ca.keyPEM, encrypted ? "secret" : "");
}

void BM_CASigned_baseline(benchmark::State& state, bool encrypted) {
  const CA& ca = SharedCA();
  EVP_PKEYPtr key = PlainECKey("prime256v1");
  for (auto _ : state) {
    BIOPtr certBio(BIO_new_mem_buf(ca.certPEM.c_str(), -1));
    X509Ptr caCert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    const std::string& keyText = encrypted ? ca.encKeyPEM : ca.keyPEM;
    BIOPtr keyBio(BIO_new_mem_buf(keyText.c_str(), -1));
    EVP_PKEYPtr caKey(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr,
                                              const_cast<char*>(encrypted ? "secret" : "")));
    X509Ptr cert = PlainCert(key.get(), caCert.get(), caKey.get(), EVP_sha256());
    benchmark::DoNotOptimize(cert.get());
  }
}

BENCHMARK_CAPTURE(BM_CASigned_ours, plain, false)->Name("CASigned/plain-key/ours");
BENCHMARK_CAPTURE(BM_CASigned_baseline, plain, false)->Name("CASigned/plain-key/baseline");
BENCHMARK_CAPTURE(BM_CASigned_ours, encrypted, true)->Name("CASigned/encrypted-key/ours");
BENCHMARK_CAPTURE(BM_CASigned_baseline, encrypted, true)->Name("CASigned/encrypted-key/baseline");

// ---- 3. exports ----

void BM_KeyToPEMPassword_ours(benchmark::State& state) {
  const CA& ca = SharedCA();
  for (auto _ : state) benchmark::DoNotOptimize(ca.builder.KeyToPEM("secret"));
}

void BM_KeyToPEMPassword_baseline(benchmark::State& state) {
  EVP_PKEY* key = SharedCA().builder.Key();
  for (auto _ : state) benchmark::DoNotOptimize(PlainPEM(nullptr, key, "secret"));
}

BENCHMARK(BM_KeyToPEMPassword_ours)->Name("KeyToPEM-password/ours");
BENCHMARK(BM_KeyToPEMPassword_baseline)->Name("KeyToPEM-password/baseline");

struct Leaf {
  TCertBuilder builder;
  Leaf() {
    ConfigureLeaf(builder);
    builder.GenerateKey();
    builder.BuildSignedBy(SharedCA().certPEM, SharedCA().keyPEM, "");
  }
};

const Leaf& SharedLeaf() {
  static Leaf leaf;
  return leaf;
}

void BM_SaveToPKCS12_ours(benchmark::State& state) {
  const std::string path = TempPath("ours.pfx");
  const TCertBuilder& leaf = SharedLeaf().builder;  // made here, never in the first iteration
  const std::string& caPEM = SharedCA().certPEM;
  for (auto _ : state) leaf.SaveToPKCS12(path, "secret", "Bench", caPEM);
  std::filesystem::remove(path);
}

// The bundle as plain libcrypto makes it: the CA read from its PEM text as the chain.
PKCS12Ptr PlainBundle(const TCertBuilder& leaf) {
  BIOPtr caBio(BIO_new_mem_buf(SharedCA().certPEM.c_str(), -1));
  X509StackPtr chain(sk_X509_new_null());
  sk_X509_push(chain.get(), PEM_read_bio_X509(caBio.get(), nullptr, nullptr, nullptr));
  return PKCS12Ptr(
      PKCS12_create("secret", "Bench", leaf.Key(), leaf.Cert(), chain.get(), 0, 0, 2048, 2048, 0));
}

void BM_SaveToPKCS12_baseline(benchmark::State& state) {
  const std::string path = TempPath("baseline.pfx");
  const TCertBuilder& leaf = SharedLeaf().builder;
  for (auto _ : state) {
    PKCS12Ptr p12 = PlainBundle(leaf);
    BIOPtr out(BIO_new_file(path.c_str(), "wb"));
    i2d_PKCS12_bio(out.get(), p12.get());
  }
  std::filesystem::remove(path);
}

// The same bundle written the way a careful program without Velmora would: to a temporary
// file that is flushed to disk and then renamed over the target. Our save does exactly that
// so that a crash never leaves a half-written key behind; this pair shows its cost is the
// disk flush and nothing of ours.
void BM_SaveToPKCS12_durable_baseline(benchmark::State& state) {
  const std::string path = TempPath("durable.pfx");
  const std::string temp = path + ".tmp";
  const TCertBuilder& leaf = SharedLeaf().builder;
  for (auto _ : state) {
    PKCS12Ptr p12 = PlainBundle(leaf);
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(p12.get(), &der);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    benchmark::DoNotOptimize(::write(fd, der, length));
    ::fsync(fd);
    ::close(fd);
    std::rename(temp.c_str(), path.c_str());
    OPENSSL_free(der);
  }
  std::filesystem::remove(path);
}

BENCHMARK(BM_SaveToPKCS12_ours)->Name("SaveToPKCS12-with-CA/ours");
BENCHMARK(BM_SaveToPKCS12_baseline)->Name("SaveToPKCS12-with-CA/baseline");
BENCHMARK(BM_SaveToPKCS12_ours)->Name("SaveToPKCS12-with-CA-durable/ours");
BENCHMARK(BM_SaveToPKCS12_durable_baseline)->Name("SaveToPKCS12-with-CA-durable/baseline");

// ---- 4. loading ----

struct LoadFiles {
  std::string certPath = TempPath("load.crt");
  std::string p12Path = TempPath("load.pfx");
  LoadFiles() {
    SharedLeaf().builder.SaveCertToPEM(certPath);
    SharedLeaf().builder.SaveToPKCS12(p12Path, "secret", "Bench", SharedCA().certPEM);
  }
  ~LoadFiles() {
    std::filesystem::remove(certPath);
    std::filesystem::remove(p12Path);
  }
};

const LoadFiles& SharedLoadFiles() {
  static LoadFiles files;
  return files;
}

void BM_LoadCertPEM_ours(benchmark::State& state) {
  const std::string& path = SharedLoadFiles().certPath;
  for (auto _ : state) benchmark::DoNotOptimize(TCertLoader::LoadCertificateFromPEMFile(path));
}

// What the loader does for a certificate: read it, take its public key and the key facts.
void BM_LoadCertPEM_baseline(benchmark::State& state) {
  const std::string& path = SharedLoadFiles().certPath;
  for (auto _ : state) {
    benchmark::DoNotOptimize(PlainCertificateFileFacts(path));
  }
}

void BM_LoadP12_ours(benchmark::State& state) {
  const std::string& path = SharedLoadFiles().p12Path;
  for (auto _ : state) benchmark::DoNotOptimize(TCertLoader::LoadFromP12File(path, "secret"));
}

void BM_LoadP12_baseline(benchmark::State& state) {
  const std::string& path = SharedLoadFiles().p12Path;
  for (auto _ : state) {
    BIOPtr bio(BIO_new_file(path.c_str(), "rb"));
    PKCS12Ptr p12(d2i_PKCS12_bio(bio.get(), nullptr));
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* ca = nullptr;
    PKCS12_parse(p12.get(), "secret", &key, &cert, &ca);
    EVP_PKEYPtr ownedKey(key);
    X509Ptr ownedCert(cert);
    X509StackPtr ownedCA(ca);
    benchmark::DoNotOptimize(PlainKeyFacts(key));
  }
}

BENCHMARK(BM_LoadCertPEM_ours)->Name("LoadCertificateFromPEMFile/ours");
BENCHMARK(BM_LoadCertPEM_baseline)->Name("LoadCertificateFromPEMFile/baseline");
BENCHMARK(BM_LoadP12_ours)->Name("LoadFromP12File/ours");
BENCHMARK(BM_LoadP12_baseline)->Name("LoadFromP12File/baseline");

// ---- Signing a P-256 request: read it, verify its signature, issue for its key ----

std::string P256RequestPEM() {
  TCertBuilder requester;
  ConfigureLeaf(requester);
  requester.GenerateKey();
  requester.BuildRequest();
  return requester.RequestToPEM();
}

void BM_SignRequest_ours(benchmark::State& state) {
  const CA& ca = SharedCA();
  const std::string request = P256RequestPEM();
  for (auto _ : state) {
    const TCSRView view(ReadCSRPEMOrDER(request));
    if (!view.Verifies()) state.SkipWithError("the request does not verify");
    TCertBuilder b;
    ConfigureLeaf(b);
    b.UseRequestPublicKey(view.PublicKey());
    b.BuildSignedBy(ca.certPEM, ca.keyPEM, "");
  }
}

void BM_SignRequest_baseline(benchmark::State& state) {
  const CA& ca = SharedCA();
  const std::string request = P256RequestPEM();
  for (auto _ : state) {
    BIOPtr requestBio(BIO_new_mem_buf(request.c_str(), -1));
    X509_REQPtr req(PEM_read_bio_X509_REQ(requestBio.get(), nullptr, nullptr, nullptr));
    EVP_PKEY* key = X509_REQ_get0_pubkey(req.get());
    if (X509_REQ_verify(req.get(), key) != 1) state.SkipWithError("the request does not verify");
    BIOPtr certBio(BIO_new_mem_buf(ca.certPEM.c_str(), -1));
    X509Ptr caCert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    BIOPtr keyBio(BIO_new_mem_buf(ca.keyPEM.c_str(), -1));
    EVP_PKEYPtr caKey(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    X509Ptr cert = PlainCert(key, caCert.get(), caKey.get(), EVP_sha256());
    benchmark::DoNotOptimize(cert.get());
  }
}

BENCHMARK(BM_SignRequest_ours)->Name("SignRequest/P-256/ours");
BENCHMARK(BM_SignRequest_baseline)->Name("SignRequest/P-256/baseline");

}  // namespace

int main(int argc, char** argv) {
  RegisterSelfSigned();
  // Debian's own interpreter: Debian's python3-cryptography is importable there only.
  TChildProcess python({"/usr/bin/python3", VELMORA_BENCH_DIR "/selfsigned_python.py"});
  RegisterPythonSideBySide(python, "P-256");
  TChildProcess pythonEd25519(
      {"/usr/bin/python3", VELMORA_BENCH_DIR "/selfsigned_python.py", "Ed25519"});
  RegisterPythonSideBySide(pythonEd25519, "Ed25519");
  return RunBenchmarksWithSummary(argc, argv);
}
