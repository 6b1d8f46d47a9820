// The colour on screen at a point of a window's client area (the window must be
// on top). Shared by the dialog test programs.
#pragma once

#include <windows.h>

inline COLORREF ScreenPixel(HWND window, int x, int y) {
  POINT p{x, y};
  ClientToScreen(window, &p);
  HDC screen = GetDC(nullptr);
  const COLORREF color = GetPixel(screen, p.x, p.y);
  ReleaseDC(nullptr, screen);
  return color;
}
