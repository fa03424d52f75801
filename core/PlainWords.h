// Errors in plain words. The messages the program raises are exact (they name the failed
// step and carry libcrypto's or the system's own text), which is what a bug report needs but
// not what tells a user what to do. For the failures users meet most, WithPlainWords puts one
// short sentence before the message: what went wrong and what to do about it. The message
// itself follows after a blank line, unchanged.
#pragma once

#include "crypto/Exception.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// Whose words a text is in: the window names its fields and buttons ("the IP address field"),
// the command line its options ("the --ip value"). What is said is the same.
enum class TWording { Window, CommandLine };

// What the first bytes of a file show it to hold.
enum class TFileContent {
  Unknown,     // not looked at, not readable, not a regular file, or none of the below
  Empty,       // no bytes, or blanks only
  PrivateKey,  // a private key, as PEM text or as binary DER
  DER,         // binary DER of something other than a key or a bundle (a certificate, say)
  PKCS12,      // a PKCS#12 bundle
  OtherPEM,    // PEM text holding neither a certificate nor a private key
};

struct TFileLook {
  TFileContent Content = TFileContent::Unknown;
  std::string PEMLabel;  // for OtherPEM: the label of its first block, e.g. "CERTIFICATE REQUEST"
};

// What a message does not say by itself and the caller observed: the sentence for a CA
// certificate file without a certificate can then say what the file holds instead.
struct TPlainWordsFacts {
  TFileLook CACertFile;
};

// The plain sentence for a failure, or empty when its cause is none of the common ones.
// libcrypto's and the system's causes are told by the failure's Cause (its step and codes),
// never by their words in Message; the program's own messages by their text. Message may be
// a whole box text. A text that is no failure has the empty cause.
std::string PlainSentence(std::string_view Message, const TFailureCause& Cause,
                          const TPlainWordsFacts& Facts = {}, TWording Wording = TWording::Window);

// The plain sentence, a blank line, then Message unchanged; Message alone when it has no
// plain sentence or already starts with it.
std::string WithPlainWords(const std::string& Message, const TFailureCause& Cause,
                           const TPlainWordsFacts& Facts = {}, TWording Wording = TWording::Window);

// What Bytes, the start of a file, show the file to hold. Only looks; keeps no copy.
TFileLook ClassifyFileStart(std::string_view Bytes);

// How much of a file LookAtFileStart reads: enough for any text a PEM file has before its
// first block.
inline constexpr std::size_t kFileLookBytes = std::size_t{16} * 1024;

// Reads at most kFileLookBytes from the start of the regular file at Path and classifies
// them; a file it cannot open, or one that is not a regular file (a pipe could block), is
// Unknown. Never raises. The bytes read are wiped: the file may hold a private key.
TFileLook LookAtFileStart(const std::string& Path);

// The facts the sentence for a failure needs, looking at CACertFile only when the failure is
// a CA certificate file without a certificate (otherwise nothing is read).
TPlainWordsFacts ObservePlainWordsFacts(const TFailureCause& Cause, const std::string& CACertFile);

}  // namespace velmora
