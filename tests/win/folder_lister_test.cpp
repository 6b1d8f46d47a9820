// Folder listings through FindFirstFileExW under Wine: UTF-8 names, the
// hidden and system attributes, links, and folders deeper than MAX_PATH.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "adapters/long_path.h"
#include "core/ports/folder_lister.h"
#include "core/ports/platform.h"
#include "tests/win/support/unix_link.h"

namespace {

std::wstring Wide(const std::string& utf8) {
  return quib::LongWidePath(utf8);
}

// The entries of a folder by name; ok tells whether it could be listed.
std::map<std::string, quib::FolderEntry> List(const std::string& folder, bool& ok) {
  std::vector<quib::FolderEntry> entries;
  ok = quib::Folders().List(folder, entries);
  std::map<std::string, quib::FolderEntry> byName;
  for (const quib::FolderEntry& e : entries) byName[e.name] = e;
  EXPECT_EQ(byName.size(), entries.size()) << "a name twice";
  return byName;
}

TEST(FolderLister, NamesAttributesLinksAndLongPaths) {
  char temp[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  const std::string root =
      std::string(temp) + "quib-lister-" + std::to_string(GetCurrentProcessId());
  // "写真 2024.jpg" and "Ürlaub" in UTF-8, a folder chain past MAX_PATH.
  const std::string photo = "\xE5\x86\x99\xE7\x9C\x9F 2024.jpg", trip = root + "\\\xC3\x9Crlaub";
  std::string deep = trip;
  while (deep.size() < 300) deep += "\\" + std::string(70, 'd');
  std::vector<std::string> folders = {root, trip, root + "\\.cache", root + "\\outside"};
  for (std::string f = trip + "\\"; f.size() < deep.size();) {
    f = deep.substr(0, deep.find('\\', f.size() + 1));
    folders.push_back(f);
  }
  const std::map<std::string, DWORD> files = {
      {root + "\\" + photo, FILE_ATTRIBUTE_NORMAL},
      {root + "\\Thumbs.db", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
      {root + "\\hidden.jpg", FILE_ATTRIBUTE_HIDDEN},
      {deep + "\\IMG_0001.jpg", FILE_ATTRIBUTE_NORMAL}};
  for (const std::string& f : folders) ASSERT_TRUE(CreateDirectoryW(Wide(f).c_str(), nullptr)) << f;
  ASSERT_TRUE(SetFileAttributesW(Wide(root + "\\.cache").c_str(), FILE_ATTRIBUTE_HIDDEN));
  for (const auto& f : files) {
    HANDLE h = CreateFileW(Wide(f.first).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, f.second,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << f.first;
    CloseHandle(h);
  }
  const std::string link = trip + "\\elsewhere";
  ASSERT_TRUE(quibtest::MakeFolderLink(root + "\\outside", link)) << "ln did not run";

  bool ok = false;
  auto entries = List(root, ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(entries.size(), 6u);
  const quib::FolderEntry& p = entries[photo];
  EXPECT_EQ(p.path, root + "\\" + photo);
  EXPECT_FALSE(p.folder || p.hidden || p.system || p.link);
  EXPECT_TRUE(entries["Thumbs.db"].hidden && entries["Thumbs.db"].system);
  EXPECT_TRUE(entries["hidden.jpg"].hidden && !entries["hidden.jpg"].system);
  EXPECT_TRUE(entries[".cache"].folder && entries[".cache"].hidden);
  EXPECT_TRUE(entries["\xC3\x9Crlaub"].folder && !entries["\xC3\x9Crlaub"].link);
  // The link is marked; a folder given with its separator gets no second.
  auto inner = List(trip + "\\", ok);
  ASSERT_TRUE(ok);
  EXPECT_TRUE(inner["elsewhere"].link);
  EXPECT_EQ(inner["elsewhere"].path, link);
  auto deepest = List(deep, ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(deepest.size(), 1u);
  EXPECT_EQ(deepest["IMG_0001.jpg"].path, deep + "\\IMG_0001.jpg");
  // An empty folder lists nothing; a missing one cannot be listed.
  EXPECT_TRUE(List(root + "\\outside", ok).empty());
  EXPECT_TRUE(ok);
  List(root + "\\missing", ok);
  EXPECT_FALSE(ok);

  EXPECT_TRUE(quibtest::RemoveLink(link));
  for (const auto& f : files) {
    SetFileAttributesW(Wide(f.first).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(DeleteFileW(Wide(f.first).c_str())) << f.first;
  }
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    EXPECT_TRUE(RemoveDirectoryW(Wide(*it).c_str())) << *it;
  }
}

}  // namespace
