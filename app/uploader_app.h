// The application object: decides at start-up between stopping running
// instances, handing the command line to the running instance, and running
// the main window.
#pragma once

#include "framework/app.h"

// Title of the main window, also how other instances find it ("®" is 0xAE
// in code page 1252).
#define QUIB_WINDOW_TITLE "quib\xAE-uploader"
// Name of the marker mutex of a running instance.
#define QUIB_MUTEX_NAME "QuibUploader"
// Settings location below HKCU\Software (the program name is added).
#define QUIB_REGISTRY_KEY "BRAMWELD\\quib-uploader-net"
// dwData of the WM_COPYDATA message that forwards a command line.
constexpr ULONG_PTR COPYDATA_ADD_FILE = 1018;

class CUploaderApp : public CWinApp {
 public:
  BOOL InitInstance() override;

 private:
  void StopRunningInstances();
  void ForwardToRunningInstance(HANDLE mutex);
  void RunFirstInstance(HANDLE mutex);
};
