// The order in which the store's file names are listed, by the window and by the command line
// alike: as a file manager orders them, not by their bytes ("a9" before "a10", "B2" after "b").
#pragma once

#include <string>

namespace velmora {

// The name's bytes rewritten so that comparing two keys byte by byte orders their names as
// NaturalNameLess does. For sorting many names: each key is made once.
std::string NaturalSortKey(const std::string& Name);

// Whether A comes before B in a file manager's order of names: letters without regard to case,
// runs of digits by their value. Names equal but for case or leading zeros still have one
// order, by their bytes.
bool NaturalNameLess(const std::string& A, const std::string& B);

}  // namespace velmora
