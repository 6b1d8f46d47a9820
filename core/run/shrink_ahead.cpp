#include "core/run/shrink_ahead.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "core/ports/threads.h"

namespace quib {

namespace {

// Bounds each idle wait of a worker; it simply waits again.
constexpr std::chrono::seconds IdleWait(5);

bool SameJob(const ShrinkJob& a, const ShrinkJob& b) {
  return a.index == b.index && a.itemId == b.itemId && a.path == b.path && a.box == b.box;
}

}  // namespace

struct CShrinkAhead::CShared {
  struct CEntry {
    explicit CEntry(ShrinkJob j) : job(std::move(j)) {}
    ShrinkJob job;
    bool running = false;
    bool done = false;
    bool dropped = false;  // nobody takes it: its copy is deleted
    bool made = false;
    PictureCopy copy;
  };
  using Entry = std::shared_ptr<CEntry>;

  Shrink shrink;
  Remove remove;
  int workerCount = 1;
  int ahead = 1;

  std::mutex lock;
  std::condition_variable wake;     // a copy waits to be made, or stop
  std::condition_variable changed;  // a copy was made, or a worker ended
  std::deque<Entry> entries;        // outstanding, in the order they were queued
  int liveWorkers = 0;
  bool started = false;
  bool stopping = false;

  Entry NextWaiting() const {
    for (const Entry& entry : entries) {
      if (!entry->running && !entry->done) return entry;
    }
    return nullptr;
  }

  void Forget(const Entry& entry) {
    entries.erase(std::remove(entries.begin(), entries.end(), entry), entries.end());
  }

  // Makes one copy without the lock held; a copy that nobody wants any more
  // by the time it is made is deleted at once.
  void Make(const Entry& entry, std::unique_lock<std::mutex>& held) {
    entry->running = true;
    held.unlock();
    PictureCopy copy;
    bool made = false;
    try {
      made = shrink(entry->job.path, entry->job.box, copy);
    } catch (...) {
      made = false;  // nothing may leave a worker; a failed copy goes up unshrunk
    }
    held.lock();
    entry->running = false;
    entry->done = true;
    if (entry->dropped) {
      if (made) {
        held.unlock();
        remove(copy.path);
        held.lock();
      }
    } else {
      entry->made = made;
      entry->copy = std::move(copy);
    }
    changed.notify_all();
  }

  static void Work(const std::shared_ptr<CShared>& shared) {
    std::unique_lock<std::mutex> held(shared->lock);
    while (!shared->stopping) {
      Entry entry = shared->NextWaiting();
      if (!entry) {
        shared->wake.wait_for(held, IdleWait);
        continue;
      }
      shared->Make(entry, held);
    }
    --shared->liveWorkers;
    shared->changed.notify_all();
  }

  void StartWorkers(const std::shared_ptr<CShared>& self) {
    started = true;
    for (int i = 0; i < workerCount; ++i) {
      try {
        // Each worker holds the shared state: it may outlive the owner.
        StartDetachedThread([self] { Work(self); });
        ++liveWorkers;
      } catch (const std::system_error&) {
        // Fewer workers; with none, Take makes each copy itself.
      }
    }
  }
};

CShrinkAhead::CShrinkAhead(int workers, int ahead, Shrink shrink, Remove remove)
    : shared_(std::make_shared<CShared>()) {
  shared_->shrink = std::move(shrink);
  shared_->remove = std::move(remove);
  shared_->workerCount = std::max(1, workers);
  shared_->ahead = std::max(1, ahead);
}

CShrinkAhead::~CShrinkAhead() {
  Stop(0);
}

int CShrinkAhead::WorkersFor(unsigned cores) {
  return static_cast<int>(std::min(4u, std::max(1u, cores)));
}

bool CShrinkAhead::Push(ShrinkJob job) {
  std::lock_guard<std::mutex> held(shared_->lock);
  if (shared_->stopping || static_cast<int>(shared_->entries.size()) >= shared_->ahead) {
    return false;
  }
  shared_->entries.push_back(std::make_shared<CShared::CEntry>(std::move(job)));
  if (!shared_->started) shared_->StartWorkers(shared_);
  shared_->wake.notify_one();
  return true;
}

bool CShrinkAhead::Take(const ShrinkJob& job, int timeoutMs, bool& made, PictureCopy& copy) {
  made = false;
  std::unique_lock<std::mutex> held(shared_->lock);
  auto found = std::find_if(shared_->entries.begin(), shared_->entries.end(),
                            [&](const CShared::Entry& e) { return e->job.index == job.index; });
  if (found == shared_->entries.end()) return false;
  const CShared::Entry entry = *found;
  if (!SameJob(entry->job, job)) {
    // Planned under other terms (the item or the choice changed): not this copy.
    shared_->Forget(entry);
    entry->dropped = true;
    if (entry->done && entry->made) {
      held.unlock();
      shared_->remove(entry->copy.path);
    }
    return false;
  }
  // Not started yet (every worker is busy, or none could start): this thread
  // would only wait, so it makes the copy itself.
  if (!entry->running && !entry->done) shared_->Make(entry, held);
  shared_->changed.wait_for(held, std::chrono::milliseconds(std::max(0, timeoutMs)),
                            [&] { return entry->done; });
  shared_->Forget(entry);
  if (!entry->done) {
    entry->dropped = true;  // too late: its worker deletes it
    return true;
  }
  made = entry->made;
  copy = std::move(entry->copy);
  return true;
}

int CShrinkAhead::Outstanding() const {
  std::lock_guard<std::mutex> held(shared_->lock);
  return static_cast<int>(shared_->entries.size());
}

bool CShrinkAhead::Stop(int timeoutMs) {
  std::vector<std::string> made;
  std::unique_lock<std::mutex> held(shared_->lock);
  shared_->stopping = true;
  for (const CShared::Entry& entry : shared_->entries) {
    entry->dropped = true;
    if (entry->done && entry->made) made.push_back(entry->copy.path);
  }
  shared_->entries.clear();
  shared_->wake.notify_all();
  held.unlock();
  for (const std::string& path : made) shared_->remove(path);
  held.lock();
  return shared_->changed.wait_for(held, std::chrono::milliseconds(std::max(0, timeoutMs)),
                                   [&] { return shared_->liveWorkers == 0; });
}

}  // namespace quib
