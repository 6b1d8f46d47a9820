#include "core/protocol/http_upload.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "core/protocol/multipart.h"
#include "tests/unit/fake_http_port.h"

namespace {

struct SeenEvent {
  int32_t type;
  std::string text;
  int32_t value1;
  int32_t value2;
  std::string command;
};

bool IsFinal(int32_t type) {
  return type == HttpEventCancelled || type == HttpEventError || type == HttpEventDone;
}

// Records events; an optional hook runs inside OnHttpEvent, on the worker.
class CRecorder : public IHttpListener {
 public:
  std::function<void(const HttpEvent&)> hook;

  void OnHttpEvent(const HttpEvent& event) override {
    if (hook) hook(event);
    std::lock_guard<std::mutex> guard(lock_);
    events_.push_back({event.type, event.text, event.value1, event.value2, event.command});
    if (IsFinal(event.type)) ++finals_;
    changed_.notify_all();
  }
  // Hang guard only: the events arrive long before it.
  bool WaitFinals(int count = 1) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(30), [&] { return finals_ >= count; });
  }
  std::vector<SeenEvent> Events() {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
  }
  std::vector<int32_t> Types() {
    std::vector<int32_t> types;
    for (const SeenEvent& e : Events()) types.push_back(e.type);
    return types;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<SeenEvent> events_;
  int finals_ = 0;
};

class CTempFile {
 public:
  explicit CTempFile(size_t size) {
    char name[] = "/tmp/http_upload_testXXXXXX";
    const int fd = mkstemp(name);
    close(fd);
    path_ = name;
    std::ofstream out(path_, std::ios::binary);
    for (size_t i = 0; i < size; ++i) out.put(static_cast<char>('a' + i % 26));
  }
  ~CTempFile() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class HttpUploadTest : public ::testing::Test {
 protected:
  HttpUploadTest() : state(std::make_shared<CFakeHttpState>()) {
    upload = std::make_unique<CHttpUpload>(std::make_unique<CFakeHttpPort>(state));
    upload->AddListener(&recorder);
  }
  ~HttpUploadTest() override { upload.reset(); }

  void AddLogInFields() {
    upload->AddField("Username", "anna");
    upload->AddField("Password", "secret");
    upload->AddField("Language", "en");
    upload->AddField("Version", "1.1.0.4");
  }
  // Runs one request to its final event and returns the events.
  std::vector<SeenEvent> RunRequest(const std::string& url = "http://albums.test/cgi/login",
                                    const std::string& command = "LogIn") {
    upload->Start(url, command);
    EXPECT_TRUE(recorder.WaitFinals());
    return recorder.Events();
  }
  FakeHttpRecord Record() {
    std::lock_guard<std::mutex> guard(state->lock);
    return state->record;
  }
  void ExpectOneFinal(int32_t type, const std::string& text) {
    const std::vector<SeenEvent> events = recorder.Events();
    ASSERT_FALSE(events.empty());
    for (size_t i = 0; i + 1 < events.size(); ++i) EXPECT_FALSE(IsFinal(events[i].type)) << i;
    EXPECT_EQ(events.back().type, type);
    EXPECT_EQ(events.back().text, text);
    // Nothing is left open, whatever the outcome.
    const FakeHttpRecord r = Record();
    EXPECT_EQ(r.connectionsAlive, 0);
    EXPECT_EQ(r.requestsAlive, 0);
    EXPECT_EQ(upload->GetFields().textFields.GetCount(), 0u);
    EXPECT_EQ(upload->GetFields().fileFields.GetCount(), 0u);
  }

  std::shared_ptr<CFakeHttpState> state;
  CRecorder recorder;
  std::unique_ptr<CHttpUpload> upload;
};

TEST_F(HttpUploadTest, LogInRequestIsPostedAndAnswered) {
  AddLogInFields();
  state->script.response = "0\r\nSId=abc\r\nUploadURL=http://x/u";
  const std::vector<SeenEvent> events = RunRequest("http://albums.test:8642/cgi/login?x", "LogIn");

  const FakeHttpRecord r = Record();
  EXPECT_EQ(r.host, "albums.test");
  EXPECT_EQ(r.port, 8642);
  EXPECT_FALSE(r.secure);
  EXPECT_EQ(r.verb, "POST");
  EXPECT_EQ(r.path, "/cgi/login?x");
  EXPECT_EQ(r.version, "HTTP/1.0");
  EXPECT_EQ(r.openFlags, 0x20000000u);

  const std::string expectedBody =
      quib::FormatTextPart("Password", "secret") + quib::FormatTextPart("Language", "en") +
      quib::FormatTextPart("Version", "1.1.0.4") + quib::FormatTextPart("Username", "anna") +
      quib::MultipartClosingDelimiter;
  EXPECT_EQ(r.body, expectedBody);
  EXPECT_EQ(r.totalLength, expectedBody.size());
  ASSERT_EQ(r.headers.size(), 3u);
  EXPECT_EQ(r.headers[0].first,
            "Content-Type: multipart/form-data;charset=utf-8;boundary="
            "---------------------------e2W7eajhJd09flh\r\n");
  EXPECT_EQ(r.headers[1].first, "Content-Length: " + std::to_string(expectedBody.size()) + "\r\n");
  EXPECT_EQ(r.headers[2].first, "User-Agent: quib-uploader for Windows (Version 1.1.0.4)\r\n");
  for (const auto& header : r.headers) EXPECT_EQ(header.second, 0xA0000000u);

  // Four text parts and the closing delimiter, then two reads of the answer.
  ASSERT_EQ(events.size(), 5u + 1u + 1u);
  uint32_t sent = 0;
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(events[i].type, HttpEventSent);
    sent += static_cast<uint32_t>(r.writeSizes[i]);
    EXPECT_EQ(events[i].value1, static_cast<int32_t>(sent));
    EXPECT_EQ(events[i].value2, static_cast<int32_t>(expectedBody.size()));
    EXPECT_TRUE(events[i].text.empty());
  }
  EXPECT_EQ(events[5].type, HttpEventReceived);
  EXPECT_EQ(events[5].value1, static_cast<int32_t>(state->script.response.size()));
  EXPECT_EQ(events[5].value2, 7);
  for (const SeenEvent& e : events) EXPECT_EQ(e.command, "LogIn");
  ExpectOneFinal(HttpEventDone, state->script.response);
}

TEST_F(HttpUploadTest, UploadSendsFileInChunksAndLongAnswerInBlocks) {
  CTempFile file(2500);
  upload->AddField("DirId", "7");
  upload->AddFile("ImageData", file.Path().c_str());
  state->script.response = "0" + std::string(2100, 'r');
  const std::vector<SeenEvent> events = RunRequest("albums.test/up?SId", "Upload");

  const FakeHttpRecord r = Record();
  // Part, file header, the file in one block, CR LF, closing delimiter.
  const std::vector<size_t> expectedWrites = {
      quib::FormatTextPart("DirId", "7").size(),
      quib::FormatFilePartHeader("ImageData", file.Path(), "image/jpeg").size(), 2500, 2, 48};
  EXPECT_EQ(r.writeSizes, expectedWrites);
  EXPECT_EQ(r.totalLength, r.body.size());
  const std::vector<int32_t> expectedTypes = {
      HttpEventSent,     HttpEventSent,     HttpEventSent, HttpEventReceived,
      HttpEventReceived, HttpEventReceived, HttpEventDone};
  EXPECT_EQ(recorder.Types(), expectedTypes);
  EXPECT_EQ(events[2].value1, static_cast<int32_t>(r.body.size()));
  EXPECT_EQ(events[3].value1, 1023);
  EXPECT_EQ(events[4].value1, 2046);
  EXPECT_EQ(events[5].value1, 2101);
  ExpectOneFinal(HttpEventDone, state->script.response);
}

TEST_F(HttpUploadTest, DirListBodyIsTheClosingDelimiterAndNulCutsTheBlock) {
  state->script.response = std::string("0\r\nA=1\0hidden", 13);
  RunRequest("http://h/dir?S", "DirList");
  EXPECT_EQ(Record().body, "-----------------------------e2W7eajhJd09flh--\r\n");
  EXPECT_EQ(Record().headers[1].first, "Content-Length: 48\r\n");
  ExpectOneFinal(HttpEventDone, "0\r\nA=1");
}

TEST_F(HttpUploadTest, EmptyAnswerGivesNoReceiveEvent) {
  RunRequest();
  EXPECT_EQ(recorder.Types(), (std::vector<int32_t>{HttpEventSent, HttpEventDone}));
  ExpectOneFinal(HttpEventDone, "");
}

TEST_F(HttpUploadTest, HttpsUsesTlsFlagAndPort443) {
  RunRequest("https://secure.test/login", "LogIn");
  const FakeHttpRecord r = Record();
  EXPECT_TRUE(r.secure);
  EXPECT_EQ(r.port, 443);
  EXPECT_EQ(r.openFlags, 0x20000000u | 0x00800000u);
  ExpectOneFinal(HttpEventDone, "");
}

// Every way a request can fail ends it with one error event after Reset.
TEST_F(HttpUploadTest, EveryFailureEndsWithOneErrorEvent) {
  struct Case {
    const char* name;
    std::function<void(FakeHttpScript&)> setUp;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"no connection", [](FakeHttpScript& s) { s.noConnection = true; },
       "CInternetSession::GetHttpConnection() failed."},
      {"connect raises", [](FakeHttpScript& s) { s.connectError = "Cannot connect"; },
       "Cannot connect"},
      {"no request", [](FakeHttpScript& s) { s.noRequest = true; },
       "CHttpConnection::OpenRequest() failed."},
      {"open raises", [](FakeHttpScript& s) { s.openError = "Bad handle"; }, "Bad handle"},
      {"header refused", [](FakeHttpScript& s) { s.headerError = "Bad header"; }, "Bad header"},
      {"start raises", [](FakeHttpScript& s) { s.sendError = "Name not resolved"; },
       "Name not resolved"},
      {"write fails", [](FakeHttpScript& s) { s.failWriteAt = 2; }, "write failed"},
      {"end fails", [](FakeHttpScript& s) { s.endError = "Connection reset"; }, "Connection reset"},
      {"status query fails", [](FakeHttpScript& s) { s.statusError = "No header"; }, "No header"},
      {"status 500", [](FakeHttpScript& s) { s.status = 500; }, "error"},
      {"status 404", [](FakeHttpScript& s) { s.status = 404; }, "error"},
      {"read fails",
       [](FakeHttpScript& s) {
         s.response = std::string(3000, 'x');
         s.failReadAt = 2;
         s.readError = "Connection aborted";
       },
       "Connection aborted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    state = std::make_shared<CFakeHttpState>();
    c.setUp(state->script);
    CRecorder listener;
    upload = std::make_unique<CHttpUpload>(std::make_unique<CFakeHttpPort>(state));
    upload->AddListener(&listener);
    AddLogInFields();
    upload->Start("http://h/p", "LogIn");
    ASSERT_TRUE(listener.WaitFinals());
    const std::vector<SeenEvent> events = listener.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().type, HttpEventError);
    EXPECT_EQ(events.back().text, c.text);
    EXPECT_EQ(events.back().command, "LogIn");
    int finals = 0;
    bool received = false;
    for (const SeenEvent& e : events) {
      finals += IsFinal(e.type) ? 1 : 0;
      received = received || e.type == HttpEventReceived;
    }
    EXPECT_EQ(finals, 1);
    if (c.text == "error") {
      EXPECT_FALSE(received);
    }
    upload.reset();  // waits for the worker
    EXPECT_EQ(state->record.connectionsAlive, 0);
    EXPECT_EQ(state->record.requestsAlive, 0);
    EXPECT_EQ(state->record.sessionCloses, 1);
  }
}

TEST_F(HttpUploadTest, FileThatVanishedOrChangedEndsWithError) {
  {
    CTempFile file(3000);
    upload->AddFile("ImageData", file.Path().c_str());
    // Shrinks the file after the length was computed, at the first event.
    const std::string path = file.Path();
    upload->AddField("DirId", "1");
    recorder.hook = [path](const HttpEvent& e) {
      if (e.type == HttpEventSent && e.value1 < 1000) std::filesystem::resize_file(path, 10);
    };
    RunRequest();
    ExpectOneFinal(HttpEventError, quib::MultipartErrorChanged(file.Path()));
    EXPECT_LT(Record().body.size(), Record().totalLength);
  }
  {
    CTempFile file(100);
    const std::string path = file.Path();
    upload->AddField("DirId", "1");
    upload->AddFile("ImageData", path.c_str());
    recorder.hook = [path](const HttpEvent& e) {
      if (e.type == HttpEventSent) std::remove(path.c_str());
    };
    upload->Start("h", "Upload");
    ASSERT_TRUE(recorder.WaitFinals(2));
    EXPECT_EQ(recorder.Events().back().type, HttpEventError);
    EXPECT_EQ(recorder.Events().back().text, quib::MultipartErrorCannotOpen(path));
  }
}

TEST_F(HttpUploadTest, BodyOf4GiBIsRefusedBeforeConnecting) {
  CTempFile file(0);
  std::error_code ec;
  std::filesystem::resize_file(file.Path(), 0x100000000ull, ec);  // sparse
  if (ec) GTEST_SKIP() << "no sparse file here";
  upload->AddFile("ImageData", file.Path().c_str());
  RunRequest();
  ExpectOneFinal(HttpEventError, quib::MultipartErrorTooLarge);
  EXPECT_TRUE(Record().host.empty());  // never connected
}

TEST_F(HttpUploadTest, ThreeListenersSeeEveryEventInRegistrationOrder) {
  std::vector<std::pair<int, int32_t>> order;
  std::mutex orderLock;
  CRecorder second, third;
  auto note = [&](int who) {
    return [&, who](const HttpEvent& e) {
      std::lock_guard<std::mutex> guard(orderLock);
      order.emplace_back(who, e.type);
    };
  };
  recorder.hook = note(1);
  second.hook = note(2);
  third.hook = note(3);
  upload->AddListener(&second);
  upload->AddListener(&third);
  AddLogInFields();
  state->script.response = "0\r\nSId=1";
  RunRequest();
  ASSERT_TRUE(third.WaitFinals());
  ASSERT_EQ(order.size(), 3 * recorder.Events().size());
  for (size_t i = 0; i < order.size(); i += 3) {
    EXPECT_EQ(order[i].first, 1);
    EXPECT_EQ(order[i + 1].first, 2);
    EXPECT_EQ(order[i + 2].first, 3);
    EXPECT_EQ(order[i].second, order[i + 2].second);
  }
  EXPECT_EQ(order.back().second, HttpEventDone);
}

TEST_F(HttpUploadTest, ResetComesBeforeTheFinalEvent) {
  AddLogInFields();
  bool checked = false;
  recorder.hook = [&](const HttpEvent& e) {
    if (!IsFinal(e.type)) return;
    EXPECT_EQ(upload->GetFields().textFields.GetCount(), 0u);
    EXPECT_TRUE(upload->GetHost().empty());
    EXPECT_TRUE(upload->GetObjectPath().empty());
    EXPECT_EQ(upload->GetPort(), 80);
    std::lock_guard<std::mutex> guard(state->lock);
    EXPECT_EQ(state->record.requestsAlive, 0);
    EXPECT_EQ(state->record.connectionsAlive, 0);
    checked = true;
  };
  RunRequest("http://h:99/p");
  EXPECT_TRUE(checked);
}

TEST_F(HttpUploadTest, NextRequestStartsFromInsideTheFinalEvent) {
  AddLogInFields();
  state->script.response = "0\r\nSId=1";
  recorder.hook = [&](const HttpEvent& e) {
    if (e.type == HttpEventDone && e.command == "LogIn") {
      upload->AddField("DirName", "Holiday");
      upload->Start("http://h2:81/create?1", "CreateDir");
    }
  };
  upload->Start("http://h/login", "LogIn");
  ASSERT_TRUE(recorder.WaitFinals(2));
  // The second request may end before the first one's final event is
  // recorded: count the final events of each.
  int logInDone = 0, createDirDone = 0;
  for (const SeenEvent& e : recorder.Events()) {
    if (e.type != HttpEventDone) continue;
    logInDone += e.command == "LogIn" ? 1 : 0;
    createDirDone += e.command == "CreateDir" ? 1 : 0;
  }
  EXPECT_EQ(logInDone, 1);
  EXPECT_EQ(createDirDone, 1);
  const FakeHttpRecord r = Record();
  EXPECT_EQ(r.requestsOpened, 2);
  EXPECT_EQ(r.host, "h2");
  EXPECT_EQ(r.path, "/create?1");
  // The fake keeps the second body after the first: it ends with the new part.
  const std::string part =
      quib::FormatTextPart("DirName", "Holiday") + quib::MultipartClosingDelimiter;
  EXPECT_EQ(r.body.substr(r.body.size() - part.size()), part);
}

TEST_F(HttpUploadTest, OwnerMayDeleteTheClientInsideTheFinalEvent) {
  bool deleted = false;
  recorder.hook = [&](const HttpEvent& e) {
    if (IsFinal(e.type)) {
      upload.reset();  // on the worker: must not wait for itself
      deleted = true;
    }
  };
  upload->Start("h", "DirList");
  ASSERT_TRUE(recorder.WaitFinals());
  EXPECT_TRUE(deleted);
  EXPECT_EQ(Record().sessionCloses, 1);
}

TEST_F(HttpUploadTest, DestructorWaitsForTheRunningRequest) {
  state->script.stallEnd = true;
  upload->Start("h", "DirList");
  ASSERT_TRUE(state->WaitStalled());
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard<std::mutex> guard(state->lock);
    state->script.stallEnd = false;
    state->record.aborted = true;  // the server gives up
    state->changed.notify_all();
  });
  upload.reset();
  // The final event was delivered before the destructor returned.
  EXPECT_EQ(recorder.Events().size(), 2u);
  EXPECT_EQ(recorder.Events().back().type, HttpEventError);
  releaser.join();
}

class CNoThreadUpload : public CHttpUpload {
 public:
  using CHttpUpload::CHttpUpload;

 protected:
  void StartWorker(std::function<void()>) override {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  }
};

TEST_F(HttpUploadTest, ThreadThatCannotBeCreatedEndsWithError) {
  CNoThreadUpload noThread(std::make_unique<CFakeHttpPort>(state));
  CRecorder listener;
  noThread.AddListener(&listener);
  noThread.AddField("DirName", "x");
  noThread.Start("h", "CreateDir");
  const std::vector<SeenEvent> events = listener.Events();  // delivered before Start returns
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, HttpEventError);
  EXPECT_EQ(
      events[0].text,
      std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)).what());
  EXPECT_EQ(events[0].command, "CreateDir");
  EXPECT_EQ(noThread.GetFields().textFields.GetCount(), 0u);
}

// Cancel at each cancellation test: before each text part and each file
// chunk (requested from inside the event before it), and while reading.
TEST_F(HttpUploadTest, CancelAtEachTestPointGivesOneCancelledEvent) {
  CTempFile file(2500);
  // Sent events of this request: 2 text parts, the file in one block,
  // closing delimiter; then three reads of the answer.
  for (int cancelAfter = 1; cancelAfter <= 6; ++cancelAfter) {
    SCOPED_TRACE(cancelAfter);
    state = std::make_shared<CFakeHttpState>();
    state->script.response = std::string(2500, 'z');
    CRecorder listener;
    upload = std::make_unique<CHttpUpload>(std::make_unique<CFakeHttpPort>(state));
    upload->AddListener(&listener);
    upload->AddField("DirId", "3");
    upload->AddField("Desc", "d");
    upload->AddFile("ImageData", file.Path().c_str());
    int seen = 0;
    CHttpUpload* client = upload.get();
    listener.hook = [&](const HttpEvent& e) {
      if (!IsFinal(e.type) && ++seen == cancelAfter) client->Cancel();
    };
    upload->Start("h", "Upload");
    ASSERT_TRUE(listener.WaitFinals());
    const std::vector<SeenEvent> events = listener.Events();
    ASSERT_EQ(events.size(), static_cast<size_t>(cancelAfter) + 1);
    EXPECT_EQ(events.back().type, HttpEventCancelled);
    EXPECT_TRUE(events.back().text.empty());
    EXPECT_EQ(events.back().command, "Upload");
    EXPECT_EQ(upload->GetFields().fileFields.GetCount(), 0u);
    upload.reset();
    EXPECT_EQ(state->record.requestsAlive, 0);
  }
}

TEST_F(HttpUploadTest, CancelAbortsAStalledServer) {
  for (bool stallInRead : {false, true}) {
    SCOPED_TRACE(stallInRead);
    state = std::make_shared<CFakeHttpState>();
    state->script.stallEnd = !stallInRead;
    state->script.stallRead = stallInRead;
    CRecorder listener;
    upload = std::make_unique<CHttpUpload>(std::make_unique<CFakeHttpPort>(state));
    upload->AddListener(&listener);
    upload->Start("h", "DirList");
    ASSERT_TRUE(state->WaitStalled());
    upload->Cancel();
    ASSERT_TRUE(listener.WaitFinals());
    EXPECT_EQ(listener.Types(), (std::vector<int32_t>{HttpEventSent, HttpEventCancelled}));
    EXPECT_TRUE(state->record.aborted);
  }
}

TEST_F(HttpUploadTest, CancelBeforeStartCancelsEveryLaterRequest) {
  upload->Cancel();
  AddLogInFields();
  RunRequest();
  ExpectOneFinal(HttpEventCancelled, "");
  EXPECT_TRUE(upload->IsCancelRequested());
  upload->AddField("DirName", "x");
  upload->Start("h", "CreateDir");
  ASSERT_TRUE(recorder.WaitFinals(2));
  EXPECT_EQ(recorder.Events().back().type, HttpEventCancelled);
  EXPECT_EQ(recorder.Events().back().command, "CreateDir");
}

TEST_F(HttpUploadTest, ComputeContentLengthMatchesTheSentBody) {
  CTempFile file(1500);
  upload->AddField("DirName", "abc");
  upload->AddFile("ImageData", file.Path().c_str());
  const uint32_t length = upload->ComputeContentLength();
  RunRequest();
  EXPECT_EQ(length, Record().body.size());
  EXPECT_EQ(length, Record().totalLength);
}

// A server that stopped reading, on a platform whose write cannot be aborted:
// a cancelled request is not waited for. Its owner goes at once, and the
// request ends on its own thread once the write returns, telling nobody and
// leaving nothing open.
TEST_F(HttpUploadTest, CancelledOwnerDoesNotWaitForAWriteThatCannotBeAborted) {
  CTempFile file(5000);
  state->script.stallWriteAt = 3;  // the CR LF after the file's one block
  upload->AddField("DirId", "1");
  upload->AddFile("ImageData", file.Path().c_str());
  upload->Start("h", "Upload");
  ASSERT_TRUE(state->WaitStalled());
  upload->Cancel();
  const size_t eventsBefore = recorder.Events().size();

  // The server gives up once the owner is gone, or after 5 s when the owner
  // waits for the write.
  std::mutex lock;
  std::condition_variable changed;
  bool ownerGone = false;
  bool gaveUpFirst = false;
  std::thread server([&] {
    {
      std::unique_lock<std::mutex> guard(lock);
      gaveUpFirst = !changed.wait_for(guard, std::chrono::seconds(5), [&] { return ownerGone; });
    }
    std::lock_guard<std::mutex> guard(state->lock);
    state->script.releaseWrite = true;
    state->changed.notify_all();
  });
  upload.reset();
  // Closing the session now would pull the handles from under the write.
  EXPECT_EQ(Record().sessionCloses, 0);
  {
    std::lock_guard<std::mutex> guard(lock);
    ownerGone = true;
    changed.notify_all();
  }
  server.join();
  EXPECT_FALSE(gaveUpFirst) << "the owner waited for the stuck write";

  // The session stays open while the request uses it. The request cleans up
  // after itself once the write has returned: its handles, then the session.
  bool closed = false;
  for (int i = 0; i < 500 && !closed; ++i) {
    {
      std::lock_guard<std::mutex> guard(state->lock);
      closed = state->record.requestsAlive == 0 && state->record.connectionsAlive == 0 &&
               state->record.sessionCloses == 1;
    }
    if (!closed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(closed) << "request, connection or session still open 5 s after the write returned";
  EXPECT_EQ(recorder.Events().size(), eventsBefore);
  EXPECT_TRUE(Record().aborted);
  EXPECT_EQ(Record().sessionCloses, 1);
}

// An answer that ends before its Content-Length was cut or reset on the way:
// its first lines are no answer. Bytes after a NUL still count as received.
TEST_F(HttpUploadTest, AnswerShorterThanItsContentLengthFails) {
  struct Case {
    const char* name;
    std::string response;
    int64_t contentLength;
    int32_t type;
    std::string text;
  };
  const std::string whole("0\r\nDirId=42\r\n", 13);
  const std::string withNul("0\r\nA=1\0hidden", 13);
  const std::vector<Case> cases = {
      {"cut after the digit", "0", 13, HttpEventError, HttpErrorCutShort},
      {"cut mid-line", "0\r\nDirI", 13, HttpEventError, HttpErrorCutShort},
      {"whole", whole, 13, HttpEventDone, whole},
      {"whole with a NUL", withNul, 13, HttpEventDone, "0\r\nA=1"},
      {"no length announced", "0", -1, HttpEventDone, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    state = std::make_shared<CFakeHttpState>();
    state->script.response = c.response;
    state->script.contentLength = c.contentLength;
    CRecorder listener;
    upload = std::make_unique<CHttpUpload>(std::make_unique<CFakeHttpPort>(state));
    upload->AddListener(&listener);
    upload->Start("http://h/createdir?S", "CreateDir");
    ASSERT_TRUE(listener.WaitFinals());
    const std::vector<SeenEvent> events = listener.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().type, c.type);
    EXPECT_EQ(events.back().text, c.text);
    upload.reset();
  }
}

}  // namespace
