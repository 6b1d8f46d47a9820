// Asks for the service account when an upload starts without stored
// credentials, and stores what the user confirmed.
#pragma once

#include "dialogs/app_profile.h"
#include "framework/dialog.h"

class CLoginDlg : public CDialog {
 public:
  explicit CLoginDlg(HWND parent, IProfile& profile = GetAppProfile());

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;

 private:
  IProfile& profile_;
};
