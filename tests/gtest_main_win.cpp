// Entry point of the test programs that run under Wine: every test runs
// under the per-test watchdog (tests/win/support/watchdog.h).
#include <windows.h>

#include "adapters/windows_platform.h"
#include "tests/win/support/watchdog.h"

int main(int argc, char** argv) {
  // A crash must fail the test, not open a dialog that waits forever.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  // The code under test reaches Windows through the ports, as in the program.
  quib::InstallWindowsPlatform();
  return quibtest::RunTestsWithWatchdog(argc, argv);
}
