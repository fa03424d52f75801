// Revoking one certificate in a CRL that already lists 10,000: read the CRL file, verify it
// under the CA, add the entry, sign, and replace the file durably. Ours goes through
// RevokeCertificate (with its lock and the checks around it); the baseline does the same
// steps inline with plain libcrypto and POSIX calls. The budget is a time (BenchBudgets.h).
#include "bench/BenchMain.h"
#include "bench/PlainLibcrypto.h"
#include "core/Revocation.h"
#include "crypto/CertBuilder.h"
#include "crypto/OpenSSLWrapper.h"

#include <benchmark/benchmark.h>
#include <openssl/pem.h>
#include <openssl/rand.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

using namespace velmora;

constexpr int kEntries = 10000;

std::string ReadAll(const fs::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& Path, const std::string& Bytes) {
  std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
}

// A CA, a leaf it issued, and a CRL of the CA listing kEntries random serials, in a folder of
// their own; made once.
struct TRevocationSetup {
  fs::path Dir;
  std::string CertPEM, KeyPEM, LeafPEM, CRLPEM;

  TRevocationSetup() {
    Dir = fs::temp_directory_path() / ("velmora-bench-crl-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    TCertBuilder ca;
    ca.Subject.CN = "Bench CRL CA";
    ca.IsCA = true;
    ca.KeyUsage = {kuKeyCertSign, kuCRLSign};
    ca.ExtKeyUsage = {};
    ca.GenerateKey();
    ca.BuildSelfSigned();
    CertPEM = ca.CertToPEM();
    KeyPEM = ca.KeyToPEM("");
    TCertBuilder leaf;
    leaf.Subject.CN = "leaf.bench.example";
    leaf.GenerateKey();
    leaf.BuildSignedBy(CertPEM, KeyPEM, "");
    LeafPEM = leaf.CertToPEM();
    CRLPEM = PlainCRLWithEntries(ca.Cert(), ca.Key(), kEntries);
    WriteAll(Dir / "ca.crt", CertPEM);
    WriteAll(Dir / "ca.key", KeyPEM);
    WriteAll(Dir / "leaf.crt", LeafPEM);
  }
  ~TRevocationSetup() {
    std::error_code ignored;
    fs::remove_all(Dir, ignored);
  }
};

const TRevocationSetup& Setup() {
  static const TRevocationSetup setup;
  return setup;
}

void BM_Revoke_ours(benchmark::State& state) {
  const TRevocationSetup& setup = Setup();
  TCRLRequest request;
  request.CACertFile = (setup.Dir / "ca.crt").string();
  request.CAKeyFile = (setup.Dir / "ca.key").string();
  request.CertFile = (setup.Dir / "leaf.crt").string();
  request.Reason = TRevocationReason::KeyCompromise;
  for (auto _ : state) {
    state.PauseTiming();
    WriteAll(setup.Dir / "ca.crl", setup.CRLPEM);  // the same list each time: one more entry
    state.ResumeTiming();
    const TCRLOutcome outcome = RevokeCertificate(request, "");
    if (outcome.Entries != kEntries + 1) state.SkipWithError("the entry was not added");
  }
}

// The same steps without the program: read, verify, copy the list with the entry added, sign
// and write to a temporary file that is flushed and renamed over the CRL.
void BM_Revoke_baseline(benchmark::State& state) {
  const TRevocationSetup& setup = Setup();
  const fs::path crlFile = setup.Dir / "baseline.crl";
  for (auto _ : state) {
    state.PauseTiming();
    WriteAll(crlFile, setup.CRLPEM);
    state.ResumeTiming();
    const std::string caPEM = ReadAll(setup.Dir / "ca.crt");
    const std::string keyPEM = ReadAll(setup.Dir / "ca.key");
    const std::string leafPEM = ReadAll(setup.Dir / "leaf.crt");
    const std::string crlPEM = ReadAll(crlFile);
    BIOPtr caBio(BIO_new_mem_buf(caPEM.data(), static_cast<int>(caPEM.size())));
    X509Ptr ca(PEM_read_bio_X509(caBio.get(), nullptr, nullptr, nullptr));
    BIOPtr keyBio(BIO_new_mem_buf(keyPEM.data(), static_cast<int>(keyPEM.size())));
    EVP_PKEYPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    BIOPtr leafBio(BIO_new_mem_buf(leafPEM.data(), static_cast<int>(leafPEM.size())));
    X509Ptr leaf(PEM_read_bio_X509(leafBio.get(), nullptr, nullptr, nullptr));
    BIOPtr crlBio(BIO_new_mem_buf(crlPEM.data(), static_cast<int>(crlPEM.size())));
    X509_CRLPtr crl(PEM_read_bio_X509_CRL(crlBio.get(), nullptr, nullptr, nullptr));
    if (X509_CRL_verify(crl.get(), X509_get0_pubkey(ca.get())) != 1)
      state.SkipWithError("the CRL does not verify");
    X509_CRLPtr next(X509_CRL_dup(crl.get()));
    X509_REVOKED* entry = X509_REVOKED_new();
    X509_REVOKED_set_serialNumber(entry, X509_get_serialNumber(leaf.get()));
    ASN1_TIMEPtr now(ASN1_TIME_set(nullptr, std::time(nullptr)));
    X509_REVOKED_set_revocationDate(entry, now.get());
    X509_CRL_add0_revoked(next.get(), entry);
    X509_CRL_sort(next.get());
    X509_CRL_set1_lastUpdate(next.get(), now.get());
    X509_CRL_sign(next.get(), key.get(), EVP_sha256());
    BIOPtr out(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509_CRL(out.get(), next.get());
    const std::string pem = BioToString(out.get());
    const fs::path temp = setup.Dir / "baseline.crl.tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, pem.data(), pem.size()) != static_cast<ssize_t>(pem.size()) ||
        ::fsync(fd) != 0)
      state.SkipWithError("the CRL could not be written");
    if (fd >= 0) ::close(fd);
    fs::rename(temp, crlFile);
  }
}

BENCHMARK(BM_Revoke_ours)->Name("Revoke-in-CRL-of-10000/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Revoke_baseline)
    ->Name("Revoke-in-CRL-of-10000/baseline")
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return RunBenchmarksWithSummary(argc, argv); }
