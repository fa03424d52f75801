#include "crypto/OpenSSLWrapper.h"

#include <openssl/evperr.h>
#include <openssl/pem.h>
#include <openssl/pemerr.h>
#include <openssl/pkcs12err.h>
#include <openssl/proverr.h>
#include <openssl/x509v3err.h>

#include <array>
#include <cstring>

namespace velmora {

void FreeX509Stack(STACK_OF(X509) * stack) noexcept { sk_X509_pop_free(stack, X509_free); }
void FreeX509ExtensionStack(STACK_OF(X509_EXTENSION) * stack) noexcept {
  sk_X509_EXTENSION_pop_free(stack, X509_EXTENSION_free);
}
void FreeGeneralNames(GENERAL_NAMES* names) noexcept { GENERAL_NAMES_free(names); }

TFailureKind FailureKindOf(int Library, int Reason) noexcept {
  // Every reader has its own code for a password that does not open the key: PEM, the
  // providers' decoders, the EVP cipher, PKCS#12, and a prompt that was cancelled.
  struct TCode {
    int Library, Reason;
    TFailureKind Kind;
  };
  static constexpr TCode kCodes[] = {
      {ERR_LIB_PROV, PROV_R_BAD_DECRYPT, TFailureKind::WrongPassword},
      {ERR_LIB_PROV, PROV_R_UNABLE_TO_GET_PASSPHRASE, TFailureKind::WrongPassword},
      {ERR_LIB_EVP, EVP_R_BAD_DECRYPT, TFailureKind::WrongPassword},
      {ERR_LIB_PEM, PEM_R_BAD_DECRYPT, TFailureKind::WrongPassword},
      {ERR_LIB_PEM, PEM_R_BAD_PASSWORD_READ, TFailureKind::WrongPassword},
      {ERR_LIB_PEM, PEM_R_PROBLEMS_GETTING_PASSWORD, TFailureKind::WrongPassword},
      {ERR_LIB_PKCS12, PKCS12_R_PKCS12_CIPHERFINAL_ERROR, TFailureKind::WrongPassword},
      {ERR_LIB_PEM, PEM_R_NO_START_LINE, TFailureKind::NoPEMBlock},
      {ERR_LIB_X509V3, X509V3_R_BAD_IP_ADDRESS, TFailureKind::BadIPAddress},
  };
  for (const TCode& code : kCodes)
    if (code.Library == Library && code.Reason == Reason) return code.Kind;
  // A cancelled prompt has the same reason in whichever library asked.
  if (Reason == ERR_R_INTERRUPTED_OR_CANCELLED) return TFailureKind::WrongPassword;
  return TFailureKind::Other;
}

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
  if (ERR_SYSTEM_ERROR(code) || cause.Library == ERR_LIB_SYS)
    cause.Errno = cause.Reason;
  else
    cause.Kind = FailureKindOf(cause.Library, cause.Reason);
  throw Exception(Context + ". OpenSSL: " + std::string(buffer.data()), std::move(cause));
}

int PassphraseCallback(char* buf, int size, int /*rwflag*/, void* password) noexcept {
  if (password == nullptr || size <= 0) return 0;
  const size_t length = std::strlen(static_cast<const char*>(password));
  if (length > static_cast<size_t>(size)) return 0;
  std::memcpy(buf, password, length);
  return static_cast<int>(length);
}

X509Ptr ReadPEMCertificate(BIO* Stream) {
  return X509Ptr(PEM_read_bio_X509(Stream, nullptr, PassphraseCallback, nullptr));
}

namespace {

// The password of one key read, and whether libcrypto asked for it: only an encrypted block
// makes it ask.
struct TPasswordAsked {
  const char* Password;
  bool Asked = false;
};

int NotingPassphraseCallback(char* buf, int size, int rwflag, void* user) noexcept {
  auto* context = static_cast<TPasswordAsked*>(user);
  context->Asked = true;
  return PassphraseCallback(buf, size, rwflag, const_cast<char*>(context->Password));
}

bool QueuedFailureIsAPassword() noexcept {
  const unsigned long code = ERR_peek_error();
  return FailureKindOf(ERR_GET_LIB(code), ERR_GET_REASON(code)) == TFailureKind::WrongPassword;
}

}  // namespace

EVP_PKEYPtr ReadPEMPrivateKey(BIO* Stream, const char* Password) {
  TPasswordAsked context{Password};
  EVP_PKEYPtr key(PEM_read_bio_PrivateKey(Stream, nullptr, NotingPassphraseCallback, &context));
  // A wrong password passes the cipher's padding check about once in 256 tries; the decoders
  // then find no key in the noise and say "unsupported". For the user that is the wrong
  // password all the same (a damaged encrypted block cannot be told from one).
  if (!key && context.Asked && !QueuedFailureIsAPassword()) {
    ERR_clear_error();
    ERR_raise(ERR_LIB_PEM, PEM_R_BAD_DECRYPT);
  }
  return key;
}

BIOPtr NewMemBuf(const std::string& text) { return BIOPtr(BIO_new_mem_buf(text.c_str(), -1)); }

}  // namespace velmora
