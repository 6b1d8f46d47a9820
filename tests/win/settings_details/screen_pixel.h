// The colour on screen at a point of a window's client area.
#pragma once

#include <windows.h>

inline COLORREF ScreenPixelAt(HWND window, int x, int y) {
  POINT p{x, y};
  ClientToScreen(window, &p);
  HDC screen = GetDC(nullptr);
  const COLORREF color = GetPixel(screen, p.x, p.y);
  ReleaseDC(nullptr, screen);
  return color;
}
