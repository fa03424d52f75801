// Reads typed values off a fuzzer's byte string; once the bytes run out every read gives
// an empty or zero value, so a target never has to check for the end itself.
#pragma once

#include "crypto/CertBuilder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace velmora::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}

  std::uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  bool Flag() { return (Byte() & 1) != 0; }
  std::int32_t Int32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    std::int32_t result;
    std::memcpy(&result, &v, sizeof result);
    return result;
  }
  // A text of up to MaxLength bytes, its length taken from the input.
  std::string Text(std::size_t MaxLength = 255) {
    std::size_t length = Byte() % (MaxLength + 1);
    length = std::min(length, FSize - FPos);
    std::string s(reinterpret_cast<const char*>(FData + FPos), length);
    FPos += length;
    return s;
  }
  std::string Rest() {
    std::string s(reinterpret_cast<const char*>(FData + FPos), FSize - FPos);
    FPos = FSize;
    return s;
  }

 private:
  const std::uint8_t* FData;
  std::size_t FSize;
  std::size_t FPos = 0;
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

}  // namespace velmora::fuzz
