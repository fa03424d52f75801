// File names here are bytes, Qt's texts are Unicode. Most names are UTF-8 and convert
// either way unchanged, but any byte string is a legal name, and a lossy conversion could
// make a control name a different file than the one the user picked.
#pragma once

#include <QString>

#include <string>

namespace velmora {

// Text that holds exactly the bytes of Name: valid UTF-8 appears as itself, and every byte
// that is not part of a valid UTF-8 sequence as the lone surrogate U+DC80..U+DCFF (the
// convention Python's "surrogateescape" uses). Meant for an edit that holds a path.
QString FileNameToText(const std::string& Name);

// The reverse of FileNameToText: TextToFileName(FileNameToText(n)) == n for every n. Any
// other lone surrogate becomes U+FFFD.
std::string TextToFileName(const QString& Text);

// For captions, messages and the log only: bytes that are not UTF-8 show as U+FFFD.
QString FileNameCaption(const std::string& Name);

}  // namespace velmora
