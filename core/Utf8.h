// The UTF-8 rules that both file-name text and CA-file decoding need: what a well-formed
// sequence is, and how a code point is written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// Length of the well-formed UTF-8 sequence at the start of Bytes, with its code point, or 0
// when there is none (a stray continuation byte, a truncated sequence, an overlong form, a
// surrogate or a code point beyond U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view Bytes, char32_t* CodePoint = nullptr);

void AppendUtf8(std::string& Out, char32_t CodePoint);

}  // namespace velmora
