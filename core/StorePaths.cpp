#include "core/StorePaths.h"

#include "core/FileNameText.h"
#include "core/ValueConventions.h"
#include "crypto/OpenSSLWrapper.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace velmora {

namespace {

constexpr char kStoreFolderName[] = "Certificates";

bool IsWritableDir(const fs::path& Dir) {
  std::error_code ec;
  return fs::is_directory(Dir, ec) && ::access(Dir.c_str(), W_OK | X_OK) == 0;
}

// Every missing level made 0755 whatever the umask: a folder others could write into would
// let them replace the CA certificate that users are told to trust.
void MakeDirectories(const std::string& Dir, std::error_code& Error) {
  Error.clear();
  fs::path made;
  for (const fs::path& part : fs::path(Dir).lexically_normal()) {
    if (part.empty()) continue;
    made /= part;
    // The umask may narrow 0755 further, never widen it.
    if (::mkdir(made.c_str(), 0755) == 0) continue;
    if (errno != EEXIST) {
      Error = {errno, std::system_category()};
      return;
    }
  }
}

}  // namespace

bool HasForbiddenPathChar(const std::string& Text) {
  return std::any_of(Text.begin(), Text.end(), [](char c) {
    const auto code = static_cast<unsigned char>(c);
    return code < 32 || c == '"' || c == '<' || c == '>' || c == '|';
  });
}

void RequireValidPathText(const std::string& Text) {
  if (HasForbiddenPathChar(Text))
    throw Exception("Illegal characters in path: \"" + Readable(Text) + "\"");
}

std::string JoinStorePath(const std::string& Dir, const std::string& Name) {
  RequireValidPathText(Dir);
  RequireValidPathText(Name);
  if (Dir.empty()) return Name;
  if (Name.empty()) return Dir;
  if (Name.front() == '/') return Name;
  if (Dir.back() == '/') return Dir + Name;
  return Dir + '/' + Name;
}

void CreateStoreDirectory(const std::string& Dir) {
  std::error_code ec;
  if (fs::is_directory(Dir, ec)) return;
  if (Trim(Dir).empty()) throw Exception("The store directory name is empty.");
  RequireValidPathText(Dir);
  if (Dir.find_first_of("*?") != std::string::npos)
    throw Exception("Illegal characters in path: \"" + Readable(Dir) + "\"");
  MakeDirectories(Dir, ec);
  // What counts is a folder at the end, whatever the library reported.
  if (!ec && !fs::is_directory(Dir, ec)) ec = std::make_error_code(std::errc::not_a_directory);
  if (ec) throw Exception("Cannot create directory \"" + Readable(Dir) + "\": " + ec.message());
}

// An installed program's folder usually belongs to root; then the user's own data folder.
namespace {

// A program installed with the system's programs (by a package, or by root with
// `cmake --install`) must not fill that folder with certificates: there it is the user's.
bool IsSystemProgramDir(const std::string& AppDir) {
  std::error_code ec;
  const fs::path dir = fs::weakly_canonical(AppDir, ec);
  for (const char* system : {"/usr/bin", "/usr/local/bin", "/bin", "/usr/sbin", "/sbin", "/opt"})
    if (dir == system || (std::string_view(system) == "/opt" && dir.string().starts_with("/opt/")))
      return true;
#ifdef VELMORA_INSTALL_BINDIR
  if (dir == fs::weakly_canonical(VELMORA_INSTALL_BINDIR, ec)) return true;
#endif
  return false;
}

}  // namespace

std::string DefaultStoreDirFor(const std::string& AppDir, const std::string& UserDataDir) {
  if (IsSystemProgramDir(AppDir)) return (fs::path(UserDataDir) / kStoreFolderName).string();
  const fs::path beside = fs::path(AppDir) / kStoreFolderName;
  std::error_code ec;
  // Anything already there under that name (a link leading nowhere included) decides: only
  // a folder the user may write into will do.
  const bool taken = fs::symlink_status(beside, ec).type() != fs::file_type::not_found;
  if (taken ? IsWritableDir(beside) : IsWritableDir(AppDir)) return beside.string();
  return (fs::path(UserDataDir) / kStoreFolderName).string();
}

std::string FileNamePart(const std::string& Path) {
  const std::size_t slash = Path.rfind('/');
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

std::string Readable(const std::string& Name) { return FileNameCaption(Name).toStdString(); }

}  // namespace velmora
