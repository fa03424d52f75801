// How a failure is worded to the user, the same in the window and on the command line: which
// of the two long jobs failed, on a line of its own above the reason, and where a sentence
// gets its full stop.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// "Certificate generation failed:\n<Reason>", as the window's box and the command line say it.
std::string CertificateFailedText(std::string_view Reason);
// "Key generation failed:\n<Reason>".
std::string KeyFailedText(std::string_view Reason);

// An error's text as the error box shows it: a full stop is added when the last character's
// code is above that of the full stop, so "Failed" reads "Failed." but "(see log)" stays.
std::string WithFullStop(std::string Message);

}  // namespace velmora
