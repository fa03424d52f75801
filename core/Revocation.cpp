#include "core/Revocation.h"

#include "core/Store.h"
#include "core/StorePaths.h"
#include "core/TextFile.h"
#include "core/ValueConventions.h"
#include "crypto/AtomicFile.h"
#include "crypto/FileLock.h"
#include "crypto/SecretText.h"

#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>

namespace fs = std::filesystem;

namespace velmora {

namespace {

// The file's bytes as they lie on disk (a CRL or certificate may be DER); raises naming the
// file when it is missing or cannot be read.
std::string ReadBytes(const std::string& Path, const char* What, std::int64_t MaxSize) {
  const TReadOnlyFile file(Path);
  if (file.Error() == ENOENT)
    throw Exception(std::string(What) + " not found: " + Quoted(Readable(Path)) + ".");
  std::string bytes;
  const int error = file.IsRegularFile() ? file.ReadAll(bytes, MaxSize) : EISDIR;
  if (file.Error() != 0 || error != 0)
    throw Exception("Cannot read file " + Quoted(Readable(Path)) + ". " +
                    SystemMessage(file.Error() != 0 ? file.Error() : error));
  return bytes;
}

std::unique_ptr<TCRLSigner> ReadSigner(const TCRLRequest& Request,
                                       const std::string& CAKeyPassword) {
  if (Request.CACertFile.empty()) throw Exception("Please specify the CA certificate file.");
  if (Request.CAKeyFile.empty()) throw Exception("Please specify the CA private key file.");
  const std::string certPEM = ReadTextFile(Request.CACertFile);
  const TSecretText keyPEM(ReadTextFile(Request.CAKeyFile));
  return std::make_unique<TCRLSigner>(certPEM, keyPEM.Text(), CAKeyPassword);
}

// A list signed by a certificate that may not sign lists is rejected by every relying party,
// so it is not written at all.
void RequireMaySignCRLs(const TCRLSigner& Signer, const TCRLRequest& Request) {
  if (!Signer.CA().IsCA())
    throw Exception(Quoted(Readable(Request.CACertFile)) +
                    " is not a CA certificate: it cannot sign revocation lists.");
  if (Signer.CA().MaySignCRLs() == false) throw Exception(kNoCRLSignText);
}

TCertificateView ReadRevokedCertificate(const std::string& Path) {
  X509Ptr cert =
      ReadCertificatePEMOrDER(ReadBytes(Path, "Certificate file", kMaxCertificateFileSize));
  if (!cert) throw Exception(Quoted(Readable(Path)) + " holds no certificate.");
  return TCertificateView(std::move(cert));
}

// The last signed list, or none when the CA has none yet. One that does not read, or that
// this CA did not sign, is the record of somebody's revocations: it is never replaced.
std::optional<TCRLView> ReadLastCRL(const std::string& CRLFile, const TCertificateView& CA) {
  std::error_code error;
  if (!fs::exists(fs::symlink_status(CRLFile, error))) return std::nullopt;
  std::optional<TCRLView> last = ReadCRLView(ReadBytes(CRLFile, "CRL file", kMaxCRLFileSize));
  if (!last)
    throw Exception(Quoted(Readable(CRLFile)) +
                    " is not a readable CRL. It was left as it is and no CRL was written.");
  if (!last->IsSignedBy(CA))
    throw Exception(Quoted(Readable(CRLFile)) +
                    " does not verify under this CA certificate. It was left as it is and no "
                    "CRL was written.");
  return last;
}

void RequireRevocable(const TCertificateView& Cert, const TCRLRequest& Request,
                      const TCertificateView& CA, const std::optional<TCRLView>& Last) {
  if (!Cert.IsIssuedBy(CA))
    throw Exception(Quoted(Readable(Request.CertFile)) + " was not issued by " +
                    Quoted(Readable(Request.CACertFile)) + ": only its issuer can revoke it.");
  if (!Last) return;
  if (const std::optional<TRevokedEntry> entry = Last->EntryFor(Cert))
    throw Exception(Quoted(Readable(Request.CertFile)) + " is already revoked (since " +
                    (entry->Date ? UTCText(*entry->Date) : std::string("an unreadable date")) +
                    ").");
}

// Under the CA's lock the CRL changes alone: one durable rename replaces it, without the
// store-wide publication that sets of files need.
TCRLOutcome WriteCRL(const std::string& CRLFile, const std::string& PEM,
                     const TSignedCRLFacts& Facts) {
  TAtomicFile file(CRLFile, TFileAccess::Usual);
  if (const std::error_code error = file.Create())
    throw Exception("Cannot create file " + Quoted(Readable(file.Target().string())) + ". " +
                    error.message());
  file.Write(PEM);
  file.Flush();
  file.Replace();
  TCRLOutcome outcome;
  outcome.CRLFile = CRLFile;
  outcome.Number = Facts.NumberText;
  outcome.Entries = Facts.EntryCount;
  return outcome;
}

TCRLOutcome SignCRL(const TCRLRequest& Request, const std::string& CAKeyPassword, std::time_t Now,
                    bool Revoke) {
  RequireValidCRLDays(Request.Days);
  const std::unique_ptr<TCRLSigner> signer = ReadSigner(Request, CAKeyPassword);
  RequireMaySignCRLs(*signer, Request);
  std::optional<TCertificateView> cert;
  if (Revoke) cert.emplace(ReadRevokedCertificate(Request.CertFile));
  const std::string crlFile = CRLFileFor(Request.CACertFile);
  const TFileLock lock(CRLLockFileFor(crlFile));
  const std::optional<TCRLView> last = ReadLastCRL(crlFile, signer->CA());
  if (cert) RequireRevocable(*cert, Request, signer->CA(), last);
  TSignedCRLFacts facts;
  const std::string pem = signer->Sign(last ? &*last : nullptr, cert ? &*cert : nullptr,
                                       Request.Reason, Request.Days, Now, &facts);
  return WriteCRL(crlFile, pem, facts);
}

}  // namespace

std::string CRLFileFor(const std::string& CACertFile) {
  return fs::path(CACertFile).replace_extension(".crl").string();
}

std::string CRLLockFileFor(const std::string& CRLFile) {
  const fs::path path(CRLFile);
  std::string name(".");
  name.append(path.filename().string()).append(".lock");
  return (path.parent_path() / name).string();
}

void RequireValidCRLDays(std::int32_t Days) {
  if (Days < 1 || Days > kMaxCRLDays)
    throw Exception("The CRL's validity must be between 1 and " + std::to_string(kMaxCRLDays) +
                    " days.");
}

TCRLOutcome RevokeCertificate(const TCRLRequest& Request, const std::string& CAKeyPassword,
                              std::time_t Now) {
  return SignCRL(Request, CAKeyPassword, Now, true);
}

TCRLOutcome PublishCRL(const TCRLRequest& Request, const std::string& CAKeyPassword,
                       std::time_t Now) {
  return SignCRL(Request, CAKeyPassword, Now, false);
}

std::string UTCText(std::time_t When) {
  std::tm parts{};
  if (::gmtime_r(&When, &parts) == nullptr) return "(unreadable date)";
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

}  // namespace velmora
