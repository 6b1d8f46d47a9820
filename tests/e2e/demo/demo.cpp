// The scripted demo: opens the program with sample media and records what a
// user sees, step by step, as screenshots.
#include <cstdio>
#include <string>

#include "tests/e2e/driver/driver.h"

using namespace e2e;

namespace {

std::string Media(const char* name) {
  char dir[1024] = {};
  GetEnvironmentVariableA("QUIB_DEMO_MEDIA", dir, sizeof dir);
  return ToWindowsPath(std::string(dir) + "/" + name);
}

int Fail(const char* what) {
  std::fprintf(stderr, "demo: %s\n", what);
  return 1;
}

}  // namespace

int main() {
  const std::string args = "\"" + Media("lake.jpg") + "\" \"" + Media("sunset.jpg") + "\" \"" +
                           Media("moon.png") + "\"";
  auto program = CProgram::Launch(args);
  if (!program) return Fail("cannot start the program");
  HWND main = program->WaitMainWindow();
  if (!main) return Fail("the main window did not appear");
  WaitUntil([&] { return ListCaptions(GetDlgItem(main, 1005)).size() == 3; }, 20000);
  std::printf("demo: main window with %zu files\n", ListCaptions(GetDlgItem(main, 1005)).size());
  std::printf("demo: %s\n", SaveScreenshot(main, "1-main-window").c_str());
  program->Close();
  return 0;
}
