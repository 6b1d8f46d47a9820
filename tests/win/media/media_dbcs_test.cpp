// Double-byte code pages, under Wine with the ANSI code page 932 (Japanese):
// the test program runs with a Japanese Unix locale (see CMakeLists.txt).
// The program keeps its texts in UTF-8 whatever the code page: answer lines,
// file names and shortened names against the system's own lead-byte rules
// and its conversion to UTF-16.
#include <gtest/gtest.h>

#include "adapters/long_path.h"
#include "core/media/media_item.h"
#include "core/text/short_name.h"
#include "core/text/text_convert.h"
#include "core/protocol/response_doc.h"
#include "tests/win/media/media_test_util.h"

using namespace media_test;

namespace {

// The text as the system reads it; empty when it holds an invalid sequence
// (half of a double-byte character).
std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], n);
  return wide;
}

class DoubleByteCodePage : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetACP(), 932u) << "run with a Japanese locale (LANG=ja_JP.UTF-8, LOCPATH)";
  }
};

// Album names in UTF-8 often end in a byte that is a lead byte here ("Erdő"
// ends in 0xC5 0x91): the line ends all the same.
TEST_F(DoubleByteCodePage, LineBreaksEndAnswerLinesAfterALeadByte) {
  ASSERT_TRUE(IsDBCSLeadByte(0x91));
  CResponseDoc doc;
  quib::ReadLogInResponse("0\nName=Erd\xC5\x91\nUploadURL=http://h/up.php\nSId=s", doc);
  EXPECT_EQ(quib::MakeCommandUrl(doc, "UploadURL"), "http://h/up.php?s");
  const auto albums =
      quib::ReadDirListAlbums("0\r\na\r\nb\r\nid=1\r\nname=Erd\xC5\x91\r\nid=2\r\nname=Z\r\n");
  ASSERT_EQ(albums.size(), 2u);
  EXPECT_EQ(albums[0].first, "1");
  EXPECT_EQ(albums[0].second, "Erd\xC5\x91");
  EXPECT_EQ(albums[1].first, "2");
  EXPECT_EQ(albums[1].second, "Z");
}

// A file named with characters whose trail byte is a backslash (0x5C), long
// enough to be shortened: its name is whole, and the short forms cut between
// characters, never inside one.
TEST_F(DoubleByteCodePage, NamesAreTakenAndShortenedByCharacters) {
  // 0x95 0x5C, 0x83 0x5C, 0x94 0x5C, 0x97 0x5C: four characters ending in
  // a backslash byte; 0x82 0xA0 is a plain one.
  const std::string five = "\x95\x5C\x83\x5C\x94\x5C\x97\x5C\x82\xA0";
  const std::string ansi = "a" + five + five + "\x95\x5C\x83\x5C.jpg";
  const std::wstring wideName = Wide(ansi);
  ASSERT_EQ(wideName.size(), 17u);  // a, 12 double-byte characters, .jpg
  // The name as the program keeps it, converted by the system's code page.
  const std::string name = AnsiToUtf8(ansi);
  ASSERT_EQ(Utf8ToWide(name), wideName);
  EXPECT_EQ(Utf8ToAnsi(name), ansi);

  CTestDir dir;
  const std::string path = dir.Path(name);
  ASSERT_TRUE(WritePicture(path, 40, 30, "image/jpeg"));
  CMediaItem item(path);
  EXPECT_EQ(item.GetName(), name);
  EXPECT_EQ(item.GetWidth(), 40);

  const std::string shortName = item.GetShortName(13);
  EXPECT_EQ(Utf8ToWide(shortName), wideName.substr(0, 13) + L"...");
  const std::string caption = quib::ListCaption(item.GetName());
  EXPECT_EQ(Utf8ToWide(caption), wideName.substr(0, 11) + L"...");
  // Short enough names stay as they are, whatever their byte count.
  const std::string thirteen = WideToUtf8(wideName.substr(0, 13));
  EXPECT_EQ(quib::ListCaption(thirteen), thirteen);
  item.SetName(thirteen);
  EXPECT_EQ(item.GetShortName(13), thirteen);
}

}  // namespace
