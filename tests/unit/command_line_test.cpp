#include "core/text/command_line.h"

#include <gtest/gtest.h>

#include <set>

#include "core/ports/platform.h"
#include "tests/unit/core_fakes.h"

using quib::IsStopArgument;
using quib::SplitCommandLine;
using quib::SplitForwardedPayload;
using Names = std::vector<std::string>;

namespace {

// A disk of the given files; their folders exist too. Counts every question.
class CFakeDisk : public quib::IPathProbe {
 public:
  CFakeDisk(std::initializer_list<std::string> files) {
    for (const std::string& f : files) Add(f);
  }
  void Add(const std::string& file) {
    files_.insert(file);
    for (size_t i = file.find('\\'); i != std::string::npos; i = file.find('\\', i + 1)) {
      folders_.insert(file.substr(0, i));
    }
  }
  bool IsFile(const std::string& path) override {
    ++questions;
    return files_.count(path) > 0;
  }
  bool IsFolder(const std::string& path) override {
    ++questions;
    return folders_.count(path) > 0;
  }
  size_t questions = 0;

 private:
  std::set<std::string> files_, folders_;
};

Names Split(const std::string& args) {
  CFakeDisk none{};
  return SplitCommandLine(args, none);
}

}  // namespace

TEST(StopArgument, AnyCaseWithBlanks) {
  EXPECT_TRUE(IsStopArgument("-stop"));
  EXPECT_TRUE(IsStopArgument("  -STOP\t"));
  EXPECT_TRUE(IsStopArgument("-Stop \r\n"));
  EXPECT_FALSE(IsStopArgument("-stopp"));
  EXPECT_FALSE(IsStopArgument("stop"));
  EXPECT_FALSE(IsStopArgument("\"-stop\""));
  EXPECT_FALSE(IsStopArgument(""));
}

// The argument rules of CommandLineToArgvW, with its documented examples.
TEST(SplitCommandLine, WindowsArgumentRules) {
  EXPECT_EQ(Split("\"a b c\" d e"), (Names{"a b c", "d", "e"}));
  EXPECT_EQ(Split("\"ab\\\"c\" \"\\\\\" d"), (Names{"ab\"c", "\\", "d"}));
  EXPECT_EQ(Split("a\\\\\\b d\"e f\"g h"), (Names{"a\\\\\\b", "de fg", "h"}));
  EXPECT_EQ(Split("a\\\\\\\"b c d"), (Names{"a\\\"b", "c", "d"}));
  EXPECT_EQ(Split("a\\\\\\\\\"b c\" d e"), (Names{"a\\\\b c", "d", "e"}));
  // A third quote in a row is a literal quote.
  EXPECT_EQ(Split("\"\"\"a.jpg\"\"\""), (Names{"\"a.jpg\""}));
  // Tabs separate too; empty and blank arguments are skipped; quoted ones
  // are trimmed.
  EXPECT_EQ(Split("\ta.jpg\t\tb.jpg  \"\" \" \" \" c.jpg \"\r\n"),
            (Names{"a.jpg", "b.jpg", "c.jpg"}));
  EXPECT_EQ(Split(""), Names{});
  EXPECT_EQ(Split("   "), Names{});
  EXPECT_EQ(Split("\"C:\\A B\\x.jpg\" \"C:\\y.png\""), (Names{"C:\\A B\\x.jpg", "C:\\y.png"}));
  EXPECT_EQ(Split("\"C:\\a.jpg\" \"C:\\b.mp3\" \"C:\\notes.txt\" "),
            (Names{"C:\\a.jpg", "C:\\b.mp3", "C:\\notes.txt"}));
}

// Explorer quotes only the paths with a blank; other callers quote nothing.
TEST(SplitCommandLine, UnquotedPathsAsExplorerAndOthersPassThem) {
  CFakeDisk disk{"C:\\pics\\a.jpg", "C:\\pics\\b.png", "C:\\My Pictures\\sea side.jpg",
                 "C:\\x y\\c.jpg", "D:\\two  blanks.jpg"};
  EXPECT_EQ(SplitCommandLine("C:\\pics\\a.jpg C:\\pics\\b.png", disk),
            (Names{"C:\\pics\\a.jpg", "C:\\pics\\b.png"}));
  EXPECT_EQ(SplitCommandLine("C:\\pics\\a.jpg \"C:\\x y\\c.jpg\" C:\\pics\\b.png", disk),
            (Names{"C:\\pics\\a.jpg", "C:\\x y\\c.jpg", "C:\\pics\\b.png"}));
  // A path with blanks passed unquoted is taken whole, alone or among others,
  // with its blanks exactly as given.
  EXPECT_EQ(SplitCommandLine("  C:\\My Pictures\\sea side.jpg ", disk),
            (Names{"C:\\My Pictures\\sea side.jpg"}));
  EXPECT_EQ(SplitCommandLine("C:\\pics\\a.jpg C:\\My Pictures\\sea side.jpg \"C:\\x y\\c.jpg\" "
                             "D:\\two  blanks.jpg C:\\pics\\b.png",
                             disk),
            (Names{"C:\\pics\\a.jpg", "C:\\My Pictures\\sea side.jpg", "C:\\x y\\c.jpg",
                   "D:\\two  blanks.jpg", "C:\\pics\\b.png"}));
  // Names of nothing on the disk follow the Windows rules.
  EXPECT_EQ(SplitCommandLine("C:\\gone\\a.jpg C:\\My Pictures\\missing.jpg", disk),
            (Names{"C:\\gone\\a.jpg", "C:\\My", "Pictures\\missing.jpg"}));
  // The longest name wins.
  CFakeDisk both{"a.jpg", "a.jpg b.jpg", "b.jpg"};
  EXPECT_EQ(SplitCommandLine("a.jpg b.jpg b.jpg", both), (Names{"a.jpg b.jpg", "b.jpg"}));
}

// Joining arguments asks the disk only while a longer name can still exist.
TEST(SplitCommandLine, AsksTheDiskABoundedNumberOfTimes) {
  CFakeDisk disk{};
  std::string args;
  for (int i = 0; i < 1000; ++i) {
    const std::string name = "C:\\pics\\IMG_20240101_" + std::to_string(100000 + i) + ".jpg";
    disk.Add(name);
    args += name + " ";
  }
  const Names names = SplitCommandLine(args, disk);
  ASSERT_EQ(names.size(), 1000u);
  EXPECT_EQ(names[999], "C:\\pics\\IMG_20240101_100999.jpg");
  EXPECT_LE(disk.questions, 3u * 1000u);

  // Unquoted names of nothing: no run of them longer than a name can be.
  CFakeDisk empty{};
  std::string words;
  for (int i = 0; i < 2000; ++i) words += "x ";
  EXPECT_EQ(SplitCommandLine(words, empty).size(), 2000u);
  EXPECT_LE(empty.questions, 2000u * 130u);
  CFakeDisk none{};
  std::string paths;
  for (int i = 0; i < 2000; ++i) paths += "C:\\gone\\IMG_" + std::to_string(i) + ".jpg ";
  EXPECT_EQ(SplitCommandLine(paths, none).size(), 2000u);
  EXPECT_LE(none.questions, 2u * 2000u);
}

TEST(ForwardedPayload, SplitLikeTheCommandLine) {
  CFakeDisk disk{"C:\\pics\\a.jpg", "C:\\pics\\b c.jpg"};
  const std::string several = "\"a.jpg\" \"b.jpg\"";
  EXPECT_EQ(SplitForwardedPayload(several.data(), several.size(), disk), (Names{"a.jpg", "b.jpg"}));
  const std::string explorer = "C:\\pics\\a.jpg C:\\pics\\b c.jpg";
  EXPECT_EQ(SplitForwardedPayload(explorer.data(), explorer.size(), disk),
            (Names{"C:\\pics\\a.jpg", "C:\\pics\\b c.jpg"}));
  // Empty and one-byte payloads add nothing.
  EXPECT_EQ(SplitForwardedPayload(nullptr, 0, disk), Names{});
  EXPECT_EQ(SplitForwardedPayload("\"", 1, disk), Names{});
  // A path longer than any fixed buffer arrives whole.
  const std::string longPath = "\"C:\\" + std::string(5000, 'x') + ".jpg\"";
  const Names got = SplitForwardedPayload(longPath.data(), longPath.size(), disk);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].size(), 5000u + 7u);
  // A zero byte inside the payload ends it.
  const char withNul[] = {'"', 'a', '.', 'j', 'p', 'g', '"', '\0', '"', 'b', '"'};
  EXPECT_EQ(SplitForwardedPayload(withNul, sizeof withNul, disk), (Names{"a.jpg"}));
}

// An older running version sends its argument string in the ANSI code page.
// On a Japanese Windows a name may hold a character whose trail byte is
// 0x5C: it must never be taken for a backslash, before a blank, before a
// closing quote or at the end.
TEST(ForwardedPayload, AnsiDoubleByteNamesArriveWholeInUtf8) {
  quib_test::CShiftJisSample sjis;
  quib::CPlatform platform;
  platform.codePage = &sjis;
  quib::InstallPlatform(platform);
  const std::string hyou = "\xE8\xA1\xA8", so = "\xE3\x82\xBD", nou = "\xE8\x83\xBD",
                    hatsu = "\xE7\x99\xBA";
  CFakeDisk disk({"C:\\" + hatsu + hyou + "\\" + so + " b.jpg", "C:\\x\\" + nou + ".jpg"});
  // Unquoted, a trail byte before the blank; quoted, one before the quote.
  const std::string payload = "C:\\\x94\xAD\x95\x5C\\\x83\x5C b.jpg \"C:\\x\\\x94\x5C.jpg\"";
  EXPECT_EQ(SplitForwardedPayload(payload.data(), payload.size(), disk, false),
            (Names{"C:\\" + hatsu + hyou + "\\" + so + " b.jpg", "C:\\x\\" + nou + ".jpg"}));
  // A name ending in such a character, quoted: the quote still closes it.
  const std::string folder = "\"C:\\\x94\xAD\x95\x5C\"";
  EXPECT_EQ(SplitForwardedPayload(folder.data(), folder.size(), disk, false),
            Names{"C:\\" + hatsu + hyou});
  quib::ResetPlatform();
}
