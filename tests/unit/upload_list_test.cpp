// The upload list's model with its thumbnails made on workers and its
// reports carried to the window thread by a queue the test runs by hand.
#include "core/media/upload_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "core/ports/platform.h"
#include "core/text/command_line.h"
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
  bool ConfirmFolder(const std::string& name, int count) override {
    asked.emplace_back(name, count);
    return answer;
  }
  std::vector<std::string> log;
  std::vector<std::string> reports;
  std::vector<std::pair<std::string, int>> asked;
  bool answer = true;
};

class UploadListTest : public testing::Test {
 protected:
  UploadListTest() : pictures_(folder_.Path()) {
    InstallFakes();
    list_.SetView(&view_);
    list_.MakeThumbnailsInBackground(true);
  }
  void InstallFakes() {
    quib::ResetPlatform();
    quib::CPlatform platform;
    platform.makeWindowQueue = queues_.Factory();
    platform.pictures = &pictures_;
    platform.mediaTypes = &types_;
    quib::InstallPlatform(platform);
  }
  ~UploadListTest() override {
    list_.StopFolders();
    list_.RemoveAll();
    list_.StopThumbnails();
    quib::ResetPlatform();
  }
  // The thumbnails are made, then the window's turns come.
  void Settle() {
    ASSERT_TRUE(list_.FinishThumbnails(10000)) << list_.PendingThumbnails() << " pending";
    queues_.RunAll();
  }

  // A file below the test's folder, its folders made as needed.
  std::string Put(const std::string& relative, const std::string& bytes = "bytes") {
    const std::filesystem::path path = std::filesystem::path(folder_.Path()) / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << bytes;
    return path.string();
  }
  std::string Sub(const std::string& relative) const { return folder_.Path() + "/" + relative; }
  // Runs the window's turns until every hand-over is added and every
  // thumbnail is on its item.
  void AddAll() {
    int waited = 0;
    while (list_.PendingHandOvers() > 0 || list_.PendingThumbnails() > 0 || queues_.Waiting() > 0) {
      if (queues_.RunOne()) continue;
      ASSERT_LT(waited, 10000) << list_.PendingHandOvers() << " hand-overs pending";
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      waited += 5;
    }
  }
  // The items' file names (a name is taken after a backslash only, so here
  // after the last slash).
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& item : list_.GetItems()) names.push_back(Name(*item));
    return names;
  }
  static std::string Name(const CMediaItem& item) {
    const std::string& path = item.GetSourcePath();
    return path.substr(path.rfind('/') + 1);
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

TEST_F(UploadListTest, FoldersAddTheirMediaInNaturalOrderInTheirPlaceOfTheHandOver) {
  const std::string first = Put("first.jpg"), last = Put("last.mpg"), second = Put("second.png");
  for (const char* name :
       {"card/IMG_10.jpg", "card/IMG_2.jpg", "card/IMG_2.jpg.xmp", "card/.IMG_1.jpg",
        "card/Thumbs.db", "card/notes.txt", "card/Day 10/a.png", "card/Day 2/b.jpg",
        "card/Day 2/in/c.mpg", "outside/far.jpg"}) {
    Put(name);
  }
  std::filesystem::create_directory_symlink(Sub("outside"), Sub("card/link"));

  list_.AddPaths({first, Sub("card"), last});
  list_.AddPaths({second});
  // The file before the folder is there at once; the folder is being walked
  // and what comes after it waits, the next hand-over too.
  EXPECT_EQ(Names(), std::vector<std::string>{"first.jpg"});
  EXPECT_EQ(list_.PendingHandOvers(), 2u);
  AddAll();
  EXPECT_EQ(Names(), (std::vector<std::string>{"first.jpg", "IMG_2.jpg", "IMG_10.jpg", "b.jpg",
                                               "c.mpg", "a.png", "last.mpg", "second.png"}));
  EXPECT_EQ(list_.GetItems()[3]->GetSourcePath(), Sub("card") + "/Day 2/b.jpg");
  // Sidecars, documents and hidden files go without a word.
  EXPECT_TRUE(view_.reports.empty());
  EXPECT_TRUE(view_.asked.empty());
  EXPECT_EQ(list_.GetItems()[1]->GetThumbnailData().bytes, "thumbnail of " + Sub("card/IMG_2.jpg"));
}

TEST_F(UploadListTest, AFolderOfMoreThanAThousandAsksOnceAndAddsAShareEachTurn) {
  // big: one movie and the folder "fits" with 1,000 more.
  for (int i = 1; i <= 1000; ++i) Put("big/fits/clip " + std::to_string(i) + ".mpg");
  Put("big/extra.mpg");
  list_.AddPaths({Sub("big/fits")});
  AddAll();
  EXPECT_TRUE(view_.asked.empty()) << "1,000 are added without asking";
  ASSERT_EQ(list_.Count(), 1000);
  list_.RemoveAll();

  view_.answer = false;
  list_.AddPaths({Sub("big")});
  AddAll();
  EXPECT_EQ(view_.asked, (std::vector<std::pair<std::string, int>>{{"big", 1001}}));
  EXPECT_EQ(list_.Count(), 0) << "No adds nothing";

  view_.answer = true;
  list_.AddPaths({Sub("big"), Put("after.jpg")});
  // One turn of the loop at a time: never more than a share of files.
  for (int before = 0, waited = 0; list_.PendingHandOvers() > 0 && waited < 10000;) {
    if (queues_.RunOne()) {
      ASSERT_LE(list_.Count() - before, 40);
      before = list_.Count();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      waited += 5;
    }
  }
  AddAll();
  EXPECT_EQ(view_.asked.size(), 2u);
  ASSERT_EQ(list_.Count(), 1002);
  EXPECT_EQ(Name(*list_.GetItems()[0]), "extra.mpg");
  EXPECT_EQ(Name(*list_.GetItems()[10]), "clip 10.mpg");
  EXPECT_EQ(Name(*list_.GetItems()[1001]), "after.jpg");

  // While an upload run is open the question waits for its end.
  list_.RemoveAll();
  list_.HoldReports(true);
  list_.AddPaths({Sub("big")});
  ASSERT_TRUE(queues_.WaitFor(1));
  EXPECT_EQ(queues_.Waiting(), 1u) << "only the walk's end";
  queues_.RunAll();
  EXPECT_EQ(view_.asked.size(), 2u);
  list_.HoldReports(false);
  AddAll();
  EXPECT_EQ(view_.asked.size(), 3u);
  EXPECT_EQ(list_.Count(), 1001);
}

TEST_F(UploadListTest, RefusedFilesAreNamedOncePerHandOverWithItsUnreadablePictures) {
  std::vector<std::string> paths = {Put("notes.txt"), Put("good.jpg"), Put("broken1.jpg"),
                                    Sub("missing.jpg"), Sub("card")};
  Put("card/broken2.jpg");
  Put("card/IMG_1.jpg.xmp");
  for (int i = 10; i <= 22; ++i) paths.push_back(Put("doc" + std::to_string(i) + ".txt"));
  list_.AddPaths(paths);
  EXPECT_TRUE(view_.reports.empty()) << "told from the loop, not inside the caller";
  AddAll();
  ASSERT_EQ(view_.reports.size(), 1u);
  // The refused files in the order handed over, then the unreadable
  // pictures in the order their thumbnails failed.
  std::string refused = "15 file(s) were not added: they are not pictures, movies or audio files:" +
                        std::string("\n\n") + paths[0] + "\n" + paths[3];
  for (size_t i = 5; i < 15; ++i) refused += "\n" + paths[i];
  refused +=
      "\n... and 3 more\n\n2 file(s) could not be read as pictures and show no thumbnail:\n\n";
  const std::string& text = view_.reports[0];
  ASSERT_EQ(text.substr(0, refused.size()), refused);
  const std::string unreadable = text.substr(refused.size()), broken2 = Sub("card/broken2.jpg");
  EXPECT_TRUE(unreadable == paths[2] + "\n" + broken2 || unreadable == broken2 + "\n" + paths[2])
      << text;
  EXPECT_EQ(Names(), (std::vector<std::string>{"good.jpg", "broken1.jpg", "broken2.jpg"}));

  // A hand-over of good files tells nothing; one refused file, on its own.
  list_.AddPaths({Put("fine.jpg")});
  list_.AddPaths({paths[0]});
  AddAll();
  ASSERT_EQ(view_.reports.size(), 2u);
  EXPECT_EQ(
      view_.reports[1],
      "1 file(s) were not added: they are not pictures, movies or audio files:\n\n" + paths[0]);
}

// Lists a folder that is not on the disk: the fake folders are folders.
class CFakeProbe : public quib::IPathProbe {
 public:
  bool IsFile(const std::string&) override { return false; }
  bool IsFolder(const std::string& path) override { return path.rfind("root", 0) == 0; }
};

TEST_F(UploadListTest, AWalkEndsWhenTheListGoesAway) {
  CFakeFolders disk;
  CFakeProbe probe;
  CJoinableThreads threads;
  for (char c = 'a'; c <= 'z'; ++c) {
    disk.AddFolder("root", std::string(1, c));
    disk.AddFile("root/" + std::string(1, c), "p.jpg");
  }
  disk.Gate("root/a");
  quib::CPlatform platform;
  platform.folders = &disk;
  platform.paths = &probe;
  platform.threads = &threads;
  quib::InstallPlatform(platform);

  auto list = std::make_unique<CUploadList>();
  CRecordingView view;
  list->SetView(&view);
  list->AddPaths({"root"});
  // The worker is inside the listing of root/a, which does not end until
  // the gate opens (a slow disk): the list goes away meanwhile, waiting
  // only a bounded time.
  ASSERT_TRUE(disk.WaitListed(2));
  list.reset();
  disk.OpenGate();
  ASSERT_TRUE(threads.WaitAllEnded()) << "the walk did not end";
  EXPECT_EQ(threads.Started(), 1);
  EXPECT_EQ(disk.Listed(), (std::vector<std::string>{"root", "root/a"}))
      << "walked on after the list was gone";
  // What the worker posted for the list is never run.
  queues_.RunAll();
  EXPECT_TRUE(view.log.empty());
  InstallFakes();
}

TEST_F(UploadListTest, FilesStillToAddAreDroppedWhenTheListGoesAway) {
  for (int i = 0; i < 100; ++i) Put("many/m" + std::to_string(i) + ".mpg");
  CRecordingView view;
  auto list = std::make_unique<CUploadList>();
  list->SetView(&view);
  list->AddPaths({Sub("many")});
  ASSERT_TRUE(queues_.WaitFor(1));
  queues_.RunOne();
  EXPECT_EQ(list->Count(), 40) << "the first share";
  EXPECT_EQ(list->PendingHandOvers(), 1u);
  list.reset();
  queues_.RunAll();
  EXPECT_EQ(view.log.size(), 40u);
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
