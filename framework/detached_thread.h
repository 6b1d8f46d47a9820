// A thread nobody waits for.
//
// Not std::thread(...).detach(): with the MinGW-w64 POSIX threads library
// the program is built with, letting go of a thread that has already
// finished its work can hand its bookkeeping to the next thread while the
// finished one still cleans up; that next thread then never runs its body,
// or the process crashes. A plain system thread has no such bookkeeping.
#pragma once

#include <functional>

// Runs body on a new system thread; false (body not run) when the system
// cannot create one. The body must not throw.
bool StartDetachedThread(std::function<void()> body);
