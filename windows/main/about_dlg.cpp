#include "windows/main/about_dlg.h"

#include <algorithm>
#include <string>
#include <utility>

#include "core/service/service_urls.h"
#include "core/settings/program_identity.h"
#include "framework/dpi.h"
#include "quib_version.h"
#include "res/resource.h"
#include "windows/common/artwork.h"

namespace {

// Fits the text again once the dialog manager has scaled the window for
// another DPI.
constexpr UINT MsgFitText = WM_APP + 0x10;

}  // namespace

CAboutDlg::CAboutDlg(HWND parent) : CDialog(IDD_ABOUT, parent) {}

BOOL CAboutDlg::OnInitDialog() {
  SetWindowText("Info about " QUIB_WINDOW_TITLE);
  const std::string text =
      std::string(QUIB_WINDOW_TITLE " Version " QUIB_VERSION_TEXT ", english\r\n") + QUIB_HOME_URL +
      "\r\n\r\nBRAMWELD software\r\n" + QUIB_CONTACT_URL;
  SetDlgItemText(IDC_ABOUT_VERSION, text.c_str());
  ShowPicture(GetWindowDpi(GetSafeHwnd()));
  FitText();
  return TRUE;
}

void CAboutDlg::FitText() {
  // Dialog units round otherwise than the picture's pixels: at 150 % the
  // window would be a pixel narrower than the picture, and the text would
  // start on its last rows. And the addresses are the
  // service's, of any length: a line longer than the box wraps, and the box
  // grows by the lines that wrapping adds.
  HWND text = GetDlgItem(IDC_ABOUT_VERSION);
  HWND ok = GetDlgItem(IDOK);
  RECT format{};
  TEXTMETRICA metrics{};
  HDC dc = GetDC(text);
  if (!text || !ok || !dc) {
    if (dc) ReleaseDC(text, dc);
    return;
  }
  {
    CSelectObject font(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(text, WM_GETFONT, 0, 0)));
    GetTextMetricsA(dc, &metrics);
  }
  ReleaseDC(text, dc);
  SendMessageA(text, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
  const int lines = static_cast<int>(SendMessageA(text, EM_GETLINECOUNT, 0, 0));
  const int grow =
      std::max<int>(0, lines * metrics.tmHeight - static_cast<int>(format.bottom - format.top));
  RECT picture{};
  RECT below{};
  RECT client{};
  GetWindowRect(FindPicture(GetSafeHwnd()), &picture);
  MapWindowPoints(nullptr, GetSafeHwnd(), reinterpret_cast<POINT*>(&picture), 2);
  GetWindowRect(text, &below);
  MapWindowPoints(nullptr, GetSafeHwnd(), reinterpret_cast<POINT*>(&below), 2);
  GetClientRect(GetSafeHwnd(), &client);
  const int down = std::max(0, static_cast<int>(picture.bottom - below.top));
  const int wider = std::max(0, static_cast<int>(picture.right - client.right));
  if (grow == 0 && down == 0 && wider == 0) return;
  const auto move = [this](HWND part, int dx, int dy, int dw, int dh) {
    RECT r{};
    GetWindowRect(part, &r);
    if (part != GetSafeHwnd()) {
      MapWindowPoints(nullptr, GetSafeHwnd(), reinterpret_cast<POINT*>(&r), 2);
    }
    SetWindowPos(part, nullptr, r.left + dx, r.top + dy, r.right - r.left + dw,
                 r.bottom - r.top + dh, SWP_NOZORDER | SWP_NOACTIVATE);
  };
  move(text, 0, down, 0, grow);
  move(ok, wider / 2, down + grow, 0, 0);
  RECT window{};
  GetWindowRect(GetSafeHwnd(), &window);
  SetWindowPos(GetSafeHwnd(), nullptr, 0, 0, window.right - window.left + wider,
               window.bottom - window.top + down + grow,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CAboutDlg::OnMessage(UINT msg, WPARAM wp, LPARAM /*lp*/, LRESULT* result) {
  // The dialog manager scales the text and the button; the picture is ours,
  // and so is the room the text took beyond the template.
  if (msg == WM_DPICHANGED) {
    ShowPicture(HIWORD(wp));
    PostMessageA(GetSafeHwnd(), MsgFitText, 0, 0);
  }
  if (msg == MsgFitText) {
    FitText();
    *result = 0;
    return true;
  }
  // Ours to delete, as is the one the control loaded from the template.
  if (msg == WM_DESTROY) SetPicture(FindPicture(GetSafeHwnd()), CBitmap());
  return false;
}

void CAboutDlg::ShowPicture(int dpi) {
  if (CBitmap picture = LoadArtworkBitmap(IDB_ABOUT, dpi)) {
    SetPicture(FindPicture(GetSafeHwnd()), std::move(picture));
  }
}
