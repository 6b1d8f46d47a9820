// The order of the files in a folder: numbers by value, letters without
// case, and a total order for names that read alike.
#include "core/text/natural_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using quib::NaturalCompare;
using quib::NaturalLess;

namespace {

TEST(NaturalOrder, NumbersCompareByValueAndLettersWithoutCase) {
  EXPECT_LT(NaturalCompare("IMG_2.jpg", "IMG_10.jpg"), 0);
  EXPECT_GT(NaturalCompare("IMG_10.jpg", "IMG_9.jpg"), 0);
  EXPECT_LT(NaturalCompare("img_3.jpg", "IMG_4.jpg"), 0);
  EXPECT_LT(NaturalCompare("IMG_3.jpg", "img_4.jpg"), 0);
  EXPECT_LT(NaturalCompare("Day 2", "Day 10"), 0);
  EXPECT_LT(NaturalCompare("IMG_0099.jpg", "IMG_100.jpg"), 0);
  // Longer than any integer type.
  EXPECT_LT(NaturalCompare("x99999999999999999999.jpg", "x100000000000000000000.jpg"), 0);
  EXPECT_LT(NaturalCompare("x100000000000000000000.jpg", "x100000000000000000001.jpg"), 0);
  // A shorter name that the longer one begins with comes first.
  EXPECT_LT(NaturalCompare("IMG", "IMG_1"), 0);
  EXPECT_LT(NaturalCompare("a1", "a1b"), 0);
  // A number meets another character as a digit: after '.', '_' before it.
  EXPECT_LT(NaturalCompare("IMG_.jpg", "IMG_1.jpg"), 0);
  EXPECT_LT(NaturalCompare("a1", "a_1"), 0);
  EXPECT_LT(NaturalCompare("a9", "aa"), 0);
  // Characters beyond ASCII by code point, after the letters.
  EXPECT_LT(NaturalCompare("zebra", "\xC3\xA9t\xC3\xA9"), 0);                     // "été"
  EXPECT_LT(NaturalCompare("\xC3\xA9t\xC3\xA9", "\xE5\x86\x99\xE7\x9C\x9F"), 0);  // "写真"
  EXPECT_LT(NaturalCompare("\xE5\x86\x99 2", "\xE5\x86\x99 10"), 0);
}

TEST(NaturalOrder, NamesThatReadAlikeStillHaveOneOrder) {
  // Fewer leading zeros first, at the first number written differently.
  EXPECT_LT(NaturalCompare("IMG_2.jpg", "IMG_02.jpg"), 0);
  EXPECT_LT(NaturalCompare("IMG_02.jpg", "IMG_002.jpg"), 0);
  EXPECT_GT(NaturalCompare("a01b2", "a1b02"), 0) << "the first number decides";
  // The zeros decide before the case does.
  EXPECT_LT(NaturalCompare("b1", "B01"), 0);
  // Then byte order: capitals first.
  EXPECT_LT(NaturalCompare("A.jpg", "a.jpg"), 0);
  EXPECT_LT(NaturalCompare("IMG_1.JPG", "IMG_1.jpg"), 0);
  EXPECT_EQ(NaturalCompare("IMG_1.jpg", "IMG_1.jpg"), 0);
  EXPECT_EQ(NaturalCompare("", ""), 0);
  EXPECT_LT(NaturalCompare("", "a"), 0);
}

TEST(NaturalOrder, SortingAnyShuffleGivesTheSameOrder) {
  const std::vector<std::string> expected = {
      "",         "0",         "00",         "1",         "01",        "2",
      "10",       "A",         "a",          "a1",        "a01",       "A2",
      "a2",       "a10",       "a_1",        "Day 2",     "Day 10",    "Day 10 b",
      "IMG_.jpg", "IMG_1.jpg", "IMG_01.jpg", "IMG_2.JPG", "img_2.jpg", "IMG_10.jpg",
      "IMG_10a",  "IMG_10b",   "IMG_100",    "z",         "\xC3\xA9"};
  // Every pair in the right order both ways, and only identical names equal.
  for (size_t i = 0; i < expected.size(); ++i) {
    for (size_t j = 0; j < expected.size(); ++j) {
      const int c = NaturalCompare(expected[i], expected[j]);
      EXPECT_EQ(c < 0, i < j) << "'" << expected[i] << "' '" << expected[j] << "'";
      EXPECT_EQ(c == 0, i == j) << "'" << expected[i] << "' '" << expected[j] << "'";
    }
  }
  std::mt19937 random(26);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::string> names = expected;
    std::shuffle(names.begin(), names.end(), random);
    std::sort(names.begin(), names.end(), NaturalLess);
    EXPECT_EQ(names, expected) << "round " << round;
  }
}

}  // namespace
