// File names of any length: what the upload list and the command line ask
// the disk about names that may be longer than MAX_PATH.
#pragma once

#include <string>

namespace quib {

// The ANSI path as a wide path that the wide file functions take at any
// length: made absolute, with the "\\?\" prefix once it is too long for the
// plain form.
std::wstring LongWidePath(const std::string& path);

// True when the path names a file (not a folder) that can be opened for
// reading now.
bool CanReadFile(const std::string& path);

}  // namespace quib
