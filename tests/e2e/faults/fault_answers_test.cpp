// Broken answers to each of the four commands from scripted servers, one at
// the program's login address: empty, binary, closed without a word, cut
// after the status digit, reset half-way, and long ones. Every broken answer
// ends the run with "An unknown error occured.", and the program keeps
// running with its list as it was; a long but well-formed answer is read like
// a short one.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/faults/fault_support.h"
#include "tests/e2e/faults/scripted_server.h"
#include "tests/win/support/watchdog.h"

using namespace e2e;

namespace {

const char kUnknownError[] = "An unknown error occured.";
// Reading an answer costs seconds per MB under Wine on a busy machine (the
// transport reads 1023 bytes at a time), so the full 10 MB go to LogIn, which
// stores every line; the others get 1 MB (DirList in a line it skips,
// CreateDir and Upload after the lines they read).
constexpr size_t kLongAnswer = 10 * 1024 * 1024;
constexpr size_t kMegabyteAnswer = 1024 * 1024;

// A picture's first bytes, then noise with NUL bytes and line breaks in it.
std::string Binary() {
  std::string bytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
  unsigned v = 99;
  while (bytes.size() < 4096) {
    v = v * 1103515245u + 12345u;
    bytes += static_cast<char>(v >> 24);
  }
  return bytes;
}

// name=value lines with distinct names, about `size` bytes in all.
std::string Filler(size_t size) {
  std::string text;
  text.reserve(size + 64);
  for (unsigned i = 0; text.size() < size; ++i)
    text += "Line" + std::to_string(i) + "=lorem ipsum dolor sit amet\r\n";
  return text;
}

// The value of a text field of a recorded multipart body.
std::string FormField(const std::string& body, const std::string& name) {
  const size_t at = body.find("name=\"" + name + "\"");
  const size_t start = at == std::string::npos ? at : body.find("\r\n\r\n", at);
  if (start == std::string::npos) return "(no field " + name + ")";
  const size_t end = body.find("\r\n", start + 4);
  return body.substr(start + 4, end - start - 4);
}

struct CShape {
  const char* name;  // also names the screenshot
  CScript script;
};

// The head of `good` and its status digit, then an orderly close.
CScript CutAfterDigit(const std::string& good) {
  CScript cut;
  cut.answer = HttpHead(good.size()) + good.substr(0, 1);
  cut.end = AnswerEnd::Close;
  return cut;
}

// The head of `good` and half its body, then a connection reset.
CScript ResetMidAnswer(const std::string& good) {
  CScript reset;
  reset.answer = HttpHead(good.size()) + good.substr(0, good.size() / 2);
  reset.end = AnswerEnd::Reset;
  return reset;
}

// Broken answers for a command whose good answer is `good`. One that ends
// before the length its head announced was cut off or reset: its status
// digit alone does not say that the album list, the album or the file
// arrived. A connection closed before any answer fails in the transport,
// the same for every command: only LogIn tries it.
std::vector<CShape> BrokenAnswers(const std::string& good, bool withClosed = false) {
  std::vector<CShape> shapes{{"empty", Reply("")},
                             {"binary", Reply(Binary())},
                             {"cut-after-digit", CutAfterDigit(good)},
                             {"reset-mid-answer", ResetMidAnswer(good)}};
  if (withClosed) {
    CScript silent;  // closes without sending anything
    silent.end = AnswerEnd::Close;
    shapes.push_back({"closed-unanswered", silent});
  }
  return shapes;
}

class FaultAnswers : public CFaultTest {
 protected:
  static void SetUpTestSuite() {
    if (!UploadServiceUrl().empty() || !EnvVar("QUIB_UPLOAD_SERVICE_ERROR").empty()) {
      lease_ = new CServicePortLease;
      commands_ = new CScriptedServer;
    }
  }
  static void TearDownTestSuite() {
    if (!lease_) return;
    delete commands_;
    commands_ = nullptr;
    const std::string error = lease_->GiveBack();
    delete lease_;
    lease_ = nullptr;
    if (!error.empty()) ADD_FAILURE() << error;
  }

  void SetUp() override {
    // Run by hand without scripts/test.d/20-upload-service.sh.
    if (!lease_) GTEST_SKIP() << "QUIB_UPLOAD_SERVICE_URL is not set";
    ASSERT_EQ(lease_->Error(), "");
    CFaultTest::SetUp();
    ASSERT_TRUE(commands_->Listening()) << commands_->Error();
    StoreCredentials("tester", "secret");
    // The login answer waits for the transfer window: an answer before the
    // window is FaultServers.AnswersAtOnce's subject, not these tests'.
    Login().On("/login.php", Late(Reply(Commands().LogInAnswer())));
    Commands().On("/dirlist.php", Reply(kAlbums));
    Commands().On("/createdir.php", Reply("0\r\nDirId=42\r\n"));
    Commands().On("/upload.php", Reply("0\r\nMediaId=1\r\n"));
  }

  // The login address is the album service's; the other commands go where
  // the login answer points, a server of its own, so that only the login
  // test's connections hold that address after the run.
  void TearDown() override {
    if (HasFailure() && lease_ && lease_->Error().empty()) {
      printf("requests at the login address so far:\n%s", Login().Describe().c_str());
      printf("requests of the commands so far:\n%s", Commands().Describe().c_str());
    }
    CFaultTest::TearDown();
  }

  CScriptedServer& Login() { return lease_->Server(); }
  CScriptedServer& Commands() { return *commands_; }

  // The two files every test starts with.
  void StartWithTwoFiles() {
    a_ = Picture("a.jpg", 120, 90, RGB(200, 30, 30));
    b_ = Picture("b.png", 90, 120, RGB(30, 30, 200));
    Start({a_, b_});
  }

  // One run that ends in the unknown error, the list untouched.
  void ExpectUnknownError(const std::string& shot) {
    Answer(kUnknownError, shot);
    ExpectRunEnded();
    ExpectAlive();
    EXPECT_EQ(Captions(), (std::vector<std::string>{"a.jpg", "b.png"}));
  }

  // The album dialog of a run, then "New album" with the name Fault.
  void CreateAlbumFromDialog() {
    HWND folder = Dialog("Select album", 60000);
    ASSERT_TRUE(folder) << "no album dialog";
    PostClick(folder, IDC_FOLDER_NEW);
    HWND name = Dialog("New album");
    ASSERT_TRUE(name) << "no album name prompt";
    SetText(GetDlgItem(name, IDC_FOLDERNAME_NAME), "Fault");
    PostClick(name, IDOK);
  }

  // Both files went up and left the list; their bytes arrived intact.
  void ExpectBothUploaded(size_t uploadsBefore) {
    Answer("2 file(s) successfully uploaded.", "fault-long-answer-final", 180000);
    ExpectRunEnded();
    EXPECT_TRUE(WaitUntil([&] { return Captions().empty(); }, 10000));
    ASSERT_EQ(Commands().Count("/upload.php"), uploadsBefore + 2);
    const std::vector<CRecordedRequest> all = Commands().Requests();
    std::vector<std::string> bodies;
    for (const CRecordedRequest& r : all) {
      if (r.path == "/upload.php") bodies.push_back(r.body);
    }
    EXPECT_NE(bodies[bodies.size() - 2].find(ReadBytes(b_)), std::string::npos);
    EXPECT_NE(bodies[bodies.size() - 1].find(ReadBytes(a_)), std::string::npos);
  }

  void Finish() {
    Quit();
    ExpectUserFilesIntact();
    ExpectNoTempCopies();
  }

  static constexpr const char* kAlbums = "0\r\nCount=1\r\nUser=tester\r\nId=3\r\nName=Old\r\n";
  static CServicePortLease* lease_;
  static CScriptedServer* commands_;
  std::string a_, b_;
};

CServicePortLease* FaultAnswers::lease_ = nullptr;
CScriptedServer* FaultAnswers::commands_ = nullptr;

TEST_F(FaultAnswers, LogIn) {
  StoreProfileInt("AskFolder", 0);
  StartWithTwoFiles();
  for (const CShape& shape : BrokenAnswers(Commands().LogInAnswer(), true)) {
    SCOPED_TRACE(shape.name);
    Login().On("/login.php", Late(shape.script));
    PressUploadAndReleaseLogIn(Login());
    ExpectUnknownError(std::string("fault-login-") + shape.name);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(Commands().Count("/upload.php"), 0u);
  Finish();
}

TEST_F(FaultAnswers, DirList) {
  StoreProfileInt("AskFolder", 1);
  StartWithTwoFiles();
  for (const CShape& shape : BrokenAnswers(kAlbums)) {
    SCOPED_TRACE(shape.name);
    Commands().On("/dirlist.php", shape.script);
    PressUploadAndReleaseLogIn(Login());
    ExpectUnknownError(std::string("fault-dirlist-") + shape.name);
    if (HasFatalFailure()) return;
  }
  Finish();
}

TEST_F(FaultAnswers, CreateDir) {
  StoreProfileInt("AskFolder", 1);
  StartWithTwoFiles();
  for (const CShape& shape : BrokenAnswers("0\r\nDirId=42\r\n")) {
    SCOPED_TRACE(shape.name);
    Commands().On("/createdir.php", shape.script);
    PressUploadAndReleaseLogIn(Login());
    CreateAlbumFromDialog();
    if (HasFatalFailure()) return;
    ExpectUnknownError(std::string("fault-createdir-") + shape.name);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(Commands().Count("/upload.php"), 0u);
  Finish();
}

TEST_F(FaultAnswers, Upload) {
  StoreProfileInt("AskFolder", 0);
  StartWithTwoFiles();
  size_t uploads = Commands().Count("/upload.php");
  for (const CShape& shape : BrokenAnswers("0\r\nMediaId=1\r\n")) {
    SCOPED_TRACE(shape.name);
    Commands().On("/upload.php", shape.script);
    PressUploadAndReleaseLogIn(Login());
    ExpectUnknownError(std::string("fault-upload-") + shape.name);
    if (HasFatalFailure()) return;
    // Only b.png, the last in the list, was tried.
    EXPECT_EQ(Commands().Count("/upload.php"), ++uploads);
  }
  Finish();
}

// Long but well-formed answers are read like short ones: 10 MB of lines after
// the LogIn answer's, 1 MB in a DirList line that is not read, 1 MB after the
// CreateDir and Upload answers.
TEST_F(FaultAnswers, LongAnswers) {
  // Four runs, one of them reading 10 MB in blocks of 1023 bytes.
  quibtest::SetTestBound(360);
  StartWithTwoFiles();
  StoreProfileInt("AskFolder", 0);
  Login().On("/login.php", Late(Reply(Commands().LogInAnswer() + Filler(kLongAnswer))));
  size_t uploads = Commands().Count("/upload.php");
  PressUploadAndReleaseLogIn(Login());
  ExpectBothUploaded(uploads);
  if (HasFatalFailure()) return;
  Login().On("/login.php", Late(Reply(Commands().LogInAnswer())));

  // 1 MB in one of the two lines that are not read, then two albums.
  Hand({a_, b_});
  StoreProfileInt("AskFolder", 1);
  Commands().On("/dirlist.php", Reply("0\r\nCount=2\r\nUser=" + std::string(kMegabyteAnswer, 'u') +
                                      "\r\nId=5\r\nName=Holiday\r\nId=7\r\nName=Work\r\n"));
  uploads = Commands().Count("/upload.php");
  PressUploadAndReleaseLogIn(Login());
  HWND folder = Dialog("Select album", 180000);
  ASSERT_TRUE(folder) << "no album dialog after the long answer";
  EXPECT_EQ(SendMessageA(GetDlgItem(folder, IDC_FOLDER_ALBUMS), CB_GETCOUNT, 0, 0), 2);
  SaveScreenshot(folder, "fault-dirlist-long-answer");
  PostClick(folder, IDC_FOLDER_OK);
  ExpectBothUploaded(uploads);
  EXPECT_EQ(FormField(Commands().Last("/upload.php").body, "DirId"), "5");
  if (HasFatalFailure()) return;
  Commands().On("/dirlist.php", Reply(kAlbums));

  Hand({a_, b_});
  Commands().On("/createdir.php", Reply("0\r\nDirId=42\r\n" + Filler(kMegabyteAnswer)));
  uploads = Commands().Count("/upload.php");
  PressUploadAndReleaseLogIn(Login());
  CreateAlbumFromDialog();
  ExpectBothUploaded(uploads);
  EXPECT_EQ(FormField(Commands().Last("/upload.php").body, "DirId"), "42");
  if (HasFatalFailure()) return;

  Hand({a_, b_});
  StoreProfileInt("AskFolder", 0);
  Commands().On("/upload.php", Reply("0\r\nMediaId=1\r\n" + Filler(kMegabyteAnswer)));
  uploads = Commands().Count("/upload.php");
  PressUploadAndReleaseLogIn(Login());
  ExpectBothUploaded(uploads);
  Finish();
}

}  // namespace
