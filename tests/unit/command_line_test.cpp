#include "app/command_line.h"

#include <gtest/gtest.h>

using quib::IsStopArgument;
using quib::SplitCommandLine;
using quib::SplitForwardedPayload;
using Names = std::vector<std::string>;

TEST(StopArgument, AnyCaseWithBlanks) {
  EXPECT_TRUE(IsStopArgument("-stop"));
  EXPECT_TRUE(IsStopArgument("  -STOP\t"));
  EXPECT_TRUE(IsStopArgument("-Stop \r\n"));
  EXPECT_FALSE(IsStopArgument("-stopp"));
  EXPECT_FALSE(IsStopArgument("stop"));
  EXPECT_FALSE(IsStopArgument("\"-stop\""));
  EXPECT_FALSE(IsStopArgument(""));
}

TEST(SplitCommandLine, QuotedUnquotedAndBlank) {
  EXPECT_EQ(SplitCommandLine("\"C:\\A B\\x.jpg\" \"C:\\y.png\""),
            (Names{"C:\\A B\\x.jpg", "C:\\y.png"}));
  EXPECT_EQ(SplitCommandLine("C:\\x.jpg"), (Names{"C:\\x.jpg"}));
  EXPECT_EQ(SplitCommandLine("C:\\a.jpg C:\\b.jpg"), (Names{"C:\\a.jpg C:\\b.jpg"}));
  EXPECT_EQ(SplitCommandLine(""), Names{});
  EXPECT_EQ(SplitCommandLine("   "), Names{});
  EXPECT_EQ(SplitCommandLine("\"\"\"a.jpg\"\"\"  \" \""), (Names{"a.jpg"}));
  EXPECT_EQ(SplitCommandLine("\"C:\\a.jpg\" \"C:\\b.mp3\" \"C:\\notes.txt\" "),
            (Names{"C:\\a.jpg", "C:\\b.mp3", "C:\\notes.txt"}));
}

TEST(ForwardedPayload, SplitLikeTheCommandLine) {
  const std::string several = "\"a.jpg\" \"b.jpg\"";
  EXPECT_EQ(SplitForwardedPayload(several.data(), several.size()), (Names{"a.jpg", "b.jpg"}));
  const std::string one = "\"C:\\pics\\a.jpg\"";
  EXPECT_EQ(SplitForwardedPayload(one.data(), one.size()), (Names{"C:\\pics\\a.jpg"}));
  // Empty and one-byte payloads add nothing.
  EXPECT_EQ(SplitForwardedPayload(nullptr, 0), Names{});
  EXPECT_EQ(SplitForwardedPayload("\"", 1), Names{});
  // A path longer than any fixed buffer arrives whole.
  const std::string longPath = "\"C:\\" + std::string(5000, 'x') + ".jpg\"";
  const Names got = SplitForwardedPayload(longPath.data(), longPath.size());
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].size(), 5000u + 7u);
  // A zero byte inside the payload ends it.
  const char withNul[] = {'"', 'a', '.', 'j', 'p', 'g', '"', '\0', '"', 'b', '"'};
  EXPECT_EQ(SplitForwardedPayload(withNul, sizeof withNul), (Names{"a.jpg"}));
}
