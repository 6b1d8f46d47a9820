// Finding the media files below a folder: folder by folder in natural
// order, nothing hidden, no link followed, nothing but pictures, movies and
// audio files, and an early end when asked.
#include "core/media/folder_walk.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/unit/core_fakes.h"

using namespace quib_test;

namespace {

// Records how often each ending was asked about.
class CCountingTypes : public CTypesByName {
 public:
  bool QueryByName(const std::string& path, std::string& type) override {
    ++asked;
    return CTypesByName::QueryByName(path, type);
  }
  int asked = 0;
};

TEST(FolderWalk, FilesFolderByFolderInNaturalOrderAndNothingElse) {
  CFakeFolders disk;
  // Filled out of order, as a file system may list them.
  disk.AddFile("card", "IMG_10.jpg");
  disk.AddFolder("card", "Day 10");
  disk.AddFile("card", "IMG_2.jpg");
  disk.AddFile("card", "IMG_2.jpg.xmp");
  disk.AddFile("card", "Thumbs.db", CFakeFolders::Hidden | CFakeFolders::System);
  disk.AddFile("card", "IMG_1.jpg", CFakeFolders::Hidden);
  disk.AddFile("card", "IMG_3.jpg", CFakeFolders::System);
  disk.AddFile("card", "IMG_4.jpg", CFakeFolders::Link);
  disk.AddFile("card", "notes.txt");
  disk.AddFile("card", "clip.mpg");
  disk.AddFolder("card", "Day 2");
  disk.AddFolder("card", "elsewhere", CFakeFolders::Link);
  disk.AddFolder("card", "$RECYCLE.BIN", CFakeFolders::Hidden | CFakeFolders::System);
  disk.AddFile("card/Day 10", "a.png");
  disk.AddFile("card/Day 2", "c.jpg");
  disk.AddFolder("card/Day 2", "sub");
  disk.AddFile("card/Day 2", "B.jpg");
  disk.AddFile("card/Day 2/sub", "d.jpg");
  disk.AddFile("card/elsewhere", "outside.jpg");
  disk.AddFile("card/$RECYCLE.BIN", "deleted.jpg");
  CCountingTypes types;
  const std::atomic<bool> cancel{false};
  EXPECT_EQ(quib::FindMediaFiles("card", disk, types, cancel),
            (std::vector<std::string>{"card/clip.mpg", "card/IMG_2.jpg", "card/IMG_10.jpg",
                                      "card/Day 2/B.jpg", "card/Day 2/c.jpg",
                                      "card/Day 2/sub/d.jpg", "card/Day 10/a.png"}));
  // Neither a link nor a hidden folder was opened.
  EXPECT_EQ(disk.Listed(),
            (std::vector<std::string>{"card", "card/Day 2", "card/Day 2/sub", "card/Day 10"}));
  // The system is asked once per ending: .mpg .jpg .xmp .txt .png.
  EXPECT_EQ(types.asked, 5);
}

TEST(FolderWalk, AFolderThatCannotBeReadAddsNothingAndTheWalkGoesOn) {
  CFakeFolders disk;
  disk.AddFolder("top", "locked", CFakeFolders::Unreadable);
  disk.AddFile("top", "z.jpg");
  disk.AddFolder("top", "open");
  disk.AddFile("top/open", "y.jpg");
  CTypesByName types;
  const std::atomic<bool> cancel{false};
  EXPECT_TRUE(quib::FindMediaFiles("missing", disk, types, cancel).empty());
  EXPECT_EQ(quib::FindMediaFiles("top", disk, types, cancel),
            (std::vector<std::string>{"top/z.jpg", "top/open/y.jpg"}));
}

// Cancels the walk while a given folder is being listed.
class CCancellingLister : public CFakeFolders {
 public:
  CCancellingLister(std::atomic<bool>& cancel, std::string at)
      : cancel_(cancel), at_(std::move(at)) {}
  bool List(const std::string& folder, std::vector<quib::FolderEntry>& entries) override {
    if (folder == at_) cancel_ = true;
    return CFakeFolders::List(folder, entries);
  }

 private:
  std::atomic<bool>& cancel_;
  std::string at_;
};

TEST(FolderWalk, ACancelledWalkListsNoFurtherFolder) {
  std::atomic<bool> cancel{false};
  CCancellingLister disk(cancel, "root/f03");
  disk.AddFile("root", "top.jpg");
  for (int i = 0; i < 10; ++i) {
    const std::string name = "f0" + std::to_string(i);
    disk.AddFolder("root", name);
    disk.AddFile("root/" + name, "p.jpg");
  }
  CTypesByName types;
  const std::vector<std::string> found = quib::FindMediaFiles("root", disk, types, cancel);
  EXPECT_EQ(found, (std::vector<std::string>{"root/top.jpg", "root/f00/p.jpg", "root/f01/p.jpg",
                                             "root/f02/p.jpg"}));
  EXPECT_EQ(disk.Listed().back(), "root/f03");
  EXPECT_EQ(disk.Listed().size(), 5u);
}

// The portable lister on a real folder: dot names are hidden, symbolic
// links lead out of the tree and are not followed.
TEST(FolderWalk, RealFoldersWithLinksOutOfTheTree) {
  namespace fs = std::filesystem;
  CTempFolder temp("walk");
  const fs::path root = fs::path(temp.Path()) / "tree";
  const fs::path outside = fs::path(temp.Path()) / "outside";
  for (const fs::path& p : {root / "Day 10", root / "Day 2" / "deep", root / ".cache", outside}) {
    fs::create_directories(p);
  }
  for (const fs::path& p :
       {root / "IMG_10.jpg", root / "IMG_9.jpg", root / "IMG_9.jpg.xmp", root / ".hidden.jpg",
        root / "notes.txt", root / "Day 10" / "x.png", root / "Day 2" / "deep" / "y.mpg",
        root / ".cache" / "cached.jpg", outside / "far.jpg"}) {
    std::ofstream(p) << "bytes";
  }
  std::error_code ec;
  fs::create_directory_symlink(outside, root / "link", ec);
  ASSERT_FALSE(ec) << ec.message();
  fs::create_symlink(outside / "far.jpg", root / "far-link.jpg", ec);
  ASSERT_FALSE(ec) << ec.message();

  quib::CStdFolderLister lister;
  std::vector<quib::FolderEntry> entries;
  ASSERT_TRUE(lister.List(root.string(), entries));
  EXPECT_EQ(entries.size(), 10u);
  for (const quib::FolderEntry& e : entries) {
    EXPECT_EQ(e.path, (root / e.name).string());
    EXPECT_EQ(e.link, e.name == "link" || e.name == "far-link.jpg") << e.name;
    EXPECT_EQ(e.hidden, e.name[0] == '.') << e.name;
    EXPECT_EQ(e.folder, e.name == "link" || e.name.rfind("Day", 0) == 0 || e.name == ".cache")
        << e.name;
  }
  EXPECT_FALSE(lister.List((root / "none").string(), entries));

  CTypesByName types;
  const std::atomic<bool> cancel{false};
  EXPECT_EQ(quib::FindMediaFiles(root.string(), lister, types, cancel),
            (std::vector<std::string>{(root / "IMG_9.jpg").string(), (root / "IMG_10.jpg").string(),
                                      (root / "Day 2" / "deep" / "y.mpg").string(),
                                      (root / "Day 10" / "x.png").string()}));
}

TEST(FolderWalk, FoldersAreShownByTheirLastName) {
  EXPECT_EQ(quib::FolderDisplayName("C:\\Users\\anna\\Pictures\\Holiday 2024"), "Holiday 2024");
  EXPECT_EQ(quib::FolderDisplayName("C:\\DCIM\\100CANON\\"), "100CANON");
  EXPECT_EQ(quib::FolderDisplayName("/media/card/DCIM"), "DCIM");
  EXPECT_EQ(quib::FolderDisplayName("D:\\"), "D:");
  EXPECT_EQ(quib::FolderDisplayName("\\\\server\\share\\photos"), "photos");
  EXPECT_EQ(quib::FolderDisplayName("photos"), "photos");
}

}  // namespace
