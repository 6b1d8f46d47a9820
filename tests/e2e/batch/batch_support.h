// Helpers of the large-batch tests: camera pictures written as a few
// encodes and many byte copies, a probe of the window's message latency,
// and the colours of a screenshot measured inside one entry's picture.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "adapters/gdiplus.h"
#include "tests/e2e/driver/driver.h"

namespace batch {

constexpr int kList = 1005;

// Saturated colours far apart, so that no two are confused in a screenshot.
constexpr COLORREF kRed = RGB(230, 20, 20), kGreen = RGB(20, 200, 20), kBlue = RGB(20, 20, 230),
                   kYellow = RGB(230, 230, 20), kCyan = RGB(20, 220, 220),
                   kMagenta = RGB(220, 20, 220);
// The two halves of the split picture: its left half and its right half.
constexpr COLORREF kSplitLeft = RGB(250, 140, 0), kSplitRight = RGB(0, 100, 110);

void StartGdiplus();

// A JPEG of the given size, its left half one colour and its right half the
// other; true on success.
bool WriteSplitJpeg(const std::string& path, int width, int height, COLORREF left, COLORREF right);

// A camera file: the JPEG's bytes with an EXIF block as cameras write it,
// with the pixel size, an orientation (0: none) and a preview JPEG (empty:
// none).
std::string CameraBytes(const std::string& jpeg, int width, int height, int orientation,
                        const std::string& preview);

// Deletes a folder and everything below it.
void RemoveTree(const std::string& dir);

// Ends a test: closes the program, checks that no temporary copy is left
// beyond the tempBefore there were at its start, clears the stored profile,
// deletes the test's folder and prints how long the test took.
void EndTest(e2e::CProgram& program, int tempBefore, const std::string& dir, DWORD testStart);

// Asks a window every 20 ms (WM_NULL, bounded at 10 s per message) on a
// thread of its own, and keeps the longest wait.
class CLatencyProbe {
 public:
  explicit CLatencyProbe(HWND window);
  ~CLatencyProbe();
  CLatencyProbe(const CLatencyProbe&) = delete;
  CLatencyProbe& operator=(const CLatencyProbe&) = delete;
  void Stop();
  long LongestMs() const { return longestMs_; }
  int Unanswered() const { return unanswered_; }
  int Asked() const { return asked_; }
  // The longest wait that began in [from, to) (GetTickCount values); call
  // after Stop.
  long LongestBetween(DWORD from, DWORD to) const;

 private:
  std::atomic<bool> stop_{false};
  std::atomic<long> longestMs_{0};
  std::atomic<int> unanswered_{0};
  std::atomic<int> asked_{0};
  // When each wait began, and how long it was; written by the probe's
  // thread only, read after Stop.
  std::vector<std::pair<DWORD, long>> waits_;
  std::thread thread_;
};

// Pixels near a colour inside a rectangle of a screenshot: how many and
// where their centre lies.
struct Patch {
  int count = 0;
  double meanX = 0;
  double meanY = 0;
};
Patch Measure(Gdiplus::Bitmap& shot, const RECT& area, COLORREF colour);

// A screenshot of a list view and, for each entry asked for, where its
// picture lies in the screenshot; false when an entry is not fully shown.
struct ListShot {
  std::unique_ptr<Gdiplus::Bitmap> bitmap;
  std::string path;
};
bool ShootList(HWND list, const std::string& name, ListShot* shot);
bool IconInShot(HWND list, int index, RECT* area);

}  // namespace batch
