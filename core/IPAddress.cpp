#include "core/IPAddress.h"

#include <arpa/inet.h>

#include <string>

namespace velmora {

bool IsIPAddress(std::string_view Text) {
  // inet_pton reads up to the first NUL; one inside the text would let "192.0.2.1\0junk" pass.
  if (Text.find('\0') != std::string_view::npos) return false;
  const std::string text(Text);
  unsigned char address[16];
  return ::inet_pton(AF_INET, text.c_str(), address) == 1 ||
         ::inet_pton(AF_INET6, text.c_str(), address) == 1;
}

}  // namespace velmora
