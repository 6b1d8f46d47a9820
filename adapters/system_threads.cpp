// Threads, the clock and the window-thread queue of Windows.
#include <windows.h>

#include <deque>
#include <memory>
#include <mutex>
#include <system_error>

#include "adapters/windows_platform.h"
#include "core/ports/clock.h"
#include "core/ports/threads.h"
#include "core/ports/window_queue.h"

namespace quib {
namespace {

DWORD WINAPI ThreadMain(LPVOID parameter) {
  std::unique_ptr<std::function<void()>> run(static_cast<std::function<void()>*>(parameter));
  // Nothing may leave a thread's entry: an exception there ends the process.
  try {
    (*run)();
  } catch (...) {
  }
  return 0;
}

class CSystemThreads : public IThreadStarter {
 public:
  void Start(std::function<void()> run) override {
    auto owned = std::make_unique<std::function<void()>>(std::move(run));
    HANDLE thread = CreateThread(nullptr, 0, ThreadMain, owned.get(), 0, nullptr);
    if (!thread) {
      throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                              "CreateThread");
    }
    owned.release();
    CloseHandle(thread);
  }
};

class CTickClock : public IClock {
 public:
  uint64_t NowMs() override { return GetTickCount64(); }
};

// A message-only window of the thread that made the queue: each Post puts
// the work in the queue and posts one message, whose turn runs the oldest
// piece of work.
constexpr UINT MsgRunWork = WM_APP + 0x71;
const wchar_t kQueueClass[] = L"QuibWindowQueue";

struct CQueueState {
  std::mutex lock;
  std::deque<std::function<void()>> work;
  HWND window = nullptr;  // null once the queue is gone

  void Post(std::function<void()> item) {
    std::lock_guard<std::mutex> guard(lock);
    if (!window) return;
    work.push_back(std::move(item));
    PostMessageW(window, MsgRunWork, 0, 0);
  }
  bool TakeOne(std::function<void()>& item) {
    std::lock_guard<std::mutex> guard(lock);
    if (work.empty()) return false;
    item = std::move(work.front());
    work.pop_front();
    return true;
  }
};

LRESULT CALLBACK QueueProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == MsgRunWork) {
    auto* state =
        reinterpret_cast<std::weak_ptr<CQueueState>*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    std::shared_ptr<CQueueState> shared = state ? state->lock() : nullptr;
    std::function<void()> item;
    if (shared && shared->TakeOne(item)) {
      try {
        item();
      } catch (...) {
        // A window procedure must not let anything escape into the system.
      }
    }
    return 0;
  }
  if (msg == WM_NCDESTROY) {
    delete reinterpret_cast<std::weak_ptr<CQueueState>*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

bool RegisterQueueClass() {
  static const bool registered = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = QueueProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kQueueClass;
    return RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

class CWindowQueue : public IWindowQueue {
 public:
  CWindowQueue() : state_(std::make_shared<CQueueState>()) {
    if (!RegisterQueueClass()) return;
    HWND window = CreateWindowExW(0, kQueueClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (!window) return;
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(new std::weak_ptr<CQueueState>(state_)));
    state_->window = window;
  }
  ~CWindowQueue() override {
    HWND window = nullptr;
    {
      std::lock_guard<std::mutex> guard(state_->lock);
      window = state_->window;
      state_->window = nullptr;
      state_->work.clear();
    }
    if (window) DestroyWindow(window);
  }
  CWindowQueue(const CWindowQueue&) = delete;
  CWindowQueue& operator=(const CWindowQueue&) = delete;

  void Post(std::function<void()> work) override { state_->Post(std::move(work)); }
  Poster MakePoster() override {
    std::weak_ptr<CQueueState> weak = state_;
    return [weak](std::function<void()> work) {
      if (std::shared_ptr<CQueueState> state = weak.lock()) state->Post(std::move(work));
    };
  }

 private:
  std::shared_ptr<CQueueState> state_;
};

}  // namespace

IThreadStarter& SystemThreads() {
  static CSystemThreads threads;
  return threads;
}

IClock& TickClock() {
  static CTickClock clock;
  return clock;
}

std::unique_ptr<IWindowQueue> MakeThreadWindowQueue() {
  return std::make_unique<CWindowQueue>();
}

}  // namespace quib
