#include "tests/e2e/batch/batch_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "tests/e2e/driver/driver.h"
#include "tests/support/exif_builder.h"

namespace batch {

void StartGdiplus() {
  static ULONG_PTR token = 0;
  if (!token) {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
  }
}

namespace {

Gdiplus::Color Plus(COLORREF c) {
  return Gdiplus::Color(GetRValue(c), GetGValue(c), GetBValue(c));
}

bool Near(const Gdiplus::Color& p, COLORREF c) {
  return std::abs(p.GetR() - GetRValue(c)) <= 14 && std::abs(p.GetG() - GetGValue(c)) <= 14 &&
         std::abs(p.GetB() - GetBValue(c)) <= 14;
}

}  // namespace

bool WriteSplitJpeg(const std::string& path, int width, int height, COLORREF left, COLORREF right) {
  StartGdiplus();
  Gdiplus::Bitmap bitmap(width, height, PixelFormat24bppRGB);
  {
    Gdiplus::Graphics graphics(&bitmap);
    Gdiplus::SolidBrush a(Plus(left)), b(Plus(right));
    graphics.FillRectangle(&a, 0, 0, width / 2, height);
    graphics.FillRectangle(&b, width / 2, 0, width - width / 2, height);
  }
  CLSID clsid{};
  if (!e2e::ImageEncoder(L"image/jpeg", &clsid)) return false;
  const std::wstring wide(path.begin(), path.end());
  return bitmap.Save(wide.c_str(), &clsid, nullptr) == Gdiplus::Ok;
}

std::string CameraBytes(const std::string& jpeg, int width, int height, int orientation,
                        const std::string& preview) {
  quib_test::ExifSpec spec;
  spec.pixelX = static_cast<uint32_t>(width);
  spec.pixelY = static_cast<uint32_t>(height);
  spec.orientation = orientation;
  spec.preview = preview;
  return quib_test::InsertAfterStart(jpeg, quib_test::BuildExifSegment(spec));
}

void RemoveTree(const std::string& dir) {
  e2e::RemoveTreeUtf8(dir);
}

CLatencyProbe::CLatencyProbe(HWND window) {
  thread_ = std::thread([this, window] {
    while (!stop_) {
      const DWORD t0 = GetTickCount();
      DWORD_PTR answer = 0;
      if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer)) ++unanswered_;
      ++asked_;
      const long waited = static_cast<long>(GetTickCount() - t0);
      if (waited > longestMs_) longestMs_ = waited;
      waits_.emplace_back(t0, waited);
      Sleep(20);
    }
  });
}

CLatencyProbe::~CLatencyProbe() {
  Stop();
}

void CLatencyProbe::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

long CLatencyProbe::LongestBetween(DWORD from, DWORD to) const {
  long longest = 0;
  for (const auto& w : waits_) {
    if (w.first - from < to - from) longest = std::max(longest, w.second);
  }
  return longest;
}

Patch Measure(Gdiplus::Bitmap& shot, const RECT& area, COLORREF colour) {
  Patch patch;
  double sumX = 0, sumY = 0;
  const LONG right = std::min<LONG>(area.right, static_cast<LONG>(shot.GetWidth()));
  const LONG bottom = std::min<LONG>(area.bottom, static_cast<LONG>(shot.GetHeight()));
  for (LONG y = std::max<LONG>(area.top, 0); y < bottom; ++y) {
    for (LONG x = std::max<LONG>(area.left, 0); x < right; ++x) {
      Gdiplus::Color p;
      shot.GetPixel(static_cast<INT>(x), static_cast<INT>(y), &p);
      if (!Near(p, colour)) continue;
      ++patch.count;
      sumX += static_cast<double>(x - area.left);
      sumY += static_cast<double>(y - area.top);
    }
  }
  if (patch.count) {
    patch.meanX = sumX / patch.count;
    patch.meanY = sumY / patch.count;
  }
  return patch;
}

bool ShootList(HWND list, const std::string& name, ListShot* shot) {
  StartGdiplus();
  shot->bitmap.reset();
  shot->path = e2e::SaveScreenshot(list, name);
  if (shot->path.empty()) return false;
  const std::wstring wide(shot->path.begin(), shot->path.end());
  shot->bitmap.reset(new Gdiplus::Bitmap(wide.c_str()));
  return shot->bitmap->GetLastStatus() == Gdiplus::Ok;
}

bool IconInShot(HWND list, int index, RECT* area) {
  RECT icon{}, client{}, window{};
  if (!e2e::ListIconRect(list, index, &icon) || !GetClientRect(list, &client) ||
      !GetWindowRect(list, &window)) {
    return false;
  }
  if (icon.left < client.left || icon.top < client.top || icon.right > client.right ||
      icon.bottom > client.bottom) {
    return false;
  }
  POINT origin{0, 0};
  ClientToScreen(list, &origin);
  OffsetRect(&icon, origin.x - window.left, origin.y - window.top);
  *area = icon;
  return true;
}

void EndTest(e2e::CProgram& program, int tempBefore, const std::string& dir, DWORD testStart) {
  program.Close();
  EXPECT_TRUE(program.WaitExit(10000));
  EXPECT_EQ(e2e::CountTempFiles("NEW*.TMP"), tempBefore) << "temporary copies left behind";
  e2e::ClearProfile();
  RemoveTree(dir);
  printf("test took %lu ms\n", static_cast<unsigned long>(GetTickCount() - testStart));
}

}  // namespace batch
