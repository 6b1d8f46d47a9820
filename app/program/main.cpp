// Entry point of quibuploader.exe.
#include <windows.h>

#include "app/uploader_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  CUploaderApp app;
  return app.Run(instance, SkipProgramName(GetCommandLineA()));
}
