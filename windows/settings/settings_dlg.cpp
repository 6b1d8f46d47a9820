#include "windows/settings/settings_dlg.h"

#include <atomic>
#include <utility>

#include "core/text/text_convert.h"
#include "res/resource.h"
#include "core/ports/platform.h"
#include "core/service/album_list.h"

namespace {}  // namespace

namespace quib {

UINT CheckResultIcon(int result) {
  return result == ResultOk ? MB_ICONINFORMATION : MB_ICONSTOP;
}

}  // namespace quib

// --- CSettingsDlg ---------------------------------------------------------

CSettingsDlg::CSettingsDlg(HWND parent, IProfile& profile, std::string loginUrl)
    : CDialog(IDD_SETTINGS, parent), profile_(profile), loginUrl_(std::move(loginUrl)) {}

CSettingsDlg::~CSettingsDlg() {
  CLoginCheck::Abandon(std::exchange(client_, nullptr));
}

BOOL CSettingsDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText("Settings");
  SetDlgItemText(IDC_SETTINGS_USERNAME_LABEL, "Username:");
  SetDlgItemText(IDC_SETTINGS_PASSWORD_LABEL, "Password:");
  SetDlgItemText(IDC_SETTINGS_CHECK, "Check now!");
  SetDlgItemText(IDC_SETTINGS_FOLDER_TEXT,
                 "Do you want to upload all pictures and movies\r\nto your public inbox by "
                 "default or let album\r\nselection dialog pop-up each time.");
  SetDlgItemText(IDOK, "OK");
  SetDlgItemText(IDCANCEL, "Cancel");
  SetDlgItemText(IDC_SETTINGS_ASK_FOLDER, "Show album selection dialog");
  SetDlgItemText(IDC_SETTINGS_PUBLIC_INBOX, "Upload to public inbox by default");
  SetDlgItemText(IDC_SETTINGS_RESIZE_TEXT, "Resize large pictures before upload?");
  SetDlgItemText(IDC_SETTINGS_RESIZE_SMALL, "small, 640x480 (low-bandwidth)");
  SetDlgItemText(IDC_SETTINGS_RESIZE_MEDIUM, "medium, 1024x768 (high-bandwidth)");
  SetDlgItemText(IDC_SETTINGS_RESIZE_NONE, "Don't resize!");

  SetDlgItemText(IDC_SETTINGS_USERNAME, ReadUsername(profile_).c_str());
  SetDlgItemText(IDC_SETTINGS_PASSWORD, ReadPassword(profile_).c_str());
  CheckRadioButton(IDC_SETTINGS_ASK_FOLDER, IDC_SETTINGS_PUBLIC_INBOX,
                   ReadAskFolder(profile_) ? IDC_SETTINGS_ASK_FOLDER : IDC_SETTINGS_PUBLIC_INBOX);
  int resize = IDC_SETTINGS_RESIZE_NONE;  // also for values nobody writes
  switch (ReadResizeImage(profile_)) {
    case ResizeSmall:
      resize = IDC_SETTINGS_RESIZE_SMALL;
      break;
    case ResizeMedium:
      resize = IDC_SETTINGS_RESIZE_MEDIUM;
      break;
    default:
      break;
  }
  CheckRadioButton(IDC_SETTINGS_RESIZE_SMALL, IDC_SETTINGS_RESIZE_NONE, resize);
  return TRUE;
}

bool CSettingsDlg::OnCommand(WORD id, WORD code, HWND control) {
  if (id == IDC_SETTINGS_CHECK && code == BN_CLICKED) {
    OnCheckNow();
    return true;
  }
  return CDialog::OnCommand(id, code, control);
}

void CSettingsDlg::OnOK() {
  const std::string username = GetDlgItemText(IDC_SETTINGS_USERNAME);
  const std::string password = GetDlgItemText(IDC_SETTINGS_PASSWORD);
  // Only a complete pair replaces the stored one; an empty field keeps both.
  bool passwordStored = true;
  if (!username.empty() && !password.empty()) {
    profile_.WriteString(ProfileSectionSettings, ProfileUsername, username);
    passwordStored = WritePassword(profile_, password);
  }
  switch (GetCheckedRadioButton(IDC_SETTINGS_ASK_FOLDER, IDC_SETTINGS_PUBLIC_INBOX)) {
    case IDC_SETTINGS_ASK_FOLDER:
      profile_.WriteInt(ProfileSectionSettings, ProfileAskFolder, 1);
      break;
    case IDC_SETTINGS_PUBLIC_INBOX:
      profile_.WriteInt(ProfileSectionSettings, ProfileAskFolder, 0);
      break;
    default:
      break;  // nothing checked: nothing written
  }
  switch (GetCheckedRadioButton(IDC_SETTINGS_RESIZE_SMALL, IDC_SETTINGS_RESIZE_NONE)) {
    case IDC_SETTINGS_RESIZE_SMALL:
      profile_.WriteInt(ProfileSectionSettings, ProfileResizeImage, ResizeSmall);
      break;
    case IDC_SETTINGS_RESIZE_MEDIUM:
      profile_.WriteInt(ProfileSectionSettings, ProfileResizeImage, ResizeMedium);
      break;
    case IDC_SETTINGS_RESIZE_NONE:
      profile_.WriteInt(ProfileSectionSettings, ProfileResizeImage, ResizeNone);
      break;
    default:
      break;
  }
  if (!passwordStored) {
    AppMessageBox(GetSafeHwnd(), kTextPasswordNotStoredForLater, MB_OK | MB_ICONSTOP);
  }
  CDialog::OnOK();
}

void CSettingsDlg::OnCheckNow() {
  // One check at a time; further presses wait for its result.
  if (client_) return;
  // The typed values are tried, not stored.
  const std::string username = GetDlgItemText(IDC_SETTINGS_USERNAME);
  const std::string password = GetDlgItemText(IDC_SETTINGS_PASSWORD);
  if (!queue_) queue_ = quib::MakeWindowQueue();
  client_ = new CLoginCheck(this);
  client_->Start(loginUrl_, username, password, ServiceLanguage, ServiceVersion);
}

void CSettingsDlg::OnLogInDone(int result) {
  // Worker thread: the window work happens on the dialog's own thread.
  if (queue_) queue_->Post([this, result] { OnCheckDone(result, false); });
}

void CSettingsDlg::OnDirListDone(CAlbumList* list, int /*result*/) {
  delete list;
}

void CSettingsDlg::OnAborted() {
  if (queue_) queue_->Post([this] { OnCheckDone(ResultFailed, true); });
}

bool CSettingsDlg::OnMessage(UINT msg, WPARAM /*wp*/, LPARAM /*lp*/, LRESULT* /*result*/) {
  if (msg == WM_DESTROY) {
    // A check still running must not report to a dialog that is gone.
    CLoginCheck::Abandon(std::exchange(client_, nullptr));
  }
  return false;
}

void CSettingsDlg::OnCheckDone(int result, bool aborted) {
  if (!client_) return;
  if (!aborted) {
    // Owned by the dialog: it is disabled while the box shows and usable
    // again once the box is closed.
    AppMessageBox(GetSafeHwnd(), quib::CheckResultText(result),
                  MB_OK | quib::CheckResultIcon(result));
  }
  EndCheck();
}

void CSettingsDlg::EndCheck() {
  // The check has passed on its final event; deleting it waits for its
  // worker thread to return.
  delete std::exchange(client_, nullptr);
}
