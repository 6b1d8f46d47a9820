#include "windows/login/login_dlg.h"

#include <string>

#include "framework/dialog_layout.h"
#include "res/resource.h"

CLoginDlg::CLoginDlg(HWND parent, IProfile& profile)
    : CDialog(IDD_LOGIN, parent), profile_(profile) {}

BOOL CLoginDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // Over the middle of the window that asked (the transfer dialog).
  CenterWindow();
  SetWindowText("Login data");
  SetDlgItemText(IDC_LOGIN_USERNAME_LABEL, "Username:");
  SetDlgItemText(IDC_LOGIN_PASSWORD_LABEL, "Password:");
  SetDlgItemText(IDCANCEL, "Cancel");
  KeepAbove(GetSafeHwnd(), IDC_LOGIN_USERNAME_LABEL, IDC_LOGIN_USERNAME);
  KeepAbove(GetSafeHwnd(), IDC_LOGIN_PASSWORD_LABEL, IDC_LOGIN_PASSWORD);
  // Stored values are deliberately not shown: the dialog only appears when
  // one of them is missing, and the user types both again.
  return TRUE;
}

void CLoginDlg::OnOK() {
  const std::string username = GetDlgItemText(IDC_LOGIN_USERNAME);
  const std::string password = GetDlgItemText(IDC_LOGIN_PASSWORD);
  if (username.empty() || password.empty()) {
    AppMessageBox(GetSafeHwnd(), "Enter username and password first.", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  // Stored exactly as typed (the password protected for this Windows user); a
  // confirmed login always asks for the album next.
  profile_.WriteString(ProfileSectionSettings, ProfileUsername, username);
  const bool stored = WritePassword(profile_, password);
  profile_.WriteInt(ProfileSectionSettings, ProfileAskFolder, 1);
  username_ = username;
  password_ = password;
  if (!stored) AppMessageBox(GetSafeHwnd(), kTextPasswordNotStoredForRun, MB_OK | MB_ICONSTOP);
  CDialog::OnOK();
}
