#include "core/Store.h"

#include "core/CSR.h"

#include "core/CertDetails.h"
#include "core/PlainWords.h"
#include "core/Revocation.h"
#include "core/StoreCertificate.h"
#include "core/StoreExpiry.h"
#include "core/StorePaths.h"
#include "core/StoreRevocation.h"
#include "core/TextFile.h"
#include "crypto/AtomicFile.h"
#include "crypto/CertBuilder.h"
#include "crypto/Certificates.h"
#include "crypto/Directory.h"
#include "crypto/SecretText.h"

#include <QDate>
#include <QTime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>

namespace velmora {

std::string SystemMessage(int Errno) { return std::generic_category().message(Errno); }

// ---- What a store file is ----

// Decided by the extension alone, from the last full stop on, ASCII letters in either case.
// Called for every name of every listing: the extension is compared in place, folded to lower
// case, without a copy of it.
TStoreFileKind StoreFileKind(const std::string& Name) {
  const std::size_t dot = Name.rfind('.');
  if (dot == std::string::npos || Name.size() - dot != 4 ||
      Name.find('/', dot) != std::string::npos)
    return TStoreFileKind::Other;
  char extension[4];
  for (std::size_t i = 0; i < 4; ++i) {
    const char c = Name[dot + i];
    extension[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  const std::string_view folded(extension, 4);
  if (folded == ".crt" || folded == ".cer" || folded == ".pem" || folded == ".der")
    return TStoreFileKind::Certificate;
  if (folded == ".key") return TStoreFileKind::Key;
  if (folded == ".pfx" || folded == ".p12") return TStoreFileKind::Bundle;
  if (folded == ".csr" || folded == ".req") return TStoreFileKind::Request;
  if (folded == ".crl") return TStoreFileKind::CRL;
  return TStoreFileKind::Other;
}

const char* TypeText(TStoreFileKind Kind) {
  switch (Kind) {
    case TStoreFileKind::Certificate: return "Cert";
    case TStoreFileKind::Key: return "Key";
    case TStoreFileKind::Bundle: return "PFX";
    case TStoreFileKind::Request: return "Request";
    case TStoreFileKind::CRL: return "CRL";
    case TStoreFileKind::Other: break;
  }
  return "";
}

// ---- Dates ----

// The long time format of many locales ends in the time zone, which would not fit the list's
// "Modified" column and says nothing on a desktop that shows local times anyway, so it is
// left out. The formats are looked up once and used for every row of a refresh.
TDateTimeFormat::TDateTimeFormat()
    : FDate(FLocale.dateFormat(QLocale::ShortFormat)),
      FTime(WithoutTimeZone(FLocale.timeFormat(QLocale::LongFormat))) {}

QString TDateTimeFormat::Text(std::time_t When, bool EvenSeconds) const {
  std::tm local{};
  if (!::localtime_r(&When, &local)) return {};
  const QDate date(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  const int second = std::min(local.tm_sec, 59);  // a leap second counts as :59
  const QTime time(local.tm_hour, local.tm_min, EvenSeconds ? second & ~1 : second);
  QString dateText = FLocale.toString(date, FDate);
  if (time == QTime(0, 0)) return dateText;
  return dateText + QLatin1Char(' ') + FLocale.toString(time, FTime);
}

QString TDateTimeFormat::Key() const {
  return FLocale.name() + QLatin1Char('|') + FDate + QLatin1Char('|') + FTime;
}

// Drops the zone fields ("t") outside quoted text and the blanks they leave at either end.
QString TDateTimeFormat::WithoutTimeZone(const QString& Format) {
  QString result;
  bool quoted = false;
  for (QChar c : Format) {
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (!quoted && c == QLatin1Char('t')) continue;
    result += c;
  }
  return result.trimmed();
}

// ---- Listing ----

namespace {}  // namespace

bool IsDirectoryAt(const std::string& Path) {
  struct stat info {};
  return !HasForbiddenPathChar(Path) && ::stat(Path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The store's certificate, key and bundle files in the order the file system gives them.
// Subdirectories are not entered, so links that loop back cannot trap the listing. Costs one
// look-up per listed file; other names cost nothing beyond the enumeration.
std::vector<TStoreEntry> ReadStoreEntries(const std::string& Dir) {
  const TDirPtr dir = OpenDirectory(Dir.c_str());
  if (!dir) {
    const int error = errno;
    // A folder the user may not read is an empty store; anything else (the folder vanished
    // since it was found) is worth telling.
    if (error == EACCES || error == EPERM) return {};
    throw Exception("Cannot list the store directory \"" + Readable(Dir) +
                    "\": " + SystemMessage(error));
  }
  const int dirFd = ::dirfd(dir.get());
  std::vector<TStoreEntry> entries;
  bool leftovers = false;
  while (const dirent* found = ::readdir(dir.get())) {
    if (found->d_type == DT_DIR) continue;
    TStoreEntry entry;
    entry.Name = found->d_name;
    entry.Kind = StoreFileKind(entry.Name);
    if (entry.Kind == TStoreFileKind::Other) {
      // What crashed or killed saves left behind is dealt with once the folder is read: a
      // half-published set is completed or undone, and a temporary file may hold a private
      // key in the clear.
      if (IsTemporaryFileName(entry.Name)) leftovers = true;
      continue;
    }
    // Follows links: a link to a folder is a folder, a link leading nowhere a vanished file.
    struct stat info {};
    if (::fstatat(dirFd, found->d_name, &info, 0) == 0) {
      if (S_ISDIR(info.st_mode)) continue;
      entry.Found = true;
      entry.Size = info.st_size;
      entry.Modified = info.st_mtim.tv_sec;
      entry.Device = info.st_dev;
      entry.Inode = info.st_ino;
      entry.ModifiedNanoseconds = info.st_mtim.tv_nsec;
    }
    entries.push_back(std::move(entry));
  }
  // A set completed or undone changes what the folder holds: read it again.
  if (leftovers && TidyInterruptedWrites(Dir)) return ReadStoreEntries(Dir);
  return entries;
}

std::string ExpiresText(std::time_t NotAfter, std::time_t Now) {
  const std::int64_t days = DaysLeft(NotAfter, Now);
  return days < 0 ? "expired" : std::to_string(days) + " days";
}

std::string SizeText(std::int64_t Bytes) {
  return std::to_string(std::max<std::int64_t>(Bytes / 1024, 1)) + " KB";
}

// ---- Describing a file ----

namespace {

// A file is described from the one descriptor opened for it: looked up by name a second time,
// it could have become a pipe that blocks the window for good.

// The facts the panel shows: those of the descriptor or, when the file could not be opened
// (one the user may not read), those of its name. 0, or the errno of the look-up that failed.
int FileFacts(const TReadOnlyFile& File, const std::string& Path, struct stat& Info) {
  if (File.Error() == 0) {
    Info = File.Info();
    return 0;
  }
  return ::stat(Path.c_str(), &Info) == 0 ? 0 : errno;
}

// Only a plain file of sane size is read: a pipe or a device named like a certificate
// would otherwise block the window or never end.
std::optional<std::string> WhyNotReadable(const struct stat& Info) {
  if (!S_ISREG(Info.st_mode)) return "Not a regular file";
  if (Info.st_size > kMaxCertificateFileSize)
    return "File too large (" + std::to_string(Info.st_size) + " bytes)";
  return std::nullopt;
}

// The whole content of a certificate or key file, through its descriptor. Raises Exception
// with the reason the panel shows when it cannot be read. Wiped when done with: a key file
// holds a private key, and a certificate file may hold one too.
TSecretText ReadDescribedFile(const TReadOnlyFile& File, const struct stat& Info) {
  if (std::optional<std::string> why = WhyNotReadable(Info)) throw Exception(*why);
  std::string bytes;
  if (const int error = File.ReadAll(bytes, kMaxCertificateFileSize); error != 0)
    throw Exception(SystemMessage(error));
  return TSecretText(std::move(bytes));
}

std::string CertificateKeyText(const TOpenSSLCert& Cert) {
  switch (Cert.KeyType()) {
    case ctRSA: return "RSA " + std::to_string(Cert.Bits()) + " bit";
    case ctECC: return "ECC " + Cert.GetCurveName();
    case ctEdwards:
    case ctUnknown: break;
  }
  if (std::string edwards = EdwardsAlgorithmOf(Cert.PKey()); !edwards.empty()) return edwards;
  return "Unknown key type";
}

std::string PrivateKeyText(const TOpenSSLCert& Key) {
  switch (Key.KeyType()) {
    case ctRSA: return "RSA " + std::to_string(Key.Bits()) + " bit private key";
    case ctECC: return "ECC " + Key.GetCurveName() + " private key";
    case ctEdwards:
    case ctUnknown: break;
  }
  if (std::string edwards = EdwardsAlgorithmOf(Key.PKey()); !edwards.empty())
    return edwards + " private key";
  return "Unknown";
}

// A private key that others may read is no longer private; a bundle with an empty password
// is as open as a key file.
void WarnIfReadableByOthers(const struct stat& Info, std::vector<std::string>& Lines) {
  if ((Info.st_mode & (S_IRGRP | S_IROTH)) == 0) return;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(Info.st_mode & 07777));
  Lines.push_back(std::string("Warning: readable by other users (mode ") + mode + ")");
}

// Whether Bytes hold a private key anywhere, as PEM text or as binary DER: a .pem file often
// holds a certificate together with its key.
bool HoldsPrivateKey(const TSecretText& Bytes) {
  return ClassifyFileStart(Bytes.Text()).Content == TFileContent::PrivateKey;
}

// A certificate that a CRL of its folder lists says so first among its details.
void AddRevocation(const std::string& Path, X509* Cert, TFileDescription& Description) {
  const std::string dir = std::filesystem::path(Path).parent_path().string();
  const TStoreCRLs crls = TStoreCRLs::Read(dir.empty() ? "." : dir);
  if (crls.Empty()) return;
  Description.Revocation = crls.RevocationOf(TCertificateView(Cert));
  if (Description.Revocation)
    Description.Details.insert(Description.Details.begin(), RevokedText(*Description.Revocation));
}

void DescribeCertificate(const std::string& Path, const TReadOnlyFile& File,
                         const struct stat& Info, std::time_t Now, TStoreLookup Lookup,
                         TFileDescription& Description) {
  std::vector<std::string>& Lines = Description.Lines;
  try {
    const TSecretText bytes = ReadDescribedFile(File, Info);
    const bool holdsKey = HoldsPrivateKey(bytes);
    // A key is exposed whether or not a certificate can be read beside it.
    if (holdsKey) WarnIfReadableByOthers(Info, Description.Details);
    try {
      const std::unique_ptr<TOpenSSLCert> cert =
          TCertLoader::LoadCertificateFromPEMOrDERBytes(bytes.Text());
      Lines.push_back("Key Type:     " + CertificateKeyText(*cert));
      Lines.push_back("Sig Algorithm: " + SigAlgToString(cert->GetSigAlg()));
      // The certificate is read without its key, so the loaded object never has one: what the
      // file holds is what the line must say.
      Lines.push_back(std::string("Has Private Key: ") +
                      (cert->HasPrivateKey() || holdsKey ? "True" : "False"));
      for (std::string& line : CertificateDetailLines(cert->X509Cert(), Now))
        Description.Details.push_back(std::move(line));
      if (Lookup == TStoreLookup::Read) AddRevocation(Path, cert->X509Cert(), Description);
      return;
    } catch (const std::exception& e) {
      Description.Problem = std::string("Could not parse certificate: ") + e.what();
    }
  } catch (const std::exception& e) {
    Description.Problem = std::string("Could not parse certificate: ") + e.what();
  }
  Lines.push_back("(" + *Description.Problem + ")");
}

// A CRL of any size: 100,000 entries take a few megabytes.
void DescribeCRL(const std::string& Path, const TReadOnlyFile& File, const struct stat& Info,
                 TStoreLookup Lookup, TFileDescription& Description) {
  try {
    if (std::optional<std::string> why = WhyNotReadable(Info)) throw Exception(*why);
    std::string bytes;
    if (const int error = File.ReadAll(bytes, kMaxCRLFileSize); error != 0)
      throw Exception(SystemMessage(error));
    for (std::string& line : CRLDetailLines(Path, bytes, Lookup == TStoreLookup::Read))
      Description.Details.push_back(std::move(line));
  } catch (const std::exception& e) {
    Description.Problem = std::string("Could not read the CRL: ") + e.what();
    Description.Lines.push_back("(" + *Description.Problem + ")");
  }
}

// Any other file is looked into only for a private key that others may read.
void DescribeOtherFile(const TReadOnlyFile& File, const struct stat& Info,
                       TFileDescription& Description) {
  try {
    if (HoldsPrivateKey(ReadDescribedFile(File, Info)))
      WarnIfReadableByOthers(Info, Description.Details);
  } catch (const std::exception&) {
    // Not a file that could hold a key of ours (a pipe, a huge file, one we may not read).
  }
}

// Only the empty password is tried: the panel never asks for one.
// A key that does not open without a password is fine when it is encrypted; it is a problem
// when the file cannot be read or holds no key at all.
void DescribeKey(const TReadOnlyFile& File, const struct stat& Info,
                 TFileDescription& Description) {
  const char* unreadable = "(Encrypted or unreadable key \u2014 password required)";
  try {
    const TSecretText pem = ReadDescribedFile(File, Info);
    try {
      const std::unique_ptr<TOpenSSLCert> key =
          TCertLoader::LoadPrivateKeyFromPEMBytes(pem.Text(), "");
      Description.Lines.push_back("Key Type: " + PrivateKeyText(*key));
      return;
    } catch (const std::exception&) {
      if (!HoldsPrivateKey(pem)) Description.Problem = "The file holds no private key";
    }
  } catch (const std::exception& e) {
    Description.Problem = std::string("Cannot read the key: ") + e.what();
  }
  Description.Lines.push_back(unreadable);
}

// What a bundle holds when it opens without a password; the panel never asks for one.
void DescribeBundleContents(const TReadOnlyFile& File, const struct stat& Info,
                            TFileDescription& Description) {
  std::vector<std::string>& Lines = Description.Details;
  std::string text = "Bundle contents: ";
  try {
    const TSecretText bytes = ReadDescribedFile(File, Info);
    const std::optional<TBundleContents> contents = ReadBundleWithoutPassword(bytes.Text());
    if (!contents) {
      Lines.push_back(text + "(protected by a password)");
      return;
    }
    text += contents->Key ? "private key" : "no private key";
    text += ", " + std::to_string(contents->Certificates.size()) +
            (contents->Certificates.size() == 1 ? " certificate" : " certificates");
    Lines.push_back(text);
    for (const X509Ptr& cert : contents->Certificates)
      Lines.push_back("  " + TCertificateView(cert.get()).SubjectText());
  } catch (const std::exception& e) {
    Lines.push_back(text + "(" + e.what() + ")");
    Description.Problem = std::string("Cannot read the bundle: ") + e.what();
  }
}

// A request's details; one that does not read or verify says why, as its problem.
void DescribeRequest(const std::string& Path, const TReadOnlyFile& File, const struct stat& Info,
                     TFileDescription& Description) {
  try {
    const TSecretText bytes = ReadDescribedFile(File, Info);
    const std::optional<TCSRView> view = ReadCSRView(bytes.Text());
    if (!view) {
      (void)ReadCSRBytes(bytes.Text(), FileNamePart(Path));  // raises what the file holds instead
      return;
    }
    Description.Lines.push_back("Key Type: " + CSRKeyText(*view));
    for (std::string& line : CSRDetailLines(*view)) Description.Details.push_back(std::move(line));
    CheckCSRUsable(*view, FileNamePart(Path));
  } catch (const std::exception& e) {
    // Problems are shown without their full stop, as the other kinds' are.
    std::string problem = e.what();
    if (problem.ends_with('.')) problem.pop_back();
    Description.Problem = problem;
    Description.Lines.push_back("(" + *Description.Problem + ")");
  }
}

}  // namespace

// A file that vanished since it was listed gets its size as -1 and then an error for its
// date, with the lines so far kept.
TFileDescription DescribeStoreFile(const std::string& Path, std::time_t Now, TWording Wording,
                                   TStoreLookup Lookup) {
  TFileDescription description;
  std::vector<std::string>& lines = description.Lines;
  lines.push_back("File: " + FileNamePart(Path));
  lines.push_back("Path: " + Path);
  const TReadOnlyFile file(Path);
  struct stat info {};
  const int statError = FileFacts(file, Path, info);
  const bool found = statError == 0;
  lines.push_back("Size: " + std::to_string(found ? static_cast<std::int64_t>(info.st_size) : -1) +
                  " bytes");
  if (!found) {
    description.Error =
        "Cannot read the date of \"" + Readable(Path) + "\": " + SystemMessage(statError);
    return description;
  }
  lines.push_back("Modified: " + TDateTimeFormat().Text(info.st_mtim.tv_sec, false).toStdString());
  lines.emplace_back();

  switch (StoreFileKind(FileNamePart(Path))) {
    case TStoreFileKind::Certificate:
      DescribeCertificate(Path, file, info, Now, Lookup, description);
      break;
    case TStoreFileKind::Key:
      DescribeKey(file, info, description);
      WarnIfReadableByOthers(info, description.Details);
      break;
    case TStoreFileKind::Bundle:
      // The window's buttons load a bundle; the command line has none to point to.
      lines.push_back(Wording == TWording::Window
                          ? "PKCS#12 bundle \u2014 use Load buttons to import with password."
                          : "PKCS#12 bundle \u2014 the program that imports it asks for its "
                            "password.");
      DescribeBundleContents(file, info, description);
      WarnIfReadableByOthers(info, description.Details);
      break;
    case TStoreFileKind::Request: DescribeRequest(Path, file, info, description); break;
    case TStoreFileKind::CRL: DescribeCRL(Path, file, info, Lookup, description); break;
    case TStoreFileKind::Other: DescribeOtherFile(file, info, description); break;
  }
  return description;
}

// unlink, not remove: if a folder has taken the file's place meanwhile, it stays.
void DeleteStoreFile(const std::string& Path) {
  RequireValidPathText(Path);
  if (::unlink(Path.c_str()) != 0) {
    const int error = errno;
    throw Exception("Cannot delete \"" + Readable(Path) + "\": " + SystemMessage(error));
  }
}

}  // namespace velmora
