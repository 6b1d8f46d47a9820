#include "framework/app.h"

#include <memory>

#include "adapters/long_path.h"
#include "adapters/registry_profile.h"

namespace {

CWinApp* g_app = nullptr;

std::string ModuleBaseName(HINSTANCE instance) {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
  std::string name = WideToUtf8(path, n < MAX_PATH ? n : 0);
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
  quib::RegistryProfile().SetRoot("Software\\" + registryKey_ + "\\" + m_pszAppName);
}

UINT CWinApp::GetProfileInt(const char* section, const char* entry, int defaultValue) const {
  unsigned long value = 0;
  return quib::RegistryProfile().ReadNumber(section, entry, value)
             ? static_cast<UINT>(value)
             : static_cast<UINT>(defaultValue);
}

std::string CWinApp::GetProfileString(const char* section, const char* entry,
                                      const char* defaultValue) const {
  std::string value;
  if (quib::RegistryProfile().ReadText(section, entry, value)) return value;
  return defaultValue ? defaultValue : "";
}

BOOL CWinApp::WriteProfileInt(const char* section, const char* entry, int value) const {
  return quib::RegistryProfile().WriteNumber(section, entry, static_cast<DWORD>(value));
}

BOOL CWinApp::WriteProfileString(const char* section, const char* entry, const char* value) const {
  return quib::RegistryProfile().WriteText(section, entry, value ? value : "");
}

bool CWinApp::GetProfileBinary(const char* section, const char* entry, std::string& bytes) const {
  return quib::RegistryProfile().ReadBinary(section, entry, bytes);
}

BOOL CWinApp::WriteProfileBinary(const char* section, const char* entry,
                                 const std::string& bytes) const {
  return quib::RegistryProfile().WriteBinary(section, entry, bytes);
}
