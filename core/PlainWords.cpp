#include "core/PlainWords.h"

#include "core/IPAddress.h"
#include "core/TextFile.h"
#include "core/Utf8.h"
#include "core/ValueConventions.h"
#include "crypto/CertificateView.h"
#include "crypto/SecretText.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <optional>
#include <vector>

namespace velmora {

namespace {

bool Contains(std::string_view Text, std::string_view Part) {
  return Text.find(Part) != std::string_view::npos;
}

// A value as a sentence shows it: a control character would break the line or vanish, so
// it is written as an escape instead.
std::string Shown(std::string_view Value) {
  std::string shown;
  for (const char c : Value) {
    if (c == '\n')
      shown += "\\n";
    else if (c == '\r')
      shown += "\\r";
    else if (c == '\t')
      shown += "\\t";
    else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      shown += '?';
    else
      shown += c;
  }
  return Quoted(shown);
}

// ---- The words ----

// Each sentence in the words of both front ends: the window names its fields and buttons, the
// command line its options. "{1}" and "{2}" stand for the values the sentence shows.
enum class TSentence {
  CAKeyPassword,
  CACertEmpty,
  CACertHoldsKey,
  CACertDER,
  CACertPKCS12,
  CACertOtherPEM,
  CACertNoPEM,
  CAKeyMismatch,
  IPAddressOne,
  IPAddressShown,
  EmailCommand,
  AlternativeNameSyntax,
  DNSNameCharacter,
  WriteNoPermission,
  WriteReadOnly,
  WriteDiskFull,
  WriteQuota,
};

struct TWords {
  TSentence Sentence;
  const char* Window;
  const char* CommandLine;
};

constexpr TWords kWords[] = {
    {TSentence::CAKeyPassword,
     "The password for the CA key is wrong, or the key needs one and none was given; enter the "
     "password the key was saved with.",
     "The pass phrase for the CA key is wrong, or the key needs one and none was given; give "
     "the one the key was saved with to --ca-pass."},
    {TSentence::CACertEmpty,
     "The CA certificate file is empty; choose the file with the CA's certificate.",
     "The --sign-with file is empty; give the file with the CA's certificate there."},
    {TSentence::CACertHoldsKey,
     "The CA certificate file holds a private key, not a certificate; choose the CA's "
     "certificate file here and give the key file as the CA key.",
     "The --sign-with file holds a private key, not a certificate; give the CA's certificate "
     "file to --sign-with and the key file to --sign-key."},
    {TSentence::CACertDER,
     "The CA certificate file is in binary (DER) form, but it must be PEM text; convert it to "
     "PEM and choose the converted file.",
     "The --sign-with file is in binary (DER) form, but it must be PEM text; convert it to PEM "
     "and give the converted file."},
    {TSentence::CACertPKCS12,
     "The CA certificate file is a PKCS#12 bundle, but it must be a PEM certificate; save the "
     "CA's certificate from the bundle as PEM and choose that file.",
     "The --sign-with file is a PKCS#12 bundle, but it must be a PEM certificate; save the "
     "CA's certificate from the bundle as PEM and give that file."},
    {TSentence::CACertOtherPEM,
     "The CA certificate file holds a {1} block, not a certificate; choose the file with the "
     "CA's certificate.",
     "The --sign-with file holds a {1} block, not a certificate; give the file with the CA's "
     "certificate there."},
    {TSentence::CACertNoPEM,
     "The CA certificate file holds no certificate in PEM text form; choose the file with the "
     "CA's certificate, which begins with \"-----BEGIN CERTIFICATE-----\".",
     "The --sign-with file holds no certificate in PEM text form; give the file with the CA's "
     "certificate, which begins with \"-----BEGIN CERTIFICATE-----\"."},
    {TSentence::CAKeyMismatch,
     "The CA key does not belong to the CA certificate; choose the key file that was made "
     "together with this CA certificate.",
     "The --sign-key key does not belong to the --sign-with certificate; give the key file "
     "that was made together with this CA certificate."},
    {TSentence::IPAddressOne,
     "One of the IP addresses is not an IP address; write addresses such as 192.168.1.10 or "
     "::1 there, and put host names among the DNS names.",
     "One of the --ip values is not an IP address; give addresses such as 192.168.1.10 or ::1 "
     "there, and host names to --dns."},
    {TSentence::IPAddressShown,
     "The IP address field holds {1}, which is not an IP address; write addresses such as "
     "192.168.1.10 or ::1 there, and put host names among the DNS names.",
     "The --ip value {1} is not an IP address; give addresses such as 192.168.1.10 or ::1 "
     "there, and host names to --dns."},
    {TSentence::EmailCommand,
     "An e-mail alternative name cannot be just {1}; enter a full mail address such as "
     "name@example.com.",
     "A --san-email value cannot be just {1}; give a full mail address such as "
     "name@example.com."},
    {TSentence::AlternativeNameSyntax,
     "The alternative name {1} holds {2}, which no single name can have; enter each name on "
     "its own, without it.",
     "The alternative name {1} holds {2}, which no single name can have; give each name on "
     "its own, without it."},
    {TSentence::DNSNameCharacter,
     "The DNS name {1} holds {2}, which a host name cannot have; use only letters, digits, "
     "hyphens and dots.",
     "The --dns value {1} holds {2}, which a host name cannot have; use only letters, digits, "
     "hyphens and dots."},
    {TSentence::WriteNoPermission,
     "You do not have permission to write in this folder; choose another store folder, or get "
     "write permission for this one.",
     "You do not have permission to write in the store folder; give another one with --store, "
     "or get write permission for this one."},
    {TSentence::WriteReadOnly,
     "This folder is on a read-only disk, so nothing can be saved in it; choose a store folder "
     "on a disk that can be written.",
     "The store folder is on a read-only disk, so nothing can be saved in it; give --store a "
     "folder on a disk that can be written."},
    {TSentence::WriteDiskFull,
     "The disk is full; free some space on it, or choose a store folder on another disk.",
     "The disk is full; free some space on it, or give --store a folder on another disk."},
    {TSentence::WriteQuota,
     "Your disk quota is used up; free some space, or choose a store folder on another disk.",
     "Your disk quota is used up; free some space, or give --store a folder on another disk."},
};

// The sentence in the words of the front end, with {1} and {2} filled in.
std::string Say(TSentence Sentence, TWording Wording, std::string_view First = {},
                std::string_view Second = {}) {
  std::string_view text;
  for (const TWords& words : kWords)
    if (words.Sentence == Sentence)
      text = Wording == TWording::CommandLine ? words.CommandLine : words.Window;
  std::string said;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '{' && i + 2 < text.size() && text[i + 2] == '}') {
      said += text[i + 1] == '1' ? First : Second;
      i += 2;
      continue;
    }
    said += text[i];
  }
  return said;
}

// ---- The CA's files ----

// The causes libcrypto and the system report are told apart by their codes (the failure's
// cause); their wording differs between versions and languages. Only the program's own
// messages, whose words it chooses, are recognised by their text.

std::string CAKeyPasswordSentence(const TFailureCause& Cause, TWording Wording) {
  if (Cause.Step != kStepReadCAKey || Cause.Kind != TFailureKind::WrongPassword) return {};
  return Say(TSentence::CAKeyPassword, Wording);
}

bool IsCACertWithoutCertificate(const TFailureCause& Cause) {
  return Cause.Step == kStepReadCACert && Cause.Kind == TFailureKind::NoPEMBlock;
}

std::string CACertSentence(const TFailureCause& Cause, const TFileLook& File, TWording Wording) {
  if (!IsCACertWithoutCertificate(Cause)) return {};
  switch (File.Content) {
    case TFileContent::Empty: return Say(TSentence::CACertEmpty, Wording);
    case TFileContent::PrivateKey: return Say(TSentence::CACertHoldsKey, Wording);
    case TFileContent::DER: return Say(TSentence::CACertDER, Wording);
    case TFileContent::PKCS12: return Say(TSentence::CACertPKCS12, Wording);
    case TFileContent::OtherPEM:
      return Say(TSentence::CACertOtherPEM, Wording, Quoted(File.PEMLabel));
    case TFileContent::Unknown: break;
  }
  return Say(TSentence::CACertNoPEM, Wording);
}

std::string CAKeyMismatchSentence(std::string_view Message, TWording Wording) {
  if (!Contains(Message, "The CA private key does not belong to the CA certificate.")) return {};
  return Say(TSentence::CAKeyMismatch, Wording);
}

// ---- Alternative names ----

// libcrypto refuses the whole list of alternative names, which the builder's step names
// ("val=DNS:a,IP:localhost"); the one meant is the first IP entry that is no address.
std::string IPAddressSentence(const TFailureCause& Cause, TWording Wording) {
  const std::string step =
      "X509V3_EXT_conf_nid nid=" + std::to_string(ExtensionNid(TCertExtension::SubjectAltName)) +
      " val=";
  if (Cause.Kind != TFailureKind::BadIPAddress || Cause.Step.compare(0, step.size(), step) != 0)
    return {};
  std::string_view list = std::string_view(Cause.Step).substr(step.size());
  std::optional<std::string> wrong;
  while (!wrong && !list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view entry = list.substr(0, comma);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    if (entry.substr(0, 3) == "IP:" && !IsIPAddress(entry.substr(3)))
      wrong = std::string(entry.substr(3));
  }
  if (!wrong) return Say(TSentence::IPAddressOne, Wording);
  return Say(TSentence::IPAddressShown, Wording, Shown(*wrong));
}

// The value between Before and After in Message, After searched from the end so that the value
// may hold it too.
std::optional<std::string_view> Between(std::string_view Message, std::string_view Before,
                                        std::string_view After) {
  const std::size_t start = Message.find(Before);
  if (start == std::string_view::npos) return std::nullopt;
  const std::string_view rest = Message.substr(start + Before.size());
  const std::size_t end = rest.rfind(After);
  if (end == std::string_view::npos) return std::nullopt;
  return rest.substr(0, end);
}

// The names that libcrypto's list syntax would take apart or read as a command.
std::string InvalidAlternativeNameSentence(std::string_view Message, TWording Wording) {
  const auto value = Between(Message, "Invalid subject alternative name \"", "\".");
  if (!value) return {};
  if (*value == "copy" || *value == "move")
    return Say(TSentence::EmailCommand, Wording, Quoted(*value));
  const char* what = nullptr;
  if (value->find_first_of("\r\n") != std::string_view::npos)
    what = "a line break";
  else if (Contains(*value, ","))
    what = "a comma";
  else if (Contains(*value, std::string_view("\0", 1)))
    what = "a NUL character";
  if (!what) return {};
  return Say(TSentence::AlternativeNameSyntax, Wording, Shown(*value), what);
}

// The first character of a DNS name that no host name has, as a sentence names it; empty when
// every character is allowed (the name is then wrong in its labels, which the finding says).
std::string ForbiddenHostNameCharacter(std::string_view Name) {
  for (std::size_t i = 0; i < Name.size();) {
    const char c = Name[i];
    const auto byte = static_cast<unsigned char>(c);
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '*';
    if (allowed) {
      ++i;
      continue;
    }
    if (c == ' ') return "a space";
    if (byte < 0x20 || byte == 0x7F) return "a control character";
    if (byte < 0x80) return Quoted(std::string_view(&Name[i], 1));
    const std::size_t length = Utf8SequenceLength(Name.substr(i));
    return Quoted(Name.substr(i, length == 0 ? 1 : length));
  }
  return {};
}

std::string DNSNameSentence(std::string_view Message, TWording Wording) {
  const auto name = Between(Message, "The DNS name \"", "\" is not a valid host name");
  if (!name) return {};
  const std::string character = ForbiddenHostNameCharacter(*name);
  if (character.empty()) return {};
  return Say(TSentence::DNSNameCharacter, Wording, Quoted(*name), character);
}

// ---- The store folder ----

// The steps that create or write the store folder and its files.
constexpr std::string_view kWriteSteps[] = {
    kStepCreateDirectory,
    kStepCreateFile,
    kStepWriteFile,
    "BIO_new_file (PFX)",
};

struct TSystemCause {
  int Errno;
  TSentence Sentence;
};

constexpr TSystemCause kWriteCauses[] = {
    {EACCES, TSentence::WriteNoPermission}, {EPERM, TSentence::WriteNoPermission},
    {EROFS, TSentence::WriteReadOnly},      {ENOSPC, TSentence::WriteDiskFull},
    {EDQUOT, TSentence::WriteQuota},
};

std::string StoreWriteSentence(const TFailureCause& Cause, TWording Wording) {
  if (std::find(std::begin(kWriteSteps), std::end(kWriteSteps), Cause.Step) ==
      std::end(kWriteSteps))
    return {};
  for (const TSystemCause& cause : kWriteCauses)
    if (cause.Errno == Cause.Errno) return Say(cause.Sentence, Wording);
  return {};
}

// ---- Files ----

// One DER tag and length; the length is absent for BER's indefinite form.
struct TDERHeader {
  unsigned char Tag = 0;
  std::size_t Size = 0;  // of tag and length
  std::optional<std::size_t> Length;
};

std::optional<TDERHeader> ReadDERHeader(std::string_view Bytes) {
  if (Bytes.size() < 2) return std::nullopt;
  TDERHeader header;
  header.Tag = static_cast<unsigned char>(Bytes[0]);
  const auto first = static_cast<unsigned char>(Bytes[1]);
  header.Size = 2;
  if (first < 0x80) {
    header.Length = first;
    return header;
  }
  if (first == 0x80) return header;
  const std::size_t count = first & 0x7F;
  if (count > 4 || Bytes.size() < 2 + count) return std::nullopt;
  std::size_t length = 0;
  for (std::size_t i = 0; i < count; ++i)
    length = (length << 8) | static_cast<unsigned char>(Bytes[2 + i]);
  header.Size = 2 + count;
  header.Length = length;
  return header;
}

constexpr unsigned char kInteger = 0x02, kOctetString = 0x04, kObjectId = 0x06, kSequence = 0x30;

// Binary DER starts with a SEQUENCE whose first element is an INTEGER (a bundle's version 3,
// a key's version 0 or 1), a SEQUENCE (a certificate's body; an encrypted key's algorithm,
// followed by its OCTET STRING) or an object identifier. Text never does: the byte of the
// SEQUENCE tag is the digit "0", and no printable character is one of those element tags.
std::optional<TFileContent> ClassifyDER(std::string_view Bytes) {
  const auto outer = ReadDERHeader(Bytes);
  if (!outer || outer->Tag != kSequence) return std::nullopt;
  const std::string_view body = Bytes.substr(outer->Size);
  const auto inner = ReadDERHeader(body);
  if (!inner) return std::nullopt;
  if (inner->Tag == kInteger) {
    if (inner->Length != 1 || body.size() <= inner->Size) return TFileContent::DER;
    const auto version = static_cast<unsigned char>(body[inner->Size]);
    if (version == 3) return TFileContent::PKCS12;
    if (version == 0 || version == 1) return TFileContent::PrivateKey;
    return TFileContent::DER;
  }
  if (inner->Tag == kSequence) {
    const std::string_view element = body.substr(inner->Size);
    if (!element.empty() && static_cast<unsigned char>(element[0]) == kObjectId && inner->Length &&
        inner->Size + *inner->Length < body.size() &&
        static_cast<unsigned char>(body[inner->Size + *inner->Length]) == kOctetString)
      return TFileContent::PrivateKey;
    return TFileContent::DER;
  }
  if (inner->Tag == kObjectId) return TFileContent::DER;
  return std::nullopt;
}

bool IsBlank(std::string_view Text) {
  return Text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

bool EndsWith(std::string_view Text, std::string_view End) {
  return Text.size() >= End.size() && Text.substr(Text.size() - End.size()) == End;
}

TFileLook ClassifyText(std::string_view Text) {
  const std::vector<std::string_view> labels = PEMBlockLabels(Text);
  for (std::string_view label : labels)
    if (EndsWith(label, "PRIVATE KEY")) return {TFileContent::PrivateKey, {}};
  if (!labels.empty()) {
    const std::string first(labels.front());
    // A certificate block that the reader still did not find is damaged, not of another kind.
    if (first == "CERTIFICATE" || first == "X509 CERTIFICATE") return {};
    return {TFileContent::OtherPEM, first};
  }
  if (IsBlank(Text)) return {TFileContent::Empty, {}};
  return {};
}

}  // namespace

std::string PlainSentence(std::string_view Message, const TFailureCause& Cause,
                          const TPlainWordsFacts& Facts, TWording Wording) {
  for (std::string sentence :
       {CAKeyPasswordSentence(Cause, Wording), CACertSentence(Cause, Facts.CACertFile, Wording),
        CAKeyMismatchSentence(Message, Wording), IPAddressSentence(Cause, Wording),
        InvalidAlternativeNameSentence(Message, Wording), DNSNameSentence(Message, Wording),
        StoreWriteSentence(Cause, Wording)})
    if (!sentence.empty()) return sentence;
  return {};
}

std::string WithPlainWords(const std::string& Message, const TFailureCause& Cause,
                           const TPlainWordsFacts& Facts, TWording Wording) {
  const std::string sentence = PlainSentence(Message, Cause, Facts, Wording);
  if (sentence.empty()) return Message;
  const std::string lead = sentence + "\n\n";
  if (Message.compare(0, lead.size(), lead) == 0) return Message;
  return lead + Message;
}

TFileLook ClassifyFileStart(std::string_view Bytes) {
  if (Bytes.empty()) return {TFileContent::Empty, {}};
  if (const std::optional<TFileContent> der = ClassifyDER(Bytes)) return {*der, {}};
  // As the CA file is read: a byte-order mark may choose UTF-16.
  std::string text = DecodeText(Bytes);
  TFileLook look = ClassifyText(text);
  Wipe(text);
  return look;
}

TFileLook LookAtFileStart(const std::string& Path) {
  const TReadOnlyFile file(Path);
  if (!file.IsRegularFile()) return {};
  std::string bytes;
  if (file.ReadStart(bytes, kFileLookBytes) != 0) return {};
  TFileLook look = ClassifyFileStart(bytes);
  Wipe(bytes);
  return look;
}

TPlainWordsFacts ObservePlainWordsFacts(const TFailureCause& Cause, const std::string& CACertFile) {
  TPlainWordsFacts facts;
  if (!CACertFile.empty() && IsCACertWithoutCertificate(Cause))
    facts.CACertFile = LookAtFileStart(CACertFile);
  return facts;
}

}  // namespace velmora
