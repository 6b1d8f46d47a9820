// Modal dialog base: DoModal over DialogBoxParam, one dialog procedure that
// dispatches to virtual handlers, and the white WM_CTLCOLOR* brush every
// dialog of the program answers with.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "framework/gdi.h"

// A child control that wants the messages its parent receives about it
// (owner drawing, notifications): the dialog hands them over first.
class IReflectedControl {
 public:
  virtual ~IReflectedControl() = default;
  virtual bool OnDrawItem(DRAWITEMSTRUCT* /*item*/) { return false; }
  virtual bool OnReflectedNotify(NMHDR* /*header*/, LRESULT* /*result*/) { return false; }
};

class CDialog {
 public:
  CDialog(UINT templateId, HWND parent);
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Runs the dialog modally; returns what EndDialog was given, or -1 when
  // the template could not be loaded.
  INT_PTR DoModal();
  void EndDialog(INT_PTR result);

  HWND GetSafeHwnd() const { return hwnd_; }
  HWND GetParentHwnd() const { return parent_; }
  UINT GetTemplateId() const { return templateId_; }

  HWND GetDlgItem(int id) const { return ::GetDlgItem(hwnd_, id); }
  // Texts in UTF-8, as every text of the program.
  void SetDlgItemText(int id, const char* text) const;
  std::string GetDlgItemText(int id) const;
  void SetWindowText(const char* text) const;
  bool IsDlgButtonChecked(int id) const;
  void CheckDlgButton(int id, bool checked) const;
  void CheckRadioButton(int first, int last, int checked) const;
  // The id of the checked button of a radio group, 0 when none is checked.
  int GetCheckedRadioButton(int first, int last) const;
  void CenterWindow() const;

  // Lets a child control handle its own owner drawing and notifications.
  void RegisterReflected(int controlId, IReflectedControl* control);

  HBRUSH GetWhiteBrush() const { return whiteBrush_.Get(); }

 protected:
  virtual BOOL OnInitDialog() { return TRUE; }
  // Return true when handled. The default sends IDOK and IDCANCEL to OnOK
  // and OnCancel.
  virtual bool OnCommand(WORD id, WORD code, HWND control);
  virtual bool OnNotify(NMHDR* /*header*/, LRESULT* /*result*/) { return false; }
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // Sees every message first; return true (and set result) to consume it.
  virtual bool OnMessage(UINT /*msg*/, WPARAM /*wp*/, LPARAM /*lp*/, LRESULT* /*result*/) {
    return false;
  }
  // Keyboard messages of this dialog's modal loop, before dispatch; return
  // TRUE to consume the message (accelerators).
  virtual BOOL PreTranslateMessage(MSG* /*msg*/) { return FALSE; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK MessageFilter(int code, WPARAM wp, LPARAM lp);
  INT_PTR HandleMessage(UINT msg, WPARAM wp, LPARAM lp);

  UINT templateId_;
  HWND parent_;
  HWND hwnd_ = nullptr;
  CBrush whiteBrush_;
  std::map<int, IReflectedControl*> reflected_;
};

// An ordinary message box with the program's name as caption; the text in
// UTF-8, as every text of the program.
int AppMessageBox(HWND owner, const char* text, UINT type);

// A window's text in UTF-8, and the other way.
std::string GetWindowTextUtf8(HWND window);
void SetWindowTextUtf8(HWND window, const std::string& text);
