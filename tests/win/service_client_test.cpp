// CServiceClient over real WinINet against the running album service
// (started by scripts/test.d/10-album-service.sh): log in, list, create,
// upload a picture and a 5 MB movie, then read back what the service stored
// and compare it byte for byte with the originals.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/protocol/http_upload.h"
#include "core/protocol/media_type.h"
#include "core/text/text_convert.h"
#include "core/service/service_client.h"
#include "tests/win/support/wait_note.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Waits for the final listener call of each request.
class CWaitingListener : public IServiceListener {
 public:
  void OnUploadProgress(int sent, int total) override {
    std::lock_guard<std::mutex> guard(lock_);
    lastSent = sent;
    lastTotal = total;
    ++progressCalls;
    changed_.notify_all();
  }
  void OnResponseProgress(int, int) override {}
  void OnLogInDone(int result) override { Final("LogIn", result); }
  void OnDirListDone(CAlbumList* list, int result) override {
    albums.clear();
    if (list) {
      std::string id, name;
      for (int i = 0; list->GetAt(i, id, name); ++i) albums.emplace_back(id, name);
      delete list;
    }
    gotList = list != nullptr;
    Final("DirList", result);
  }
  void OnCreateDirDone(int id, int result) override {
    albumId = id;
    Final("CreateDir", result);
  }
  void OnUploadDone(int result) override { Final("Upload", result); }
  void OnAborted() override { Final("Aborted", 0); }

  // The name of the final call and its result.
  std::pair<std::string, int> Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    if (!quibtest::WaitOn(
            changed_, guard, std::chrono::seconds(60), [&] { return done_; },
            "the service client's final call"))
      return {"timeout", 0};
    done_ = false;
    return {final_, result_};
  }
  // Until the whole request body was sent.
  bool WaitBodySent() {
    std::unique_lock<std::mutex> guard(lock_);
    return quibtest::WaitOn(
        changed_, guard, std::chrono::seconds(60),
        [&] { return lastTotal > 0 && lastSent == lastTotal; },
        "the whole request body to be sent");
  }
  void ResetProgress() {
    std::lock_guard<std::mutex> guard(lock_);
    lastSent = lastTotal = progressCalls = 0;
  }

  std::vector<std::pair<std::string, std::string>> albums;
  bool gotList = false;
  int albumId = 0;
  int lastSent = 0, lastTotal = 0, progressCalls = 0;

 private:
  void Final(const char* name, int result) {
    std::lock_guard<std::mutex> guard(lock_);
    final_ = name;
    result_ = result;
    done_ = true;
    changed_.notify_all();
  }
  std::mutex lock_;
  std::condition_variable changed_;
  bool done_ = false;
  std::string final_;
  int result_ = 0;
};

// One request to a test endpoint of the service; returns the answer text.
class CHookCall : public IHttpListener {
 public:
  void OnHttpEvent(const HttpEvent& e) override {
    if (e.type != HttpEventDone && e.type != HttpEventError && e.type != HttpEventCancelled) return;
    std::lock_guard<std::mutex> guard(lock_);
    text_ = e.type == HttpEventDone ? e.text : "failed: " + e.text;
    done_ = true;
    changed_.notify_all();
  }
  std::string Call(const std::string& url) {
    CHttpUpload upload;
    upload.AddListener(this);
    upload.Start(url, "Test");
    std::unique_lock<std::mutex> guard(lock_);
    const std::string what = "the answer of " + url;
    if (!quibtest::WaitOn(
            changed_, guard, std::chrono::seconds(60), [&] { return done_; }, what.c_str())) {
      guard.unlock();
      // The request must end before its object goes.
      upload.Cancel();
      return "no answer";
    }
    done_ = false;
    return text_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool done_ = false;
  std::string text_;
};

std::string Hook(const std::string& pathAndQuery) {
  CHookCall call;
  return call.Call(Env("QUIB_TEST_SERVICE_URL") + pathAndQuery);
}

std::string Unescape(const std::string& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '\\' || i + 1 == v.size()) {
      out += v[i];
      continue;
    }
    char c = v[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

// Records of the service's media listing (TSV with a header line).
std::vector<std::map<std::string, std::string>> ParseTsv(const std::string& text) {
  std::vector<std::map<std::string, std::string>> rows;
  std::istringstream in(text);
  std::string line;
  std::vector<std::string> header;
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    size_t start = 0;
    for (;;) {
      size_t tab = line.find('\t', start);
      cells.push_back(Unescape(line.substr(start, tab - start)));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (header.empty()) {
      header = cells;
      continue;
    }
    std::map<std::string, std::string> row;
    for (size_t i = 0; i < header.size() && i < cells.size(); ++i) row[header[i]] = cells[i];
    rows.push_back(row);
  }
  return rows;
}

// The service runs on the Unix side; Wine shows its root as drive Z:.
std::string ReadUnixFile(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string TempDir() {
  char buf[MAX_PATH];
  GetTempPathA(MAX_PATH, buf);
  return buf;
}

std::string WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
  return path;
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(gen() & 0xFF);
  return out;
}

class ServiceClientWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("QUIB_TEST_SERVICE_URL").empty())
      GTEST_SKIP() << "no album service: run through scripts/test.sh";
    user_ = "wine-client-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount());
    ASSERT_EQ(Hook("/test/account?name=" + user_ + "&password=pa55"), "ok\n");
    client_ = std::make_unique<CServiceClient>(&listener_);
  }
  void TearDown() override {
    // A request a failed test left running ends before its client goes.
    if (client_) client_->Abort();
    client_.reset();
    for (const std::string& f : files_) DeleteFileA(f.c_str());
  }

  std::pair<std::string, int> LogIn(const std::string& password) {
    client_->LogIn(Env("QUIB_TEST_SERVICE_URL") + "/login.php", AnsiToUtf8(user_),
                   AnsiToUtf8(password), "DE", "1.0");
    return listener_.Wait();
  }
  std::pair<std::string, int> Upload(unsigned album, const std::string& name,
                                     const std::string& keyword, const std::string& desc,
                                     const std::string& path) {
    listener_.ResetProgress();
    // The test's files are named in code page 1252; the program's paths are UTF-8.
    client_->Upload(album, AnsiToUtf8(name), AnsiToUtf8(keyword), AnsiToUtf8(desc),
                    DetectMediaType(AnsiToUtf8(path)), AnsiToUtf8(path));
    return listener_.Wait();
  }
  std::string NewFile(const std::string& name, const std::string& data) {
    files_.push_back(WriteFile(TempDir() + name, data));
    return files_.back();
  }

  std::string user_;
  CWaitingListener listener_;
  std::unique_ptr<CServiceClient> client_;
  std::vector<std::string> files_;
};

using Final = std::pair<std::string, int>;

TEST_F(ServiceClientWineTest, LogInListCreateAndUploadArriveIntact) {
  EXPECT_EQ(LogIn("wrong"), Final("LogIn", ResultBadLogin));
  ASSERT_EQ(LogIn("pa55"), Final("LogIn", ResultOk));

  client_->DirList();
  ASSERT_EQ(listener_.Wait(), Final("DirList", ResultOk));
  EXPECT_TRUE(listener_.gotList);
  EXPECT_TRUE(listener_.albums.empty());

  const std::string albumName = "Ferien am See \xe4\xf6\xfc\xdf";  // in code page 1252
  client_->CreateDir(AnsiToUtf8(albumName));
  ASSERT_EQ(listener_.Wait(), Final("CreateDir", ResultOk));
  const int albumId = listener_.albumId;
  EXPECT_GT(albumId, 0);
  client_->CreateDir(AnsiToUtf8(albumName));
  EXPECT_EQ(listener_.Wait(), Final("CreateDir", ResultAlbumNotCreated));
  EXPECT_EQ(listener_.albumId, 0);
  client_->DirList();
  ASSERT_EQ(listener_.Wait(), Final("DirList", ResultOk));
  ASSERT_EQ(listener_.albums.size(), 1u);
  EXPECT_EQ(listener_.albums[0].first, std::to_string(albumId));
  EXPECT_EQ(listener_.albums[0].second, AnsiToUtf8(albumName));

  // A picture into the album, a 5 MB movie into the public inbox.
  std::string jpeg = std::string("\xff\xd8\xff\xe0\x00\x10JFIF\x00", 11) + RandomBytes(40000, 1) +
                     "\r\n-----------------------------e2W7\r\n" + "\xff\xd9";
  std::string picture = NewFile("Strand \xe9t\xe9.jpg", jpeg);
  std::string avi = std::string(
                        "RIFF\x00\x00\x50\x00"
                        "AVI LIST",
                        16) +
                    RandomBytes(5 * 1024 * 1024, 2);
  std::string movie = NewFile("clip.avi", avi);

  ASSERT_EQ(Upload(albumId, "Strand \xe9t\xe9.jpg", "Meer, Sonne",
                   "Abends am Strand \xfc"
                   "ber",
                   picture),
            Final("Upload", ResultOk));
  EXPECT_EQ(listener_.lastSent, listener_.lastTotal);
  ASSERT_EQ(Upload(0, "Clip", "", "5 MB", movie), Final("Upload", ResultOk));
  EXPECT_EQ(listener_.lastSent, listener_.lastTotal);
  EXPECT_GT(listener_.progressCalls, 5 * 16);  // one per 64 KiB block

  std::vector<std::map<std::string, std::string>> rows =
      ParseTsv(Hook("/test/media?account=" + user_));
  ASSERT_EQ(rows.size(), 2u);
  std::map<std::string, std::string>& pic = rows[0];
  EXPECT_EQ(pic["dir_id"], std::to_string(albumId));
  EXPECT_EQ(pic["filename"], AnsiToUtf8("Strand \xe9t\xe9.jpg"));
  EXPECT_EQ(pic["keyword"], "Meer, Sonne");
  EXPECT_EQ(pic["desc"], AnsiToUtf8("Abends am Strand \xfc"
                                    "ber"));
  EXPECT_EQ(pic["mime_type"], DetectMediaType(AnsiToUtf8(picture)));
  EXPECT_EQ(pic["mime_type"].substr(0, 6), "image/");
  EXPECT_EQ(pic["part_name"], "Strand \xe9t\xe9.jpg");  // file part names stay in the code page
  EXPECT_EQ(pic["size"], std::to_string(jpeg.size()));
  EXPECT_TRUE(ReadUnixFile(pic["path"]) == jpeg) << pic["path"];

  std::map<std::string, std::string>& mov = rows[1];
  EXPECT_EQ(mov["dir_id"], "0");
  EXPECT_EQ(mov["filename"], "Clip");
  EXPECT_EQ(mov["keyword"], "");
  EXPECT_EQ(mov["desc"], "5 MB");
  EXPECT_EQ(mov["mime_type"].substr(0, 6), "video/");
  EXPECT_EQ(mov["part_name"], "clip.avi");
  EXPECT_EQ(mov["size"], std::to_string(avi.size()));
  EXPECT_TRUE(ReadUnixFile(mov["path"]) == avi) << mov["path"];
}

TEST_F(ServiceClientWineTest, QuotaSizeLimitAndStallAreReported) {
  ASSERT_EQ(LogIn("pa55"), Final("LogIn", ResultOk));
  std::string small = NewFile("small.jpg", std::string("\xff\xd8", 2) + RandomBytes(3000, 3));

  ASSERT_EQ(Hook("/test/limits?account=" + user_ + "&quota=1000"), "ok\n");
  EXPECT_EQ(Upload(0, "small.jpg", "", "", small), Final("Upload", ResultNoSpace));
  ASSERT_EQ(Hook("/test/limits?account=" + user_ + "&quota=0&max-upload=1000"), "ok\n");
  EXPECT_EQ(Upload(0, "small.jpg", "", "", small), Final("Upload", ResultTooBig));
  ASSERT_EQ(Hook("/test/limits?max-upload=104857600"), "ok\n");
  EXPECT_EQ(ParseTsv(Hook("/test/media?account=" + user_)).size(), 0u);

  // A server that never answers: the abort ends the request with OnAborted.
  ASSERT_EQ(Hook("/test/stall?mode=before-answer"), "ok\n");
  listener_.ResetProgress();
  client_->Upload(0, "small.jpg", "", "", "image/jpeg", small);
  ASSERT_TRUE(listener_.WaitBodySent());
  Sleep(300);
  client_->Abort();
  // WinINet may stay blocked until the server answers; the cancellation
  // takes effect at the latest when the answer is read.
  Sleep(300);
  ASSERT_EQ(Hook("/test/stall?mode=off"), "ok\n");
  EXPECT_EQ(listener_.Wait(), Final("Aborted", 0));
  // The flag stays set for this client.
  client_->DirList();
  EXPECT_EQ(listener_.Wait(), Final("Aborted", 0));
}

}  // namespace
