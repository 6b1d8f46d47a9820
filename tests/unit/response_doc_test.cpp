#include "core/protocol/response_doc.h"

#include <gtest/gtest.h>

using quib::ParseResponseLines;
using quib::ResponseLine;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Lines(const std::string& text, quib::LeadByteTest lead = quib::IsAnsiLeadByte) {
  Pairs out;
  for (const ResponseLine& l : ParseResponseLines(text, lead)) out.emplace_back(l.name, l.value);
  return out;
}

// Shift-JIS style lead bytes, to check that trail bytes are stepped over.
bool SjisLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

}  // namespace

TEST(ResponseSyntax, SeparatorRunsAndFirstEquals) {
  // "0", CR LF, CR LF, SId=abc=def, LF CR, X, CR LF.
  EXPECT_EQ(Lines("0\r\n\r\nSId=abc=def\n\rX\r\n"), (Pairs{{"SId", "abc=def"}, {"", "X"}}));
  EXPECT_EQ(Lines("0a=1\rb=2\nc=3\r\r\n\n\rd="),
            (Pairs{{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", ""}}));
  EXPECT_EQ(Lines("0\r\n=lead\r\n==\r\n"), (Pairs{{"", "lead"}, {"", "="}}));
  // Blanks and quotes belong to the name and value.
  EXPECT_EQ(Lines("0\n SId = \"x\" "), (Pairs{{" SId ", " \"x\" "}}));
  // The status character is never part of a line, whatever it is.
  EXPECT_EQ(Lines("=a=b"), (Pairs{{"a", "b"}}));
  EXPECT_EQ(Lines("\rx"), (Pairs{{"", "x"}}));
}

TEST(ResponseSyntax, EmptyAndOddAnswers) {
  EXPECT_EQ(quib::ResponseStatus(""), '\0');
  EXPECT_EQ(quib::ResponseStatus("2\r\nmsg=no"), '2');
  EXPECT_EQ(Lines(""), Pairs{});
  EXPECT_EQ(Lines("0"), Pairs{});
  EXPECT_EQ(Lines("0\r\n\n\r\r\r"), Pairs{});
  EXPECT_EQ(Lines("\n"), Pairs{});
  std::string withNul("0\r\na=\0b", 7);
  EXPECT_EQ(Lines(withNul), (Pairs{{"a", std::string("\0b", 2)}}));
  // No length limit.
  const std::string longValue(100000, 'v');
  EXPECT_EQ(Lines("0\nk=" + longValue), (Pairs{{"k", longValue}}));
}

TEST(ResponseSyntax, TrailBytesAreSteppedButLineBreaksAlwaysSplit) {
  // A lead byte before CR or LF stands alone: CR and LF are never trail
  // bytes, so an album name ending in a lead byte keeps its line end.
  const std::string text = "0\r\nname=\x81\rX\r\nnext=\x81=";
  EXPECT_EQ(Lines(text, SjisLead), (Pairs{{"name", "\x81"}, {"", "X"}, {"next", "\x81="}}));
  EXPECT_EQ(Lines(text), Lines(text, SjisLead));
  // LF-only answers: the URL after a name ending in a lead byte survives.
  const std::string login = "0\nName=\x83\x41\x83\nUploadURL=http://h/up.php\nSId=s";
  CResponseDoc doc;
  quib::ReadLogInResponse(login, doc, SjisLead);
  EXPECT_EQ(quib::MakeCommandUrl(doc, "UploadURL"), "http://h/up.php?s");
  std::string name;
  ASSERT_TRUE(doc.Lookup("Name", name));
  EXPECT_EQ(name, "\x83\x41\x83");
  // UTF-8 album names often end in a byte that is a lead byte there ("Erdő"
  // ends in 0xC5 0x91): the pairs of a DirList stay in step.
  EXPECT_EQ(quib::ReadDirListAlbums("0\r\na\r\nb\r\nid=1\r\nname=Erd\xC5\x91\r\nid=2\r\nname=Z",
                                    SjisLead),
            (Pairs{{"1", "Erd\xC5\x91"}, {"2", "Z"}}));
  // A lead byte at the very end stands alone.
  EXPECT_EQ(Lines("0a=\x81", SjisLead), (Pairs{{"a", "\x81"}}));
  // A trail byte that looks like '=' does not split the line.
  EXPECT_EQ(Lines("0\x81=x=y", SjisLead), (Pairs{{"\x81=x", "y"}}));
  // A real double-byte character in the middle of a value is kept whole.
  EXPECT_EQ(Lines("0k=\x95\x5C\x82\xA0\r\n", SjisLead), (Pairs{{"k", "\x95\x5C\x82\xA0"}}));
}

TEST(LogInResponse, StoresLinesAndKeepsEarlierNames) {
  CResponseDoc doc;
  quib::ReadLogInResponse("0", doc);
  EXPECT_EQ(doc.GetCount(), 0u);

  quib::ReadLogInResponse(
      "0\r\nSId=abc\r\nUploadURL=http://h/up.php\r\nsid=lower\r\n SId=blank\r\nSId=abc2", doc);
  std::string v;
  ASSERT_TRUE(doc.Lookup("SId", v));
  EXPECT_EQ(v, "abc2");  // a repeated name takes the later value
  ASSERT_TRUE(doc.Lookup("sid", v));
  EXPECT_EQ(v, "lower");
  ASSERT_TRUE(doc.Lookup(" SId", v));
  EXPECT_EQ(v, "blank");
  EXPECT_EQ(quib::MakeCommandUrl(doc, "UploadURL"), "http://h/up.php?abc2");

  // A second login without UploadURL leaves the first one in place.
  quib::ReadLogInResponse("0\r\nSId=new\r\nDirListURL=http://h/dirs.php?x=1", doc);
  EXPECT_EQ(quib::MakeCommandUrl(doc, "UploadURL"), "http://h/up.php?new");
  EXPECT_EQ(quib::MakeCommandUrl(doc, "DirListURL"), "http://h/dirs.php?x=1?new");
  // Values are stored as received, UTF-8 included.
  quib::ReadLogInResponse("0\nName=Gr\xC3\xBC\xC3\x9F\x65", doc);
  ASSERT_TRUE(doc.Lookup("Name", v));
  EXPECT_EQ(v, "Gr\xC3\xBC\xC3\x9F\x65");
}

TEST(CommandUrl, AbsentNamesGiveEmptyText) {
  CResponseDoc doc;
  EXPECT_EQ(quib::MakeCommandUrl(doc, "DirListURL"), "?");
  doc["CreateDirURL"] = "http://h/mk.php";
  EXPECT_EQ(quib::MakeCommandUrl(doc, "CreateDirURL"), "http://h/mk.php?");
  doc["SId"] = "a b&c";  // nothing is escaped
  EXPECT_EQ(quib::MakeCommandUrl(doc, "CreateDirURL"), "http://h/mk.php?a b&c");
  EXPECT_EQ(quib::MakeCommandUrl(doc, "UploadURL"), "?a b&c");
}

TEST(DirListResponse, PairsAfterTheThirdCrLf) {
  const std::string seven = "0\r\na\r\nb\r\nid=5\r\nname=Holiday\r\nid=7\r\nname=Work";
  EXPECT_EQ(quib::ReadDirListAlbums(seven), (Pairs{{"5", "Holiday"}, {"7", "Work"}}));
  EXPECT_EQ(quib::ReadDirListAlbums(seven + "\r\nid=9"),
            (Pairs{{"5", "Holiday"}, {"7", "Work"}, {"9", ""}}));
  EXPECT_EQ(quib::ReadDirListAlbums("0\r\n\r\n\r\n"), Pairs{});
  // Names stay UTF-8; ids and the names before '=' are not looked at.
  EXPECT_EQ(quib::ReadDirListAlbums(
                "0\r\nx\r\ny\r\nfoo=12\r\nbar=Gr\xC3\xBC\xC3\x9F\x65 \xE2\x82\xAC\r\n"),
            (Pairs{{"12", "Gr\xC3\xBC\xC3\x9F\x65 \xE2\x82\xAC"}}));
  // Lines skipped are counted by CR LF pairs, not by lines: the empty line
  // between the first two pairs counts.
  EXPECT_EQ(quib::ReadDirListAlbums("0\r\n\r\nlast\r\nid=1\r\n\r\n\nname=N"), (Pairs{{"1", "N"}}));
}

TEST(DirListResponse, FewerThanThreeCrLfHoldNoAlbums) {
  EXPECT_EQ(quib::ReadDirListAlbums(""), Pairs{});
  EXPECT_EQ(quib::ReadDirListAlbums("0"), Pairs{});
  EXPECT_EQ(quib::ReadDirListAlbums("0\r\nid=1\r\nname=x"), Pairs{});
  EXPECT_EQ(quib::ReadDirListAlbums("0\nid=1\nname=x\nid=2\nname=y\n"), Pairs{});
  EXPECT_EQ(quib::ReadDirListAlbums("0\r\r\n\n\r"), Pairs{});
}

TEST(CreateDirResponse, FirstLineValueAsDecimal) {
  int id = -1;
  ASSERT_TRUE(quib::ReadCreateDirId("0\r\nx=17", id));
  EXPECT_EQ(id, 17);
  EXPECT_FALSE(quib::ReadCreateDirId("0", id));
  EXPECT_FALSE(quib::ReadCreateDirId("0\r\n\r\n", id));
  ASSERT_TRUE(quib::ReadCreateDirId("0\r\n\r\nid=  -42abc\r\nid=99", id));
  EXPECT_EQ(id, -42);
  ASSERT_TRUE(quib::ReadCreateDirId("0\nno number", id));
  EXPECT_EQ(id, 0);
  EXPECT_EQ(quib::ReadDecimal("\t+8x"), 8);
  EXPECT_EQ(quib::ReadDecimal("- 8"), 0);
  EXPECT_EQ(quib::ReadDecimal("2147483647"), 2147483647);
  EXPECT_EQ(quib::ReadDecimal("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(quib::ReadDecimal("99999999999999999999999"), 2147483647);
  EXPECT_EQ(quib::ReadDecimal("-99999999999999999999999"), -2147483647 - 1);
}
