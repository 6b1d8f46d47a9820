// File names of any length: the wide form of an ANSI path that the wide
// file functions accept beyond MAX_PATH.
#pragma once

#include <string>

namespace quib {

// The ANSI path as a wide path that the wide file functions take at any
// length: made absolute, with the "\\?\" prefix once it is too long for the
// plain form.
std::wstring LongWidePath(const std::string& path);

}  // namespace quib
