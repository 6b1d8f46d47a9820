// Threads nobody waits for, on a busy machine: every one of them must run
// its body. The transport runs each WinINet call that waits for the server
// on such a thread; one that never ran left a request hanging for ever.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/ports/http_port.h"
#include "core/ports/threads.h"
#include "core/protocol/http_upload.h"
#include "tests/win/support/loopback_server.h"
#include "tests/win/support/wait_note.h"

namespace {

// Threads that keep both processors busy while they live, so that creating
// threads and letting them go interleave as they do on a loaded machine.
class CBusyProcessors {
 public:
  explicit CBusyProcessors(int count) {
    for (int i = 0; i < count; ++i) {
      threads_.push_back(CreateThread(nullptr, 0, Spin, &stop_, 0, nullptr));
    }
  }
  ~CBusyProcessors() {
    stop_ = true;
    for (HANDLE t : threads_) {
      if (!t) continue;
      WaitForSingleObject(t, 10000);
      CloseHandle(t);
    }
  }

 private:
  static DWORD WINAPI Spin(LPVOID stop) {
    volatile unsigned long n = 0;
    while (!static_cast<std::atomic<bool>*>(stop)->load()) ++n;
    return 0;
  }
  std::atomic<bool> stop_{false};
  std::vector<HANDLE> threads_;
};

// Runs `body` on `count` threads at once and waits for all of them.
template <typename F>
void OnThreads(int count, F body) {
  std::vector<HANDLE> threads;
  std::vector<std::unique_ptr<F>> bodies;
  for (int i = 0; i < count; ++i) {
    bodies.push_back(std::make_unique<F>(body));
    threads.push_back(CreateThread(
        nullptr, 0,
        [](LPVOID f) -> DWORD {
          (*static_cast<F*>(f))();
          return 0;
        },
        bodies.back().get(), 0, nullptr));
  }
  for (HANDLE t : threads) {
    ASSERT_TRUE(quibtest::WaitHandle(t, 120000, "a thread of the test to end"));
    CloseHandle(t);
  }
}

TEST(DetachedThread, EveryBodyRunsWhileThreadsComeAndGo) {
  CBusyProcessors busy(2);
  std::atomic<int> lost{0};
  OnThreads(4, [&lost] {
    for (int i = 0; i < 300; ++i) {
      HANDLE ran = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      ASSERT_NO_THROW(StartDetachedThread([ran] { SetEvent(ran); }));
      if (quibtest::WaitHandle(ran, 5000, "a detached thread to run its body")) {
        CloseHandle(ran);
      } else {
        ++lost;  // the handle stays open: the body may still come
      }
    }
  });
  EXPECT_EQ(lost.load(), 0);
}

// The transport's calls that wait for the server each run on a detached
// thread: two per block of a long answer, from three requests at once.
class CAnswerReader : public IHttpListener {
 public:
  void OnHttpEvent(const HttpEvent& e) override {
    if (e.type != HttpEventDone && e.type != HttpEventError && e.type != HttpEventCancelled) return;
    std::lock_guard<std::mutex> guard(lock_);
    final_ = e.type;
    text_ = e.text;
    done_ = true;
    changed_.notify_all();
  }
  bool WaitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> guard(lock_);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return quibtest::WaitOn(
        changed_, guard, left, [&] { return done_; }, "a long answer to be read");
  }
  int final_ = -2;
  std::string text_;

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool done_ = false;
};

TEST(DetachedThread, LongAnswersReadWhileTheMachineIsBusy) {
  std::string answer;
  for (int i = 0; answer.size() < 400 * 1024; ++i) answer += "line " + std::to_string(i) + "\r\n";
  CBusyProcessors busy(2);
  CLoopbackServer servers[3];
  CAnswerReader readers[3];
  std::unique_ptr<CHttpUpload> uploads[3];
  for (int i = 0; i < 3; ++i) {
    servers[i].SetAnswer(CLoopbackServer::Answer(200, answer));
    uploads[i] = std::make_unique<CHttpUpload>();
    uploads[i]->AddListener(&readers[i]);
    uploads[i]->AddField("Username", "anna");
    uploads[i]->Start(servers[i].BaseUrl() + "/dirlist.php", "DirList");
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const bool ended = readers[i].WaitUntil(deadline);
    EXPECT_TRUE(ended);
    // A request that never ends cannot be waited for: stop it first.
    if (!ended) uploads[i]->Cancel();
    EXPECT_EQ(readers[i].final_, HttpEventDone);
    EXPECT_TRUE(readers[i].text_ == answer) << readers[i].text_.size() << " bytes";
  }
}

}  // namespace
