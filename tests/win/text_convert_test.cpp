// The converters over the real system code page (1252 in the test prefix).
#include <windows.h>

#include <gtest/gtest.h>

#include "core/protocol/response_doc.h"
#include "core/text/text_convert.h"

TEST(TextConvert, Cp1252RoundTrip) {
  ASSERT_EQ(GetACP(), 1252u);
  // Umlauts, sharp s and the euro sign (0x80 in 1252, three bytes in UTF-8).
  const std::string ansi = "Gr\xFC\xDF\x65 aus K\xF6ln: \xC4\xD6\xDC\xE4\xF6\xFC f\xFCr 5 \x80";
  const std::string utf8 =
      "Gr\xC3\xBC\xC3\x9F\x65 aus K\xC3\xB6ln: \xC3\x84\xC3\x96\xC3\x9C\xC3\xA4\xC3\xB6\xC3\xBC "
      "f\xC3\xBCr 5 \xE2\x82\xAC";
  EXPECT_EQ(AnsiToUtf8(ansi), utf8);
  EXPECT_EQ(Utf8ToAnsi(utf8), ansi);
  EXPECT_EQ(AnsiToUtf8(""), "");
  EXPECT_EQ(Utf8ToAnsi(""), "");
  EXPECT_EQ(AnsiToUtf8("plain ASCII"), "plain ASCII");
}

TEST(TextConvert, CharactersOutsideTheCodePageBecomeTheDefault) {
  // Cyrillic Zhe, a CJK ideograph and L with stroke have no place in 1252.
  EXPECT_EQ(Utf8ToAnsi("a\xD0\x96"
                       "b\xE4\xB8\xAD"
                       "c\xC5\x81"),
            "a?b?c?");
  EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC\xD0\x96"), "\x80?");
}

TEST(TextConvert, LongTextsConvertCompletely) {
  // Each euro sign grows from one byte to three: more than twice the input.
  const std::string euros(70000, '\x80');
  std::string expected;
  for (size_t i = 0; i < euros.size(); ++i) expected += "\xE2\x82\xAC";
  const std::string utf8 = AnsiToUtf8(euros);
  EXPECT_EQ(utf8.size(), 210000u);
  EXPECT_EQ(utf8, expected);
  EXPECT_EQ(Utf8ToAnsi(utf8), euros);
  for (int b = 0; b < 256; ++b) EXPECT_FALSE(quib::IsAnsiLeadByte(static_cast<unsigned char>(b)));
}

// Album names stay as the service sent them; what the code page cannot
// spell becomes "?" only where ANSI text is asked for.
TEST(TextConvert, AlbumNamesOfADirListAnswer) {
  const auto albums = quib::ReadDirListAlbums(
      "0\r\nx\r\ny\r\nid=3\r\nname=M\xC3\xBCnchen \xE2\x82\xAC\r\nid=4\r\nname=\xD0\x96");
  ASSERT_EQ(albums.size(), 2u);
  EXPECT_EQ(albums[0].second, "M\xC3\xBCnchen \xE2\x82\xAC");
  EXPECT_EQ(albums[1].second, "\xD0\x96");
  EXPECT_EQ(Utf8ToAnsi(albums[0].second), "M\xFCnchen \x80");
  EXPECT_EQ(Utf8ToAnsi(albums[1].second), "?");
  EXPECT_TRUE(FitsAnsiCodePage(albums[0].second));
  EXPECT_FALSE(FitsAnsiCodePage(albums[1].second));
}
