#include "program/uploader_app.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <winsock2.h>

#include <string>

#include "core/text/command_line.h"
#include "core/text/text_convert.h"
#include "core/ports/platform.h"
#include "windows/main/uploader_dlg.h"
#include "framework/dialog.h"

namespace {

// How long a second start looks for the running window (it may still be
// starting), and the pause between two searches.
constexpr DWORD kFindWindowTimeoutMs = 10000;
constexpr DWORD kFindWindowPauseMs = 50;
// How long "-stop" keeps asking windows of our title to quit: one that
// never goes (a hung instance, another program's window) must not keep it
// running for ever.
constexpr DWORD kStopTimeoutMs = 10000;

HWND FindRunningWindow() {
  return FindWindowW(nullptr, QUIB_WINDOW_TITLE_WIDE);
}

}  // namespace

BOOL CUploaderApp::InitInstance() {
  if (quib::IsStopArgument(m_lpCmdLine)) {
    StopRunningInstances();
    return FALSE;
  }
  HANDLE mutex = CreateMutexA(nullptr, FALSE, QUIB_MUTEX_NAME);
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  if (existed || FindRunningWindow()) {
    ForwardToRunningInstance(mutex);
  } else {
    RunFirstInstance(mutex);
  }
  return FALSE;
}

void CUploaderApp::StopRunningInstances() {
  // Each running instance ends when its main window's modal loop sees the
  // quit message, which also takes the window off the search.
  const DWORD start = GetTickCount();
  for (HWND window = FindRunningWindow(); window; window = FindRunningWindow()) {
    if (GetTickCount() - start >= kStopTimeoutMs) break;
    PostMessageA(window, WM_QUIT, 0, 0);
    Sleep(10);
  }
}

void CUploaderApp::ForwardToRunningInstance(HANDLE mutex) {
  HWND window = FindRunningWindow();
  for (DWORD waited = 0; !window && waited < kFindWindowTimeoutMs; waited += kFindWindowPauseMs) {
    Sleep(kFindWindowPauseMs);
    window = FindRunningWindow();
  }
  const std::string args = m_lpCmdLine;
  bool handed = args.empty();
  if (window) {
    if (!args.empty()) {
      // The form every running version understands when it can carry the
      // names; UTF-8 when one of them does not fit the code page.
      const bool ansi = FitsAnsiCodePage(args);
      const std::string payload = ansi ? Utf8ToAnsi(args) : args;
      COPYDATASTRUCT data{};
      data.dwData = ansi ? COPYDATA_ADD_FILE : COPYDATA_ADD_FILE_UTF8;
      data.cbData = static_cast<DWORD>(payload.size());
      data.lpData = const_cast<char*>(payload.data());
      // The running window answers TRUE once it has taken the names.
      DWORD_PTR answer = 0;
      handed =
          SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                              SMTO_NORMAL | SMTO_ABORTIFHUNG, kFindWindowTimeoutMs, &answer) != 0 &&
          answer != 0;
    }
    SetForegroundWindow(window);
  }
  // Before any message: a start while it shows must not take us for the
  // running instance.
  if (mutex) CloseHandle(mutex);
  if (!handed) {
    // The files must not vanish unseen: say how many stayed behind.
    const size_t count = quib::SplitCommandLine(args, quib::Paths()).size();
    if (count > 0) {
      const std::string text = std::to_string(count) +
                               " file(s) were not added: the running " QUIB_WINDOW_TITLE
                               " did not answer.";
      AppMessageBox(nullptr, text.c_str(), MB_OK | MB_ICONSTOP);
    }
  }
}

void CUploaderApp::RunFirstInstance(HANDLE mutex) {
  InitCommonControls();
  WSADATA wsa{};
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    AppMessageBox(nullptr, "Could not initialize windows-sockets.", MB_OK);
    if (mutex) CloseHandle(mutex);
    return;
  }
  CoInitialize(nullptr);
  SetRegistryKey(QUIB_REGISTRY_KEY);
  {
    CUploaderDlg dialog;
    m_hMainWnd = nullptr;
    dialog.DoModal();
    m_hMainWnd = nullptr;
  }
  if (mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  CoUninitialize();
  WSACleanup();
}
