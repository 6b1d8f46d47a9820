// CHttpUpload over TLS: an https:// URL goes to the loopback HTTPS server of
// the test run (scripts/test.d/45-https-echo.sh), which echoes the request.
// Its certificate is trusted only by the root store of the run's Wine prefix,
// so a wrong host name or a plain-text request would fail here.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "core/protocol/http_upload.h"
#include "tests/win/support/wait_note.h"

namespace {

class CFinalEvent : public IHttpListener {
 public:
  void OnHttpEvent(const HttpEvent& e) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (e.type == HttpEventSent) ++sent_;
    if (e.type == HttpEventDone || e.type == HttpEventError || e.type == HttpEventCancelled) {
      type_ = e.type;
      text_ = e.text;
      ++finals_;
      changed_.notify_all();
    }
  }
  // Hang guard only.
  bool Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    return quibtest::WaitOn(
        changed_, guard, std::chrono::seconds(90), [&] { return finals_ > 0; },
        "the TLS request's final event");
  }
  int32_t type_ = -2;
  std::string text_;
  int finals_ = 0;
  int sent_ = 0;

 private:
  std::mutex lock_;
  std::condition_variable changed_;
};

std::string Post(const std::string& url, CFinalEvent& log) {
  CHttpUpload upload;
  upload.AddListener(&log);
  upload.AddField("Username", "anna");
  upload.AddField("Password", "secret");
  upload.Start(url, "LogIn");
  EXPECT_TRUE(log.Wait());
  return log.text_;
}

TEST(HttpTls, PostsOverTlsToTheTrustedLoopbackServer) {
  const char* url = std::getenv("QUIB_TLS_URL");
  if (url == nullptr) {
    GTEST_SKIP() << "needs the HTTPS echo server of scripts/test.sh (45-https-echo.sh)";
  }
  CFinalEvent accepted;
  const std::string echo = Post(std::string(url) + "/login.php?s=1", accepted);
  ASSERT_EQ(accepted.type_, HttpEventDone) << accepted.text_;
  EXPECT_EQ(accepted.finals_, 1);
  EXPECT_EQ(accepted.sent_, 3);
  // What the server read after decryption: our request line, headers and body.
  EXPECT_EQ(echo.rfind("POST /login.php?s=1 HTTP/1.0\r\n", 0), 0u) << echo;
  const std::string body =
      "-----------------------------e2W7eajhJd09flh\r\n"
      "content-disposition: form-data; name=\"Password\"\r\n"
      "Content-Type: text/plain; charset=utf-8\r\n\r\nsecret\r\n"
      "-----------------------------e2W7eajhJd09flh\r\n"
      "content-disposition: form-data; name=\"Username\"\r\n"
      "Content-Type: text/plain; charset=utf-8\r\n\r\nanna\r\n"
      "-----------------------------e2W7eajhJd09flh--\r\n";
  EXPECT_NE(echo.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"),
            std::string::npos);
  EXPECT_NE(echo.find("\r\nUser-Agent: quib-uploader for Windows (Version 1.1.0.4)\r\n"),
            std::string::npos);
  ASSERT_GE(echo.size(), body.size());
  EXPECT_EQ(echo.substr(echo.size() - body.size()), body);
}

}  // namespace
