// The settings dialog driven as a user would: what it shows for stored
// settings, what OK stores, and "Check now!" against the album service of the
// test run, a raw loopback server and a port where nothing listens.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "core/settings/profile.h"
#include "core/settings/memory_profile.h"
#include "windows/settings/settings_dlg.h"
#include "core/protocol/http_upload.h"
#include "res/resource.h"
#include "tests/win/dialogs/dialog_harness.h"
#include "tests/win/support/loopback_server.h"

using namespace dlgtest;

namespace {

std::string Env(const char* name) {
  char value[1024] = {};
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

std::string WinePath(const std::string& unixPath) {
  std::string path = unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return "Z:" + path;
}

// Logins the album service has answered so far, from its request log.
int ServiceLoginCount() {
  std::ifstream log(WinePath(Env("QUIB_TEST_SERVICE_DATA") + "/service.log"));
  std::string line;
  int count = 0;
  while (std::getline(log, line)) {
    if (line.find("POST /login.php") != std::string::npos) ++count;
  }
  return count;
}

// One request to a test endpoint of the album service.
class CHookCall : public IHttpListener {
 public:
  void OnHttpEvent(const HttpEvent& e) override {
    if (e.type == HttpEventDone) text_ = e.text;
    if (e.type == HttpEventDone || e.type == HttpEventError || e.type == HttpEventCancelled)
      done_ = true;
  }
  std::string Call(const std::string& url) {
    {
      CHttpUpload upload;
      upload.AddListener(this);
      upload.Start(url, "Test");
      WaitUntil([&] { return done_.load(); }, 60000);
    }
    return text_;
  }

 private:
  std::atomic<bool> done_{false};
  std::string text_;
};

bool HasIcon(HWND box, LPCSTR iconId) {
  const HICON expected = LoadIconA(nullptr, iconId);
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char cls[16] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (_stricmp(cls, "Static") != 0) continue;
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
    if (reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)) == expected) return true;
  }
  return false;
}

// No message box owned by the window shows up within the time.
bool NoMessageBoxFor(HWND owner, DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
      char cls[16] = {};
      GetClassNameA(w, cls, sizeof cls);
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == GetCurrentProcessId() && strcmp(cls, "#32770") == 0 && GetDlgItem(w, 0xFFFF) &&
          IsWindowVisible(w) && (!owner || GetWindow(w, GW_OWNER) == owner))
        return false;
    }
    Sleep(50);
  }
  return true;
}

class SettingsDialog : public testing::Test {
 protected:
  void SetUp() override {
    SetUpApplication();
    ClearProfile();
  }
  void TearDown() override {
    ClearProfile();
    // Every check has ended and been released.
    EXPECT_TRUE(WaitUntil([] { return CLoginCheck::LiveCount() == 0; }, 20000));
  }

  static INT_PTR Run(const std::function<void(HWND)>& user,
                     const std::string& loginUrl = "http://127.0.0.1:1/login.php") {
    return RunDialog(
        [loginUrl](HWND owner) {
          CSettingsDlg dialog(owner, GetAppProfile(), loginUrl);
          return dialog.DoModal();
        },
        [&user] {
          HWND dlg = WaitDialog("Settings");
          ASSERT_TRUE(dlg);
          user(dlg);
          EXPECT_TRUE(WaitGone(dlg));
        });
  }

  static void Store(const char* name, int value) {
    GetAppProfile().WriteInt(ProfileSectionSettings, name, value);
  }
  static void Store(const char* name, const std::string& value) {
    GetAppProfile().WriteString(ProfileSectionSettings, name, value);
  }
  static std::map<std::string, RegValue> Stored() { return QuerySection("Settings"); }

  // Presses "Check now!" and answers the message box; returns its text, or
  // "(no box)". *icon tells which icon it showed.
  static std::string CheckNow(HWND dlg, LPCSTR* icon = nullptr) {
    Click(dlg, IDC_SETTINGS_CHECK);
    HWND box = WaitMessageBox(dlg);
    if (!box) return "(no box)";
    const std::string text = MessageBoxText(box);
    if (icon) {
      *icon = HasIcon(box, MAKEINTRESOURCEA(32516))   ? MAKEINTRESOURCEA(32516)  // information
              : HasIcon(box, MAKEINTRESOURCEA(32513)) ? MAKEINTRESOURCEA(32513)  // stop
                                                      : nullptr;
    }
    EXPECT_TRUE(AnswerMessageBox(box));
    return text;
  }
};

const LPCSTR kInformation = MAKEINTRESOURCEA(32516);
const LPCSTR kStop = MAKEINTRESOURCEA(32513);

TEST_F(SettingsDialog, EmptyProfileShowsDefaultsAndCancelStoresNothing) {
  EXPECT_EQ(Run([](HWND dlg) {
              char caption[64] = {};
              GetWindowTextA(dlg, caption, sizeof caption);
              EXPECT_STREQ(caption, "Settings");
              EXPECT_EQ(Text(dlg, IDC_SETTINGS_USERNAME_LABEL), "Username:");
              EXPECT_EQ(Text(dlg, IDC_SETTINGS_PASSWORD_LABEL), "Password:");
              EXPECT_EQ(Text(dlg, IDC_SETTINGS_CHECK), "Check now!");
              EXPECT_EQ(Text(dlg, IDC_SETTINGS_FOLDER_TEXT),
                        "Do you want to upload all pictures and movies\r\nto your public inbox "
                        "by default or let album\r\nselection dialog pop-up each time.");
              EXPECT_EQ(Text(dlg, IDOK), "OK");
              EXPECT_EQ(Text(dlg, IDCANCEL), "Cancel");
              EXPECT_EQ(Text(dlg, IDC_SETTINGS_ASK_FOLDER), "Show album selection dialog");
              EXPECT_EQ(Text(dlg, IDC_SETTINGS_PUBLIC_INBOX), "Upload to public inbox by default");
              EXPECT_EQ(Text(dlg, IDC_SETTINGS_RESIZE_TEXT),
                        "Resize large pictures before upload?");
              EXPECT_EQ(Text(dlg, IDC_SETTINGS_RESIZE_SMALL), "small, 640x480 (low-bandwidth)");
              EXPECT_EQ(Text(dlg, IDC_SETTINGS_RESIZE_MEDIUM), "medium, 1024x768 (high-bandwidth)");
              EXPECT_EQ(Text(dlg, IDC_SETTINGS_RESIZE_NONE), "Don't resize!");

              EXPECT_EQ(Text(dlg, IDC_SETTINGS_USERNAME), "");
              EXPECT_EQ(Text(dlg, IDC_SETTINGS_PASSWORD), "");
              EXPECT_TRUE(IsChecked(dlg, IDC_SETTINGS_ASK_FOLDER));
              EXPECT_FALSE(IsChecked(dlg, IDC_SETTINGS_PUBLIC_INBOX));
              EXPECT_FALSE(IsChecked(dlg, IDC_SETTINGS_RESIZE_SMALL));
              EXPECT_FALSE(IsChecked(dlg, IDC_SETTINGS_RESIZE_MEDIUM));
              EXPECT_TRUE(IsChecked(dlg, IDC_SETTINGS_RESIZE_NONE));
              EXPECT_TRUE(ShowsWhite(dlg, 3, 3));
              EXPECT_TRUE(ShowsWhiteIn(dlg, IDC_SETTINGS_RESIZE_SMALL));
              EXPECT_TRUE(ShowsWhiteIn(dlg, IDC_SETTINGS_FOLDER_TEXT));
              // Typing and choosing, then Cancel: nothing is stored.
              Type(dlg, IDC_SETTINGS_USERNAME, "someone");
              Type(dlg, IDC_SETTINGS_PASSWORD, "secret");
              Click(dlg, IDC_SETTINGS_RESIZE_SMALL);
              Click(dlg, IDCANCEL);
            }),
            IDCANCEL);
  EXPECT_TRUE(Stored().empty());
}

TEST_F(SettingsDialog, StoredValuesAreShownAndOkStoresTheChoices) {
  Store(ProfileUsername, std::string("J\xC3\xBCrgen"));  // shown as code page 1252 reads it
  Store(ProfilePassword, std::string("pa55"));
  Store(ProfileAskFolder, 0);
  Store(ProfileResizeImage, 2);
  EXPECT_EQ(Run([](HWND dlg) {
              EXPECT_EQ(Text(dlg, IDC_SETTINGS_USERNAME), "J\xFCrgen");
              EXPECT_EQ(Text(dlg, IDC_SETTINGS_PASSWORD), "pa55");
              EXPECT_FALSE(IsChecked(dlg, IDC_SETTINGS_ASK_FOLDER));
              EXPECT_TRUE(IsChecked(dlg, IDC_SETTINGS_PUBLIC_INBOX));
              EXPECT_TRUE(IsChecked(dlg, IDC_SETTINGS_RESIZE_MEDIUM));
              EXPECT_FALSE(IsChecked(dlg, IDC_SETTINGS_RESIZE_NONE));
              EXPECT_TRUE(Screenshot(dlg, "dialog-settings"));
              Click(dlg, IDC_SETTINGS_ASK_FOLDER);
              Click(dlg, IDC_SETTINGS_RESIZE_SMALL);
              Type(dlg, IDC_SETTINGS_USERNAME,
                   "Gr\xF6\xDF"
                   "e M\xFCller");
              Type(dlg, IDC_SETTINGS_PASSWORD, " two words ");
              WaitUntil([&] { return IsChecked(dlg, IDC_SETTINGS_RESIZE_SMALL); });
              Click(dlg, IDOK);
            }),
            IDOK);
  auto values = Stored();
  // reg.exe prints in the OEM code page; the profile reads what is stored,
  // in UTF-8.
  EXPECT_EQ(ReadUsername(GetAppProfile()),
            "Gr\xC3\xB6\xC3\x9F"
            "e M\xC3\xBCller");
  // Saved protected: reg.exe shows binary that does not give it away.
  EXPECT_EQ(values["Password"].type, "REG_BINARY");
  EXPECT_FALSE(ShowsSecret(values["Password"], " two words ")) << values["Password"].data;
  EXPECT_EQ(ReadPassword(GetAppProfile()), " two words ");
  EXPECT_EQ(values["AskFolder"].data, "0x1");
  EXPECT_EQ(values["ResizeImage"].data, "0x1");
  EXPECT_EQ(values.count("AskResize"), 0u);
}

TEST_F(SettingsDialog, UnknownResizeValueShowsDontResizeAndOkStoresThree) {
  for (int stored : {0, 7}) {
    ClearProfile();
    Store(ProfileResizeImage, stored);
    Store(ProfileAskFolder, 5);  // any nonzero value asks for the album
    EXPECT_EQ(Run([](HWND dlg) {
                EXPECT_TRUE(IsChecked(dlg, IDC_SETTINGS_RESIZE_NONE));
                EXPECT_FALSE(IsChecked(dlg, IDC_SETTINGS_RESIZE_SMALL));
                EXPECT_FALSE(IsChecked(dlg, IDC_SETTINGS_RESIZE_MEDIUM));
                EXPECT_TRUE(IsChecked(dlg, IDC_SETTINGS_ASK_FOLDER));
                Click(dlg, IDOK);
              }),
              IDOK);
    auto values = Stored();
    EXPECT_EQ(values["ResizeImage"].data, "0x3") << stored;
    EXPECT_EQ(values["AskFolder"].data, "0x1") << stored;
    // Empty credential fields store nothing.
    EXPECT_EQ(values.count("Username"), 0u);
    EXPECT_EQ(values.count("Password"), 0u);
  }
}

TEST_F(SettingsDialog, AnEmptyFieldKeepsTheStoredPairButTheChoicesAreStored) {
  Store(ProfileUsername, std::string("alice"));
  Store(ProfilePassword, std::string("old-pass"));
  EXPECT_EQ(Run([](HWND dlg) {
              Type(dlg, IDC_SETTINGS_USERNAME, "bob");
              Type(dlg, IDC_SETTINGS_PASSWORD, "");
              Click(dlg, IDC_SETTINGS_PUBLIC_INBOX);
              Click(dlg, IDC_SETTINGS_RESIZE_MEDIUM);
              WaitUntil([&] { return IsChecked(dlg, IDC_SETTINGS_RESIZE_MEDIUM); });
              Click(dlg, IDOK);
            }),
            IDOK);
  auto values = Stored();
  EXPECT_EQ(values["Username"].data, "alice");
  EXPECT_EQ(values["Password"].data, "old-pass");
  EXPECT_EQ(values["AskFolder"].data, "0x0");
  EXPECT_EQ(values["ResizeImage"].data, "0x2");
}

TEST_F(SettingsDialog, APasswordThatCannotBeProtectedIsToldAndNotKept) {
  CMemoryProfile profile;
  profile.WriteString(ProfileSectionSettings, ProfileUsername, "alice");
  profile.WriteString(ProfileSectionSettings, ProfilePassword, "old-pass");
  profile.FailProtectedWrites(true);
  const INT_PTR result = RunDialog(
      [&](HWND owner) {
        CSettingsDlg dialog(owner, profile, "http://127.0.0.1:1/login.php");
        return dialog.DoModal();
      },
      [] {
        HWND dlg = WaitDialog("Settings");
        ASSERT_TRUE(dlg);
        Type(dlg, IDC_SETTINGS_USERNAME, "bob");
        Type(dlg, IDC_SETTINGS_PASSWORD, "new-pass");
        Click(dlg, IDOK);
        HWND box = WaitMessageBox(dlg);
        ASSERT_TRUE(box);
        EXPECT_EQ(MessageBoxText(box), kTextPasswordNotStoredForLater);
        EXPECT_TRUE(HasIcon(box, kStop));
        EXPECT_TRUE(AnswerMessageBox(box));
        EXPECT_TRUE(WaitGone(dlg));
      });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(ReadUsername(profile), "bob");
  EXPECT_EQ(ReadPassword(profile), "");
}

// --- "Check now!" -----------------------------------------------------------

class SettingsCheck : public SettingsDialog {
 protected:
  void SetUp() override {
    SettingsDialog::SetUp();
    if (Env("QUIB_TEST_SERVICE_URL").empty())
      GTEST_SKIP() << "no album service: run through scripts/test.sh";
    user_ =
        "settings-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    CHookCall call;
    ASSERT_EQ(call.Call(Env("QUIB_TEST_SERVICE_URL") + "/test/account?name=" + user_ +
                        "&password=right-pass"),
              "ok\n");
  }
  static std::string LoginUrl() { return Env("QUIB_TEST_SERVICE_URL") + "/login.php"; }
  std::string user_;
};

TEST_F(SettingsCheck, RightAndWrongCredentialsAndAStoppedServiceGiveTheThreeMessages) {
  const int before = ServiceLoginCount();
  EXPECT_EQ(Run(
                [&](HWND dlg) {
                  LPCSTR icon = nullptr;
                  Type(dlg, IDC_SETTINGS_USERNAME, user_);
                  Type(dlg, IDC_SETTINGS_PASSWORD, "right-pass");
                  EXPECT_EQ(CheckNow(dlg, &icon), "Username and password seem to be correct.");
                  EXPECT_EQ(icon, kInformation);
                  // Once the box is closed the dialog is usable and the next
                  // press starts a new check.
                  Type(dlg, IDC_SETTINGS_PASSWORD, "wrong-pass");
                  EXPECT_EQ(CheckNow(dlg, &icon),
                            "You need valid username and password to upload files.");
                  EXPECT_EQ(icon, kStop);
                  Type(dlg, IDC_SETTINGS_USERNAME, "");
                  Type(dlg, IDC_SETTINGS_PASSWORD, "");
                  EXPECT_EQ(CheckNow(dlg, &icon),
                            "You need valid username and password to upload files.");
                  EXPECT_EQ(Text(dlg, IDC_SETTINGS_USERNAME), "");
                  Click(dlg, IDCANCEL);
                },
                LoginUrl()),
            IDCANCEL);
  EXPECT_EQ(ServiceLoginCount() - before, 3);
  // Checking stores nothing.
  EXPECT_TRUE(Stored().empty());

  const std::string stopped =
      "http://127.0.0.1:" + std::to_string(CLoopbackServer::UnusedPort()) + "/login.php";
  EXPECT_EQ(Run(
                [&](HWND dlg) {
                  LPCSTR icon = nullptr;
                  Type(dlg, IDC_SETTINGS_USERNAME, user_);
                  Type(dlg, IDC_SETTINGS_PASSWORD, "right-pass");
                  EXPECT_EQ(CheckNow(dlg, &icon), "The server is not responding.");
                  EXPECT_EQ(icon, kStop);
                  Click(dlg, IDOK);
                },
                stopped),
            IDOK);
}

TEST_F(SettingsCheck, TwoQuickPressesSendOneRequest) {
  const int before = ServiceLoginCount();
  EXPECT_EQ(Run(
                [&](HWND dlg) {
                  Type(dlg, IDC_SETTINGS_USERNAME, user_);
                  Type(dlg, IDC_SETTINGS_PASSWORD, "right-pass");
                  Click(dlg, IDC_SETTINGS_CHECK);
                  EXPECT_EQ(CheckNow(dlg), "Username and password seem to be correct.");
                  // Exactly one box: nothing follows the answered one.
                  EXPECT_TRUE(NoMessageBoxFor(dlg, 1500));
                  Click(dlg, IDCANCEL);
                },
                LoginUrl()),
            IDCANCEL);
  EXPECT_EQ(ServiceLoginCount() - before, 1);
}

// A password stored in clear text by an earlier installation still logs in;
// saving the settings protects it, and it logs in as before.
TEST_F(SettingsCheck, AnOldPlainTextPasswordLogsInAndIsProtectedWhenSaved) {
  Store(ProfileUsername, user_);
  Store(ProfilePassword, std::string("right-pass"));  // as earlier versions wrote it
  ASSERT_EQ(Stored()["Password"].type, "REG_SZ");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "plain text" : "protected");
    EXPECT_EQ(Run(
                  [&](HWND dlg) {
                    EXPECT_EQ(Text(dlg, IDC_SETTINGS_PASSWORD), "right-pass");
                    EXPECT_EQ(CheckNow(dlg), "Username and password seem to be correct.");
                    Click(dlg, IDOK);
                  },
                  LoginUrl()),
              IDOK);
    auto values = Stored();
    EXPECT_EQ(values["Password"].type, "REG_BINARY");
    EXPECT_FALSE(ShowsSecret(values["Password"], "right-pass")) << values["Password"].data;
    EXPECT_EQ(values["Username"].type, "REG_SZ");
    EXPECT_EQ(values["Username"].data, user_);
  }
}

// The request on the wire: the typed texts converted to UTF-8, language and
// version, the typed values never stored.
TEST_F(SettingsDialog, CheckSendsTheTypedValuesInUtf8) {
  CLoopbackServer server;
  server.SetAnswer(CLoopbackServer::Answer(200, "0\r\nSId=abc\r\n"));
  EXPECT_EQ(Run(
                [&](HWND dlg) {
                  Type(dlg, IDC_SETTINGS_USERNAME, "J\xFCrgen");
                  Type(dlg, IDC_SETTINGS_PASSWORD, "\xDF\xE9");
                  Click(dlg, IDC_SETTINGS_CHECK);
                  Click(dlg, IDC_SETTINGS_CHECK);
                  EXPECT_EQ(CheckNow(dlg), "Username and password seem to be correct.");
                  EXPECT_TRUE(NoMessageBoxFor(dlg, 1000));
                  Click(dlg, IDCANCEL);
                },
                server.BaseUrl() + "/login.php"),
            IDCANCEL);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(RequestHeadLines(requests[0])[0], "POST /login.php HTTP/1.0");
  const std::string body = RequestBody(requests[0]);
  auto field = [&](const std::string& name) {
    const std::string head =
        "name=\"" + name + "\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
    const size_t at = body.find(head);
    if (at == std::string::npos) return std::string("(missing)");
    const size_t start = at + head.size();
    return body.substr(start, body.find("\r\n", start) - start);
  };
  EXPECT_EQ(field("Username"), "J\xC3\xBCrgen");
  EXPECT_EQ(field("Password"), "\xC3\x9F\xC3\xA9");
  EXPECT_EQ(field("Language"), "DE");
  EXPECT_EQ(field("Version"), "1.0");
  EXPECT_TRUE(Stored().empty());
}

// Closing the dialog while the server keeps the check waiting: the check is
// cancelled, no message box appears afterwards, and it is released.
TEST_F(SettingsDialog, ClosingDuringAStalledCheckLeavesNoMessageAndNoCheck) {
  for (int closeWith : {IDCANCEL, IDOK}) {
    CLoopbackServer server;
    server.SetMode(LoopbackStallAnswer);
    HWND closed = nullptr;
    EXPECT_EQ(Run(
                  [&](HWND dlg) {
                    Type(dlg, IDC_SETTINGS_USERNAME, "u");
                    Type(dlg, IDC_SETTINGS_PASSWORD, "p");
                    Click(dlg, IDC_SETTINGS_CHECK);
                    EXPECT_TRUE(server.WaitRequestsComplete(1));
                    EXPECT_EQ(CLoginCheck::LiveCount(), 1);
                    closed = dlg;
                    Click(dlg, closeWith);
                  },
                  server.BaseUrl() + "/login.php"),
              closeWith);
    EXPECT_TRUE(NoMessageBoxFor(nullptr, 2000));
    EXPECT_TRUE(WaitUntil([] { return CLoginCheck::LiveCount() == 0; }, 20000));
    EXPECT_FALSE(IsWindow(closed));
    EXPECT_EQ(server.Requests().size(), 1u);
  }
  // A later dialog checks as usual.
  CLoopbackServer server;
  server.SetAnswer(CLoopbackServer::Answer(200, "2\r\n"));
  EXPECT_EQ(Run(
                [&](HWND dlg) {
                  EXPECT_EQ(CheckNow(dlg), "You need valid username and password to upload files.");
                  Click(dlg, IDCANCEL);
                },
                server.BaseUrl() + "/login.php"),
            IDCANCEL);
}

TEST(SettingsTexts, ResultMessagesAndIcons) {
  EXPECT_STREQ(quib::CheckResultText(ResultOk), "Username and password seem to be correct.");
  EXPECT_EQ(quib::CheckResultIcon(ResultOk), static_cast<UINT>(MB_ICONINFORMATION));
  EXPECT_STREQ(quib::CheckResultText(ResultBadLogin),
               "You need valid username and password to upload files.");
  for (int other : {int(ResultFailed), int(ResultNoAlbums), int(ResultTooBig), 1, 7}) {
    EXPECT_STREQ(quib::CheckResultText(other), "The server is not responding.") << other;
    EXPECT_EQ(quib::CheckResultIcon(other), static_cast<UINT>(MB_ICONSTOP)) << other;
  }
  EXPECT_EQ(quib::CheckResultIcon(ResultBadLogin), static_cast<UINT>(MB_ICONSTOP));
}

}  // namespace
