// An upload run over a scripted HTTP port: its steps happen only on the
// window thread's turns, in the order the requests ended, and a cancelled
// request the platform cannot abort is left behind after the grace period.
#include "core/run/transfer_run.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/media/upload_list.h"
#include "core/ports/platform.h"
#include "core/settings/memory_profile.h"
#include "core/settings/profile.h"
#include "tests/unit/core_fakes.h"
#include "tests/unit/fake_http_port.h"

using namespace quib_test;

namespace {

// The window's side of the run: what it was asked to show and do.
class CWindowPrompts : public IRunPrompts {
 public:
  int AskLogin(std::string&, std::string&) override { return Log("login", 2); }
  std::unique_ptr<IAlbumPrompt> CreateAlbumPrompt() override { return nullptr; }
  int AskAlbumName(std::string&) override { return Log("name", 2); }
  int AskResize() override { return Log("resize", 2); }
  void ShowMessage(const std::string& text, unsigned) override { log.push_back(text); }
  bool IsClosing() override { return false; }
  void StatusChanged() override {}
  void PostOk() override { log.push_back("OK"); }
  void PostCancel() override { log.push_back("Cancel"); }
  int Log(const std::string& what, int result) {
    log.push_back(what);
    return result;
  }
  std::vector<std::string> log;
};

class TransferRunTest : public testing::Test {
 protected:
  TransferRunTest() : http_(std::make_shared<CFakeHttpState>()) {
    quib::CPlatform platform;
    platform.makeWindowQueue = queues_.Factory();
    platform.mediaTypes = &types_;
    quib::InstallPlatform(platform);
    profile_.WriteString(ProfileSectionSettings, ProfileUsername, "anna");
    profile_.WriteString(ProfileSectionSettings, ProfilePassword, "secret");
    profile_.WriteInt(ProfileSectionSettings, ProfileAskFolder, 0);  // the public inbox
    // One answer for every command: a login's lines, and "0" for an upload.
    http_->script.response =
        "0\r\nSId=k\r\nDirListURL=http://h/d.php\r\nCreateDirURL=http://h/c.php\r\n"
        "UploadURL=http://h/u.php\r\n";
    list_.AddFile(folder_.File("first.mpg"));
    list_.AddFile(folder_.File("second.mpg"));
  }
  ~TransferRunTest() override { quib::ResetPlatform(); }
  std::unique_ptr<CHttpUpload> Transport() {
    return std::make_unique<CHttpUpload>(std::make_unique<CFakeHttpPort>(http_));
  }

  CTempFolder folder_{"run"};
  CManualQueues queues_;
  CTypesByName types_;
  CMemoryProfile profile_;
  std::shared_ptr<CFakeHttpState> http_;
  CUploadList list_;
  CWindowPrompts prompts_;
};

TEST_F(TransferRunTest, EachStepWaitsForTheWindowsTurnAndTheFilesLeaveInOrder) {
  CTransferRun run(prompts_, profile_);
  run.TakeItems(list_);
  ASSERT_EQ(run.Start(Transport()), 0);
  // The login's answer waits for the window; nothing more is sent meanwhile.
  ASSERT_TRUE(queues_.WaitFor(1)) << "the login did not end";
  EXPECT_FALSE(run.IsRequestInFlight());
  EXPECT_TRUE(http_->WaitFor([&] { return http_->record.requestsOpened == 1; }, 0));
  // Each turn takes one step: the login's answer sends the last file...
  ASSERT_TRUE(queues_.RunOne());
  ASSERT_TRUE(queues_.WaitFor(1)) << "the first upload did not end";
  EXPECT_EQ(list_.Count(), 2) << "a file left before the window's turn";
  // ...its answer takes it off the list and sends the one before it...
  ASSERT_TRUE(queues_.RunOne());
  ASSERT_EQ(list_.Count(), 1);
  EXPECT_NE(list_.GetItems()[0]->GetSourcePath().find("first.mpg"), std::string::npos);
  ASSERT_TRUE(queues_.WaitFor(1)) << "the second upload did not end";
  // ...and the last answer ends the run.
  ASSERT_TRUE(queues_.RunOne());
  EXPECT_EQ(list_.Count(), 0);
  EXPECT_EQ(prompts_.log, (std::vector<std::string>{"2 file(s) successfully uploaded.", "OK"}));
  EXPECT_TRUE(run.IsFinished());
  run.Finish();
  EXPECT_TRUE(run.ItemsLeft().empty());
}

TEST_F(TransferRunTest, ARequestThePlatformCannotAbortIsLeftAfterTheGracePeriod) {
  {
    CTransferRun run(prompts_, profile_);
    run.TakeItems(list_);
    ASSERT_EQ(run.Start(Transport()), 0);
    ASSERT_TRUE(queues_.WaitFor(1));
    {
      std::lock_guard<std::mutex> lock(http_->lock);
      // The server stops reading the next body.
      http_->script.stallWriteAt = static_cast<int>(http_->record.writeSizes.size());
    }
    ASSERT_TRUE(queues_.RunOne());  // the login's answer: the upload starts
    ASSERT_TRUE(http_->WaitFor([&] { return http_->record.stalled; }, 10000));
    EXPECT_TRUE(run.IsRequestInFlight());
    EXPECT_TRUE(run.Cancel());
    run.Finish();
    EXPECT_FALSE(run.IsRequestInFlight());
    EXPECT_FALSE(run.IsFinished());
    // Nothing was taken off the list, and nothing more comes to the window.
    EXPECT_EQ(run.ItemsLeft().size(), 2u);
    EXPECT_EQ(queues_.Waiting(), 0u);
  }
  // The stalled write ends on its own thread and tells nobody.
  {
    std::lock_guard<std::mutex> lock(http_->lock);
    http_->script.releaseWrite = true;
    http_->changed.notify_all();
  }
  EXPECT_TRUE(http_->WaitFor([&] { return http_->record.requestsAlive == 0; }, 10000));
  queues_.RunAll();
  EXPECT_EQ(list_.Count(), 2);
  EXPECT_TRUE(prompts_.log.empty());
}

}  // namespace
