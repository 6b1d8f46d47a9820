// An upload run started the moment camera pictures are in the list, while
// their thumbnails are still being made: every file reaches the album
// service once, shrunk or not as the shrink rule decides from its upright
// pixel size, and the list is empty afterwards.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/batch/batch_support.h"
#include "tests/e2e/driver/driver.h"
#include "tests/e2e/driver/service_hooks.h"

using namespace e2e;
using namespace batch;

namespace {

constexpr int kUpload = 1007, kResizeMedium = 1016;
constexpr int kFiles = 40;

// Eight kinds of camera file, repeated. width x height as stored; the
// orientation turns the split picture upright (6: its left half on top, 8:
// at the bottom). Pictures above 640 x 480 pixels ask how to shrink; with
// "medium" chosen, those above 1024 x 768 pixels are shrunk into a box of
// 1024, upright; the others are sent as they are.
struct Kind {
  int width;
  int height;
  COLORREF colour;  // kSplitLeft: the split picture
  bool preview;
  int orientation;
};
const Kind kKinds[8] = {
    {4000, 3000, kRed, false, 0},       {640, 480, kBlue, false, 0},
    {4000, 3000, kSplitLeft, true, 6},  {800, 600, kSplitLeft, false, 6},
    {4000, 3000, kSplitLeft, false, 8}, {1200, 900, kYellow, false, 0},
    {320, 240, kMagenta, false, 0},     {4000, 3000, kCyan, false, 0},
};

bool Shrunk(const Kind& k) {
  return static_cast<long long>(k.width) * k.height > 1024LL * 768;
}

bool Turned(const Kind& k) {
  return k.orientation == 6 || k.orientation == 8;
}

int Placeholders(HWND list) {
  int count = 0;
  for (const ListEntry& e : ReadListView(list)) count += e.image == 0;
  return count;
}

bool SameColour(const Gdiplus::Color& p, COLORREF c) {
  return std::abs(p.GetR() - GetRValue(c)) <= 24 && std::abs(p.GetG() - GetGValue(c)) <= 24 &&
         std::abs(p.GetB() - GetBValue(c)) <= 24;
}

// A new account of the upload service, its credentials stored, and uploads
// straight to the public album, so that a run reaches the pictures while
// their thumbnails are still being made.
class BatchUpload : public testing::Test {
 protected:
  void SetUp() override {
    const std::string error = EnvVar("QUIB_UPLOAD_SERVICE_ERROR");
    if (!error.empty()) FAIL() << error;
    if (UploadServiceUrl().empty()) GTEST_SKIP() << "QUIB_UPLOAD_SERVICE_URL is not set";
    StartGdiplus();
    testStart = GetTickCount();
    tempBefore = CountTempFiles("NEW*.TMP");
    user = NewAccount("batch", "pass");
    ASSERT_FALSE(user.empty());
    ClearProfile();
    StoreCredentials(user, "pass");
    StoreProfileInt("AskFolder", 0);
  }

  DWORD testStart = 0;
  int tempBefore = 0;
  std::string user;
};

TEST_F(BatchUpload, RunStartedBeforeTheThumbnailsUploadsEveryFileWithItsSize) {

  // Each kind encoded once; every file a byte copy of one.
  const std::string dir = MakeTempDir("u");
  std::vector<std::string> kindBytes;
  for (const Kind& k : kKinds) {
    const std::string full = dir + "\\full.jpg", small = dir + "\\preview.jpg";
    const bool split = k.colour == kSplitLeft;
    ASSERT_TRUE(split ? WriteSplitJpeg(full, k.width, k.height, kSplitLeft, kSplitRight)
                      : WritePicture(full, k.width, k.height, k.colour));
    std::string preview;
    if (k.preview) {
      ASSERT_TRUE(split ? WriteSplitJpeg(small, 160, 120, kSplitLeft, kSplitRight)
                        : WritePicture(small, 160, 120, k.colour));
      preview = ReadBytes(small);
    }
    const std::string jpeg = ReadBytes(full);
    kindBytes.push_back(k.preview || k.orientation
                            ? CameraBytes(jpeg, k.width, k.height, k.orientation, preview)
                            : jpeg);
    DeleteFileA(full.c_str());
    DeleteFileA(small.c_str());
  }
  std::vector<std::string> paths;
  for (int i = 0; i < kFiles; ++i) {
    char name[16];
    snprintf(name, sizeof name, "u%02d.jpg", i);
    paths.push_back(dir + "\\" + name);
    ASSERT_TRUE(WriteBytes(paths.back(), kindBytes[static_cast<size_t>(i % 8)]));
  }

  std::unique_ptr<CProgram> program = CProgram::Launch(QuotePaths(paths));
  ASSERT_TRUE(program);
  HWND main = program->WaitMainWindow();
  ASSERT_TRUE(main);
  HWND list = GetDlgItem(main, kList);
  ASSERT_TRUE(
      WaitUntil([&] { return SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == kFiles; }, 30000));
  // Upload at once: some thumbnails must still be pending, or this tests
  // nothing beyond the plain upload tests.
  const int pendingAtUpload = Placeholders(list);
  const DWORD runStart = GetTickCount();
  PostClick(main, kUpload);
  EXPECT_GT(pendingAtUpload, 0) << "every thumbnail was ready before the run began";

  // The run starts from the back: the last picture, a large one whose
  // thumbnail comes last, asks how to shrink (medium, kept for the rest).
  HWND resize = WaitForWindow("Dialog", program->Pid(), 120000, "#32770");
  ASSERT_TRUE(resize) << "no resize prompt";
  const std::vector<ListEntry> atPrompt = ReadListView(list);
  int pendingAtPrompt = 0;
  for (const ListEntry& e : atPrompt) pendingAtPrompt += e.image == 0;
  SaveScreenshot(list, "batch-upload-pending");
  EXPECT_GT(pendingAtPrompt, 0) << "every thumbnail was ready when the run asked about the first "
                                   "picture";
  SendMessageTimeoutA(GetDlgItem(resize, kResizeMedium), BM_CLICK, 0, 0, SMTO_NORMAL, 10000,
                      nullptr);
  PostClick(resize, IDOK);
  ASSERT_TRUE(WaitWindowGone(resize, 10000));

  HWND box = WaitForMessageBox(program->Pid(), 240000);
  ASSERT_TRUE(box) << "the run did not end";
  EXPECT_EQ(MessageBoxText(box), std::to_string(kFiles) + " file(s) successfully uploaded.");
  const DWORD runMs = GetTickCount() - runStart;
  PostClick(box, IDOK);
  EXPECT_TRUE(WaitWindowGone(box, 10000));
  EXPECT_TRUE(WaitUntil([&] { return SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 0; }, 10000))
      << "the list is not empty after the run";
  printf(
      "thumbnails pending: %d of %d when Upload was pressed, %d when the run asked how to "
      "shrink the last entry (its own %s); the run took %lu ms\n",
      pendingAtUpload, kFiles, pendingAtPrompt,
      !atPrompt.empty() && atPrompt.back().image == 0 ? "pending" : "ready",
      static_cast<unsigned long>(runMs));

  // Every file once, with the size the shrink rule gives it.
  const std::vector<TsvRow> media = StoredMedia(user);
  EXPECT_EQ(media.size(), static_cast<size_t>(kFiles));
  std::map<std::string, TsvRow> byName;
  for (const TsvRow& m : media) {
    EXPECT_EQ(m.at("dir_id"), "0");
    EXPECT_EQ(byName.count(m.at("filename")), 0u) << "twice: " << m.at("filename");
    byName[m.at("filename")] = m;
  }
  for (int i = 0; i < kFiles; ++i) {
    const Kind& k = kKinds[i % 8];
    const std::string base = paths[static_cast<size_t>(i)].substr(dir.size() + 1);
    SCOPED_TRACE(base);
    ASSERT_EQ(byName.count(base), 1u) << "not uploaded";
    const std::string stored = ToWindowsPath(byName[base].at("path"));
    if (!Shrunk(k)) {
      EXPECT_EQ(ReadBytes(stored), kindBytes[static_cast<size_t>(i % 8)]) << "sent as it is";
      continue;
    }
    const std::wstring wide(stored.begin(), stored.end());
    Gdiplus::Bitmap picture(wide.c_str());
    ASSERT_EQ(picture.GetLastStatus(), Gdiplus::Ok);
    // The box is 1024 x 1024; the short side follows the upright shape.
    const int uprightW = Turned(k) ? k.height : k.width;
    const int uprightH = Turned(k) ? k.width : k.height;
    const int longSide =
        static_cast<int>(uprightW > uprightH ? picture.GetWidth() : picture.GetHeight());
    const int shortSide =
        static_cast<int>(uprightW > uprightH ? picture.GetHeight() : picture.GetWidth());
    const int expectedShort = 1024 * std::min(uprightW, uprightH) / std::max(uprightW, uprightH);
    EXPECT_EQ(longSide, 1024) << picture.GetWidth() << " x " << picture.GetHeight();
    EXPECT_NEAR(shortSide, expectedShort, 1) << picture.GetWidth() << " x " << picture.GetHeight();
    if (Turned(k)) {
      // Upright: the split picture's left half on top (6) or at the bottom (8).
      Gdiplus::Color top, bottom;
      picture.GetPixel(static_cast<INT>(picture.GetWidth() / 2),
                       static_cast<INT>(picture.GetHeight() / 4), &top);
      picture.GetPixel(static_cast<INT>(picture.GetWidth() / 2),
                       static_cast<INT>(picture.GetHeight() * 3 / 4), &bottom);
      const COLORREF expectTop = k.orientation == 6 ? kSplitLeft : kSplitRight;
      const COLORREF expectBottom = k.orientation == 6 ? kSplitRight : kSplitLeft;
      EXPECT_TRUE(SameColour(top, expectTop) && SameColour(bottom, expectBottom)) << "not upright";
    }
  }

  EndTest(*program, tempBefore, dir, testStart);
}

// The report of an unreadable picture that comes while a run is open waits
// for the run's end: the main window stays disabled under the run's window
// until the run has returned, nothing of the list can be removed meanwhile,
// and a cancelled run writes nothing more.
TEST_F(BatchUpload, AReportDuringARunWaitsAndTheMainWindowStaysDisabled) {
  // No prompt: every large picture shrunk into a temporary copy.
  StoreProfileInt("AskResize", 0);
  StoreProfileInt("ResizeImage", 1);

  const std::string dir = MakeTempDir("h");
  std::vector<std::string> paths{dir + "\\damaged.jpg"};
  // A JPEG's first bytes, then nothing a decoder can use.
  ASSERT_TRUE(WriteBytes(paths[0], std::string("\xFF\xD8\xFF\xE0", 4) + std::string(4000, 'x')));
  ASSERT_TRUE(WritePicture(dir + "\\big.jpg", 4000, 3000, kRed));
  const std::string big = ReadBytes(dir + "\\big.jpg");
  for (int i = 0; i < 10; ++i) {
    paths.push_back(dir + "\\c" + std::to_string(i) + ".jpg");
    ASSERT_TRUE(WriteBytes(paths.back(), big));
  }
  DeleteFileA((dir + "\\big.jpg").c_str());
  // The first file's answer never comes while the thumbnails are made.
  ASSERT_EQ(HookGet("/test/stall?mode=before-answer"), "ok\n");

  std::unique_ptr<CProgram> program = CProgram::Launch(QuotePaths(paths));
  ASSERT_TRUE(program);
  HWND main = program->WaitMainWindow();
  ASSERT_TRUE(main);
  HWND list = GetDlgItem(main, kList);
  const int count = static_cast<int>(paths.size());
  ASSERT_TRUE(
      WaitUntil([&] { return SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == count; }, 30000));
  PostClick(main, kUpload);
  HWND transfer = WaitForWindow("Uploading...", program->Pid(), 60000);
  ASSERT_TRUE(transfer);
  // Every thumbnail but the damaged one's is made while the run waits.
  EXPECT_TRUE(WaitUntil([&] { return Placeholders(list) <= 1; }, 120000));
  EXPECT_EQ(WaitForMessageBox(program->Pid(), 0), nullptr) << "a box came during the run";
  EXPECT_FALSE(IsWindowEnabled(main));
  // Remove, as a click would send it, while the run points at the entries.
  SelectListEntry(list, 0, true);
  PostCommand(main, 1003);
  SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, 10000, nullptr);
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), count) << "removed during the run";

  // Esc on the run's window; the report comes once the run has returned.
  PostCommand(transfer, IDCANCEL);
  EXPECT_TRUE(WaitWindowGone(transfer, 10000)) << "the run did not return";
  const int tempAfterCancel = CountTempFiles("NEW*.TMP");
  HWND box = WaitForMessageBox(program->Pid(), 30000);
  ASSERT_TRUE(box) << "the unreadable picture was not reported";
  EXPECT_NE(MessageBoxText(box).find("damaged.jpg"), std::string::npos) << MessageBoxText(box);
  EXPECT_EQ(GetWindow(box, GW_OWNER), main);
  EXPECT_FALSE(IsWindowEnabled(main)) << "enabled under its own box";
  PostClick(box, IDOK);
  EXPECT_TRUE(WaitWindowGone(box, 10000));
  EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(main) != FALSE; }, 10000));
  ASSERT_EQ(HookGet("/test/stall?mode=off"), "ok\n");
  // The stalled answer is let go; the run has ended and sends nothing more.
  SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, 10000, nullptr);
  EXPECT_EQ(CountTempFiles("NEW*.TMP"), tempAfterCancel) << "written after the cancel";
  EXPECT_LE(StoredMedia(user).size(), 1u);
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), count);

  EndTest(*program, tempBefore, dir, testStart);
}

}  // namespace
