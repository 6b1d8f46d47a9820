// The transfer dialog's window under Wine: texts, progress bar, the painted
// status with the file's facts and thumbnail, and the cancel button.
#include "windows/transfer/transfer_dialog.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/media/media_item.h"
#include "core/media/upload_list.h"
#include "res/resource.h"
#include "tests/e2e/driver/driver.h"

namespace {

bool IsRed(COLORREF c) {
  return GetRValue(c) > 200 && GetGValue(c) < 60 && GetBValue(c) < 60;
}

COLORREF ClientPixel(HWND window, int x, int y) {
  HDC dc = GetDC(window);
  const COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return c;
}

// Dark pixels in a rectangle of the client area: painted text.
int DarkPixels(HWND window, int left, int top, int right, int bottom) {
  HDC dc = GetDC(window);
  int dark = 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      const COLORREF c = GetPixel(dc, x, y);
      if (c != CLR_INVALID && GetRValue(c) < 100 && GetGValue(c) < 100 && GetBValue(c) < 100) {
        ++dark;
      }
    }
  }
  ReleaseDC(window, dc);
  return dark;
}

int BarPosition(HWND dialog) {
  return static_cast<int>(
      SendMessageA(GetDlgItem(dialog, IDC_TRANSFER_PROGRESS), PBM_GETPOS, 0, 0));
}

TEST(TransferDialog, ProgressPercentIsFormedIn64Bits) {
  EXPECT_EQ(CTransferDialog::ProgressPercent(3, 7), 42);
  EXPECT_EQ(CTransferDialog::ProgressPercent(0, 100), 0);
  EXPECT_EQ(CTransferDialog::ProgressPercent(100, 100), 100);
  // A 32-bit product would overflow here.
  EXPECT_EQ(CTransferDialog::ProgressPercent(2000000000, 2100000000), 95);
  // Truncated toward zero; the bar clamps what is out of range.
  EXPECT_EQ(CTransferDialog::ProgressPercent(-1, 3), -33);
  EXPECT_EQ(CTransferDialog::ProgressPercent(5, 0), 0);
}

TEST(TransferDialog, ClassicBarOnlyOnTheNamedVersions) {
  struct Case {
    DWORD platform, major, minor;
    bool classic;
  };
  const Case cases[] = {
      {VER_PLATFORM_WIN32_NT, 5, 1, true},   // XP
      {VER_PLATFORM_WIN32_NT, 5, 2, true},   // Server 2003
      {VER_PLATFORM_WIN32_NT, 6, 1, true},   // 7
      {VER_PLATFORM_WIN32_NT, 6, 2, true},   // 8 and what reports as it
      {VER_PLATFORM_WIN32_NT, 5, 0, false},  // 2000
      {VER_PLATFORM_WIN32_NT, 6, 0, false},  // Vista
      {VER_PLATFORM_WIN32_NT, 4, 10, false},     {VER_PLATFORM_WIN32_NT, 10, 0, false},
      {VER_PLATFORM_WIN32_WINDOWS, 5, 1, false},                   // 9x family
      {VER_PLATFORM_WIN32s, 5, 1, false},        {3, 5, 1, true},  // later platform ids pass
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CTransferDialog::WantsClassicProgressBar(c.platform, c.major, c.minor), c.classic)
        << c.platform << " " << c.major << "." << c.minor;
  }
}

TEST(TransferDialog, PaintTextOfPictureMovieAndNothing) {
  const std::string dir = e2e::MakeTempDir("transfer_text");
  const std::string picture = dir + "\\holiday-in-the-mountains.jpg";
  ASSERT_TRUE(e2e::WritePicture(picture, 1600, 1200, RGB(200, 30, 30)));
  {
    CMediaItem item(picture);
    const int kb = item.GetFileSize() / 1024;
    EXPECT_EQ(CTransferDialog::FormatPaintText("Uploading", &item),
              "Uploading...\n\nholiday-in-th...\n" + std::to_string(kb) + " kb\n1600x1200 pix\n");
    // After shrinking, the facts are those of the copy.
    ASSERT_TRUE(item.Resize(640, 640));
    const int copyKb = item.GetFileSize() / 1024;
    EXPECT_EQ(CTransferDialog::FormatPaintText("Waiting for Server", &item),
              "Waiting for Server...\n\nholiday-in-th...\n" + std::to_string(copyKb) +
                  " kb\n640x480 pix\n");
  }

  // A movie has no pixel line.
  const std::string movie = dir + "\\clip.flv";
  std::string flv = std::string("FLV\x01\x05\x00\x00\x00\x09", 9);
  flv += std::string(4096 - flv.size(), '\x11');
  ASSERT_TRUE(e2e::WriteBytes(movie, flv));
  {
    CMediaItem item(movie);
    ASSERT_TRUE(item.IsVideo());
    EXPECT_EQ(CTransferDialog::FormatPaintText("Uploading", &item),
              "Uploading...\n\nclip.flv\n4 kb\n");
    // A file that cannot be opened shows 0 kb.
    ASSERT_TRUE(DeleteFileA(movie.c_str()));
    EXPECT_EQ(CTransferDialog::FormatPaintText("Uploading", &item),
              "Uploading...\n\nclip.flv\n0 kb\n");
  }

  EXPECT_EQ(CTransferDialog::FormatPaintText("LogIn", nullptr), "LogIn...");
  DeleteFileA(picture.c_str());
  RemoveDirectoryA(dir.c_str());
}

TEST(TransferDialog, WindowShowsTheFileAndFollowsTheProgress) {
  const std::string dir = e2e::MakeTempDir("transfer_window");
  const std::string picture = dir + "\\holiday-in-the-mountains.jpg";
  ASSERT_TRUE(e2e::WritePicture(picture, 1600, 1200, RGB(220, 0, 0)));

  CUploadList list;
  ASSERT_TRUE(list.AddFile(picture));
  CTransferDialog dialog(nullptr);
  dialog.SetUploadList(&list);
  TransferRunState& state = dialog.GetRunState();

  std::atomic<bool> done{false};
  std::string failures;
  std::thread user([&] {
    auto check = [&](bool ok, const char* what) {
      if (!ok) failures += std::string(what) + "; ";
    };
    HWND window = e2e::WaitForWindow("Uploading...", GetCurrentProcessId(), 10000, "#32770");
    check(window != nullptr, "no window titled Uploading...");
    if (!window) return;
    check(e2e::GetText(GetDlgItem(window, IDC_TRANSFER_CANCEL)) == "Cancel upload", "button text");
    PBRANGE range{};
    SendMessageA(GetDlgItem(window, IDC_TRANSFER_PROGRESS), PBM_GETRANGE, FALSE,
                 reinterpret_cast<LPARAM>(&range));
    check(range.iLow == 0 && range.iHigh == 100, "range 0 to 100");

    // Before any file: the status word alone, an empty bar.
    dialog.SetStatusText("LogIn");
    Sleep(500);
    check(BarPosition(window) == 0, "bar still before progress");
    check(DarkPixels(window, 20, 20, 90, 40) > 0, "status text at 20, 20");
    e2e::SaveScreenshot(window, "transfer_dialog_login");

    // A file in flight: thumbnail at 20, 20 and the facts at 134, 20.
    state.index = 0;
    dialog.SetStatusText("Uploading");
    state.progressValue = 3;
    state.progressTotal = 7;
    check(e2e::WaitUntil([&] { return BarPosition(window) == 42; }, 3000), "bar at 42");
    check(IsRed(ClientPixel(window, 20 + 80, 20 + 60)), "red thumbnail");
    check(DarkPixels(window, 134, 20, 240, 110) > 20, "text beside the thumbnail");
    e2e::SaveScreenshot(window, "transfer_dialog_uploading");

    // progressTotal 0 leaves the bar alone.
    state.progressTotal = 0;
    state.progressValue = 99;
    Sleep(700);
    check(BarPosition(window) == 42, "bar kept at total 0");

    state.progressValue = 7;
    state.progressTotal = 7;
    dialog.SetStatusText("Waiting for Server");
    check(e2e::WaitUntil([&] { return BarPosition(window) == 100; }, 3000), "bar at 100");
    e2e::SaveScreenshot(window, "transfer_dialog_waiting");

    // Without a request the cancel button does nothing.
    e2e::PostClick(window, IDC_TRANSFER_CANCEL);
    check(!e2e::WaitWindowGone(window, 800), "cancel button alone closes nothing");

    // Centred on the work area (no parent here).
    RECT r{};
    RECT area{};
    GetWindowRect(window, &r);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    check(std::abs((r.left + r.right) - (area.left + area.right)) <= 2 &&
              std::abs((r.top + r.bottom) - (area.top + area.bottom)) <= 2,
          "centred");

    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    done = true;
  });
  const INT_PTR result = dialog.DoModal();
  user.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(failures, "");
  EXPECT_EQ(result, IDCANCEL);
  list.RemoveAll();
  DeleteFileA(picture.c_str());
  RemoveDirectoryA(dir.c_str());
}

}  // namespace
