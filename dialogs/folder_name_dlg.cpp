#include "dialogs/folder_name_dlg.h"

#include "res/resource.h"

CFolderNameDlg::CFolderNameDlg(HWND parent) : CDialog(IDD_FOLDERNAME, parent) {}

BOOL CFolderNameDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText("New album");
  SetDlgItemText(IDC_FOLDERNAME_LABEL, "Albumname:");
  SetDlgItemText(IDCANCEL, "Cancel");
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
