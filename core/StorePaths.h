// The store directory's path rules: which folder is the default, how a file name joins it,
// and how it is made. Apart from the window so they can be checked on their own.
#pragma once

#include <string>

namespace velmora {

// Codes 0 to 31 and " < > |: characters that no path may hold here or on any desktop the
// store may be shared with.
bool HasForbiddenPathChar(const std::string& Text);
// Raises "Illegal characters in path: "<Text>"" when Text holds one of them.
void RequireValidPathText(const std::string& Text);

// Name inside Dir: Name alone when Dir is empty or Name is absolute, Dir alone when Name is
// empty, otherwise the two with one "/" between them. Raises when either holds a character
// that no path may hold.
std::string JoinStorePath(const std::string& Dir, const std::string& Name);

// Makes Dir with every missing parent, unless a folder (or a link to one) is already there.
// Raises for an empty name, a forbidden character or wildcard, and with the system's reason
// when a level cannot be made.
void CreateStoreDirectory(const std::string& Dir);

// AppDir/Certificates when that folder is there and writable by the user, or can be made
// there; otherwise UserDataDir/Certificates.
std::string DefaultStoreDirFor(const std::string& AppDir, const std::string& UserDataDir);

// The part of Path after its last "/".
std::string FileNamePart(const std::string& Path);

// A name or path as a message shows it: bytes that are not UTF-8 become U+FFFD.
std::string Readable(const std::string& Name);

}  // namespace velmora
