#include "dialogs/app_profile.h"

#include "framework/app.h"

// Without an application object (never the case in the program) reads give
// the defaults and writes are dropped, as for an unreachable registry.

int CAppProfile::GetInt(const char* section, const char* name, int defaultValue) {
  CWinApp* app = AfxGetApp();
  if (!app) return defaultValue;
  // The registry holds an unsigned DWORD; the program treats it as signed.
  return static_cast<int>(app->GetProfileInt(section, name, defaultValue));
}

std::string CAppProfile::GetString(const char* section, const char* name) {
  CWinApp* app = AfxGetApp();
  return app ? app->GetProfileString(section, name, "") : std::string();
}

void CAppProfile::WriteInt(const char* section, const char* name, int value) {
  if (CWinApp* app = AfxGetApp()) app->WriteProfileInt(section, name, value);
}

void CAppProfile::WriteString(const char* section, const char* name, const std::string& value) {
  if (CWinApp* app = AfxGetApp()) app->WriteProfileString(section, name, value.c_str());
}

IProfile& GetAppProfile() {
  static CAppProfile profile;
  return profile;
}
