// Writes the fuzzers' seed inputs, made with our own builder: certificates and keys as PEM,
// bundles, Base64 DER and builder settings. Usage: make_fuzz_seeds OUTPUT_DIR
#include "crypto/CertBuilder.h"

#include <openssl/x509.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using velmora::TCertBuilder;

namespace {

void Write(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const fs::path out(argv[1]);
  TCertBuilder ca;
  MakeCA(ca);

  TCertBuilder leaf;
  leaf.KeyType = velmora::ktRSA;
  leaf.Subject = {"leaf.example", "Org", "Unit", "DE", "Bayern", "Passau", "a@b.example"};
  leaf.SANDNSNames = {"leaf.example", "*.leaf.example"};
  leaf.SANIPs = {"10.0.0.1"};
  leaf.GenerateKey();
  leaf.BuildSignedBy(ca.CertToPEM(), ca.KeyToPEM(""), "");

  const std::string certPEM = leaf.CertToPEM();
  const std::string keyPEM = leaf.KeyToPEM("");
  const std::string encKeyPEM = leaf.KeyToPEM("fixed");
  const fs::path tmp = out / "tmp.pfx";
  fs::create_directories(out);

  // PEM texts: certificate, keys, and both together in either order.
  Write(out / "pem_text/cert.pem", certPEM);
  Write(out / "pem_text/key.pem", keyPEM);
  Write(out / "pem_text/enckey.pem", encKeyPEM);
  Write(out / "pem_text/chain.pem", certPEM + ca.CertToPEM());
  Write(out / "pem_text/ca_pair.pem", ca.CertToPEM() + '\0' + ca.KeyToPEM("") + '\0');

  // Whole files for the file loaders.
  Write(out / "file_loaders/cert_key.pem", certPEM + keyPEM);
  Write(out / "file_loaders/enckey_cert.pem", encKeyPEM + certPEM);
  leaf.SaveToPKCS12(tmp.string(), "fixed", "Seed", ca.CertToPEM());
  Write(out / "file_loaders/chain.pfx", ReadFile(tmp));
  leaf.SaveToPKCS12(tmp.string(), "", "", "");
  Write(out / "file_loaders/empty_password.pfx", ReadFile(tmp));
  fs::remove(tmp);

  // Base64 DER, on one line and wrapped.
  const std::string b64 = Base64Der(leaf.Cert());
  Write(out / "base64/one_line.txt", b64);
  std::string wrapped;
  for (size_t i = 0; i < b64.size(); i += 64) wrapped += b64.substr(i, 64) + "\r\n";
  Write(out / "base64/wrapped.txt", wrapped);

  // Builder settings: a few byte strings that decode to typical forms.
  Write(out / "builder_settings/empty.bin", "");
  Write(out / "builder_settings/ca.bin",
        std::string("\x04host\x00\x00\x02" "DE", 9) + std::string(12, '\x01') + "\x05\x01\x6d\x01");
  Write(out / "builder_settings/san.bin", std::string(40, '\x03') + "x.example,1.2.3.4");
  return 0;
}
