#include "windows/main/about_dlg.h"

#include <string>

#include "core/service/service_urls.h"
#include "core/settings/program_identity.h"
#include "quib_version.h"
#include "res/resource.h"

CAboutDlg::CAboutDlg(HWND parent) : CDialog(IDD_ABOUT, parent) {}

BOOL CAboutDlg::OnInitDialog() {
  SetWindowText("Info about " QUIB_WINDOW_TITLE);
  const std::string text =
      std::string(QUIB_WINDOW_TITLE " Version " QUIB_VERSION_TEXT ", english\r\n") + QUIB_HOME_URL +
      "\r\n\r\nBRAMWELD software\r\n" + QUIB_CONTACT_URL;
  SetDlgItemText(IDC_ABOUT_VERSION, text.c_str());
  return TRUE;
}
