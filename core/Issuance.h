// Issuing a certificate from a builder that holds a key pair, and writing its files into the
// store: the work of "Generate Certificate", shared with the command line.
#pragma once

#include "crypto/CertBuilder.h"
#include "crypto/Certificates.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

class TIssuingCA;

struct TIssueRequest {
  bool CASigned = false;
  std::string CACertFile;  // paths as file name bytes
  std::string CAKeyFile;
  // Output names inside the store; an empty name is not written. BundleName is written only
  // when the caller wants a bundle.
  std::string CertName;
  std::string KeyName;
  std::string BundleName;
  std::string FriendlyName;
  std::string StoreDir;
  // The bundle for older systems (PBE-SHA1-3DES, SHA-1 MAC) instead of the modern one.
  bool BundleCompatible = false;
  // Replace whatever stands at the outputs' names without asking (the command line's --force),
  // files that another program puts there meanwhile included.
  bool ReplaceExisting = false;
  // Findings the caller made before the checks before issuing (such as a request's CA that
  // is not granted); shown with theirs, first.
  std::vector<std::string> PriorFindings;
  // The certificate request MakeCertificateRequest writes, in the store.
  std::string RequestName;
  // Copies kept of files the outputs replace, written with the outputs as one set: each
  // existing file (a name in the store) is copied to its backup name, which must not exist.
  struct TKeepAside {
    std::string Name;
    std::string BackupName;
  };
  std::vector<TKeepAside> KeepAside;
  // The CA of CACertFile and CAKeyFile read once beforehand, for many issuances; without it
  // IssueCertificate reads and decrypts the CA's files itself.
  std::shared_ptr<const TIssuingCA> PreparedCA;
};

// A CA's files checked and read as IssueCertificate reads them, and its key decrypted, once:
// a batch signs thousands of certificates with it, from several threads.
class TIssuingCA {
 public:
  // Raises Exception with the message a user is shown.
  TIssuingCA(const TIssueRequest& Request, const std::string& CAKeyPassword);
  const std::string& CertPEM() const { return FCertPEM; }
  const TOpenSSLCert& Cert() const { return *FCert; }
  const TCASigner& Signer() const { return *FSigner; }

 private:
  std::string FCertPEM;
  std::unique_ptr<const TCASigner> FSigner;
  std::unique_ptr<TOpenSSLCert> FCert;
};

// Borrowed: the caller keeps its secrets in wiped buffers.
struct TIssuePasswords {
  const std::string& CAKey;
  const std::string& Key;
  const std::string& Bundle;
};

struct TIssueEvents {
  std::function<void(const std::string&)> Log;
  // Asked before a private key or bundle of the store is replaced, with the names of those
  // files and the question a person would be asked; false keeps every file as it is.
  std::function<bool(const std::vector<std::string>& Names, const std::string& Question)>
      ConfirmReplacing;
  // Asked before anything is built when the checks before issuing found problems, with their
  // sentences; false issues nothing. Without it the checks are not run.
  std::function<bool(const std::vector<std::string>& Findings)> ConfirmFindings;
};

enum class TIssueOutcome { Written, Declined };

// Raises "Two outputs are the same file: <path>." when two of the request's outputs (in the
// store) name one file as the file system compares names: only the last written would remain.
void RequireDistinctOutputs(const TIssueRequest& Request);

// With the builder's settings already applied: checks the validity and the CA files, refuses a
// CA certificate that cannot sign and a key pair that is the CA's own, runs the checks before
// issuing and asks about their findings, builds self-signed or CA-signed, refuses outputs that
// would land on the CA's own files, asks before replacing a key or bundle, then writes every
// output to a temporary file (a bundle read back and compared) and replaces the old ones
// together. Raises Exception with the message a user is shown; nothing is written then.
TIssueOutcome IssueCertificate(TCertBuilder& Builder, const TIssueRequest& Request,
                               const TIssuePasswords& Passwords, const TIssueEvents& Events);

// "Generate Certificate" for a request to another CA: builds a PKCS#10 request for the
// builder's key pair and settings and writes it (Request.RequestName) with the private key
// (Request.KeyName, when not empty) together, asking before a key is replaced as
// IssueCertificate does. Raises Exception with the message a user is shown; nothing is
// written then.
TIssueOutcome MakeCertificateRequest(TCertBuilder& Builder, const TIssueRequest& Request,
                                     const TIssuePasswords& Passwords, const TIssueEvents& Events);

}  // namespace velmora
