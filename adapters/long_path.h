// File names as the wide functions take them: an ANSI path in UTF-16, and
// the form that the wide file functions accept beyond MAX_PATH.
#pragma once

#include <string>

// A path (or any text) in the ANSI code page as UTF-16; empty when it does
// not convert.
std::wstring WidePath(const std::string& path);

namespace quib {

// The ANSI path as a wide path that the wide file functions take at any
// length: made absolute, with the "\\?\" prefix once it is too long for the
// plain form.
std::wstring LongWidePath(const std::string& path);

}  // namespace quib
