#include "tests/win/dialogs/dialog_harness.h"
#include "tests/win/support/screen_pixel.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <shlobj.h>
#include <wincrypt.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "framework/app.h"
#include "adapters/gdiplus.h"

namespace dlgtest {

const char kProfileKey[] = "Software\\BRAMWELD\\quib-uploader-net\\quibuploader";

namespace {

const DWORD kWaitMs = 10000;

// Closes a handle when it goes out of scope.
struct Handle {
  HANDLE h = nullptr;
  ~Handle() {
    if (h) CloseHandle(h);
  }
};

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") + 1 - b);
}

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcA(hwnd, msg, wp, lp);
}

HWND CreateTopWindow(const char* title, int x, int y) {
  static ATOM atom = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = "QuibDialogTestWindow";
    return RegisterClassA(&wc);
  }();
  (void)atom;
  HWND hwnd = CreateWindowExA(0, "QuibDialogTestWindow", title, WS_OVERLAPPEDWINDOW, x, y, 480, 360,
                              nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);
  return hwnd;
}

void PumpFor(DWORD ms) {
  const DWORD start = GetTickCount();
  do {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(10);
  } while (GetTickCount() - start < ms);
}

struct FindData {
  const char* title;
  const char* className;
  HWND found;
};

BOOL CALLBACK FindOwnWindow(HWND hwnd, LPARAM lp) {
  auto* d = reinterpret_cast<FindData*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(hwnd)) return TRUE;
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (d->className && strcmp(cls, d->className) != 0) return TRUE;
  if (d->title) {
    char title[256] = {};
    GetWindowTextA(hwnd, title, sizeof title);
    if (strcmp(title, d->title) != 0) return TRUE;
  }
  d->found = hwnd;
  return FALSE;
}

// The dialogs run on a thread of their own; one that hangs must not stop the
// player.
LRESULT SendTimed(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, msg, wp, lp, SMTO_NORMAL | SMTO_ABORTIFHUNG, kWaitMs, &result)) {
    return 0;
  }
  return static_cast<LRESULT>(result);
}

std::string GetText(HWND window) {
  char text[4096] = {};
  SendTimed(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

// QUIB_ARTIFACTS holds a Unix path; Wine shows it below drive Z:.
std::string ArtifactsDir() {
  char value[MAX_PATH] = {};
  std::string dir;
  if (GetEnvironmentVariableA("QUIB_ARTIFACTS", value, MAX_PATH) > 0) {
    dir = value;
    if (!dir.empty() && dir[0] == '/') {
      for (char& c : dir) {
        if (c == '/') c = '\\';
      }
      dir = "Z:" + dir;
    }
  } else {
    GetTempPathA(MAX_PATH, value);
    dir = std::string(value) + "quib-artifacts";
  }
  SHCreateDirectoryExA(nullptr, dir.c_str(), nullptr);
  return dir;
}

BOOL CALLBACK CancelThreadDialogs(HWND hwnd, LPARAM) {
  char cls[16] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (strcmp(cls, "#32770") == 0) PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

}  // namespace

void SetUpApplication() {
  static CWinApp* app = [] {
    auto* a = new CWinApp();
    a->m_hInstance = GetModuleHandleA(nullptr);
    a->m_pszAppName = "quibuploader";
    a->SetRegistryKey("BRAMWELD\\quib-uploader-net");
    InitCommonControls();
    return a;
  }();
  (void)app;
}

void ClearProfile() {
  RegDeleteTreeA(HKEY_CURRENT_USER, kProfileKey);
}

int RunReg(const std::string& args, std::string* output) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  Handle read, write;
  if (!CreatePipe(&read.h, &write.h, &sa, 0)) return -1;
  SetHandleInformation(read.h, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = write.h;
  si.hStdError = write.h;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string command = "reg.exe " + args;
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &si, &pi)) {
    return -1;
  }
  CloseHandle(write.h);
  write.h = nullptr;
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  {
    // reg.exe ends its output by ending; a pipe read cannot be abandoned.
    const quibtest::CWaitNote note("the output of " + command);
    while (ReadFile(read.h, buffer, sizeof buffer, &got, nullptr) && got > 0)
      text.append(buffer, got);
  }
  quibtest::WaitHandle(pi.hProcess, 30000, "reg.exe to end");
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  if (output) *output = text;
  return static_cast<int>(code);
}

std::map<std::string, RegValue> QuerySection(const char* section) {
  std::map<std::string, RegValue> values;
  std::string out;
  const std::string key = std::string("HKCU\\") + kProfileKey + "\\" + section;
  if (RunReg("query \"" + key + "\"", &out) != 0) return values;
  // Lines look like "    Name    REG_SZ    data".
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\n', pos);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t type = line.find("    REG_");
    if (type == std::string::npos) continue;
    const std::string name = Trim(line.substr(0, type));
    const size_t typeEnd = line.find("    ", type + 4);
    RegValue value;
    value.type = line.substr(type + 4,
                             typeEnd == std::string::npos ? std::string::npos : typeEnd - type - 4);
    if (typeEnd != std::string::npos) value.data = line.substr(typeEnd + 4);
    values[name] = value;
  }
  return values;
}

INT_PTR RunDialog(const std::function<INT_PTR(HWND owner)>& run,
                  const std::function<void()>& user) {
  // Stands for the transfer dialog, which belongs to the user-interface
  // thread; one for the whole program, so a dialog object may run again.
  static HWND owner = CreateTopWindow("Transfer", 100, 100);
  const DWORD start = GetTickCount();
  std::atomic<bool> dialogDone{false};
  std::atomic<bool> userDone{false};
  std::atomic<DWORD> dialogThread{0};
  INT_PTR result = 0;
  std::thread worker([&] {
    dialogThread = GetCurrentThreadId();
    result = run(owner);
    dialogDone = true;
  });
  std::thread player([&] {
    user();
    userDone = true;
  });
  DWORD userDoneAt = 0;
  DWORD lastCancel = 0;
  // Bounded by the watchdog: once it gives up on the test, whatever is open
  // is cancelled at once; a dialog that ignores that is the supervisor's.
  const quibtest::CWaitNote note("the dialog to end and the user to finish");
  while (!(dialogDone && userDone)) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    // A user who gave up (a failed check) or a dialog that hangs: cancel
    // whatever is open on the dialog's thread, once a second.
    const DWORD now = GetTickCount();
    if (userDone && !dialogDone && !userDoneAt) userDoneAt = now;
    const bool abandoned = (userDoneAt && now - userDoneAt > 3000) || quibtest::WaitsAbandoned();
    if ((abandoned || now - start > 60000) && now - lastCancel > 1000) {
      if (!lastCancel) ADD_FAILURE() << "the dialog was left open";
      lastCancel = now;
      if (dialogThread) EnumThreadWindows(dialogThread, CancelThreadDialogs, 0);
    }
  }
  worker.join();
  player.join();
  PumpFor(20);
  return result;
}

HWND WaitDialog(const char* caption) {
  const quibtest::CWaitNote note(std::string("dialog \"") + caption + "\"");
  FindData data{caption, "#32770", nullptr};
  WaitUntil(
      [&] {
        EnumWindows(FindOwnWindow, reinterpret_cast<LPARAM>(&data));
        return data.found != nullptr;
      },
      kWaitMs);
  return data.found;
}

// Under Xvfb without a window manager Wine waits 2 s for a hidden window to
// be withdrawn before it destroys it.
bool WaitGone(HWND window) {
  const quibtest::CWaitNote note("a window of the dialogs to close");
  return WaitUntil([&] { return !IsWindow(window); }, kWaitMs);
}

HWND WaitMessageBox(HWND owner) {
  const quibtest::CWaitNote note("a message box");
  HWND box = nullptr;
  WaitUntil(
      [&] {
        // A message box is a dialog with the static text control 0xFFFF.
        for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
          char cls[16] = {};
          GetClassNameA(w, cls, sizeof cls);
          if (strcmp(cls, "#32770") == 0 && GetWindow(w, GW_OWNER) == owner &&
              GetDlgItem(w, 0xFFFF) && IsWindowVisible(w)) {
            box = w;
            return true;
          }
        }
        return false;
      },
      kWaitMs);
  return box;
}

std::string MessageBoxText(HWND box) {
  return GetText(GetDlgItem(box, 0xFFFF));
}

bool HasExclamationIcon(HWND box) {
  const HICON expected = LoadIconA(nullptr, MAKEINTRESOURCEA(32515) /* IDI_EXCLAMATION */);
  bool found = false;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char cls[16] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (_stricmp(cls, "Static") != 0) continue;
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
    const auto icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    if (icon && icon == expected) found = true;
  }
  return found;
}

bool AnswerMessageBox(HWND box) {
  PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  return WaitGone(box);
}

std::string Text(HWND dialog, int id) {
  return GetText(GetDlgItem(dialog, id));
}

void Type(HWND dialog, int id, const std::string& text) {
  SendTimed(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Click(HWND dialog, int id) {
  PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void PressKey(HWND dialog, WPARAM key) {
  HWND target = FocusOf(dialog);
  if (!target) target = dialog;
  PostMessageA(target, WM_KEYDOWN, key, 1);
  PostMessageA(target, WM_KEYUP, key, 1 | (3u << 30));
}

bool IsChecked(HWND dialog, int id) {
  return SendTimed(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

HWND FocusOf(HWND dialog) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

bool DeactivateAndReactivate(HWND dialog) {
  HWND other = CreateTopWindow("Another program", 700, 500);
  SetForegroundWindow(other);
  PumpFor(300);
  const bool lost = GetForegroundWindow() == other;
  SetForegroundWindow(dialog);
  PumpFor(300);
  DestroyWindow(other);
  PumpFor(100);
  const bool regained = WaitUntil([&] { return GetForegroundWindow() == dialog; }, kWaitMs);
  return lost && regained;
}

bool ShowsWhite(HWND window, int x, int y) {
  return WaitUntil([&] { return ScreenPixel(window, x, y) == RGB(255, 255, 255); }, 5000);
}

bool ShowsWhiteIn(HWND dialog, int id) {
  RECT r{};
  GetWindowRect(GetDlgItem(dialog, id), &r);
  POINT p{r.right - 3, (r.top + r.bottom) / 2};
  ScreenToClient(dialog, &p);
  return ShowsWhite(dialog, p.x, p.y);
}

bool Screenshot(HWND dialog, const std::string& name) {
  if (!EnsureGdiplus()) return false;
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);
  RECT r{};
  if (!GetWindowRect(dialog, &r)) return false;
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  bool saved = false;
  CLSID png{};
  if (GetEncoderClsid(L"image/png", &png)) {
    Gdiplus::Bitmap image(bitmap, nullptr);
    const std::string path = ArtifactsDir() + "\\" + name + ".png";
    saved = image.Save(WidePath(path).c_str(), &png, nullptr) == Gdiplus::Ok;
  }
  DeleteObject(bitmap);
  return saved;
}

bool ShowsSecret(const RegValue& value, const std::string& secret) {
  auto hex = [](const std::string& bytes, const char* digits) {
    std::string out;
    for (unsigned char c : bytes) {
      out += digits[c >> 4];
      out += digits[c & 15];
    }
    return out;
  };
  std::string wide;
  for (char c : secret) {
    wide += c;
    wide += '\0';
  }
  for (const std::string& form :
       {secret, hex(secret, "0123456789ABCDEF"), hex(secret, "0123456789abcdef"),
        hex(wide, "0123456789ABCDEF"), hex(wide, "0123456789abcdef")}) {
    if (value.data.find(form) != std::string::npos) return true;
  }
  return false;
}

bool UnprotectStoredPassword(std::string& password) {
  HKEY key = nullptr;
  const std::string path = std::string(kProfileKey) + "\\Settings";
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = 0;
  DWORD size = 0;
  std::string bytes;
  bool ok = RegQueryValueExA(key, "Password", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
            type == REG_BINARY && size > 0;
  if (ok) {
    bytes.resize(size);
    ok = RegQueryValueExA(key, "Password", nullptr, &type, reinterpret_cast<BYTE*>(&bytes[0]),
                          &size) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  if (!ok) return false;
  DATA_BLOB in{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(&bytes[0])};
  DATA_BLOB out{};
  if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &out)) {
    return false;
  }
  password.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
  LocalFree(out.pbData);
  return true;
}

}  // namespace dlgtest
