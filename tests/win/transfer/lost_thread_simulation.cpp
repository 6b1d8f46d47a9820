// Plays a defect of the MinGW thread runtime under Wine, every time instead
// of a few times in a thousand: a std::thread that is detached around its
// start sometimes never runs its function (or crashes in the runtime's
// start-up code). The program's own threads must not depend on that.
//
// Linked into this test program with --wrap: each new thread waits at a gate
// until it is detached or 200 ms have passed; a thread detached at the gate
// is lost and never calls its function. Detaching is not passed on to the
// runtime (the thread's bookkeeping stays until the program ends), so the
// real defect cannot strike here either.
#include <pthread.h>
#include <windows.h>

#include <map>
#include <mutex>

extern "C" int __real_pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                                     void* (*function)(void*), void* argument);

namespace {

constexpr DWORD GateMs = 200;

struct CGatedThread {
  void* (*function)(void*) = nullptr;
  void* argument = nullptr;
  HANDLE gate = nullptr;
  enum State { Waiting, Running, Lost } state = Waiting;
};

std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}

std::map<pthread_t, CGatedThread*>& Waiting() {
  static std::map<pthread_t, CGatedThread*> threads;
  return threads;
}

void* Start(void* parameter) {
  auto* thread = static_cast<CGatedThread*>(parameter);
  WaitForSingleObject(thread->gate, GateMs);
  bool lost;
  {
    std::lock_guard<std::mutex> guard(Lock());
    lost = thread->state == CGatedThread::Lost;
    thread->state = CGatedThread::Running;
    for (auto it = Waiting().begin(); it != Waiting().end(); ++it) {
      if (it->second == thread) {
        Waiting().erase(it);
        break;
      }
    }
  }
  void* (*function)(void*) = thread->function;
  void* argument = thread->argument;
  CloseHandle(thread->gate);
  delete thread;
  return lost ? nullptr : function(argument);
}

}  // namespace

extern "C" int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                                     void* (*function)(void*), void* argument) {
  auto* gated = new CGatedThread;
  gated->function = function;
  gated->argument = argument;
  gated->gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::lock_guard<std::mutex> guard(Lock());
  const int result = __real_pthread_create(thread, attributes, Start, gated);
  if (result != 0) {
    CloseHandle(gated->gate);
    delete gated;
    return result;
  }
  Waiting()[*thread] = gated;
  return 0;
}

extern "C" int __wrap_pthread_detach(pthread_t thread) {
  std::lock_guard<std::mutex> guard(Lock());
  auto it = Waiting().find(thread);
  if (it != Waiting().end()) {
    it->second->state = CGatedThread::Lost;
    SetEvent(it->second->gate);
    Waiting().erase(it);
  }
  return 0;
}
