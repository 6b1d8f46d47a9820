// Symbolic links for tests under Wine. Wine 8 makes none of its own (its
// CreateSymbolicLinkW reports success and creates nothing, and setting a
// junction's reparse point fails with ERROR_NOT_SUPPORTED), so the link is
// made on the Unix side, by ln started as Wine starts any Unix program. A
// Windows program then lists it as a folder with FILE_ATTRIBUTE_REPARSE_POINT
// and no reparse tag.
#pragma once

#include <windows.h>

#include <string>

namespace quibtest {

inline std::wstring WideOfUtf8(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return wide;
}

// The Unix name of a Windows path (both UTF-8); empty outside Wine.
inline std::string UnixName(const std::string& path) {
  using UnixNameOf = char*(CDECL*)(LPCWSTR);
  const auto unixName = reinterpret_cast<UnixNameOf>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
  if (!unixName) return std::string();
  char* name = unixName(WideOfUtf8(path).c_str());
  if (!name) return std::string();
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

// Starts a Unix program (a UTF-8 command line of its own). Wine gives no
// handle to wait on for a Unix process: callers wait for its effect.
inline bool StartUnix(const std::string& commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring line = WideOfUtf8(commandLine);
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  if (process.hThread) CloseHandle(process.hThread);
  if (process.hProcess) CloseHandle(process.hProcess);
  return true;
}

// Polls until done() holds; false after timeoutMs.
template <typename Done>
bool PollFor(Done done, DWORD timeoutMs = 20000) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(20);
  }
  return true;
}

// A symbolic link at link (a UTF-8 Windows path) to the folder target;
// true once it is there.
inline bool MakeFolderLink(const std::string& target, const std::string& link) {
  const std::string from = UnixName(target), to = UnixName(link);
  if (from.empty() || to.empty() || !StartUnix("/bin/ln -s \"" + from + "\" \"" + to + "\"")) {
    return false;
  }
  const std::wstring wide = WideOfUtf8(link);
  return PollFor([&] {
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  });
}

// Removes the link itself, not what it leads to; true once it is gone.
inline bool RemoveLink(const std::string& link) {
  const std::string name = UnixName(link);
  if (name.empty() || !StartUnix("/bin/rm -f \"" + name + "\"")) return false;
  const std::wstring wide = WideOfUtf8(link);
  return PollFor([&] { return GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

}  // namespace quibtest
