// Entry point of quibuploader.exe.
#include <windows.h>

#include "adapters/windows_platform.h"
#include "program/uploader_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // The core reaches Windows through these ports from now on.
  quib::InstallWindowsPlatform();
  CUploaderApp app;
  return app.Run(instance, SkipProgramName(GetCommandLineA()));
}
