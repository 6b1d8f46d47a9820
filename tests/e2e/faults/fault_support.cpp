#include "tests/e2e/faults/fault_support.h"

#include "res/resource.h"
#include "tests/win/support/wait_note.h"
#include "tests/win/support/watchdog.h"

namespace e2e {

namespace {

// The main window's answer to WM_USER.
constexpr LRESULT kAliveAnswer = 0x534B0000;

}  // namespace

int TempCopies(const std::string& folder) {
  return CountTempFiles("NEW*.tmp", folder);
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
  program_ = CProgram::Launch(QuotePaths(files));
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
  program_ = CProgram::Launch(QuotePaths(files));
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
  const std::string payload = QuotePaths(files);
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
