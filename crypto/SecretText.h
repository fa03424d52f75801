// Passwords and private-key text pass through our own buffers on their way to and from
// libcrypto. Those buffers are wiped before the memory goes back to the allocator, so a secret
// does not linger in freed heap memory or in a core file longer than the command that used it.
#pragma once

#include <openssl/crypto.h>

#include <string>
#include <utility>

namespace velmora {

// Overwrites Size bytes at Data in a way the compiler cannot leave out as a dead store.
inline void WipeBytes(void* Data, std::size_t Size) noexcept { OPENSSL_cleanse(Data, Size); }

// Overwrites every byte the string owns (its whole capacity, not only the current text) and
// leaves it empty. The buffer itself stays with the string.
inline void Wipe(std::string& Text) noexcept {
  Text.resize(Text.capacity());  // within the capacity: no reallocation, nothing thrown
  WipeBytes(Text.data(), Text.size());
  Text.clear();
}

// A secret text that is wiped when it goes. It can be neither copied nor moved: either would
// leave a second copy behind (a short string moves by copying its bytes).
class TSecretText {
 public:
  TSecretText() = default;
  // Takes the text over and wipes what the moved-from string may still hold.
  explicit TSecretText(std::string&& Text) : FText(std::move(Text)) { Wipe(Text); }
  TSecretText(const char* Bytes, std::size_t Count) : FText(Bytes, Count) {}
  ~TSecretText() { Wipe(FText); }
  TSecretText(const TSecretText&) = delete;
  TSecretText& operator=(const TSecretText&) = delete;

  const std::string& Text() const noexcept { return FText; }
  bool empty() const noexcept { return FText.empty(); }

 private:
  std::string FText;
};

}  // namespace velmora
