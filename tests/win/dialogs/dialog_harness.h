// Runs the dialogs the way the upload run does (modal on a worker thread,
// owned by a window of the user-interface thread) while a third thread plays
// the user through window messages; and reads the profile from outside the
// program with reg.exe.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>

#include "tests/win/support/wait_note.h"

namespace dlgtest {

// Registry location of the profile, below HKEY_CURRENT_USER.
extern const char kProfileKey[];

// Makes the test program's application object look like the program's:
// registry key "BRAMWELD\quib-uploader-net", program name "quibuploader".
void SetUpApplication();
// Deletes the whole profile key, so each test starts from an empty profile.
void ClearProfile();

struct RegValue {
  std::string type;  // "REG_SZ", "REG_DWORD", ...
  std::string data;  // as reg.exe prints it ("0x1" for numbers)
};
// The values of one section as reg.exe query lists them; empty when the key
// does not exist.
std::map<std::string, RegValue> QuerySection(const char* section);
// Runs reg.exe with these arguments; its exit code (-1 when it did not run).
int RunReg(const std::string& args, std::string* output = nullptr);

// Runs a modal dialog on a worker thread. `run` gets the owner window (on
// this thread, which pumps messages meanwhile) and returns the dialog's
// result; `user` runs on a third thread. Gives up after 60 s, ending the
// dialog with Cancel.
INT_PTR RunDialog(const std::function<INT_PTR(HWND owner)>& run, const std::function<void()>& user);

// Polls until the condition holds; false after timeoutMs, or at once when the
// watchdog has given up on the test (it names the wait by file and line).
template <typename F>
bool WaitUntil(F condition, DWORD timeoutMs = 10000, const char* file = __builtin_FILE(),
               int line = __builtin_LINE()) {
  return quibtest::PollUntil(condition, timeoutMs, 20,
                             quibtest::CWaitNote("a condition", file, line));
}

// --- what the user does ---------------------------------------------------

// The visible dialog of this process with this caption; null after 10 s.
HWND WaitDialog(const char* caption);
// Waits until the window is gone; false after 10 s.
bool WaitGone(HWND window);
// A message box owned by `owner`; null after 10 s.
HWND WaitMessageBox(HWND owner);
std::string MessageBoxText(HWND box);
// True when the message box shows the exclamation icon.
bool HasExclamationIcon(HWND box);
// Presses OK of a message box and waits until it is gone.
bool AnswerMessageBox(HWND box);

std::string Text(HWND dialog, int id);
void Type(HWND dialog, int id, const std::string& text);
// A real button click (auto radio buttons update their group); posted, since
// the click may open a modal loop.
void Click(HWND dialog, int id);
// Posts a key press to the control with the focus.
void PressKey(HWND dialog, WPARAM key);
bool IsChecked(HWND dialog, int id);
// The control of the dialog's thread that has the keyboard focus.
HWND FocusOf(HWND dialog);
// Moves the foreground to another top-level window and back.
bool DeactivateAndReactivate(HWND dialog);
// True once the screen shows white at a point of the window's client area
// (polled, since painting may still be under way); false after 5 s.
bool ShowsWhite(HWND window, int x, int y);
// The same near the right end of a control (labels: past their text).
bool ShowsWhiteIn(HWND dialog, int id);
// Saves a PNG in the artifacts folder; false on failure.
bool Screenshot(HWND dialog, const std::string& name);

// --- the password at rest -------------------------------------------------

// True when a value as reg.exe lists it gives the secret away: as text, or as
// the hex digits of its bytes (either case), or of its UTF-16 form.
bool ShowsSecret(const RegValue& value, const std::string& secret);
// The stored "Password" unprotected with the current user's key, as any
// program of this user could do; false when it is not protected data.
bool UnprotectStoredPassword(std::string& password);

}  // namespace dlgtest
