#include "core/FailureText.h"

namespace velmora {

std::string CertificateFailedText(std::string_view Reason) {
  return "Certificate generation failed:\n" + std::string(Reason);
}

std::string KeyFailedText(std::string_view Reason) {
  return "Key generation failed:\n" + std::string(Reason);
}

std::string WithFullStop(std::string Message) {
  // Comparing bytes is enough: every byte of a multi-byte UTF-8 character is above '.'.
  if (!Message.empty() && static_cast<unsigned char>(Message.back()) > '.') Message += '.';
  return Message;
}

}  // namespace velmora
