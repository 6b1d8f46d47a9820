// Pictures, folders, pixel checks and a message box answerer shared by the
// media item and upload list tests.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "framework/gdi.h"
#include "adapters/gdiplus.h"

namespace media_test {

// A folder of the test's own (the user's files), deleted with its files.
class CTestDir {
 public:
  CTestDir();
  ~CTestDir();
  std::string Path(const std::string& name) const { return dir_ + "\\" + name; }

 private:
  std::string dir_;
};

std::string ReadBytes(const std::string& path);
bool WriteBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// The temporary folder with a trailing backslash.
std::string TempFolder();
// Names of the NEW*.TMP files in the temporary folder.
std::set<std::string> NewTempFiles();

// Draws a w x h picture: the fill colour with a red block in the top-left
// quarter, saved with the encoder of the media type ("image/jpeg",
// "image/png", "image/gif" (palette), "image/bmp").
std::string EncodePicture(int w, int h, const char* mime, COLORREF fill = RGB(30, 60, 200));
bool WritePicture(const std::string& path, int w, int h, const char* mime,
                  COLORREF fill = RGB(30, 60, 200));
// Width and height of a picture file decoded with GDI+; {0, 0} if unreadable.
SIZE DecodedSize(const std::string& path);
// The colour at (x, y) of a picture file as 0x00RRGGBB.
unsigned PixelOf(const std::string& path, int x, int y);

// The pixels of a bitmap handle, top row first, as 0x00RRGGBB.
struct CPixels {
  int width = 0;
  int height = 0;
  std::vector<unsigned> argb;
  unsigned At(int x, int y) const { return argb[static_cast<size_t>(y * width + x)]; }
  bool operator==(const CPixels& o) const {
    return width == o.width && height == o.height && argb == o.argb;
  }
};
CPixels ReadPixels(HBITMAP bitmap);
// For a bitmap made for the caller (an item's thumbnail).
inline CPixels ReadPixels(const CBitmap& bitmap) {
  return ReadPixels(bitmap.Get());
}
// Bounding box of the pixels that are neither white nor the frame grey.
RECT ContentBox(const CPixels& pixels);
bool IsReddish(unsigned rgb);
bool IsBluish(unsigned rgb);

// A w x h PNG with an alpha channel: transparent black everywhere but an
// opaque red block in the top-left quarter.
std::string EncodeTransparentPng(int w, int h);
// A palette GIF like EncodePicture's, whose fill is black and marked as the
// transparent colour.
std::string EncodeTransparentGif(int w, int h);
// A picture of random-looking pixels ("image/png", "image/jpeg"), which make
// a large JPEG.
std::string EncodeNoisy(int w, int h, const wchar_t* mime);
bool IsWhitish(unsigned rgb);

// A list view as the main window's upload list (icons, id 1005, 369 x 288)
// on a hidden host window of its own; null when it cannot be made.
HWND CreateHostedListView(DWORD exStyle, HWND* host);

// Entry index of an image list, drawn at its 104 x 78 thumbnail size.
CPixels ImageListPixels(HIMAGELIST images, int index);

// Message boxes of this process, answered with OK and written down while it
// runs, so a box that should not come cannot block the test.
class CBoxAnswerer {
 public:
  CBoxAnswerer() : thread_([this] { Watch(); }) {}
  ~CBoxAnswerer() {
    stop_ = true;
    thread_.join();
  }
  CBoxAnswerer(const CBoxAnswerer&) = delete;
  CBoxAnswerer& operator=(const CBoxAnswerer&) = delete;
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }

 private:
  static BOOL CALLBACK Visit(HWND window, LPARAM lp);
  void Watch();

  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> texts_;
  std::thread thread_;
};

}  // namespace media_test
