// The order of the files in a folder: numbers by value, letters without
// case, and one order for names that read alike.
#include "core/text/natural_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

TEST(NaturalOrder, ExamplesOfEachRule) {
  using quib::NaturalCompare;
  EXPECT_LT(NaturalCompare("IMG_2.jpg", "IMG_10.jpg"), 0);
  EXPECT_LT(NaturalCompare("img_3.jpg", "IMG_4.jpg"), 0);
  EXPECT_LT(NaturalCompare("IMG_0099.jpg", "IMG_100.jpg"), 0);
  // Longer than any integer type.
  EXPECT_LT(NaturalCompare("x99999999999999999999.jpg", "x100000000000000000000.jpg"), 0);
  // A digit meeting another character compares as itself: after '.',
  // before '_' and the letters.
  EXPECT_LT(NaturalCompare("IMG_.jpg", "IMG_1.jpg"), 0);
  EXPECT_LT(NaturalCompare("a9", "a_1"), 0);
  // Beyond ASCII by code point: "été" after z, "写真 2" before "写真 10".
  EXPECT_LT(NaturalCompare("zebra", "\xC3\xA9t\xC3\xA9"), 0);
  EXPECT_LT(NaturalCompare("\xE5\x86\x99\xE7\x9C\x9F 2", "\xE5\x86\x99\xE7\x9C\x9F 10"), 0);
  // Alike by value: fewer leading zeros first, at the first number that
  // differs so, before letter case is looked at; then capitals first.
  EXPECT_LT(NaturalCompare("IMG_2.jpg", "IMG_02.jpg"), 0);
  EXPECT_GT(NaturalCompare("a01b2", "a1b02"), 0);
  EXPECT_LT(NaturalCompare("b1", "B01"), 0);
  EXPECT_LT(NaturalCompare("IMG_1.JPG", "IMG_1.jpg"), 0);
  EXPECT_EQ(NaturalCompare("IMG_1.jpg", "IMG_1.jpg"), 0);
}

TEST(NaturalOrder, OneTotalOrderWhateverTheShuffle) {
  const std::vector<std::string> expected = {
      "",          "0",         "00",         "1",        "01",       "2",         "10",
      "A",         "a",         "a1",         "a01",      "A2",       "a2",        "a10",
      "a_1",       "Day 2",     "Day 10",     "Day 10 b", "IMG_.jpg", "IMG_1.jpg", "IMG_01.jpg",
      "IMG_2.JPG", "img_2.jpg", "IMG_10.jpg", "IMG_10a",  "IMG_100",  "\xC3\xA9"};
  // Every pair both ways; only identical names are equal.
  for (size_t i = 0; i < expected.size(); ++i) {
    for (size_t j = 0; j < expected.size(); ++j) {
      const int c = quib::NaturalCompare(expected[i], expected[j]);
      EXPECT_TRUE(i < j    ? c < 0
                  : i == j ? c == 0
                           : c > 0)
          << "'" << expected[i] << "' '" << expected[j] << "'";
    }
  }
  std::mt19937 random(26);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::string> names = expected;
    std::shuffle(names.begin(), names.end(), random);
    std::sort(names.begin(), names.end(), quib::NaturalLess);
    EXPECT_EQ(names, expected) << "round " << round;
  }
}

}  // namespace
