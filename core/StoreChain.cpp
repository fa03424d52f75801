#include "core/StoreChain.h"

#include "core/Store.h"
#include "core/StoreCertificate.h"
#include "core/StorePaths.h"
#include "core/StoreRelations.h"
#include "core/ValueConventions.h"
#include "crypto/AtomicFile.h"
#include "crypto/Directory.h"

#include <dirent.h>

#include <algorithm>
#include <vector>

namespace velmora {

namespace {

// The folder's certificate files in byte order, as many as the store's relations compare.
std::vector<std::string> CertificateFileNames(const std::string& Dir) {
  std::vector<std::string> names;
  const TDirPtr dir = OpenDirectory(Dir.empty() ? "." : Dir.c_str());
  if (!dir) return names;
  while (const dirent* found = ::readdir(dir.get())) {
    if (found->d_type == DT_DIR) continue;
    if (StoreFileKind(found->d_name) == TStoreFileKind::Certificate)
      names.emplace_back(found->d_name);
  }
  std::sort(names.begin(), names.end());
  if (names.size() > static_cast<std::size_t>(kMaxRelatedFiles)) names.resize(kMaxRelatedFiles);
  return names;
}

// A chain longer than this has a loop in it or is no chain anybody uses.
constexpr int kMaxChainLength = 16;

}  // namespace

std::string FindStoreIssuer(const TCertificateView& Cert, const std::string& StoreDir,
                            const std::string& CertName) {
  std::string best;
  std::time_t bestEnd = 0;
  for (const std::string& name : CertificateFileNames(StoreDir)) {
    if (name == CertName) continue;
    X509Ptr candidate = ReadStoreCertificate(JoinStorePath(StoreDir, name));
    if (!candidate) continue;
    const TCertificateView issuer(std::move(candidate));
    if (!Cert.IsIssuedBy(issuer)) continue;
    const std::time_t end = issuer.NotAfter().value_or(0);
    if (best.empty() || end > bestEnd) {
      best = name;
      bestEnd = end;
    }
  }
  return best;
}

std::string StoreChainPEM(const std::string& CertPath, const std::string& StoreDir) {
  X509Ptr first = ReadStoreCertificate(CertPath);
  if (!first) throw Exception("The certificate " + Quoted(Readable(CertPath)) + " cannot be read.");
  TCertificateView cert(std::move(first));
  std::string chain = cert.PEM();
  std::string name = FileNamePart(CertPath);
  for (int length = 1; !cert.IsIssuedBy(cert); ++length) {
    if (length > kMaxChainLength)
      throw Exception("The chain of " + Quoted(Readable(CertPath)) +
                      " does not end at a root within " + std::to_string(kMaxChainLength) +
                      " certificates.");
    const std::string issuer = FindStoreIssuer(cert, StoreDir, name);
    if (issuer.empty())
      throw Exception("The chain of " + Quoted(Readable(FileNamePart(CertPath))) +
                      " cannot be completed from the store: the issuer of " +
                      Quoted(Readable(name)) + ", " + Quoted(cert.IssuerText()) +
                      ", is not in the store.");
    X509Ptr next = ReadStoreCertificate(JoinStorePath(StoreDir, issuer));
    if (!next) throw Exception("The certificate " + Quoted(Readable(issuer)) + " cannot be read.");
    cert = TCertificateView(std::move(next));
    name = issuer;
    if (!cert.IsIssuedBy(cert)) chain += cert.PEM();
  }
  return chain;
}

std::string WriteStoreChain(const std::string& CertPath, const std::string& StoreDir,
                            const std::string& ChainName) {
  const std::string chain = StoreChainPEM(CertPath, StoreDir);
  TAtomicFileSet files;
  files.Add(JoinStorePath(StoreDir, ChainName), chain, TFileAccess::Usual);
  files.Commit();
  return "Certificate chain saved -> " + ChainName;
}

}  // namespace velmora
