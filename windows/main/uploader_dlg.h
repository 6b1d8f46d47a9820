// The main window: banner, skinned buttons, the upload list and the upload
// button. Runs modally for the whole life of the program.
#pragma once

#include <windows.h>

#include <string>

#include "windows/upload_list/media_list_ctrl.h"
#include "windows/upload_list/skin_button.h"
#include "framework/dialog.h"

// What the main window answers to WM_USER, so others can tell it is ours.
constexpr LRESULT PRESENCE_REPLY = 0x534B0000;

class CUploaderDlg : public CDialog {
 public:
  explicit CUploaderDlg(HWND parent = nullptr);
  ~CUploaderDlg() override;

  CUploadList& GetList() { return uploads_; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT* result) override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;
  BOOL PreTranslateMessage(MSG* msg) override;

 private:
  void OnAddFiles();
  void OnUpload();
  // True when the message carried names for the list.
  bool OnCopyData(const COPYDATASTRUCT* data);
  void OnOK() override;
  void OnCancel() override;
  // Asks before a list with files is thrown away; true to go on closing.
  bool ConfirmDiscard();
  void OnPaintMinimized();
  void OpenWebPage(const char* url);
  void UpdateButtons();

  CIcon icon_;
  CIcon smallIcon_;
  CSkinButton add_, remove_, rotate_, upload_, settings_, help_, web_;
  CUploadList uploads_;  // before the window that shows it
  CMediaListCtrl list_{uploads_};
  HACCEL accelerators_ = nullptr;
  bool running_ = false;  // an upload run is open
};
