// What the picture benchmarks share: a clock, camera-like JPEGs made in
// memory, files written whole, and the bare GDI+ thumbnail loop that the
// program is measured against.
#pragma once

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>

#include "adapters/gdiplus.h"

namespace bench {

// Seconds on the performance counter.
inline double Now() {
  static LARGE_INTEGER frequency{};
  if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// A w x h JPEG (quality 90) of a sky shaded by seed with a sun: smooth
// shades as photographs have.
inline std::string Jpeg(int w, int h, int seed) {
  using namespace Gdiplus;
  Bitmap bitmap(w, h, PixelFormat24bppRGB);
  {
    Graphics g(&bitmap);
    LinearGradientBrush sky(Point(0, 0), Point(w, h), Color(255, 40 + seed % 100, 90, 200),
                            Color(255, 240, 200, 60 + seed % 150));
    g.FillRectangle(&sky, 0, 0, w, h);
    SolidBrush sun(Color(255, 250, 250, 220));
    g.FillEllipse(&sun, w / 5 + seed * 7 % (w / 2), h / 6, w / 4, w / 4);
  }
  std::string bytes;
  EncodeJpeg(bitmap, 90, bytes);
  return bytes;
}

// A photograph's worth of detail at a camera's 4000 x 3000: the sky above
// with grain, so that the file is about as large as a camera's (quality 92)
// and decodes as slowly.
inline std::string CameraJpeg(int seed) {
  using namespace Gdiplus;
  const int w = 4000, h = 3000;
  Bitmap bitmap(w, h, PixelFormat24bppRGB);
  {
    Graphics g(&bitmap);
    LinearGradientBrush sky(Point(0, 0), Point(w, h), Color(255, 40 + seed % 100, 90, 200),
                            Color(255, 240, 200, 60 + seed % 150));
    g.FillRectangle(&sky, 0, 0, w, h);
    SolidBrush sun(Color(255, 250, 250, 220));
    g.FillEllipse(&sun, w / 5 + seed * 7 % (w / 2), h / 6, w / 4, w / 4);
  }
  BitmapData data;
  Rect all(0, 0, w, h);
  if (bitmap.LockBits(&all, ImageLockModeRead | ImageLockModeWrite, PixelFormat24bppRGB, &data) ==
      Ok) {
    unsigned state = 12345u + static_cast<unsigned>(seed) * 7919u;
    for (int y = 0; y < h; ++y) {
      auto* row = static_cast<unsigned char*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride;
      for (int x = 0; x < 3 * w; ++x) {
        state = state * 1103515245u + 12345u;
        const int v = row[x] + static_cast<int>((state >> 16) % 91) - 45;
        row[x] = static_cast<unsigned char>(std::min(255, std::max(0, v)));
      }
    }
    bitmap.UnlockBits(&data);
  }
  std::string bytes;
  EncodeJpeg(bitmap, 92, bytes);
  return bytes;
}

inline void Write(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  CloseHandle(file);
}

// What any thumbnail list must do: decode the file and ask for the
// thumbnail.
inline void BareThumbnail(const std::string& path) {
  Gdiplus::Bitmap picture(WidePath(path).c_str());
  const UINT w = picture.GetWidth(), h = picture.GetHeight();
  if (!w || !h) return;
  const double s = std::min(104.0 / w, 78.0 / h);
  std::unique_ptr<Gdiplus::Image> thumb(picture.GetThumbnailImage(
      static_cast<UINT>(w * s + 0.5), static_cast<UINT>(h * s + 0.5), nullptr, nullptr));
}

}  // namespace bench
