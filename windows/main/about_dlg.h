// The about box: the program's picture for its DPI, name, version and
// addresses (as tall as their lines need).
#pragma once

#include <windows.h>

#include "framework/dialog.h"

class CAboutDlg : public CDialog {
 public:
  explicit CAboutDlg(HWND parent);

 protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;

 private:
  void ShowPicture(int dpi);
  // Makes the window as wide as the picture, puts the text below it and
  // grows the text and the window until every line of it shows.
  void FitText();
};
