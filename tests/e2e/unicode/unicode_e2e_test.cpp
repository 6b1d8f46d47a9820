// File names in any script reach the list by every route (command line,
// second start, file dialog, drop) and the album service with their exact
// names; a portrait camera picture under a path longer than the old limit
// of 260 characters; and, under the Japanese code page 932, names whose
// second byte is a backslash.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/batch/batch_support.h"
#include "tests/e2e/driver/driver.h"
#include "tests/e2e/driver/service_hooks.h"

using namespace e2e;

namespace {

constexpr int kAddFiles = 1002, kRotate = 1006, kUpload = 1007;

// "写真 2024", "Ürlaub" (the one code page 1252 spells), "Ελλάδα", the photo
// emoji, "ソ能表" (each with the trail byte 0x5C in code page 932), "Λίμνη".
const std::string kCjk = "\xE5\x86\x99\xE7\x9C\x9F 2024.jpg";
const std::string kUmlaut = "\xC3\x9Crlaub.jpg";
const std::string kGreek = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1.png";
const std::string kEmoji = "\xF0\x9F\x93\xB7 camera.jpg";
const std::string kKana = "\xE3\x82\xBD\xE8\x83\xBD\xE8\xA1\xA8.jpg";
const std::string kLake = "\xCE\x9B\xCE\xAF\xCE\xBC\xCE\xBD\xCE\xB7.jpg";
const std::string kFolder = "\xE5\x86\x99\xE7\x9C\x9F \xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1 "
                            "\xF0\x9F\x93\xB7";

// A picture's bytes, drawn through a plain temporary name.
std::string PictureBytes(const std::string& scratch, int w, int h, COLORREF colour) {
  const std::string ext = scratch.substr(scratch.rfind('.'));
  const std::string path = MakeTempDir("u-scratch") + "\\p" + ext;
  EXPECT_TRUE(WritePicture(path, w, h, colour));
  const std::string bytes = ReadBytes(path);
  DeleteFileA(path.c_str());
  return bytes;
}

// The list's captions once it holds count entries (bounded wait).
std::vector<std::string> WaitCaptions(HWND list, size_t count) {
  std::vector<std::string> captions;
  WaitUntil(
      [&] {
        captions = ListCaptionsUtf8(list);
        return captions.size() == count;
      },
      60000);
  return captions;
}

class UnicodeNames : public testing::Test {
 protected:
  void SetUp() override {
    if (GetACP() != 1252) GTEST_SKIP() << "runs under code page 1252";
    const std::string error = EnvVar("QUIB_UPLOAD_SERVICE_ERROR");
    if (!error.empty()) FAIL() << error;
    if (UploadServiceUrl().empty()) GTEST_SKIP() << "QUIB_UPLOAD_SERVICE_URL is not set";
    batch::StartGdiplus();
    tempBefore_ = CountTempFiles("NEW*.TMP");
    base_ = MakeTempDir("unicode");
    dir_ = base_ + "\\" + kFolder;
    ASSERT_TRUE(MakeDirUtf8(dir_));
    user_ = NewAccount("unicode", "pass");
    ASSERT_FALSE(user_.empty());
    ClearProfile();
    StoreCredentials(user_, "pass");
    StoreProfileInt("AskFolder", 0);
    StoreProfileInt("AskResize", 0);
    StoreProfileInt("ResizeImage", 1);  // larger than 640 x 480: shrunk into 640
  }
  void TearDown() override {
    if (program_) {
      program_->Close();
      EXPECT_TRUE(program_->WaitExit(10000));
    }
    EXPECT_EQ(CountTempFiles("NEW*.TMP"), tempBefore_) << "temporary copies left behind";
    ClearProfile();
    if (!base_.empty()) RemoveTreeUtf8(base_);
  }
  std::string File(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "\\" + name;
    EXPECT_TRUE(WriteBytesUtf8(path, bytes)) << path;
    return path;
  }
  // Uploads the list to the public inbox and answers the final message.
  void UploadAll(HWND main, size_t count) {
    PostClick(main, kUpload);
    HWND box = WaitForMessageBox(program_->Pid(), 180000);
    ASSERT_TRUE(box) << "the run did not end";
    EXPECT_EQ(MessageBoxText(box), std::to_string(count) + " file(s) successfully uploaded.");
    PostClick(box, IDOK);
    EXPECT_TRUE(WaitWindowGone(box, 10000));
  }

  int tempBefore_ = 0;
  std::string base_, dir_, user_;
  std::unique_ptr<CProgram> program_;
};

TEST_F(UnicodeNames, EveryRouteTakesAnyNameAndTheServiceGetsItExactly) {
  std::map<std::string, std::string> bytes{
      {kCjk, PictureBytes(".jpg", 1600, 1200, RGB(200, 40, 40))},
      {kUmlaut, PictureBytes(".jpg", 320, 240, RGB(40, 200, 40))},
      {kGreek, PictureBytes(".png", 200, 100, RGB(40, 40, 200))},
      {kEmoji, PictureBytes(".jpg", 300, 200, RGB(200, 200, 40))},
      {kKana, PictureBytes(".jpg", 300, 200, RGB(40, 200, 200))},
      {kLake, PictureBytes(".jpg", 300, 200, RGB(200, 40, 200))}};
  std::map<std::string, std::string> path;
  for (const auto& b : bytes) path[b.first] = File(b.first, b.second);

  // The command line, as "Send To" gives it.
  program_ = CProgram::LaunchUtf8("\"" + path[kCjk] + "\" \"" + path[kUmlaut] + "\"");
  ASSERT_TRUE(program_);
  HWND main = program_->WaitMainWindow();
  ASSERT_TRUE(main);
  HWND list = GetDlgItem(main, batch::kList);
  EXPECT_EQ(WaitCaptions(list, 2), (std::vector<std::string>{kCjk, kUmlaut}));

  // A second start with a name code page 1252 cannot carry.
  EXPECT_TRUE(CProgram::LaunchUtf8("\"" + path[kGreek] + "\"")->WaitExit(30000));
  EXPECT_EQ(WaitCaptions(list, 3).back(), kGreek);

  // The file dialog, the name typed into its field.
  PostClick(main, kAddFiles);
  HWND dialog = WaitForWindow("Select Files", program_->Pid(), 30000);
  ASSERT_TRUE(dialog) << "no file dialog";
  HWND field = GetDlgItem(dialog, 0x47C);  // a combo box with an edit, or an edit
  if (!field) field = GetDlgItem(dialog, 0x480);
  ASSERT_TRUE(field);
  SetTextUtf8(field, path[kEmoji]);
  PostClick(dialog, IDOK);
  ASSERT_TRUE(WaitWindowGone(dialog, 30000));
  EXPECT_EQ(WaitCaptions(list, 4).back(), kEmoji);

  // A drop of wide names, as Explorer sends them.
  ASSERT_TRUE(DropFilesUtf8(list, {path[kKana], path[kLake]}, 10000));
  const std::vector<std::string> captions = WaitCaptions(list, 6);
  EXPECT_EQ(captions, (std::vector<std::string>{kCjk, kUmlaut, kGreek, kEmoji, kKana, kLake}));
  EXPECT_EQ(WaitForMessageBox(program_->Pid(), 0), nullptr) << "a picture was not read";
  SaveScreenshot(main, "unicode-names");

  // Turn the Greek one; the large one is shrunk on the way.
  SelectListEntry(list, 2, true);
  PostClick(main, kRotate);
  UploadAll(main, 6);
  EXPECT_TRUE(WaitUntil([&] { return ListCaptionsUtf8(list).empty(); }, 10000));

  std::map<std::string, TsvRow> stored;
  for (const TsvRow& row : StoredMedia(user_)) stored[row.at("filename")] = row;
  ASSERT_EQ(stored.size(), 6u);
  for (const auto& b : bytes) {
    SCOPED_TRACE(b.first);
    ASSERT_EQ(stored.count(b.first), 1u) << "not uploaded under its exact name";
    const TsvRow& row = stored[b.first];
    const std::string file = ToWindowsPath(row.at("path"));
    PictureInfo info;
    ASSERT_TRUE(ReadPicture(file, &info));
    if (b.first == kCjk) {
      EXPECT_EQ(info.width * 1000 + info.height, 640u * 1000 + 480u) << "not shrunk";
    } else if (b.first == kGreek) {
      EXPECT_EQ(info.width * 1000 + info.height, 100u * 1000 + 200u) << "not turned";
    } else {
      EXPECT_TRUE(ReadBytes(file) == b.second) << "not sent as it is";
      // The file part's own name is ANSI, "?" for what the code page lacks.
      const std::string part = row.at("part_name");
      if (b.first == kUmlaut) {
        EXPECT_EQ(part, "\xDCrlaub.jpg") << "not today's request";
      } else {
        EXPECT_EQ(part.find_first_not_of("? .abcdefghijklmnopqrstuvwxyzjpg"), std::string::npos)
            << part;
      }
    }
  }
}

TEST_F(UnicodeNames, APortraitCameraPictureUnderAVeryLongPathIsUpright) {
  // Nested folders to more than 300 characters, named in Japanese as well.
  std::string folder = dir_;
  while (folder.size() < 300) {
    folder += "\\\xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x80 folder";
    ASSERT_TRUE(MakeDirUtf8(folder)) << folder.size();
  }
  // A camera's portrait: stored 1200 x 900 on its side, EXIF orientation 6.
  const std::string scratch = MakeTempDir("u-scratch") + "\\split.jpg";
  ASSERT_TRUE(batch::WriteSplitJpeg(scratch, 1200, 900, batch::kSplitLeft, batch::kSplitRight));
  const std::string camera = batch::CameraBytes(ReadBytes(scratch), 1200, 900, 6, "");
  DeleteFileA(scratch.c_str());
  const std::string portrait = folder + "\\" + kCjk;
  const std::string small = folder + "\\" + kUmlaut;
  const std::string smallBytes = PictureBytes(".jpg", 320, 240, RGB(40, 200, 40));
  ASSERT_TRUE(WriteBytesUtf8(portrait, camera));
  ASSERT_TRUE(WriteBytesUtf8(small, smallBytes));

  program_ = CProgram::LaunchUtf8("\"" + portrait + "\" \"" + small + "\"");
  ASSERT_TRUE(program_);
  HWND main = program_->WaitMainWindow();
  ASSERT_TRUE(main);
  HWND list = GetDlgItem(main, batch::kList);
  ASSERT_EQ(WaitCaptions(list, 2).size(), 2u);
  // Its thumbnail stands upright: the left half of the stored picture on top.
  ASSERT_TRUE(WaitUntil(
      [&] {
        const std::vector<ListEntry> entries = ReadListView(list);
        return entries.size() == 2 && entries[0].image > 0;
      },
      60000));
  batch::ListShot shot;
  RECT area{};
  ASSERT_TRUE(batch::ShootList(list, "unicode-long-path", &shot));
  ASSERT_TRUE(batch::IconInShot(list, 0, &area));
  const batch::Patch top = batch::Measure(*shot.bitmap, area, batch::kSplitLeft);
  const batch::Patch bottom = batch::Measure(*shot.bitmap, area, batch::kSplitRight);
  ASSERT_GT(top.count, 0);
  ASSERT_GT(bottom.count, 0);
  EXPECT_LT(top.meanY, bottom.meanY) << "the thumbnail lies on its side";

  UploadAll(main, 2);
  std::map<std::string, TsvRow> stored;
  for (const TsvRow& row : StoredMedia(user_)) stored[row.at("filename")] = row;
  ASSERT_EQ(stored.count(kUmlaut), 1u);
  // Read whole through the long path: its size and its bytes.
  EXPECT_EQ(stored[kUmlaut].at("size"), std::to_string(smallBytes.size()));
  EXPECT_TRUE(ReadBytes(ToWindowsPath(stored[kUmlaut].at("path"))) == smallBytes);
  // The shrunk copy is upright and keeps the camera's EXIF block.
  ASSERT_EQ(stored.count(kCjk), 1u);
  const std::string copy = ReadBytes(ToWindowsPath(stored[kCjk].at("path")));
  EXPECT_NE(copy.find("Exif"), std::string::npos) << "the EXIF block was lost";
  PictureInfo info;
  ASSERT_TRUE(ReadPicture(ToWindowsPath(stored[kCjk].at("path")), &info));
  EXPECT_EQ(info.width * 1000 + info.height, 480u * 1000 + 640u) << "not upright, or not shrunk";
}

// Under the Japanese code page: names holding characters whose second byte
// is 0x5C arrive whole by the command line and by a second start, which
// hands them over in the ANSI form every version understands.
TEST(UnicodeNamesCp932, TrailBytesThatLookLikeBackslashesNeverSplitAName) {
  if (GetACP() != 932) GTEST_SKIP() << "runs under code page 932 (its own ctest entry)";
  const std::string base = MakeTempDir("cp932");
  // "発表" holds 0x95 0x5C at its end, "ソ" is 0x83 0x5C.
  const std::string folder = base + "\\\xE7\x99\xBA\xE8\xA1\xA8";
  ASSERT_TRUE(MakeDirUtf8(folder));
  const std::string first = folder + "\\\xE8\xA1\xA8.jpg";
  const std::string second = folder + "\\\xE3\x82\xBD b.jpg";
  ASSERT_TRUE(WriteBytesUtf8(first, PictureBytes(".jpg", 120, 90, RGB(200, 40, 40))));
  ASSERT_TRUE(WriteBytesUtf8(second, PictureBytes(".jpg", 120, 90, RGB(40, 200, 40))));
  ClearProfile();
  auto program = CProgram::LaunchUtf8("\"" + first + "\"");
  ASSERT_TRUE(program);
  HWND main = program->WaitMainWindow();
  ASSERT_TRUE(main);
  HWND list = GetDlgItem(main, batch::kList);
  EXPECT_EQ(WaitCaptions(list, 1), std::vector<std::string>{"\xE8\xA1\xA8.jpg"});
  // Unquoted, with a blank right after a trail byte 0x5C.
  EXPECT_TRUE(CProgram::LaunchUtf8(second)->WaitExit(30000));
  EXPECT_EQ(WaitCaptions(list, 2).back(), "\xE3\x82\xBD b.jpg");
  EXPECT_EQ(WaitForMessageBox(program->Pid(), 0), nullptr);
  program->Close();
  EXPECT_TRUE(program->WaitExit(10000));
  RemoveTreeUtf8(base);
}

}  // namespace
