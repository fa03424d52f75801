#include "core/StoreKeyPair.h"

#include "core/Store.h"
#include "core/StoreCertificate.h"
#include "core/StorePaths.h"
#include "core/StoreRelations.h"
#include "core/TextFile.h"
#include "crypto/Certificates.h"
#include "crypto/Directory.h"
#include "crypto/KeyIdentity.h"
#include "crypto/SecretText.h"

#include <dirent.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

namespace velmora {

namespace {

// The folder's key files, in byte order so that the same one wins whatever order the folder
// lists them in; at most as many as the store's relations compare.
std::vector<std::string> KeyFileNames(const std::string& Dir) {
  std::vector<std::string> names;
  const TDirPtr dir = OpenDirectory(Dir.c_str());
  if (!dir) return names;
  while (const dirent* found = ::readdir(dir.get())) {
    if (found->d_type == DT_DIR) continue;
    if (StoreFileKind(found->d_name) == TStoreFileKind::Key) names.emplace_back(found->d_name);
  }
  std::sort(names.begin(), names.end());
  if (names.size() > static_cast<std::size_t>(kMaxRelatedFiles)) names.resize(kMaxRelatedFiles);
  return names;
}

// "root" of "/store/root.crt".
std::string Stem(const std::string& Name) {
  const std::string::size_type dot = Name.rfind('.');
  return dot == std::string::npos ? Name : Name.substr(0, dot);
}

}  // namespace

std::string FindStoreKeyOfCertificate(const std::string& CertPath, const std::string& StoreDir,
                                      const std::function<bool()>& Cancelled) {
  const X509Ptr cert = ReadStoreCertificate(CertPath);
  const std::string identity = CertificateKeyIdentity(cert.get());
  if (identity.empty()) return {};
  const std::string namedLikeIt = Stem(FileNamePart(CertPath)) + ".key";
  bool namedLikeItIsLocked = false;
  long long budget = kMaxRelatedBytes;
  for (const std::string& name : KeyFileNames(StoreDir.empty() ? "." : StoreDir)) {
    if (Cancelled && Cancelled()) return {};
    const TReadOnlyFile file(JoinStorePath(StoreDir, name));
    if (!file.IsRegularFile() || file.Info().st_size > kMaxCertificateFileSize) continue;
    if (file.Info().st_size > budget) break;
    budget -= file.Info().st_size;
    std::string bytes;
    if (file.ReadAll(bytes, kMaxCertificateFileSize) != 0) continue;
    const TSecretText text(std::move(bytes));
    std::unique_ptr<TOpenSSLCert> key;
    try {
      key = TCertLoader::LoadPrivateKey(text.Text());
    } catch (const std::exception&) {
      continue;  // not a key we can read: another file may be the one
    }
    if (key && PublicKeyIdentity(key->PKey()) == identity) return name;
    if (!key && name == namedLikeIt)
      namedLikeItIsLocked = text.Text().find("ENCRYPTED") != std::string::npos;
  }
  return namedLikeItIsLocked ? namedLikeIt : std::string();
}

}  // namespace velmora
