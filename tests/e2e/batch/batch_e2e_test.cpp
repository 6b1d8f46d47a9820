// Camera pictures added in one go to the real program: the window answers
// messages throughout, each entry ends up with the thumbnail of its own file
// (from the EXIF preview where the file has one), and a file forwarded by a
// second start meanwhile arrives after the batch.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

#include "framework/gdiplus.h"
#include "tests/e2e/driver/driver.h"
#include "tests/support/exif_builder.h"

using namespace e2e;

namespace {

constexpr int kList = 1005;
constexpr int kFiles = 24;

COLORREF Colour(int i) {
  // Distinct, saturated and far apart, so that no two are confused.
  static const COLORREF colours[] = {RGB(230, 20, 20),  RGB(20, 200, 20),  RGB(20, 20, 230),
                                     RGB(230, 230, 20), RGB(20, 220, 220), RGB(220, 20, 220)};
  return colours[i % 6];
}

bool Near(unsigned rgb, COLORREF c) {
  const int r = static_cast<int>((rgb >> 16) & 0xFF), g = static_cast<int>((rgb >> 8) & 0xFF),
            b = static_cast<int>(rgb & 0xFF);
  return std::abs(r - GetRValue(c)) <= 12 && std::abs(g - GetGValue(c)) <= 12 &&
         std::abs(b - GetBValue(c)) <= 12;
}

// Pixels near colour c in a screenshot, and their mean x.
int CountNear(const std::string& png, COLORREF c, long* meanX) {
  const std::wstring wide(png.begin(), png.end());
  std::unique_ptr<Gdiplus::Bitmap> shot(new Gdiplus::Bitmap(wide.c_str()));
  if (shot->GetLastStatus() != Gdiplus::Ok) return 0;
  int count = 0;
  long sum = 0;
  for (UINT y = 0; y < shot->GetHeight(); ++y) {
    for (UINT x = 0; x < shot->GetWidth(); ++x) {
      Gdiplus::Color p;
      shot->GetPixel(static_cast<INT>(x), static_cast<INT>(y), &p);
      if (Near(p.GetValue() & 0xFFFFFF, c)) {
        ++count;
        sum += static_cast<long>(x);
      }
    }
  }
  if (meanX) *meanX = count ? sum / count : 0;
  return count;
}

TEST(BatchE2e, WindowAnswersAndEveryThumbnailLandsOnItsEntry) {
  static ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  if (!token) Gdiplus::GdiplusStartup(&token, &input, nullptr);
  const std::string dir = MakeTempDir("batch");

  // Camera-sized pictures; every other one carries an EXIF preview of the
  // same colour, as cameras write it.
  std::string args;
  std::vector<std::string> names;
  for (int i = 0; i < kFiles; ++i) {
    const std::string path = dir + "\\cam" + std::to_string(100 + i) + ".jpg";
    ASSERT_TRUE(WritePicture(path, 4000, 3000, Colour(i)));
    if (i % 2) {
      const std::string preview = dir + "\\preview.jpg";
      ASSERT_TRUE(WritePicture(preview, 160, 120, Colour(i)));
      quib_test::ExifSpec spec;
      spec.pixelX = 4000;
      spec.pixelY = 3000;
      spec.preview = ReadBytes(preview);
      DeleteFileA(preview.c_str());
      ASSERT_TRUE(WriteBytes(
          path, quib_test::InsertAfterStart(ReadBytes(path), quib_test::BuildExifSegment(spec))));
    }
    names.push_back("cam" + std::to_string(100 + i) + ".jpg");
    args += " \"" + path + "\"";
  }
  const std::string forwarded = dir + "\\forwarded.png";
  ASSERT_TRUE(WritePicture(forwarded, 80, 60, RGB(250, 250, 250)));

  std::unique_ptr<CProgram> program = CProgram::Launch(args);
  ASSERT_TRUE(program);
  HWND main = program->WaitMainWindow();
  ASSERT_TRUE(main);
  HWND list = GetDlgItem(main, kList);

  // A probe asks the window every 20 ms while the thumbnails are made; each
  // answer must come (bounded at 10 s), and the longest wait is reported.
  std::atomic<bool> stop{false};
  std::atomic<int> unanswered{0};
  std::atomic<long> longestMs{0};
  std::thread probe([&] {
    while (!stop) {
      const DWORD t0 = GetTickCount();
      DWORD_PTR answer = 0;
      if (!SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer)) ++unanswered;
      longestMs = std::max<long>(longestMs, static_cast<long>(GetTickCount() - t0));
      Sleep(20);
    }
  });
  // A second start during the batch: its file comes after the batch's.
  const bool forwardedOk = RunToExit("\"" + forwarded + "\"", 30000);

  // Every entry in order, each on its own image.
  const bool allThere = WaitUntil([&] { return ReadListView(list).size() == kFiles + 1; }, 60000);
  std::vector<ListEntry> entries = ReadListView(list);
  // The visible thumbnails show their files: the first six entries, six
  // colours from left to right.
  std::string shot;
  const bool shown = WaitUntil(
      [&] {
        shot = SaveScreenshot(list, "batch-list");
        for (int i = 0; i < 6; ++i) {
          if (CountNear(shot, Colour(i), nullptr) < 4000) return false;
        }
        return true;
      },
      120000);
  stop = true;
  probe.join();
  printf("longest message wait while adding %d camera pictures: %ld ms\n", kFiles,
         longestMs.load());

  EXPECT_TRUE(forwardedOk) << "the second start did not end";
  ASSERT_TRUE(allThere) << "entries: " << ReadListView(list).size();
  EXPECT_EQ(unanswered, 0) << "the window left messages unanswered for 10 s";
  for (int i = 0; i < kFiles; ++i) {
    EXPECT_EQ(entries[static_cast<size_t>(i)].text, names[static_cast<size_t>(i)]);
    EXPECT_GE(entries[static_cast<size_t>(i)].image, 0);
  }
  EXPECT_EQ(entries.back().text, "forwarded.png");
  EXPECT_TRUE(shown) << "thumbnails not shown: " << shot;
  // Row by row: entry 0 left of entry 1 left of entry 2 (the same row).
  long x0 = 0, x1 = 0, x2 = 0;
  CountNear(shot, Colour(0), &x0);
  CountNear(shot, Colour(1), &x1);
  CountNear(shot, Colour(2), &x2);
  EXPECT_LT(x0, x1);
  EXPECT_LT(x1, x2);

  program->Close();
  for (int i = 0; i < kFiles; ++i)
    DeleteFileA((dir + "\\" + names[static_cast<size_t>(i)]).c_str());
  DeleteFileA(forwarded.c_str());
  RemoveDirectoryA(dir.c_str());
}

}  // namespace
