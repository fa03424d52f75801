#include "crypto/OpenSSLWrapper.h"

#include <array>
#include <cstring>

namespace velmora {

void FreeX509Stack(STACK_OF(X509) * stack) noexcept { sk_X509_pop_free(stack, X509_free); }
void FreeX509ExtensionStack(STACK_OF(X509_EXTENSION) * stack) noexcept {
  sk_X509_EXTENSION_pop_free(stack, X509_EXTENSION_free);
}
void FreeGeneralNames(GENERAL_NAMES* names) noexcept { GENERAL_NAMES_free(names); }

void RaiseOpenSSLError(const std::string& Context) {
  const unsigned long code = ERR_get_error();
  TFailureCause cause;
  cause.Step = Context;
  if (code == 0) throw Exception(Context + ". (No OpenSSL error queued.)", std::move(cause));
  std::array<char, 256> buffer{};
  ERR_error_string_n(code, buffer.data(), buffer.size());
  ERR_clear_error();
  cause.Library = ERR_GET_LIB(code);
  cause.Reason = ERR_GET_REASON(code);
  // libcrypto files a failed system call under its system library with errno as the reason.
  if (ERR_SYSTEM_ERROR(code) || cause.Library == ERR_LIB_SYS) cause.Errno = cause.Reason;
  throw Exception(Context + ". OpenSSL: " + std::string(buffer.data()), std::move(cause));
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
