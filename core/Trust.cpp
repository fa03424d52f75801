#include "core/Trust.h"

#include "core/TextFile.h"
#include "crypto/AtomicFile.h"
#include "crypto/CertificateView.h"
#include "crypto/Exception.h"
#include "crypto/SecretText.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

namespace velmora {

namespace fs = std::filesystem;

namespace {

std::string ReadWholeFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsDirectory(const std::string& Path) {
  std::error_code error;
  return fs::is_directory(Path, error);
}

bool IsFile(const std::string& Path) {
  std::error_code error;
  return fs::is_regular_file(Path, error);
}

std::string Under(const std::string& Root, const std::string& Path) {
  if (Root.empty() || Root == "/") return Path;
  std::string root = Root;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root + Path;
}

bool IsOwnRoot(const std::string& Root) {
  std::error_code error;
  return Root.empty() || fs::equivalent(Root, "/", error);
}

// System tools live in sbin, which an ordinary user's PATH often leaves out.
std::string FindTool(const std::string& Name) {
  QString found = QStandardPaths::findExecutable(QString::fromStdString(Name));
  if (found.isEmpty())
    found = QStandardPaths::findExecutable(QString::fromStdString(Name),
                                           {"/usr/local/sbin", "/usr/sbin", "/sbin"});
  return found.toStdString();
}

struct TRunResult {
  bool Started = false;
  int Status = -1;
  std::string Output;
};

// One program with its arguments, never through a shell. A privileged step may ask for a
// password on the terminal, so it gets the terminal; the others' output is kept for the
// reason of a failure.
TRunResult RunProgram(const std::vector<std::string>& Arguments, bool Interactive = false) {
  TRunResult result;
  QProcess process;
  QStringList arguments;
  for (std::size_t i = 1; i < Arguments.size(); ++i)
    arguments << QString::fromStdString(Arguments[i]);
  process.setProgram(QString::fromStdString(Arguments.front()));
  process.setArguments(arguments);
  if (Interactive) {
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
  } else {
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
  }
  process.start();
  if (!process.waitForStarted(-1)) return result;
  result.Started = true;
  process.waitForFinished(-1);
  result.Output = process.readAll().toStdString();
  result.Status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  return result;
}

// The last line a failed tool printed: usually the one that says why.
std::string LastLine(const std::string& Output) {
  std::string text = Output;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  const std::size_t at = text.rfind('\n');
  return at == std::string::npos ? text : text.substr(at + 1);
}

std::string Failed(const std::string& Tool, const TRunResult& Run) {
  if (!Run.Started) return Tool + " could not be started";
  const std::string line = LastLine(Run.Output);
  return Tool + " failed" + (line.empty() ? "" : ": " + line);
}

std::vector<std::string> FingerprintsIn(const std::string& Bytes) {
  std::vector<std::string> prints;
  TCertificateFileContents contents = ReadCertificateFileContents(Bytes);
  for (X509Ptr& cert : contents.Certificates)
    prints.push_back(TCertificateView(std::move(cert)).Fingerprint(TFingerprintDigest::SHA256));
  return prints;
}

bool HoldsFingerprint(const std::string& Bytes, const std::string& Fingerprint) {
  const std::vector<std::string> prints = FingerprintsIn(Bytes);
  return std::find(prints.begin(), prints.end(), Fingerprint) != prints.end();
}

// A step that needs root: run directly when we may write where it writes (root, or a sandbox
// of our own), otherwise through pkexec or sudo, after the user has been shown the command.
class TPrivilegedSteps {
 public:
  TPrivilegedSteps(const TTrustPlace& Place, bool Elevate) : FPlace(Place), FElevate(Elevate) {}

  // Empty when the step ran and succeeded; otherwise why not.
  std::string Run(std::vector<std::string> Arguments, const std::string& Tool) const {
    if (FElevate) {
      const std::string elevator = Elevator();
      if (elevator.empty())
        return "needs root, and neither pkexec nor sudo is installed: run as root";
      Arguments.insert(Arguments.begin(), elevator);
      if (FPlace.Announce) FPlace.Announce("Running: " + CommandLineText(Arguments));
    }
    const TRunResult run = RunProgram(Arguments, FElevate);
    if (run.Started && run.Status == 0) return {};
    return Failed(Tool, run);
  }

 private:
  std::string Elevator() const {
    if (!FPlace.Elevator.empty()) return FindTool(FPlace.Elevator);
    for (const char* name : {"pkexec", "sudo"})
      if (std::string found = FindTool(name); !found.empty()) return found;
    return {};
  }

  const TTrustPlace& FPlace;
  bool FElevate;
};

bool MayWriteIn(const std::string& Dir) {
  return ::geteuid() == 0 || ::access(Dir.c_str(), W_OK) == 0;
}

// The CA as a PEM file of its own in a private temporary folder, for tools that read a file.
class TPEMFile {
 public:
  explicit TPEMFile(const TTrustCA& CA) {
    if (!FDir.isValid()) throw Exception("Cannot create a temporary folder.");
    FPath = FDir.filePath("ca.crt").toStdString();
    WriteFileAtomically(FPath, CA.PEM, TFileAccess::Usual);
    // pkexec and sudo run as root; the folder is ours alone, the file still has to be read.
    ::chmod(FDir.path().toLocal8Bit().constData(), 0755);
  }
  const std::string& Path() const { return FPath; }

 private:
  QTemporaryDir FDir;
  std::string FPath;
};

// ---- the system store -------------------------------------------------------------------

struct TSystemStore {
  TTrustStoreKind Kind;
  std::string AnchorDir;  // empty for p11-kit, which keeps its own
};

std::string DebianAnchorDir(const std::string& Root) {
  return Under(Root, "/usr/local/share/ca-certificates");
}
std::string FedoraAnchorDir(const std::string& Root) {
  return Under(Root, "/etc/pki/ca-trust/source/anchors");
}

std::optional<TSystemStore> FindSystemStore(const std::string& Root) {
  if (IsDirectory(DebianAnchorDir(Root)) || IsFile(Under(Root, "/etc/ca-certificates.conf")))
    return TSystemStore{TTrustStoreKind::Debian, DebianAnchorDir(Root)};
  if (IsDirectory(FedoraAnchorDir(Root)))
    return TSystemStore{TTrustStoreKind::Fedora, FedoraAnchorDir(Root)};
  if (IsOwnRoot(Root) && !FindTool("trust").empty())
    return TSystemStore{TTrustStoreKind::P11Kit, {}};
  return std::nullopt;
}

// update-ca-certificates on another root: every folder it reads and writes moved under it.
std::vector<std::string> DebianUpdate(const std::string& Root, bool Fresh) {
  std::vector<std::string> arguments{FindTool("update-ca-certificates")};
  if (Fresh) arguments.push_back("--fresh");
  if (!IsOwnRoot(Root)) {
    arguments.insert(arguments.end(),
                     {"--certsconf", Under(Root, "/etc/ca-certificates.conf"), "--certsdir",
                      Under(Root, "/usr/share/ca-certificates"), "--localcertsdir",
                      DebianAnchorDir(Root), "--etccertsdir", Under(Root, "/etc/ssl/certs"),
                      "--hooksdir", Under(Root, "/etc/ca-certificates/update.d")});
  }
  return arguments;
}

// Whether the CA is in the system store: its anchor file holds it (and, on Debian, the bundle
// that clients read does too), or p11-kit lists it among the anchors.
struct TSystemState {
  bool Answered = true;
  bool Installed = false;
  std::string Reason;
};

TSystemState SystemState(const TTrustCA& CA, const TSystemStore& Store, const std::string& Root) {
  TSystemState state;
  if (Store.Kind == TTrustStoreKind::P11Kit) {
    QTemporaryDir dir;
    const std::string bundle = dir.filePath("anchors.pem").toStdString();
    const TRunResult run = RunProgram({FindTool("trust"), "extract", "--format=pem-bundle",
                                       "--filter=ca-anchors", "--overwrite", bundle});
    if (!run.Started || run.Status != 0) return {false, false, Failed("trust extract", run)};
    state.Installed = HoldsFingerprint(ReadWholeFile(bundle), CA.Fingerprint);
    state.Reason = state.Installed ? "installed" : "not installed";
    return state;
  }
  const std::string file = Store.AnchorDir + "/" + CA.SystemFileName();
  // update-ca-certificates rewrites the bundle only from the certificates it still has: when
  // none is left, the old bundle, and the removed CA in it, stays.
  if (!IsFile(file)) {
    if (Store.Kind == TTrustStoreKind::Debian &&
        HoldsFingerprint(ReadWholeFile(Under(Root, "/etc/ssl/certs/ca-certificates.crt")),
                         CA.Fingerprint))
      return {true, true,
              "its file is gone, but the bundle " +
                  Under(Root, "/etc/ssl/certs/ca-certificates.crt") + " still holds it"};
    return {true, false, "not installed"};
  }
  state.Installed = HoldsFingerprint(ReadWholeFile(file), CA.Fingerprint);
  if (!state.Installed)
    return {true, false, "not installed (" + file + " holds another certificate)"};
  state.Reason = "installed";
  if (Store.Kind == TTrustStoreKind::Debian &&
      !HoldsFingerprint(ReadWholeFile(Under(Root, "/etc/ssl/certs/ca-certificates.crt")),
                        CA.Fingerprint))
    state.Reason = "installed, but not in the bundle yet: update-ca-certificates has not run";
  return state;
}

std::string SystemTargetName(TTrustStoreKind Kind) {
  switch (Kind) {
    case TTrustStoreKind::Debian: return "system store (update-ca-certificates)";
    case TTrustStoreKind::Fedora: return "system store (update-ca-trust)";
    case TTrustStoreKind::P11Kit: return "system store (p11-kit trust)";
    case TTrustStoreKind::NSS: break;
  }
  return "system store";
}

enum class TAction { Install, Remove, Status };

TTrustOutcome ActOnSystem(const TTrustCA& CA, const TTrustTarget& Target, const TTrustPlace& Place,
                          TAction Action) {
  TTrustOutcome outcome{Target.Name, Target.Path, false, false, {}};
  const TSystemStore store{Target.Kind, Target.Path};
  const char* tool = Target.Kind == TTrustStoreKind::Debian   ? "update-ca-certificates"
                     : Target.Kind == TTrustStoreKind::Fedora ? "update-ca-trust"
                                                              : "trust";
  if (FindTool(tool).empty()) {
    outcome.Reason = std::string(tool) + " is not installed";
    return outcome;
  }
  TSystemState before = SystemState(CA, store, Place.Root);
  if (!before.Answered || Action == TAction::Status) {
    outcome.Ok = before.Answered;
    outcome.Installed = before.Installed;
    outcome.Reason = before.Reason;
    return outcome;
  }
  const bool fullyThere = before.Installed && before.Reason == "installed";
  if (Action == TAction::Install && fullyThere)
    return {Target.Name, Target.Path, true, true, "already installed"};
  if (Action == TAction::Remove && !before.Installed)
    return {Target.Name, Target.Path, true, false, "not installed"};

  const bool elevate =
      store.Kind == TTrustStoreKind::P11Kit ? ::geteuid() != 0 : !MayWriteIn(store.AnchorDir);
  const TPrivilegedSteps steps(Place, elevate);
  const TPEMFile pem(CA);
  std::string failure;
  if (store.Kind == TTrustStoreKind::P11Kit) {
    failure = steps.Run({FindTool("trust"), "anchor",
                         Action == TAction::Install ? "--store" : "--remove", pem.Path()},
                        "trust anchor");
  } else {
    const std::string file = store.AnchorDir + "/" + CA.SystemFileName();
    if (Action == TAction::Install) {
      if (elevate)
        failure = steps.Run({FindTool("install"), "-m", "0644", pem.Path(), file}, "install");
      else
        WriteFileAtomically(file, CA.PEM, TFileAccess::Usual);
    } else {
      if (elevate) {
        failure = steps.Run({FindTool("rm"), "-f", file}, "rm");
      } else if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
        failure = "cannot remove " + file;
      }
    }
    if (failure.empty()) {
      if (store.Kind == TTrustStoreKind::Debian) {
        // A removal leaves a link to the gone file behind unless the links are made afresh.
        failure = steps.Run(DebianUpdate(Place.Root, Action == TAction::Remove), tool);
      } else if (IsOwnRoot(Place.Root)) {
        failure = steps.Run({FindTool(tool), "extract"}, tool);
      }
    }
  }
  const TSystemState after = SystemState(CA, store, Place.Root);
  outcome.Installed = after.Installed;
  if (!failure.empty()) {
    outcome.Reason = failure;
    return outcome;
  }
  outcome.Ok = Action == TAction::Install ? after.Installed : !after.Installed;
  if (outcome.Ok) {
    outcome.Reason = Action == TAction::Install ? "installed" : "removed";
    if (store.Kind == TTrustStoreKind::Fedora && !IsOwnRoot(Place.Root))
      outcome.Reason += " (run update-ca-trust extract inside that root)";
  } else {
    outcome.Reason = Action == TAction::Install
                         ? "still not installed after " + std::string(tool)
                         : "still installed after " + std::string(tool) + ": " + after.Reason;
  }
  return outcome;
}

// ---- NSS databases ----------------------------------------------------------------------

// Whether a program holds the profile open: Firefox and Thunderbird leave a "lock" link naming
// their process ("127.0.1.1:+4242") and hold an fcntl lock on ".parentlock" while they run.
// certutil writing to a database the program has open can corrupt it.
bool ProfileInUse(const std::string& Dir) {
  std::error_code error;
  const fs::path link = fs::path(Dir) / "lock";
  if (fs::is_symlink(link, error)) {
    const std::string target = fs::read_symlink(link, error).string();
    const std::size_t plus = target.rfind('+');
    if (plus != std::string::npos) {
      const std::string digits = target.substr(plus + 1);
      if (!digits.empty() && digits.size() < 10 &&
          std::all_of(digits.begin(), digits.end(),
                      [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        const pid_t pid = static_cast<pid_t>(std::stol(digits));
        if (pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM)) return true;
      }
    }
  }
  const std::string parentLock = Dir + "/.parentlock";
  const int fd = ::open(parentLock.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  const bool locked = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  ::close(fd);
  return locked;
}

std::string NSSDir(const TTrustTarget& Target) { return "sql:" + Target.Path; }

struct TNSSState {
  bool Answered = true;
  bool Installed = false;
  std::string Reason;
};

TNSSState NSSState(const TTrustCA& CA, const TTrustTarget& Target, const std::string& CertUtil) {
  const TRunResult run =
      RunProgram({CertUtil, "-L", "-d", NSSDir(Target), "-n", CA.Nickname(), "-a"});
  if (!run.Started) return {false, false, "certutil could not be started"};
  // certutil ends with a failure for a nickname it does not hold.
  if (run.Status == 0 && HoldsFingerprint(run.Output, CA.Fingerprint))
    return {true, true, "installed"};
  return {true, false, "not installed"};
}

TTrustOutcome ActOnNSS(const TTrustCA& CA, const TTrustTarget& Target, TAction Action) {
  TTrustOutcome outcome{Target.Name, Target.Path, false, false, {}};
  const std::string certutil = FindTool("certutil");
  if (certutil.empty()) {
    outcome.Reason = "certutil is not installed (package libnss3-tools)";
    return outcome;
  }
  const TNSSState before = NSSState(CA, Target, certutil);
  if (!before.Answered || Action == TAction::Status) {
    outcome.Ok = before.Answered;
    outcome.Installed = before.Installed;
    outcome.Reason = before.Reason;
    return outcome;
  }
  if (Action == TAction::Install && before.Installed)
    return {Target.Name, Target.Path, true, true, "already installed"};
  if (Action == TAction::Remove && !before.Installed)
    return {Target.Name, Target.Path, true, false, "not installed"};
  outcome.Installed = before.Installed;
  if (!Target.Application.empty() && ProfileInUse(Target.Path)) {
    outcome.Reason = "open in a running " + Target.Application + ": close " + Target.Application +
                     " and run again";
    return outcome;
  }
  TRunResult run;
  if (Action == TAction::Install) {
    const TPEMFile pem(CA);
    run = RunProgram({certutil, "-A", "-n", CA.Nickname(), "-t", "C,,", "-a", "-i", pem.Path(),
                      "-d", NSSDir(Target)});
  } else {
    run = RunProgram({certutil, "-D", "-n", CA.Nickname(), "-d", NSSDir(Target)});
  }
  const TNSSState after = NSSState(CA, Target, certutil);
  outcome.Installed = after.Installed;
  if (!run.Started || run.Status != 0) {
    outcome.Reason = Failed("certutil", run);
    return outcome;
  }
  outcome.Ok = Action == TAction::Install ? after.Installed : !after.Installed;
  outcome.Reason = outcome.Ok ? (Action == TAction::Install ? "installed" : "removed")
                              : (Action == TAction::Install ? "still not installed after certutil"
                                                            : "still installed after certutil");
  return outcome;
}

// The profiles of one program under one folder: each subfolder with an NSS database in the
// form current versions use (cert9.db), in name order. "abcd1234.default-release" shows as
// "default-release".
void AddProfiles(std::vector<TTrustTarget>& Targets, const std::string& Folder,
                 const std::string& Application, const std::string& Flavour) {
  std::error_code error;
  std::vector<std::string> dirs;
  for (fs::directory_iterator it(Folder, error), end; !error && it != end; it.increment(error))
    if (it->is_directory(error) && IsFile((it->path() / "cert9.db").string()))
      dirs.push_back(it->path().string());
  std::sort(dirs.begin(), dirs.end());
  for (const std::string& dir : dirs) {
    std::string name = fs::path(dir).filename().string();
    if (const std::size_t dot = name.find('.'); dot != std::string::npos && dot + 1 < name.size())
      name = name.substr(dot + 1);
    std::string label = Application + Flavour;
    label += " (" + name + ")";
    Targets.push_back({TTrustStoreKind::NSS, std::move(label), dir, Application});
  }
}

std::vector<TTrustOutcome> Act(const TTrustCA& CA, const TTrustPlace& Place, TAction Action) {
  std::vector<TTrustOutcome> outcomes;
  const bool anySystem = Place.System && FindSystemStore(Place.Root).has_value();
  if (Place.System && !anySystem)
    outcomes.push_back({"system store", Under(Place.Root, "/"), Action == TAction::Status, false,
                        "none found: no update-ca-certificates, update-ca-trust or p11-kit trust"});
  for (const TTrustTarget& target : FindTrustTargets(Place))
    outcomes.push_back(target.Kind == TTrustStoreKind::NSS
                           ? ActOnNSS(CA, target, Action)
                           : ActOnSystem(CA, target, Place, Action));
  return outcomes;
}

}  // namespace

std::string TTrustCA::FingerprintHex(std::size_t Count) const {
  std::string hex;
  for (const char c : Fingerprint) {
    if (hex.size() == Count) break;
    if (c != ':') hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return hex;
}

std::string TTrustCA::SystemFileName() const { return "velmora-" + FingerprintHex(16) + ".crt"; }

std::string TTrustCA::Nickname() const {
  return "Velmora " + (CommonName.empty() ? std::string("CA") : CommonName) + " " +
         FingerprintHex(8);
}

TTrustCA ReadTrustCA(const std::string& File, std::time_t Now) {
  // Certificates are small; what does not fit is no certificate worth trusting. The bytes are
  // wiped when done: a file given by mistake may hold a private key.
  const TReadOnlyFile file(File);
  if (!file.IsRegularFile())
    throw Exception("Cannot read file \"" + File + "\". " +
                    (file.Error() != 0 ? std::strerror(file.Error()) : "Not a regular file"));
  std::string bytes;
  if (const int error = file.ReadAll(bytes, kMaxCertificateFileSize); error != 0)
    throw Exception("Cannot read file \"" + File + "\". " + std::strerror(error));
  const TSecretText secret(std::move(bytes));
  TCertificateFileContents contents = ReadCertificateFileContents(secret.Text());
  const std::string refused = "Nothing was changed: ";
  if (contents.HasPrivateKey)
    throw Exception(
        refused + File +
        " holds a private key. Give the CA certificate alone, so that the key is never copied.");
  if (contents.Certificates.empty()) throw Exception(refused + File + " holds no certificate.");
  if (contents.Certificates.size() > 1)
    throw Exception(refused + File + " holds " + std::to_string(contents.Certificates.size()) +
                    " certificates. Give the one CA certificate to trust, in a file of its own.");
  const TCertificateView view(std::move(contents.Certificates.front()));
  if (!view.IsCA())
    throw Exception(refused + File +
                    " is not a CA certificate: it does not say CA:TRUE, so it cannot vouch for "
                    "other certificates.");
  if (view.MaySignCertificates() == false)
    throw Exception(refused + File +
                    " is not a CA certificate: its key usage does not allow keyCertSign.");
  const std::optional<std::time_t> notAfter = view.NotAfter();
  if (!notAfter || *notAfter < Now)
    throw Exception(refused + "the CA in " + File + " has expired.");
  TTrustCA ca;
  ca.File = File;
  ca.PEM = view.PEM();
  ca.Fingerprint = view.Fingerprint(TFingerprintDigest::SHA256);
  ca.CommonName = view.CommonName();
  ca.Constrained = view.HasNameConstraints();
  if (ca.PEM.empty() || ca.Fingerprint.empty())
    throw Exception(refused + File + " cannot be read as a certificate.");
  return ca;
}

std::vector<TTrustTarget> FindTrustTargets(const TTrustPlace& Place) {
  std::vector<TTrustTarget> targets;
  if (Place.System)
    if (const std::optional<TSystemStore> store = FindSystemStore(Place.Root))
      targets.push_back({store->Kind, SystemTargetName(store->Kind), store->AnchorDir, {}});
  const std::string home = Place.Home;
  if (home.empty()) return targets;
  if (IsFile(home + "/.pki/nssdb/cert9.db"))
    targets.push_back(
        {TTrustStoreKind::NSS, "NSS database (~/.pki/nssdb)", home + "/.pki/nssdb", {}});
  AddProfiles(targets, home + "/.mozilla/firefox", "Firefox", "");
  AddProfiles(targets, home + "/snap/firefox/common/.mozilla/firefox", "Firefox", " snap");
  AddProfiles(targets, home + "/.var/app/org.mozilla.firefox/.mozilla/firefox", "Firefox",
              " flatpak");
  AddProfiles(targets, home + "/.thunderbird", "Thunderbird", "");
  AddProfiles(targets, home + "/snap/thunderbird/common/.thunderbird", "Thunderbird", " snap");
  AddProfiles(targets, home + "/.var/app/org.mozilla.Thunderbird/.thunderbird", "Thunderbird",
              " flatpak");
  return targets;
}

std::vector<TTrustOutcome> InstallTrust(const TTrustCA& CA, const TTrustPlace& Place) {
  return Act(CA, Place, TAction::Install);
}

std::vector<TTrustOutcome> RemoveTrust(const TTrustCA& CA, const TTrustPlace& Place) {
  return Act(CA, Place, TAction::Remove);
}

std::vector<TTrustOutcome> TrustStatus(const TTrustCA& CA, const TTrustPlace& Place) {
  return Act(CA, Place, TAction::Status);
}

std::vector<TTrustOutcome> TrustListing(const TTrustPlace& Place) {
  std::vector<TTrustOutcome> outcomes;
  const std::string certutil = FindTool("certutil");
  for (const TTrustTarget& target : FindTrustTargets(Place)) {
    TTrustOutcome outcome{target.Name, target.Path, true, false, {}};
    std::vector<std::string> names;
    if (target.Kind == TTrustStoreKind::NSS) {
      if (certutil.empty()) {
        outcome.Ok = false;
        outcome.Reason = "certutil is not installed (package libnss3-tools)";
        outcomes.push_back(outcome);
        continue;
      }
      const TRunResult run = RunProgram({certutil, "-L", "-d", NSSDir(target)});
      std::istringstream lines(run.Output);
      // Each line is the nickname, blanks, then the trust flags.
      for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("Velmora ")) continue;
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
        line.resize(line.find_last_not_of(' ', line.find_last_of(' ')) + 1);
        names.push_back(line);
      }
    } else if (!target.Path.empty()) {
      std::error_code error;
      for (fs::directory_iterator it(target.Path, error), end; !error && it != end;
           it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with("velmora-") && name.ends_with(".crt")) names.push_back(name);
      }
    } else {
      outcome.Reason = "give the CA certificate to see whether p11-kit holds it";
      outcomes.push_back(outcome);
      continue;
    }
    std::sort(names.begin(), names.end());
    outcome.Installed = !names.empty();
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
    outcome.Reason = names.empty() ? "no Velmora CA" : joined;
    outcomes.push_back(outcome);
  }
  return outcomes;
}

std::string TrustOutcomeLine(const TTrustOutcome& Outcome) {
  return std::string(Outcome.Ok ? "\u2713 " : "\u2717 ") + Outcome.Target + ": " + Outcome.Reason;
}

std::string TrustedByText(const std::vector<TTrustOutcome>& Status) {
  std::string text;
  for (const TTrustOutcome& outcome : Status)
    if (outcome.Installed) {
      std::string name = outcome.Target;
      // "system store (update-ca-certificates)" reads as the system store.
      if (name.starts_with("system store")) name = "system store";
      text += (text.empty() ? "" : ", ") + name;
    }
  return text;
}

std::string CommandLineText(const std::vector<std::string>& Arguments) {
  std::string text;
  for (const std::string& argument : Arguments) {
    if (!text.empty()) text += ' ';
    const bool plain =
        !argument.empty() && std::all_of(argument.begin(), argument.end(), [](char c) {
          return std::isalnum(static_cast<unsigned char>(c)) ||
                 std::string_view("-_./:=,+@%").find(c) != std::string_view::npos;
        });
    if (plain) {
      text += argument;
      continue;
    }
    text += '\'';
    for (const char c : argument) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    text += '\'';
  }
  return text;
}

}  // namespace velmora
