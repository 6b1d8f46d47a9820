// Storage as the real program keeps it: a crash at any step of storing an
// upload, followed by a restart, leaves records and files in step; a second
// service on the same data folder refuses to start and touches nothing;
// leftovers of interrupted runs are cleaned up at start.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>

#include <future>
#include <set>
#include <string>

#include "tools/album-service/album_store.h"
#include "tools/album-service/tests/service_test_util.h"

using namespace albumsvc;
using namespace svctest;

namespace {

struct Storage {
  std::vector<Media> records;
  std::vector<std::string> files;  // regular files below media/
  std::vector<std::string> temps;  // anything in tmp/
};

Storage Look(const std::string& dataDir) {
  Storage s;
  CAlbumStore store;
  std::string error;
  if (store.Open(dataDir, &error)) s.records = store.ListMedia(std::string());
  for (auto& e : fs::recursive_directory_iterator(dataDir + "/media"))
    if (e.is_regular_file()) s.files.push_back(e.path().lexically_normal().string());
  for (auto& e : fs::directory_iterator(dataDir + "/tmp")) s.temps.push_back(e.path().string());
  return s;
}

// Every record has its file with the recorded bytes, every file its record,
// and nothing is left in tmp/. Empty when all is well.
std::string InStep(const Storage& s) {
  std::string problems;
  std::set<std::string> recorded;
  for (const Media& m : s.records) {
    std::string path = fs::path(m.path).lexically_normal().string();
    recorded.insert(path);
    if (!fs::exists(path))
      problems += "record " + std::to_string(m.id) + " without its file\n";
    else if (Sha256Hex(ReadFile(path)) != m.sha256)
      problems += "record " + std::to_string(m.id) + " with other bytes\n";
  }
  for (const std::string& f : s.files)
    if (!recorded.count(f)) problems += "file without a record: " + f + "\n";
  for (const std::string& t : s.temps) problems += "temporary file left: " + t + "\n";
  return problems;
}

class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("album-service-storage");
    ASSERT_FALSE(dir_.empty());
    data_ = dir_ + "/data";
    int rc = -1;
    RunShell(
        ServiceBin() + " --password-iterations 1000 --data " + data_ + " add-account anna pw 2>&1",
        &rc);
    ASSERT_EQ(rc, 0);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // The uploader's login and one upload; the answer, or "" without one.
  static std::string UploadTo(int port, const std::string& name, const std::string& data) {
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(30, 0);
    auto login = c.Post("/login.php", Body({{"Username", "anna"}, {"Password", "pw"}}),
                        kContentType.c_str());
    if (!login) return "";
    std::string sid = Lines(login->body)["SId"];
    auto up =
        c.Post(("/upload.php?" + sid).c_str(),
               Body(UploadFields("0", name, "image/jpeg"), name, data, true), kContentType.c_str());
    return up ? up->body : "";
  }

  std::string dir_, data_;
};

TEST_F(StorageTest, ACrashAtAnyStepLeavesRecordsAndFilesInStepAfterTheRestart) {
  const std::string kept(3000, 'k'), lost(700000, 'x');
  {
    CServiceProcess service(data_);
    std::string error;
    ASSERT_TRUE(service.Start({}, &error)) << error;
    ASSERT_EQ(UploadTo(service.Port(), "kept.jpg", kept).substr(0, 1), "0");
    ASSERT_TRUE(service.Stop()) << service.Log();
  }
  struct Step {
    const char* name;
    int temps, orphans;  // what the crash leaves before the restart
    bool stored;         // whether the upload is there after the restart
  } steps[] = {
      {"receiving", 1, 0, false},  {"temp-written", 1, 0, false},  {"record-inserted", 1, 0, false},
      {"file-moved", 0, 1, false}, {"folder-synced", 0, 1, false}, {"committed", 0, 0, true},
  };
  size_t stored = 1;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    CServiceProcess service(data_);
    std::string error;
    ASSERT_TRUE(service.Start({"--test-crash-at", step.name}, &error)) << error;
    std::string name = std::string(step.name) + ".jpg";
    EXPECT_EQ(UploadTo(service.Port(), name, lost), "") << "no answer from a crashed service";
    ASSERT_TRUE(WaitFor([&] { return service.Exited(); }, 30000)) << "the service did not end";
    EXPECT_TRUE(service.KilledBySignal(SIGKILL)) << service.Log();

    // What the crash left, as the next start finds it.
    Storage crashed = Look(data_);
    EXPECT_EQ(crashed.temps.size(), static_cast<size_t>(step.temps));
    EXPECT_EQ(crashed.files.size(), stored + step.orphans + (step.stored ? 1 : 0));
    if (step.stored) ++stored;
    EXPECT_EQ(crashed.records.size(), stored);

    ASSERT_TRUE(service.Start({}, &error)) << error;
    ASSERT_TRUE(service.Stop()) << service.Log();
    Storage after = Look(data_);
    EXPECT_EQ(InStep(after), "");
    ASSERT_EQ(after.records.size(), stored);
    EXPECT_EQ(after.records[0].filename, "kept.jpg");
    EXPECT_EQ(ReadFile(after.records[0].path), kept);
    if (step.stored) {
      EXPECT_EQ(after.records.back().filename, name);
      EXPECT_EQ(ReadFile(after.records.back().path), lost);
    }
    if (step.temps || step.orphans) {
      EXPECT_NE(service.Log().find("cleaned up after an interrupted run"), std::string::npos);
    }
  }
}

// Ctrl+C as soon as the service listens still ends it: the signal used to be
// lost when it came before the server loop had started.
TEST_F(StorageTest, AStopRightAfterTheStartEndsTheService) {
  for (int i = 0; i < 10; ++i) {
    CServiceProcess service(data_);
    std::string error;
    ASSERT_TRUE(service.Start({}, &error)) << error;
    EXPECT_TRUE(service.Stop(10000)) << "start " << i << " did not end within 10 s of SIGTERM";
  }
}

TEST_F(StorageTest, StartRemovesLeftoversAndRecordsWithoutFiles) {
  {
    CServiceProcess service(data_);
    std::string error;
    ASSERT_TRUE(service.Start({}, &error)) << error;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
      ASSERT_EQ(UploadTo(service.Port(), name, std::string(100, name[0])).substr(0, 1), "0");
    ASSERT_TRUE(service.Stop()) << service.Log();
  }
  Storage before = Look(data_);
  ASSERT_EQ(before.records.size(), 3u);
  fs::remove(before.records[1].path);  // lost by hand
  WriteFile(data_ + "/tmp/upload-7-abcd", "half an upload");
  WriteFile(fs::path(before.records[0].path).parent_path().string() + "/99.jpg", "no record");

  CServiceProcess service(data_);
  std::string error;
  ASSERT_TRUE(service.Start({}, &error)) << error;
  ASSERT_TRUE(service.Stop()) << service.Log();
  Storage after = Look(data_);
  EXPECT_EQ(InStep(after), "");
  ASSERT_EQ(after.records.size(), 2u);
  EXPECT_EQ(after.records[0].filename, "a.jpg");
  EXPECT_EQ(after.records[1].filename, "c.jpg");
  EXPECT_NE(service.Log().find("1 temporary file(s), 1 file(s) without a record, 1 record(s) "
                               "without a file"),
            std::string::npos)
      << service.Log();
}

TEST_F(StorageTest, AFolderThatLostMostFilesIsNotEmptiedAtStart) {
  {
    CServiceProcess service(data_);
    std::string error;
    ASSERT_TRUE(service.Start({}, &error)) << error;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
      ASSERT_EQ(UploadTo(service.Port(), name, std::string(100, name[0])).substr(0, 1), "0");
    ASSERT_TRUE(service.Stop());
  }
  // As if media/ were on a disk that is not mounted.
  for (const Media& m : Look(data_).records) fs::remove(m.path);
  CServiceProcess service(data_);
  std::string error;
  EXPECT_FALSE(service.Start({}, &error));
  EXPECT_NE(error.find("3 of the 3 stored files are missing"), std::string::npos) << error;
  EXPECT_EQ(Look(data_).records.size(), 3u);
}

TEST_F(StorageTest, ASecondServiceOnTheSameFolderRefusesAndTouchesNothing) {
  CServiceProcess first(data_);
  std::string error;
  ASSERT_TRUE(first.Start({"--test-hooks"}, &error)) << error;
  // An upload in progress: its file waits in tmp/ for the answer.
  httplib::Client hooks("127.0.0.1", first.Port());
  ASSERT_EQ(hooks.Get("/test/stall?mode=before-answer")->body, "ok\n");
  auto pending = std::async(std::launch::async,
                            [&] { return UploadTo(first.Port(), "slow.jpg", "slow bytes"); });
  ASSERT_TRUE(WaitFor([&] { return Look(data_).temps.size() == 1; }, 30000))
      << "the upload's temporary file did not appear";

  CServiceProcess second(data_);
  EXPECT_FALSE(second.Start({}, &error));
  EXPECT_NE(error.find("another album-service (process " + std::to_string(first.Pid()) +
                       ") is serving the data folder"),
            std::string::npos)
      << error;
  // Management commands read the folder beside the service, also harmless.
  int rc = -1;
  RunShell(ServiceBin() + " --data " + data_ + " list-media", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(Look(data_).temps.size(), 1u);

  ASSERT_EQ(hooks.Get("/test/stall?mode=off")->body, "ok\n");
  EXPECT_EQ(pending.get().substr(0, 1), "0");
  ASSERT_TRUE(first.Stop());
  Storage after = Look(data_);
  EXPECT_EQ(InStep(after), "");
  ASSERT_EQ(after.records.size(), 1u);
  EXPECT_EQ(ReadFile(after.records[0].path), "slow bytes");
  // Once the first has ended, the folder is free again.
  ASSERT_TRUE(second.Start({}, &error)) << error;
  EXPECT_TRUE(second.Stop());
}

// --demo adds an account with a known password: never to a folder that
// another service holds, whether it comes with a start or a command.
TEST_F(StorageTest, DemoNeverSeedsAFolderAnotherServiceHolds) {
  CServiceProcess first(data_);
  std::string error;
  ASSERT_TRUE(first.Start({}, &error)) << error;
  CServiceProcess second(data_);
  EXPECT_FALSE(second.Start({"--demo"}, &error));
  EXPECT_NE(error.find("another album-service"), std::string::npos) << error;
  int rc = -1;
  std::string out = RunShell(ServiceBin() + " --data " + data_ + " --demo list-albums 2>&1", &rc);
  EXPECT_EQ(rc, 2) << out;
  EXPECT_EQ(RunShell(ServiceBin() + " --data " + data_ + " list-accounts"),
            "id\tname\tquota\tused\n1\tanna\t0\t0\n");
  httplib::Client c("127.0.0.1", first.Port());
  auto login = c.Post("/login.php", Body({{"Username", "demo"}, {"Password", "demo"}}),
                      kContentType.c_str());
  ASSERT_TRUE(login);
  EXPECT_EQ(login->body.substr(0, 1), "2");
  EXPECT_TRUE(first.Stop());
  // A folder nobody serves gets it, with a start or a command.
  EXPECT_EQ(RunShell(ServiceBin() + " --data " + data_ + " --demo list-albums demo"),
            "id\taccount\tname\tmedia_count\n1\tdemo\tHolidays\t0\n2\tdemo\tFamily\t0\n"
            "3\tdemo\tGarden\t0\n");
}

}  // namespace
