// A borrowed combo box control: the wrapper does not own the window, it is
// bound to a dialog's control when the dialog initialises.
#pragma once

#include <windows.h>

#include <string>

#include "adapters/long_path.h"

class CComboBox {
 public:
  void Attach(HWND hwnd) { hwnd_ = hwnd; }
  HWND GetSafeHwnd() const { return hwnd_; }

  void ResetContent() const { Send(CB_RESETCONTENT, 0, 0); }
  // Appends (or inserts sorted, for a sorted box) a string in UTF-8; the new
  // index, or CB_ERR / CB_ERRSPACE on failure.
  int AddString(const char* text) const {
    const std::wstring wide = Utf8ToWide(text ? text : "");
    return static_cast<int>(Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str())));
  }
  int GetCount() const { return static_cast<int>(Send(CB_GETCOUNT, 0, 0)); }
  // The selected index, CB_ERR when nothing is selected.
  int GetCurSel() const { return static_cast<int>(Send(CB_GETCURSEL, 0, 0)); }
  int SetCurSel(int index) const { return static_cast<int>(Send(CB_SETCURSEL, index, 0)); }
  LRESULT GetItemData(int index) const { return Send(CB_GETITEMDATA, index, 0); }
  bool SetItemData(int index, LPARAM data) const {
    return Send(CB_SETITEMDATA, index, data) != CB_ERR;
  }
  std::string GetLBText(int index) const {
    const LRESULT length = Send(CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR || length < 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got = Send(CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
    return WideToUtf8(text.data(), got > 0 ? static_cast<size_t>(got) : 0);
  }

 private:
  LRESULT Send(UINT msg, WPARAM wp, LPARAM lp) const {
    return hwnd_ ? SendMessageW(hwnd_, msg, wp, lp) : CB_ERR;
  }

  HWND hwnd_ = nullptr;
};
