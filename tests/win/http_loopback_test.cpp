// CHttpUpload over real WinINet against the recording loopback server.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>

#include "core/protocol/http_upload.h"
#include "core/text/text_convert.h"
#include "core/protocol/multipart.h"
#include "tests/win/support/loopback_server.h"
#include "tests/win/support/wait_note.h"

namespace {

const char kDelimiter[] = "-----------------------------e2W7eajhJd09flh\r\n";
const char kClosing[] = "-----------------------------e2W7eajhJd09flh--\r\n";

bool IsFinal(int32_t type) {
  return type == HttpEventCancelled || type == HttpEventError || type == HttpEventDone;
}

class CEventLog : public IHttpListener {
 public:
  struct Seen {
    int32_t type;
    std::string text;
    int32_t value1, value2;
    std::string command;
  };
  std::function<void(const HttpEvent&)> hook;

  void OnHttpEvent(const HttpEvent& e) override {
    if (hook) hook(e);
    std::lock_guard<std::mutex> guard(lock_);
    events_.push_back({e.type, e.text, e.value1, e.value2, e.command});
    if (IsFinal(e.type)) ++finals_;
    changed_.notify_all();
  }
  // Hang guard only.
  bool WaitFinal(int count = 1) {
    std::unique_lock<std::mutex> guard(lock_);
    return quibtest::WaitOn(
        changed_, guard, std::chrono::seconds(90), [&] { return finals_ >= count; },
        "the request's final event");
  }
  std::vector<Seen> Events() {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
  }
  int Count(int32_t type) {
    int n = 0;
    for (const Seen& e : Events()) n += e.type == type ? 1 : 0;
    return n;
  }
  int Finals() {
    std::lock_guard<std::mutex> guard(lock_);
    return finals_;
  }
  const Seen Last() { return Events().back(); }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Seen> events_;
  int finals_ = 0;
};

std::string TextPart(const std::string& name, const std::string& value) {
  return std::string(kDelimiter) + "content-disposition: form-data; name=\"" + name +
         "\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + value + "\r\n";
}

// A folder of its own below the temporary folder, removed with its files.
class CTempDir {
 public:
  CTempDir() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    path_ = std::string(base) + "quib_http_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~CTempDir() {
    for (const std::string& f : files_) DeleteFileA(f.c_str());
    RemoveDirectoryA(path_.c_str());
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string file = path_ + "\\" + name;
    std::ofstream(file, std::ios::binary).write(bytes.data(), bytes.size());
    files_.push_back(file);
    return file;
  }

 private:
  std::string path_;
  std::vector<std::string> files_;
};

std::string RandomBytes(size_t size) {
  std::mt19937 random(12345);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

class HttpLoopbackTest : public ::testing::Test {
 protected:
  HttpLoopbackTest() { upload.AddListener(&log); }

  // Runs one request and returns what the server received on its connection.
  std::string Post(const std::string& path, const std::string& command) {
    const int finals = log.Finals();
    upload.Start(server.BaseUrl() + path, command);
    EXPECT_TRUE(log.WaitFinal(finals + 1));
    const std::vector<std::string> requests = server.Requests();
    return requests.empty() ? std::string() : requests.back();
  }
  void ExpectHead(const std::string& request, const std::string& requestLine, size_t length) {
    const std::vector<std::string> lines = RequestHeadLines(request);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], requestLine);
    const std::string expected[] = {
        "Content-Type: multipart/form-data;charset=utf-8;boundary="
        "---------------------------e2W7eajhJd09flh",
        "Content-Length: " + std::to_string(length),
        "User-Agent: quib-uploader for Windows (Version 1.1.0.4)"};
    for (const std::string& line : expected) {
      EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
    }
    for (size_t i = 1; i < lines.size(); ++i) {
      // No second agent or length next to ours.
      if (lines[i].rfind("User-Agent:", 0) == 0) {
        EXPECT_EQ(lines[i], expected[2]);
      }
      if (lines[i].rfind("Content-Length:", 0) == 0) {
        EXPECT_EQ(lines[i], expected[1]);
      }
    }
  }

  CLoopbackServer server;
  CEventLog log;
  CHttpUpload upload;
};

TEST_F(HttpLoopbackTest, LogInShapedRequestOnTheWire) {
  server.SetAnswer(CLoopbackServer::Answer(200, "0\r\nSId=42\r\nUploadURL=x"));
  upload.AddField("Username", "anna");
  upload.AddField("Password", "p\xe4ss");
  upload.AddField("Language", "en");
  upload.AddField("Version", "1.1.0.4");
  const std::string request = Post("/cgi/login.php", "LogIn");
  const std::string body = TextPart("Password", "p\xe4ss") + TextPart("Language", "en") +
                           TextPart("Version", "1.1.0.4") + TextPart("Username", "anna") + kClosing;
  ExpectHead(request, "POST /cgi/login.php HTTP/1.0", body.size());
  EXPECT_EQ(RequestBody(request), body);
  EXPECT_EQ(log.Last().type, HttpEventDone);
  EXPECT_EQ(log.Last().text, "0\r\nSId=42\r\nUploadURL=x");
  EXPECT_EQ(log.Last().command, "LogIn");
  EXPECT_EQ(log.Count(HttpEventSent), 5);
  EXPECT_GE(log.Count(HttpEventReceived), 1);
}

TEST_F(HttpLoopbackTest, DirListAndCreateDirShapedRequestsOnTheWire) {
  server.SetAnswer(CLoopbackServer::Answer(200, "0\r\n\r\n\r\n1=Holiday"));
  std::string request = Post("/dirlist.php?abc123", "DirList");
  ExpectHead(request, "POST /dirlist.php?abc123 HTTP/1.0", 48);
  EXPECT_EQ(RequestBody(request), kClosing);
  EXPECT_EQ(log.Last().type, HttpEventDone);

  upload.AddField("DirName", "Holiday \xc3\xa4");
  request = Post("/createdir.php?abc123", "CreateDir");
  const std::string body =
      "-----------------------------e2W7eajhJd09flh\r\n"
      "content-disposition: form-data; name=\"DirName\"\r\n"
      "Content-Type: text/plain; charset=utf-8\r\n\r\n"
      "Holiday \xc3\xa4\r\n"
      "-----------------------------e2W7eajhJd09flh--\r\n";
  ExpectHead(request, "POST /createdir.php?abc123 HTTP/1.0", 132 + 7 + 10 + 48);
  EXPECT_EQ(RequestBody(request), body);
  EXPECT_EQ(server.Requests().size(), 2u);
}

TEST_F(HttpLoopbackTest, UploadShapedRequestCarriesTheFileIntact) {
  CTempDir dir;
  // More than 1 MB, not a multiple of the chunk size, every byte value.
  const std::string content = RandomBytes(1536 * 1024 + 123);
  const std::string path = dir.Write("beach \xe9t\xe9.jpg", content);
  server.SetAnswer(CLoopbackServer::Answer(200, "0"));
  upload.AddField("DirId", "17");
  upload.AddField("Filename", "beach");
  upload.AddField("Keyword", "sea");
  upload.AddField("Desc", "sunny");
  upload.AddField("MimeType", "image/jpeg");
  // Named in code page 1252 on disk; the program's paths are UTF-8. The file
  // part still carries the ANSI name, byte for byte as it always did.
  upload.AddFile("ImageData", AnsiToUtf8(path).c_str());
  const std::string request = Post("/upload.php?abc123", "Upload");
  const std::string body =
      TextPart("Desc", "sunny") + TextPart("DirId", "17") + TextPart("Filename", "beach") +
      TextPart("MimeType", "image/jpeg") + TextPart("Keyword", "sea") + kDelimiter +
      "content-disposition: form-data; name=\"ImageData\"; filename=\"beach \xe9t\xe9.jpg\"\r\n"
      "Content-Type: image/jpeg\r\nContent-Transfer-Encoding: binary\r\n\r\n" +
      content + "\r\n" + kClosing;
  ExpectHead(request, "POST /upload.php?abc123 HTTP/1.0", body.size());
  const std::string received = RequestBody(request);
  EXPECT_EQ(received.size(), body.size());
  EXPECT_TRUE(received == body);  // not printed: 1.5 MB
  EXPECT_EQ(log.Last().type, HttpEventDone);
  EXPECT_EQ(log.Last().text, "0");
  // A send event per text part, per 64 KiB block and for the delimiter.
  EXPECT_EQ(log.Count(HttpEventSent), 5 + static_cast<int>((content.size() + 65535) / 65536) + 1);
  const auto events = log.Events();
  const auto lastSent = std::find_if(events.rbegin(), events.rend(), [](const CEventLog::Seen& e) {
    return e.type == HttpEventSent;
  });
  EXPECT_EQ(lastSent->value1, static_cast<int32_t>(body.size()));
  EXPECT_EQ(lastSent->value2, static_cast<int32_t>(body.size()));
}

TEST_F(HttpLoopbackTest, Status500IsOneErrorWithoutReceiveEvents) {
  server.SetAnswer(CLoopbackServer::Answer(500, "internal failure text"));
  upload.AddField("DirName", "x");
  Post("/createdir.php", "CreateDir");
  EXPECT_EQ(log.Finals(), 1);
  EXPECT_EQ(log.Last().type, HttpEventError);
  EXPECT_EQ(log.Last().text, "error");
  EXPECT_EQ(log.Count(HttpEventReceived), 0);
}

TEST_F(HttpLoopbackTest, EmptyAnswerIsAnEmptyDoneWithoutReceiveEvents) {
  server.SetAnswer(CLoopbackServer::Answer(200, ""));
  Post("/dirlist.php", "DirList");
  EXPECT_EQ(log.Finals(), 1);
  EXPECT_EQ(log.Last().type, HttpEventDone);
  EXPECT_EQ(log.Last().text, "");
  EXPECT_EQ(log.Count(HttpEventReceived), 0);
}

TEST_F(HttpLoopbackTest, ServerDownIsOneErrorWithThePlatformText) {
  upload.AddField("Username", "anna");
  upload.Start("http://127.0.0.1:" + std::to_string(CLoopbackServer::UnusedPort()) + "/login",
               "LogIn");
  ASSERT_TRUE(log.WaitFinal());
  EXPECT_EQ(log.Finals(), 1);
  EXPECT_EQ(log.Last().type, HttpEventError);
  EXPECT_FALSE(log.Last().text.empty());
  EXPECT_EQ(log.Count(HttpEventSent), 0);
  EXPECT_EQ(upload.GetFields().textFields.GetCount(), 0u);
}

TEST_F(HttpLoopbackTest, ConnectionClosedMidBodyIsOneError) {
  CTempDir dir;
  const std::string path = dir.Write("big.jpg", RandomBytes(4 * 1024 * 1024));
  server.SetMode(LoopbackHangUp);
  server.SetHangUpAfter(64 * 1024);
  upload.AddFile("ImageData", path.c_str());
  Post("/upload.php", "Upload");
  EXPECT_EQ(log.Finals(), 1);
  EXPECT_EQ(log.Last().type, HttpEventError);
  EXPECT_FALSE(log.Last().text.empty());
  EXPECT_EQ(log.Count(HttpEventDone), 0);
}

TEST_F(HttpLoopbackTest, CancelEndsARequestStalledOnTheServer) {
  server.SetMode(LoopbackStallAnswer);
  upload.AddField("DirName", "x");
  upload.Start(server.BaseUrl() + "/createdir.php", "CreateDir");
  // The whole body is out; the client now waits for an answer that never comes.
  ASSERT_TRUE(server.WaitRequestsComplete(1));
  upload.Cancel();
  ASSERT_TRUE(log.WaitFinal());
  EXPECT_EQ(log.Finals(), 1);
  EXPECT_EQ(log.Last().type, HttpEventCancelled);
  EXPECT_EQ(log.Last().text, "");
  EXPECT_EQ(log.Count(HttpEventError), 0);
}

}  // namespace
