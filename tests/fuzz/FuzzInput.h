// Reads typed values off a fuzzer's byte string; once the bytes run out every read gives
// an empty or zero value, so a target never has to check for the end itself. FuzzOutput
// writes the same values, so that the seed maker can spell typical inputs as values rather
// than as hand-counted bytes.
#pragma once

#include "crypto/CertBuilder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

namespace velmora::fuzz {

// Lists hold at most this many entries: enough to join several, few enough to stay cheap.
inline constexpr std::size_t kMaxListLength = 3;

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}

  std::uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  bool Flag() { return (Byte() & 1) != 0; }
  std::uint16_t UInt16() { return static_cast<std::uint16_t>(Byte() << 8 | Byte()); }
  std::int32_t Int32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    std::int32_t result;
    std::memcpy(&result, &v, sizeof result);
    return result;
  }
  // A text of up to MaxLength (at most 255) bytes, its length taken from the input.
  std::string Text(std::size_t MaxLength = 255) {
    std::size_t length = Byte() % (MaxLength + 1);
    length = std::min(length, FSize - FPos);
    std::string s(reinterpret_cast<const char*>(FData + FPos), length);
    FPos += length;
    return s;
  }
  std::vector<std::string> TextList(std::size_t MaxLength) {
    std::vector<std::string> list(Byte() % (kMaxListLength + 1));
    for (auto& s : list) s = Text(MaxLength);
    return list;
  }
  std::string Rest() {
    std::string s(reinterpret_cast<const char*>(FData + FPos), FSize - FPos);
    FPos = FSize;
    return s;
  }

  // The same reads in the shape a layout function uses for reading and writing alike.
  void Field(std::uint8_t& v) { v = Byte(); }
  void Field(bool& v) { v = Flag(); }
  void Field(std::uint16_t& v) { v = UInt16(); }
  void Field(std::int32_t& v) { v = Int32(); }
  void Field(std::string& v, std::size_t MaxLength) { v = Text(MaxLength); }
  void Field(std::vector<std::string>& v, std::size_t MaxLength) { v = TextList(MaxLength); }
  void Remainder(std::string& v) { v = Rest(); }

 private:
  const std::uint8_t* FData;
  std::size_t FSize;
  std::size_t FPos = 0;
};

// Writes what FuzzInput reads back as the same values. A value FuzzInput could not read
// back (a text over its maximum, a list too long) is a mistake in the seed maker.
class FuzzOutput {
 public:
  void Field(std::uint8_t v) { FBytes += static_cast<char>(v); }
  void Field(bool v) { Field(static_cast<std::uint8_t>(v ? 1 : 0)); }
  void Field(std::uint16_t v) {
    Field(static_cast<std::uint8_t>(v >> 8));
    Field(static_cast<std::uint8_t>(v & 0xFF));
  }
  void Field(std::int32_t v) {
    std::uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    for (int shift = 24; shift >= 0; shift -= 8) Field(static_cast<std::uint8_t>(u >> shift));
  }
  void Field(const std::string& v, std::size_t MaxLength) {
    if (v.size() > MaxLength || MaxLength > 255) throw std::length_error("seed text too long");
    Field(static_cast<std::uint8_t>(v.size()));
    FBytes += v;
  }
  void Field(const std::vector<std::string>& v, std::size_t MaxLength) {
    if (v.size() > kMaxListLength) throw std::length_error("seed list too long");
    Field(static_cast<std::uint8_t>(v.size()));
    for (const auto& s : v) Field(s, MaxLength);
  }
  void Remainder(const std::string& v) { FBytes += v; }

  const std::string& Bytes() const noexcept { return FBytes; }

 private:
  std::string FBytes;
};

// One builder with a P-256 key for every input of a target: key generation is libcrypto's
// business and slow, and a build reads the settings afresh each time anyway.
inline TCertBuilder& SharedBuilder() {
  static TCertBuilder* builder = [] {
    auto* b = new TCertBuilder;
    b->GenerateKey();
    return b;
  }();
  return *builder;
}

// A file name of this process's own for a target's scratch file. In memory where the system
// offers that (a bundle is flushed to disk before it replaces its target, and a fuzzer
// writes thousands), in the temporary directory otherwise.
inline std::string ScratchFile(const std::string& Suffix) {
  std::error_code error;
  const std::filesystem::path shm("/dev/shm");
  const std::filesystem::path dir =
      std::filesystem::is_directory(shm, error) && access(shm.c_str(), W_OK) == 0
          ? shm
          : std::filesystem::temp_directory_path();
  return (dir / ("velmora-fuzz-" + std::to_string(getpid()) + Suffix)).string();
}

}  // namespace velmora::fuzz
