// The about box: the program's name, version and addresses.
#pragma once

#include <windows.h>

#include "framework/dialog.h"

class CAboutDlg : public CDialog {
 public:
  explicit CAboutDlg(HWND parent);

 protected:
  BOOL OnInitDialog() override;
};
