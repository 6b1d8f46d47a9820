// Folder listings through FindFirstFileExW under Wine: UTF-8 names, the
// hidden and system attributes, links, and folders deeper than MAX_PATH.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "adapters/long_path.h"
#include "core/ports/folder_lister.h"
#include "core/ports/platform.h"
#include "tests/win/support/unix_link.h"

namespace {

class FolderLister : public testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    root_ = std::string(temp) + "quib-lister-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(MakeFolder(root_));
  }
  void TearDown() override {
    for (const std::string& link : links_) quibtest::RemoveLink(link);
    for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
      SetFileAttributesW(quib::LongWideForm(Utf8ToWide(*it)).c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(quib::LongWideForm(Utf8ToWide(*it)).c_str());
    }
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
      SetFileAttributesW(quib::LongWideForm(Utf8ToWide(*it)).c_str(), FILE_ATTRIBUTE_NORMAL);
      RemoveDirectoryW(quib::LongWideForm(Utf8ToWide(*it)).c_str());
    }
  }
  // UTF-8 paths, made with the wide functions.
  bool MakeFolder(const std::string& path, DWORD attributes = 0) {
    if (!CreateDirectoryW(quib::LongWideForm(Utf8ToWide(path)).c_str(), nullptr)) return false;
    folders_.push_back(path);
    return !attributes ||
           SetFileAttributesW(quib::LongWideForm(Utf8ToWide(path)).c_str(), attributes);
  }
  bool MakeFile(const std::string& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    HANDLE file = CreateFileW(quib::LongWideForm(Utf8ToWide(path)).c_str(), GENERIC_WRITE, 0,
                              nullptr, CREATE_NEW, attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    files_.push_back(path);
    return true;
  }
  std::map<std::string, quib::FolderEntry> List(const std::string& folder, bool* ok = nullptr) {
    std::vector<quib::FolderEntry> entries;
    const bool listed = quib::Folders().List(folder, entries);
    if (ok) *ok = listed;
    std::map<std::string, quib::FolderEntry> byName;
    for (const quib::FolderEntry& e : entries) byName[e.name] = e;
    EXPECT_EQ(byName.size(), entries.size()) << "a name twice";
    return byName;
  }

  std::string root_;
  std::vector<std::string> folders_, files_, links_;
};

TEST_F(FolderLister, NamesAttributesAndLinks) {
  // "写真 2024.jpg" and "Ürlaub" in UTF-8.
  const std::string photo = "\xE5\x86\x99\xE7\x9C\x9F 2024.jpg", trip = "\xC3\x9Crlaub";
  ASSERT_TRUE(MakeFile(root_ + "\\" + photo));
  ASSERT_TRUE(MakeFile(root_ + "\\Thumbs.db", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(MakeFile(root_ + "\\hidden.jpg", FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(MakeFolder(root_ + "\\" + trip));
  ASSERT_TRUE(MakeFolder(root_ + "\\.cache", FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(MakeFolder(root_ + "\\outside"));
  const std::string link = root_ + "\\" + trip + "\\elsewhere";
  ASSERT_TRUE(quibtest::MakeFolderLink(root_ + "\\outside", link)) << "ln did not run";
  links_.push_back(link);

  bool ok = false;
  auto entries = List(root_, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(entries.size(), 6u);
  const quib::FolderEntry& p = entries[photo];
  EXPECT_EQ(p.path, root_ + "\\" + photo);
  EXPECT_FALSE(p.folder || p.hidden || p.system || p.link);
  EXPECT_TRUE(entries["Thumbs.db"].hidden && entries["Thumbs.db"].system);
  EXPECT_TRUE(entries["hidden.jpg"].hidden);
  EXPECT_FALSE(entries["hidden.jpg"].system);
  EXPECT_TRUE(entries[trip].folder);
  EXPECT_FALSE(entries[trip].link);
  EXPECT_TRUE(entries[".cache"].folder && entries[".cache"].hidden);

  // The link leads out of the folder: marked, and listed without the dots.
  auto inner = List(root_ + "\\" + trip + "\\", &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(inner.size(), 1u);
  EXPECT_TRUE(inner["elsewhere"].link);
  EXPECT_EQ(inner["elsewhere"].path, link) << "no doubled separator";

  // An empty folder lists nothing; a missing one cannot be listed.
  EXPECT_TRUE(List(root_ + "\\outside", &ok).empty());
  EXPECT_TRUE(ok);
  List(root_ + "\\missing", &ok);
  EXPECT_FALSE(ok);
}

TEST_F(FolderLister, FoldersDeeperThanMaxPath) {
  std::string deep = root_;
  while (deep.size() < 300) {
    deep += "\\" + std::string(70, 'd');
    ASSERT_TRUE(MakeFolder(deep)) << deep;
  }
  ASSERT_TRUE(MakeFile(deep + "\\IMG_0001.jpg"));
  ASSERT_TRUE(MakeFolder(deep + "\\sub"));
  bool ok = false;
  auto entries = List(deep, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries["IMG_0001.jpg"].path, deep + "\\IMG_0001.jpg");
  EXPECT_TRUE(entries["sub"].folder);
}

}  // namespace
