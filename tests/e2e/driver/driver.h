// Drives the real quibuploader.exe from outside, as a user would: start it,
// find its windows by title, read and fill controls, press buttons, answer
// message boxes, read the upload list and take screenshots.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/win/support/wait_note.h"

namespace e2e {

// "/unix/path" as Wine sees it ("Z:\unix\path"); Windows paths stay as they are.
std::string ToWindowsPath(const std::string& path);
// The program under test (environment variable QUIB_EXE).
std::string ProgramPath();
// Where screenshots go (QUIB_ARTIFACTS, else the temp folder); created.
std::string ArtifactsDir();
// A fresh folder below the temp folder for one test's files.
std::string MakeTempDir(const std::string& name);
// The main window title ("quib®-uploader" in code page 1252).
extern const char kMainTitle[];

// One started process of the program.
class CProgram {
 public:
  // Starts the program with an argument string (may be empty).
  static std::unique_ptr<CProgram> Launch(const std::string& args);
  // The same with a UTF-8 argument string, through the wide call (names the
  // code page cannot spell arrive whole).
  static std::unique_ptr<CProgram> LaunchUtf8(const std::string& args);
  ~CProgram();
  CProgram(const CProgram&) = delete;
  CProgram& operator=(const CProgram&) = delete;

  DWORD Pid() const { return pid_; }
  HANDLE Process() const { return process_; }
  // Waits for this process's main window; null on time-out.
  HWND WaitMainWindow(DWORD timeoutMs = 30000);
  // True when the process ended within the time; its exit code in *code.
  bool WaitExit(DWORD timeoutMs, DWORD* code = nullptr);
  // Closes the main window politely, then ends the process if it lingers.
  void Close();

 private:
  CProgram(HANDLE process, DWORD pid) : process_(process), pid_(pid) {}
  HANDLE process_;
  DWORD pid_;
};

// Runs the program to completion (a second start, "-stop"); false on time-out.
bool RunToExit(const std::string& args, DWORD timeoutMs, DWORD* exitCode = nullptr);

// Top-level window with this title, of this process when pid is not 0.
HWND FindTopWindow(const char* title, DWORD pid = 0, const char* className = nullptr);
// The visible window; null on time-out. Every wait of the driver ends at once
// when the watchdog has given up on the test, and is named for its report.
HWND WaitForWindow(const char* title, DWORD pid, DWORD timeoutMs, const char* className = nullptr);
// A message box (#32770 with a static 0xFFFF) of the process; null on time-out.
HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs);
std::string MessageBoxText(HWND box);
// True when the window disappears within the time.
bool WaitWindowGone(HWND window, DWORD timeoutMs);
// Waits until a condition holds, polling; false on time-out, or at once when
// the watchdog has given up on the test. The watchdog names the wait by the
// caller's file and line; a quibtest::CWaitNote around it says more.
template <typename F>
bool WaitUntil(F condition, DWORD timeoutMs, const char* file = __builtin_FILE(),
               int line = __builtin_LINE()) {
  return quibtest::PollUntil(condition, timeoutMs, 50,
                             quibtest::CWaitNote("a condition", file, line));
}

// Messages to the program under test are sent with a time-out (10 s), so a
// hung program fails the test instead of stopping the driver.
std::string GetText(HWND window);
void SetText(HWND window, const std::string& text);
// Presses a button without waiting for what it opens (modal loops).
void PostClick(HWND dialog, int id);
// Posts WM_COMMAND id to a window.
void PostCommand(HWND window, int id);
bool IsEnabled(HWND dialog, int id);
SIZE WindowSize(HWND window);

struct ListEntry {
  std::string text;
  int image = -1;
  bool selected = false;
};
// Reads every entry of a list view of another process.
std::vector<ListEntry> ReadListView(HWND list);
std::vector<std::string> ListCaptions(HWND list);
// Selects (or deselects) entry i of a list view of another process.
void SelectListEntry(HWND list, int index, bool selected);

// Saves what the window shows on screen as a PNG in the artifacts folder;
// returns the full path, or "" on failure.
std::string SaveScreenshot(HWND window, const std::string& name);

// Writes a small valid picture file (BMP/PNG/JPEG by extension) of the given
// size, drawn with GDI+; true on success.
bool WritePicture(const std::string& path, int width, int height, COLORREF color);
bool WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);

// The first descendant window of this class (any depth); null when none.
HWND FindChildByClass(HWND parent, const char* className);

// Resource figures of another process, read from outside. Where the system
// call is missing (Wine answers GetGuiResources and GetProcessHandleCount
// with nothing), the same quantity is counted another way: the process's
// entries in the system handle table, the used slots of its GDI handle
// table, its committed private memory.
struct ProcessFigures {
  bool ok = false;
  long handles = -1;
  long gdiObjects = -1;
  long windows = -1;  // its windows, top-level and children
  unsigned long long workingSet = 0;
  unsigned long long privateBytes = 0;
  std::string how;  // which readings were used
  // GDI objects by the type code of Wine's handle table (empty when
  // GetGuiResources answered), e.g. 0x01 DC, 0x04 region, 0x09 bitmap,
  // 0x0a font, 0x10 brush (a bitmap made by CreateDIBSection or
  // CreateCompatibleBitmap counts as 0x09).
  std::map<int, long> gdiByType;
};
ProcessFigures ReadProcessFigures(DWORD pid);

// Hands files to a running program as a second start does ("Send To"):
// WM_COPYDATA 1018 with the quoted paths; false when it was not taken.
bool SendFilesToProgram(HWND mainWindow, const std::vector<std::string>& paths, DWORD timeoutMs);

// Number of files matching a pattern ("NEW*.TMP") in a folder; the temp
// folder when folder is empty.
int CountTempFiles(const char* pattern, const std::string& folder = std::string());

// A picture decoded with GDI+: size, whether it is a JPEG, and the colour
// at its centre.
struct PictureInfo {
  UINT width = 0;
  UINT height = 0;
  bool jpeg = false;
  COLORREF centre = 0;
};
bool ReadPicture(const std::string& path, PictureInfo* info);

// A picture as WritePicture draws it, as a GIF (256-colour table).
bool WriteGifPicture(const std::string& path, int width, int height, COLORREF color);

// Paths as a command line: each in double quotes, separated by blanks.
std::string QuotePaths(const std::vector<std::string>& paths);

// A movie file: the FLV signature, then filler; true on success.
bool WriteMovie(const std::string& path, size_t size);

// The program's settings in the registry (the current user's profile).
void ClearProfile();
void StoreProfileString(const char* name, const std::string& value);
void StoreProfileInt(const char* name, DWORD value);
// The stored user name and password.
void StoreCredentials(const std::string& user, const std::string& password);

}  // namespace e2e

namespace e2e {

// Drops files on a window of another process as the shell does: a DROPFILES
// block placed in that process's memory (the window releases it with
// DragFinish), sent as WM_DROPFILES. False when it could not be placed or
// the window did not answer within the time.
bool DropFiles(HWND target, const std::vector<std::string>& files, DWORD timeoutMs);

// The rectangle of entry i's picture (LVIR_ICON) in the list view's client
// coordinates; false when the list does not answer.
bool ListIconRect(HWND list, int index, RECT* rect);

// Reads entry i of a list view of another process (as ReadListView does,
// for one entry of a long list); false when the list does not answer.
bool ReadListEntry(HWND list, int index, ListEntry* entry);

// The GDI+ encoder of a media type ("image/jpeg"); false when there is none.
bool ImageEncoder(const WCHAR* mime, CLSID* clsid);

// Ctrl and key typed on the keyboard (to the foreground window's focus).
void TypeCtrlKey(WORD key);

}  // namespace e2e

namespace e2e {

// Names the code page cannot spell: UTF-8 in the tests, UTF-16 at the call.
std::wstring WideOf(const std::string& utf8);
std::string Utf8Of(const std::wstring& wide);
// A UTF-8 path as the wide file functions take it, "\\?\" form when long.
std::wstring WideLongPath(const std::string& utf8);
bool MakeDirUtf8(const std::string& path);
bool WriteBytesUtf8(const std::string& path, const std::string& bytes);
bool RemoveTreeUtf8(const std::string& path);
// The list view's captions as the list keeps them, in UTF-8.
std::vector<std::string> ListCaptionsUtf8(HWND list);
// A drop of wide names (as Explorer sends it).
bool DropFilesUtf8(HWND target, const std::vector<std::string>& files, DWORD timeoutMs);
void SetTextUtf8(HWND window, const std::string& text);

}  // namespace e2e
