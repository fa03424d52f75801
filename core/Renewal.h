// Renewing a certificate of the store: the same subject, names and extensions, a new serial
// and validity from now, for the same key or a new one of the same kind; signed as before
// (by itself, or by its CA in the store). The old files are kept beside the new ones.
#pragma once

#include "core/CertificateTemplate.h"
#include "core/Issuance.h"

#include <optional>
#include <string>

namespace velmora {

// What a renewal of the certificate at CertPath needs, found in the store before anything is
// asked: its key, its issuer and that issuer's key. Worker-thread work (reads the store).
struct TRenewalPlan {
  std::string StoreDir;
  std::string CertName;  // inside StoreDir
  // The store's key of the certificate; empty when the store has none.
  std::string KeyName;
  // Where a key of this certificate is looked for first, and a new one is written without one.
  std::string ExpectedKeyName;
  bool KeyHasPassword = false;
  bool SelfSigned = false;
  // The issuing CA in the store (empty when self-signed or not in the store), its key there
  // (empty when not found) and the issuer's name as the certificate gives it.
  std::string IssuerCertName;
  std::string IssuerKeyName;
  std::string IssuerText;
  // The first eight hex digits of the old serial, which name the kept copies.
  std::string OldSerial8;
  TCertificateTemplate Template;

  // "<stem>.<serial8><ext>" for an output name.
  std::string KeptName(const std::string& Name) const;
};

// Raises Exception when CertPath is not a certificate file of the store at StoreDir or holds no
// usable certificate.
TRenewalPlan PlanRenewal(const std::string& CertPath, const std::string& StoreDir);

struct TRenewOptions {
  std::optional<std::int32_t> Days;  // the old certificate's length without it
  bool NewKey = false;
  // The CA that signs when its issuer is not in the store (full paths); given, it wins.
  std::string CACertFile;
  std::string CAKeyFile;
  // Replace what another program puts at a new name meanwhile (the command line's --force).
  bool ReplaceExisting = false;
  // A full chain written beside it after the renewal; empty for none.
  std::string ChainName;
};

// With the plan's certificate: asks (ConfirmReplacing) before the certificate (and for a new
// key, its key) is replaced, takes the store's key (Passwords.Key opens it) or makes a new one
// of the same kind (encrypted under Passwords.Key), signs as the old one was signed (the CA's
// key opened by Passwords.CAKey) and writes the new files together with copies of the old
// ones. Raises Exception with the message a user is shown; nothing is written then.
TIssueOutcome RenewCertificate(const TRenewalPlan& Plan, const TRenewOptions& Options,
                               const TIssuePasswords& Passwords, const TIssueEvents& Events);

// The sentence for a certificate whose key the store does not hold.
std::string MissingKeyText(const TRenewalPlan& Plan);

}  // namespace velmora
