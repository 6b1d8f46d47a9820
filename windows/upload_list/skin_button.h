// An owner-drawn push button that paints one of up to four bitmaps by state:
// <stem>U normal, <stem>D pressed, <stem>F focused, <stem>X disabled. The stem
// is the button's caption in the dialog template. The bitmaps are those of
// the artwork for the window's DPI.
#pragma once

#include <windows.h>

#include <string>

#include "framework/dialog.h"
#include "framework/dpi.h"
#include "framework/gdi.h"

class CSkinButton : public IReflectedControl {
 public:
  // Attaches to control `id` of `dialog`, loads the bitmaps named after the
  // control's caption and sizes the control to the up bitmap. False when the
  // control does not exist or the up bitmap is missing.
  bool Bind(CDialog& dialog, int id);
  bool LoadBitmaps(const std::string& stem, int dpi = DesignDpi);
  // Takes the bitmaps for another DPI and their size.
  bool SetDpi(int dpi);

  HWND GetSafeHwnd() const { return hwnd_; }
  // Which bitmap a draw request with these state flags paints (null if none).
  HBITMAP ChooseBitmap(UINT state) const;

  bool OnDrawItem(DRAWITEMSTRUCT* item) override;

 private:
  // Sizes the control to the up bitmap.
  void FitToBitmap();

  HWND hwnd_ = nullptr;
  std::string stem_;
  CBitmap up_;
  CBitmap down_;
  CBitmap focus_;
  CBitmap disabled_;
};
