// Uploads with the real program against the real album service, as a user
// does them: files on the command line, the upload button, the prompts, the
// transfer dialog and the message boxes. The service runs where the program
// expects it (scripts/test.d/20-upload-service.sh); its test hooks create
// accounts, set limits, stall uploads and list what was stored.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <objidl.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/driver/driver.h"
#include "tests/e2e/driver/service_hooks.h"
#include "tests/e2e/upload/scripted_service.h"

using namespace e2e;

namespace {

constexpr int kList = 1005, kUpload = 1007;
constexpr int kLoginUser = 1008, kLoginPassword = 1009;
constexpr int kFolderNew = 1012, kNameEdit = 1008;
constexpr int kResizeMedium = 1016;
constexpr int kTransferCancel = 1034, kTransferProgress = 1039;

// The service's data folder as Wine sees it.
std::string ServiceData() {
  return ToWindowsPath(EnvVar("QUIB_UPLOAD_SERVICE_DATA"));
}

void StoreCredentials(const std::string& user, const std::string& password, DWORD askFolder) {
  e2e::StoreCredentials(user, password);
  StoreProfileInt("AskFolder", askFolder);
}

// The program's temporary JPEG copies in the temp folder.
int TempCopies() {
  return CountTempFiles("NEW*.tmp");
}

bool PictureSize(const std::string& path, UINT* width, UINT* height, GUID* format) {
  static ULONG_PTR token = 0;
  if (!token) {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
  }
  const std::wstring wide(path.begin(), path.end());
  Gdiplus::Bitmap bitmap(wide.c_str());
  if (bitmap.GetLastStatus() != Gdiplus::Ok) return false;
  *width = bitmap.GetWidth();
  *height = bitmap.GetHeight();
  bitmap.GetRawFormat(format);
  return true;
}

class Upload : public testing::Test {
 protected:
  void SetUp() override {
    const std::string error = EnvVar("QUIB_UPLOAD_SERVICE_ERROR");
    if (!error.empty()) FAIL() << error;
    // Run by hand without scripts/test.d/20-upload-service.sh.
    if (UploadServiceUrl().empty()) GTEST_SKIP() << "QUIB_UPLOAD_SERVICE_URL is not set";
    ClearProfile();
    dir_ = MakeTempDir(testing::UnitTest::GetInstance()->current_test_info()->name());
    tempCopiesBefore_ = TempCopies();
  }
  void TearDown() override {
    if (program_) program_.reset();
    ClearProfile();
    // A test that failed half-way must not leave the service stalling or
    // limited for the tests after it.
    if (!UploadServiceUrl().empty()) {
      HookGet("/test/stall?mode=off");
      HookGet("/test/limits?max-upload=104857600");
    }
  }

  void Start(const std::vector<std::string>& files) {
    program_ = CProgram::Launch(QuotePaths(files));
    ASSERT_TRUE(program_);
    main_ = program_->WaitMainWindow();
    ASSERT_TRUE(main_);
    ASSERT_TRUE(WaitUntil([&] { return ListCaptions(List()).size() == files.size(); }, 30000));
  }
  HWND List() const { return GetDlgItem(main_, kList); }
  DWORD Pid() const { return program_->Pid(); }
  HWND Dialog(const char* caption, DWORD timeoutMs = 20000) {
    return WaitForWindow(caption, Pid(), timeoutMs, "#32770");
  }
  // Waits for a message box, checks its text, saves a picture of it and
  // presses OK.
  void Answer(const std::string& text, const std::string& shot) {
    HWND box = WaitForMessageBox(Pid(), 60000);
    ASSERT_TRUE(box) << "no message box; expected " << text;
    EXPECT_EQ(MessageBoxText(box), text);
    SaveScreenshot(box, shot);
    PostClick(box, IDOK);
    EXPECT_TRUE(WaitWindowGone(box, 10000));
  }
  std::string File(const std::string& name) const { return dir_ + "\\" + name; }

  std::string dir_;
  int tempCopiesBefore_ = 0;
  std::unique_ptr<CProgram> program_;
  HWND main_ = nullptr;
};

// Runs a scripted server where the program expects the album service, which
// steps aside for these tests. They come before the tests that use the service
// (suites run in the order of their first test): the connections the service
// closes stay on its port for a minute, and only the service itself may take
// the port again while they do.
class UploadScripted : public Upload {
 protected:
  static void SetUpTestSuite() {
    const std::string data = ServiceData();
    if (data.empty() || !WriteBytes(data + "\\stop-request", "")) return;
    stopped_ = WaitUntil([&] { return Exists(data + "\\stopped"); }, 10000);
  }
  static void TearDownTestSuite() {
    if (!stopped_) return;
    const std::string data = ServiceData();
    WriteBytes(data + "\\start-request", "");
    EXPECT_TRUE(WaitUntil([&] { return Exists(data + "\\started"); }, 20000))
        << "the album service did not come back";
    stopped_ = false;
  }
  void SetUp() override {
    Upload::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(stopped_) << "the album service did not step aside";
    const std::string url = UploadServiceUrl();
    const uint16_t port = static_cast<uint16_t>(std::atoi(url.c_str() + url.rfind(':') + 1));
    // Bounded by the minute that closed connections of the service hold the port.
    const bool listening = WaitUntil(
        [&] {
          service_ = std::make_unique<CScriptedService>(port);
          if (service_->Ok()) return true;
          service_.reset();
          Sleep(450);
          return false;
        },
        70000);
    ASSERT_TRUE(listening) << "port " << port << " stayed taken";
  }
  void TearDown() override {
    Upload::TearDown();
    service_.reset();
  }
  static bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  static bool stopped_;
  std::unique_ptr<CScriptedService> service_;
};

bool UploadScripted::stopped_ = false;

// A server that answers at once may answer the login before the run's window
// exists; one that holds its answer answers after the window shows. Either
// way the run goes on to the album list.
TEST_F(UploadScripted, LogInAnsweredAtOnceOrLateGoesOnToTheAlbums) {
  StoreCredentials("tester", "secret", 1);
  const std::string a = File("a.jpg");
  ASSERT_TRUE(WritePicture(a, 100, 80, RGB(200, 0, 0)));
  Start({a});
  for (bool hold : {false, true}) {
    SCOPED_TRACE(hold ? "answer after the window" : "answer at once");
    service_->HoldLogIn(hold);
    PostClick(main_, kUpload);
    if (hold) {
      HWND transfer = Dialog("Uploading...");
      ASSERT_TRUE(transfer);
      service_->ReleaseLogIn();
    }
    HWND folder = Dialog("Select album", 30000);
    if (!folder) {
      HWND transfer = FindTopWindow("Uploading...", Pid());
      if (transfer) SaveScreenshot(transfer, "upload-login-answer-not-taken");
      FAIL() << "no album dialog; the server saw:\n" << service_->Describe();
    }
    PostClick(folder, IDCANCEL);
    ASSERT_TRUE(WaitUntil([&] { return !FindTopWindow("Uploading...", Pid()); }, 10000));
  }
  EXPECT_EQ(service_->Count("/login.php"), 2);
  EXPECT_EQ(service_->Count("/dirlist.php"), 2);
  EXPECT_EQ(ListCaptions(List()).size(), 1u);
}

// "-stop" while the album dialog is open ends that dialog's loop as if OK had
// been pressed on no album (under Wine). The program must close without
// starting an upload to the public inbox.
TEST_F(UploadScripted, StopDuringTheAlbumDialogUploadsNothing) {
  service_->SetAnswer("/dirlist.php", "0\r\nCount=0\r\nUser=tester\r\n");
  StoreCredentials("tester", "secret", 1);
  const std::string a = File("a.jpg");
  ASSERT_TRUE(WritePicture(a, 100, 80, RGB(200, 0, 0)));
  Start({a});
  PostClick(main_, kUpload);
  HWND folder = Dialog("Select album", 60000);
  ASSERT_TRUE(folder);
  ASSERT_TRUE(RunToExit("-stop", 30000));
  EXPECT_TRUE(program_->WaitExit(20000)) << "the program did not end on -stop";
  // Anything the program sent has arrived by the time it has ended.
  EXPECT_EQ(service_->Count("/upload.php"), 0);
  EXPECT_EQ(service_->Count("/dirlist.php"), 1);
}

// A server that stops reading after 2 MB of a 60 MB upload: the body write
// blocks, and under Wine closing the request does not end it. Cancelling
// (the button, then Esc) still ends the run at once, the main window stays
// responsive, and the program ends cleanly once the connection goes.
TEST_F(UploadScripted, CancelWhileTheServerStopsReadingEndsTheRunAtOnce) {
  constexpr size_t kStopAfter = 2 * 1024 * 1024;
  service_->StopReadingUploadsAfter(kStopAfter);
  StoreCredentials("tester", "secret", 0);
  const std::string large = File("large.flv");
  ASSERT_TRUE(WriteMovie(large, 60 * 1024 * 1024));
  Start({large});
  for (bool escape : {false, true}) {
    SCOPED_TRACE(escape ? "Esc" : "Cancel upload");
    const int uploads = service_->Count("/upload.php");
    PostClick(main_, kUpload);
    HWND transfer = Dialog("Uploading...");
    ASSERT_TRUE(transfer);
    ASSERT_TRUE(service_->WaitFor(
        [&](const std::vector<ScriptedRequest>& requests) {
          int seen = 0;
          for (const ScriptedRequest& r : requests) {
            if (r.path.rfind("/upload.php", 0) == 0 && ++seen > uploads) {
              return r.bodyBytes >= kStopAfter;
            }
          }
          return false;
        },
        60000))
        << "the server did not get 2 MB of the body";
    // The client fills the connection's buffers, then its write blocks: the
    // bar stops.
    HWND bar = GetDlgItem(transfer, kTransferProgress);
    LRESULT last = -1;
    DWORD since = GetTickCount();
    ASSERT_TRUE(WaitUntil(
        [&] {
          const LRESULT now = SendMessageA(bar, PBM_GETPOS, 0, 0);
          if (now != last) {
            last = now;
            since = GetTickCount();
          }
          return GetTickCount() - since > 1500;
        },
        60000))
        << "the body kept moving";
    EXPECT_LT(last, 100);
    SaveScreenshot(transfer, escape ? "upload-stopped-reading-esc" : "upload-stopped-reading");
    const DWORD start = GetTickCount();
    if (escape) {
      PostMessageA(transfer, WM_COMMAND, IDCANCEL, 0);
    } else {
      PostClick(transfer, kTransferCancel);
    }
    // The run has ended once the main window takes input again (its modal
    // loop re-enables it at once; Wine then takes up to 2 s to take a closed
    // window down when no window manager runs).
    const bool ended = WaitUntil([&] { return IsWindowEnabled(main_) != FALSE; }, 20000);
    const DWORD took = GetTickCount() - start;
    ASSERT_TRUE(ended) << "the run did not end while the write was blocked";
    std::printf("run ended %lu ms after the cancel\n", static_cast<unsigned long>(took));
    EXPECT_LT(took, 1000u);
    EXPECT_TRUE(WaitWindowGone(transfer, 10000));
    // The main window answers at once and keeps the file; no message.
    DWORD_PTR reply = 0;
    EXPECT_TRUE(SendMessageTimeoutA(main_, WM_USER, 0, 0, SMTO_ABORTIFHUNG, 1000, &reply));
    EXPECT_EQ(reply, 0x534B0000u);
    EXPECT_EQ(WaitForMessageBox(Pid(), 500), nullptr);
    EXPECT_EQ(ListCaptions(List()), std::vector<std::string>{"large.flv"});
  }
  // The server goes: the abandoned writes fail and their requests end on
  // their own. The program carries on and ends cleanly.
  service_.reset();
  EXPECT_EQ(SendMessageA(main_, WM_USER, 0, 0), 0x534B0000);
  PostMessageA(main_, WM_CLOSE, 0, 0);
  // The file is still in the list: closing asks first.
  HWND discard = WaitForMessageBox(Pid(), 10000);
  ASSERT_TRUE(discard) << "no question before the list is discarded";
  EXPECT_EQ(MessageBoxText(discard), "Discard the 1 file(s) in the upload list?");
  PostClick(discard, IDYES);
  DWORD code = 1;
  EXPECT_TRUE(program_->WaitExit(20000, &code));
  EXPECT_EQ(code, 0u);
}

TEST_F(Upload, NewUserCreatesAnAlbumAndShrinksTheLargePicture) {
  const std::string user = NewAccount("new", "pass word");
  ASSERT_FALSE(user.empty());
  const std::string big = File("big-3000.jpg"), small = File("exact-640.png"),
                    tiny = File("tiny.bmp"), movie = File("clip.flv");
  ASSERT_TRUE(WritePicture(big, 3000, 2000, RGB(30, 90, 200)));
  ASSERT_TRUE(WritePicture(small, 640, 480, RGB(30, 160, 60)));
  ASSERT_TRUE(WritePicture(tiny, 120, 90, RGB(200, 120, 30)));
  ASSERT_TRUE(WriteMovie(movie, 3 * 1024 * 1024));
  Start({big, small, tiny, movie});

  PostClick(main_, kUpload);
  HWND login = Dialog("Login data");
  ASSERT_TRUE(login);
  SetText(GetDlgItem(login, kLoginUser), user);
  SetText(GetDlgItem(login, kLoginPassword), "pass word");
  SaveScreenshot(login, "upload-login");
  PostClick(login, IDOK);

  // A new account has no albums: make one.
  // The first request of a fresh program may be slow to start under load.
  HWND folder = Dialog("Select album", 60000);
  if (!folder) {
    HWND box = WaitForMessageBox(Pid(), 100);
    FAIL() << "no album dialog" << (box ? "; message: " + MessageBoxText(box) : std::string());
  }
  SaveScreenshot(folder, "upload-select-album");
  PostClick(folder, kFolderNew);
  HWND name = Dialog("New album");
  ASSERT_TRUE(name);
  SetText(GetDlgItem(name, kNameEdit), "Sommer \xE9t\xE9");
  PostClick(name, IDOK);

  // The transfer dialog while the movie goes up.
  HWND transfer = Dialog("Uploading...");
  ASSERT_TRUE(transfer);
  EXPECT_EQ(GetText(GetDlgItem(transfer, kTransferCancel)), "Cancel upload");
  SaveScreenshot(transfer, "upload-transfer-dialog");

  // The large picture comes last and asks how to shrink.
  HWND resize = Dialog("Dialog", 60000);
  ASSERT_TRUE(resize);
  SendMessageA(GetDlgItem(resize, kResizeMedium), BM_CLICK, 0, 0);
  SaveScreenshot(resize, "upload-resize-prompt");
  PostClick(resize, IDOK);
  // Its group box looks like a message box's text to the driver.
  ASSERT_TRUE(WaitWindowGone(resize, 10000));

  Answer("4 file(s) successfully uploaded.", "upload-final-message");
  EXPECT_TRUE(WaitWindowGone(transfer, 10000));
  EXPECT_TRUE(WaitUntil([&] { return ListCaptions(List()).empty(); }, 10000));
  SaveScreenshot(main_, "upload-list-after");

  // The service holds the four files in the new album.
  const auto albums = StoredAlbums(user);
  ASSERT_EQ(albums.size(), 1u);
  EXPECT_EQ(albums[0].at("name"), "Sommer \xC3\xA9t\xC3\xA9");
  const auto media = StoredMedia(user);
  ASSERT_EQ(media.size(), 4u);
  std::map<std::string, TsvRow> byName;
  for (const auto& m : media) {
    EXPECT_EQ(m.at("dir_id"), albums[0].at("id"));
    byName[m.at("filename")] = m;
  }
  // Sent from the back of the list.
  EXPECT_EQ(media[0].at("filename"), "clip.flv");
  EXPECT_EQ(media[3].at("filename"), "big-3000.jpg");
  for (const std::string& path : {small, tiny, movie}) {
    const std::string base = path.substr(path.rfind('\\') + 1);
    ASSERT_TRUE(byName.count(base)) << base;
    EXPECT_EQ(ReadBytes(ToWindowsPath(byName[base].at("path"))), ReadBytes(path)) << base;
  }
  UINT w = 0, h = 0;
  GUID format{};
  ASSERT_TRUE(PictureSize(ToWindowsPath(byName["big-3000.jpg"].at("path")), &w, &h, &format));
  EXPECT_EQ(w, 1024u);
  EXPECT_EQ(h, 682u);
  EXPECT_EQ(format, Gdiplus::ImageFormatJPEG);
  // The type of the JPEG copy, as the system names it.
  const std::string type = byName["big-3000.jpg"].at("mime_type");
  EXPECT_TRUE(type == "image/jpeg" || type == "image/pjpeg") << type;
  // The user's file is untouched, and the shrunk copy is gone.
  ASSERT_TRUE(PictureSize(big, &w, &h, &format));
  EXPECT_EQ(w, 3000u);
  EXPECT_EQ(TempCopies(), tempCopiesBefore_);
}

TEST_F(Upload, WrongPasswordEndsTheRunAndKeepsTheList) {
  const std::string user = NewAccount("wrong", "right");
  ASSERT_FALSE(user.empty());
  StoreCredentials(user, "not-right", 1);
  const std::string a = File("a.jpg");
  ASSERT_TRUE(WritePicture(a, 100, 80, RGB(200, 0, 0)));
  Start({a});
  PostClick(main_, kUpload);
  Answer("You need valid username and password to upload files.", "upload-wrong-password");
  EXPECT_TRUE(WaitUntil([&] { return !FindTopWindow("Uploading...", Pid()); }, 10000));
  EXPECT_EQ(ListCaptions(List()).size(), 1u);
  EXPECT_TRUE(StoredMedia(user).empty());
}

TEST_F(Upload, RefusedLoginPromptSendsNothing) {
  const std::string a = File("a.jpg");
  ASSERT_TRUE(WritePicture(a, 100, 80, RGB(200, 0, 0)));
  Start({a});
  PostClick(main_, kUpload);
  HWND login = Dialog("Login data");
  ASSERT_TRUE(login);
  PostClick(login, IDCANCEL);
  ASSERT_TRUE(WaitWindowGone(login, 10000));
  Answer("You need valid username and password to upload files.", "upload-login-refused");
  // The run ended before its window: it never showed.
  EXPECT_EQ(FindTopWindow("Uploading...", Pid()), nullptr);
  EXPECT_EQ(ListCaptions(List()).size(), 1u);
  EXPECT_TRUE(IsEnabled(main_, kUpload));
}

TEST_F(Upload, ExistingAlbumNameIsRefused) {
  const std::string user = NewAccount("dup", "pw");
  ASSERT_FALSE(user.empty());
  StoreCredentials(user, "pw", 1);
  const std::string a = File("a.jpg"), b = File("b.jpg");
  ASSERT_TRUE(WritePicture(a, 100, 80, RGB(200, 0, 0)));
  ASSERT_TRUE(WritePicture(b, 100, 80, RGB(0, 200, 0)));
  Start({a});
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    if (run == 1) {
      // Another file for the second run, as a second start would hand it over.
      const std::string payload = "\"" + b + "\"";
      COPYDATASTRUCT data{};
      data.dwData = 1018;
      data.cbData = static_cast<DWORD>(payload.size());
      data.lpData = const_cast<char*>(payload.data());
      SendMessageA(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
      ASSERT_EQ(ListCaptions(List()).size(), 1u);
    }
    PostClick(main_, kUpload);
    HWND folder = Dialog("Select album");
    ASSERT_TRUE(folder);
    PostClick(folder, kFolderNew);
    HWND name = Dialog("New album");
    ASSERT_TRUE(name);
    SetText(GetDlgItem(name, kNameEdit), "Twice");
    PostClick(name, IDOK);
    if (run == 0) {
      Answer("1 file(s) successfully uploaded.", "upload-final-one");
    } else {
      Answer("The album could not be created.", "upload-album-not-created");
    }
    ASSERT_TRUE(WaitUntil([&] { return !FindTopWindow("Uploading...", Pid()); }, 10000));
  }
  EXPECT_EQ(ListCaptions(List()), std::vector<std::string>{"b.jpg"});
  EXPECT_EQ(StoredAlbums(user).size(), 1u);
  EXPECT_EQ(StoredMedia(user).size(), 1u);
}

TEST_F(Upload, QuotaExhaustedStopsWithItsMessage) {
  const std::string user = NewAccount("quota", "pw", "2000");
  ASSERT_FALSE(user.empty());
  StoreCredentials(user, "pw", 0);  // straight into the public inbox
  const std::string a = File("a.bmp"), b = File("b.bmp");
  ASSERT_TRUE(WritePicture(a, 200, 150, RGB(0, 0, 200)));
  ASSERT_TRUE(WritePicture(b, 200, 150, RGB(0, 200, 0)));
  Start({a, b});
  PostClick(main_, kUpload);
  Answer("There is not enough space left on the server.", "upload-no-space");
  EXPECT_TRUE(WaitUntil([&] { return !FindTopWindow("Uploading...", Pid()); }, 10000));
  EXPECT_EQ(ListCaptions(List()).size(), 2u);
  EXPECT_TRUE(StoredMedia(user).empty());
}

TEST_F(Upload, FileOverTheLimitIsSkipped) {
  const std::string user = NewAccount("limit", "pw");
  ASSERT_FALSE(user.empty());
  StoreCredentials(user, "pw", 0);
  ASSERT_EQ(HookGet("/test/limits?max-upload=200000"), "ok\n");
  const std::string a = File("first.jpg"), big = File("huge-movie.flv"), c = File("third.jpg");
  ASSERT_TRUE(WritePicture(a, 100, 80, RGB(200, 0, 0)));
  ASSERT_TRUE(WriteMovie(big, 600 * 1024));
  ASSERT_TRUE(WritePicture(c, 100, 80, RGB(0, 200, 0)));
  Start({a, big, c});
  PostClick(main_, kUpload);
  Answer("'huge-movie.flv' is too big for upload.", "upload-too-big");
  Answer("2 file(s) successfully uploaded.", "upload-final-two");
  HookGet("/test/limits?max-upload=104857600");
  // The run counts as successful: the main window empties the list.
  EXPECT_TRUE(WaitUntil([&] { return ListCaptions(List()).empty(); }, 10000));
  const auto media = StoredMedia(user);
  ASSERT_EQ(media.size(), 2u);
  EXPECT_EQ(media[0].at("filename"), "third.jpg");
  EXPECT_EQ(media[1].at("filename"), "first.jpg");
  EXPECT_EQ(media[0].at("dir_id"), "0");
}

TEST_F(Upload, CancelDuringALargeUploadKeepsTheRest) {
  const std::string user = NewAccount("cancel", "pw");
  ASSERT_FALSE(user.empty());
  StoreCredentials(user, "pw", 0);
  const std::string a = File("keep.jpg"), large = File("large.flv"), c = File("sent.jpg");
  ASSERT_TRUE(WritePicture(a, 100, 80, RGB(200, 0, 0)));
  ASSERT_TRUE(WriteMovie(large, 60 * 1024 * 1024));
  ASSERT_TRUE(WritePicture(c, 100, 80, RGB(0, 200, 0)));
  Start({a, large, c});
  PostClick(main_, kUpload);
  HWND transfer = Dialog("Uploading...");
  ASSERT_TRUE(transfer);
  // sent.jpg arrives, then the large movie is under way.
  ASSERT_TRUE(WaitUntil([&] { return StoredMedia(user).size() == 1; }, 60000));
  HWND bar = GetDlgItem(transfer, kTransferProgress);
  ASSERT_TRUE(WaitUntil([&] { return SendMessageA(bar, PBM_GETPOS, 0, 0) > 0; }, 60000));
  SaveScreenshot(transfer, "upload-large-in-flight");
  EXPECT_LT(SendMessageA(bar, PBM_GETPOS, 0, 0), 100);
  PostClick(transfer, kTransferCancel);
  EXPECT_TRUE(WaitWindowGone(transfer, 10000));
  // No final message after a cancel.
  EXPECT_EQ(WaitForMessageBox(Pid(), 1500), nullptr);
  EXPECT_EQ(ListCaptions(List()), (std::vector<std::string>{"keep.jpg", "large.flv"}));
  const auto media = StoredMedia(user);
  ASSERT_EQ(media.size(), 1u);
  EXPECT_EQ(media[0].at("filename"), "sent.jpg");
}

TEST_F(Upload, CancelWhileTheServerStallsEndsPromptly) {
  const std::string user = NewAccount("stall", "pw");
  ASSERT_FALSE(user.empty());
  StoreCredentials(user, "pw", 0);
  const std::string a = File("a.jpg");
  ASSERT_TRUE(WritePicture(a, 100, 80, RGB(200, 0, 0)));
  ASSERT_EQ(HookGet("/test/stall?mode=before-answer"), "ok\n");
  Start({a});
  PostClick(main_, kUpload);
  HWND transfer = Dialog("Uploading...");
  ASSERT_TRUE(transfer);
  // The body is sent; the answer never comes. A loaded machine can take a
  // while to get there; a picture of the dialog tells what it showed if not.
  const quibtest::CWaitNote note("the whole body to be sent (progress bar at 100)");
  const bool sent = WaitUntil(
      [&] {
        return SendMessageA(GetDlgItem(transfer, kTransferProgress), PBM_GETPOS, 0, 0) == 100;
      },
      90000);
  if (!sent) SaveScreenshot(transfer, "upload-stall-body-not-sent");
  ASSERT_TRUE(sent);
  Sleep(500);
  SaveScreenshot(transfer, "upload-waiting-for-server");
  const DWORD start = GetTickCount();
  PostClick(transfer, kTransferCancel);
  EXPECT_TRUE(WaitWindowGone(transfer, 10000));
  EXPECT_LT(GetTickCount() - start, 5000u);
  HookGet("/test/stall?mode=off");
  EXPECT_EQ(ListCaptions(List()).size(), 1u);
}

TEST_F(Upload, EscapeWhileARequestRunsLeavesTheProgramUsable) {
  const std::string user = NewAccount("escape", "pw");
  ASSERT_FALSE(user.empty());
  StoreCredentials(user, "pw", 0);
  const std::string a = File("a.jpg");
  ASSERT_TRUE(WritePicture(a, 100, 80, RGB(200, 0, 0)));
  ASSERT_EQ(HookGet("/test/stall?mode=before-answer"), "ok\n");
  Start({a});
  PostClick(main_, kUpload);
  HWND transfer = Dialog("Uploading...");
  ASSERT_TRUE(transfer);
  Sleep(1500);
  // Esc is the dialog's cancel command.
  PostMessageA(transfer, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(WaitWindowGone(transfer, 10000));
  HookGet("/test/stall?mode=off");
  // The program still answers and keeps the file.
  EXPECT_EQ(SendMessageA(main_, WM_USER, 0, 0), 0x534B0000);
  EXPECT_EQ(ListCaptions(List()).size(), 1u);
}

TEST_F(Upload, ServiceStoppedMidRun) {
  const std::string data = ServiceData();
  const std::string user = NewAccount("stop", "pw");
  ASSERT_FALSE(user.empty());
  StoreCredentials(user, "pw", 0);
  const std::string a = File("a.jpg"), b = File("b.jpg");
  ASSERT_TRUE(WritePicture(a, 100, 80, RGB(200, 0, 0)));
  ASSERT_TRUE(WritePicture(b, 100, 80, RGB(0, 200, 0)));
  ASSERT_EQ(HookGet("/test/stall?mode=before-answer"), "ok\n");
  Start({a, b});
  PostClick(main_, kUpload);
  HWND transfer = Dialog("Uploading...");
  ASSERT_TRUE(transfer);
  Sleep(1500);
  // The service dies while it holds the answer to b.jpg.
  ASSERT_TRUE(WriteBytes(data + "\\stop-request", ""));
  ASSERT_TRUE(WaitUntil(
      [&] { return GetFileAttributesA((data + "\\stopped").c_str()) != INVALID_FILE_ATTRIBUTES; },
      10000));
  Answer("An unknown error occured.", "upload-service-stopped");
  EXPECT_TRUE(WaitWindowGone(transfer, 10000));
  EXPECT_EQ(ListCaptions(List()).size(), 2u);
  // Bring the service back for whatever runs next.
  ASSERT_TRUE(WriteBytes(data + "\\start-request", ""));
  ASSERT_TRUE(WaitUntil(
      [&] { return GetFileAttributesA((data + "\\started").c_str()) != INVALID_FILE_ATTRIBUTES; },
      20000));
  bool ok = false;
  HookGet("/test/stall?mode=off", &ok);
  EXPECT_TRUE(ok);
}

// Files handed over by a second start while a run is under way were not part
// of it: they stay in the list with their thumbnails, while the run's own
// files leave it, the one refused as too big included.
TEST_F(Upload, FilesArrivingDuringARunStayInTheList) {
  const std::string user = NewAccount("arrive", "pw");
  ASSERT_FALSE(user.empty());
  StoreCredentials(user, "pw", 1);
  ASSERT_EQ(HookGet("/test/limits?max-upload=200000"), "ok\n");
  const std::string a = File("first.jpg"), big = File("huge-movie.flv"), c = File("third.jpg"),
                    late = File("late.png");
  ASSERT_TRUE(WritePicture(a, 100, 80, RGB(200, 0, 0)));
  ASSERT_TRUE(WriteMovie(big, 600 * 1024));
  ASSERT_TRUE(WritePicture(c, 100, 80, RGB(0, 200, 0)));
  ASSERT_TRUE(WritePicture(late, 100, 80, RGB(0, 0, 220)));
  Start({a, big, c});
  PostClick(main_, kUpload);
  HWND folder = Dialog("Select album", 60000);
  ASSERT_TRUE(folder);
  // "Send To" while the album dialog waits: a second start forwards the file.
  DWORD code = 1;
  ASSERT_TRUE(RunToExit(QuotePaths({late}), 30000, &code));
  EXPECT_EQ(code, 0u);
  ASSERT_TRUE(WaitUntil([&] { return ListCaptions(List()).size() == 4; }, 10000));
  PostClick(folder, kFolderNew);
  HWND name = Dialog("New album");
  ASSERT_TRUE(name);
  SetText(GetDlgItem(name, kNameEdit), "Arrivals");
  PostClick(name, IDOK);
  Answer("'huge-movie.flv' is too big for upload.", "upload-arrival-too-big");
  Answer("2 file(s) successfully uploaded.", "upload-arrival-final");
  HookGet("/test/limits?max-upload=104857600");
  ASSERT_TRUE(WaitUntil([&] { return !FindTopWindow("Uploading...", Pid()); }, 10000));

  const std::vector<ListEntry> entries = ReadListView(List());
  SaveScreenshot(main_, "upload-arrival-kept");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].text, "late.png");
  EXPECT_GE(entries[0].image, 0);
  // Its thumbnail is drawn: the list shows blue where the picture is.
  const auto media = StoredMedia(user);
  ASSERT_EQ(media.size(), 2u);
  EXPECT_EQ(media[0].at("filename"), "third.jpg");
  EXPECT_EQ(media[1].at("filename"), "first.jpg");
  // The file that arrived goes with the next run.
  PostClick(main_, kUpload);
  folder = Dialog("Select album", 60000);
  ASSERT_TRUE(folder);
  PostClick(folder, IDOK);
  Answer("1 file(s) successfully uploaded.", "upload-arrival-second-run");
  EXPECT_TRUE(WaitUntil([&] { return ListCaptions(List()).empty(); }, 10000));
  EXPECT_EQ(StoredMedia(user).size(), 3u);
}

}  // namespace

// Large pictures with "ResizeImage" unset: the prompt comes before any copy
// is made. Once it has chosen, the next pictures are shrunk while the first
// one goes up; cancelled then, the run sends nothing more and leaves none of
// the copies made ahead (the picture in flight keeps its own copy while it
// stays in the list, as after any cancelled run).
TEST_F(Upload, PromptComesBeforeShrinkingAndACancelLeavesNoCopyMadeAhead) {
  const std::string user = NewAccount("ahead", "pw");
  ASSERT_FALSE(user.empty());
  StoreCredentials(user, "pw", 0);
  std::vector<std::string> files;
  for (int i = 0; i < 4; ++i) {
    files.push_back(File("large-" + std::to_string(i) + ".jpg"));
    ASSERT_TRUE(WritePicture(files.back(), 3000, 2000, RGB(40 * i, 90, 200 - 40 * i)));
  }
  ASSERT_EQ(HookGet("/test/stall?mode=before-answer"), "ok\n");
  Start(files);
  PostClick(main_, kUpload);
  HWND transfer = Dialog("Uploading...");
  ASSERT_TRUE(transfer);
  HWND resize = Dialog("Dialog", 60000);
  ASSERT_TRUE(resize);
  EXPECT_EQ(TempCopies(), tempCopiesBefore_) << "a picture was shrunk before the prompt";
  SendMessageA(GetDlgItem(resize, kResizeMedium), BM_CLICK, 0, 0);
  PostClick(resize, IDOK);
  ASSERT_TRUE(WaitWindowGone(resize, 10000));

  // The last file is in flight (its answer held) while the next are shrunk.
  const quibtest::CWaitNote note("a copy made ahead besides the one in flight");
  ASSERT_TRUE(WaitUntil([&] { return TempCopies() >= tempCopiesBefore_ + 2; }, 60000));
  PostClick(transfer, kTransferCancel);
  EXPECT_TRUE(WaitWindowGone(transfer, 10000));
  EXPECT_EQ(WaitForMessageBox(Pid(), 1500), nullptr) << "a message after the cancel";
  EXPECT_TRUE(WaitUntil([&] { return TempCopies() == tempCopiesBefore_ + 1; }, 20000))
      << TempCopies() - tempCopiesBefore_ << " copies left";
  HookGet("/test/stall?mode=off");
  EXPECT_EQ(ListCaptions(List()).size(), 4u);
  // The run is over: at most the file that was in flight arrived.
  const auto media = StoredMedia(user);
  EXPECT_LE(media.size(), 1u);
  for (const auto& m : media) EXPECT_EQ(m.at("filename"), "large-3.jpg");
}
