#include "tests/e2e/faults/fault_support.h"

#include <wininet.h>

#include <cctype>

#include "res/resource.h"
#include "tests/win/support/wait_note.h"
#include "tests/win/support/watchdog.h"

namespace e2e {

namespace {

const char kProfileKey[] = "Software\\BRAMWELD\\quib-uploader-net\\quibuploader";
const char kSettingsKey[] = "Software\\BRAMWELD\\quib-uploader-net\\quibuploader\\Settings";
// The main window's answer to WM_USER.
constexpr LRESULT kAliveAnswer = 0x534B0000;

std::string UrlEncode(const std::string& text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (isalnum(c) || c == '-' || c == '_' || c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string Quote(const std::vector<std::string>& paths) {
  std::string args;
  for (const std::string& p : paths) args += (args.empty() ? "\"" : " \"") + p + "\"";
  return args;
}

}  // namespace

std::string EnvVar(const char* name) {
  char buffer[2048] = {};
  const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

void ClearProfile() {
  RegDeleteTreeA(HKEY_CURRENT_USER, kProfileKey);
}

void StoreCredentials(const std::string& user, const std::string& password) {
  RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, "Username", REG_SZ, user.c_str(),
                  static_cast<DWORD>(user.size() + 1));
  RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, "Password", REG_SZ, password.c_str(),
                  static_cast<DWORD>(password.size() + 1));
}

void StoreProfileInt(const char* name, DWORD value) {
  RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, name, REG_DWORD, &value, sizeof value);
}

int TempCopies(const std::string& folder) {
  std::string where = folder;
  if (where.empty()) {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, temp);
    where = temp;
  }
  if (!where.empty() && where.back() != '\\') where += '\\';
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((where + "NEW*.tmp").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do ++count;
  while (FindNextFileA(find, &data));
  FindClose(find);
  return count;
}

bool WriteMovie(const std::string& path, size_t size) {
  std::string bytes("FLV\x01\x05\x00\x00\x00\x09", 9);
  bytes.reserve(size);
  unsigned v = 12345;
  while (bytes.size() < size) {
    v = v * 1103515245u + 12345u;
    bytes += static_cast<char>(v >> 24);
  }
  return WriteBytes(path, bytes);
}

std::string UploadServiceUrl() {
  return EnvVar("QUIB_UPLOAD_SERVICE_URL");
}

std::string HttpGet(const std::string& url, bool* ok) {
  std::string body;
  bool good = false;
  HINTERNET session = InternetOpenA("quib-e2e", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (session) {
    HINTERNET request = InternetOpenUrlA(session, url.c_str(), nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (request) {
      DWORD status = 0, size = sizeof status;
      HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                     nullptr);
      char buffer[4096];
      DWORD got = 0;
      while (InternetReadFile(request, buffer, sizeof buffer, &got) && got > 0)
        body.append(buffer, got);
      good = status == 200;
      InternetCloseHandle(request);
    }
    InternetCloseHandle(session);
  }
  if (ok) *ok = good;
  return body;
}

std::vector<TsvRow> Tsv(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> cells;
    size_t c = start;
    for (;;) {
      size_t tab = text.find('\t', c);
      if (tab == std::string::npos || tab > end) tab = end;
      cells.push_back(text.substr(c, tab - c));
      if (tab == end) break;
      c = tab + 1;
    }
    lines.push_back(cells);
    start = end + 1;
  }
  std::vector<TsvRow> rows;
  for (size_t i = 1; i < lines.size(); ++i) {
    TsvRow row;
    for (size_t j = 0; j < lines[0].size() && j < lines[i].size(); ++j)
      row[lines[0][j]] = lines[i][j];
    rows.push_back(row);
  }
  return rows;
}

std::string NewAccount(const std::string& stem, const std::string& password) {
  static int counter = 0;
  const std::string name =
      stem + std::to_string(GetCurrentProcessId()) + "x" + std::to_string(++counter);
  bool ok = false;
  HttpGet(UploadServiceUrl() + "/test/account?name=" + name + "&password=" + UrlEncode(password),
          &ok);
  return ok ? name : std::string();
}

std::vector<TsvRow> StoredMedia(const std::string& account) {
  return Tsv(HttpGet(UploadServiceUrl() + "/test/media?account=" + account));
}

void CFaultTest::SetUp() {
  // Each test runs the program through several faults in a row.
  quibtest::SetTestBound(240);
  ClearProfile();
  dir_ = MakeTempDir(testing::UnitTest::GetInstance()->current_test_info()->name());
  tempCopiesBefore_ = TempCopies();
}

void CFaultTest::TearDown() {
  program_.reset();
  ClearProfile();
  for (const auto& file : userFiles_) DeleteFileA(file.first.c_str());
  RemoveDirectoryA(dir_.c_str());
}

std::string CFaultTest::Picture(const std::string& name, int width, int height, COLORREF color) {
  const std::string path = dir_ + "\\" + name;
  EXPECT_TRUE(WritePicture(path, width, height, color)) << path;
  userFiles_[path] = ReadBytes(path);
  return path;
}

std::string CFaultTest::Movie(const std::string& name, size_t size) {
  const std::string path = dir_ + "\\" + name;
  EXPECT_TRUE(WriteMovie(path, size)) << path;
  userFiles_[path] = ReadBytes(path);
  return path;
}

void CFaultTest::Start(const std::vector<std::string>& files) {
  program_ = CProgram::Launch(Quote(files));
  ASSERT_TRUE(program_) << "the program did not start";
  main_ = program_->WaitMainWindow();
  ASSERT_TRUE(main_) << "no main window within 30 s";
  ASSERT_TRUE(WaitUntil([&] { return Captions().size() == files.size(); }, 30000))
      << "the list did not get " << files.size() << " entries";
}

void CFaultTest::StartWithTemp(const std::vector<std::string>& files, const std::string& temp) {
  const std::string tmp = EnvVar("TMP"), tempVar = EnvVar("TEMP");
  SetEnvironmentVariableA("TMP", temp.c_str());
  SetEnvironmentVariableA("TEMP", temp.c_str());
  program_ = CProgram::Launch(Quote(files));
  SetEnvironmentVariableA("TMP", tmp.empty() ? nullptr : tmp.c_str());
  SetEnvironmentVariableA("TEMP", tempVar.empty() ? nullptr : tempVar.c_str());
  ASSERT_TRUE(program_) << "the program did not start";
  main_ = program_->WaitMainWindow();
  ASSERT_TRUE(main_) << "no main window within 30 s";
  ASSERT_TRUE(WaitUntil([&] { return Captions().size() == files.size(); }, 30000))
      << "the list did not get " << files.size() << " entries";
}

void CFaultTest::Hand(const std::vector<std::string>& files) {
  const size_t before = Captions().size();
  const std::string payload = Quote(files);
  COPYDATASTRUCT data{};
  data.dwData = 1018;
  data.cbData = static_cast<DWORD>(payload.size());
  data.lpData = const_cast<char*>(payload.data());
  DWORD_PTR answer = 0;
  SendMessageTimeoutA(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                      30000, &answer);
  ASSERT_TRUE(WaitUntil([&] { return Captions().size() == before + files.size(); }, 30000))
      << "the list did not take " << files.size() << " more entries";
}

HWND CFaultTest::List() const {
  return GetDlgItem(main_, IDC_MAIN_LIST);
}

DWORD CFaultTest::Pid() const {
  return program_->Pid();
}

std::vector<std::string> CFaultTest::Captions() const {
  return ListCaptions(List());
}

HWND CFaultTest::Dialog(const char* caption, DWORD timeoutMs) {
  return WaitForWindow(caption, Pid(), timeoutMs, "#32770");
}

void CFaultTest::PressUpload() {
  // The button is out of reach while a run's dialog is open; a posted click
  // would start a second run inside the first.
  if (FindTopWindow("Uploading...", Pid())) {
    ADD_FAILURE() << "Upload pressed while the last run is still open";
    return;
  }
  PostClick(main_, IDC_MAIN_UPLOAD);
}

HWND CFaultTest::PressUploadAndReleaseLogIn(CScriptedServer& login) {
  const size_t before = login.Count("/login.php");
  PressUpload();
  HWND transfer = Transfer();
  EXPECT_TRUE(transfer) << "no transfer dialog";
  EXPECT_TRUE(login.WaitFor("/login.php", before + 1, true, 30000)) << "no login request";
  login.Release();
  return transfer;
}

void CFaultTest::Answer(const std::string& text, const std::string& shot, DWORD timeoutMs) {
  HWND box = WaitForMessageBox(Pid(), timeoutMs);
  ASSERT_TRUE(box) << "no message box within " << timeoutMs / 1000 << " s; expected \"" << text
                   << "\"";
  EXPECT_EQ(MessageBoxText(box), text);
  SaveScreenshot(box, shot);
  PostClick(box, IDOK);
  EXPECT_TRUE(WaitWindowGone(box, 10000)) << "the message box stayed";
}

std::string CFaultTest::NextMessage(DWORD timeoutMs) {
  HWND box = WaitForMessageBox(Pid(), timeoutMs);
  if (!box) return std::string();
  const std::string text = MessageBoxText(box);
  PostClick(box, IDOK);
  EXPECT_TRUE(WaitWindowGone(box, 10000)) << "the message box stayed: " << text;
  return text;
}

void CFaultTest::ExpectRunEnded(DWORD timeoutMs) {
  const quibtest::CWaitNote note("the transfer dialog to close");
  ASSERT_TRUE(WaitUntil([&] { return !FindTopWindow("Uploading...", Pid()); }, timeoutMs))
      << "the transfer dialog is still open";
}

void CFaultTest::ExpectAlive() {
  ASSERT_EQ(WaitForSingleObject(program_->Process(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the program has ended";
  DWORD_PTR answer = 0;
  EXPECT_TRUE(SendMessageTimeoutA(main_, WM_USER, 0, 0, SMTO_ABORTIFHUNG, 10000, &answer))
      << "the main window does not answer";
  EXPECT_EQ(static_cast<LRESULT>(answer), kAliveAnswer);
}

void CFaultTest::ExpectUserFilesIntact() {
  for (const auto& file : userFiles_) {
    EXPECT_TRUE(ReadBytes(file.first) == file.second) << file.first << " has changed";
  }
}

void CFaultTest::Quit() {
  if (!program_) return;
  DWORD code = 0;
  EXPECT_TRUE(RunToExit("-stop", 30000)) << "\"-stop\" did not end";
  EXPECT_TRUE(program_->WaitExit(30000, &code)) << "the program did not end on \"-stop\"";
  program_.reset();
  main_ = nullptr;
}

void CFaultTest::ExpectNoTempCopies() {
  EXPECT_TRUE(WaitUntil([&] { return TempCopies() <= tempCopiesBefore_; }, 10000))
      << TempCopies() - tempCopiesBefore_ << " temporary copies left in the temp folder";
}

}  // namespace e2e
