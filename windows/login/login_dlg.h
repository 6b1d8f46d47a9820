// Asks for the service account when an upload starts without stored
// credentials, and stores what the user confirmed.
#pragma once

#include <string>

#include "core/settings/profile.h"
#include "framework/dialog.h"

class CLoginDlg : public CDialog {
 public:
  explicit CLoginDlg(HWND parent, IProfile& profile = GetAppProfile());

  // What was confirmed with OK; empty otherwise.
  const std::string& GetUsername() const { return username_; }
  const std::string& GetPassword() const { return password_; }

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;

 private:
  IProfile& profile_;
  std::string username_;
  std::string password_;
};
