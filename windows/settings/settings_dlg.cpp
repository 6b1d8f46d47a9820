#include "windows/settings/settings_dlg.h"

#include <atomic>
#include <utility>

#include "core/text/text_convert.h"
#include "res/resource.h"
#include "core/service/album_list.h"

namespace {

// Carries a check's final event to the dialog's thread: wParam is the
// result, lParam 1 when the request was cancelled instead.
constexpr UINT MsgCheckDone = WM_APP + 0x117;

const char kLanguage[] = "DE";
const char kVersion[] = "1.0";

std::atomic<int> g_liveChecks{0};

}  // namespace

namespace quib {

const char* CheckResultText(int result) {
  if (result == ResultOk) return "Username and password seem to be correct.";
  if (result == ResultBadLogin) return "You need valid username and password to upload files.";
  return "The server is not responding.";
}

UINT CheckResultIcon(int result) {
  return result == ResultOk ? MB_ICONINFORMATION : MB_ICONSTOP;
}

}  // namespace quib

// --- CLoginCheck ----------------------------------------------------------

CLoginCheck::CLoginCheck(IServiceListener* listener) : listener_(listener), client_(this) {
  ++g_liveChecks;
}

CLoginCheck::~CLoginCheck() {
  --g_liveChecks;
}

int CLoginCheck::LiveCount() {
  return g_liveChecks.load();
}

void CLoginCheck::Start(const std::string& url, const std::string& username,
                        const std::string& password, const std::string& language,
                        const std::string& version) {
  client_.LogIn(url, username, password, language, version);
}

void CLoginCheck::Abandon(CLoginCheck* check) {
  if (!check) return;
  {
    std::lock_guard<std::mutex> guard(check->lock_);
    check->listener_ = nullptr;
    if (!check->finished_) {
      // The final event (cancelled, or a result that was just arriving)
      // deletes the check on the worker thread. Aborting under the lock, since
      // that final event may delete the check as soon as the lock is free.
      check->client_.Abort();
      return;
    }
  }
  // The worker has passed its final event on; deleting waits for it to end.
  delete check;
}

void CLoginCheck::Finish(int result, bool aborted) {
  bool abandoned = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    finished_ = true;
    if (listener_) {
      if (aborted)
        listener_->OnAborted();
      else
        listener_->OnLogInDone(result);
    } else {
      abandoned = true;
    }
  }
  // The client's final listener call is its last use of itself, so the check
  // (and the client with it) may go here.
  if (abandoned) delete this;
}

void CLoginCheck::OnUploadProgress(int, int) {}
void CLoginCheck::OnResponseProgress(int, int) {}
void CLoginCheck::OnLogInDone(int result) {
  Finish(result, false);
}
void CLoginCheck::OnDirListDone(CAlbumList* list, int result) {
  // Only LogIn is ever sent; a list would be ours to delete.
  delete list;
  Finish(result, false);
}
void CLoginCheck::OnCreateDirDone(int, int result) {
  Finish(result, false);
}
void CLoginCheck::OnUploadDone(int result) {
  Finish(result, false);
}
void CLoginCheck::OnAborted() {
  Finish(ResultFailed, true);
}

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
  const std::string username = AnsiToUtf8(GetDlgItemText(IDC_SETTINGS_USERNAME));
  const std::string password = AnsiToUtf8(GetDlgItemText(IDC_SETTINGS_PASSWORD));
  client_ = new CLoginCheck(this);
  client_->Start(loginUrl_, username, password, AnsiToUtf8(kLanguage), AnsiToUtf8(kVersion));
}

void CSettingsDlg::OnLogInDone(int result) {
  // Worker thread: the window work happens on the dialog's own thread.
  PostMessageA(GetSafeHwnd(), MsgCheckDone, static_cast<WPARAM>(result), 0);
}

void CSettingsDlg::OnDirListDone(CAlbumList* list, int /*result*/) {
  delete list;
}

void CSettingsDlg::OnAborted() {
  PostMessageA(GetSafeHwnd(), MsgCheckDone, static_cast<WPARAM>(ResultFailed), 1);
}

bool CSettingsDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  if (msg == MsgCheckDone) {
    OnCheckDone(static_cast<int>(wp), lp != 0);
    *result = 0;
    return true;
  }
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
