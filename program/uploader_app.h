// The application object: decides at start-up between stopping running
// instances, handing the command line to the running instance, and running
// the main window.
#pragma once

#include "core/settings/program_identity.h"
#include "framework/app.h"

class CUploaderApp : public CWinApp {
 public:
  BOOL InitInstance() override;

 private:
  void StopRunningInstances();
  void ForwardToRunningInstance(HANDLE mutex);
  void RunFirstInstance(HANDLE mutex);
};
