// What the fault tests share: the stored settings, and a fixture that runs
// the real program with a list of files and checks after each fault that it
// still runs, kept every file that did not go up, left the user's files as
// they were and left no temporary copy. The album service's test hooks are
// in the driver (service_hooks.h).
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/driver/driver.h"
#include "tests/e2e/driver/service_hooks.h"
#include "tests/e2e/faults/scripted_server.h"

namespace e2e {

// The program's temporary copies (NEW*.TMP) in a folder; the temp folder
// when folder is empty.
int TempCopies(const std::string& folder = std::string());

class CFaultTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A picture or movie in this test's folder; its bytes are remembered so
  // that ExpectUserFilesIntact can compare them at the end.
  std::string Picture(const std::string& name, int width, int height, COLORREF color);
  std::string Movie(const std::string& name, size_t size);

  // Starts the program with these files on its command line.
  void Start(const std::vector<std::string>& files);
  // Starts it with TMP and TEMP pointing at this folder.
  void StartWithTemp(const std::vector<std::string>& files, const std::string& temp);
  // Hands more files to the running program, as a second start does.
  void Hand(const std::vector<std::string>& files);

  HWND List() const;
  DWORD Pid() const;
  std::vector<std::string> Captions() const;
  HWND Dialog(const char* caption, DWORD timeoutMs = 20000);
  HWND Transfer(DWORD timeoutMs = 30000) { return Dialog("Uploading...", timeoutMs); }
  void PressUpload();
  // Presses Upload; once the transfer dialog shows and the login request is
  // in, lets the login answer (scripted with AnswerTime::OnRelease) go.
  // Returns the transfer dialog, null when it did not come.
  HWND PressUploadAndReleaseLogIn(CScriptedServer& login);
  // Waits for a message box, expects its text, saves a picture of it and
  // presses OK.
  void Answer(const std::string& text, const std::string& shot, DWORD timeoutMs = 60000);
  // The message box that comes next: its text ("" when none came), after
  // pressing OK.
  std::string NextMessage(DWORD timeoutMs);
  // The run is over: its transfer dialog is gone (a fatal failure if not).
  // Closing a window takes Wine a few seconds without a window manager, and
  // longer on a busy machine.
  void ExpectRunEnded(DWORD timeoutMs = 30000);
  // The process still runs and its main window answers.
  void ExpectAlive();
  // Every file made by Picture or Movie still holds its first bytes.
  void ExpectUserFilesIntact();
  // Ends the program as "-stop" does (no questions asked) and waits for it.
  void Quit();
  // No temporary copy of the program is left in the temp folder.
  void ExpectNoTempCopies();

  std::string dir_;
  std::unique_ptr<CProgram> program_;
  HWND main_ = nullptr;
  std::map<std::string, std::string> userFiles_;
  int tempCopiesBefore_ = 0;
};

}  // namespace e2e
