// Trust on this computer: a CA put into the system's certificate store and into the NSS
// databases of the user's browsers and mail programs, and taken out again, always through the
// stores' own tools. Every target is answered for on its own; one that fails leaves the others
// done.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace velmora {

// A CA certificate that may be trusted. Read by ReadTrustCA, which refuses anything else.
struct TTrustCA {
  std::string File;
  std::string PEM;          // the certificate as PEM, whatever form the file had
  std::string Fingerprint;  // SHA-256, upper-case hex pairs joined by colons
  std::string CommonName;
  bool Constrained = false;  // carries name constraints

  // The first Count hex digits of the fingerprint, lower case.
  std::string FingerprintHex(std::size_t Count) const;
  // Its file in a system anchor folder: "velmora-<16 hex>.crt".
  std::string SystemFileName() const;
  // Its nickname in an NSS database: "Velmora <common name> <8 hex>".
  std::string Nickname() const;
};

// The CA in File. Raises Exception, in plain words, for a file that holds a private key or
// more than one certificate, a certificate that is no CA (no CA:TRUE, or a key usage without
// keyCertSign), and a CA that has expired by Now.
TTrustCA ReadTrustCA(const std::string& File, std::time_t Now);

enum class TTrustStoreKind { Debian, Fedora, P11Kit, NSS };

struct TTrustTarget {
  TTrustStoreKind Kind = TTrustStoreKind::NSS;
  std::string Name;         // "system store", "Firefox (default-release)"
  std::string Path;         // the anchor folder or the NSS database folder
  std::string Application;  // for a profile: the program that may hold it open
};

// Where trust is placed: the file-system root of the system store and the home of the NSS
// databases, both replaceable so that tests and careful users act on a sandbox.
struct TTrustPlace {
  std::string Root = "/";
  std::string Home;
  bool System = true;  // false: the system store is left alone
  // Hears each privileged command, exactly as it is run, before it runs.
  std::function<void(const std::string&)> Announce;
  // The program that runs a privileged step for an ordinary user; empty: pkexec or sudo,
  // whichever is installed.
  std::string Elevator;
};

// The targets as this computer has them: the system store by the tool that exists, then
// ~/.pki/nssdb and every Firefox and Thunderbird profile (snap and flatpak folders too), in
// name order.
std::vector<TTrustTarget> FindTrustTargets(const TTrustPlace& Place);

struct TTrustOutcome {
  std::string Target;
  std::string Path;
  bool Ok = false;         // the action succeeded (for status: the question was answered)
  bool Installed = false;  // whether the CA is in this target afterwards
  std::string Reason;      // "installed", "not installed", "close Firefox and run again", ...
};

std::vector<TTrustOutcome> InstallTrust(const TTrustCA& CA, const TTrustPlace& Place);
std::vector<TTrustOutcome> RemoveTrust(const TTrustCA& CA, const TTrustPlace& Place);
std::vector<TTrustOutcome> TrustStatus(const TTrustCA& CA, const TTrustPlace& Place);
// Without a CA: the Velmora CAs each target holds, named in Reason.
std::vector<TTrustOutcome> TrustListing(const TTrustPlace& Place);

// "✓ Firefox (default-release): installed" / "✗ system store: ...".
std::string TrustOutcomeLine(const TTrustOutcome& Outcome);
// The targets that hold the CA, joined: "system store, Firefox (default-release)".
std::string TrustedByText(const std::vector<TTrustOutcome>& Status);

// A command line as it runs, each argument that needs it in single quotes: what the user is
// shown before a privileged step.
std::string CommandLineText(const std::vector<std::string>& Arguments);

}  // namespace velmora
