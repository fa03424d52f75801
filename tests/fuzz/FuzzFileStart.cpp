// The start of any file, as the plain words look at it: ClassifyFileStart must answer for any
// bytes, say "Empty" only for blanks, and name a PEM label only for other PEM text. The plain
// sentence for a CA file of that content must come out whole as well.
#include "core/PlainWords.h"
#include "core/TextFile.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const velmora::TFileLook look = velmora::ClassifyFileStart(bytes);
  // "Empty" is blanks only, once a byte-order mark has chosen the decoding.
  if (look.Content == velmora::TFileContent::Empty &&
      velmora::DecodeText(bytes).find_first_not_of(" \t\r\n\f\v") != std::string::npos)
    __builtin_trap();
  if (!look.PEMLabel.empty() && look.Content != velmora::TFileContent::OtherPEM) __builtin_trap();
  // The same bytes look the same twice: the look keeps no state.
  const velmora::TFileLook again = velmora::ClassifyFileStart(bytes);
  if (again.Content != look.Content || again.PEMLabel != look.PEMLabel) __builtin_trap();

  velmora::TPlainWordsFacts facts;
  facts.CACertFile = look;
  // The sentence of a CA certificate file without a certificate says what the file holds; the
  // bytes stand for the message too, as the program's own texts are read by their words.
  const velmora::TFailureCause noCertificate{"PEM_read_bio_X509 (CA cert)", 0, 0, 0,
                                             velmora::TFailureKind::NoPEMBlock};
  for (velmora::TWording wording : {velmora::TWording::Window, velmora::TWording::CommandLine})
    if (velmora::WithPlainWords(std::string(bytes), noCertificate, facts, wording).empty())
      __builtin_trap();
  return 0;
}
