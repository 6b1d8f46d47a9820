// The service client: the event dispatch table, the status digits of every
// command, the answer readings, and whole requests over a scripted HTTP port.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/protocol/multipart.h"
#include "core/service/service_client.h"
#include "tests/unit/fake_http_port.h"

namespace {

// Records every listener call as a line of text.
class CRecordingListener : public IServiceListener {
 public:
  void OnUploadProgress(int sent, int total) override {
    Add("UploadProgress(" + std::to_string(sent) + "," + std::to_string(total) + ")", false);
  }
  void OnResponseProgress(int received, int available) override {
    Add("ResponseProgress(" + std::to_string(received) + "," + std::to_string(available) + ")",
        false);
  }
  void OnLogInDone(int result) override { Add("LogInDone(" + std::to_string(result) + ")", true); }
  void OnDirListDone(CAlbumList* list, int result) override {
    std::string text = "DirListDone(";
    if (!list) {
      text += "null";
    } else {
      text += "[";
      std::string id, name;
      for (int i = 0; list->GetAt(i, id, name); ++i) text += (i ? "," : "") + id + ":" + name;
      text += "]";
      delete list;
    }
    Add(text + "," + std::to_string(result) + ")", true);
  }
  void OnCreateDirDone(int albumId, int result) override {
    Add("CreateDirDone(" + std::to_string(albumId) + "," + std::to_string(result) + ")", true);
  }
  void OnUploadDone(int result) override {
    Add("UploadDone(" + std::to_string(result) + ")", true);
  }
  void OnAborted() override { Add("Aborted", true); }

  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> out;
    out.swap(calls_);
    finals_ = 0;
    return out;
  }
  bool WaitFinal() {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(30), [&] { return finals_ > 0; });
  }
  std::string Last() {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_.empty() ? "" : calls_.back();
  }

 protected:
  void Add(const std::string& call, bool final) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(call);
    finals_ += final;
    changed_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> calls_;
  int finals_ = 0;
};

HttpEvent Event(int type, const std::string& command, const std::string& text = "", int v1 = 0,
                int v2 = 0) {
  HttpEvent e;
  e.type = type;
  e.command = command;
  e.text = text;
  e.value1 = v1;
  e.value2 = v2;
  return e;
}

class ServiceClientTest : public ::testing::Test {
 protected:
  ServiceClientTest() : state(std::make_shared<CFakeHttpState>()) { MakeClient(); }
  ~ServiceClientTest() override { client.reset(); }

  void MakeClient() {
    client.reset();
    client = std::make_unique<CServiceClient>(
        &listener, std::make_unique<CHttpUpload>(std::make_unique<CFakeHttpPort>(state)));
  }
  // The listener calls that one synthetic event produces.
  std::vector<std::string> Dispatch(const HttpEvent& event) {
    listener.Take();
    client->OnHttpEvent(event);
    return listener.Take();
  }
  std::string Answer(const std::string& command, const std::string& text) {
    std::vector<std::string> calls = Dispatch(Event(HttpEventDone, command, text));
    return calls.size() == 1 ? calls[0] : "calls: " + std::to_string(calls.size());
  }
  // Runs a real request over the fake port with the given answer.
  std::vector<std::string> Serve(const std::string& answer, void (*start)(CServiceClient&)) {
    {
      std::lock_guard<std::mutex> guard(state->lock);
      state->script.response = answer;
      state->record = FakeHttpRecord();
    }
    listener.Take();
    start(*client);
    EXPECT_TRUE(listener.WaitFinal());
    return listener.Take();
  }
  FakeHttpRecord Record() {
    std::lock_guard<std::mutex> guard(state->lock);
    return state->record;
  }
  static void StartLogIn(CServiceClient& c) {
    c.LogIn("http://albums.test:8642/login.php", "anna", "s3cret", "DE", "1.0");
  }

  std::shared_ptr<CFakeHttpState> state;
  CRecordingListener listener;
  std::unique_ptr<CServiceClient> client;
};

TEST_F(ServiceClientTest, DispatchTableCoversEveryEventOfEveryCommand) {
  struct Row {
    const char* command;
    std::vector<std::string> error, sent, received;
  } rows[] = {
      {"LogIn", {"LogInDone(-2)"}, {}, {}},
      {"DirList", {"DirListDone(null,-2)"}, {}, {}},
      {"CreateDir", {"CreateDirDone(0,-2)"}, {}, {}},
      {"Upload", {"UploadDone(-2)"}, {"UploadProgress(10,300)"}, {"ResponseProgress(3,9)"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    EXPECT_EQ(Dispatch(Event(HttpEventCancelled, row.command)),
              std::vector<std::string>{"Aborted"});
    EXPECT_EQ(Dispatch(Event(HttpEventError, row.command, "Cannot connect")), row.error);
    EXPECT_EQ(Dispatch(Event(HttpEventSent, row.command, "", 10, 300)), row.sent);
    EXPECT_EQ(Dispatch(Event(HttpEventReceived, row.command, "", 3, 9)), row.received);
    EXPECT_EQ(Dispatch(Event(HttpEventDone, row.command, "0\r\nDirId=4\r\n")).size(), 1u);
  }
  // A cancellation is reported before the command is looked at; anything
  // else of an unknown command (names compare case-sensitively) is ignored.
  EXPECT_EQ(Dispatch(Event(HttpEventCancelled, "Other")), std::vector<std::string>{"Aborted"});
  for (int type : {HttpEventError, HttpEventSent, HttpEventReceived, HttpEventDone})
    for (const char* command : {"login", "Uploads", ""})
      EXPECT_TRUE(Dispatch(Event(type, command, "0")).empty()) << type << command;
}

TEST_F(ServiceClientTest, StatusDigitDecidesEveryCommandsResult) {
  struct Row {
    const char* command;
    const char* on0;
    const char* on2;
    const char* on3;
    const char* other;
  } rows[] = {
      {"LogIn", "LogInDone(0)", "LogInDone(-1)", "LogInDone(-2)", "LogInDone(-2)"},
      {"DirList", "DirListDone([],0)", "DirListDone(null,-3)", "DirListDone(null,-2)",
       "DirListDone(null,-2)"},
      {"CreateDir", "CreateDirDone(12,0)", "CreateDirDone(0,-6)", "CreateDirDone(0,-2)",
       "CreateDirDone(0,-2)"},
      {"Upload", "UploadDone(0)", "UploadDone(-4)", "UploadDone(-5)", "UploadDone(-2)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    EXPECT_EQ(Answer(row.command, "0\r\nDirId=12\r\n\r\n"), row.on0);
    EXPECT_EQ(Answer(row.command, "2\r\nDirId=12\r\n"), row.on2);
    EXPECT_EQ(Answer(row.command, "3\r\nDirId=12\r\n"), row.on3);
    for (const char* text : {"1\r\nDirId=12", "9", "", " 0", "X=0"})
      EXPECT_EQ(Answer(row.command, text), row.other) << "[" << text << "]";
  }
}

TEST_F(ServiceClientTest, DirListAnswersGiveAlbumsInAnswerOrder) {
  const std::string seven = "0\r\na\r\nb\r\nid=5\r\nname=Holiday\r\nid=7\r\nname=Work";
  EXPECT_EQ(Answer("DirList", seven), "DirListDone([5:Holiday,7:Work],0)");
  EXPECT_EQ(Answer("DirList", seven + "\r\nid=9"), "DirListDone([5:Holiday,7:Work,9:],0)");
  EXPECT_EQ(Answer("DirList", "0\r\n\r\n\r\n"), "DirListDone([],0)");
  EXPECT_EQ(Answer("DirList", ""), "DirListDone(null,-2)");
  // Names before "=" are not looked at; names arrive in UTF-8 and are
  // handed on as they are.
  EXPECT_EQ(Answer("DirList",
                   "0\r\nx\r\ny\r\nfoo=3\r\nbar=Gr\xc3\xbc\xc3\x9f"
                   "e\r\n"),
            "DirListDone([3:Gr\xc3\xbc\xc3\x9f"
            "e],0)");
  // Fewer than three CR LF: read without failing or looping.
  EXPECT_EQ(Answer("DirList", "0\r\nid=1").substr(0, 12), "DirListDone(");
  EXPECT_EQ(Answer("DirList", "0").substr(0, 12), "DirListDone(");
}

TEST_F(ServiceClientTest, CreateDirAnswersGiveTheNewId) {
  EXPECT_EQ(Answer("CreateDir", "0\r\nx=17"), "CreateDirDone(17,0)");
  EXPECT_EQ(Answer("CreateDir", "0\r\n\r\nDirId=  -4abc\r\nDirId=9\r\n"), "CreateDirDone(-4,0)");
  EXPECT_EQ(Answer("CreateDir", "0\r\nDirId=none"), "CreateDirDone(0,0)");
  EXPECT_EQ(Answer("CreateDir", "0"), "CreateDirDone(0,-2)");
  EXPECT_EQ(Answer("CreateDir", "0\r\n\r\n"), "CreateDirDone(0,-2)");
  EXPECT_EQ(Answer("CreateDir", "2\r\nDirId=17"), "CreateDirDone(0,-6)");
}

TEST_F(ServiceClientTest, LogInStoresLinesAndCommandsPostToTheNamedUrls) {
  EXPECT_EQ(Serve("0\r\nSId=abc\r\nDirListURL=http://albums.test:81/dl.php\r\n"
                  "CreateDirURL=http://albums.test/cd.php\r\nUploadURL=http://up.test:82/u/up.php",
                  StartLogIn),
            std::vector<std::string>{"LogInDone(0)"});
  FakeHttpRecord login = Record();
  EXPECT_EQ(login.host, "albums.test");
  EXPECT_EQ(login.port, 8642);
  EXPECT_EQ(login.path, "/login.php");
  // The field map puts the login parts in this order on the wire.
  size_t p = login.body.find(
      "name=\"Password\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\ns3cret\r\n");
  size_t l =
      login.body.find("name=\"Language\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nDE\r\n");
  size_t v =
      login.body.find("name=\"Version\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n1.0\r\n");
  size_t u = login.body.find(
      "name=\"Username\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nanna\r\n");
  ASSERT_NE(u, std::string::npos);
  EXPECT_TRUE(p < l && l < v && v < u) << login.body;

  Serve("0\r\nq\r\nr\r\n", [](CServiceClient& c) { c.DirList(); });
  FakeHttpRecord dirList = Record();
  EXPECT_EQ(dirList.port, 81);
  EXPECT_EQ(dirList.path, "/dl.php?abc");
  EXPECT_EQ(dirList.body, "-----------------------------e2W7eajhJd09flh--\r\n");

  EXPECT_EQ(Serve("0\r\nDirId=8",
                  [](CServiceClient& c) {
                    c.CreateDir(
                        "Gr\xc3\xbc\xc3\x9f"
                        "e");
                  }),
            std::vector<std::string>{"CreateDirDone(8,0)"});
  EXPECT_EQ(Record().path, "/cd.php?abc");
  EXPECT_NE(
      Record().body.find(
          "name=\"DirName\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nGr\xc3\xbc\xc3\x9f"
          "e\r\n"),
      std::string::npos);

  // A second login without SId keeps the first key; its new URL wins.
  Serve("0\r\nUploadURL=http://up.test:83/v2/up.php\r\nsid=lower", StartLogIn);
  std::string sid;
  ASSERT_TRUE(client->GetResponseDoc().Lookup("SId", sid));
  EXPECT_EQ(sid, "abc");

  char path[] = "/tmp/service-client-test-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  // Two full blocks and part of a third.
  std::ofstream(path, std::ios::binary)
      << std::string(2 * quib::CMultipartBody::FileBlockSize + 452, 'p');
  static std::string file;
  file = path;
  std::vector<std::string> calls = Serve("0", [](CServiceClient& c) {
    c.Upload(4294967295u, "Sonne.jpg", "sun", "Abend", "image/jpeg", file);
  });
  std::remove(path);
  FakeHttpRecord up = Record();
  EXPECT_EQ(up.host, "up.test");
  EXPECT_EQ(up.port, 83);
  EXPECT_EQ(up.path, "/v2/up.php?abc");
  const char* order[] = {
      "name=\"Desc\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nAbend\r\n",
      "name=\"DirId\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n4294967295\r\n",
      "name=\"Filename\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nSonne.jpg\r\n",
      "name=\"MimeType\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nimage/jpeg\r\n",
      "name=\"Keyword\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nsun\r\n",
      "name=\"ImageData\"; filename=\""};
  size_t last = 0;
  for (const char* part : order) {
    size_t at = up.body.find(part);
    ASSERT_NE(at, std::string::npos) << part;
    EXPECT_GT(at, last) << part;
    last = at;
  }
  // Send progress after each text part, each file chunk and the end; then
  // the answer's progress and the result.
  ASSERT_EQ(calls.size(), 5u + 3u + 1u + 1u + 1u);
  EXPECT_EQ(calls[7], "UploadProgress(" + std::to_string(up.totalLength - 50) + "," +
                          std::to_string(up.totalLength) + ")");
  EXPECT_EQ(calls[8], "UploadProgress(" + std::to_string(up.totalLength) + "," +
                          std::to_string(up.totalLength) + ")");
  EXPECT_EQ(calls[9], "ResponseProgress(1,7)");
  EXPECT_EQ(calls[10], "UploadDone(0)");
}

TEST_F(ServiceClientTest, OnlyUploadsReportProgress) {
  // A long answer arrives in several reads, each a receive event of the transport.
  std::string longAnswer = "0\r\nSId=k\r\n" + std::string(3000, 'x');
  EXPECT_EQ(Serve(longAnswer, StartLogIn), std::vector<std::string>{"LogInDone(0)"});
  EXPECT_EQ(
      Serve("0\r\n\r\n\r\n" + std::string(3000, '\n'), [](CServiceClient& c) { c.DirList(); }),
      std::vector<std::string>{"DirListDone([],0)"});
  EXPECT_EQ(
      Serve("0\r\nDirId=3" + std::string(3000, '\r'), [](CServiceClient& c) { c.CreateDir("n"); }),
      std::vector<std::string>{"CreateDirDone(3,0)"});
}

TEST_F(ServiceClientTest, CommandsBeforeLogInAndTransportFailuresEndWithFailed) {
  // No login yet: the URL is "?" alone, which names no server.
  {
    std::lock_guard<std::mutex> guard(state->lock);
    state->script.noConnection = true;
  }
  EXPECT_EQ(Serve("0", [](CServiceClient& c) { c.DirList(); }),
            std::vector<std::string>{"DirListDone(null,-2)"});
  EXPECT_EQ(Record().host, "?");
  {
    std::lock_guard<std::mutex> guard(state->lock);
    state->script.noConnection = false;
  }
  {
    std::lock_guard<std::mutex> guard(state->lock);
    state->script.status = 500;
  }
  EXPECT_EQ(Serve("0\r\nSId=x", StartLogIn), std::vector<std::string>{"LogInDone(-2)"});
  std::string sid;
  EXPECT_FALSE(client->GetResponseDoc().Lookup("SId", sid));
}

TEST_F(ServiceClientTest, CancelledRequestsEndWithAbortedOnly) {
  {
    std::lock_guard<std::mutex> guard(state->lock);
    state->script.stallEnd = true;
    state->script.response = "0\r\nSId=x";
  }
  StartLogIn(*client);
  ASSERT_TRUE(state->WaitStalled());
  client->Abort();
  ASSERT_TRUE(listener.WaitFinal());
  EXPECT_EQ(listener.Take(), std::vector<std::string>{"Aborted"});
  // The flag stays: every later request of this client is cancelled too.
  {
    std::lock_guard<std::mutex> guard(state->lock);
    state->script.stallEnd = false;
  }
  std::vector<std::string> calls =
      Serve("0\r\nDirId=1", [](CServiceClient& c) { c.CreateDir("n"); });
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "Aborted");
  for (const std::string& call : calls) EXPECT_EQ(call.find("Done"), std::string::npos) << call;
}

// The settings dialog deletes its client from inside the final call.
TEST(ServiceClientLifetime, ListenerMayDeleteTheClientInTheFinalCall) {
  struct CDeleter : CRecordingListener {
    std::unique_ptr<CServiceClient> owned;
    void OnLogInDone(int result) override {
      owned.reset();
      CRecordingListener::OnLogInDone(result);
    }
  } listener;
  auto state = std::make_shared<CFakeHttpState>();
  state->script.response = "2";
  listener.owned = std::make_unique<CServiceClient>(
      &listener, std::make_unique<CHttpUpload>(std::make_unique<CFakeHttpPort>(state)));
  listener.owned->LogIn("http://a.test/login.php", "u", "p", "DE", "1.0");
  ASSERT_TRUE(listener.WaitFinal());
  EXPECT_EQ(listener.Calls(), std::vector<std::string>{"LogInDone(-1)"});
  // Give the worker a moment to leave; the sanitizers catch any later use.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::lock_guard<std::mutex> guard(state->lock);
  EXPECT_GE(state->record.sessionCloses, 1);
  EXPECT_EQ(state->record.connectionsAlive, 0);
}

TEST(AlbumList, KeepsPairsInOrder) {
  CAlbumList list;
  std::string id = "unchanged", name = "unchanged";
  EXPECT_FALSE(list.GetAt(0, id, name));
  EXPECT_EQ(id, "unchanged");
  list.Add("5", "Holiday");
  list.Add("7", "");
  EXPECT_EQ(list.Count(), 2);
  ASSERT_TRUE(list.GetAt(1, id, name));
  EXPECT_EQ(id, "7");
  EXPECT_EQ(name, "");
  ASSERT_TRUE(list.GetAt(0, id, name));
  EXPECT_EQ(name, "Holiday");
  EXPECT_FALSE(list.GetAt(2, id, name));
}

}  // namespace
