#include "windows/upload_list/skin_button.h"

#include "windows/common/artwork.h"

bool CSkinButton::Bind(CDialog& dialog, int id) {
  hwnd_ = dialog.GetDlgItem(id);
  if (!hwnd_) return false;
  char caption[64] = {};
  GetWindowTextA(hwnd_, caption, sizeof caption);
  dialog.RegisterReflected(id, this);
  if (!LoadBitmaps(caption, GetWindowDpi(dialog.GetSafeHwnd()))) return false;
  FitToBitmap();
  return true;
}

bool CSkinButton::SetDpi(int dpi) {
  if (!hwnd_ || stem_.empty() || !LoadBitmaps(stem_, dpi)) return false;
  FitToBitmap();
  InvalidateRect(hwnd_, nullptr, FALSE);
  return true;
}

void CSkinButton::FitToBitmap() {
  const SIZE size = GetBitmapSize(up_.Get());
  SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
}

bool CSkinButton::LoadBitmaps(const std::string& stem, int dpi) {
  stem_ = stem;
  up_ = LoadArtworkBitmap(stem + "U", dpi);
  down_ = LoadArtworkBitmap(stem + "D", dpi);
  focus_ = LoadArtworkBitmap(stem + "F", dpi);
  disabled_ = LoadArtworkBitmap(stem + "X", dpi);
  return static_cast<bool>(up_);
}

HBITMAP CSkinButton::ChooseBitmap(UINT state) const {
  // Pressed wins over focused, focused over disabled.
  if ((state & ODS_SELECTED) && down_) return down_.Get();
  if ((state & ODS_FOCUS) && focus_) return focus_.Get();
  if ((state & ODS_DISABLED) && disabled_) return disabled_.Get();
  return up_.Get();
}

bool CSkinButton::OnDrawItem(DRAWITEMSTRUCT* item) {
  HBITMAP bitmap = ChooseBitmap(item->itemState);
  if (!bitmap) return true;
  CMemoryDC memory(item->hDC);
  if (!memory) return true;
  CSelectObject select(memory.Get(), bitmap);
  if (!select.Ok()) return true;
  const RECT& r = item->rcItem;
  BitBlt(item->hDC, r.left, r.top, r.right - r.left, r.bottom - r.top, memory.Get(), 0, 0, SRCCOPY);
  return true;
}
