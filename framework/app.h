// Application object: start-up hook, program name, and the registry profile
// below HKCU\Software\<company>\<application>\<program name>\<section>
// (the registry adapter does the work; this is the face windows know).
#pragma once

#include <windows.h>

#include <string>

class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Called by WinMain. Returns the process exit code.
  int Run(HINSTANCE instance, const char* cmdLine);

  // The start-up routine; returning FALSE ends the process.
  virtual BOOL InitInstance() { return FALSE; }

  // Places the profile below HKCU\Software\<key>\<program name>.
  void SetRegistryKey(const char* key);
  const std::string& GetRegistryKey() const { return registryKey_; }

  UINT GetProfileInt(const char* section, const char* entry, int defaultValue) const;
  std::string GetProfileString(const char* section, const char* entry,
                               const char* defaultValue = "") const;
  BOOL WriteProfileInt(const char* section, const char* entry, int value) const;
  BOOL WriteProfileString(const char* section, const char* entry, const char* value) const;
  // The bytes of a binary value; false when it is missing or of another type.
  bool GetProfileBinary(const char* section, const char* entry, std::string& bytes) const;
  BOOL WriteProfileBinary(const char* section, const char* entry, const std::string& bytes) const;

  HINSTANCE m_hInstance = nullptr;
  // The argument string after the program name, as the program received
  // it, in UTF-8.
  const char* m_lpCmdLine = "";
  // The program file's base name without extension ("quibuploader").
  std::string m_pszAppName;
  HWND m_hMainWnd = nullptr;

 private:
  std::string SectionKey(const char* section) const;

  std::string registryKey_;
};

// The one application object of the process.
CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();

// The argument string of a full command line: what follows the program name
// (a quoted name counts as one) and the blanks and control characters after it.
const char* SkipProgramName(const char* commandLine);
