// The bookkeeping behind thumbnails made off the window's thread: which
// picture sits in which image list slot, which batch reports unreadable
// files when, and the worker queue with its front, its cancels and its stop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "core/media/batch_tracker.h"
#include "core/media/slot_cache.h"
#include "core/media/thumbnail_scheduler.h"

namespace {

using quib::CThumbnailScheduler;
using quib::ThumbnailJob;
using quib::ThumbnailResult;

TEST(SlotCache, KeepsTheRecentlyShownAndGivesUpTheOldest) {
  CSlotCache cache(3, 2);  // slots 3 and 4
  bool fresh = false;
  EXPECT_EQ(cache.Acquire(100, fresh), 3);
  EXPECT_TRUE(fresh);
  EXPECT_EQ(cache.Acquire(200, fresh), 4);
  EXPECT_TRUE(fresh);
  EXPECT_EQ(cache.Acquire(100, fresh), 3);  // shown again: most recent now
  EXPECT_FALSE(fresh);
  EXPECT_EQ(cache.Acquire(300, fresh), 4);  // 200 was shown longest ago
  EXPECT_TRUE(fresh);
  EXPECT_EQ(cache.Find(200), -1);
  EXPECT_EQ(cache.Find(100), 3);
  // A changed picture must be filled again, in a freed slot.
  cache.Forget(100);
  EXPECT_EQ(cache.Find(100), -1);
  EXPECT_EQ(cache.Acquire(100, fresh), 3);
  EXPECT_TRUE(fresh);
  cache.Forget(999);  // unknown: nothing happens
  EXPECT_EQ(cache.Size(), 2);
  cache.Clear();
  EXPECT_EQ(cache.Acquire(300, fresh), 3);
  EXPECT_TRUE(fresh);
}

TEST(SlotCache, ThousandsOfKeysNeverLeaveTheSlots) {
  CSlotCache cache(0, 64);
  std::set<int> used;
  bool fresh = false;
  for (uint64_t key = 0; key < 10000; ++key) {
    used.insert(cache.Acquire(key, fresh));
    if (key % 3 == 0) cache.Forget(key / 2);
  }
  EXPECT_EQ(used.size(), 64u);
  EXPECT_EQ(*used.begin(), 0);
  EXPECT_EQ(*used.rbegin(), 63);
  EXPECT_LE(cache.Size(), 64);
}

TEST(BatchTracker, EachBatchReportsItsUnreadableFilesOnceWhenComplete) {
  CBatchTracker batches;
  const uint64_t drop = batches.Open();
  const uint64_t dialog = batches.Open();
  for (int i = 0; i < 3; ++i) batches.AddJob(drop);
  batches.AddJob(dialog);
  batches.JobDone(drop, true, "broken-1.jpg");
  batches.JobDone(dialog, false, "fine.jpg");
  // The dialog's batch is still being added to: nothing yet, and the drop
  // still has thumbnails on the way.
  EXPECT_TRUE(batches.TakeReports().empty());
  batches.Close(drop);
  batches.Close(dialog);
  batches.JobDone(drop, false, "fine.png");
  EXPECT_TRUE(batches.TakeReports().empty());
  EXPECT_EQ(batches.OpenBatches(), 1u);  // the dialog's is done, without a report
  batches.JobDone(drop, true, "broken-2.jpg");
  const auto reports = batches.TakeReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].unreadable, (std::vector<std::string>{"broken-1.jpg", "broken-2.jpg"}));
  EXPECT_TRUE(batches.TakeReports().empty());
  EXPECT_EQ(batches.OpenBatches(), 0u);
  // A batch whose files were all refused closes without thumbnails.
  const uint64_t empty = batches.Open();
  batches.Close(empty);
  EXPECT_TRUE(batches.TakeReports().empty());
  EXPECT_EQ(batches.OpenBatches(), 0u);
}

TEST(BatchTracker, MessageNamesTheFilesAndCountsTheRest) {
  EXPECT_EQ(CBatchTracker::Message({"a.jpg", "b.png"}),
            "2 file(s) could not be read as pictures and show no thumbnail:\n\na.jpg\nb.png");
  std::vector<std::string> many;
  for (int i = 0; i < 15; ++i) many.push_back("p" + std::to_string(i) + ".jpg");
  const std::string text = CBatchTracker::Message(many);
  EXPECT_NE(text.find("15 file(s)"), std::string::npos);
  EXPECT_NE(text.find("\np11.jpg\n... and 3 more"), std::string::npos);
  EXPECT_EQ(text.find("p12.jpg"), std::string::npos);
}

// A maker that waits for the test to open its gate, and records the order
// in which it was asked.
struct CGatedMaker {
  std::mutex lock;
  std::condition_variable changed;
  int open = 0;  // how many jobs may finish
  std::vector<uint64_t> order;
  std::atomic<int> running{0};

  void Make(const ThumbnailJob& job, ThumbnailResult& result) {
    std::unique_lock<std::mutex> guard(lock);
    order.push_back(job.id);
    ++running;
    changed.notify_all();
    changed.wait_for(guard, std::chrono::seconds(20), [this] { return open > 0; });
    --open;
    --running;
    result.readable = job.path != "broken";
    result.width = static_cast<int>(job.id);
  }
  void Open(int n) {
    std::lock_guard<std::mutex> guard(lock);
    open += n;
    changed.notify_all();
  }
  bool WaitRunning(int n) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::seconds(20), [&] { return running.load() == n; });
  }
};

std::vector<ThumbnailResult> TakeAll(CThumbnailScheduler& scheduler, size_t n) {
  std::vector<ThumbnailResult> all;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (all.size() < n && std::chrono::steady_clock::now() < end) {
    for (ThumbnailResult& r : scheduler.TakeResults(100)) all.push_back(std::move(r));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return all;
}

TEST(ThumbnailScheduler, PromotedJobsGoFirstAndCancelledOnesNeverRun) {
  CGatedMaker maker;
  std::atomic<int> notified{0};
  CThumbnailScheduler scheduler(
      1, [&](const ThumbnailJob& j, ThumbnailResult& r) { maker.Make(j, r); }, [&] { ++notified; });
  for (uint64_t id = 1; id <= 5; ++id) scheduler.Push({id, 7, "p" + std::to_string(id)});
  ASSERT_TRUE(maker.WaitRunning(1)) << "the worker never took job 1";
  EXPECT_TRUE(scheduler.Promote(4));
  EXPECT_TRUE(scheduler.Cancel(3));
  EXPECT_FALSE(scheduler.Cancel(1));  // running: its result still comes
  EXPECT_FALSE(scheduler.Promote(3));
  EXPECT_EQ(scheduler.Outstanding(), 4u);
  maker.Open(4);
  const std::vector<ThumbnailResult> results = TakeAll(scheduler, 4);
  ASSERT_EQ(results.size(), 4u) << "results did not arrive";
  EXPECT_EQ(maker.order, (std::vector<uint64_t>{1, 4, 2, 5}));
  for (const ThumbnailResult& r : results) {
    EXPECT_EQ(r.version, 7u);
    EXPECT_EQ(r.width, static_cast<int>(r.id));
  }
  EXPECT_GE(notified.load(), 1);
  EXPECT_EQ(scheduler.Outstanding(), 0u);
}

TEST(ThumbnailScheduler, SeveralWorkersShareTheQueue) {
  CGatedMaker maker;
  CThumbnailScheduler scheduler(
      3, [&](const ThumbnailJob& j, ThumbnailResult& r) { maker.Make(j, r); }, nullptr);
  for (uint64_t id = 1; id <= 30; ++id) scheduler.Push({id, 1, id == 9 ? "broken" : "fine"});
  ASSERT_TRUE(maker.WaitRunning(3)) << "three workers were not busy at once";
  maker.Open(30);
  const std::vector<ThumbnailResult> results = TakeAll(scheduler, 30);
  ASSERT_EQ(results.size(), 30u);
  std::set<uint64_t> ids;
  for (const ThumbnailResult& r : results) {
    ids.insert(r.id);
    EXPECT_EQ(r.readable, r.id != 9);
  }
  EXPECT_EQ(ids.size(), 30u);
}

TEST(ThumbnailScheduler, StopDropsWaitingJobsAndWaitsBoundedForRunningOnes) {
  auto maker = std::make_shared<CGatedMaker>();
  auto scheduler = std::make_unique<CThumbnailScheduler>(
      2, [maker](const ThumbnailJob& j, ThumbnailResult& r) { maker->Make(j, r); }, nullptr);
  for (uint64_t id = 1; id <= 10; ++id) scheduler->Push({id, 1, "p"});
  ASSERT_TRUE(maker->WaitRunning(2));
  // Both workers are stuck in a decode: Stop gives up after its time.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(scheduler->Stop(200));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(scheduler->Outstanding(), 2u);  // only the two running
  scheduler->Push({11, 1, "late"});         // ignored once stopping
  scheduler.reset();                        // the workers outlive it safely
  maker->Open(10);
  // They end without taking another job or reporting.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (maker->running.load() > 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(maker->running.load(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::lock_guard<std::mutex> guard(maker->lock);
  EXPECT_EQ(maker->order.size(), 2u);
}

TEST(ThumbnailScheduler, WorkersFollowTheCores) {
  EXPECT_EQ(CThumbnailScheduler::WorkersFor(0), 1);
  EXPECT_EQ(CThumbnailScheduler::WorkersFor(1), 1);
  EXPECT_EQ(CThumbnailScheduler::WorkersFor(2), 2);
  EXPECT_EQ(CThumbnailScheduler::WorkersFor(16), 4);
}

}  // namespace
