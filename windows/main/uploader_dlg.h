// The main window: banner, skinned buttons, the upload list and the upload
// button. Runs modally for the whole life of the program. It lays itself out
// at the DPI of its monitor (again when that changes), can be resized and
// maximised, and comes back where the user left it.
#pragma once

#include <windows.h>

#include <string>

#include "windows/upload_list/media_list_ctrl.h"
#include "windows/upload_list/skin_button.h"
#include "framework/dialog.h"
#include "framework/dpi.h"

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
  // The banner's continuation when the window is wider than the banner.
  void OnPaint();
  // Artwork, icons, list and fonts for dpi.
  void ApplyDpi(int dpi);
  void SetListBackground();
  // Puts every part where the client area's size has it.
  void Layout();
  // The window's last place and size, from and for the next start.
  void RestorePlacement();
  void SavePlacement();
  void OnWindowPosChanging(WINDOWPOS* pos);
  // The smallest window: the design's client area and the frame around it.
  SIZE MinimumWindow() const;
  void MeasureFrame();
  void OpenWebPage(const char* url);
  void UpdateButtons();

  CIcon icon_;
  CIcon smallIcon_;
  int dpi_ = DesignDpi;
  HWND banner_ = nullptr;
  CFont listFont_;
  int listWidth_ = 0;    // the list's width at the last layout
  RECT normalRect_{};    // the frame when last neither maximised nor minimised
  SIZE frame_{};         // how much larger the window is than its client area
  bool placed_ = false;  // laid out once: sizes are the user's from here on
  CSkinButton add_, remove_, rotate_, upload_, settings_, help_, web_;
  CUploadList uploads_;  // before the window that shows it
  CMediaListCtrl list_{uploads_};
  HACCEL accelerators_ = nullptr;
  bool running_ = false;  // an upload run is open
};
