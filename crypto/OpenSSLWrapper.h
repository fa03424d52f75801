// The one contact point with libcrypto: owning handle aliases, the error type and the
// routine that turns a failed libcrypto call into an error.
#pragma once

#include "crypto/Exception.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/decoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

namespace velmora {

// Owning handles. A raw pointer anywhere else means "borrowed".
template <typename T, void (*Free)(T*)>
struct FreeFn {
  void operator()(T* p) const noexcept { Free(p); }
};
template <typename T, void (*Free)(T*)>
using DeleteFnPtr = std::unique_ptr<T, FreeFn<T, Free>>;

void FreeX509Stack(STACK_OF(X509) * stack) noexcept;
void FreeX509ExtensionStack(STACK_OF(X509_EXTENSION) * stack) noexcept;
void FreeGeneralNames(GENERAL_NAMES* names) noexcept;

using BIOPtr = DeleteFnPtr<BIO, BIO_free_all>;
using BIGNUMPtr = DeleteFnPtr<BIGNUM, BN_free>;
using EVP_MD_CTXPtr = DeleteFnPtr<EVP_MD_CTX, EVP_MD_CTX_free>;
using EVP_PKEYPtr = DeleteFnPtr<EVP_PKEY, EVP_PKEY_free>;
using EVP_PKEY_CTXPtr = DeleteFnPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using PBE2PARAMPtr = DeleteFnPtr<PBE2PARAM, PBE2PARAM_free>;
using PKCS12Ptr = DeleteFnPtr<PKCS12, PKCS12_free>;
using X509Ptr = DeleteFnPtr<X509, X509_free>;
using X509_EXTENSIONPtr = DeleteFnPtr<X509_EXTENSION, X509_EXTENSION_free>;
using X509_EXTENSIONStackPtr = DeleteFnPtr<STACK_OF(X509_EXTENSION), FreeX509ExtensionStack>;
using OSSL_DECODER_CTXPtr = DeleteFnPtr<OSSL_DECODER_CTX, OSSL_DECODER_CTX_free>;
using X509_REQPtr = DeleteFnPtr<X509_REQ, X509_REQ_free>;
using GENERAL_NAMESPtr = DeleteFnPtr<GENERAL_NAMES, FreeGeneralNames>;
using BASIC_CONSTRAINTSPtr = DeleteFnPtr<BASIC_CONSTRAINTS, BASIC_CONSTRAINTS_free>;
using ASN1_BIT_STRINGPtr = DeleteFnPtr<ASN1_BIT_STRING, ASN1_BIT_STRING_free>;
using EXTENDED_KEY_USAGEPtr = DeleteFnPtr<EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free>;
using X509_SIGPtr = DeleteFnPtr<X509_SIG, X509_SIG_free>;
using X509StackPtr = DeleteFnPtr<STACK_OF(X509), FreeX509Stack>;
using X509_CRLPtr = DeleteFnPtr<X509_CRL, X509_CRL_free>;
using X509_REVOKEDPtr = DeleteFnPtr<X509_REVOKED, X509_REVOKED_free>;
using ASN1_INTEGERPtr = DeleteFnPtr<ASN1_INTEGER, ASN1_INTEGER_free>;
using ASN1_ENUMERATEDPtr = DeleteFnPtr<ASN1_ENUMERATED, ASN1_ENUMERATED_free>;
using ASN1_TIMEPtr = DeleteFnPtr<ASN1_TIME, ASN1_TIME_free>;
using AUTHORITY_KEYIDPtr = DeleteFnPtr<AUTHORITY_KEYID, AUTHORITY_KEYID_free>;
using DIST_POINTPtr = DeleteFnPtr<DIST_POINT, DIST_POINT_free>;
using CRL_DIST_POINTSPtr = DeleteFnPtr<CRL_DIST_POINTS, CRL_DIST_POINTS_free>;

// Raises Exception for a failed libcrypto step named by Context: "<Context>. OpenSSL: <text>"
// with the earliest queued entry (the root cause), or "<Context>. (No OpenSSL error queued.)".
// The queue is empty afterwards, so nothing of this failure leaks into a later report. The
// exception's cause names Context as the step and carries the library and reason codes of that
// entry, and errno when the entry is a system library failure.
[[noreturn]] void RaiseOpenSSLError(const std::string& Context);
// The program's one reader of each PEM block it takes: the first certificate, the first
// private key of the stream. Password goes to the pass-phrase callback; null means there is
// none to give, so an encrypted key is not read and libcrypto never prompts on a terminal. A
// certificate block should never be encrypted; one that is, is not read. Null when none is
// found; libcrypto's reason stays queued, and for an encrypted key that did not open it is
// always a password reason.
X509Ptr ReadPEMCertificate(BIO* Stream);
EVP_PKEYPtr ReadPEMPrivateKey(BIO* Stream, const char* Password);

// What libcrypto's library and reason code of a root cause mean to the program.
TFailureKind FailureKindOf(int Library, int Reason) noexcept;

// Every public operation starts from an empty error queue, so an error it reports was
// caused by itself and not by something the caller tolerated earlier.
inline void StartWithEmptyErrorQueue() noexcept { ERR_clear_error(); }

// Wraps a libcrypto call whose failure we tolerate: whatever it queues is dropped again
// when the guard goes out of scope.
class TolerateErrors {
 public:
  TolerateErrors() noexcept { ERR_set_mark(); }
  ~TolerateErrors() { ERR_pop_to_mark(); }
  TolerateErrors(const TolerateErrors&) = delete;
  TolerateErrors& operator=(const TolerateErrors&) = delete;
};

// Pass-phrase callback for every private-key read. It hands over the NUL-terminated
// password given as user data, and with none it supplies nothing, so libcrypto never
// falls back to prompting on a terminal.
int PassphraseCallback(char* buf, int size, int rwflag, void* password) noexcept;

// Read-only memory BIO over a text; the text must outlive the BIO.
BIOPtr NewMemBuf(const std::string& text);
BIOPtr NewMemBuf(std::string&& text) = delete;

}  // namespace velmora
