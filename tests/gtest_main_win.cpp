// Entry point of the test programs that run under Wine.
#include <windows.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  // A crash must fail the test, not open a dialog that waits forever.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
