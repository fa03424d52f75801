#include "core/IPAddress.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace velmora {
namespace {

struct TAddressCase {
  std::string_view Text;
  bool IsAddress;
};

TEST(IsIPAddress, TakesIPv4AndIPv6TextsAndNothingElse) {
  using namespace std::string_view_literals;
  const TAddressCase cases[] = {
      {"192.0.2.1", true},
      {"0.0.0.0", true},
      {"255.255.255.255", true},
      {"::1", true},
      {"::", true},
      {"2001:db8::1", true},
      {"2001:DB8:0:0:0:0:0:1", true},
      {"::ffff:192.0.2.1", true},
      {"", false},
      {"localhost", false},
      {"example.com", false},
      {"256.0.0.1", false},
      {"192.0.2", false},
      {"192.0.2.1.5", false},
      {" 192.0.2.1", false},
      {"192.0.2.1 ", false},
      {"192.0.2.1/24", false},
      {"2001:db8::1::2", false},
      {"fe80::1%eth0", false},
      {"[::1]", false},
      {"192.0.2.1\0junk"sv, false},
  };
  for (const TAddressCase& c : cases) {
    SCOPED_TRACE(std::string(c.Text));
    EXPECT_EQ(IsIPAddress(c.Text), c.IsAddress);
  }
}

}  // namespace
}  // namespace velmora
