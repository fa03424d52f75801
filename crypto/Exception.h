// The program's one error class. Kept apart from the libcrypto binding so that code which only
// raises or catches errors does not pull in libcrypto's headers.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

namespace velmora {

// The causes the program tells users about in plain words, as libcrypto's library and reason
// codes show them (set by crypto, which alone reads those codes).
enum class TFailureKind : std::uint8_t {
  Other,
  WrongPassword,  // a key's password is wrong, or the key is encrypted and none came
  NoPEMBlock,     // the text holds no PEM block of the kind looked for
  BadIPAddress,   // an alternative name given as IP address is none
};

// What code needs to tell the causes of a failure apart, beside the message a user is shown.
// Decisions go by these codes, never by searching the message: the message carries libcrypto's
// and the system's wording, which differ between versions and locales.
struct TFailureCause {
  std::string Step;  // the failed step as the message names it ("PEM_read_bio_X509 (CA cert)")
  int Library = 0;   // ERR_GET_LIB of libcrypto's root-cause error; 0 when none was queued
  int Reason = 0;    // ERR_GET_REASON of that error
  int Errno = 0;     // the system's error number for a failed system call; 0 otherwise
  TFailureKind Kind = TFailureKind::Other;  // what Library and Reason mean to the program
};

// The steps that read the CA's files, as TFailureCause::Step names them.
inline constexpr const char* kStepReadCACert = "PEM_read_bio_X509 (CA cert)";
inline constexpr const char* kStepReadCAKey = "PEM_read_bio_PrivateKey (CA)";

// The steps of the store's own system calls, as TFailureCause::Step names them.
inline constexpr const char* kStepCreateDirectory = "create directory";
inline constexpr const char* kStepCreateFile = "create file";
inline constexpr const char* kStepWriteFile = "write file";

// A failed system call of Step that set Errno.
inline TFailureCause SystemFailure(const char* Step, int Errno) {
  return TFailureCause{Step, 0, 0, Errno, TFailureKind::Other};
}

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& Message) : std::runtime_error(Message) {}
  explicit Exception(const char* Message) : std::runtime_error(Message) {}
  Exception(const std::string& Message, TFailureCause Cause)
      : std::runtime_error(Message), FCause(std::move(Cause)) {}

  const TFailureCause& Cause() const noexcept { return FCause; }

 private:
  TFailureCause FCause;
};

// What was caught: the message, and the cause when the program raised it (none otherwise).
inline TFailureCause CauseOf(const std::exception& Caught) {
  const auto* raised = dynamic_cast<const Exception*>(&Caught);
  return raised ? raised->Cause() : TFailureCause{};
}

// A failure as it travels from a worker thread to the box that reports it.
struct TFailure {
  std::string Message;
  TFailureCause Cause;
};

inline TFailure FailureOf(const std::exception& Caught) { return {Caught.what(), CauseOf(Caught)}; }

}  // namespace velmora
