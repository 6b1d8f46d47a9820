// What the test program is waiting for, for the per-test watchdog: every
// waiting helper (the end-to-end driver, the dialog harness, the loopback
// server, condition waits in tests) names its wait while it lasts. When a
// test overruns its bound the watchdog prints the open notes and abandons
// the test: from then on every cooperating wait returns false at once, so
// the test fails through its own assertions and the program goes on.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace quibtest {

// Names the calling thread's wait while the note lives. Cheap: one short
// lock on entry and exit; the text is built only once.
class CWaitNote {
 public:
  explicit CWaitNote(std::string what);
  // "what (file:line)": the place a generic wait was called from.
  CWaitNote(const char* what, const char* file, int line);
  ~CWaitNote();
  CWaitNote(const CWaitNote&) = delete;
  CWaitNote& operator=(const CWaitNote&) = delete;

 private:
  unsigned long id_;
};

// The open notes of all threads, oldest first: "what [thread 12, 3.2 s]".
std::vector<std::string> OpenWaitNotes();

// True once the watchdog has given up on the running test.
bool WaitsAbandoned();
// Set by the watchdog when a test overruns, cleared when the next test starts.
void SetWaitsAbandoned(bool abandoned);

// Polls the condition every pauseMs until it holds (true), the time is up
// or the test is abandoned (false).
template <typename F>
bool PollUntil(F condition, DWORD timeoutMs, DWORD pauseMs, const CWaitNote&) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (WaitsAbandoned() || GetTickCount() - start > timeoutMs) return false;
    Sleep(pauseMs);
  }
  return true;
}

// A condition-variable wait that also ends when the test is abandoned; the
// lock is held on return as with wait_for.
template <typename Pred>
bool WaitOn(std::condition_variable& changed, std::unique_lock<std::mutex>& lock,
            std::chrono::milliseconds timeout, Pred pred, const char* what,
            const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
  const CWaitNote note(what, file, line);
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (WaitsAbandoned()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return pred();
    // Short slices, so an abandoned test is noticed without a notify.
    const auto slice = std::chrono::steady_clock::duration(std::chrono::milliseconds(100));
    changed.wait_for(lock, end - now < slice ? end - now : slice);
  }
  return true;
}

// Waits for a process or thread handle, in slices; false on time-out or when
// the test is abandoned.
bool WaitHandle(HANDLE handle, DWORD timeoutMs, const char* what,
                const char* file = __builtin_FILE(), int line = __builtin_LINE());

}  // namespace quibtest
