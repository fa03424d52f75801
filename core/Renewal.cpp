#include "core/Renewal.h"

#include "core/CSR.h"
#include "core/StoreCertificate.h"
#include "core/StoreChain.h"
#include "core/StoreKeyPair.h"
#include "core/StorePaths.h"
#include "core/TextFile.h"
#include "core/ValueConventions.h"
#include "crypto/SecretText.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace velmora {

namespace {

std::string Stem(const std::string& Name) { return fs::path(Name).stem().string(); }

void RequireInStore(const std::string& CertPath, const std::string& StoreDir) {
  std::error_code ec;
  const fs::path parent = fs::absolute(CertPath, ec).parent_path();
  const bool inStore = fs::equivalent(parent, StoreDir.empty() ? "." : StoreDir, ec) && !ec;
  if (!inStore || !fs::is_regular_file(CertPath, ec))
    throw Exception("The certificate " + Quoted(Readable(CertPath)) +
                    " is not a certificate file of the store " + Quoted(Readable(StoreDir)) + ".");
}

bool KeyFileHasPassword(const std::string& Path) {
  const TReadOnlyFile file(Path);
  std::string bytes;
  if (!file.IsRegularFile() || file.ReadAll(bytes, kMaxCertificateFileSize) != 0) return false;
  const TSecretText text(std::move(bytes));
  return text.Text().find("ENCRYPTED") != std::string::npos;
}

void FindIssuer(const TCertificateView& Cert, TRenewalPlan& Plan) {
  Plan.SelfSigned = Cert.IsIssuedBy(Cert);
  Plan.IssuerText = Cert.IssuerText();
  if (Plan.SelfSigned) return;
  Plan.IssuerCertName = FindStoreIssuer(Cert, Plan.StoreDir, Plan.CertName);
  if (Plan.IssuerCertName.empty()) return;
  Plan.IssuerKeyName =
      FindStoreKeyOfCertificate(JoinStorePath(Plan.StoreDir, Plan.IssuerCertName), Plan.StoreDir);
}

// The key pair of the certificate: the store's, which must be the certificate's own, or a new
// one of the same type and size.
void TakeKey(TCertBuilder& Builder, const TRenewalPlan& Plan, const TRenewOptions& Options,
             const std::string& Password) {
  const TCertificateTemplate& like = Plan.Template;
  if (Options.NewKey) {
    Builder.KeyType = like.KeyType;
    if (like.RSABits > 0) Builder.RSABits = like.RSABits;
    if (!like.ECCurve.empty()) Builder.ECCurve = like.ECCurve;
    if (!like.EdAlgorithm.empty()) Builder.EdAlgorithm = like.EdAlgorithm;
    Builder.GenerateKey();
    return;
  }
  if (Plan.KeyName.empty()) throw Exception(MissingKeyText(Plan));
  UseKeyFile(Builder, JoinStorePath(Plan.StoreDir, Plan.KeyName), Password);
  X509Ptr cert = ReadStoreCertificate(JoinStorePath(Plan.StoreDir, Plan.CertName));
  if (!cert || !TCertificateView(std::move(cert)).HasPublicKeyOf(Builder.Key()))
    throw Exception("The private key " + Quoted(Readable(Plan.KeyName)) + " is not the key of " +
                    Quoted(Readable(Plan.CertName)) + ".");
}

// Self-signed stays so; otherwise the CA the user gave, or the issuer in the store.
void ChooseSigner(TIssueRequest& Issue, const TRenewalPlan& Plan, const TRenewOptions& Options) {
  if (Plan.SelfSigned) return;
  Issue.CASigned = true;
  if (!Options.CACertFile.empty() || !Options.CAKeyFile.empty()) {
    Issue.CACertFile = Options.CACertFile;
    Issue.CAKeyFile = Options.CAKeyFile;
    return;
  }
  if (Plan.IssuerCertName.empty())
    throw Exception("The issuer of " + Quoted(Readable(Plan.CertName)) + ", " +
                    Quoted(Plan.IssuerText) +
                    ", is not in the store: choose the CA certificate and key to sign with.");
  if (Plan.IssuerKeyName.empty())
    throw Exception("The private key of the CA " + Quoted(Readable(Plan.IssuerCertName)) +
                    " is not in the store: choose the CA certificate and key to sign with.");
  Issue.CACertFile = JoinStorePath(Plan.StoreDir, Plan.IssuerCertName);
  Issue.CAKeyFile = JoinStorePath(Plan.StoreDir, Plan.IssuerKeyName);
}

TIssueRequest IssueOf(const TRenewalPlan& Plan, const TRenewOptions& Options) {
  TIssueRequest issue;
  issue.StoreDir = Plan.StoreDir;
  issue.CertName = Plan.CertName;
  issue.ReplaceExisting = Options.ReplaceExisting;
  issue.KeepAside.push_back({Plan.CertName, Plan.KeptName(Plan.CertName)});
  if (Options.NewKey) {
    issue.KeyName = Plan.KeyName.empty() ? Plan.ExpectedKeyName : Plan.KeyName;
    std::error_code ec;
    if (fs::exists(JoinStorePath(Plan.StoreDir, issue.KeyName), ec))
      issue.KeepAside.push_back({issue.KeyName, Plan.KeptName(issue.KeyName)});
  }
  ChooseSigner(issue, Plan, Options);
  return issue;
}

// The one question of a renewal: the files it replaces, and where the old ones go.
bool ConfirmRenewal(const TIssueRequest& Issue, const TIssueEvents& Events) {
  std::vector<std::string> names;
  std::string question = "These files already exist in the store and will be replaced:\n";
  for (const TIssueRequest::TKeepAside& keep : Issue.KeepAside) {
    names.push_back(keep.Name);
    question +=
        Readable(keep.Name) + " (the old one is kept as " + Readable(keep.BackupName) + ")\n";
  }
  return Events.ConfirmReplacing(names, question + "Replace them?");
}

}  // namespace

std::string TRenewalPlan::KeptName(const std::string& Name) const {
  return Stem(Name) + "." + OldSerial8 + fs::path(Name).extension().string();
}

std::string MissingKeyText(const TRenewalPlan& Plan) {
  return "The private key of " + Quoted(Readable(Plan.CertName)) +
         " is not in the store: " + Quoted(Readable(Plan.ExpectedKeyName)) +
         " is missing. Renew with a new key instead, or put the key into the store.";
}

TRenewalPlan PlanRenewal(const std::string& CertPath, const std::string& StoreDir) {
  RequireInStore(CertPath, StoreDir);
  TRenewalPlan plan;
  plan.StoreDir = StoreDir;
  plan.CertName = FileNamePart(CertPath);
  plan.Template = TemplateOfCertificateFile(CertPath);
  X509Ptr read = ReadStoreCertificate(CertPath);
  const TCertificateView cert(std::move(read));
  std::string serial = cert.SerialHex();
  plan.OldSerial8 = serial.substr(0, std::min<std::size_t>(8, serial.size()));
  plan.ExpectedKeyName = Stem(plan.CertName) + ".key";
  plan.KeyName = FindStoreKeyOfCertificate(CertPath, StoreDir);
  plan.KeyHasPassword =
      !plan.KeyName.empty() && KeyFileHasPassword(JoinStorePath(StoreDir, plan.KeyName));
  FindIssuer(cert, plan);
  return plan;
}

TIssueOutcome RenewCertificate(const TRenewalPlan& Plan, const TRenewOptions& Options,
                               const TIssuePasswords& Passwords, const TIssueEvents& Events) {
  TCertRequest request = Plan.Template.Request;
  if (Options.Days) request.ValidDays = *Options.Days;
  RequireValidValidity(request.ValidDays);
  const TIssueRequest issue = IssueOf(Plan, Options);
  if (!Options.NewKey && Plan.KeyName.empty()) throw Exception(MissingKeyText(Plan));
  if (!ConfirmRenewal(issue, Events)) {
    Events.Log("Renewal cancelled; the existing files are kept.");
    return TIssueOutcome::Declined;
  }
  TCertBuilder builder;
  TakeKey(builder, Plan, Options, Options.NewKey ? std::string() : Passwords.Key);
  ApplyRequestToBuilder(request, builder);
  Events.Log("Renewing " + Plan.CertName + " for " + std::to_string(request.ValidDays) + " days" +
             (Options.NewKey ? " with a new key" : " with its key " + Plan.KeyName) + " ...");
  // The user has answered for the files already.
  TIssueEvents inner = Events;
  inner.ConfirmReplacing = [](const std::vector<std::string>&, const std::string&) { return true; };
  const std::string none;
  const TIssuePasswords passwords{Passwords.CAKey, Options.NewKey ? Passwords.Key : none, none};
  const TIssueOutcome outcome = IssueCertificate(builder, issue, passwords, inner);
  if (outcome == TIssueOutcome::Written && !Options.ChainName.empty())
    Events.Log(WriteStoreChain(JoinStorePath(Plan.StoreDir, Plan.CertName), Plan.StoreDir,
                               Options.ChainName));
  return outcome;
}

}  // namespace velmora
