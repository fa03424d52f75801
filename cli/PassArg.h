// Pass phrases given the way the openssl command line takes them, never asked for.
#pragma once

#include "crypto/SecretText.h"

#include <memory>
#include <string>

namespace velmora::cli {

// The pass phrase that Arg, given to Option ("--key-pass", "--p12-pass" or "--ca-pass"),
// names: "pass:TEXT" the text itself; "env:VAR" the variable's value; "file:PATH" and "fd:N"
// the first line read from that file (a pipe is waited for) or descriptor; "stdin" the first
// line of the standard input.
//
// Raises UsageError for any other form, and for a pass phrase that cannot be used: an empty
// one (except "pass:" for a bundle, which asks for an empty bundle password on purpose), one
// longer than a file can be written under, or one holding a NUL. Raises velmora::Exception
// when the source cannot be read. No message ever repeats the text of a "pass:" argument, nor
// anything of an argument that is no source: it may be the secret itself, mistyped.
std::unique_ptr<TSecretText> ReadPassArg(const std::string& Arg, const std::string& Option);

}  // namespace velmora::cli
