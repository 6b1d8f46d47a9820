// The settings dialog (from the main window's settings button) and the media
// details dialog (from a right click on the upload list) of the real program,
// against the album service that the test run starts where the program
// expects it (QUIB_UPLOAD_SERVICE_URL). Requests are counted in the
// service's log; the service is stopped and started through its controller;
// a stalled server is played by a socket that takes the request and never
// answers, on the program's service port while the service is stopped.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/driver/driver.h"
#include "tests/win/support/watchdog.h"

using namespace e2e;

namespace {

constexpr int kList = 1005, kSettings = 1015, kUpload = 1007;
constexpr int kUser = 1008, kPassword = 1009, kCheck = 1012, kAskFolder = 1013, kInbox = 1014,
              kSmall = 1015, kMedium = 1016, kNoResize = 1017;
constexpr int kDetailsTags = 1019, kDetailsComment = 1020, kDetailsName = 1022,
              kDetailsAddToAll = 1037;

const char kProfileKey[] = "Software\\BRAMWELD\\quib-uploader-net\\quibuploader";

std::string Env(const char* name) {
  char value[1024] = {};
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

uint16_t PortOf(const std::string& url) {
  const size_t colon = url.rfind(':');
  return colon == std::string::npos ? 80 : static_cast<uint16_t>(atoi(url.c_str() + colon + 1));
}

// --- the service ---------------------------------------------------------

SOCKET Connect(uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

// GET of a test hook of the service; the body, or "" when it failed.
std::string Get(uint16_t port, const std::string& pathAndQuery) {
  SOCKET s = Connect(port);
  if (s == INVALID_SOCKET) return std::string();
  const std::string request =
      "GET " + pathAndQuery + " HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  send(s, request.data(), static_cast<int>(request.size()), 0);
  std::string answer;
  char buffer[4096];
  int got = 0;
  while ((got = recv(s, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, got);
  closesocket(s);
  const size_t body = answer.find("\r\n\r\n");
  if (answer.compare(0, 12, "HTTP/1.1 200") != 0 || body == std::string::npos) return std::string();
  return answer.substr(body + 4);
}

// A server that reads requests and never answers; counts its connections.
class CStalledServer {
 public:
  explicit CStalledServer(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    // The service's closed connections keep the port in TIME_WAIT for up to
    // a minute, and Wine's sockets cannot bind over them; a socket whose bind
    // failed is not tried again.
    WaitUntil(
        [&] {
          listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
          if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return true;
          error_ = WSAGetLastError();
          closesocket(listener_);
          listener_ = INVALID_SOCKET;
          return false;
        },
        120000);
    ok_ = listener_ != INVALID_SOCKET && listen(listener_, 8) == 0;
    if (ok_) thread_ = std::thread([this] { Serve(); });
  }
  ~CStalledServer() {
    closesocket(listener_);
    if (thread_.joinable()) thread_.join();
    for (SOCKET s : clients_) closesocket(s);
  }
  bool Ok() const { return ok_; }
  int Error() const { return error_; }
  int Connections() const { return connections_.load(); }

 private:
  void Serve() {
    for (;;) {
      SOCKET client = accept(listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET) return;
      clients_.push_back(client);
      ++connections_;
    }
  }

  SOCKET listener_ = INVALID_SOCKET;
  bool ok_ = false;
  int error_ = 0;
  std::atomic<int> connections_{0};
  std::vector<SOCKET> clients_;  // held open, unanswered
  std::thread thread_;
};

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// --- the profile of the program ---------------------------------------------

// "(none)" when the value is missing.
std::string StoredString(const char* name) {
  char value[512] = {};
  DWORD size = sizeof value;
  if (RegGetValueA(HKEY_CURRENT_USER, (std::string(kProfileKey) + "\\Settings").c_str(), name,
                   RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return "(none)";
  return value;
}

long StoredInt(const char* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueA(HKEY_CURRENT_USER, (std::string(kProfileKey) + "\\Settings").c_str(), name,
                   RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
    return -1;
  return static_cast<long>(value);
}

// A real click on a radio button or check box, so its group follows.
void Press(HWND dlg, int id) {
  PostMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
}

bool Checked(HWND dlg, int id) {
  return SendMessageA(GetDlgItem(dlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// A message box of the program: captioned with the program's name, its text
// in a static 0xFFFF. (Dialogs with group boxes have a 0xFFFF control too.)
struct BoxSearch {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindBox(HWND w, LPARAM lp) {
  auto* search = reinterpret_cast<BoxSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  char cls[16] = {}, title[64] = {}, textClass[16] = {};
  GetClassNameA(w, cls, sizeof cls);
  GetWindowTextA(w, title, sizeof title);
  HWND text = GetDlgItem(w, 0xFFFF);
  if (text) GetClassNameA(text, textClass, sizeof textClass);
  if (pid == search->pid && strcmp(cls, "#32770") == 0 && strcmp(title, "quibuploader") == 0 &&
      _stricmp(textClass, "Static") == 0 && IsWindowVisible(w)) {
    search->found = w;
    return FALSE;
  }
  return TRUE;
}

HWND WaitForBox(DWORD pid, DWORD timeoutMs) {
  BoxSearch search{pid, nullptr};
  WaitUntil(
      [&] {
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeoutMs);
  return search.found;
}

bool NoMessageBoxFor(DWORD pid, DWORD ms) {
  return WaitForBox(pid, ms) == nullptr;
}

// Presses OK of a message box and waits until it is gone.
bool Answer(HWND box) {
  PostClick(box, IDOK);
  return WaitWindowGone(box, 10000);
}

class SettingsAndDetails : public testing::Test {
 protected:
  void SetUp() override {
    const std::string url = Env("QUIB_UPLOAD_SERVICE_URL");
    if (url.empty())
      GTEST_SKIP() << "no album service at the program's address: run scripts/test.sh";
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    port_ = PortOf(url);
    data_ = ToWindowsPath(Env("QUIB_UPLOAD_SERVICE_DATA"));
    user_ = "settings" + std::to_string(GetCurrentProcessId()) + "x" + std::to_string(++counter_);
    ASSERT_EQ(Get(port_, "/test/account?name=" + user_ + "&password=right-pass"), "ok\n");
    ClearProfile();
  }
  void TearDown() override {
    if (program_) program_->Close();
    program_.reset();
    if (stopped_) StartService();
    ClearProfile();
  }

  void Start(const std::string& args = "") {
    program_ = CProgram::Launch(args);
    ASSERT_TRUE(program_) << "cannot start " << ProgramPath();
    main_ = program_->WaitMainWindow();
    ASSERT_TRUE(main_);
  }
  HWND OpenSettings() {
    PostClick(main_, kSettings);
    return WaitForWindow("Settings", program_->Pid(), 15000, "#32770");
  }
  // Presses "Check now!" and answers the box; its text, or "(no box)".
  std::string CheckNow(HWND dlg) {
    PostClick(dlg, kCheck);
    HWND box = WaitForBox(program_->Pid(), 20000);
    if (!box) return "(no box)";
    const std::string text = MessageBoxText(box);
    EXPECT_EQ(GetWindow(box, GW_OWNER), dlg);
    EXPECT_TRUE(Answer(box));
    return text;
  }

  // Logins the service has answered, from its request log.
  int LoginCount() {
    std::ifstream log(data_ + "\\service.log");
    std::string line;
    int count = 0;
    while (std::getline(log, line)) count += line.find("POST /login.php") != std::string::npos;
    return count;
  }
  // Through the service's controller: ended hard, as a crash would.
  void StopService() {
    stopped_ = true;
    WriteBytes(data_ + "\\stop-request", "");
    ASSERT_TRUE(WaitUntil([&] { return FileExists(data_ + "\\stopped"); }, 20000));
  }
  void StartService() {
    stopped_ = false;
    WriteBytes(data_ + "\\start-request", "");
    EXPECT_TRUE(WaitUntil([&] { return FileExists(data_ + "\\started"); }, 20000));
  }

  static int counter_;
  uint16_t port_ = 0;
  std::string data_;
  std::string user_;
  bool stopped_ = false;
  std::unique_ptr<CProgram> program_;
  HWND main_ = nullptr;
};

int SettingsAndDetails::counter_ = 0;

TEST_F(SettingsAndDetails, SettingsShowsTheProfileAndOkStoresTheChoices) {
  StoreProfileInt("ResizeImage", 0);
  ASSERT_NO_FATAL_FAILURE(Start());
  HWND dlg = OpenSettings();
  ASSERT_TRUE(dlg) << "the settings button opened no dialog";
  EXPECT_EQ(GetText(GetDlgItem(dlg, kUser)), "");
  EXPECT_EQ(GetText(GetDlgItem(dlg, kPassword)), "");
  EXPECT_TRUE(Checked(dlg, kAskFolder));
  EXPECT_FALSE(Checked(dlg, kInbox));
  EXPECT_TRUE(Checked(dlg, kNoResize));
  EXPECT_FALSE(Checked(dlg, kSmall));
  EXPECT_FALSE(Checked(dlg, kMedium));
  EXPECT_NE(SaveScreenshot(dlg, "e2e-settings"), "");
  PostClick(dlg, IDOK);
  EXPECT_TRUE(WaitWindowGone(dlg, 10000));
  EXPECT_EQ(StoredInt("ResizeImage"), 3);
  EXPECT_EQ(StoredInt("AskFolder"), 1);
  EXPECT_EQ(StoredString("Username"), "(none)");

  // A stored pair, the password cleared: the pair stays, the choices go in.
  StoreProfileString("Username", "alice");
  StoreProfileString("Password", "secret");
  dlg = OpenSettings();
  ASSERT_TRUE(dlg);
  EXPECT_EQ(GetText(GetDlgItem(dlg, kUser)), "alice");
  EXPECT_EQ(GetText(GetDlgItem(dlg, kPassword)), "secret");
  SetText(GetDlgItem(dlg, kPassword), "");
  Press(dlg, kInbox);
  Press(dlg, kMedium);
  WaitUntil([&] { return Checked(dlg, kMedium); }, 5000);
  PostClick(dlg, IDOK);
  EXPECT_TRUE(WaitWindowGone(dlg, 10000));
  EXPECT_EQ(StoredString("Username"), "alice");
  EXPECT_EQ(StoredString("Password"), "secret");
  EXPECT_EQ(StoredInt("AskFolder"), 0);
  EXPECT_EQ(StoredInt("ResizeImage"), 2);
}

TEST_F(SettingsAndDetails, CheckNowReportsTheThreeResults) {
  ASSERT_NO_FATAL_FAILURE(Start());
  HWND dlg = OpenSettings();
  ASSERT_TRUE(dlg) << "the settings button opened no dialog";
  const int before = LoginCount();
  SetText(GetDlgItem(dlg, kUser), user_);
  SetText(GetDlgItem(dlg, kPassword), "right-pass");
  EXPECT_EQ(CheckNow(dlg), "Username and password seem to be correct.");
  SetText(GetDlgItem(dlg, kPassword), "wrong");
  EXPECT_EQ(CheckNow(dlg), "You need valid username and password to upload files.");
  EXPECT_EQ(LoginCount() - before, 2);

  // Two quick presses: one request, one message.
  SetText(GetDlgItem(dlg, kPassword), "right-pass");
  PostClick(dlg, kCheck);
  EXPECT_EQ(CheckNow(dlg), "Username and password seem to be correct.");
  EXPECT_TRUE(NoMessageBoxFor(program_->Pid(), 1500));
  EXPECT_EQ(LoginCount() - before, 3);

  ASSERT_NO_FATAL_FAILURE(StopService());
  EXPECT_EQ(CheckNow(dlg), "The server is not responding.");
  EXPECT_NE(SaveScreenshot(dlg, "e2e-settings-after-check"), "");
  // Checking stored nothing.
  PostClick(dlg, IDCANCEL);
  EXPECT_TRUE(WaitWindowGone(dlg, 10000));
  EXPECT_EQ(StoredString("Username"), "(none)");
}

TEST_F(SettingsAndDetails, ClosingDuringAStalledCheckLeavesNoMessageBox) {
  // Taking over the service's port may wait up to two minutes (TIME_WAIT).
  quibtest::SetTestBound(300);
  ASSERT_NO_FATAL_FAILURE(StopService());
  CStalledServer stalled(port_);
  ASSERT_TRUE(stalled.Ok()) << "socket error " << stalled.Error();
  ASSERT_NO_FATAL_FAILURE(Start());
  HWND dlg = OpenSettings();
  ASSERT_TRUE(dlg) << "the settings button opened no dialog";
  SetText(GetDlgItem(dlg, kUser), "u");
  SetText(GetDlgItem(dlg, kPassword), "p");
  PostClick(dlg, kCheck);
  EXPECT_TRUE(WaitUntil([&] { return stalled.Connections() == 1; }, 10000));
  PostClick(dlg, IDCANCEL);
  EXPECT_TRUE(WaitWindowGone(dlg, 10000));
  EXPECT_TRUE(NoMessageBoxFor(program_->Pid(), 3000));
  EXPECT_FALSE(program_->WaitExit(0));
  // The program goes on: the dialog opens again, and the program ends
  // normally.
  dlg = OpenSettings();
  ASSERT_TRUE(dlg);
  PostClick(dlg, IDCANCEL);
  EXPECT_TRUE(WaitWindowGone(dlg, 10000));
  PostMessageA(main_, WM_CLOSE, 0, 0);
  DWORD code = 1;
  EXPECT_TRUE(program_->WaitExit(20000, &code));
  EXPECT_EQ(code, 0u);
}

// --- the media details dialog -----------------------------------------------

// A right click at a point of a window's client area, as the mouse does it.
void RightClick(HWND window, int x, int y) {
  POINT p{x, y};
  ClientToScreen(window, &p);
  SetCursorPos(p.x, p.y);
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
  input[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
  SendInput(2, input, sizeof(INPUT));
}

TEST_F(SettingsAndDetails, RightClickEditsTheFirstSelectedEntry) {
  const std::string dir = MakeTempDir("details");
  const std::string a = dir + "\\beach.jpg", b = dir + "\\garden.png";
  ASSERT_TRUE(WritePicture(a, 1600, 1200, RGB(200, 40, 40)));
  ASSERT_TRUE(WritePicture(b, 300, 200, RGB(40, 160, 40)));
  ASSERT_NO_FATAL_FAILURE(Start("\"" + a + "\" \"" + b + "\""));
  HWND list = GetDlgItem(main_, kList);
  ASSERT_TRUE(WaitUntil([&] { return ReadListView(list).size() == 2; }, 20000));

  // Nothing selected: nothing opens.
  SelectListEntry(list, 0, false);
  SelectListEntry(list, 1, false);
  RightClick(list, 300, 380);
  EXPECT_EQ(WaitForWindow("Media details", program_->Pid(), 2000, "#32770"), nullptr);

  SelectListEntry(list, 0, true);
  SelectListEntry(list, 1, true);
  RightClick(list, 57, 40);  // on the first entry
  HWND dlg = WaitForWindow("Media details", program_->Pid(), 15000, "#32770");
  ASSERT_TRUE(dlg) << "the right click opened no details";
  EXPECT_EQ(GetText(GetDlgItem(dlg, kDetailsName)), "beach.jpg");
  EXPECT_NE(SaveScreenshot(dlg, "e2e-details"), "");
  SetText(GetDlgItem(dlg, kDetailsName), "Str\xE4nde im Sommer");
  SetText(GetDlgItem(dlg, kDetailsTags),
          "meer \"s\xFC\xDF"
          "e Tage\"");
  SetText(GetDlgItem(dlg, kDetailsComment), "Erste Zeile\r\nZweite Zeile: \xC4pfel");
  Press(dlg, kDetailsAddToAll);
  WaitUntil([&] { return Checked(dlg, kDetailsAddToAll); }, 5000);
  PostClick(dlg, IDOK);
  EXPECT_TRUE(WaitWindowGone(dlg, 10000));
  // The entry shows the new name, shortened.
  auto entries = ReadListView(list);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].text, "Str\xE4nde im ...");
  EXPECT_EQ(entries[1].text, "garden.png");

  // Cancel changes nothing: the second entry keeps the appended tags.
  SelectListEntry(list, 0, false);
  RightClick(list, 57 + 114, 40);
  dlg = WaitForWindow("Media details", program_->Pid(), 15000, "#32770");
  ASSERT_TRUE(dlg);
  EXPECT_EQ(GetText(GetDlgItem(dlg, kDetailsName)), "garden.png");
  EXPECT_EQ(GetText(GetDlgItem(dlg, kDetailsTags)),
            "meer \"s\xFC\xDF"
            "e Tage\"");
  SetText(GetDlgItem(dlg, kDetailsName), "other");
  PostClick(dlg, IDCANCEL);
  EXPECT_TRUE(WaitWindowGone(dlg, 10000));
  EXPECT_EQ(ReadListView(list)[1].text, "garden.png");

  // The next upload sends the edited texts, UTF-8 encoded, line breaks kept.
  StoreProfileString("Username", user_);
  StoreProfileString("Password", "right-pass");
  StoreProfileInt("AskFolder", 0);  // straight to the public inbox
  StoreProfileInt("AskResize", 0);  // and no question about the large picture
  PostClick(main_, kUpload);
  HWND box = WaitForBox(program_->Pid(), 60000);
  ASSERT_TRUE(box);
  EXPECT_EQ(MessageBoxText(box), "2 file(s) successfully uploaded.");
  EXPECT_TRUE(Answer(box));
  const std::string media = Get(port_, "/test/media?account=" + user_);
  // One TSV row per file; \r and \n are escaped in the listing.
  EXPECT_NE(media.find("\tStr\xC3\xA4nde im Sommer\tmeer \"s\xC3\xBC\xC3\x9F"
                       "e Tage\"\t"
                       "Erste Zeile\\r\\nZweite Zeile: \xC3\x84pfel\t"),
            std::string::npos)
      << media;
  EXPECT_NE(media.find("\tgarden.png\tmeer \"s\xC3\xBC\xC3\x9F"
                       "e Tage\"\t\t"),
            std::string::npos)
      << media;
}

}  // namespace
