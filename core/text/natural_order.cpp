#include "core/text/natural_order.h"

namespace quib {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

unsigned char Folded(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

int Sign(long long v) {
  return v < 0 ? -1 : v > 0 ? 1 : 0;
}

}  // namespace

int NaturalCompare(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  int zeros = 0;  // the first difference in leading zeros, kept for a tie
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t ia = i, jb = j;
      while (ia < a.size() && a[ia] == '0') ++ia;
      while (jb < b.size() && b[jb] == '0') ++jb;
      size_t ea = ia, eb = jb;
      while (ea < a.size() && IsDigit(a[ea])) ++ea;
      while (eb < b.size() && IsDigit(b[eb])) ++eb;
      // More significant digits: the larger number. No conversion, so any
      // length of number compares right.
      if (ea - ia != eb - jb) return Sign(static_cast<long long>(ea - ia) - (eb - jb));
      const int digits = a.compare(ia, ea - ia, b, jb, eb - jb);
      if (digits != 0) return Sign(digits);
      if (zeros == 0) zeros = Sign(static_cast<long long>(ia - i) - (jb - j));
      i = ea;
      j = eb;
      continue;
    }
    const unsigned char ca = Folded(a[i]), cb = Folded(b[j]);
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
  if (zeros != 0) return zeros;
  return Sign(a.compare(b));
}

}  // namespace quib
