// The per-test watchdog of the test programs that run under Wine.
//
// A test program started normally supervises: it runs its tests in a child
// copy of itself and watches the child's progress. Inside the child a
// GoogleTest listener gives every test a bound (default 120 s, environment
// QUIB_TEST_BOUND in seconds). A test that overruns it is reported at once
// (its name, what it waits for, a screenshot of the whole screen in the
// artifacts folder), its cooperating waits are abandoned so it fails through
// its own assertions, and the watchdog fails it. A test that still does not
// end within a grace time (QUIB_WATCHDOG_GRACE, default 30 s) is blocked in
// a call nobody can interrupt: the supervisor then stops the child and
// every process it started, records the failure and starts a new child with
// the tests that have not run yet.
//
// QUIB_WATCHDOG=off runs the tests in-process without any of this (for a
// debugger).
#pragma once

#include <string>
#include <vector>

namespace quibtest {

// The running test takes longer by design: its bound becomes this many
// seconds from the test's start. Call it first thing in the test (or SetUp).
void SetTestBound(int seconds);

// The test program's main: supervises, or runs the tests as the child.
int RunTestsWithWatchdog(int argc, char** argv);

// Saves the whole virtual screen as a PNG in the artifacts folder
// (QUIB_ARTIFACTS, else the temp folder); the full path, or "" on failure.
std::string SaveScreenPicture(const std::string& name);

// The GoogleTest filter that runs what `filter` runs except the named tests.
std::string FilterWithout(const std::string& filter, const std::vector<std::string>& tests);

}  // namespace quibtest
