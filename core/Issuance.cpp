#include "core/Issuance.h"

#include "core/RequestChecks.h"
#include "core/StorePaths.h"
#include "core/TextFile.h"
#include "core/ValueConventions.h"
#include "crypto/AtomicFile.h"
#include "crypto/Certificates.h"
#include "crypto/SecretBytes.h"
#include "crypto/SecretText.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#include <unistd.h>

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
  request.PermittedNames = Builder.PermittedNames;
  request.ExcludedNames = Builder.ExcludedNames;
  request.CRLURL = Builder.CRLURL;
  return request;
}

// A host name left only in the common name is taken among the alternative names, where TLS
// clients look for it; the user hears that it was.
void TakeCommonNameAsAlternativeName(TCertBuilder& Builder, const TIssueEvents& Events) {
  TCertRequest request = RequestOf(Builder);
  if (!AddCommonNameAsAlternativeName(request)) return;
  Builder.SANDNSNames = request.SANDNSNames;
  Builder.SANIPs = request.SANIPs;
  Events.Log("Added the common name " + Builder.Subject.CN +
             " as an alternative name: TLS clients look only there.");
}

// The findings of the checks before issuing, the CA certificate's among them.
std::vector<std::string> Findings(const TCertBuilder& Builder, const TOpenSSLCert* CACert) {
  return CheckRequest(RequestOf(Builder), KeyFactsOf(PublicKeyFactsOf(Builder.Key())),
                      CACert ? CACert->X509Cert() : nullptr);
}

void Build(TCertBuilder& Builder, const TCAFiles* CA, const TIssueRequest& Request,
           const std::string& CAKeyPassword, const TIssueEvents& Events) {
  if (!Request.CASigned) {
    Events.Log("Building self-signed certificate ...");
    Builder.BuildSelfSigned();
    return;
  }
  Events.Log("Building CA-signed certificate ...");
  if (Request.PreparedCA)
    Builder.BuildSignedBy(Request.PreparedCA->Signer());
  else
    Builder.BuildSignedBy(CA->CertPEM, CA->KeyPEM.Text(), CAKeyPassword);
}

// The CA certificate the request signs with: the prepared one's, or else read from its file.
const TOpenSSLCert* SigningCertificate(const TIssueRequest& Request,
                                       const std::unique_ptr<TOpenSSLCert>& Read) {
  if (Request.CASigned && Request.PreparedCA) return &Request.PreparedCA->Cert();
  return Read.get();
}

// The chain of a bundle: the CA file as it is now, read again, unless it was read once for
// many issuances.
std::string BundleChainPEM(const TIssueRequest& Request) {
  if (!Request.CASigned) return "";
  if (Request.PreparedCA) return Request.PreparedCA->CertPEM();
  return ReadTextFile(Request.CACertFile);
}

struct TOutput {
  std::string Name;
  std::string Path;  // empty: not written
  bool Existed = false;
};

bool IsCaseInsensitiveFolder(const fs::path& Dir) {
  struct statfs info {};
  if (::statfs(Dir.c_str(), &info) == 0) {
    constexpr long kMsdos = 0x4d44, kExfat = 0x2011BAB0, kNtfs = 0x5346544e, kNtfs3 = 0x7366746e;
    const long type = static_cast<long>(info.f_type);
    if (type == kMsdos || type == kExfat || type == kNtfs || type == kNtfs3) return true;
  }
  // ext4 and f2fs fold case per folder.
  const int fd = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  const bool folded = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0;
  ::close(fd);
  return folded;
}

std::string LowerAscii(std::string Text) {
  for (char& c : Text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return Text;
}

// Whether two output paths name one file as the file system sees it: the same file where
// both exist, otherwise the same folder and the same name, compared without case where the
// folder ignores it.
bool NameSameFile(const std::string& A, const std::string& B) {
  std::error_code ec;
  if (fs::equivalent(A, B, ec) && !ec) return true;
  const fs::path a = fs::absolute(A, ec), b = fs::absolute(B, ec);
  const fs::path dirA = a.parent_path(), dirB = b.parent_path();
  const bool sameDir =
      dirA.lexically_normal() == dirB.lexically_normal() || (fs::equivalent(dirA, dirB, ec) && !ec);
  if (!sameDir) return false;
  const std::string nameA = a.filename().string(), nameB = b.filename().string();
  if (nameA == nameB) return true;
  return IsCaseInsensitiveFolder(dirA) && LowerAscii(nameA) == LowerAscii(nameB);
}

// A file that holds, or by its name looks like it holds, a private key or a bundle: it may be
// the only copy of a CA's key, whichever output is about to land on it.
bool HoldsSecrets(const std::string& Path) {
  const std::string extension = LowerAscii(fs::path(Path).extension().string());
  if (extension == ".key" || extension == ".p12" || extension == ".pfx") return true;
  const TReadOnlyFile file(Path);
  if (!file.IsRegularFile()) return false;
  std::string bytes;
  const int error = file.ReadAll(bytes, kMaxCertificateFileSize);
  // What cannot be read or is larger than any certificate is not assumed to be harmless.
  if (error != 0) return true;
  const TSecretText contents(std::move(bytes));
  return HoldsPrivateKeyOrBundle(contents.Text());
}

// Replacing a private key or a bundle takes the user's word.
bool ConfirmReplacingSecrets(const std::vector<const TOutput*>& Outputs,
                             const TIssueEvents& Events) {
  std::vector<std::string> existing;
  std::string question = "These files already exist in the store and will be replaced:\n";
  for (const TOutput* output : Outputs) {
    if (!output->Existed || !HoldsSecrets(output->Path)) continue;
    existing.push_back(output->Name);
    question += Readable(output->Name) + "\n";
  }
  return existing.empty() || Events.ConfirmReplacing(existing, question + "Replace them?");
}

bool ExistsAsFile(const std::string& Path) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(Path, ec);
  return fs::exists(status) && !fs::is_directory(status);
}

// The old files a renewal keeps join the set: the new file never replaces an old one whose
// copy is not on the disk beside it.
void StageKeptAside(TAtomicFileSet& Outputs, const TIssueRequest& Request) {
  for (const TIssueRequest::TKeepAside& keep : Request.KeepAside) {
    const std::string from = JoinStorePath(Request.StoreDir, keep.Name);
    const std::string to = JoinStorePath(Request.StoreDir, keep.BackupName);
    const TReadOnlyFile file(from);
    std::string bytes;
    if (!file.IsRegularFile() || file.ReadAll(bytes, kMaxCertificateFileSize) != 0)
      throw Exception("Cannot read " + Quoted(Readable(keep.Name)) + " to keep a copy of it.");
    const TSecretText contents(std::move(bytes));
    if (ExistsAsFile(to))
      throw Exception(Quoted(Readable(keep.BackupName)) + " already exists in the store.");
    Outputs.RequireAbsent(to);
    Outputs.Add(to, contents.Text(),
                HoldsSecrets(from) ? TFileAccess::OwnerOnly : TFileAccess::Usual);
  }
}

}  // namespace

// The signer first: a CA file without a certificate is told in the build's own words.
TIssuingCA::TIssuingCA(const TIssueRequest& Request, const std::string& CAKeyPassword) {
  const std::unique_ptr<const TCAFiles> files = ReadCAFiles(Request);
  FSigner = std::make_unique<const TCASigner>(files->CertPEM, files->KeyPEM.Text(), CAKeyPassword);
  FCert = CACertificateOf(files.get());
  FCertPEM = files->CertPEM;
}

void RequireDistinctOutputs(const TIssueRequest& Request) {
  std::vector<std::string> paths;
  for (const std::string* name :
       {&Request.CertName, &Request.KeyName, &Request.BundleName, &Request.RequestName})
    if (!name->empty()) paths.push_back(JoinStorePath(Request.StoreDir, *name));
  for (std::size_t i = 0; i < paths.size(); ++i)
    for (std::size_t j = i + 1; j < paths.size(); ++j)
      if (NameSameFile(paths[i], paths[j]))
        throw Exception("Two outputs are the same file: " + Readable(paths[j]) + ".");
}

TIssueOutcome IssueCertificate(TCertBuilder& Builder, const TIssueRequest& Request,
                               const TIssuePasswords& Passwords, const TIssueEvents& Events) {
  RequireValidValidity(Builder.ValidDays);
  RequireDistinctOutputs(Request);
  const std::unique_ptr<const TCAFiles> ca = Request.PreparedCA ? nullptr : ReadCAFiles(Request);
  const std::unique_ptr<TOpenSSLCert> readCert = CACertificateOf(ca.get());
  const TOpenSSLCert* caCert = SigningCertificate(Request, readCert);
  if (caCert) RequireFitToSign(*caCert, Builder, Request);
  TakeCommonNameAsAlternativeName(Builder, Events);
  // Nothing is built before the user has heard what would be wrong with the certificate.
  if (Events.ConfirmFindings && Builder.Key()) {
    std::vector<std::string> findings = Request.PriorFindings;
    for (std::string& finding : Findings(Builder, caCert)) findings.push_back(std::move(finding));
    if (!findings.empty() && !Events.ConfirmFindings(findings)) {
      Events.Log("Certificate generation cancelled; nothing was written.");
      return TIssueOutcome::Declined;
    }
  }
  Build(Builder, ca.get(), Request, Passwords.CAKey, Events);
  Events.Log("Certificate created successfully.");

  // Every output's place first: a name that is refused stops the command before anything
  // is written.
  const auto output = [&](const std::string& Name) {
    TOutput result{Name, {}};
    if (Name.empty()) return result;
    result.Path = JoinStorePath(Request.StoreDir, Name);
    if (Request.CASigned) RefuseToReplaceCAFiles(result.Path, Name, Request);
    result.Existed = ExistsAsFile(result.Path);
    return result;
  };
  const TOutput cert = output(Request.CertName);
  const TOutput key = output(Request.KeyName);
  const TOutput bundle = output(Request.BundleName);
  if (!ConfirmReplacingSecrets({&cert, &key, &bundle}, Events)) {
    Events.Log("Certificate generation cancelled; the existing files are kept.");
    return TIssueOutcome::Declined;
  }

  // All outputs are complete on disk before the first replaces its old version, so a
  // failure on the way never leaves a new certificate beside an old key.
  TAtomicFileSet outputs;
  // What was not there when the user was asked is not replaced either when another program
  // puts it there meanwhile: that program's file would silently lose against ours.
  for (const TOutput* out : {&cert, &key, &bundle})
    if (!out->Path.empty() && !out->Existed && !Request.ReplaceExisting)
      outputs.RequireAbsent(out->Path);
  StageKeptAside(outputs, Request);
  if (!cert.Path.empty()) Builder.StageCertPEM(outputs, cert.Path);
  if (!key.Path.empty()) Builder.StageKeyPEM(outputs, key.Path, Passwords.Key);
  if (!bundle.Path.empty()) {
    const std::string chainPEM = BundleChainPEM(Request);
    Builder.StagePKCS12(
        outputs, bundle.Path, Passwords.Bundle, Request.FriendlyName, chainPEM,
        Request.BundleCompatible ? TPKCS12Format::Compatible : TPKCS12Format::Modern);
  }
  outputs.Commit();
  for (const TIssueRequest::TKeepAside& keep : Request.KeepAside)
    Events.Log("Kept the old " + keep.Name + " -> " + keep.BackupName);
  if (!cert.Path.empty()) Events.Log("Certificate saved -> " + cert.Name);
  if (!key.Path.empty()) Events.Log("Private key saved -> " + key.Name);
  if (!bundle.Path.empty()) Events.Log("PKCS#12 saved -> " + bundle.Name);
  return TIssueOutcome::Written;
}

TIssueOutcome MakeCertificateRequest(TCertBuilder& Builder, const TIssueRequest& Request,
                                     const TIssuePasswords& Passwords, const TIssueEvents& Events) {
  if (Request.RequestName.empty())
    throw Exception("Please specify the certificate request file name.");
  TIssueRequest outputs = Request;
  outputs.CertName.clear();
  outputs.BundleName.clear();
  RequireDistinctOutputs(outputs);
  Events.Log("Building certificate request ...");
  Builder.BuildRequest();

  const auto output = [&](const std::string& Name) {
    TOutput result{Name, {}};
    if (Name.empty()) return result;
    result.Path = JoinStorePath(Request.StoreDir, Name);
    result.Existed = ExistsAsFile(result.Path);
    return result;
  };
  const TOutput request = output(Request.RequestName);
  const TOutput key = output(Request.KeyName);
  if (!ConfirmReplacingSecrets({&request, &key}, Events)) {
    Events.Log("Certificate request cancelled; the existing files are kept.");
    return TIssueOutcome::Declined;
  }
  TAtomicFileSet files;
  for (const TOutput* out : {&request, &key})
    if (!out->Path.empty() && !out->Existed && !Request.ReplaceExisting)
      files.RequireAbsent(out->Path);
  Builder.StageRequestPEM(files, request.Path);
  if (!key.Path.empty()) Builder.StageKeyPEM(files, key.Path, Passwords.Key);
  files.Commit();
  Events.Log("Certificate request saved -> " + request.Name);
  if (!key.Path.empty()) Events.Log("Private key saved -> " + key.Name);
  return TIssueOutcome::Written;
}

}  // namespace velmora
