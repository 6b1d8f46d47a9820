#include "core/text/short_name.h"

#include <gtest/gtest.h>

namespace {

// Shift-JIS lead bytes (code page 932).
bool SjisLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// n double-byte characters: hiragana A (0x82 0xA0), then 0x95 0x5C, whose
// trail byte is a backslash.
std::string Kana(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += (i % 2 == 0) ? "\x82\xA0" : "\x95\x5C";
  return s;
}

TEST(ShortNames, SingleByteNames) {
  EXPECT_EQ(quib::ShortName("holiday-2006-beach.jpg", 13), "holiday-2006-...");
  EXPECT_EQ(quib::ShortName("a.jpg", 13), "a.jpg");
  EXPECT_EQ(quib::ShortName("exactly13.jpg", 13), "exactly13.jpg");
  EXPECT_EQ(quib::ShortName("", 13), "");
  EXPECT_EQ(quib::ListCaption("holiday-2006-beach.jpg"), "holiday-200...");
  EXPECT_EQ(quib::ListCaption("exactly13.jpg"), "exactly13.jpg");
  EXPECT_EQ(quib::ListCaption("fourteen14.jpg"), "fourteen14....");
}

// Lengths count characters: a double-byte character is one, and is never cut.
TEST(ShortNames, DoubleByteCharactersAreCountedOnceAndNeverSplit) {
  // 13 characters in 26 bytes fit; 14 do not.
  EXPECT_EQ(quib::ShortName(Kana(13), 13, SjisLead), Kana(13));
  EXPECT_EQ(quib::ShortName(Kana(14), 13, SjisLead), Kana(13) + "...");
  EXPECT_EQ(quib::ListCaption(Kana(13), SjisLead), Kana(13));
  EXPECT_EQ(quib::ListCaption(Kana(14), SjisLead), Kana(11) + "...");
  // Mixed: a cut that falls inside a double-byte character by bytes.
  const std::string mixed = "a" + Kana(12) + ".jpg";  // 17 characters
  EXPECT_EQ(quib::ShortName(mixed, 13, SjisLead), "a" + Kana(12) + "...");
  EXPECT_EQ(quib::ListCaption(mixed, SjisLead), "a" + Kana(10) + "...");
  // A lead byte at the very end counts as a character of its own.
  EXPECT_EQ(quib::FirstCharacters("ab\x82", 3, SjisLead), "ab\x82");
  EXPECT_EQ(quib::FirstCharacters(Kana(3), 2, SjisLead), Kana(2));
  EXPECT_EQ(quib::FirstCharacters(Kana(3), 0, SjisLead), "");
  // Without lead bytes (code page 1252) every byte is a character.
  EXPECT_EQ(quib::ShortName(Kana(7), 13), Kana(7).substr(0, 13) + "...");
}

}  // namespace
