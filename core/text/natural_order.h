// The order in which the files of a folder are added: by name, with the
// numbers in names compared by their value, so that IMG_2.jpg comes before
// IMG_10.jpg as the user sees them in the camera and in Explorer.
#pragma once

#include <string>

namespace quib {

// Compares two UTF-8 names: < 0 when a comes first, 0 only for identical
// names, > 0 when b comes first. The rules, in this order:
// - A run of the digits 0-9 counts as one number, compared by its value
//   whatever its length (leading zeros do not count); every other character
//   is compared alone: the letters A-Z as a-z, everything else by its code
//   point (UTF-8 byte order is code point order). A digit that meets a
//   character other than a digit is compared as that character.
// - Names equal by these rules: at the first number written differently,
//   the one with fewer leading zeros comes first (IMG_2 before IMG_02).
// - Still equal (the names differ only in letter case): byte order, so
//   capitals come first.
int NaturalCompare(const std::string& a, const std::string& b);

inline bool NaturalLess(const std::string& a, const std::string& b) {
  return NaturalCompare(a, b) < 0;
}

}  // namespace quib
