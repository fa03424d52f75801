// velmora-cli dev: certificates for local development in one command. A root CA of its own
// is made in the store on first use; every run issues a TLS server and client certificate
// for the names given, signed by it.
//
// A root that the developer's browser trusts is a key to every site that browser visits, for
// whoever copies it. The CA is therefore name-constrained to names that never reach the public
// internet, unless the user asks otherwise.
#include "cli/Command.h"
#include "cli/Issue.h"
#include "cli/PassArg.h"
#include "cli/TrustSteps.h"
#include "core/Defaults.h"
#include "core/IPAddress.h"
#include "core/RequestChecks.h"
#include "core/StorePaths.h"
#include "core/StoreSetting.h"
#include "core/ValueConventions.h"
#include "crypto/Certificates.h"
#include "crypto/FileLock.h"
#include "crypto/NameConstraints.h"

#include <QDir>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

namespace velmora::cli {

namespace {

// The files of the development CA: "velmora-dev-ca" for the one made without --ca-name (as
// earlier versions made it), "velmora-dev-ca-<name>" for each named one.
constexpr const char* kCABase = "velmora-dev-ca";
constexpr std::int32_t kCADays = 3650;  // ten years

// Names reserved for private use (RFC 2606, 6761, 6762, 8375, the ICANN-reserved .internal)
// and address ranges that are never routed on the internet (loopback, RFC 1918, unique local
// and link-local IPv6): no public site can be reached by them.
constexpr const char* kDevelopmentNames =
    "localhost,.localhost,.test,.example,.invalid,.internal,.home.arpa,.local,"
    "127.0.0.0/8,::1/128,10.0.0.0/8,172.16.0.0/12,192.168.0.0/16,fc00::/7,fe80::/10";

// Apple platforms accept no TLS server certificate valid longer, from any CA.
constexpr std::int32_t kMaxDevDays = 825;

constexpr const char* kUnconstrainedRisk =
    "it can vouch for any site, so whoever obtains its key can impersonate every web site to "
    "the machines that trust it. Keep the key to yourself, and prefer a constrained CA "
    "(without --unconstrained, or with --permit) where the names allow it.";

// "user@host", as a trust store's list should show whose CA this is.
std::string UserAtHost() {
  std::string user;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_name != nullptr)
    user = entry->pw_name;
  if (user.empty()) user = "user";
  char host[HOST_NAME_MAX + 1] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return user + "@localhost";
  return user + "@" + host;
}

bool IsCAName(const std::string& Name) {
  if (Name.empty() || Name.size() > 64 || Name.front() == '.' || Name.front() == '-') return false;
  for (const char c : Name)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
          c == '-' || c == '_'))
      return false;
  return true;
}

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
    Command.add_option(
        "--ca-name", FCAName,
        "Which development CA: velmora-dev-ca-NAME.crt (default: velmora-dev-ca.crt)");
    FUnconstrainedOption = Command.add_flag(
        "--unconstrained", FUnconstrained,
        "Make the CA without name constraints (for internal domains); it can then vouch for "
        "any site");
    FPermitOption = Command.add_option(
        "--permit", FPermit,
        "Make the CA constrained to these names instead of the development names, "
        "comma-separated: example.org, .example.org, 10.0.0.0/8, fd00::/8, @example.org");
    Command.add_flag("--trust", FTrust,
                     "Trust the CA on this computer (as velmora-cli trust install does)");
    Command.add_option("--root", FRoot, "With --trust: file-system root of the system store");
    Command.add_option("--home", FHome, "With --trust: home folder of the NSS databases");
    Command.add_flag("--no-system", FNoSystem, "With --trust: leave the system store alone");
    Command.add_flag("--yes", FYes, "With --trust: trust an unconstrained CA without asking");
    Command.add_option("--days", FDays, "Days of validity of the certificate (at most 825)")
        ->default_val(kDevServerDays);
  }

  void Prepare() override {
    for (const std::string& name : FNames)
      if (name.empty() || name.find_first_of("/,\r\n") != std::string::npos)
        throw UsageError("Invalid name \"" + name + "\".");
    if (!FCAName.empty() && !IsCAName(FCAName))
      throw UsageError("Invalid CA name " + Quoted(FCAName) +
                       ": letters, digits, \".\", \"-\" and \"_\", up to 64 of them.");
    if (FDays < 1 || FDays > kMaxDevDays)
      throw UsageError("--days is 1 to " + std::to_string(kMaxDevDays) +
                       ": Apple platforms accept no TLS server certificate valid longer.");
    if (!FTrust && (!FRoot.empty() || !FHome.empty() || FNoSystem || FYes))
      throw UsageError("--root, --home, --no-system and --yes apply to --trust only.");
    if (FUnconstrained && FPermitOption->count() > 0)
      throw UsageError("--unconstrained and --permit contradict each other: choose one.");
    try {
      FConstraints =
          FUnconstrained
              ? std::vector<std::string>{}
              : NameConstraintsFromList(FPermitOption->count() > 0 ? FPermit : kDevelopmentNames);
    } catch (const Exception& e) {
      throw UsageError(e.what());
    }
    // Not given, the bundle's password is empty, as the option's help says.
    FBundlePassword = FBundlePass.empty() ? std::make_unique<TSecretText>()
                                          : ReadPassArg(FBundlePass, "--p12-pass");
  }

  int Execute() override {
    const std::string store = FStoreDir.empty() ? EffectiveStoreDir() : FStoreDir;
    const std::unique_ptr<TSecretText>& bundlePass = FBundlePassword;
    const std::string base = FCAName.empty() ? kCABase : std::string(kCABase) + "-" + FCAName;
    const std::string caCertName = base + ".crt";
    const std::string caCert = JoinStorePath(store, caCertName);
    const std::string caKey = JoinStorePath(store, base + ".key");
    const TCertRequest leaf = LeafRequest();

    {
      // Making the CA is done once: of two runs that find no CA, the second waits here and
      // then uses the first one's, instead of replacing it under the first run's leaves.
      CreateStoreDirectory(store);
      TFileLock lock(JoinStorePath(store, "." + base + ".lock"));
      if (!Exists(caCert) || !Exists(caKey)) {
        TNameConstraints constraints;
        for (const std::string& item : FConstraints)
          constraints.Permitted.push_back(ParseNameConstraint(item));
        RefuseNamesOutside(leaf, constraints, caCertName);
        MakeCA(store, base);
        if (FConstraints.empty())
          std::fprintf(stderr, "Warning: %s is unconstrained: %s\n", caCertName.c_str(),
                       kUnconstrainedRisk);
      } else {
        UseExistingCA(leaf, caCert, caCertName);
      }
    }
    MakeLeaf(leaf, store, caCert, caKey, bundlePass->Text());

    const std::string first = FNames.front();
    std::printf("\nFiles:\n  %s\n  %s\n  %s\n  %s\n\n", caCert.c_str(),
                JoinStorePath(store, first + ".crt").c_str(),
                JoinStorePath(store, first + ".key").c_str(),
                JoinStorePath(store, first + ".p12").c_str());
    if (!FTrust) {
      std::printf("To trust the development CA on this computer:\n  %s\n",
                  CommandLineText({"velmora-cli", "trust", "install", caCert}).c_str());
      return 0;
    }
    TTrustPlace place;
    place.Root = FRoot.empty() ? "/" : FRoot;
    place.Home = FHome.empty() ? QDir::homePath().toStdString() : FHome;
    place.System = !FNoSystem;
    AnnounceOnStdout(place);
    std::fflush(stdout);
    return InstallTrustFor(caCert, place, FYes);
  }

 private:
  TCertRequest LeafRequest() const {
    TCertRequest request;
    request.Subject.CN = FNames.front();
    request.ValidDays = FDays;
    // An EC key signs; it enciphers nothing.
    request.KeyUsage = {kuDigitalSignature};
    request.ExtKeyUsage = {ekuServerAuth, ekuClientAuth};
    for (const std::string& name : FNames)
      (IsIPAddress(name) ? request.SANIPs : request.SANDNSNames).push_back(name);
    return request;
  }

  // Before anything is written: a certificate that every client refuses helps nobody.
  static void RefuseNamesOutside(const TCertRequest& Leaf, const TNameConstraints& Constraints,
                                 const std::string& CAFile) {
    const std::vector<std::string> outside = NamesOutside(Leaf, Constraints);
    if (outside.empty()) return;
    throw Exception("The development CA " + CAFile + " may not issue for " + outside.front() +
                    ": its name constraints leave that name out, and clients would refuse the "
                    "certificate. Nothing was written. For such names make a separate CA: "
                    "--ca-name NAME with --unconstrained, or with --permit LIST.");
  }

  // A CA found in the store is used as it is, one made by an earlier version without name
  // constraints included; the user hears what such a CA risks.
  void UseExistingCA(const TCertRequest& Leaf, const std::string& CACert,
                     const std::string& CAFile) const {
    if (FUnconstrainedOption->count() > 0 || FPermitOption->count() > 0)
      std::fprintf(stderr,
                   "Note: %s exists already and is used as it is; --unconstrained and --permit "
                   "apply only when a CA is made (choose another with --ca-name).\n",
                   CAFile.c_str());
    const std::unique_ptr<TOpenSSLCert> ca = TCertLoader::LoadCertificateFromPEMFile(CACert);
    const TNameConstraints constraints = NameConstraintsOf(ca->X509Cert());
    if (constraints.empty()) {
      std::fprintf(stderr, "Warning: %s is unconstrained: %s\n", CAFile.c_str(),
                   kUnconstrainedRisk);
      return;
    }
    RefuseNamesOutside(Leaf, constraints, CAFile);
  }

  void MakeCA(const std::string& Store, const std::string& Base) const {
    TCertRequest request;
    request.Subject.CN = "Velmora development CA " + UserAtHost();
    if (!FCAName.empty()) request.Subject.CN += " (" + FCAName + ")";
    // A common name holds at most 64 characters; a long host name is cut, not refused.
    std::string& name = request.Subject.CN;
    std::size_t characters = 0;
    for (std::size_t at = 0; at < name.size(); ++at)
      if ((static_cast<unsigned char>(name[at]) & 0xC0) != 0x80 && ++characters > 64) {
        name.resize(at);
        break;
      }
    request.Subject.O = "Velmora development certificates";
    request.ValidDays = kCADays;
    request.IsCA = true;
    request.PathLenConstraint = 0;
    request.KeyUsage = {kuKeyCertSign, kuCRLSign};
    request.ExtKeyUsage = {};
    request.PermittedNames = FConstraints;
    TIssueRequest issue;
    issue.CertName = Base + ".crt";
    issue.KeyName = Base + ".key";
    issue.StoreDir = Store;
    const std::string none;
    TCertBuilder builder;
    GenerateKey(builder, {});
    Issue(builder, request, issue, {none, none, none}, false);
  }

  void MakeLeaf(const TCertRequest& Request, const std::string& Store, const std::string& CACert,
                const std::string& CAKey, const std::string& BundlePass) const {
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
    Issue(builder, Request, issue, {none, none, BundlePass}, FForce);
  }

  std::vector<std::string> FNames;
  std::string FBundlePass;
  std::string FStoreDir;
  bool FForce = false;
  bool FBundleCompatible = false;
  std::string FCAName;
  bool FUnconstrained = false;
  std::string FPermit;
  std::int32_t FDays = kDevServerDays;
  bool FTrust = false;
  std::string FRoot;
  std::string FHome;
  bool FNoSystem = false;
  bool FYes = false;
  CLI::Option* FUnconstrainedOption = nullptr;
  CLI::Option* FPermitOption = nullptr;
  std::vector<std::string> FConstraints;  // the permitted names of a CA made now
  std::unique_ptr<TSecretText> FBundlePassword;
};

}  // namespace

std::unique_ptr<TCommand> MakeDevCommand() { return std::make_unique<TDevCommand>(); }

}  // namespace velmora::cli
