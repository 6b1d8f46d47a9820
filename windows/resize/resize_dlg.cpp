#include "windows/resize/resize_dlg.h"

#include "res/resource.h"

CResizeDlg::CResizeDlg(HWND parent, IProfile& profile)
    : CDialog(IDD_RESIZE, parent), profile_(profile) {}

BOOL CResizeDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // Over the middle of the window that asked (the transfer dialog).
  CenterWindow();
  // The caption stays the template's.
  SetDlgItemText(IDOK, "OK");
  SetDlgItemText(IDCANCEL, "Cancel");
  SetDlgItemText(IDC_RESIZE_TEXT,
                 "Some of your pictures are very large.\r\nTo save time and storage\r\nthose "
                 "picures could be\r\nautomatically resized before upload.");
  SetDlgItemText(IDC_RESIZE_SMALL, "small, 640x480 (low-bandwidth)");
  SetDlgItemText(IDC_RESIZE_MEDIUM, "medium, 1024x768 (high-bandwidth)");
  SetDlgItemText(IDC_RESIZE_NONE, "Don't resize!");
  SetDlgItemText(IDC_RESIZE_DONT_ASK, "Don't ask in future.");
  // The prompt only appears while "ResizeImage" is 3, so it always starts at
  // "Don't resize!" with the box clear.
  CheckRadioButton(IDC_RESIZE_SMALL, IDC_RESIZE_NONE, IDC_RESIZE_NONE);
  CheckDlgButton(IDC_RESIZE_DONT_ASK, false);
  return TRUE;
}

bool CResizeDlg::OnMessage(UINT msg, WPARAM /*wp*/, LPARAM /*lp*/, LRESULT* result) {
  if (msg != WM_PAINT) return false;
  // Nothing of our own to draw; the background comes from the white brush.
  PAINTSTRUCT paint;
  BeginPaint(GetSafeHwnd(), &paint);
  EndPaint(GetSafeHwnd(), &paint);
  *result = 0;
  return true;
}

void CResizeDlg::OnOK() {
  switch (GetCheckedRadioButton(IDC_RESIZE_SMALL, IDC_RESIZE_NONE)) {
    case IDC_RESIZE_SMALL:
      profile_.WriteInt(ProfileSectionSettings, ProfileResizeImage, ResizeSmall);
      break;
    case IDC_RESIZE_MEDIUM:
      profile_.WriteInt(ProfileSectionSettings, ProfileResizeImage, ResizeMedium);
      break;
    case IDC_RESIZE_NONE:
      profile_.WriteInt(ProfileSectionSettings, ProfileResizeImage, ResizeNone);
      break;
    default:
      break;  // nothing checked: nothing written
  }
  if (IsDlgButtonChecked(IDC_RESIZE_DONT_ASK)) {
    profile_.WriteInt(ProfileSectionSettings, ProfileAskResize, 0);
  }
  CDialog::OnOK();
}
