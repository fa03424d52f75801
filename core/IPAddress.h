// Whether a text is an IP address, as an alternative name takes one. One reading for the
// window, the command line and the checks before issuing, so that none of them calls a text
// an address that another would put among the DNS names.
#pragma once

#include <string_view>

namespace velmora {

// An IPv4 address in dotted decimal ("192.0.2.1") or an IPv6 address in any of its textual
// forms ("::1", "2001:db8::1", "::ffff:192.0.2.1"), nothing before or after it. A text with a
// NUL byte is none, whatever comes before the NUL.
bool IsIPAddress(std::string_view Text);

}  // namespace velmora
