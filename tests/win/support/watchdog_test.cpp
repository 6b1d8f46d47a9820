// The per-test watchdog, tried for real: this program runs itself with a
// short bound on a few tests that misbehave on purpose (WatchdogDemo, which
// does nothing unless QUIB_WATCHDOG_DEMO is set) and reads what happened.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/win/support/wait_note.h"
#include "tests/win/support/watchdog.h"

namespace {

std::string Env(const char* name) {
  char buffer[2048] = {};
  const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

// Where the demo tests leave their marks (set by the outer test).
std::string DemoDir() {
  return Env("QUIB_WATCHDOG_DEMO");
}

void Mark(const std::string& name, const std::string& text = "") {
  std::ofstream(DemoDir() + "\\" + name) << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A suite whose shared set-up never ends (it runs before WatchdogDemo).
class WatchdogDemoSetUp : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (DemoDir().empty()) return;
    const quibtest::CWaitNote note("a suite set-up that never ends");
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WaitForSingleObject(never, 600000);
  }
  void SetUp() override {
    if (DemoDir().empty()) GTEST_SKIP() << "run by Watchdog.* only";
  }
};

TEST_F(WatchdogDemoSetUp, NeverRuns) {
  Mark("SetUp-test-ran");
}

class WatchdogDemo : public testing::Test {
 protected:
  void SetUp() override {
    if (DemoDir().empty()) GTEST_SKIP() << "run by Watchdog.* only";
  }
};

// Waits for something that never comes, through a cooperating wait: the
// watchdog abandons the wait and the test ends through its own code.
TEST_F(WatchdogDemo, A_WaitsInAPoll) {
  const bool came = quibtest::PollUntil([] { return false; }, 600000, 20,
                                        quibtest::CWaitNote("the moon to turn blue"));
  Mark("A-ended", came ? "came" : "gave up");
}

// Blocks where nothing can interrupt it, after starting a process of its
// own: the supervisor has to stop both.
TEST_F(WatchdogDemo, B_BlocksForGood) {
  char exe[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string commandLine = std::string("\"") + exe + "\" --gtest_filter=WatchdogDemo.Z_Sleeper";
  SetEnvironmentVariableA("QUIB_WATCHDOG", "off");
  SetEnvironmentVariableA("QUIB_WATCHDOG_SLEEPER", "1");
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessA(exe, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info));
  SetEnvironmentVariableA("QUIB_WATCHDOG", nullptr);
  SetEnvironmentVariableA("QUIB_WATCHDOG_SLEEPER", nullptr);
  Mark("B-started", std::to_string(info.dwProcessId));
  CloseHandle(info.hThread);
  const quibtest::CWaitNote note("an event nobody sets");
  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  WaitForSingleObject(never, 600000);
  Mark("B-ended");
}

TEST_F(WatchdogDemo, C_RunsAfterTheBlockedOne) {
  Mark("C-ran");
}

// Longer than the default bound, but it says so.
TEST_F(WatchdogDemo, D_DeclaresALongerBound) {
  quibtest::SetTestBound(60);
  const DWORD start = GetTickCount();
  const DWORD bound = std::stoul(Env("QUIB_TEST_BOUND")) * 1000;
  EXPECT_TRUE(quibtest::PollUntil([&] { return GetTickCount() - start > bound + 2000; }, 30000, 50,
                                  quibtest::CWaitNote("time to pass")));
}

// The process B starts: it would sleep long after the test run.
TEST_F(WatchdogDemo, Z_Sleeper) {
  if (Env("QUIB_WATCHDOG_SLEEPER").empty()) GTEST_SKIP();
  Sleep(300000);
}

bool ProcessRuns(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return false;
  const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return runs;
}

// Runs this program on the demo tests; its output and exit code.
struct CDemoRun {
  std::string output;
  DWORD exitCode = 0;
  DWORD elapsedMs = 0;
  bool ended = false;
};

CDemoRun RunDemo(const std::string& dir, const std::string& filter) {
  CDemoRun run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0)) return run;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  char exe[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string commandLine = std::string("\"") + exe + "\" --gtest_filter=" + filter;
  SetEnvironmentVariableA("QUIB_WATCHDOG_DEMO", dir.c_str());
  SetEnvironmentVariableA("QUIB_TEST_BOUND", "3");
  SetEnvironmentVariableA("QUIB_WATCHDOG_GRACE", "3");
  const std::string artifacts = Env("QUIB_ARTIFACTS");
  SetEnvironmentVariableA("QUIB_ARTIFACTS", dir.c_str());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write;
  startup.hStdError = write;
  PROCESS_INFORMATION info{};
  // Everything the demo starts goes when the job's handle does.
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  const DWORD start = GetTickCount();
  const BOOL created = CreateProcessA(exe, &commandLine[0], nullptr, nullptr, TRUE,
                                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &info);
  SetEnvironmentVariableA("QUIB_WATCHDOG_DEMO", nullptr);
  SetEnvironmentVariableA("QUIB_TEST_BOUND", nullptr);
  SetEnvironmentVariableA("QUIB_WATCHDOG_GRACE", nullptr);
  SetEnvironmentVariableA("QUIB_ARTIFACTS", artifacts.empty() ? nullptr : artifacts.c_str());
  CloseHandle(write);
  if (!created) {
    CloseHandle(read);
    CloseHandle(job);
    return run;
  }
  AssignProcessToJobObject(job, info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  // The output is read as it comes, so the pipe never fills, until the demo
  // has ended and said everything, or for 90 s at most.
  const quibtest::CWaitNote note("the watchdog demo run to end");
  char buffer[4096];
  for (;;) {
    DWORD ready = 0;
    if (!PeekNamedPipe(read, nullptr, 0, nullptr, &ready, nullptr)) {
      // Every writer is gone: the demo has ended or is about to.
      const DWORD spent = GetTickCount() - start;
      run.ended = quibtest::WaitHandle(info.hProcess, spent < 90000 ? 90000 - spent : 0,
                                       "the demo run's process to end");
      break;
    }
    if (ready > 0) {
      DWORD got = 0;
      if (!ReadFile(read, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
      for (DWORD i = 0; i < got; ++i) {
        if (buffer[i] != '\r') run.output += buffer[i];
      }
      continue;
    }
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0) {
      run.ended = true;
      // What was written just before the end.
      if (PeekNamedPipe(read, nullptr, 0, nullptr, &ready, nullptr) && ready > 0) continue;
      break;
    }
    if (GetTickCount() - start > 90000 || quibtest::WaitsAbandoned()) break;
    Sleep(50);
  }
  CloseHandle(read);
  run.elapsedMs = GetTickCount() - start;
  GetExitCodeProcess(info.hProcess, &run.exitCode);
  if (!run.ended) TerminateJobObject(job, 1);
  CloseHandle(info.hProcess);
  CloseHandle(job);
  return run;
}

// The demo's folder with its marks and pictures, removed with the test.
class CDemoDir {
 public:
  CDemoDir() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "quib-watchdog-demo-" + std::to_string(GetCurrentProcessId()) +
            "-" + std::to_string(GetTickCount());
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~CDemoDir() {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((path_ + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        DeleteFileA((path_ + "\\" + found.cFileName).c_str());
      } while (FindNextFileA(find, &found));
      FindClose(find);
    }
    RemoveDirectoryA(path_.c_str());
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

bool IsPng(const std::string& path) {
  const std::string bytes = ReadText(path);
  return bytes.size() > 1000 && bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
}

TEST(Watchdog, ReportsStopsAndGoesOnWithTheNextTest) {
  const CDemoDir demo;
  const std::string& dir = demo.Path();
  const CDemoRun run = RunDemo(dir, "WatchdogDemo.A_*:WatchdogDemo.B_*:WatchdogDemo.C_*");
  ASSERT_TRUE(run.ended) << run.output;
  SCOPED_TRACE(run.output);
  EXPECT_NE(run.exitCode, 0u);

  // A: reported with what it waited for, a picture, unwound by itself, failed.
  EXPECT_NE(run.output.find("[ WATCHDOG ] WatchdogDemo.A_WaitsInAPoll overran its bound of 3 s"),
            std::string::npos);
  EXPECT_NE(run.output.find("waiting for: the moon to turn blue"), std::string::npos);
  EXPECT_EQ(ReadText(dir + "\\A-ended"), "gave up");
  EXPECT_NE(run.output.find("[  FAILED  ] WatchdogDemo.A_WaitsInAPoll"), std::string::npos);
  EXPECT_TRUE(IsPng(dir + "\\watchdog-WatchdogDemo.A_WaitsInAPoll.png"));

  // B: reported, then stopped with the process it started.
  EXPECT_NE(run.output.find("waiting for: an event nobody sets"), std::string::npos);
  EXPECT_NE(run.output.find("WatchdogDemo.B_BlocksForGood did not end 3 s after its bound"),
            std::string::npos);
  EXPECT_NE(run.output.find("stopping the test program and every process it started"),
            std::string::npos);
  EXPECT_TRUE(IsPng(dir + "\\watchdog-WatchdogDemo.B_BlocksForGood.png"));
  EXPECT_FALSE(Exists(dir + "\\B-ended"));
  const std::string sleeper = ReadText(dir + "\\B-started");
  ASSERT_FALSE(sleeper.empty());
  EXPECT_FALSE(ProcessRuns(std::stoul(sleeper))) << "the process B started still runs";

  // C still runs, in a new test program, and passes.
  EXPECT_TRUE(Exists(dir + "\\C-ran"));
  EXPECT_NE(run.output.find("[       OK ] WatchdogDemo.C_RunsAfterTheBlockedOne"),
            std::string::npos);
  EXPECT_NE(run.output.find("1 test(s) did not end:\n  WatchdogDemo.B_BlocksForGood"),
            std::string::npos);
}

TEST(Watchdog, ASuiteSetUpThatHangsIsStoppedAndItsTestsAreSkipped) {
  const CDemoDir demo;
  const CDemoRun run = RunDemo(demo.Path(), "WatchdogDemoSetUp.*:WatchdogDemo.C_*");
  ASSERT_TRUE(run.ended) << run.output;
  SCOPED_TRACE(run.output);
  EXPECT_NE(run.exitCode, 0u);
  EXPECT_NE(run.output.find("[ WATCHDOG ] WatchdogDemoSetUp (set-up of the test suite) overran"),
            std::string::npos);
  EXPECT_NE(run.output.find("waiting for: a suite set-up that never ends"), std::string::npos);
  EXPECT_NE(run.output.find("1 test(s) did not end:\n  WatchdogDemoSetUp (set-up or tear-down"),
            std::string::npos);
  EXPECT_FALSE(Exists(demo.Path() + "\\SetUp-test-ran"));
  EXPECT_TRUE(Exists(demo.Path() + "\\C-ran"));
}

TEST(Watchdog, ALongerBoundDeclaredByTheTestIsKept) {
  const CDemoDir demo;
  const CDemoRun run = RunDemo(demo.Path(), "WatchdogDemo.D_*");
  ASSERT_TRUE(run.ended) << run.output;
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(run.output.find("[ WATCHDOG ]"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("[       OK ] WatchdogDemo.D_DeclaresALongerBound"), std::string::npos)
      << run.output;
}

TEST(Watchdog, FilterWithoutTheTestsThatRan) {
  EXPECT_EQ(quibtest::FilterWithout("*", {}), "*");
  EXPECT_EQ(quibtest::FilterWithout("*", {"A.b", "C.d"}), "*-A.b:C.d");
  EXPECT_EQ(quibtest::FilterWithout("", {"A.b"}), "*-A.b");
  EXPECT_EQ(quibtest::FilterWithout("A.*:B.*-B.x", {"A.b"}), "A.*:B.*-B.x:A.b");
  EXPECT_EQ(quibtest::FilterWithout("-B.x", {"A.b"}), "-B.x:A.b");
}

}  // namespace
