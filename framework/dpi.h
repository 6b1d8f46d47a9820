// Dots per inch of windows and the artwork and fonts that suit them. The
// per-monitor functions of newer Windows are bound on first use, so the
// program still runs where they are missing (it then sees the system's DPI).
#pragma once

#include <windows.h>

#include <string>

#include "framework/gdi.h"

constexpr int DesignDpi = 96;

// The DPI a window is laid out and painted at: its monitor's with
// per-monitor awareness, else the system's.
int GetWindowDpi(HWND window);
// Pixels at 96 DPI to pixels at dpi, rounded.
inline int ScaleToDpi(int pixels, int dpi) {
  return MulDiv(pixels, dpi, DesignDpi);
}

// Puts a bitmap into a picture control (a static with SS_BITMAP) and
// deletes the one it showed: the control does not delete pictures it is
// given, nor, under Wine, the one it loaded from the template.
void SetPicture(HWND picture, CBitmap bitmap);
// The first picture control of a dialog; null when it has none.
HWND FindPicture(HWND dialog);

// A system metric (GetSystemMetrics) for dpi.
int GetSystemMetricForDpi(int index, int dpi);
// A font of the given face and point size for dpi.
CFont CreatePointFont(const char* face, int points, int dpi);
// The window's font again for another DPI (height scaled); empty when the
// window has no font.
CFont ScaleWindowFont(HWND window, int fromDpi, int toDpi);
// The dialog lays itself out when its DPI changes: the system's dialog
// manager must not resize it or its controls, nor change their fonts.
void KeepOwnLayoutOnDpiChange(HWND dialog);
