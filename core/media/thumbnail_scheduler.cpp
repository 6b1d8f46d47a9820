#include "core/media/thumbnail_scheduler.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/ports/threads.h"

namespace quib {

struct CThumbnailScheduler::CShared {
  Maker maker;
  Notify notify;
  int workerCount = 1;

  std::mutex lock;
  std::condition_variable wake;  // a job waits, or stop
  std::condition_variable workerGone;
  std::deque<ThumbnailJob> waiting;
  std::deque<ThumbnailResult> done;
  int running = 0;      // jobs being made
  int liveWorkers = 0;  // threads started and not yet ended
  bool started = false;
  bool stopping = false;

  // Makes one job's thumbnail (without the lock held).
  ThumbnailResult Make(const ThumbnailJob& job) const {
    ThumbnailResult result;
    result.id = job.id;
    result.version = job.version;
    result.dpi = job.dpi;
    maker(job, result);
    return result;
  }
};

namespace {

// Bounds each idle wait of a worker; it simply waits again.
constexpr std::chrono::seconds IdleWait(5);

}  // namespace

CThumbnailScheduler::CThumbnailScheduler(int workers, Maker maker, Notify notify)
    : shared_(std::make_shared<CShared>()) {
  shared_->maker = std::move(maker);
  shared_->notify = std::move(notify);
  shared_->workerCount = std::max(1, workers);
}

CThumbnailScheduler::~CThumbnailScheduler() {
  if (!stopped_) Stop(3000);
}

int CThumbnailScheduler::WorkersFor(unsigned cores) {
  return static_cast<int>(std::min(4u, std::max(1u, cores)));
}

void CThumbnailScheduler::Push(ThumbnailJob job) {
  std::unique_lock<std::mutex> guard(shared_->lock);
  if (shared_->stopping) return;
  shared_->waiting.push_back(std::move(job));
  if (!shared_->started) {
    shared_->started = true;
    for (int i = 0; i < shared_->workerCount; ++i) {
      // Each worker holds the shared state, so a worker that outlives this
      // object (Stop gave up waiting) still finds it.
      std::shared_ptr<CShared> shared = shared_;
      try {
        // A system thread: a detached std::thread of the MinGW runtime may
        // never run, which would leave its thumbnails pending for ever.
        StartDetachedThread([shared] {
          std::unique_lock<std::mutex> lock(shared->lock);
          while (!shared->stopping) {
            if (shared->waiting.empty()) {
              shared->wake.wait_for(lock, IdleWait);
              continue;
            }
            ThumbnailJob job = std::move(shared->waiting.front());
            shared->waiting.pop_front();
            ++shared->running;
            lock.unlock();
            ThumbnailResult result = shared->Make(job);
            lock.lock();
            --shared->running;
            if (shared->stopping) break;
            const bool first = shared->done.empty();
            shared->done.push_back(std::move(result));
            if (first && shared->notify) {
              lock.unlock();
              shared->notify();
              lock.lock();
            }
          }
          --shared->liveWorkers;
          shared->workerGone.notify_all();
        });
        ++shared_->liveWorkers;
      } catch (const std::system_error&) {
        // Fewer workers: the ones that started do the work.
      }
    }
    if (shared_->liveWorkers == 0) {
      // Not even one thread: make them here, on the caller's thread.
      shared_->started = false;
      ThumbnailJob own = std::move(shared_->waiting.back());
      shared_->waiting.pop_back();
      guard.unlock();
      ThumbnailResult result = shared_->Make(own);
      guard.lock();
      shared_->done.push_back(std::move(result));
      guard.unlock();
      if (shared_->notify) shared_->notify();
      return;
    }
  }
  shared_->wake.notify_one();
}

bool CThumbnailScheduler::Promote(uint64_t id) {
  std::lock_guard<std::mutex> guard(shared_->lock);
  auto& waiting = shared_->waiting;
  auto found = std::find_if(waiting.begin(), waiting.end(),
                            [id](const ThumbnailJob& job) { return job.id == id; });
  if (found == waiting.end()) return false;
  if (found != waiting.begin()) {
    ThumbnailJob job = std::move(*found);
    waiting.erase(found);
    waiting.push_front(std::move(job));
  }
  return true;
}

bool CThumbnailScheduler::Cancel(uint64_t id) {
  std::lock_guard<std::mutex> guard(shared_->lock);
  auto& waiting = shared_->waiting;
  auto found = std::find_if(waiting.begin(), waiting.end(),
                            [id](const ThumbnailJob& job) { return job.id == id; });
  if (found == waiting.end()) return false;
  waiting.erase(found);
  return true;
}

std::vector<ThumbnailResult> CThumbnailScheduler::TakeResults(size_t max) {
  std::vector<ThumbnailResult> results;
  std::lock_guard<std::mutex> guard(shared_->lock);
  while (!shared_->done.empty() && results.size() < max) {
    results.push_back(std::move(shared_->done.front()));
    shared_->done.pop_front();
  }
  return results;
}

size_t CThumbnailScheduler::Outstanding() const {
  std::lock_guard<std::mutex> guard(shared_->lock);
  return shared_->waiting.size() + static_cast<size_t>(shared_->running) + shared_->done.size();
}

bool CThumbnailScheduler::Stop(int timeoutMs) {
  stopped_ = true;
  std::unique_lock<std::mutex> guard(shared_->lock);
  shared_->stopping = true;
  shared_->waiting.clear();
  shared_->done.clear();
  shared_->wake.notify_all();
  return shared_->workerGone.wait_for(guard, std::chrono::milliseconds(std::max(0, timeoutMs)),
                                      [this] { return shared_->liveWorkers == 0; });
}

}  // namespace quib
