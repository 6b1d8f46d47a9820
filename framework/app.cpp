#include "framework/app.h"

#include <memory>

namespace {

CWinApp* g_app = nullptr;

// Closes a registry key when it goes out of scope.
struct RegKey {
  HKEY key = nullptr;
  ~RegKey() {
    if (key) RegCloseKey(key);
  }
};

std::string ModuleBaseName(HINSTANCE instance) {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(instance, path, MAX_PATH);
  std::string name(path, n < MAX_PATH ? n : 0);
  const size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

}  // namespace

CWinApp::CWinApp() {
  g_app = this;
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() {
  return g_app;
}

HINSTANCE AfxGetInstanceHandle() {
  return g_app && g_app->m_hInstance ? g_app->m_hInstance : GetModuleHandleA(nullptr);
}

const char* SkipProgramName(const char* commandLine) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine ? commandLine : "");
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p > ' ') ++p;
  }
  while (*p && *p <= ' ') ++p;
  return reinterpret_cast<const char*>(p);
}

int CWinApp::Run(HINSTANCE instance, const char* cmdLine) {
  m_hInstance = instance;
  m_lpCmdLine = cmdLine ? cmdLine : "";
  m_pszAppName = ModuleBaseName(instance);
  InitInstance();
  return 0;
}

void CWinApp::SetRegistryKey(const char* key) {
  registryKey_ = key ? key : "";
}

std::string CWinApp::SectionKey(const char* section) const {
  return "Software\\" + registryKey_ + "\\" + m_pszAppName + "\\" + section;
}

UINT CWinApp::GetProfileInt(const char* section, const char* entry, int defaultValue) const {
  RegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, KEY_READ, &key.key) !=
      ERROR_SUCCESS) {
    return static_cast<UINT>(defaultValue);
  }
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegQueryValueExA(key.key, entry, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value) {
    // Missing, or not a 32-bit number: the default holds.
    return static_cast<UINT>(defaultValue);
  }
  return value;
}

std::string CWinApp::GetProfileString(const char* section, const char* entry,
                                      const char* defaultValue) const {
  const std::string fallback = defaultValue ? defaultValue : "";
  RegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, KEY_READ, &key.key) !=
      ERROR_SUCCESS) {
    return fallback;
  }
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key.key, entry, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return fallback;
  }
  std::string value(size + 1, '\0');
  DWORD got = size;
  if (RegQueryValueExA(key.key, entry, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &got) !=
      ERROR_SUCCESS) {
    return fallback;
  }
  value.resize(got < value.size() ? got : value.size());
  const size_t nul = value.find('\0');
  if (nul != std::string::npos) value.resize(nul);
  return value;
}

BOOL CWinApp::WriteProfileInt(const char* section, const char* entry, int value) const {
  RegKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, nullptr, 0, KEY_WRITE,
                      nullptr, &key.key, nullptr) != ERROR_SUCCESS) {
    return FALSE;
  }
  const DWORD dw = static_cast<DWORD>(value);
  return RegSetValueExA(key.key, entry, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dw),
                        sizeof dw) == ERROR_SUCCESS;
}

BOOL CWinApp::WriteProfileString(const char* section, const char* entry, const char* value) const {
  RegKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, nullptr, 0, KEY_WRITE,
                      nullptr, &key.key, nullptr) != ERROR_SUCCESS) {
    return FALSE;
  }
  const std::string text = value ? value : "";
  return RegSetValueExA(key.key, entry, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

bool CWinApp::GetProfileBinary(const char* section, const char* entry, std::string& bytes) const {
  RegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, KEY_READ, &key.key) !=
      ERROR_SUCCESS) {
    return false;
  }
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key.key, entry, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_BINARY) {
    return false;
  }
  std::string value(size, '\0');
  DWORD got = size;
  if (size > 0 && (RegQueryValueExA(key.key, entry, nullptr, &type,
                                    reinterpret_cast<BYTE*>(&value[0]), &got) != ERROR_SUCCESS ||
                   type != REG_BINARY)) {
    return false;
  }
  value.resize(got < value.size() ? got : value.size());
  bytes.swap(value);
  return true;
}

BOOL CWinApp::WriteProfileBinary(const char* section, const char* entry,
                                 const std::string& bytes) const {
  RegKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, nullptr, 0, KEY_WRITE,
                      nullptr, &key.key, nullptr) != ERROR_SUCCESS) {
    return FALSE;
  }
  return RegSetValueExA(key.key, entry, 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}
