#include "core/text/file_selection.h"

#include <gtest/gtest.h>

#include "tests/unit/core_fakes.h"

using quib::FilesThatFit;
using quib::ReadFileSelection;
using quib::SpecFileNames;
using Names = std::vector<std::string>;

TEST(FileSelection, OneFileOrAFolderWithNames) {
  const std::string one("C:\\pics\\a.jpg\0\0", 15);
  quib::FileSelection got = ReadFileSelection(one.data(), one.size());
  EXPECT_TRUE(got.complete);
  EXPECT_EQ(got.paths, Names{"C:\\pics\\a.jpg"});

  const std::string many("C:\\pics\0b.jpg\0a.png\0c d.gif\0\0trailing", 37);
  got = ReadFileSelection(many.data(), many.size());
  EXPECT_TRUE(got.complete);
  EXPECT_EQ(got.paths, (Names{"C:\\pics\\b.jpg", "C:\\pics\\a.png", "C:\\pics\\c d.gif"}));

  const std::string root("C:\\\0a.jpg\0b.jpg\0\0", 17);
  EXPECT_EQ(ReadFileSelection(root.data(), root.size()).paths, (Names{"C:\\a.jpg", "C:\\b.jpg"}));
  EXPECT_EQ(ReadFileSelection("\0\0", 2).paths, Names{});
}

// A list cut at the buffer's end (Wine's dialog returns it as success) is
// read no further than the buffer, and the cut name is not taken.
TEST(FileSelection, ACutListIsNoticedAndNotOverread) {
  const std::string full("C:\\pics\0aa.jpg\0bb.jpg\0cc.jpg\0\0", 30);
  for (size_t size = 0; size < full.size(); ++size) {
    SCOPED_TRACE(size);
    // A copy of exactly size bytes: reading beyond it is caught by the
    // sanitizers.
    std::vector<char> cut(full.begin(), full.begin() + static_cast<long>(size));
    const quib::FileSelection got = ReadFileSelection(cut.data(), cut.size());
    EXPECT_FALSE(got.complete);
    const size_t whole = size >= 29 ? 3 : size >= 22 ? 2 : size >= 15 ? 1 : 0;
    ASSERT_EQ(got.paths.size(), whole);
    if (whole > 0) {
      EXPECT_EQ(got.paths[0], "C:\\pics\\aa.jpg");
    }
  }
  EXPECT_TRUE(ReadFileSelection(full.data(), full.size()).complete);
}

TEST(FileSelection, NamesInTheFileNameField) {
  EXPECT_EQ(SpecFileNames("\"a.jpg\" \"b c.png\" \"d.gif\""), (Names{"a.jpg", "b c.png", "d.gif"}));
  EXPECT_EQ(SpecFileNames("single name.jpg"), Names{"single name.jpg"});
  EXPECT_EQ(SpecFileNames(""), Names{});
  EXPECT_EQ(SpecFileNames("\"a.jpg\" \"\" \"unclosed.jpg"), (Names{"a.jpg", "unclosed.jpg"}));
}

TEST(FileSelection, HowManyFilesFit) {
  const Names names{"aa.jpg", "bb.jpg", "cc.jpg"};
  // "C:\pics" 7 + 1, each name 6 + 1, the closing zero: 30 bytes in all.
  EXPECT_EQ(FilesThatFit(names, 7, 30), 3u);
  EXPECT_EQ(FilesThatFit(names, 7, 29), 2u);
  EXPECT_EQ(FilesThatFit(names, 7, 16), 1u);
  EXPECT_EQ(FilesThatFit(names, 7, 15), 0u);
  Names camera;
  for (int i = 0; i < 3000; ++i)
    camera.push_back("IMG_20240101_" + std::to_string(100000 + i) + ".jpg");
  EXPECT_EQ(FilesThatFit(camera, 20, 10240), 425u);
}

// The ANSI form of a selection from a folder whose last character has the
// trail byte 0x5C ("C:\発表"): the folder does not end in a backslash.
TEST(FileSelection, AFolderEndingInATrailByte0x5CStillGetsItsSeparator) {
  const std::string buffer("C:\\\x94\xAD\x95\x5C\0a.jpg\0b.jpg\0\0", 22);
  EXPECT_EQ(ReadFileSelection(buffer.data(), buffer.size(), quib_test::CShiftJisSample::Lead).paths,
            (Names{"C:\\\x94\xAD\x95\x5C\\a.jpg", "C:\\\x94\xAD\x95\x5C\\b.jpg"}));
  // A real backslash at the end (a drive's root) is not doubled.
  const std::string root("C:\\\0a.jpg\0b.jpg\0\0", 17);
  EXPECT_EQ(ReadFileSelection(root.data(), root.size(), quib_test::CShiftJisSample::Lead).paths,
            (Names{"C:\\a.jpg", "C:\\b.jpg"}));
}
