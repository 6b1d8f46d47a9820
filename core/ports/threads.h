// Starting threads. The platform decides how: on Windows a system thread,
// because a detached std::thread of the MinGW runtime sometimes never runs,
// or crashes in its start-up code, when it is detached around its start
// (seen under Wine, a few in a thousand on a loaded machine).
#pragma once

#include <functional>

namespace quib {

class IThreadStarter {
 public:
  virtual ~IThreadStarter() = default;
  // Runs run on a new thread that nobody waits for; throws std::system_error
  // when the system cannot start one.
  virtual void Start(std::function<void()> run) = 0;
};

}  // namespace quib

// Starts run on a new thread of the installed platform (see platform.h).
void StartDetachedThread(std::function<void()> run);
