// Entry point of quibuploader.exe.
#include <windows.h>

#include <string>

#include "adapters/long_path.h"
#include "adapters/windows_platform.h"
#include "program/uploader_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // The core reaches Windows through these ports from now on.
  quib::InstallWindowsPlatform();
  // In UTF-8 from the start: the ANSI form loses every name the code page
  // cannot spell.
  const std::string commandLine = WideToUtf8(GetCommandLineW());
  CUploaderApp app;
  return app.Run(instance, SkipProgramName(commandLine.c_str()));
}
