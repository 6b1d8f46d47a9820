// Asks during an upload whether large pictures are shrunk. The answer goes
// straight to the profile; the caller reads "ResizeImage" again after OK.
#pragma once

#include "core/settings/profile.h"
#include "framework/dialog.h"

class CResizeDlg : public CDialog {
 public:
  explicit CResizeDlg(HWND parent, IProfile& profile = GetAppProfile());

 protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;
  void OnOK() override;

 private:
  IProfile& profile_;
};
