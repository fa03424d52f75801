// Putting a CA into this computer's trust stores, shared by `trust install` and `dev --trust`.
#pragma once

#include "core/Trust.h"

#include <string>

namespace velmora::cli {

// Reads CAFile (refusing what may not be trusted), warns of a CA without name constraints and,
// unless Yes, asks whether to go on (refusing without a terminal to ask on), then installs it
// into every target and prints one line per target. The exit status: 0 when every target took
// it, 1 otherwise.
int InstallTrustFor(const std::string& CAFile, const TTrustPlace& Place, bool Yes);

// Fills Place's announcer: privileged commands are printed before they run.
void AnnounceOnStdout(TTrustPlace& Place);

}  // namespace velmora::cli
