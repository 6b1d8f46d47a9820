// Settings dialog: the service account, the album choice, how large pictures
// are shrunk, and "Check now!", which tries the typed credentials against the
// service without storing them.
#pragma once

#include <mutex>
#include <string>

#include "core/settings/profile.h"
#include "framework/dialog.h"
#include "core/ports/window_queue.h"
#include "core/service/login_check.h"
#include "core/service/service_listener.h"
#include "core/service/service_urls.h"

class CSettingsDlg : public CDialog, public IServiceListener {
 public:
  explicit CSettingsDlg(HWND parent, IProfile& profile = GetAppProfile(),
                        std::string loginUrl = QUIB_LOGIN_URL);
  ~CSettingsDlg() override;

  // True while a check runs (from "Check now!" until its result was shown).
  bool IsChecking() const { return client_ != nullptr; }

  // Listener of the check; called on the request's worker thread.
  void OnUploadProgress(int /*sent*/, int /*total*/) override {}
  void OnResponseProgress(int /*received*/, int /*available*/) override {}
  void OnLogInDone(int result) override;
  void OnDirListDone(CAlbumList* list, int result) override;
  void OnCreateDirDone(int /*albumId*/, int /*result*/) override {}
  void OnUploadDone(int /*result*/) override {}
  void OnAborted() override;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;
  void OnOK() override;

 private:
  void OnCheckNow();
  // On the user-interface thread: shows the check's result and ends it.
  void OnCheckDone(int result, bool aborted);
  void EndCheck();

  IProfile& profile_;
  std::string loginUrl_;
  // The running check, or null (idle). Owned: deleted after its result was
  // shown, or abandoned when the dialog goes away first.
  CLoginCheck* client_ = nullptr;
  // Carries the check's result to this window's thread.
  std::unique_ptr<quib::IWindowQueue> queue_;
};

namespace quib {

// The icon of the message a credentials check ends with.
UINT CheckResultIcon(int result);

}  // namespace quib
