// The certificate store folder: what its files are, their listing with the facts of each,
// the panel's description of one file, and deleting one. Shared by the window and the
// command line.
//
// A file name here is bytes, not text: every path is built from the name bytes the folder
// gave, so it reaches exactly the file listed even when the name is not UTF-8.
#pragma once

#include "core/PlainWords.h"
#include "crypto/CRL.h"

#include <QLocale>
#include <QString>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

enum class TStoreFileKind { Other, Certificate, Key, Bundle, Request, CRL };

// Decided by the extension alone, from the last full stop on, ASCII letters in either case:
// .crt .cer .pem .der certificates, .key keys, .pfx .p12 bundles, .csr .req requests, .crl
// revocation lists.
TStoreFileKind StoreFileKind(const std::string& Name);
// "Cert", "Key", "PFX", "Request", "CRL", or empty for other files.
const char* TypeText(TStoreFileKind Kind);

// One listed file as the directory shows it. Without Found its entry vanished (or is a link
// leading nowhere) between the enumeration and the look-up.
struct TStoreEntry {
  std::string Name;
  TStoreFileKind Kind = TStoreFileKind::Other;
  bool Found = false;
  std::int64_t Size = 0;
  std::time_t Modified = 0;
  // Which file it is: with Size and the modification time, whether it is still the same one.
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  long ModifiedNanoseconds = 0;
};

// Whether Path names a folder (links followed) that a store may be.
bool IsDirectoryAt(const std::string& Path);

// The store's certificate, key and bundle files in the order the file system gives them;
// abandoned temporary files of crashed saves are removed on the way. A folder the user may
// not read is an empty store; any other failure raises
// "Cannot list the store directory "<dir>": <reason>".
std::vector<TStoreEntry> ReadStoreEntries(const std::string& Dir);

// The store list's Expires cell for a certificate valid until NotAfter: "N days" left, rounded
// down, or "expired".
std::string ExpiresText(std::time_t NotAfter, std::time_t Now);

// Whole kibibytes, never below one: "1 KB", "1024 KB".
std::string SizeText(std::int64_t Bytes);

// The user's short date, a blank and the long time, as the regional settings give them.
class TDateTimeFormat {
 public:
  TDateTimeFormat();
  // Local time of When. Rounded down to an even second for the list, whose dates have
  // two-second steps; exactly midnight shows as the date alone.
  QString Text(std::time_t When, bool EvenSeconds) const;
  // Equal for two formats that write every date alike.
  QString Key() const;

 private:
  static QString WithoutTimeZone(const QString& Format);

  QLocale FLocale;
  QString FDate;
  QString FTime;
};

// The lines the store panel shows for a file: the file's facts and its key facts in Lines,
// then, after a blank line, the Details of what it holds (a certificate's names, dates,
// extensions and fingerprints; what a bundle opens to without a password; a warning for a
// private key that others may read, in any file that holds one). When the file vanished after
// it was listed, Error holds the message to raise once the lines so far are shown. Problem
// says why a certificate, key or bundle file could not be read or understood (an encrypted
// key is none); the lines show it too. Now decides "expires in N days"; Wording whose advice
// the lines give.
struct TFileDescription {
  std::vector<std::string> Lines;
  std::vector<std::string> Details;
  std::optional<std::string> Error;
  std::optional<std::string> Problem;
  // For a certificate that a CRL of its folder lists: that entry.
  std::optional<TRevokedEntry> Revocation;
};
// Whether a description may read the folder's other files too: a certificate's revocation by
// a CRL of the store, a CRL's CA. Skip reads the file alone, for a description that must be
// quick; those lines are then left out.
enum class TStoreLookup { Read, Skip };
TFileDescription DescribeStoreFile(const std::string& Path, std::time_t Now = std::time(nullptr),
                                   TWording Wording = TWording::Window,
                                   TStoreLookup Lookup = TStoreLookup::Read);

// Removes a store file; raises "Cannot delete "<path>": <reason>".
void DeleteStoreFile(const std::string& Path);

// The system's text for an errno value.
std::string SystemMessage(int Errno);

}  // namespace velmora
