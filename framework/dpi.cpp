#include "framework/dpi.h"

namespace {

// Bound on first use: these came with Windows 10 (1607 and 1703).
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using SetDialogDpiChangeBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
// DIALOG_DPI_CHANGE_BEHAVIORS: DDC_DISABLE_ALL.
constexpr int DialogDpiChangeDisableAll = 0x0001;

template <typename Fn>
Fn User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleA("user32.dll");
  return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                : nullptr;
}

}  // namespace

int GetWindowDpi(HWND window) {
  static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (getDpiForWindow && window) {
    if (const UINT dpi = getDpiForWindow(window)) return static_cast<int>(dpi);
  }
  HDC dc = GetDC(window);
  const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
  if (dc) ReleaseDC(window, dc);
  return dpi > 0 ? dpi : DesignDpi;
}

int GetSystemMetricForDpi(int index, int dpi) {
  static const auto forDpi = User32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
  return forDpi ? forDpi(index, static_cast<UINT>(dpi)) : GetSystemMetrics(index);
}

CFont CreatePointFont(const char* face, int points, int dpi) {
  LOGFONTW font{};
  font.lfHeight = -MulDiv(points, dpi, 72);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  MultiByteToWideChar(CP_UTF8, 0, face, -1, font.lfFaceName, LF_FACESIZE);
  font.lfFaceName[LF_FACESIZE - 1] = L'\0';
  return CFont(CreateFontIndirectW(&font));
}

CFont ScaleWindowFont(HWND window, int fromDpi, int toDpi) {
  HFONT current = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  LOGFONTW font{};
  if (!current || !GetObjectW(current, sizeof font, &font) || fromDpi <= 0) return CFont();
  font.lfHeight = MulDiv(font.lfHeight, toDpi, fromDpi);
  font.lfWidth = MulDiv(font.lfWidth, toDpi, fromDpi);
  return CFont(CreateFontIndirectW(&font));
}

void KeepOwnLayoutOnDpiChange(HWND dialog) {
  static const auto setBehavior =
      User32Function<SetDialogDpiChangeBehaviorFn>("SetDialogDpiChangeBehavior");
  if (setBehavior) setBehavior(dialog, DialogDpiChangeDisableAll, DialogDpiChangeDisableAll);
}

void SetPicture(HWND picture, CBitmap bitmap) {
  if (!picture) return;
  HGDIOBJ old = reinterpret_cast<HGDIOBJ>(
      SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap.Detach())));
  if (old) DeleteObject(old);
}

HWND FindPicture(HWND dialog) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char cls[16] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0 &&
        (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) {
      return child;
    }
  }
  return nullptr;
}
