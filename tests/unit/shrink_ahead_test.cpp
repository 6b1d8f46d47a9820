// Pictures shrunk ahead while the current file is sent: a whole run over a
// scripted HTTP port with pictures whose copies are made by the test, and
// the pool alone for a copy that is finished after its run has ended.
#include "core/run/shrink_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/media/upload_list.h"
#include "core/ports/platform.h"
#include "core/run/transfer_run.h"
#include "core/settings/memory_profile.h"
#include "core/settings/profile.h"
#include "tests/unit/core_fakes.h"
#include "tests/unit/fake_http_port.h"

using namespace quib_test;

namespace {

const char kDelimiter[] = "-----------------------------e2W7eajhJd09flh\r\n";
const char kClosing[] = "-----------------------------e2W7eajhJd09flh--\r\n";

// One log for the window's prompts and the workers' copies, in the order
// they happened.
class CEvents {
 public:
  void Add(const std::string& what) {
    std::lock_guard<std::mutex> lock(lock_);
    log_.push_back(what);
  }
  std::vector<std::string> Get() const {
    std::lock_guard<std::mutex> lock(lock_);
    return log_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> log_;
};

// Camera pictures of 4000 x 3000. A copy holds the file and box it was made
// from. Names with "stuck" cannot be shrunk; the copy of a name with "held"
// is made only once the test lets it.
class CCameraPictures : public quib::IPictureWork {
 public:
  CCameraPictures(std::string folder, CEvents& events)
      : folder_(std::move(folder)), events_(events) {}
  void MakeThumbnail(const quib::ThumbnailJob&, quib::ThumbnailResult& result) override {
    result.readable = true;
    result.width = 4000;
    result.height = 3000;
  }
  bool MeasurePicture(const std::string&, int& width, int& height) override {
    width = 4000;
    height = 3000;
    return true;
  }
  bool Rotate(const std::string&, int, quib::PictureCopy&) override { return false; }
  bool Shrink(const std::string& path, int box, quib::PictureCopy& copy) override {
    const std::string name = path.substr(path.rfind('/') + 1);
    events_.Add("shrink " + name);
    std::unique_lock<std::mutex> lock(lock_);
    ++running_;
    if (name.find("held") != std::string::npos) {
      ++held_;
      changed_.notify_all();
      changed_.wait_for(lock, std::chrono::seconds(30), [&] { return released_; });
    }
    const bool made = name.find("stuck") == std::string::npos;
    if (made) {
      copy.path = folder_ + "/NEW" + std::to_string(++copies_) + ".tmp";
      std::ofstream(copy.path) << "copy of " << name << " in " << box;
      copy.width = box;
      copy.height = box * 3 / 4;
    }
    --running_;
    changed_.notify_all();
    return made;
  }
  // Waits (bounded) until n copies of "held" pictures are being made.
  bool WaitHeld(int n) {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return held_ >= n; });
  }
  // Lets the held copies be made and waits (bounded) until no copy is
  // being made.
  bool Release() {
    std::unique_lock<std::mutex> lock(lock_);
    released_ = true;
    changed_.notify_all();
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return running_ == 0; });
  }

 private:
  std::string folder_;
  CEvents& events_;
  std::mutex lock_;
  std::condition_variable changed_;
  int copies_ = 0;
  int running_ = 0;
  int held_ = 0;
  bool released_ = false;
};

// The window's side: the resize prompt stores "medium".
class CPrompts : public IRunPrompts {
 public:
  CPrompts(CEvents& events, IProfile& profile) : events_(events), profile_(profile) {}
  int AskLogin(std::string&, std::string&) override { return 2; }
  std::unique_ptr<IAlbumPrompt> CreateAlbumPrompt() override { return nullptr; }
  int AskAlbumName(std::string&) override { return 2; }
  int AskResize() override {
    events_.Add("resize prompt");
    profile_.WriteInt(ProfileSectionSettings, ProfileResizeImage, ResizeMedium);
    return 1;
  }
  void ShowMessage(const std::string& text, unsigned) override { events_.Add(text); }
  bool IsClosing() override { return false; }
  void StatusChanged() override {}
  void PostOk() override { events_.Add("OK"); }
  void PostCancel() override { events_.Add("Cancel"); }

 private:
  CEvents& events_;
  IProfile& profile_;
};

class ShrinkAheadTest : public testing::Test {
 protected:
  ShrinkAheadTest() : http_(std::make_shared<CFakeHttpState>()) {
    quib::CPlatform platform;
    platform.makeWindowQueue = queues_.Factory();
    platform.mediaTypes = &types_;
    platform.pictures = &pictures_;
    quib::InstallPlatform(platform);
    profile_.WriteString(ProfileSectionSettings, ProfileUsername, "anna");
    profile_.WriteString(ProfileSectionSettings, ProfilePassword, "secret");
    profile_.WriteInt(ProfileSectionSettings, ProfileAskFolder, 0);
    http_->script.response =
        "0\r\nSId=k\r\nDirListURL=http://h/d.php\r\nCreateDirURL=http://h/c.php\r\n"
        "UploadURL=http://h/u.php\r\n";
  }
  ~ShrinkAheadTest() override { quib::ResetPlatform(); }

  // Files are sent from the last to the first.
  void Add(const std::vector<std::string>& names) {
    for (const std::string& name : names) ASSERT_TRUE(list_.AddFile(folder_.File(name)));
  }
  // Runs the window's turns until the run has posted its end or nothing
  // comes any more.
  void RunToEnd(CTransferRun& run) {
    for (int turn = 0; turn < 100 && !Ended(); ++turn) {
      if (!queues_.WaitFor(1)) break;
      queues_.RunOne();
    }
    run.Finish();
  }
  bool Ended() const {
    for (const std::string& e : events_.Get()) {
      if (e == "OK" || e == "Cancel") return true;
    }
    return false;
  }
  std::vector<std::string> Shrinks() const {
    std::vector<std::string> shrinks;
    for (const std::string& e : events_.Get()) {
      if (e.rfind("shrink ", 0) == 0) shrinks.push_back(e.substr(7));
    }
    return shrinks;
  }
  // Each upload the service got: its "Filename" field (an item's name is its
  // whole path here, which has no backslash) and its file's bytes.
  std::vector<std::pair<std::string, std::string>> Uploads() {
    std::vector<std::pair<std::string, std::string>> uploads;
    std::lock_guard<std::mutex> lock(http_->lock);
    const std::string& body = http_->record.body;
    for (size_t at = 0, end; (end = body.find(kClosing, at)) != std::string::npos;
         at = end + sizeof kClosing - 1) {
      std::string name, bytes;
      const std::string request = body.substr(at, end - at);
      for (size_t p = request.find(kDelimiter); p != std::string::npos;) {
        const size_t next = request.find(kDelimiter, p + 1);
        const std::string part = request.substr(p, next == std::string::npos ? next : next - p);
        const size_t value = part.find("\r\n\r\n") + 4;
        const std::string content = part.substr(value, part.size() - value - 2);
        if (part.find("name=\"Filename\"") != std::string::npos)
          name = content.substr(content.rfind('/') + 1);
        if (part.find("filename=") != std::string::npos) bytes = content;
        p = next;
      }
      if (!name.empty()) uploads.emplace_back(name, bytes);
    }
    return uploads;
  }
  std::unique_ptr<CHttpUpload> Transport() {
    return std::make_unique<CHttpUpload>(std::make_unique<CFakeHttpPort>(http_));
  }

  CTempFolder folder_{"ahead"};
  CEvents events_;
  CCameraPictures pictures_{folder_.Path(), events_};
  CManualQueues queues_;
  CTypesByName types_;
  CMemoryProfile profile_;
  std::shared_ptr<CFakeHttpState> http_;
  CUploadList list_;
  CPrompts prompts_{events_, profile_};
};

const char kNotShrunk[] =
    "\" could not be shrunk (not enough memory or disk space). It is uploaded in its original "
    "size, as is any other picture of this upload that cannot be shrunk.";

// The prompt decides before anything is shrunk; then each picture's copy is
// made once, ahead, and what reaches the service is what a run that shrinks
// each picture just before sending it sends: the same files in the same
// order, the copies' bytes, a picture that cannot be shrunk in its own bytes
// after one message, and no copy left at the end. (Two workers may start
// their copies in either order; the order they are asked for is the upload
// run's test.)
TEST_F(ShrinkAheadTest, CopiesAreMadeAfterThePromptInSendingOrderAndSentAsBefore) {
  profile_.WriteInt(ProfileSectionSettings, ProfileResizeImage, ResizeNone);
  profile_.WriteInt(ProfileSectionSettings, ProfileAskResize, 1);
  Add({"a.jpg", "b.jpg", "stuck.jpg", "d.jpg", "clip.mpg", "e.jpg"});
  CTransferRun run(prompts_, profile_);
  run.TakeItems(list_);
  ASSERT_EQ(run.Start(Transport()), 0);
  RunToEnd(run);

  const std::vector<std::string> events = events_.Get();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), "resize prompt") << "a picture was shrunk before the prompt";
  std::vector<std::string> shrinks = Shrinks();
  std::sort(shrinks.begin(), shrinks.end());
  EXPECT_EQ(shrinks, (std::vector<std::string>{"a.jpg", "b.jpg", "d.jpg", "e.jpg", "stuck.jpg"}));
  EXPECT_EQ(Uploads(), (std::vector<std::pair<std::string, std::string>>{
                           {"e.jpg", "copy of e.jpg in 1024"},
                           {"clip.mpg", "bytes"},
                           {"d.jpg", "copy of d.jpg in 1024"},
                           {"stuck.jpg", "bytes"},
                           {"b.jpg", "copy of b.jpg in 1024"},
                           {"a.jpg", "copy of a.jpg in 1024"},
                       }));
  std::vector<std::string> messages;
  for (const std::string& e : events) {
    if (e.find("could not be shrunk") != std::string::npos ||
        e.find("uploaded.") != std::string::npos)
      messages.push_back(e);
  }
  EXPECT_EQ(messages, (std::vector<std::string>{"\"" + folder_.Path() + "/stuck.jpg" + kNotShrunk,
                                                "6 file(s) successfully uploaded."}));
  EXPECT_EQ(list_.Count(), 0);
  EXPECT_EQ(folder_.Copies(), 0) << "a copy was left behind";
}

// Cancelled while the file before them is in flight and the next pictures
// are being shrunk: nothing more goes to the service, and none of the copies
// made ahead is left (those finished after the end: the pool's test below).
TEST_F(ShrinkAheadTest, ACancelWhileCopiesAreBeingMadeLeavesNoneAndSendsNothingMore) {
  profile_.WriteInt(ProfileSectionSettings, ProfileResizeImage, ResizeMedium);
  Add({"held1.jpg", "held2.jpg", "held3.jpg", "first.jpg"});
  CTransferRun run(prompts_, profile_);
  run.TakeItems(list_);
  ASSERT_EQ(run.Start(Transport()), 0);
  ASSERT_TRUE(queues_.WaitFor(1)) << "the login did not end";
  {
    std::lock_guard<std::mutex> lock(http_->lock);
    http_->script.stallEnd = true;  // the first upload waits for its answer
  }
  ASSERT_TRUE(queues_.RunOne());
  ASSERT_TRUE(http_->WaitStalled()) << "the first upload did not start";
  ASSERT_TRUE(pictures_.WaitHeld(1)) << "nothing was shrunk ahead";
  EXPECT_TRUE(run.Cancel());
  ASSERT_TRUE(queues_.WaitFor(1)) << "the cancel was not reported";
  ASSERT_TRUE(queues_.RunOne());
  // The copies being made are finished before the run ends; nobody takes them.
  ASSERT_TRUE(pictures_.Release()) << "a copy is still being made";
  run.Finish();
  queues_.RunAll();

  const std::vector<std::string> events = events_.Get();
  EXPECT_EQ(std::count(events.begin(), events.end(), "Cancel"), 1);
  EXPECT_EQ(std::count(events.begin(), events.end(), "OK"), 0);
  EXPECT_EQ(Uploads(), (std::vector<std::pair<std::string, std::string>>{
                           {"first.jpg", "copy of first.jpg in 1024"}}));
  EXPECT_TRUE(http_->WaitFor([&] { return http_->record.requestsOpened == 2; }, 0))
      << "a request followed the cancel";
  // Only the copy of the file that was in flight is left: its item keeps it
  // until the item goes, as after any cancelled run.
  EXPECT_EQ(list_.Count(), 4);
  EXPECT_EQ(folder_.Copies(), 1);
  list_.RemoveAll();
  EXPECT_EQ(folder_.Copies(), 0);
}

// A copy still being made when its run ends is deleted by its worker once
// it is done; the pool takes nothing more.
TEST_F(ShrinkAheadTest, ACopyFinishedAfterTheEndIsDeletedByItsWorker) {
  quib::CShrinkAhead pool(
      1, 2,
      [&](const std::string& path, int box, quib::PictureCopy& copy) {
        return pictures_.Shrink(path, box, copy);
      },
      [](const std::string& path) { std::remove(path.c_str()); });
  ASSERT_TRUE(pool.Push({0, 1, folder_.File("held.jpg"), 640}));
  ASSERT_TRUE(pool.Push({1, 2, folder_.File("b.jpg"), 640}));
  EXPECT_FALSE(pool.Push({2, 3, folder_.File("c.jpg"), 640})) << "more than two ahead";
  ASSERT_TRUE(pictures_.WaitHeld(1));
  EXPECT_FALSE(pool.Stop(0)) << "the held copy is still being made";
  EXPECT_FALSE(pool.Push({3, 4, folder_.File("d.jpg"), 640}));
  ASSERT_TRUE(pictures_.Release());
  EXPECT_TRUE(pool.Stop(10000)) << "the worker did not end";
  EXPECT_EQ(folder_.Copies(), 0);
  EXPECT_EQ(Shrinks(), (std::vector<std::string>{"held.jpg"}));
}

}  // namespace
