#include "crypto/OpenSSLWrapper.h"

#include <array>
#include <cstring>

namespace velmora {

void FreeX509Stack(STACK_OF(X509) * stack) noexcept { sk_X509_pop_free(stack, X509_free); }

void RaiseOpenSSLError(const std::string& Context) {
  const unsigned long code = ERR_get_error();
  if (code == 0) throw Exception(Context + ". (No OpenSSL error queued.)");
  std::array<char, 256> buffer{};
  ERR_error_string_n(code, buffer.data(), buffer.size());
  ERR_clear_error();
  throw Exception(Context + ". OpenSSL: " + std::string(buffer.data()));
}

int PassphraseCallback(char* buf, int size, int /*rwflag*/, void* password) noexcept {
  if (password == nullptr || size <= 0) return 0;
  const size_t length = std::strlen(static_cast<const char*>(password));
  if (length > static_cast<size_t>(size)) return 0;
  std::memcpy(buf, password, length);
  return static_cast<int>(length);
}

BIOPtr NewMemBuf(const std::string& text) { return BIOPtr(BIO_new_mem_buf(text.c_str(), -1)); }

}  // namespace velmora
