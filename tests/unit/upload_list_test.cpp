// The upload list's model with its thumbnails made on workers and its
// reports carried to the window thread by a queue the test runs by hand.
#include "core/media/upload_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/ports/platform.h"
#include "tests/unit/core_fakes.h"

using namespace quib_test;

namespace {

// What the list's window hears.
class CRecordingView : public IUploadListView {
 public:
  void OnItemAdded(int index) override { log.push_back("added " + std::to_string(index)); }
  void OnItemRemoved(int index, uint64_t) override {
    log.push_back("removed " + std::to_string(index));
  }
  void OnItemsRemoved(const std::vector<uint64_t>& ids) override {
    log.push_back("removed " + std::to_string(ids.size()) + " at once");
  }
  void OnItemChanged(int index) override { log.push_back("changed " + std::to_string(index)); }
  void OnReport(const std::string& text) override { reports.push_back(text); }
  std::vector<std::string> log;
  std::vector<std::string> reports;
};

class UploadListTest : public testing::Test {
 protected:
  UploadListTest() : pictures_(folder_.Path()) {
    quib::CPlatform platform;
    platform.makeWindowQueue = queues_.Factory();
    platform.pictures = &pictures_;
    platform.mediaTypes = &types_;
    quib::InstallPlatform(platform);
    list_.SetView(&view_);
    list_.MakeThumbnailsInBackground(true);
  }
  ~UploadListTest() override {
    list_.RemoveAll();
    list_.StopThumbnails();
    quib::ResetPlatform();
  }
  // The thumbnails are made, then the window's turns come.
  void Settle() {
    ASSERT_TRUE(list_.FinishThumbnails(10000)) << list_.PendingThumbnails() << " pending";
    queues_.RunAll();
  }

  CTempFolder folder_{"list"};
  CManualQueues queues_;
  CFakePictures pictures_;
  CTypesByName types_;
  CRecordingView view_;
  CUploadList list_;
};

TEST_F(UploadListTest, UnreadablePicturesAreToldOncePerBatchAndWaitWhileHeld) {
  const std::string broken1 = folder_.File("broken1.jpg"), broken2 = folder_.File("broken2.png");
  EXPECT_FALSE(list_.AddFile(folder_.File("notes.txt")));
  EXPECT_FALSE(list_.AddFile(folder_.Path() + "/missing.jpg"));
  ASSERT_TRUE(list_.AddFile(broken1));
  ASSERT_TRUE(list_.AddFile(folder_.File("good.jpg")));
  ASSERT_TRUE(list_.AddFile(broken2));
  EXPECT_EQ(list_.PendingThumbnails(), 3u);
  Settle();
  ASSERT_EQ(view_.reports.size(), 1u);
  EXPECT_NE(view_.reports[0].find("2 file(s)"), std::string::npos) << view_.reports[0];
  EXPECT_NE(view_.reports[0].find(broken1), std::string::npos) << view_.reports[0];
  EXPECT_NE(view_.reports[0].find(broken2), std::string::npos) << view_.reports[0];
  // The entries stay and are still uploaded.
  ASSERT_EQ(list_.Count(), 3);
  EXPECT_EQ(list_.GetItems()[0]->GetWidth(), 0);
  EXPECT_EQ(list_.GetItems()[1]->GetWidth(), 640);

  // A second batch of good pictures only: no message for it.
  ASSERT_TRUE(list_.AddFile(folder_.File("good2.jpg")));
  Settle();
  EXPECT_EQ(view_.reports.size(), 1u);

  // While a run is open the report waits for its end.
  list_.HoldReports(true);
  ASSERT_TRUE(list_.AddFile(folder_.File("broken3.jpg")));
  Settle();
  EXPECT_EQ(view_.reports.size(), 1u);
  list_.HoldReports(false);
  EXPECT_EQ(view_.reports.size(), 1u) << "shown from the loop, not inside the caller";
  queues_.RunAll();
  ASSERT_EQ(view_.reports.size(), 2u);
  EXPECT_NE(view_.reports[1].find("broken3.jpg"), std::string::npos);
}

TEST_F(UploadListTest, PendingEntriesThatLeaveOrTurnAreNeverReportedAndCopiesGoWithThem) {
  ASSERT_TRUE(list_.AddFile(folder_.File("a.jpg")));
  ASSERT_TRUE(list_.AddFile(folder_.File("broken.jpg")));
  ASSERT_TRUE(list_.AddFile(folder_.File("stuck.jpg")));
  ASSERT_TRUE(list_.AddFile(folder_.File("clip.mpg")));
  // The unreadable one leaves before its thumbnail lands: nothing to tell.
  ASSERT_TRUE(list_.RemoveAt(1));
  EXPECT_FALSE(list_.RemoveAt(3));
  // Turning: the movie is left alone, the stuck picture stays as it was.
  EXPECT_EQ(list_.Rotate({0, 1, 2}), 1);
  Settle();
  EXPECT_TRUE(view_.reports.empty());
  ASSERT_EQ(list_.Count(), 3);
  const CMediaItem& turned = *list_.GetItems()[0];
  EXPECT_NE(turned.GetPath(), turned.GetSourcePath());
  EXPECT_EQ(turned.GetWidth(), 480);
  // The turned picture's thumbnail is not replaced by the stale one.
  EXPECT_EQ(turned.GetThumbnailData().bytes, "turned " + turned.GetSourcePath());
  EXPECT_EQ(list_.GetItems()[1]->GetPath(), list_.GetItems()[1]->GetSourcePath());
  EXPECT_EQ(folder_.Copies(), 1);
  EXPECT_EQ(list_.IndexOf(&turned), 0);

  list_.RemoveIndices({2, 0});
  EXPECT_EQ(list_.Count(), 1);
  EXPECT_EQ(folder_.Copies(), 0) << "the turned copy left with its item";
  EXPECT_EQ(view_.log.back(), "removed 2 at once");
}

// The window moves to monitors of other scales: every picture gets its
// thumbnail made again for the window's DPI (a turned one keeps its frame),
// also one whose first thumbnail was still on its way, and nothing is made
// twice for the same DPI.
TEST_F(UploadListTest, ThumbnailsAreMadeAgainForTheWindowsDpi) {
  ASSERT_TRUE(list_.AddFile(folder_.File("a.jpg")));
  ASSERT_TRUE(list_.AddFile(folder_.File("clip.mpg")));
  ASSERT_TRUE(list_.AddFile(folder_.File("broken.jpg")));
  ASSERT_TRUE(list_.AddFile(folder_.File("b.png")));
  Settle();
  ASSERT_EQ(list_.Rotate({3}), 0);
  const auto dpiOf = [this](int i) { return list_.GetItems()[i]->GetThumbnailData().dpi; };
  EXPECT_EQ(dpiOf(0), 96);
  EXPECT_EQ(dpiOf(3), 96);
  const int madeBefore = pictures_.made;
  view_.log.clear();

  list_.SetThumbnailDpi(192);
  // Until it lands the old one stays (the window shows it scaled).
  EXPECT_EQ(list_.GetItems()[0]->GetThumbnailData().bytes,
            "thumbnail of " + list_.GetItems()[0]->GetPath());
  ASSERT_TRUE(list_.AddFile(folder_.File("c.jpg")));  // made for 192 at once
  list_.SetThumbnailDpi(144);                         // before c's first thumbnail has landed
  Settle();
  for (int i : {0, 2, 3, 4}) EXPECT_EQ(dpiOf(i), 144) << "item " << i;
  EXPECT_TRUE(list_.GetItems()[3]->GetThumbnailData().framed) << "the turned one keeps its frame";
  EXPECT_EQ(list_.GetItems()[3]->GetThumbnailData().bytes,
            "thumbnail of " + list_.GetItems()[3]->GetPath())
      << "made from the turned copy";
  EXPECT_FALSE(list_.GetItems()[0]->GetThumbnailData().framed);
  EXPECT_EQ(list_.GetItems()[0]->GetWidth(), 640);
  // The movie shows the program's own picture at any scale.
  EXPECT_EQ(list_.GetItems()[1]->GetThumbnailData().bytes, "");
  for (const char* changed : {"changed 0", "changed 2", "changed 3", "changed 4"}) {
    EXPECT_NE(std::find(view_.log.begin(), view_.log.end(), changed), view_.log.end()) << changed;
  }
  EXPECT_EQ(std::count(view_.log.begin(), view_.log.end(), "changed 1"), 0);
  EXPECT_TRUE(view_.reports.size() == 1 && view_.reports[0].find("c.jpg") == std::string::npos)
      << "the unreadable one was told once, when added";

  // The same DPI again makes nothing; a new one makes each picture once.
  const int made = pictures_.made;
  EXPECT_GE(made - madeBefore, 4);
  list_.SetThumbnailDpi(144);
  Settle();
  EXPECT_EQ(pictures_.made, made);
  list_.SetThumbnailDpi(96);
  Settle();
  EXPECT_EQ(pictures_.made, made + 4);
  for (int i : {0, 2, 3, 4}) EXPECT_EQ(dpiOf(i), 96) << "item " << i;

  // Without workers they are made at once.
  CUploadList plain;
  ASSERT_TRUE(plain.AddFile(folder_.File("d.jpg")));
  plain.SetThumbnailDpi(120);
  EXPECT_EQ(plain.GetItems()[0]->GetThumbnailData().dpi, 120);
  ASSERT_TRUE(plain.AddFile(folder_.File("e.jpg")));
  EXPECT_EQ(plain.GetItems()[1]->GetThumbnailData().dpi, 120);
}

}  // namespace
