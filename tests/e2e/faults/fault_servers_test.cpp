// Servers that behave otherwise than the album service, scripted at the
// program's login address: one that answers at once (before the transfer
// window exists), one that answers late, one that never answers, and one
// that stops reading the request body. The run goes on, or the user can
// end it at once, and the list keeps every file that did not go up.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/faults/fault_support.h"
#include "tests/e2e/faults/scripted_server.h"

using namespace e2e;

namespace {

const char kAlbums[] =
    "0\r\nCount=2\r\nUser=tester\r\nId=5\r\nName=Holiday\r\nId=7\r\nName=Work\r\n";
const char kStored[] = "0\r\nMediaId=1\r\n";

CScript At(AnswerTime time, const std::string& body) {
  CScript script = Reply(body);
  script.time = time;
  return script;
}

int BarPosition(HWND transfer) {
  return static_cast<int>(
      SendMessageA(GetDlgItem(transfer, IDC_TRANSFER_PROGRESS), PBM_GETPOS, 0, 0));
}

class FaultServers : public CFaultTest {
 protected:
  static void SetUpTestSuite() {
    if (!UploadServiceUrl().empty() || !EnvVar("QUIB_UPLOAD_SERVICE_ERROR").empty())
      lease_ = new CServicePortLease;
  }
  static void TearDownTestSuite() {
    if (!lease_) return;
    const std::string error = lease_->GiveBack();
    delete lease_;
    lease_ = nullptr;
    if (!error.empty()) ADD_FAILURE() << error;
  }

  void SetUp() override {
    if (!lease_) GTEST_SKIP() << "QUIB_UPLOAD_SERVICE_URL is not set";
    ASSERT_EQ(lease_->Error(), "");
    CFaultTest::SetUp();
    StoreCredentials("tester", "secret");
    // Unless a test says otherwise, the login answer waits for the transfer
    // window: an answer before the window is AnswersAtOnce's subject.
    Server().On("/login.php", Late(Reply(Server().LogInAnswer())));
    Server().On("/dirlist.php", Reply(kAlbums));
    Server().On("/upload.php", Reply(kStored));
  }
  void TearDown() override {
    if (HasFailure() && lease_ && lease_->Error().empty())
      printf("requests this suite's server got so far:\n%s", Server().Describe().c_str());
    // Held connections go before the program does.
    if (lease_ && lease_->Error().empty()) Server().Hangup();
    CFaultTest::TearDown();
  }

  CScriptedServer& Server() { return lease_->Server(); }

  // Cancels the run in its transfer dialog; the dialog must go at once,
  // without a message.
  void CancelAndExpectPromptEnd(HWND transfer, const std::string& what) {
    const DWORD start = GetTickCount();
    PostClick(transfer, IDC_TRANSFER_CANCEL);
    ASSERT_TRUE(WaitWindowGone(transfer, 20000))
        << "the transfer dialog stayed 20 s after Cancel (" << what << ")";
    const DWORD took = GetTickCount() - start;
    EXPECT_LT(took, 5000u) << "ms from Cancel until the transfer dialog was gone (" << what << ")";
    EXPECT_EQ(WaitForMessageBox(Pid(), 1500), nullptr) << "a message after Cancel (" << what << ")";
    ExpectAlive();
  }

  void Finish() {
    Quit();
    ExpectUserFilesIntact();
    ExpectNoTempCopies();
  }

  static CServicePortLease* lease_;
};

CServicePortLease* FaultServers::lease_ = nullptr;

// Each answer is sent as soon as the request head is in, before its body:
// the login answer is there before the transfer window is made. A refusal
// first, then two runs, since how soon the window comes varies.
TEST_F(FaultServers, AnswersAtOnce) {
  StoreProfileInt("AskFolder", 1);
  Server().On("/dirlist.php", At(AnswerTime::AtHead, kAlbums));
  Server().On("/upload.php", At(AnswerTime::AtHead, kStored));
  const std::string a = Picture("a.jpg", 120, 90, RGB(200, 30, 30));
  const std::string b = Picture("b.png", 90, 120, RGB(30, 30, 200));
  Start({a, b});

  Server().On("/login.php", At(AnswerTime::AtHead, "2\r\nError=wrong password\r\n"));
  PressUpload();
  Answer("You need valid username and password to upload files.", "fault-at-once-refused");
  ExpectRunEnded();
  if (HasFatalFailure()) return;
  EXPECT_EQ(Captions(), (std::vector<std::string>{"a.jpg", "b.png"}));

  Server().On("/login.php", At(AnswerTime::AtHead, Server().LogInAnswer()));
  const size_t uploads = Server().Count("/upload.php");
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run + 1));
    if (run > 0) Hand({a, b});
    PressUpload();
    HWND folder = Dialog("Select album", 30000);
    if (!folder) SaveScreenshot(Transfer(100), "fault-at-once-stuck");
    ASSERT_TRUE(folder) << "no album dialog within 30 s: the run stays at \"LogIn...\"";
    PostClick(folder, IDC_FOLDER_OK);
    Answer("2 file(s) successfully uploaded.", "fault-at-once-final");
    ExpectRunEnded();
    if (HasFatalFailure()) return;
    EXPECT_TRUE(WaitUntil([&] { return Captions().empty(); }, 10000));
  }
  EXPECT_EQ(Server().Count("/upload.php"), uploads + 4);
  Finish();
}

// The server keeps every answer until the test has seen the transfer window
// waiting for it.
TEST_F(FaultServers, AnswersLate) {
  StoreProfileInt("AskFolder", 0);
  Server().On("/login.php", At(AnswerTime::OnRelease, Server().LogInAnswer()));
  Server().On("/upload.php", At(AnswerTime::OnRelease, kStored));
  const std::string a = Picture("a.jpg", 120, 90, RGB(200, 30, 30));
  const std::string movie = Movie("clip.flv", 3 * 1024 * 1024);
  Start({a, movie});
  // The suite's server has seen the other tests' requests too.
  const size_t logins = Server().Count("/login.php");
  const size_t uploads = Server().Count("/upload.php");
  PressUpload();
  HWND transfer = Transfer();
  ASSERT_TRUE(transfer);
  ASSERT_TRUE(Server().WaitFor("/login.php", logins + 1, true, 30000)) << "no login request";
  SaveScreenshot(transfer, "fault-late-login");
  Server().Release();
  // The movie's body is all out: the bar stands at 100 while the answer waits.
  ASSERT_TRUE(Server().WaitFor("/upload.php", uploads + 1, true, 60000))
      << "the movie's body did not arrive";
  EXPECT_TRUE(WaitUntil([&] { return BarPosition(transfer) == 100; }, 10000));
  EXPECT_EQ(Captions().size(), 2u);
  Server().Release();
  ASSERT_TRUE(Server().WaitFor("/upload.php", uploads + 2, true, 60000))
      << "the picture did not follow";
  EXPECT_EQ(Captions(), std::vector<std::string>{"a.jpg"});
  Server().Release();
  Answer("2 file(s) successfully uploaded.", "fault-late-final");
  ExpectRunEnded();
  if (HasFatalFailure()) return;
  EXPECT_TRUE(WaitUntil([&] { return Captions().empty(); }, 10000));
  EXPECT_NE(Server().Last("/upload.php").body.find(ReadBytes(a)), std::string::npos);
  Finish();
}

// A server that takes the request and never answers: Cancel ends the run at
// once, whichever command waits.
TEST_F(FaultServers, NeverAnswersAndTheUserCancels) {
  const std::string a = Picture("a.jpg", 120, 90, RGB(200, 30, 30));
  Start({a});
  struct {
    const char* path;
    DWORD askFolder;
    CScript usual;
  } const waits[] = {{"/login.php", 0, Late(Reply(Server().LogInAnswer()))},
                     {"/dirlist.php", 1, Reply(kAlbums)},
                     {"/upload.php", 0, Reply(kStored)}};
  for (const auto& wait : waits) {
    SCOPED_TRACE(wait.path);
    StoreProfileInt("AskFolder", wait.askFolder);
    CScript never;
    never.time = AnswerTime::Never;
    Server().On(wait.path, never);
    const size_t before = Server().Count(wait.path);
    HWND transfer = nullptr;
    if (wait.path == std::string("/login.php")) {
      PressUpload();
      transfer = Transfer();
    } else {
      transfer = PressUploadAndReleaseLogIn(Server());
    }
    ASSERT_TRUE(transfer);
    ASSERT_TRUE(Server().WaitFor(wait.path, before + 1, true, 30000)) << "no request";
    CancelAndExpectPromptEnd(transfer, std::string("waiting for ") + wait.path);
    EXPECT_EQ(Captions(), std::vector<std::string>{"a.jpg"});
    Server().Hangup();
    Server().On(wait.path, wait.usual);
  }
  Finish();
}

// A server that stops reading after 2 MB of a 60 MB body. When it then hangs
// up, the run ends with the unknown error; when the user cancels, the run
// must end at once although the program's write is stuck.
TEST_F(FaultServers, StopsReadingTheBody) {
  StoreProfileInt("AskFolder", 0);
  CScript stop = Reply(kStored);
  stop.stopReadingAfter = 2 * 1024 * 1024;
  Server().On("/upload.php", stop);
  const std::string keep = Picture("keep.jpg", 120, 90, RGB(200, 30, 30));
  const std::string large = Movie("large.flv", 60 * 1024 * 1024);
  Start({keep, large});
  const std::vector<std::string> all{"keep.jpg", "large.flv"};
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run == 0 ? "server hangs up" : "cancelled");
    const size_t before = Server().Count("/upload.php");
    HWND transfer = PressUploadAndReleaseLogIn(Server());
    ASSERT_TRUE(transfer);
    ASSERT_TRUE(Server().WaitFor("/upload.php", before + 1, false, 30000));
    ASSERT_TRUE(Server().WaitBodyBytes("/upload.php", stop.stopReadingAfter, 60000))
        << "the server did not get 2 MB";
    // The program's write is stuck once the bar stands still for a second.
    int last = -1;
    DWORD still = GetTickCount();
    ASSERT_TRUE(WaitUntil(
        [&] {
          const int now = BarPosition(transfer);
          if (now != last) {
            last = now;
            still = GetTickCount();
          }
          return GetTickCount() - still > 1000;
        },
        60000))
        << "the bar kept moving";
    EXPECT_LT(last, 100);
    SaveScreenshot(transfer, run == 0 ? "fault-stops-reading-hangup" : "fault-stops-reading");
    if (run == 0) {
      Server().Hangup();
      Answer("An unknown error occured.", "fault-stops-reading-error", 30000);
      ExpectRunEnded();
      if (HasFatalFailure()) return;
      ExpectAlive();
    } else {
      CancelAndExpectPromptEnd(transfer, "a write the server does not read");
    }
    EXPECT_EQ(Captions(), all);
    Server().Hangup();
  }
  Finish();
}

}  // namespace
