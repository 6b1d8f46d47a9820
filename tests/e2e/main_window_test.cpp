// The program starts, shows its main window and behaves as a single instance.
#include <gtest/gtest.h>

#include "tests/e2e/driver/driver.h"

using namespace e2e;

namespace {

constexpr int kAdd = 1002, kRemove = 1003, kList = 1005, kRotate = 1006, kUpload = 1007,
              kSettings = 1015, kHelp = 1016, kWeb = 1017;

class MainWindow : public testing::Test {
 protected:
  void SetUp() override {
    program_ = CProgram::Launch("");
    ASSERT_TRUE(program_) << "cannot start " << ProgramPath();
    main_ = program_->WaitMainWindow();
    ASSERT_TRUE(main_) << "main window did not appear";
  }
  void TearDown() override { program_.reset(); }

  HWND List() const { return GetDlgItem(main_, kList); }

  std::unique_ptr<CProgram> program_;
  HWND main_ = nullptr;
};

}  // namespace

TEST_F(MainWindow, TitleButtonsAndScreenshot) {
  EXPECT_EQ(GetText(main_), "quib\xAE-uploader");
  // Skinned buttons take the size of their bitmaps, not of the template.
  const struct {
    int id;
    LONG cx, cy;
  } sizes[] = {{kAdd, 127, 38},      {kRemove, 115, 38}, {kRotate, 127, 38}, {kUpload, 369, 42},
               {kSettings, 126, 21}, {kHelp, 45, 21},    {kWeb, 90, 21}};
  for (const auto& s : sizes) {
    const SIZE size = WindowSize(GetDlgItem(main_, s.id));
    EXPECT_EQ(size.cx, s.cx) << "button " << s.id;
    EXPECT_EQ(size.cy, s.cy) << "button " << s.id;
  }
  // An empty list: nothing to remove, rotate or upload.
  EXPECT_TRUE(IsEnabled(main_, kAdd));
  EXPECT_FALSE(IsEnabled(main_, kRemove));
  EXPECT_FALSE(IsEnabled(main_, kRotate));
  EXPECT_FALSE(IsEnabled(main_, kUpload));
  EXPECT_TRUE(IsEnabled(main_, kSettings));
  EXPECT_TRUE(IsEnabled(main_, kHelp));
  EXPECT_TRUE(IsEnabled(main_, kWeb));
  // Client area of 369 x 512 pixels at 96 dpi.
  RECT client{};
  GetClientRect(main_, &client);
  EXPECT_EQ(client.right, 369);
  EXPECT_EQ(client.bottom, 512);
  EXPECT_NE(SaveScreenshot(main_, "main-window"), "");
}

TEST_F(MainWindow, AnswersPresenceAndIgnoresForeignCopyData) {
  EXPECT_EQ(SendMessageA(main_, WM_USER, 0, 0), 0x534B0000);
  EXPECT_EQ(SendMessageA(main_, WM_USER, 7, 99), 0x534B0000);

  const std::string dir = MakeTempDir("copydata");
  const std::string picture = dir + "\\a.bmp";
  ASSERT_TRUE(WritePicture(picture, 64, 48, RGB(200, 40, 40)));
  const std::string payload = "\"" + picture + "\"";
  COPYDATASTRUCT data{};
  data.dwData = 1017;
  data.cbData = static_cast<DWORD>(payload.size());
  data.lpData = const_cast<char*>(payload.data());
  SendMessageA(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  EXPECT_TRUE(ListCaptions(List()).empty());
  EXPECT_FALSE(IsEnabled(main_, kUpload));

  data.dwData = 1018;
  SendMessageA(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  EXPECT_EQ(ListCaptions(List()), std::vector<std::string>{"a.bmp"});
  EXPECT_TRUE(IsEnabled(main_, kUpload));
  EXPECT_FALSE(IsEnabled(main_, kRemove));
  SelectListEntry(List(), 0, true);
  EXPECT_TRUE(WaitUntil([&] { return IsEnabled(main_, kRemove); }, 2000));
  EXPECT_TRUE(IsEnabled(main_, kRotate));
}

TEST_F(MainWindow, AboutBoxFromTheSystemMenu) {
  PostMessageA(main_, WM_SYSCOMMAND, 16, 0);
  HWND about = WaitForWindow("Info about quib\xAE-uploader", program_->Pid(), 10000);
  ASSERT_TRUE(about);
  const std::string text = GetText(GetDlgItem(about, 1008));
  EXPECT_EQ(text.rfind("quib\xAE-uploader Version 1.1.0.4, english\r\n", 0), 0u) << text;
  SaveScreenshot(about, "about-box");
  PostClick(about, IDOK);
  EXPECT_TRUE(WaitWindowGone(about, 5000));
}

TEST_F(MainWindow, EmptyUploadIsRefusedWithAMessage) {
  PostCommand(main_, kUpload);
  HWND box = WaitForMessageBox(program_->Pid(), 10000);
  ASSERT_TRUE(box);
  EXPECT_EQ(MessageBoxText(box), "No pictures or movies to upload.");
  SaveScreenshot(box, "empty-upload-message");
  PostClick(box, IDOK);
  EXPECT_TRUE(WaitWindowGone(box, 5000));
}

TEST_F(MainWindow, SecondStartForwardsAndEnds) {
  // Without arguments the second start only brings the window forward.
  DWORD code = 99;
  ASSERT_TRUE(RunToExit("", 30000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(ListCaptions(List()).empty());
  EXPECT_TRUE(IsWindow(main_));

  const std::string dir = MakeTempDir("forward");
  const std::string a = dir + "\\first.bmp", b = dir + "\\second 2.png", text = dir + "\\notes.txt";
  ASSERT_TRUE(WritePicture(a, 40, 30, RGB(0, 120, 200)));
  ASSERT_TRUE(WritePicture(b, 30, 40, RGB(0, 200, 120)));
  ASSERT_TRUE(WriteBytes(text, "just text\r\n"));
  ASSERT_TRUE(RunToExit("\"" + a + "\"", 30000));
  EXPECT_EQ(ListCaptions(List()), std::vector<std::string>{"first.bmp"});
  // Several quoted files all arrive; the text file is named.
  ASSERT_TRUE(RunToExit("\"" + b + "\" \"" + text + "\" \"" + a + "\"", 30000));
  EXPECT_EQ(ListCaptions(List()),
            (std::vector<std::string>{"first.bmp", "second 2.png", "first.bmp"}));
  EXPECT_EQ(AnswerMessageBox(program_->Pid(), 30000), RefusedMessage({text}));
}

TEST(StartUp, StopEndsEveryRunningInstance) {
  // With nothing running, "-stop" ends at once.
  DWORD code = 99;
  ASSERT_TRUE(RunToExit("-stop", 30000, &code));
  EXPECT_EQ(code, 0u);

  auto program = CProgram::Launch("");
  ASSERT_TRUE(program);
  ASSERT_TRUE(program->WaitMainWindow());
  ASSERT_TRUE(RunToExit("  -STOP  ", 30000));
  EXPECT_TRUE(program->WaitExit(15000));
  EXPECT_EQ(FindTopWindow("quib\xAE-uploader"), nullptr);
}

TEST(StartUp, CommandLineFilesOfTheFirstInstance) {
  const std::string dir = MakeTempDir("cmdline");
  const std::string a = dir + "\\a.jpg", b = dir + "\\b.bmp", text = dir + "\\notes.txt";
  ASSERT_TRUE(WritePicture(a, 80, 60, RGB(220, 120, 0)));
  ASSERT_TRUE(WritePicture(b, 60, 80, RGB(120, 0, 220)));
  ASSERT_TRUE(WriteBytes(text, "not media"));
  auto program = CProgram::Launch("\"" + a + "\" \"" + b + "\" \"" + text + "\"");
  ASSERT_TRUE(program);
  HWND main = program->WaitMainWindow();
  ASSERT_TRUE(main);
  EXPECT_EQ(ListCaptions(GetDlgItem(main, kList)), (std::vector<std::string>{"a.jpg", "b.bmp"}));
  EXPECT_TRUE(IsEnabled(main, kUpload));
  SaveScreenshot(main, "main-window-with-files");
}

namespace {

// A top-level window titled like the main window whose thread never reads
// its messages: a hung instance, or another program's window of that name.
class CHungWindow {
 public:
  CHungWindow() {
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    release_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    WaitForSingleObject(ready_, 10000);
  }
  ~CHungWindow() {
    SetEvent(release_);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(ready_);
    CloseHandle(release_);
  }
  HWND Window() const { return window_; }

 private:
  static DWORD WINAPI Run(void* self) {
    auto* hung = static_cast<CHungWindow*>(self);
    hung->window_ = CreateWindowExA(0, "STATIC", kMainTitle, WS_POPUP, 0, 0, 10, 10, nullptr,
                                    nullptr, nullptr, nullptr);
    SetEvent(hung->ready_);
    // Hung: no message is read until the test lets go (bounded all the same).
    WaitForSingleObject(hung->release_, 300000);
    DestroyWindow(hung->window_);
    return 0;
  }

  HANDLE ready_, release_, thread_;
  HWND window_ = nullptr;
};

}  // namespace

// Explorer ("Send To", files dropped on the icon) quotes only the paths with
// blanks; other callers quote nothing. Missing files are refused whatever
// their name, and named.
TEST(StartUp, UnquotedPathsOnTheCommandLineAndForwarded) {
  const std::string dir = MakeTempDir("unquoted");
  CreateDirectoryA((dir + "\\My Pictures").c_str(), nullptr);
  const std::string a = dir + "\\a.jpg", b = dir + "\\b.png",
                    sea = dir + "\\My Pictures\\sea side.bmp";
  ASSERT_TRUE(WritePicture(a, 80, 60, RGB(220, 120, 0)));
  ASSERT_TRUE(WritePicture(b, 60, 80, RGB(120, 0, 220)));
  ASSERT_TRUE(WritePicture(sea, 60, 40, RGB(0, 90, 200)));
  auto program = CProgram::Launch(a + " " + b + " \"" + sea + "\" " + dir + "\\missing.jpg");
  ASSERT_TRUE(program);
  HWND main = program->WaitMainWindow();
  ASSERT_TRUE(main);
  HWND list = GetDlgItem(main, kList);
  EXPECT_EQ(ListCaptions(list), (std::vector<std::string>{"a.jpg", "b.png", "sea side.bmp"}));
  EXPECT_EQ(AnswerMessageBox(program->Pid(), 30000), RefusedMessage({dir + "\\missing.jpg"}));
  // A second start with a path with blanks, unquoted and whole; a folder
  // with blanks likewise.
  ASSERT_TRUE(RunToExit(sea, 30000));
  ASSERT_TRUE(RunToExit(b + " " + a + " " + dir + "\\My Pictures", 30000));
  const std::vector<std::string> all = {"a.jpg", "b.png", "sea side.bmp", "sea side.bmp",
                                        "b.png", "a.jpg", "sea side.bmp"};
  EXPECT_TRUE(WaitUntil([&] { return ListCaptions(list).size() >= all.size(); }, 30000));
  EXPECT_EQ(ListCaptions(list), all);
  EXPECT_EQ(WaitForMessageBox(program->Pid(), 500), nullptr) << "nothing more was refused";
}

// Closing with files asks first (Esc, close box, Alt+F4); an empty list,
// "-stop" and an ending Windows session do not.
TEST(StartUp, ClosingWithFilesAsksFirst) {
  const std::string dir = MakeTempDir("discard");
  const std::string a = dir + "\\one.bmp", b = dir + "\\two.bmp";
  ASSERT_TRUE(WritePicture(a, 40, 30, RGB(200, 0, 0)));
  ASSERT_TRUE(WritePicture(b, 40, 30, RGB(0, 200, 0)));
  auto program = CProgram::Launch("\"" + a + "\" \"" + b + "\"");
  ASSERT_TRUE(program);
  HWND main = program->WaitMainWindow();
  ASSERT_TRUE(main);
  HWND list = GetDlgItem(main, kList);
  ASSERT_EQ(ListCaptions(list).size(), 2u);

  const struct {
    const char* how;
    UINT msg;
    WPARAM wp;
  } closes[] = {{"close box", WM_CLOSE, 0},
                {"Esc", WM_COMMAND, IDCANCEL},
                {"Alt+F4", WM_SYSCOMMAND, SC_CLOSE},
                {"OK command", WM_COMMAND, IDOK}};
  for (const auto& close : closes) {
    SCOPED_TRACE(close.how);
    PostMessageA(main, close.msg, close.wp, 0);
    HWND box = WaitForMessageBox(program->Pid(), 10000);
    ASSERT_TRUE(box);
    EXPECT_EQ(MessageBoxText(box), "Discard the 2 file(s) in the upload list?");
    EXPECT_TRUE(GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO));
    if (close.msg == WM_CLOSE) SaveScreenshot(box, "discard-question");
    PostClick(box, IDNO);
    EXPECT_TRUE(WaitWindowGone(box, 5000));
    EXPECT_FALSE(program->WaitExit(300));
    EXPECT_EQ(ListCaptions(list).size(), 2u);
  }
  PostMessageA(main, WM_CLOSE, 0, 0);
  HWND box = WaitForMessageBox(program->Pid(), 10000);
  ASSERT_TRUE(box);
  PostClick(box, IDYES);
  DWORD code = 99;
  EXPECT_TRUE(program->WaitExit(15000, &code));
  EXPECT_EQ(code, 0u);

  // Windows ending its session: no question, and the program ends.
  program = CProgram::Launch("\"" + a + "\"");
  ASSERT_TRUE(program);
  main = program->WaitMainWindow();
  ASSERT_TRUE(main);
  EXPECT_EQ(SendMessageA(main, WM_QUERYENDSESSION, 0, 0), TRUE);
  SendMessageA(main, WM_ENDSESSION, TRUE, 0);
  EXPECT_TRUE(program->WaitExit(15000));
  EXPECT_EQ(WaitForMessageBox(program->Pid(), 0), nullptr);

  // "-stop" with files in the list: no question.
  program = CProgram::Launch("\"" + a + "\"");
  ASSERT_TRUE(program);
  ASSERT_TRUE(program->WaitMainWindow());
  ASSERT_TRUE(RunToExit("-stop", 30000));
  EXPECT_TRUE(program->WaitExit(15000));

  // An empty list closes at once.
  program = CProgram::Launch("");
  ASSERT_TRUE(program);
  main = program->WaitMainWindow();
  ASSERT_TRUE(main);
  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(program->WaitExit(15000));
}

// A window of our title that never answers: a second start says how many
// files it could not hand over.
TEST(StartUp, ASecondStartThatCannotHandOverSaysSo) {
  const std::string dir = MakeTempDir("hung");
  const std::string a = dir + "\\a.bmp", b = dir + "\\b.bmp";
  ASSERT_TRUE(WritePicture(a, 40, 30, RGB(200, 0, 0)));
  ASSERT_TRUE(WritePicture(b, 40, 30, RGB(0, 200, 0)));
  CHungWindow hung;
  ASSERT_TRUE(hung.Window());
  auto second = CProgram::Launch("\"" + a + "\" \"" + b + "\"");
  ASSERT_TRUE(second);
  HWND box = WaitForMessageBox(second->Pid(), 40000);
  ASSERT_TRUE(box) << "no message about the files that were not added";
  EXPECT_EQ(MessageBoxText(box),
            "2 file(s) were not added: the running quib\xAE-uploader did not answer.");
  SaveScreenshot(box, "files-not-added");
  PostClick(box, IDOK);
  EXPECT_TRUE(second->WaitExit(15000));
}

// "-stop" asks a window that never closes for about 10 s, then ends.
TEST(StartUp, StopGivesUpOnAWindowThatNeverCloses) {
  CHungWindow hung;
  ASSERT_TRUE(hung.Window());
  DWORD code = 99;
  EXPECT_TRUE(RunToExit("-stop", 40000, &code)) << "-stop kept waiting for the window";
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(IsWindow(hung.Window()));
}
