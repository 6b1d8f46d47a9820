#include "tests/win/support/wait_note.h"

#include <atomic>
#include <cstdio>
#include <list>

namespace quibtest {

namespace {

struct COpenWait {
  unsigned long id;
  std::string what;
  DWORD thread;
  DWORD since;
};

// Notes are few and short-lived; a list under one lock is plenty.
std::mutex& NotesLock() {
  static std::mutex lock;
  return lock;
}
std::list<COpenWait>& Notes() {
  static std::list<COpenWait> notes;
  return notes;
}
unsigned long nextId = 0;  // guarded by NotesLock
std::atomic<bool> abandoned{false};

unsigned long Open(std::string what) {
  std::lock_guard<std::mutex> guard(NotesLock());
  const unsigned long id = ++nextId;
  Notes().push_back({id, std::move(what), GetCurrentThreadId(), GetTickCount()});
  return id;
}

std::string BaseName(const char* path) {
  std::string name = path ? path : "";
  const size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

CWaitNote::CWaitNote(std::string what) : id_(Open(std::move(what))) {}

CWaitNote::CWaitNote(const char* what, const char* file, int line)
    : id_(Open(std::string(what) + " (" + BaseName(file) + ":" + std::to_string(line) + ")")) {}

CWaitNote::~CWaitNote() {
  std::lock_guard<std::mutex> guard(NotesLock());
  for (auto it = Notes().begin(); it != Notes().end(); ++it) {
    if (it->id == id_) {
      Notes().erase(it);
      break;
    }
  }
}

std::vector<std::string> OpenWaitNotes() {
  std::vector<std::string> lines;
  const DWORD now = GetTickCount();
  std::lock_guard<std::mutex> guard(NotesLock());
  for (const COpenWait& note : Notes()) {
    char tail[64];
    std::snprintf(tail, sizeof tail, " [thread %lu, %.1f s]",
                  static_cast<unsigned long>(note.thread), (now - note.since) / 1000.0);
    lines.push_back(note.what + tail);
  }
  return lines;
}

bool WaitsAbandoned() {
  return abandoned.load(std::memory_order_relaxed);
}

void SetWaitsAbandoned(bool value) {
  abandoned.store(value);
}

bool WaitHandle(HANDLE handle, DWORD timeoutMs, const char* what, const char* file, int line) {
  const CWaitNote note(what, file, line);
  const DWORD start = GetTickCount();
  for (;;) {
    if (WaitsAbandoned()) return false;
    const DWORD waited = GetTickCount() - start;
    if (waited >= timeoutMs) return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    const DWORD slice = timeoutMs - waited < 100 ? timeoutMs - waited : 100;
    const DWORD result = WaitForSingleObject(handle, slice);
    if (result == WAIT_OBJECT_0) return true;
    if (result == WAIT_FAILED) return false;
  }
}

}  // namespace quibtest
