#include "tests/e2e/driver/driver.h"

#include <commctrl.h>
#include <psapi.h>
#include <shlobj.h>
#include <objidl.h>
// objidl.h first: GDI+ needs it and the lean Windows headers leave it out.
#include <gdiplus.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/support/gdi_table.h"

namespace e2e {

const char kMainTitle[] = "quib\xAE-uploader";

namespace {

// How long a message to the program under test may take.
constexpr UINT kSendTimeoutMs = 10000;

// A message to a window of another thread or process; 0 when it does not
// answer in time.
LRESULT SendTimed(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, msg, wp, lp, SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &result)) {
    return 0;
  }
  return static_cast<LRESULT>(result);
}

std::string Env(const char* name) {
  char buffer[4096] = {};
  const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

void EnsureDir(const std::string& path) {
  std::string partial;
  for (size_t i = 0; i < path.size(); ++i) {
    partial += path[i];
    if ((path[i] == '\\' || i + 1 == path.size()) && partial.size() > 3) {
      CreateDirectoryA(partial.c_str(), nullptr);
    }
  }
}

struct FindData {
  const char* title;
  const char* className;
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindTop(HWND window, LPARAM lp) {
  auto* data = reinterpret_cast<FindData*>(lp);
  if (data->pid) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != data->pid) return TRUE;
  }
  if (data->className) {
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (strcmp(cls, data->className) != 0) return TRUE;
  }
  if (data->title) {
    // Titles are written in code page 1252 here ("quib\xAE-uploader") and
    // compared as the system keeps them, whatever code page runs.
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    wchar_t title[512] = {};
    MultiByteToWideChar(1252, 0, data->title, -1, title, 512);
    if (wcscmp(text, title) != 0) return TRUE;
  }
  data->found = window;
  return FALSE;
}

// GDI+ started once for the test process.
void StartGdiplus() {
  static ULONG_PTR token = 0;
  if (!token) {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
  }
}

bool ImageEncoderOf(const WCHAR* mime, CLSID* clsid) {
  UINT count = 0, size = 0;
  Gdiplus::GetImageEncodersSize(&count, &size);
  if (!size) return false;
  std::vector<BYTE> buffer(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  Gdiplus::GetImageEncoders(count, size, codecs);
  for (UINT i = 0; i < count; ++i) {
    if (wcscmp(codecs[i].MimeType, mime) == 0) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return wide;
}

bool SaveBitmap(Gdiplus::Bitmap& bitmap, const std::string& path) {
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  const WCHAR* mime = L"image/png";
  if (lower.size() > 4 &&
      (lower.substr(lower.size() - 4) == ".jpg" || lower.substr(lower.size() - 5) == ".jpeg")) {
    mime = L"image/jpeg";
  } else if (lower.size() > 4 && lower.substr(lower.size() - 4) == ".bmp") {
    mime = L"image/bmp";
  } else if (lower.size() > 4 && lower.substr(lower.size() - 4) == ".gif") {
    mime = L"image/gif";
  }
  CLSID clsid{};
  if (!ImageEncoderOf(mime, &clsid)) return false;
  return bitmap.Save(Wide(path).c_str(), &clsid, nullptr) == Gdiplus::Ok;
}

}  // namespace

std::string ToWindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string result = "Z:" + path;
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
  return result;
}

std::string ProgramPath() {
  return ToWindowsPath(Env("QUIB_EXE"));
}

std::string ArtifactsDir() {
  std::string dir = ToWindowsPath(Env("QUIB_ARTIFACTS"));
  if (dir.empty()) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    dir = std::string(temp) + "quib-artifacts";
  }
  if (dir.back() == '\\') dir.pop_back();
  EnsureDir(dir);
  return dir;
}

std::string MakeTempDir(const std::string& name) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  std::string dir =
      std::string(temp) + "quib-e2e-" + name + "-" + std::to_string(GetCurrentProcessId());
  EnsureDir(dir);
  return dir;
}

std::unique_ptr<CProgram> CProgram::Launch(const std::string& args) {
  const std::string exe = ProgramPath();
  std::string commandLine = "\"" + exe + "\"";
  if (!args.empty()) commandLine += " " + args;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::vector<char> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back('\0');
  if (!CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return nullptr;
  }
  CloseHandle(info.hThread);
  return std::unique_ptr<CProgram>(new CProgram(info.hProcess, info.dwProcessId));
}

CProgram::~CProgram() {
  Close();
  CloseHandle(process_);
}

HWND CProgram::WaitMainWindow(DWORD timeoutMs) {
  return WaitForWindow(kMainTitle, pid_, timeoutMs, "#32770");
}

bool CProgram::WaitExit(DWORD timeoutMs, DWORD* code) {
  const std::string what = "quibuploader.exe (process " + std::to_string(pid_) + ") to end";
  if (!quibtest::WaitHandle(process_, timeoutMs, what.c_str())) return false;
  if (code) GetExitCodeProcess(process_, code);
  return true;
}

void CProgram::Close() {
  if (WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) return;
  // Message boxes first: they keep the main window's modal loop busy.
  for (int i = 0; i < 10; ++i) {
    HWND box = FindTopWindow(nullptr, pid_, "#32770");
    if (!box) break;
    char title[256] = {};
    GetWindowTextA(box, title, sizeof title);
    if (strcmp(title, kMainTitle) == 0) break;
    PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
    PostMessageA(box, WM_CLOSE, 0, 0);
    Sleep(200);
  }
  if (HWND main = FindTopWindow(kMainTitle, pid_)) PostMessageA(main, WM_CLOSE, 0, 0);
  // A list with files asks before it is discarded: yes.
  const bool ended = WaitUntil(
      [&] {
        if (WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) return true;
        if (HWND box = WaitForMessageBox(pid_, 0)) {
          if (MessageBoxText(box).rfind("Discard the ", 0) == 0) PostClick(box, IDYES);
        }
        return false;
      },
      10000);
  if (!ended) {
    TerminateProcess(process_, 1);
    // Not abandoned by the watchdog: the process is going anyway.
    WaitForSingleObject(process_, 5000);
  }
}

bool RunToExit(const std::string& args, DWORD timeoutMs, DWORD* exitCode) {
  auto program = CProgram::Launch(args);
  if (!program) return false;
  return program->WaitExit(timeoutMs, exitCode);
}

HWND FindTopWindow(const char* title, DWORD pid, const char* className) {
  FindData data{title, className, pid, nullptr};
  EnumWindows(FindTop, reinterpret_cast<LPARAM>(&data));
  return data.found;
}

HWND WaitForWindow(const char* title, DWORD pid, DWORD timeoutMs, const char* className) {
  const quibtest::CWaitNote note("window \"" + std::string(title ? title : "(any)") + "\"" +
                                 (className ? std::string(" of class ") + className : "") +
                                 " of process " + std::to_string(pid));
  HWND found = nullptr;
  WaitUntil(
      [&] {
        found = FindTopWindow(title, pid, className);
        return found != nullptr && IsWindowVisible(found);
      },
      timeoutMs);
  return found;
}

HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs) {
  const quibtest::CWaitNote note("a message box of process " + std::to_string(pid));
  HWND found = nullptr;
  WaitUntil(
      [&] {
        found = nullptr;
        FindData data{nullptr, "#32770", pid, nullptr};
        // A message box is a dialog with the static text control 0xFFFF.
        EnumWindows(
            [](HWND window, LPARAM lp) -> BOOL {
              auto* d = reinterpret_cast<FindData*>(lp);
              DWORD pid = 0;
              GetWindowThreadProcessId(window, &pid);
              char cls[64] = {};
              GetClassNameA(window, cls, sizeof cls);
              // A message box is a dialog whose static 0xFFFF holds text (a
              // dialog's unnamed pictures and group boxes have that id too).
              HWND text = GetDlgItem(window, 0xFFFF);
              char textClass[32] = {};
              if (text) GetClassNameA(text, textClass, sizeof textClass);
              if (_stricmp(textClass, "Static") != 0) text = nullptr;
              const LONG type = text ? GetWindowLongA(text, GWL_STYLE) & SS_TYPEMASK : 0;
              if ((d->pid == 0 || pid == d->pid) && strcmp(cls, "#32770") == 0 && text &&
                  type != SS_BITMAP && type != SS_ICON && IsWindowVisible(window)) {
                d->found = window;
                return FALSE;
              }
              return TRUE;
            },
            reinterpret_cast<LPARAM>(&data));
        found = data.found;
        return found != nullptr;
      },
      timeoutMs);
  return found;
}

std::string MessageBoxText(HWND box) {
  // A message box never shows an empty text: an empty answer is a busy
  // program that did not answer in time, so ask again for a while.
  std::string text;
  WaitUntil(
      [&] {
        text = GetText(GetDlgItem(box, 0xFFFF));
        return !text.empty() || !IsWindow(box);
      },
      10000);
  return text;
}

bool WaitWindowGone(HWND window, DWORD timeoutMs) {
  char title[256] = {};
  GetWindowTextA(window, title, sizeof title);
  const quibtest::CWaitNote note(std::string("window \"") + title + "\" to close");
  return WaitUntil([&] { return !IsWindow(window); }, timeoutMs);
}

std::string GetText(HWND window) {
  if (!window) return {};
  char buffer[8192] = {};
  const LRESULT n = SendTimed(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

void SetText(HWND window, const std::string& text) {
  SendTimed(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void PostClick(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PostCommand(HWND window, int id) {
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

bool IsEnabled(HWND dialog, int id) {
  return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

SIZE WindowSize(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

namespace {

// An LVITEMA and its text buffer in the list's process, for LVM_GETITEMA.
class CRemoteEntry {
 public:
  explicit CRemoteEntry(HWND list) : list_(list) {
    DWORD pid = 0;
    GetWindowThreadProcessId(list, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) {
      remote_ = VirtualAllocEx(process_, nullptr, sizeof(LVITEMA) + kTextSize,
                               MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
  }
  ~CRemoteEntry() {
    if (remote_) VirtualFreeEx(process_, remote_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  CRemoteEntry(const CRemoteEntry&) = delete;
  CRemoteEntry& operator=(const CRemoteEntry&) = delete;

  bool Ready() const { return remote_ != nullptr; }
  bool Read(int index, ListEntry* entry) const {
    if (!remote_) return false;
    char* remoteText = static_cast<char*>(remote_) + sizeof(LVITEMA);
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE;
    item.iItem = index;
    item.stateMask = LVIS_SELECTED;
    item.pszText = remoteText;
    item.cchTextMax = kTextSize;
    SIZE_T done = 0;
    char text[kTextSize] = {};
    const bool ok = WriteProcessMemory(process_, remote_, &item, sizeof item, &done) &&
                    SendTimed(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote_)) != 0 &&
                    ReadProcessMemory(process_, remote_, &item, sizeof item, &done) &&
                    ReadProcessMemory(process_, remoteText, text, kTextSize - 1, &done);
    if (ok) {
      entry->text = text;
      entry->image = item.iImage;
      entry->selected = (item.state & LVIS_SELECTED) != 0;
    }
    return ok;
  }

 private:
  static constexpr SIZE_T kTextSize = 1024;
  HWND list_;
  HANDLE process_ = nullptr;
  void* remote_ = nullptr;
};

}  // namespace

std::vector<ListEntry> ReadListView(HWND list) {
  std::vector<ListEntry> entries;
  const CRemoteEntry remote(list);
  if (!remote.Ready()) return entries;
  const int count = static_cast<int>(SendTimed(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    ListEntry entry;
    remote.Read(i, &entry);
    entries.push_back(entry);
  }
  return entries;
}

std::vector<std::string> ListCaptions(HWND list) {
  std::vector<std::string> captions;
  for (const ListEntry& entry : ReadListView(list)) captions.push_back(entry.text);
  return captions;
}

void SelectListEntry(HWND list, int index, bool selected) {
  DWORD pid = 0;
  GetWindowThreadProcessId(list, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return;
  void* remote =
      VirtualAllocEx(process, nullptr, sizeof(LVITEMA), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (remote) {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    SIZE_T done = 0;
    WriteProcessMemory(process, remote, &item, sizeof item, &done);
    SendTimed(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(remote));
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  CloseHandle(process);
}

std::string SaveScreenshot(HWND window, const std::string& name) {
  StartGdiplus();
  RECT r{};
  if (!GetWindowRect(window, &r)) return {};
  SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  std::string path = ArtifactsDir() + "\\" + name + ".png";
  bool saved = false;
  {
    Gdiplus::Bitmap image(bitmap, nullptr);
    saved = SaveBitmap(image, path);
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return saved ? path : std::string();
}

bool WritePicture(const std::string& path, int width, int height, COLORREF color) {
  // Wine's GIF encoder writes no pixel data at all.
  if (path.size() > 4 && _stricmp(path.c_str() + path.size() - 4, ".gif") == 0) {
    return WriteGifPicture(path, width, height, color);
  }
  StartGdiplus();
  Gdiplus::Bitmap bitmap(width, height, PixelFormat24bppRGB);
  {
    Gdiplus::Graphics graphics(&bitmap);
    Gdiplus::SolidBrush fill(Gdiplus::Color(GetRValue(color), GetGValue(color), GetBValue(color)));
    graphics.FillRectangle(&fill, 0, 0, width, height);
    // A diagonal band, so orientation and scaling show in screenshots.
    Gdiplus::SolidBrush band(Gdiplus::Color(255, 255, 255));
    graphics.FillRectangle(&band, 0, 0, width / 3, height / 3);
  }
  return SaveBitmap(bitmap, path);
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

}  // namespace e2e

namespace e2e {

HWND FindChildByClass(HWND parent, const char* className) {
  struct Search {
    const char* className;
    HWND found;
  } search{className, nullptr};
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        char cls[64] = {};
        GetClassNameA(child, cls, sizeof cls);
        if (_stricmp(cls, s->className) != 0) return TRUE;
        s->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace e2e

namespace e2e {

namespace {

using NtQuerySystemInformationFn = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);

template <typename Fn>
Fn NtdllFunction(const char* name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

// The process's entries in the system handle table (information class 64).
long CountSystemHandles(DWORD pid) {
  struct Entry {
    PVOID object;
    ULONG_PTR pid;
    ULONG_PTR handle;
    ULONG access;
    USHORT creatorBackTrace;
    USHORT typeIndex;
    ULONG attributes;
    ULONG reserved;
  };
  struct Table {
    ULONG_PTR count;
    ULONG_PTR reserved;
    Entry entries[1];
  };
  constexpr ULONG SystemExtendedHandleInformation = 64;
  constexpr LONG StatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  auto query = NtdllFunction<NtQuerySystemInformationFn>("NtQuerySystemInformation");
  if (!query) return -1;
  std::vector<char> buffer(1 << 20);
  LONG status = StatusInfoLengthMismatch;
  for (int i = 0; i < 8 && status == StatusInfoLengthMismatch; ++i) {
    ULONG needed = 0;
    status = query(SystemExtendedHandleInformation, buffer.data(),
                   static_cast<ULONG>(buffer.size()), &needed);
    if (status == StatusInfoLengthMismatch)
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
  }
  if (status != 0) return -1;
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  long count = 0;
  for (ULONG_PTR i = 0; i < table->count; ++i) {
    if (table->entries[i].pid == pid) ++count;
  }
  return count;
}

// Committed private memory, region by region.
unsigned long long CommittedPrivateBytes(HANDLE process) {
  unsigned long long total = 0;
  MEMORY_BASIC_INFORMATION region{};
  const char* address = nullptr;
  while (VirtualQueryEx(process, address, &region, sizeof region) == sizeof region) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return total;
}

struct WindowCount {
  DWORD pid;
  long count;
};

BOOL CALLBACK CountChild(HWND, LPARAM lp) {
  ++reinterpret_cast<WindowCount*>(lp)->count;
  return TRUE;
}

BOOL CALLBACK CountTop(HWND window, LPARAM lp) {
  auto* data = reinterpret_cast<WindowCount*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == data->pid) {
    ++data->count;
    EnumChildWindows(window, CountChild, lp);
  }
  return TRUE;
}

}  // namespace

ProcessFigures ReadProcessFigures(DWORD pid) {
  ProcessFigures figures;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) return figures;
  DWORD handles = 0;
  if (GetProcessHandleCount(process, &handles) && handles > 0) {
    figures.handles = static_cast<long>(handles);
    figures.how = "handles: GetProcessHandleCount";
  } else {
    figures.handles = CountSystemHandles(pid);
    figures.how = "handles: system handle table";
  }
  SetLastError(0);
  const DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
  if (gdi > 0 || GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) {
    figures.gdiObjects = static_cast<long>(gdi);
    figures.how += ", GDI objects: GetGuiResources";
  } else {
    figures.gdiObjects = quib_test::CountGdiTableEntries(process, &figures.gdiByType);
    figures.how += ", GDI objects: GDI handle table";
  }
  WindowCount windows{pid, 0};
  EnumWindows(CountTop, reinterpret_cast<LPARAM>(&windows));
  figures.windows = windows.count;
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (K32GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                              sizeof memory)) {
    figures.workingSet = memory.WorkingSetSize;
    figures.privateBytes = memory.PrivateUsage;
  }
  if (figures.privateBytes == 0) {
    figures.privateBytes = CommittedPrivateBytes(process);
    figures.how += ", private bytes: committed private regions";
  }
  figures.ok = figures.handles >= 0 && figures.gdiObjects >= 0 && figures.workingSet > 0;
  CloseHandle(process);
  return figures;
}

bool SendFilesToProgram(HWND mainWindow, const std::vector<std::string>& paths, DWORD timeoutMs) {
  std::string payload = QuotePaths(paths);
  COPYDATASTRUCT data{};
  data.dwData = 1018;
  data.cbData = static_cast<DWORD>(payload.size());
  data.lpData = &payload[0];
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(mainWindow, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                             SMTO_NORMAL, timeoutMs, &result) != 0;
}

int CountTempFiles(const char* pattern, const std::string& folder) {
  std::string where = folder;
  if (where.empty()) {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, temp);
    where = temp;
  }
  if (!where.empty() && where.back() != '\\') where += '\\';
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((where + pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do ++count;
  while (FindNextFileA(find, &data));
  FindClose(find);
  return count;
}

bool ReadPicture(const std::string& path, PictureInfo* info) {
  StartGdiplus();
  Gdiplus::Bitmap bitmap(Wide(path).c_str());
  if (bitmap.GetLastStatus() != Gdiplus::Ok) return false;
  info->width = bitmap.GetWidth();
  info->height = bitmap.GetHeight();
  GUID format{};
  bitmap.GetRawFormat(&format);
  info->jpeg = format == Gdiplus::ImageFormatJPEG;
  Gdiplus::Color colour;
  if (bitmap.GetPixel(static_cast<INT>(info->width / 2), static_cast<INT>(info->height / 2),
                      &colour) != Gdiplus::Ok) {
    return false;
  }
  info->centre = RGB(colour.GetR(), colour.GetG(), colour.GetB());
  return true;
}

bool WriteGifPicture(const std::string& path, int width, int height, COLORREF color) {
  if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) return false;
  std::string gif("GIF89a", 6);
  auto word = [&](int v) {
    gif += static_cast<char>(v & 0xFF);
    gif += static_cast<char>((v >> 8) & 0xFF);
  };
  word(width);
  word(height);
  gif += '\xF7';  // a global table of 256 colours
  gif += '\0';
  gif += '\0';
  for (int i = 0; i < 256; ++i) {
    const COLORREF c = i == 0 ? color : i == 1 ? RGB(255, 255, 255) : RGB(0, 0, 0);
    gif += static_cast<char>(GetRValue(c));
    gif += static_cast<char>(GetGValue(c));
    gif += static_cast<char>(GetBValue(c));
  }
  gif += ',';
  word(0);
  word(0);
  word(width);
  word(height);
  gif += '\0';
  gif += '\x08';  // minimum code size
  // Every pixel is a literal 9-bit code; a clear code before the table would
  // need 10 bits keeps the code size fixed.
  constexpr int Clear = 256, End = 257, Run = 250;
  std::string data;
  unsigned long bits = 0;
  int count = 0;
  auto put = [&](int code) {
    bits |= static_cast<unsigned long>(code) << count;
    count += 9;
    while (count >= 8) {
      data += static_cast<char>(bits & 0xFF);
      bits >>= 8;
      count -= 8;
    }
  };
  int sinceClear = Run;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (sinceClear == Run) {
        put(Clear);
        sinceClear = 0;
      }
      put(x < width / 3 && y < height / 3 ? 1 : 0);
      ++sinceClear;
    }
  }
  put(End);
  if (count > 0) data += static_cast<char>(bits & 0xFF);
  for (size_t i = 0; i < data.size(); i += 255) {
    const size_t n = std::min<size_t>(255, data.size() - i);
    gif += static_cast<char>(n);
    gif.append(data, i, n);
  }
  gif += '\0';
  gif += ';';
  return WriteBytes(path, gif);
}

std::string QuotePaths(const std::vector<std::string>& paths) {
  std::string args;
  for (const std::string& p : paths) args += (args.empty() ? "\"" : " \"") + p + "\"";
  return args;
}

bool WriteMovie(const std::string& path, size_t size) {
  std::string bytes("FLV\x01\x05\x00\x00\x00\x09", 9);
  bytes.reserve(size);
  unsigned v = 12345;
  while (bytes.size() < size) {
    v = v * 1103515245u + 12345u;
    bytes += static_cast<char>(v >> 24);
  }
  return WriteBytes(path, bytes);
}

namespace {
const char kProfileKey[] = "Software\\BRAMWELD\\quib-uploader-net\\quibuploader";
const char kSettingsKey[] = "Software\\BRAMWELD\\quib-uploader-net\\quibuploader\\Settings";
}  // namespace

void ClearProfile() {
  RegDeleteTreeA(HKEY_CURRENT_USER, kProfileKey);
}

void StoreProfileString(const char* name, const std::string& value) {
  RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, name, REG_SZ, value.c_str(),
                  static_cast<DWORD>(value.size() + 1));
}

void StoreProfileInt(const char* name, DWORD value) {
  RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, name, REG_DWORD, &value, sizeof value);
}

void StoreCredentials(const std::string& user, const std::string& password) {
  StoreProfileString("Username", user);
  StoreProfileString("Password", password);
}

}  // namespace e2e

namespace e2e {

namespace {

// Places a DROPFILES block (header and names) in the window's process and
// sends it as WM_DROPFILES; false when it could not be placed or the window
// did not answer within the time.
bool SendDrop(HWND target, bool wide, const std::string& names, DWORD timeoutMs) {
  std::string block(sizeof(DROPFILES), '\0');
  DROPFILES header{};
  header.pFiles = sizeof(DROPFILES);
  header.fWide = wide;
  memcpy(&block[0], &header, sizeof header);
  block += names;
  DWORD pid = 0;
  GetWindowThreadProcessId(target, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return false;
  void* remote =
      VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  bool sent = false;
  if (remote && WriteProcessMemory(process, remote, block.data(), block.size(), nullptr)) {
    DWORD_PTR result = 0;
    sent = SendMessageTimeoutW(target, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0,
                               SMTO_NORMAL, timeoutMs, &result) != 0;
  }
  // Not freed: the receiver owns the block once the message is sent.
  CloseHandle(process);
  return sent;
}

}  // namespace

bool DropFiles(HWND target, const std::vector<std::string>& files, DWORD timeoutMs) {
  std::string names;
  for (const std::string& f : files) names += f + '\0';
  return SendDrop(target, false, names + '\0', timeoutMs);
}

bool ListIconRect(HWND list, int index, RECT* rect) {
  DWORD pid = 0;
  GetWindowThreadProcessId(list, &pid);
  HANDLE process =
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return false;
  bool ok = false;
  void* remote =
      VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (remote) {
    RECT r{};
    r.left = LVIR_ICON;
    SIZE_T done = 0;
    WriteProcessMemory(process, remote, &r, sizeof r, &done);
    ok = SendTimed(list, LVM_GETITEMRECT, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(remote)) != 0 &&
         ReadProcessMemory(process, remote, rect, sizeof *rect, &done) && done == sizeof *rect;
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  CloseHandle(process);
  return ok;
}

bool ReadListEntry(HWND list, int index, ListEntry* entry) {
  return CRemoteEntry(list).Read(index, entry);
}

}  // namespace e2e

namespace e2e {

bool ImageEncoder(const WCHAR* mime, CLSID* clsid) {
  return ImageEncoderOf(mime, clsid);
}

void TypeCtrlKey(WORD key) {
  INPUT keys[4] = {};
  const WORD order[4][2] = {
      {VK_CONTROL, 0}, {key, 0}, {key, KEYEVENTF_KEYUP}, {VK_CONTROL, KEYEVENTF_KEYUP}};
  for (int i = 0; i < 4; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki.wVk = order[i][0];
    keys[i].ki.dwFlags = order[i][1];
  }
  SendInput(4, keys, sizeof(INPUT));
}

}  // namespace e2e

namespace e2e {

std::wstring WideOf(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
  }
  return wide;
}

std::string Utf8Of(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], n,
                        nullptr, nullptr);
  }
  return utf8;
}

std::wstring WideLongPath(const std::string& utf8) {
  const std::wstring wide = WideOf(utf8);
  return wide.size() < MAX_PATH - 12 ? wide : L"\\\\?\\" + wide;
}

std::unique_ptr<CProgram> CProgram::LaunchUtf8(const std::string& args) {
  const std::wstring exe = WideOf(ProgramPath());
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!args.empty()) commandLine += L" " + WideOf(args);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  if (!CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return nullptr;
  }
  CloseHandle(info.hThread);
  return std::unique_ptr<CProgram>(new CProgram(info.hProcess, info.dwProcessId));
}

bool MakeDirUtf8(const std::string& path) {
  return CreateDirectoryW(WideLongPath(path).c_str(), nullptr) != FALSE ||
         GetLastError() == ERROR_ALREADY_EXISTS;
}

bool WriteBytesUtf8(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileW(WideLongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                            nullptr) &&
                  written == bytes.size();
  CloseHandle(file);
  return ok;
}

bool RemoveTreeUtf8(const std::string& path) {
  const std::wstring folder = WideLongPath(path);
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::string child = path + "\\" + Utf8Of(name);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTreeUtf8(child);
      } else {
        DeleteFileW(WideLongPath(child).c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  return RemoveDirectoryW(folder.c_str()) != FALSE;
}

std::vector<std::string> ListCaptionsUtf8(HWND list) {
  std::vector<std::string> captions;
  DWORD pid = 0;
  GetWindowThreadProcessId(list, &pid);
  HANDLE process =
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return captions;
  constexpr size_t kChars = 512;
  void* remote = VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + kChars * sizeof(wchar_t),
                                MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  const int count = remote ? static_cast<int>(SendTimed(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
  for (int i = 0; i < count; ++i) {
    auto* remoteText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote) + sizeof(LVITEMW));
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = i;
    item.pszText = remoteText;
    item.cchTextMax = static_cast<int>(kChars);
    wchar_t text[kChars] = {};
    SIZE_T done = 0;
    if (WriteProcessMemory(process, remote, &item, sizeof item, &done) &&
        SendTimed(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote)) != 0 &&
        ReadProcessMemory(process, remoteText, text, (kChars - 1) * sizeof(wchar_t), &done)) {
      captions.push_back(Utf8Of(text));
    } else {
      captions.push_back(std::string());
    }
  }
  if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return captions;
}

bool DropFilesUtf8(HWND target, const std::vector<std::string>& files, DWORD timeoutMs) {
  std::wstring names;
  for (const std::string& f : files) names += WideOf(f) + L'\0';
  names += L'\0';
  return SendDrop(target, true,
                  std::string(reinterpret_cast<const char*>(names.data()),
                              names.size() * sizeof(wchar_t)),
                  timeoutMs);
}

void SetTextUtf8(HWND window, const std::string& text) {
  SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(WideOf(text).c_str()),
                      SMTO_NORMAL, 10000, nullptr);
}

}  // namespace e2e
