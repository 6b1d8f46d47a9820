#include "framework/dialog.h"

#include <commctrl.h>

#include <vector>

#include "adapters/long_path.h"
#include "framework/app.h"

namespace {

const char kDialogProp[] = "QuibDialog";

// One message-filter hook per thread while a dialog of that thread runs
// modally, so dialogs can translate accelerators inside DialogBox's loop.
thread_local HHOOK t_filterHook = nullptr;
thread_local int t_modalDepth = 0;

bool IsCtlColorMessage(UINT msg) {
  return msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC;
}

}  // namespace

CDialog::CDialog(UINT templateId, HWND parent)
    : templateId_(templateId), parent_(parent), whiteBrush_(CreateSolidBrush(RGB(255, 255, 255))) {}

CDialog::~CDialog() {
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

INT_PTR CDialog::DoModal() {
  if (t_modalDepth++ == 0) {
    t_filterHook = SetWindowsHookExA(WH_MSGFILTER, MessageFilter, nullptr, GetCurrentThreadId());
  }
  // A Unicode dialog, so its controls keep every character, whatever the
  // code page.
  const INT_PTR result = DialogBoxParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(templateId_),
                                         parent_, DialogProc, reinterpret_cast<LPARAM>(this));
  if (--t_modalDepth == 0 && t_filterHook) {
    UnhookWindowsHookEx(t_filterHook);
    t_filterHook = nullptr;
  }
  hwnd_ = nullptr;
  return result;
}

void CDialog::EndDialog(INT_PTR result) {
  if (hwnd_) ::EndDialog(hwnd_, result);
}

void CDialog::SetDlgItemText(int id, const char* text) const {
  ::SetDlgItemTextW(hwnd_, id, Utf8ToWide(text ? text : "").c_str());
}

std::string CDialog::GetDlgItemText(int id) const {
  return GetWindowTextUtf8(GetDlgItem(id));
}

void CDialog::SetWindowText(const char* text) const {
  ::SetWindowTextW(hwnd_, Utf8ToWide(text ? text : "").c_str());
}

bool CDialog::IsDlgButtonChecked(int id) const {
  return ::IsDlgButtonChecked(hwnd_, id) == BST_CHECKED;
}

void CDialog::CheckDlgButton(int id, bool checked) const {
  ::CheckDlgButton(hwnd_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void CDialog::CheckRadioButton(int first, int last, int checked) const {
  ::CheckRadioButton(hwnd_, first, last, checked);
}

int CDialog::GetCheckedRadioButton(int first, int last) const {
  for (int id = first; id <= last; ++id) {
    if (IsDlgButtonChecked(id)) return id;
  }
  return 0;
}

void CDialog::CenterWindow() const {
  RECT self{};
  GetWindowRect(hwnd_, &self);
  RECT area{};
  HWND parent = parent_ ? parent_ : GetParent(hwnd_);
  if (parent && IsWindowVisible(parent) && !IsIconic(parent)) {
    GetWindowRect(parent, &area);
  } else {
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  }
  const int width = self.right - self.left;
  const int height = self.bottom - self.top;
  const int x = area.left + ((area.right - area.left) - width) / 2;
  const int y = area.top + ((area.bottom - area.top) - height) / 2;
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDialog::RegisterReflected(int controlId, IReflectedControl* control) {
  reflected_[controlId] = control;
}

bool CDialog::OnCommand(WORD id, WORD /*code*/, HWND /*control*/) {
  if (id == IDOK) {
    OnOK();
    return true;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return true;
  }
  return false;
}

LRESULT CALLBACK CDialog::MessageFilter(int code, WPARAM wp, LPARAM lp) {
  if (code == MSGF_DIALOGBOX) {
    MSG* msg = reinterpret_cast<MSG*>(lp);
    if (msg && msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST) {
      HWND root = GetAncestor(msg->hwnd, GA_ROOT);
      auto* dialog = static_cast<CDialog*>(GetPropA(root, kDialogProp));
      try {
        if (dialog && dialog->PreTranslateMessage(msg)) return 1;
      } catch (...) {
        // Nothing may leave a hook; the key goes its usual way.
      }
    }
  }
  return CallNextHookEx(t_filterHook, code, wp, lp);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  CDialog* self = nullptr;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<CDialog*>(lp);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    SetPropA(hwnd, kDialogProp, self);
  } else {
    self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (!self) return FALSE;
  INT_PTR handled = FALSE;
  try {
    handled = self->HandleMessage(msg, wp, lp);
  } catch (...) {
    // Nothing may leave a window procedure: the dialog ends as cancelled,
    // its owner's state intact, instead of the process going down.
    if (msg != WM_NCDESTROY) ::EndDialog(hwnd, IDCANCEL);
    handled = FALSE;
  }
  if (msg == WM_NCDESTROY) {
    RemovePropA(hwnd, kDialogProp);
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  return handled;
}

INT_PTR CDialog::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  if (OnMessage(msg, wp, lp, &result)) {
    // These return their answer directly from the dialog procedure.
    if (IsCtlColorMessage(msg)) return static_cast<INT_PTR>(result);
    switch (msg) {
      case WM_COMPAREITEM:
      case WM_VKEYTOITEM:
      case WM_CHARTOITEM:
      case WM_QUERYDRAGICON:
      case WM_INITDIALOG:
        return static_cast<INT_PTR>(result);
      default:
        SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
        return TRUE;
    }
  }
  if (IsCtlColorMessage(msg)) {
    SetBkColor(reinterpret_cast<HDC>(wp), RGB(255, 255, 255));
    return reinterpret_cast<INT_PTR>(whiteBrush_.Get());
  }
  switch (msg) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND:
      return OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp)) ? TRUE : FALSE;
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
      auto it = reflected_.find(static_cast<int>(item->CtlID));
      if (it != reflected_.end() && it->second->OnDrawItem(item)) return TRUE;
      return FALSE;
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lp);
      auto it = reflected_.find(static_cast<int>(header->idFrom));
      bool handled = it != reflected_.end() && it->second->OnReflectedNotify(header, &result);
      if (!handled) handled = OnNotify(header, &result);
      if (!handled) return FALSE;
      SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

int AppMessageBox(HWND owner, const char* text, UINT type) {
  CWinApp* app = AfxGetApp();
  const std::wstring caption =
      app && !app->m_pszAppName.empty() ? Utf8ToWide(app->m_pszAppName) : std::wstring();
  if (!owner) owner = GetActiveWindow();
  return MessageBoxW(owner, Utf8ToWide(text ? text : "").c_str(),
                     caption.empty() ? nullptr : caption.c_str(), type);
}

std::string GetWindowTextUtf8(HWND window) {
  if (!window) return {};
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(window, &text[0], length + 1);
  return WideToUtf8(text.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

void SetWindowTextUtf8(HWND window, const std::string& text) {
  if (window) SetWindowTextW(window, Utf8ToWide(text).c_str());
}
