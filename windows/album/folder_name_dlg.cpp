#include "windows/album/folder_name_dlg.h"

#include "framework/dialog_layout.h"
#include "res/resource.h"

CFolderNameDlg::CFolderNameDlg(HWND parent) : CDialog(IDD_FOLDERNAME, parent) {}

BOOL CFolderNameDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // Over the middle of the window that asked (the transfer dialog).
  CenterWindow();
  SetWindowText("New album");
  SetDlgItemText(IDC_FOLDERNAME_LABEL, "Albumname:");
  SetDlgItemText(IDCANCEL, "Cancel");
  KeepAbove(GetSafeHwnd(), IDC_FOLDERNAME_LABEL, IDC_FOLDERNAME_NAME);
  SetFocus(GetDlgItem(IDC_FOLDERNAME_NAME));
  return FALSE;
}

void CFolderNameDlg::OnOK() {
  albumName_ = GetDlgItemText(IDC_FOLDERNAME_NAME);
  if (albumName_.empty()) {
    AppMessageBox(GetSafeHwnd(), "You did not specify a name for the album.",
                  MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  CDialog::OnOK();
}
