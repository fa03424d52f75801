// velmora-cli dev: certificates for local development in one command. A root CA of its own
// is made in the store on first use; every run issues a TLS server and client certificate
// for the names given, signed by it.
#include "cli/Command.h"
#include "cli/Issue.h"
#include "cli/PassArg.h"
#include "core/Defaults.h"
#include "core/IPAddress.h"
#include "core/StorePaths.h"
#include "core/StoreSetting.h"
#include "crypto/FileLock.h"

#include <sys/stat.h>

#include <cstdio>

namespace velmora::cli {

namespace {

constexpr const char* kCACert = "velmora-dev-ca.crt";
constexpr const char* kCAKey = "velmora-dev-ca.key";
constexpr const char* kCALock = ".velmora-dev-ca.lock";
constexpr std::int32_t kCADays = 3650;  // ten years

bool Exists(const std::string& Path) {
  struct stat info {};
  return ::stat(Path.c_str(), &info) == 0;
}

class TDevCommand : public TCommand {
 public:
  const char* Name() const override { return "dev"; }
  const char* Description() const override {
    return "Make a local development CA (once) and a TLS certificate for the given names";
  }

  void DefineOptions(CLI::App& Command) override {
    Command.add_option("names", FNames, "DNS names or IP addresses; the first is the common name")
        ->required();
    Command.add_option("--p12-pass", FBundlePass, "Bundle pass phrase (default: empty)");
    Command.add_flag("--p12-compatible", FBundleCompatible,
                     "Bundle for older systems: 3DES and SHA-1 instead of AES and SHA-256");
    Command.add_option("--store", FStoreDir, "Store folder (default: the window's)");
    Command.add_flag("--force", FForce, "Replace an existing key and bundle for these names");
  }

  void Prepare() override {
    for (const std::string& name : FNames)
      if (name.empty() || name.find_first_of("/,\r\n") != std::string::npos)
        throw UsageError("Invalid name \"" + name + "\".");
    // Not given, the bundle's password is empty, as the option's help says.
    FBundlePassword = FBundlePass.empty() ? std::make_unique<TSecretText>()
                                          : ReadPassArg(FBundlePass, "--p12-pass");
  }

  int Execute() override {
    const std::string store = FStoreDir.empty() ? EffectiveStoreDir() : FStoreDir;
    const std::unique_ptr<TSecretText>& bundlePass = FBundlePassword;
    const std::string caCert = JoinStorePath(store, kCACert);
    const std::string caKey = JoinStorePath(store, kCAKey);

    {
      // Making the CA is done once: of two runs that find no CA, the second waits here and
      // then uses the first one's, instead of replacing it under the first run's leaves.
      CreateStoreDirectory(store);
      TFileLock lock(JoinStorePath(store, kCALock));
      if (!Exists(caCert) || !Exists(caKey)) MakeCA(store);
    }
    MakeLeaf(store, caCert, caKey, bundlePass->Text());

    const std::string first = FNames.front();
    std::printf(
        "\nFiles:\n  %s\n  %s\n  %s\n  %s\n\n"
        "To trust the development CA on Debian (this program does not do it for you):\n"
        "  sudo cp %s /usr/local/share/ca-certificates/velmora-dev-ca.crt\n"
        "  sudo update-ca-certificates\n",
        caCert.c_str(), JoinStorePath(store, first + ".crt").c_str(),
        JoinStorePath(store, first + ".key").c_str(), JoinStorePath(store, first + ".p12").c_str(),
        caCert.c_str());
    return 0;
  }

 private:
  void MakeCA(const std::string& Store) const {
    TCertRequest request;
    request.Subject.CN = "Velmora Development CA";
    request.Subject.O = "Velmora development certificates";
    request.ValidDays = kCADays;
    request.IsCA = true;
    request.PathLenConstraint = 0;
    request.KeyUsage = {kuKeyCertSign, kuCRLSign};
    request.ExtKeyUsage = {};
    TIssueRequest issue;
    issue.CertName = kCACert;
    issue.KeyName = kCAKey;
    issue.StoreDir = Store;
    const std::string none;
    TCertBuilder builder;
    GenerateKey(builder, {});
    Issue(builder, request, issue, {none, none, none}, false);
  }

  void MakeLeaf(const std::string& Store, const std::string& CACert, const std::string& CAKey,
                const std::string& BundlePass) const {
    TCertRequest request;
    request.Subject.CN = FNames.front();
    request.ValidDays = kDevServerDays;
    // An EC key signs; it enciphers nothing.
    request.KeyUsage = {kuDigitalSignature};
    request.ExtKeyUsage = {ekuServerAuth, ekuClientAuth};
    for (const std::string& name : FNames)
      (IsIPAddress(name) ? request.SANIPs : request.SANDNSNames).push_back(name);
    TIssueRequest issue;
    issue.CASigned = true;
    issue.CACertFile = CACert;
    issue.CAKeyFile = CAKey;
    issue.CertName = FNames.front() + ".crt";
    issue.KeyName = FNames.front() + ".key";
    issue.BundleName = FNames.front() + ".p12";
    issue.FriendlyName = FNames.front();
    issue.StoreDir = Store;
    issue.BundleCompatible = FBundleCompatible;
    const std::string none;
    TCertBuilder builder;
    GenerateKey(builder, {});
    Issue(builder, request, issue, {none, none, BundlePass}, FForce);
  }

  std::vector<std::string> FNames;
  std::string FBundlePass;
  std::string FStoreDir;
  bool FForce = false;
  bool FBundleCompatible = false;
  std::unique_ptr<TSecretText> FBundlePassword;
};

}  // namespace

std::unique_ptr<TCommand> MakeDevCommand() { return std::make_unique<TDevCommand>(); }

}  // namespace velmora::cli
