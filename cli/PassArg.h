// Pass phrases given the way the openssl command line takes them, never asked for.
#pragma once

#include "crypto/SecretText.h"

#include <memory>
#include <string>

namespace velmora::cli {

// "pass:TEXT" the text itself; "env:VAR" the variable's value; "file:PATH" and "fd:N" the
// first line read from that file or descriptor; "stdin" the first line of the standard
// input. An empty Arg is the empty password. Raises UsageError for any other form and
// velmora::Exception when the source cannot be read.
std::unique_ptr<TSecretText> ReadPassArg(const std::string& Arg);

}  // namespace velmora::cli
