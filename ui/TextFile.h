// Reading a whole text file that the user picked, whatever editor saved it.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// The text of a file as UTF-8. A byte-order mark chooses the decoding and is dropped:
// UTF-8 (EF BB BF), UTF-16 little-endian (FF FE) or UTF-16 big-endian (FE FF). Without one,
// bytes that are valid UTF-8 are read as UTF-8 and anything else as Latin-1, where every
// byte is one character. Sequences that cannot be decoded become U+FFFD.
//
// Raises Exception "Cannot read file "<full path>". <reason>" when the file cannot be opened
// or read, or is not a regular file (a directory, a device or a pipe). The bytes read are
// wiped from memory once decoded: the file may hold a private key.
std::string ReadTextFile(const std::string& FileName);

// The decoding step of ReadTextFile, on bytes already in memory.
std::string DecodeText(std::string_view Bytes);

}  // namespace velmora
