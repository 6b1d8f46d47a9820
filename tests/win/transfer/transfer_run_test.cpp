// Whole upload runs of the transfer dialog under Wine: real WinINet against a
// scripted loopback service, real prompts and message boxes, a "user" thread
// that answers them. Covers when the login answer arrives, prompts ended by
// a closing program, and cancelling a body the server no longer reads.
#include "windows/transfer/transfer_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/media/media_item.h"
#include "core/media/upload_list.h"
#include "core/settings/profile.h"
#include "framework/app.h"
#include "core/ports/http_port.h"
#include "res/resource.h"
#include "tests/e2e/driver/driver.h"
#include "tests/e2e/upload/scripted_service.h"

namespace {

const char kProfileKey[] = "Software\\BRAMWELD\\quib-uploader-net\\quibuploader";

void SetUpApplication() {
  static CWinApp* app = [] {
    auto* a = new CWinApp();
    a->m_hInstance = GetModuleHandleA(nullptr);
    a->m_pszAppName = "quibuploader";
    a->SetRegistryKey("BRAMWELD\\quib-uploader-net");
    return a;
  }();
  (void)app;
}

// Requests of the platform that are still alive, across every test.
std::atomic<int> g_requestsAlive{0};

class CCountedRequest : public IHttpRequestPort {
 public:
  explicit CCountedRequest(std::unique_ptr<IHttpRequestPort> inner) : inner_(std::move(inner)) {
    ++g_requestsAlive;
  }
  ~CCountedRequest() override { --g_requestsAlive; }
  bool AddRequestHeaders(const std::string& line, uint32_t flags, std::string& error) override {
    return inner_->AddRequestHeaders(line, flags, error);
  }
  bool SendRequestEx(uint32_t totalLength, std::string& error) override {
    return inner_->SendRequestEx(totalLength, error);
  }
  bool Write(const char* data, size_t size, std::string& error) override {
    return inner_->Write(data, size, error);
  }
  bool EndRequest(std::string& error) override { return inner_->EndRequest(error); }
  bool QueryStatusCode(uint32_t& status, std::string& error) override {
    return inner_->QueryStatusCode(status, error);
  }
  bool Read(char* buffer, size_t size, size_t& got, std::string& error) override {
    return inner_->Read(buffer, size, got, error);
  }
  uint32_t QueryDataAvailable() override { return inner_->QueryDataAvailable(); }
  void Abort() override { inner_->Abort(); }

 private:
  std::unique_ptr<IHttpRequestPort> inner_;
};

class CCountedConnection : public IHttpConnectionPort {
 public:
  explicit CCountedConnection(std::unique_ptr<IHttpConnectionPort> inner)
      : inner_(std::move(inner)) {}
  std::unique_ptr<IHttpRequestPort> OpenRequest(const std::string& verb,
                                                const std::string& objectPath,
                                                const std::string& version, uint32_t flags,
                                                std::string& error) override {
    auto request = inner_->OpenRequest(verb, objectPath, version, flags, error);
    if (!request) return nullptr;
    return std::make_unique<CCountedRequest>(std::move(request));
  }

 private:
  std::unique_ptr<IHttpConnectionPort> inner_;
};

// WinINet, but every connection goes to the scripted service whatever the
// URL names (the login address is built into the program).
class CRedirectPort : public IHttpPort {
 public:
  explicit CRedirectPort(uint16_t port) : inner_(MakeSystemHttpPort()), port_(port) {}
  std::unique_ptr<IHttpConnectionPort> GetHttpConnection(const std::string&, uint16_t, bool,
                                                         std::string& error) override {
    auto connection = inner_->GetHttpConnection("127.0.0.1", port_, false, error);
    if (!connection) return nullptr;
    return std::make_unique<CCountedConnection>(std::move(connection));
  }
  void Close() override { inner_->Close(); }
  quib::IFilePort& Files() override { return inner_->Files(); }
  std::string MediaTypeOf(const std::string& path) override { return inner_->MediaTypeOf(path); }

 private:
  std::unique_ptr<IHttpPort> inner_;
  uint16_t port_;
};

// A flag one thread sets and another waits for (bounded).
class CSignal {
 public:
  void Set() {
    std::lock_guard<std::mutex> guard(lock_);
    set_ = true;
    changed_.notify_all();
  }
  bool Wait(unsigned timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return set_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool set_ = false;
};

enum class LogInTiming {
  AsItComes,
  BeforeWindow,  // the run's window is created only after the answer was taken
  AfterWindow,   // the login is sent only once the window shows
};

// What the transports of a test started, in order.
struct CStarted {
  std::mutex lock;
  std::vector<std::string> commands;
  void Add(const std::string& command) {
    std::lock_guard<std::mutex> guard(lock);
    commands.push_back(command);
  }
  std::vector<std::string> Get() {
    std::lock_guard<std::mutex> guard(lock);
    return commands;
  }
};

class CTestTransport : public CHttpUpload {
 public:
  CTestTransport(uint16_t port, LogInTiming timing, CStarted& started)
      : CHttpUpload(std::make_unique<CRedirectPort>(port)), timing_(timing), started_(started) {}

 protected:
  void StartWorker(std::function<void()> run) override {
    const std::string command = GetCommandName();
    started_.Add(command);
    if (command != "LogIn" || timing_ == LogInTiming::AsItComes) {
      CHttpUpload::StartWorker(std::move(run));
      return;
    }
    if (timing_ == LogInTiming::AfterWindow) {
      CHttpUpload::StartWorker([run] {
        e2e::WaitForWindow("Uploading...", GetCurrentProcessId(), 30000, "#32770");
        run();
      });
      return;
    }
    // The whole request, final event included, before Start returns.
    auto finished = std::make_shared<CSignal>();
    CHttpUpload::StartWorker([run, finished] {
      run();
      finished->Set();
    });
    EXPECT_TRUE(finished->Wait(30000)) << "the login request did not end within 30 s";
  }

 private:
  LogInTiming timing_;
  CStarted& started_;
};

class CTestTransferDialog : public CTransferDialog {
 public:
  CTestTransferDialog(uint16_t port, LogInTiming timing, CStarted& started, HWND owner = nullptr)
      : CTransferDialog(owner), port_(port), timing_(timing), started_(started) {}

 protected:
  std::unique_ptr<CHttpUpload> CreateTransport() override {
    return std::make_unique<CTestTransport>(port_, timing_, started_);
  }

 private:
  uint16_t port_;
  LogInTiming timing_;
  CStarted& started_;
};

// The test's stand-in for the user, on a thread of its own; it closes the
// run's window itself when a step does not come, so a test never hangs.
class CUser {
 public:
  explicit CUser(std::function<void(CUser&)> script) : thread_([this, script] { script(*this); }) {}
  ~CUser() {
    if (thread_.joinable()) thread_.join();
  }
  void Join() { thread_.join(); }
  void Fail(const std::string& what) {
    std::lock_guard<std::mutex> guard(lock_);
    failures_ += what + "; ";
  }
  std::string Failures() {
    std::lock_guard<std::mutex> guard(lock_);
    return failures_;
  }
  // Waits for a window of this process; on time-out notes it and ends the run.
  HWND Expect(const char* title, DWORD timeoutMs = 30000) {
    HWND window = e2e::WaitForWindow(title, GetCurrentProcessId(), timeoutMs, "#32770");
    if (!window) {
      Fail(std::string("no window \"") + title + "\"");
      EndRun();
    }
    return window;
  }
  static void EndRun() {
    for (int i = 0; i < 20; ++i) {
      HWND box = e2e::WaitForMessageBox(GetCurrentProcessId(), 50);
      if (box) PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    if (HWND run = e2e::FindTopWindow("Uploading...", GetCurrentProcessId(), "#32770")) {
      PostMessageA(run, WM_COMMAND, IDCANCEL, 0);
    }
  }

 private:
  std::mutex lock_;
  std::string failures_;
  std::thread thread_;
};

class TransferRun : public testing::Test {
 protected:
  void SetUp() override {
    SetUpApplication();
    RegDeleteTreeA(HKEY_CURRENT_USER, kProfileKey);
    IProfile& profile = GetAppProfile();
    profile.WriteString(ProfileSectionSettings, ProfileUsername, "tester");
    profile.WriteString(ProfileSectionSettings, ProfilePassword, "secret");
    dir_ = e2e::MakeTempDir(testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override {
    list_.RemoveAll();
    RegDeleteTreeA(HKEY_CURRENT_USER, kProfileKey);
    // A quit the test posted must not end the next test's loops.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }
  std::string AddPicture(const std::string& name) {
    const std::string path = dir_ + "\\" + name;
    EXPECT_TRUE(e2e::WritePicture(path, 120, 90, RGB(200, 30, 30)));
    EXPECT_TRUE(list_.AddFile(path));
    return path;
  }
  static void SetAskFolder(int value) {
    GetAppProfile().WriteInt(ProfileSectionSettings, ProfileAskFolder, value);
  }

  std::string dir_;
  CUploadList list_;
};

// The login answer may come before the run's window exists (a fast server,
// a slow start of the window) or after it: either way the run goes on.
TEST_F(TransferRun, LogInAnsweredBeforeOrAfterTheWindowGoesOnToTheAlbums) {
  AddPicture("a.jpg");
  SetAskFolder(1);
  for (LogInTiming timing : {LogInTiming::BeforeWindow, LogInTiming::AfterWindow}) {
    SCOPED_TRACE(timing == LogInTiming::BeforeWindow ? "answer before the window"
                                                     : "answer after the window");
    CScriptedService service;
    ASSERT_TRUE(service.Ok());
    CStarted started;
    CTestTransferDialog dialog(service.Port(), timing, started);
    CUser user([](CUser& u) {
      if (HWND album = u.Expect("Select album")) PostMessageA(album, WM_COMMAND, IDCANCEL, 0);
    });
    const INT_PTR result = dialog.RunUpload(list_);
    user.Join();
    EXPECT_EQ(user.Failures(), "");
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(started.Get(), (std::vector<std::string>{"LogIn", "DirList"}));
    EXPECT_EQ(service.Count("/dirlist.php"), 1);
    EXPECT_EQ(list_.Count(), 1);
  }
}

// "-stop" while the album dialog is open ends its modal loop with 1 under
// Wine, as if OK had been pressed on no album. That is no choice of the user:
// nothing is uploaded, and the run ends as cancelled.
TEST_F(TransferRun, ProgramClosingDuringAPromptUploadsNothing) {
  AddPicture("a.jpg");
  SetAskFolder(1);
  CScriptedService service;
  ASSERT_TRUE(service.Ok());
  CStarted started;
  CTestTransferDialog dialog(service.Port(), LogInTiming::AsItComes, started);
  CUser user([](CUser& u) {
    HWND album = u.Expect("Select album");
    if (!album) return;
    // As "-stop" does it: a posted WM_QUIT for the program's thread.
    PostMessageA(album, WM_QUIT, 0, 0);
    HWND run = e2e::FindTopWindow("Uploading...", GetCurrentProcessId(), "#32770");
    if (run && !e2e::WaitWindowGone(run, 10000)) {
      u.Fail("the run's window stayed after the quit");
      CUser::EndRun();
    }
  });
  const INT_PTR result = dialog.RunUpload(list_);
  user.Join();
  EXPECT_EQ(user.Failures(), "");
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(started.Get(), (std::vector<std::string>{"LogIn", "DirList"}));
  EXPECT_EQ(service.Count("/upload.php"), 0);
  EXPECT_EQ(list_.Count(), 1);
}

// A server that stops reading after 2 MB: the body write blocks, and under
// Wine closing the request does not end it. "Cancel upload" and Esc still end
// the run at once; the abandoned request ends on its own once the server
// goes, and frees everything it held.
TEST_F(TransferRun, CancelWhileTheServerStopsReadingEndsAtOnce) {
  const std::string movie = dir_ + "\\large.flv";
  std::string bytes("FLV\x01\x05\x00\x00\x00\x09", 9);
  bytes.resize(60u * 1024 * 1024, '\x5a');
  ASSERT_TRUE(e2e::WriteBytes(movie, bytes));
  ASSERT_TRUE(list_.AddFile(movie));
  SetAskFolder(0);
  {
    CScriptedService service;
    ASSERT_TRUE(service.Ok());
    constexpr size_t kStopAfter = 2 * 1024 * 1024;
    service.StopReadingUploadsAfter(kStopAfter);
    for (bool escape : {false, true}) {
      SCOPED_TRACE(escape ? "Esc" : "Cancel upload");
      const int uploadsBefore = service.Count("/upload.php");
      CStarted started;
      // The run's modal loop disables its owner; re-enabling it is the
      // moment the loop is told to end.
      HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                   nullptr, nullptr);
      CTestTransferDialog dialog(service.Port(), LogInTiming::AsItComes, started, owner);
      std::atomic<DWORD> cancelledAt{0};
      std::atomic<DWORD> endedAt{0};
      CUser user([&](CUser& u) {
        HWND run = u.Expect("Uploading...");
        if (!run) return;
        const bool stopped = service.WaitFor(
            [&](const std::vector<ScriptedRequest>& requests) {
              int seen = 0;
              for (const ScriptedRequest& r : requests) {
                if (r.path.rfind("/upload.php", 0) == 0 && ++seen > uploadsBefore) {
                  return r.bodyBytes >= kStopAfter;
                }
              }
              return false;
            },
            60000);
        if (!stopped) {
          u.Fail("the server did not get 2 MB of the body");
          CUser::EndRun();
          return;
        }
        // The client fills the connection's buffers, then its write blocks.
        int last = -1;
        DWORD since = GetTickCount();
        e2e::WaitUntil(
            [&] {
              const int now = dialog.GetRunState().progressValue;
              if (now != last) {
                last = now;
                since = GetTickCount();
              }
              return GetTickCount() - since > 1500;
            },
            60000);
        cancelledAt = GetTickCount();
        if (escape) {
          PostMessageA(run, WM_COMMAND, IDCANCEL, 0);
        } else {
          e2e::PostClick(run, IDC_TRANSFER_CANCEL);
        }
        if (e2e::WaitUntil([&] { return IsWindowEnabled(owner) != FALSE; }, 20000)) {
          endedAt = GetTickCount();
        } else {
          u.Fail("the run did not end within 20 s of the cancel");
          CUser::EndRun();
        }
      });
      const INT_PTR result = dialog.RunUpload(list_);
      const DWORD returned = GetTickCount();
      user.Join();
      DestroyWindow(owner);
      EXPECT_EQ(user.Failures(), "");
      EXPECT_EQ(result, IDCANCEL);
      ASSERT_NE(endedAt.load(), 0u) << "the run's loop did not end";
      // Besides the run's own wait, Wine may take up to 2 s to take the
      // closed window down when no window manager runs.
      std::printf("run ended %lu ms after the cancel, RunUpload returned after %lu ms\n",
                  static_cast<unsigned long>(endedAt - cancelledAt),
                  static_cast<unsigned long>(returned - cancelledAt));
      EXPECT_LT(endedAt - cancelledAt, 1000u);
      EXPECT_LT(returned - endedAt, 2000u + CTransferDialog::AbortGraceMs + 500u);
      EXPECT_EQ(list_.Count(), 1);
      EXPECT_EQ(started.Get(), (std::vector<std::string>{"LogIn", "Upload"}));
    }
    // Both requests are still stuck in their writes.
    EXPECT_EQ(g_requestsAlive.load(), 2);
  }
  // The server is gone: the writes fail, and the requests end on their own.
  EXPECT_TRUE(e2e::WaitUntil([] { return g_requestsAlive.load() == 0; }, 30000))
      << g_requestsAlive.load() << " requests still open";
}

}  // namespace
