#include "core/Issuance.h"

#include "core/RequestChecks.h"
#include "core/StorePaths.h"
#include "core/TextFile.h"
#include "core/ValueConventions.h"
#include "crypto/AtomicFile.h"
#include "crypto/Certificates.h"
#include "crypto/SecretText.h"

#include <filesystem>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;

namespace velmora {

namespace {

// A file in the sense of the CA checks: something at that path that is not a directory.
bool FileExists(const std::string& Path) {
  std::error_code ec;
  const fs::file_status status = fs::status(Path, ec);
  return fs::exists(status) && !fs::is_directory(status);
}

bool IsSameFile(const std::string& A, const std::string& B) {
  std::error_code ec;
  return fs::equivalent(A, B, ec) && !ec;
}

// An output that lands on the CA's own certificate or key file would destroy the CA that
// signed this very certificate (and the bundle would then carry the new certificate as its
// own CA). The user gets to choose another name instead.
void RefuseToReplaceCAFiles(const std::string& Path, const std::string& Name,
                            const TIssueRequest& Request) {
  if (IsSameFile(Path, Request.CACertFile))
    throw Exception("\"" + Name + "\" would replace the CA certificate file; choose another name.");
  if (IsSameFile(Path, Request.CAKeyFile))
    throw Exception("\"" + Name + "\" would replace the CA private key file; choose another name.");
}

// The CA's two files as text, read once the names have passed the checks.
struct TCAFiles {
  TCAFiles(std::string Cert, std::string&& Key)
      : CertPEM(std::move(Cert)), KeyPEM(std::move(Key)) {}
  std::string CertPEM;
  TSecretText KeyPEM;
};

// Whether the CA key file holds a certificate where its key should be: the CA's two files
// are easily swapped or picked twice, and libcrypto's own words for it name no file. Its text
// as read decides for PEM; binary DER does not survive the decoding into text, so a file
// without PEM blocks is looked at again as it lies on disk.
bool CAKeyFileHoldsCertificate(const std::string& Path, const std::string& KeyText) {
  if (KeyText.find("-----BEGIN ") != std::string::npos) return HoldsCertificateWithoutKey(KeyText);
  const TReadOnlyFile file(Path);
  std::string bytes;
  if (!file.IsRegularFile() || file.ReadAll(bytes, kMaxCertificateFileSize) != 0) return false;
  const TSecretText content(std::move(bytes));
  return HoldsCertificateWithoutKey(content.Text());
}

// None for a self-signed certificate.
std::unique_ptr<const TCAFiles> ReadCAFiles(const TIssueRequest& Request) {
  if (!Request.CASigned) return nullptr;
  if (Request.CACertFile.empty()) throw Exception("Please specify the CA certificate file.");
  if (Request.CAKeyFile.empty()) throw Exception("Please specify the CA private key file.");
  if (!FileExists(Request.CACertFile)) throw Exception("CA certificate file not found.");
  if (!FileExists(Request.CAKeyFile)) throw Exception("CA key file not found.");
  std::string certPEM = ReadTextFile(Request.CACertFile);
  auto files =
      std::make_unique<const TCAFiles>(std::move(certPEM), ReadTextFile(Request.CAKeyFile));
  if (CAKeyFileHoldsCertificate(Request.CAKeyFile, files->KeyPEM.Text()))
    throw Exception(Quoted(Readable(Request.CAKeyFile)) +
                    " holds a certificate, not a private key: choose the CA's key file");
  return files;
}

// The CA certificate, when its file holds one; a text without one is left to the build,
// which says so in its own words.
std::unique_ptr<TOpenSSLCert> CACertificateOf(const TCAFiles* CA) {
  return CA ? TCertLoader::LoadCertificate(CA->CertPEM) : nullptr;
}

// What no verifier would accept is refused outright, before anything is built.
void RequireFitToSign(const TOpenSSLCert& CACert, const TCertBuilder& Builder,
                      const TIssueRequest& Request) {
  if (!SignerFactsOf(CACert.X509Cert()).CanSignCertificates())
    throw Exception(Quoted(Readable(Request.CACertFile)) +
                    " is not a CA certificate: it cannot sign other certificates.");
  // The window keeps the key pair it made a CA with: issuing with it would give a certificate
  // for the CA's own key and write that key out again as the new certificate's.
  if (CarriesPublicKey(CACert.X509Cert(), Builder.Key()))
    throw Exception(
        "The new certificate's key is the CA's own key. Generate a new key pair for it first.");
}

// The settings the builder was given, as the request they came from.
TCertRequest RequestOf(const TCertBuilder& Builder) {
  TCertRequest request;
  request.Subject = Builder.Subject;
  request.ValidDays = Builder.ValidDays;
  request.IsCA = Builder.IsCA;
  request.PathLenConstraint = Builder.PathLenConstraint;
  request.KeyUsage = Builder.KeyUsage;
  request.ExtKeyUsage = Builder.ExtKeyUsage;
  request.SANDNSNames = Builder.SANDNSNames;
  request.SANIPs = Builder.SANIPs;
  request.SANEmails = Builder.SANEmails;
  return request;
}

// The findings of the checks before issuing, the CA certificate's among them.
std::vector<std::string> Findings(const TCertBuilder& Builder, const TOpenSSLCert* CACert) {
  return CheckRequest(RequestOf(Builder), KeyFactsOf(Builder.Key()),
                      CACert ? CACert->X509Cert() : nullptr);
}

void Build(TCertBuilder& Builder, const TCAFiles* CA, const std::string& CAKeyPassword,
           const TIssueEvents& Events) {
  if (!CA) {
    Events.Log("Building self-signed certificate ...");
    Builder.BuildSelfSigned();
    return;
  }
  Events.Log("Building CA-signed certificate ...");
  Builder.BuildSignedBy(CA->CertPEM, CA->KeyPEM.Text(), CAKeyPassword);
}

struct TOutput {
  std::string Name;
  std::string Path;  // empty: not written
};

// A private key or a bundle may be the only copy of a CA's key: replacing one takes the
// user's word.
bool ConfirmReplacingSecrets(const std::vector<const TOutput*>& Secrets,
                             const TIssueEvents& Events) {
  std::vector<std::string> existing;
  std::string question = "These files already exist in the store and will be replaced:\n";
  for (const TOutput* output : Secrets) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(output->Path, ec);
    if (output->Path.empty() || !fs::exists(status) || fs::is_directory(status)) continue;
    existing.push_back(output->Name);
    question += Readable(output->Name) + "\n";
  }
  return existing.empty() || Events.ConfirmReplacing(existing, question + "Replace them?");
}

}  // namespace

TIssueOutcome IssueCertificate(TCertBuilder& Builder, const TIssueRequest& Request,
                               const TIssuePasswords& Passwords, const TIssueEvents& Events) {
  RequireValidValidity(Builder.ValidDays);
  const std::unique_ptr<const TCAFiles> ca = ReadCAFiles(Request);
  const std::unique_ptr<TOpenSSLCert> caCert = CACertificateOf(ca.get());
  if (caCert) RequireFitToSign(*caCert, Builder, Request);
  // Nothing is built before the user has heard what would be wrong with the certificate.
  if (Events.ConfirmFindings && Builder.Key()) {
    const std::vector<std::string> findings = Findings(Builder, caCert.get());
    if (!findings.empty() && !Events.ConfirmFindings(findings)) {
      Events.Log("Certificate generation cancelled; nothing was written.");
      return TIssueOutcome::Declined;
    }
  }
  Build(Builder, ca.get(), Passwords.CAKey, Events);
  Events.Log("Certificate created successfully.");

  // Every output's place first: a name that is refused stops the command before anything
  // is written.
  const auto output = [&](const std::string& Name) {
    TOutput result{Name, {}};
    if (Name.empty()) return result;
    result.Path = JoinStorePath(Request.StoreDir, Name);
    if (Request.CASigned) RefuseToReplaceCAFiles(result.Path, Name, Request);
    return result;
  };
  const TOutput cert = output(Request.CertName);
  const TOutput key = output(Request.KeyName);
  const TOutput bundle = output(Request.BundleName);
  if (!ConfirmReplacingSecrets({&key, &bundle}, Events)) {
    Events.Log("Certificate generation cancelled; the existing files are kept.");
    return TIssueOutcome::Declined;
  }

  // All outputs are complete on disk before the first replaces its old version, so a
  // failure on the way never leaves a new certificate beside an old key.
  TAtomicFileSet outputs;
  if (!cert.Path.empty()) Builder.StageCertPEM(outputs, cert.Path);
  if (!key.Path.empty()) Builder.StageKeyPEM(outputs, key.Path, Passwords.Key);
  if (!bundle.Path.empty()) {
    // The chain is the CA file as it is now, read again.
    const std::string chainPEM = Request.CASigned ? ReadTextFile(Request.CACertFile) : "";
    Builder.StagePKCS12(outputs, bundle.Path, Passwords.Bundle, Request.FriendlyName, chainPEM,
                        Request.BundleCompatible ? TPKCS12Format::Compatible
                                                 : TPKCS12Format::Modern);
  }
  outputs.Commit();
  if (!cert.Path.empty()) Events.Log("Certificate saved -> " + cert.Name);
  if (!key.Path.empty()) Events.Log("Private key saved -> " + key.Name);
  if (!bundle.Path.empty()) Events.Log("PKCS#12 saved -> " + bundle.Name);
  return TIssueOutcome::Written;
}

}  // namespace velmora
