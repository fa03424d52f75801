// How every command of the window reads a number or a name out of an edit, and how a message
// quotes a value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// Removes every leading and trailing character whose code is 32 (blank) or lower.
// Works on UTF-8 as is: no byte of a multi-byte character is that low.
std::string Trim(std::string_view Text);

// The number in Text, or Default when Text is not exactly one number: optional leading
// blanks (code 32 only), an optional "+" or "-", then decimal digits, or hexadecimal digits
// after "$", "x", "X", "0x" or "0X". Anything else (empty, trailing blanks or characters, a
// value outside the signed 32-bit range) gives Default.
std::int32_t IntOrDefault(std::string_view Text, std::int32_t Default);

// Text in double quotes, as it is: "value".
std::string Quoted(std::string_view Text);

}  // namespace velmora
