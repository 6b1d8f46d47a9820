// The scripted demo: a new user opens the program with three pictures, presses
// Upload, logs in, picks an album, answers the resize question and waits for
// the result. Every step is recorded as a screenshot.
#include <cstdio>
#include <string>

#include "tests/e2e/driver/driver.h"

using namespace e2e;

namespace {

std::string Env(const char* name) {
  char value[1024] = {};
  GetEnvironmentVariableA(name, value, sizeof value);
  return value;
}

std::string Media(const char* name) {
  return ToWindowsPath(Env("QUIB_DEMO_MEDIA") + "/" + name);
}

int Fail(const char* what) {
  std::fprintf(stderr, "demo: %s\n", what);
  return 1;
}

void Shot(HWND window, const char* name) {
  std::printf("demo: %s\n", SaveScreenshot(window, name).c_str());
  std::fflush(stdout);
}

}  // namespace

int main() {
  const std::string args =
      "\"" + Media("lake.jpg") + "\" \"" + Media("sunset.jpg") + "\" \"" + Media("moon.png") + "\"";
  auto program = CProgram::Launch(args);
  if (!program) return Fail("cannot start the program");
  const DWORD pid = program->Pid();
  HWND main = program->WaitMainWindow();
  if (!main) return Fail("the main window did not appear");
  HWND list = GetDlgItem(main, 1005);
  WaitUntil([&] { return ListCaptions(list).size() == 3; }, 20000);
  Shot(main, "1-main-window");

  // Upload: the first run asks for the account.
  PostClick(main, 1007);
  HWND login = WaitForWindow("Login data", pid, 30000);
  if (!login) return Fail("no login dialog");
  SetText(GetDlgItem(login, 1008), "demo");
  SetText(GetDlgItem(login, 1009), "demo");
  Shot(login, "2-login");
  PostClick(login, IDOK);

  HWND albums = WaitForWindow("Select album", pid, 30000);
  if (!albums) return Fail("no album dialog");
  Shot(albums, "3-select-album");
  PostClick(albums, 1011);

  // The square 800 x 600 picture is large enough to ask about shrinking.
  HWND resize = WaitForWindow("Dialog", pid, 60000);
  if (!resize) return Fail("no resize prompt");
  SendMessageA(GetDlgItem(resize, 1016), BM_CLICK, 0, 0);
  Shot(resize, "4-resize-medium");
  PostClick(resize, IDOK);

  if (HWND transfer = WaitForWindow("Uploading...", pid, 5000)) Shot(transfer, "5-uploading");
  HWND done = WaitForMessageBox(pid, 120000);
  if (!done) return Fail("no final message");
  std::printf("demo: %s\n", MessageBoxText(done).c_str());
  Shot(done, "6-result");
  PostClick(done, IDOK);
  WaitUntil([&] { return ListCaptions(list).empty(); }, 20000);
  Shot(main, "7-list-empty");
  program->Close();
  return 0;
}
