// Any bytes as a file's text: DecodeText must give valid UTF-8 whatever the byte-order mark or
// its absence, and keep valid UTF-8 without a mark as it is.
#include "core/TextFile.h"
#include "core/Utf8.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool IsValidUtf8(std::string_view Text) {
  while (!Text.empty()) {
    const std::size_t length = velmora::Utf8SequenceLength(Text);
    if (length == 0) return false;
    Text.remove_prefix(length);
  }
  return true;
}

bool StartsWith(std::string_view Text, std::string_view Start) {
  return Text.substr(0, Start.size()) == Start;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string text = velmora::DecodeText(bytes);
  if (!IsValidUtf8(text)) __builtin_trap();
  const bool marked = StartsWith(bytes, "\xEF\xBB\xBF") || StartsWith(bytes, "\xFF\xFE") ||
                      StartsWith(bytes, "\xFE\xFF");
  if (!marked && IsValidUtf8(bytes) && text != bytes) __builtin_trap();
  return 0;
}
