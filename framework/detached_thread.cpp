#include "framework/detached_thread.h"

#include <windows.h>

#include <memory>

namespace {

DWORD WINAPI RunBody(LPVOID parameter) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
  try {
    (*body)();
  } catch (...) {
    // Nothing may leave a thread's entry.
  }
  return 0;
}

}  // namespace

bool StartDetachedThread(std::function<void()> body) {
  auto* owned = new std::function<void()>(std::move(body));
  HANDLE thread = CreateThread(nullptr, 0, RunBody, owned, 0, nullptr);
  if (!thread) {
    delete owned;
    return false;
  }
  CloseHandle(thread);
  return true;
}
