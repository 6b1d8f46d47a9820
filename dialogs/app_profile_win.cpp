#include "dialogs/app_profile.h"

#include <windows.h>

#include <wincrypt.h>

#include "framework/app.h"

namespace {

// Frees what the data protection functions allocate, wiping clear text.
struct CProtectedBlob {
  DATA_BLOB blob{};
  bool wipe = false;
  ~CProtectedBlob() {
    if (!blob.pbData) return;
    if (wipe) SecureZeroMemory(blob.pbData, blob.cbData);
    LocalFree(blob.pbData);
  }
};

DATA_BLOB BlobOf(const std::string& bytes) {
  DATA_BLOB blob;
  blob.cbData = static_cast<DWORD>(bytes.size());
  blob.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()));
  return blob;
}

}  // namespace

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

bool CAppProfile::GetProtectedString(const char* section, const char* name, std::string& value) {
  CWinApp* app = AfxGetApp();
  std::string stored;
  if (!app || !app->GetProfileBinary(section, name, stored) || stored.empty()) return false;
  DATA_BLOB in = BlobOf(stored);
  CProtectedBlob out;
  out.wipe = true;
  if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &out.blob)) {
    return false;
  }
  value.assign(reinterpret_cast<const char*>(out.blob.pbData), out.blob.cbData);
  return true;
}

bool CAppProfile::WriteProtectedString(const char* section, const char* name,
                                       const std::string& value) {
  CWinApp* app = AfxGetApp();
  if (!app) return false;
  DATA_BLOB in = BlobOf(value);
  CProtectedBlob out;
  // Never falls back to clear text: a value that cannot be protected is not
  // stored.
  if (!CryptProtectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                        &out.blob)) {
    return false;
  }
  return app->WriteProfileBinary(
             section, name,
             std::string(reinterpret_cast<const char*>(out.blob.pbData), out.blob.cbData)) != FALSE;
}

IProfile& GetAppProfile() {
  static CAppProfile profile;
  return profile;
}
