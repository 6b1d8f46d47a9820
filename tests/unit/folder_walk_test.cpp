// Finding the media files below a folder: folder by folder in natural
// order, nothing hidden or of the system, no link followed, nothing but
// pictures, movies and audio files, and an early end when asked.
#include "core/media/folder_walk.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "tests/unit/core_fakes.h"

using namespace quib_test;

namespace {

// Counts the questions to the system and cancels the walk on entering a
// given folder.
class CCountingTypes : public CTypesByName {
 public:
  bool QueryByName(const std::string& path, std::string& type) override {
    ++asked;
    return CTypesByName::QueryByName(path, type);
  }
  int asked = 0;
};
class CCancellingFolders : public CFakeFolders {
 public:
  bool List(const std::string& folder, std::vector<quib::FolderEntry>& entries) override {
    if (folder == cancelAt) cancel = true;
    return CFakeFolders::List(folder, entries);
  }
  std::string cancelAt;
  std::atomic<bool> cancel{false};
};

TEST(FolderWalk, FilesFolderByFolderInNaturalOrderAndNothingElse) {
  CCancellingFolders disk;
  // Filled out of order, as a file system may list them.
  for (const char* name : {"IMG_10.jpg", "IMG_2.jpg", "IMG_2.jpg.xmp", "notes.txt", "clip.mpg"}) {
    disk.AddFile("card", name);
  }
  disk.AddFile("card", "Thumbs.db", CFakeFolders::Hidden | CFakeFolders::System);
  disk.AddFile("card", "IMG_1.jpg", CFakeFolders::Hidden);
  disk.AddFile("card", "IMG_3.jpg", CFakeFolders::System);
  disk.AddFile("card", "IMG_4.jpg", CFakeFolders::Link);
  disk.AddFolder("card", "Day 10");
  disk.AddFolder("card", "Day 2");
  disk.AddFolder("card", "elsewhere", CFakeFolders::Link);
  disk.AddFolder("card", "$RECYCLE.BIN", CFakeFolders::Hidden | CFakeFolders::System);
  disk.AddFolder("card", "locked", CFakeFolders::Unreadable);
  disk.AddFile("card/Day 10", "a.png");
  disk.AddFile("card/Day 2", "c.jpg");
  disk.AddFolder("card/Day 2", "sub");
  disk.AddFile("card/Day 2", "B.jpg");
  disk.AddFile("card/Day 2/sub", "d.jpg");
  disk.AddFile("card/elsewhere", "outside.jpg");
  disk.AddFile("card/$RECYCLE.BIN", "deleted.jpg");
  CCountingTypes types;
  EXPECT_EQ(quib::FindMediaFiles("card", disk, types, disk.cancel),
            (std::vector<std::string>{"card/clip.mpg", "card/IMG_2.jpg", "card/IMG_10.jpg",
                                      "card/Day 2/B.jpg", "card/Day 2/c.jpg",
                                      "card/Day 2/sub/d.jpg", "card/Day 10/a.png"}));
  // Neither a link nor a hidden folder was opened; the unreadable one was
  // tried and the walk went on.
  EXPECT_EQ(disk.Listed(), (std::vector<std::string>{"card", "card/Day 2", "card/Day 2/sub",
                                                     "card/Day 10", "card/locked"}));
  // The system is asked once per ending: .mpg .jpg .xmp .txt .png.
  EXPECT_EQ(types.asked, 5);

  // Cancelled on entering "Day 2": nothing of it, and no folder after it.
  disk.cancelAt = "card/Day 2";
  EXPECT_EQ(quib::FindMediaFiles("card", disk, types, disk.cancel),
            (std::vector<std::string>{"card/clip.mpg", "card/IMG_2.jpg", "card/IMG_10.jpg"}));
  EXPECT_EQ(disk.Listed().back(), "card/Day 2");
}

TEST(FolderWalk, FoldersAreShownByTheirLastName) {
  EXPECT_EQ(quib::FolderDisplayName("C:\\Users\\anna\\Pictures\\Holiday 2024"), "Holiday 2024");
  EXPECT_EQ(quib::FolderDisplayName("C:\\DCIM\\100CANON\\"), "100CANON");
  EXPECT_EQ(quib::FolderDisplayName("/media/card/DCIM"), "DCIM");
  EXPECT_EQ(quib::FolderDisplayName("D:\\"), "D:");
}

}  // namespace
