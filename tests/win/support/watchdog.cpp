#include "tests/win/support/watchdog.h"

#include <windows.h>

#include <objidl.h>
#include <tlhelp32.h>

// gdiplus.h expects min and max; the build defines NOMINMAX.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "tests/win/support/wait_note.h"

namespace quibtest {

namespace {

// Set for the child: the path of the file it reports its progress in.
constexpr char kChildVariable[] = "QUIB_WATCHDOG_CHILD";
constexpr DWORD kDefaultBoundSeconds = 120;
constexpr DWORD kDefaultGraceSeconds = 30;
// How much longer the supervisor waits for a child that reports nothing.
constexpr DWORD kSupervisorSlackMs = 15000;
// A child that keeps dying is not restarted for ever.
constexpr int kMaxRestarts = 50;

std::string Env(const char* name) {
  char buffer[4096] = {};
  const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

DWORD EnvMilliseconds(const char* name, DWORD fallbackSeconds) {
  const std::string text = Env(name);
  const long seconds = text.empty() ? 0 : std::strtol(text.c_str(), nullptr, 10);
  return static_cast<DWORD>(seconds > 0 ? seconds : static_cast<long>(fallbackSeconds)) * 1000;
}

void Say(const std::string& text) {
  std::fprintf(stdout, "[ WATCHDOG ] %s\n", text.c_str());
  std::fflush(stdout);
}

std::string ArtifactsDir() {
  std::string dir = Env("QUIB_ARTIFACTS");
  if (!dir.empty() && dir[0] == '/') {
    // A Unix path; Wine shows it below drive Z:.
    for (char& c : dir) {
      if (c == '/') c = '\\';
    }
    dir = "Z:" + dir;
  }
  if (dir.empty()) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    dir = std::string(temp) + "quib-artifacts";
  }
  if (dir.back() == '\\') dir.pop_back();
  for (size_t i = 3; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == '\\') CreateDirectoryA(dir.substr(0, i).c_str(), nullptr);
  }
  return dir;
}

bool PngEncoder(CLSID* clsid) {
  UINT count = 0, size = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
  std::vector<BYTE> buffer(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (wcscmp(codecs[i].MimeType, L"image/png") == 0) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

// --- the child's progress file ----------------------------------------------
// One line per event: verb, test name and a number, separated by tabs.

class CProgressFile {
 public:
  explicit CProgressFile(const std::string& path) {
    file_ = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  ~CProgressFile() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  void Write(const char* verb, const std::string& test, unsigned long value = 0) {
    if (file_ == INVALID_HANDLE_VALUE) return;
    const std::string line = std::string(verb) + "\t" + test + "\t" + std::to_string(value) + "\n";
    std::lock_guard<std::mutex> guard(lock_);
    DWORD written = 0;
    WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::mutex lock_;
};

struct CProgressLine {
  std::string verb;
  std::string test;
  unsigned long value = 0;
};

// Reads the lines the child has added since the last call.
class CProgressReader {
 public:
  explicit CProgressReader(const std::string& path) : path_(path) {}
  std::vector<CProgressLine> ReadNew() {
    std::vector<CProgressLine> lines;
    HANDLE file = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lines;
    LARGE_INTEGER at;
    at.QuadPart = offset_;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    char buffer[8192];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      partial_.append(buffer, got);
      offset_ += got;
    }
    CloseHandle(file);
    size_t end;
    while ((end = partial_.find('\n')) != std::string::npos) {
      const std::string text = partial_.substr(0, end);
      partial_.erase(0, end + 1);
      const size_t tab1 = text.find('\t');
      const size_t tab2 = tab1 == std::string::npos ? tab1 : text.find('\t', tab1 + 1);
      if (tab2 == std::string::npos) continue;
      CProgressLine line;
      line.verb = text.substr(0, tab1);
      line.test = text.substr(tab1 + 1, tab2 - tab1 - 1);
      line.value = std::strtoul(text.c_str() + tab2 + 1, nullptr, 10);
      lines.push_back(line);
    }
    return lines;
  }

 private:
  std::string path_;
  long long offset_ = 0;
  std::string partial_;
};

// --- inside the child: the listener ------------------------------------------

class CTestWatchdog : public testing::EmptyTestEventListener {
 public:
  CTestWatchdog(DWORD boundMs, DWORD graceMs, const std::string& progressPath)
      : defaultBound_(boundMs), grace_(graceMs), progress_(progressPath) {
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // A plain system thread: the watchdog must not depend on the C++
    // runtime's thread bookkeeping it may have to report on.
    thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
  }
  ~CTestWatchdog() override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      stopping_ = true;
    }
    SetEvent(wake_);
    if (thread_) {
      WaitForSingleObject(thread_, 10000);
      CloseHandle(thread_);
    }
    CloseHandle(wake_);
  }

  void OnTestIterationStart(const testing::UnitTest& unit, int) override {
    for (int i = 0; i < unit.total_test_suite_count(); ++i) {
      const testing::TestSuite* suite = unit.GetTestSuite(i);
      for (int j = 0; j < suite->total_test_count(); ++j) {
        const testing::TestInfo* info = suite->GetTestInfo(j);
        if (info->should_run()) progress_.Write("plan", FullName(*info));
      }
    }
  }

  // A test suite's own set-up and tear-down are watched like a test; a hang
  // there is reported with the suite's name.
  void OnTestSuiteStart(const testing::TestSuite& suite) override {
    Watch(std::string(suite.name()) + " (set-up of the test suite)", suite.name());
  }

  void OnTestStart(const testing::TestInfo& info) override {
    EndPhase();
    Watch(FullName(info), std::string());
    progress_.Write("start", FullName(info), defaultBound_);
  }

  void OnTestEnd(const testing::TestInfo& info) override {
    const std::string report = Unwatch();
    // Listeners added after the printer see the end first, so the printer
    // counts this failure.
    if (!report.empty()) ADD_FAILURE() << "stopped by the watchdog: " << report;
    progress_.Write("end", FullName(info));
    Watch(std::string(info.test_suite_name()) + " (tear-down of the test suite)",
          info.test_suite_name());
  }

  void OnTestSuiteEnd(const testing::TestSuite&) override { EndPhase(); }

  void SetBound(DWORD ms) {
    std::string test;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (test_.empty() || !phase_.empty() || overran_) return;
      bound_ = ms;
      test = test_;
    }
    progress_.Write("bound", test, ms);
    SetEvent(wake_);
  }

 private:
  // Starts watching a test, or a suite's set-up or tear-down (phase: the
  // suite's name).
  void Watch(const std::string& name, const std::string& phase) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      ++generation_;
      SetWaitsAbandoned(false);
      test_ = name;
      phase_ = phase;
      start_ = GetTickCount();
      bound_ = defaultBound_;
      overran_ = false;
      report_.clear();
    }
    if (!phase.empty()) progress_.Write("phase", phase, defaultBound_);
    SetEvent(wake_);
  }

  // Stops watching; the report when what was watched overran.
  std::string Unwatch() {
    std::string report;
    std::string phase;
    {
      std::lock_guard<std::mutex> guard(lock_);
      ++generation_;
      SetWaitsAbandoned(false);
      // Ended right after its bound, before the report was ready: still late.
      if (overran_) report = report_.empty() ? test_ + " overran its bound" : report_;
      phase = phase_;
      test_.clear();
      phase_.clear();
      overran_ = false;
    }
    if (!phase.empty()) progress_.Write("phase-end", phase);
    SetEvent(wake_);
    return report;
  }

  void EndPhase() {
    bool phase;
    {
      std::lock_guard<std::mutex> guard(lock_);
      phase = !phase_.empty();
    }
    if (!phase) return;
    const std::string report = Unwatch();
    if (!report.empty()) ADD_FAILURE() << "stopped by the watchdog: " << report;
  }

  static std::string FullName(const testing::TestInfo& info) {
    return std::string(info.test_suite_name()) + "." + info.name();
  }

  static DWORD WINAPI ThreadMain(LPVOID self) {
    static_cast<CTestWatchdog*>(self)->Patrol();
    return 0;
  }

  // The watchdog's thread: wakes at the next deadline or when told.
  void Patrol() {
    for (;;) {
      DWORD pause = 1000;
      std::string overrun, stuck;
      DWORD bound = 0;
      unsigned long generation = 0;
      {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_) return;
        const DWORD now = GetTickCount();
        if (!test_.empty() && !overran_) {
          const DWORD elapsed = now - start_;
          if (elapsed >= bound_) {
            overran_ = true;
            overranAt_ = now;
            overrun = test_;
            bound = bound_;
            generation = generation_;
          } else {
            pause = std::min(pause, bound_ - elapsed);
          }
        } else if (!test_.empty()) {
          const DWORD since = now - overranAt_;
          if (since >= grace_) {
            stuck = test_;
          } else {
            pause = std::min(pause, grace_ - since);
          }
        }
      }
      if (!overrun.empty()) {
        Overrun(overrun, bound, generation);
      } else if (!stuck.empty()) {
        GiveUp(stuck);
      } else {
        WaitForSingleObject(wake_, pause);
      }
    }
  }

  void Overrun(const std::string& test, DWORD bound, unsigned long generation) {
    // The notes and the picture first: abandoning ends the waits and the
    // test starts tearing its windows down.
    const std::vector<std::string> notes = OpenWaitNotes();
    const std::string picture = SaveScreenPicture("watchdog-" + test);
    std::string report = test + " overran its bound of " + std::to_string(bound / 1000) + " s";
    report += "\n  waiting for: ";
    if (notes.empty()) report += "nothing the test named";
    for (size_t i = 0; i < notes.size(); ++i) report += (i ? "\n               " : "") + notes[i];
    report += "\n  screenshot: " + (picture.empty() ? std::string("could not be saved") : picture);
    Say(report);
    {
      std::lock_guard<std::mutex> guard(lock_);
      // Only what still runs is abandoned, not the test after it.
      if (generation != generation_) return;
      SetWaitsAbandoned(true);
      report_ = report;
    }
    progress_.Write("overrun", test, bound);
  }

  // The test ignores the abandoned waits: it is blocked in a call nobody can
  // interrupt. The supervisor stops this process; should it not, it ends here.
  void GiveUp(const std::string& test) {
    Say(test + " did not end " + std::to_string(grace_ / 1000) +
        " s after its bound; it is blocked where no wait can be abandoned.");
    progress_.Write("hung", test);
    Sleep(60000);
    Say("no supervisor stopped this program; it ends now.");
    TerminateProcess(GetCurrentProcess(), 3);
  }

  const DWORD defaultBound_;
  const DWORD grace_;
  CProgressFile progress_;
  HANDLE wake_ = nullptr;
  HANDLE thread_ = nullptr;
  std::mutex lock_;
  std::string test_;   // what is watched: a test, or a suite's set-up or tear-down
  std::string phase_;  // the suite's name while its set-up or tear-down is watched
  DWORD start_ = 0;
  DWORD bound_ = 0;
  DWORD overranAt_ = 0;
  unsigned long generation_ = 0;  // counts what was watched, so a late report stays its own
  bool overran_ = false;
  bool stopping_ = false;
  std::string report_;
};

CTestWatchdog* activeWatchdog = nullptr;

int RunAsChild(int argc, char** argv, const std::string& progressPath) {
  testing::InitGoogleTest(&argc, argv);
  auto* watchdog =
      new CTestWatchdog(EnvMilliseconds("QUIB_TEST_BOUND", kDefaultBoundSeconds),
                        EnvMilliseconds("QUIB_WATCHDOG_GRACE", kDefaultGraceSeconds), progressPath);
  testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
  listeners.Append(watchdog);
  activeWatchdog = watchdog;
  const int result = RUN_ALL_TESTS();
  activeWatchdog = nullptr;
  listeners.Release(watchdog);
  delete watchdog;
  return result;
}

// --- the supervisor ---------------------------------------------------------

// One argument as the C runtime splits a command line.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

std::vector<DWORD> Descendants(DWORD root) {
  std::vector<PROCESSENTRY32> all;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32First(snapshot, &entry); ok; ok = Process32Next(snapshot, &entry)) {
      all.push_back(entry);
    }
    CloseHandle(snapshot);
  }
  std::vector<DWORD> found{root};
  for (size_t i = 0; i < found.size(); ++i) {
    for (const PROCESSENTRY32& e : all) {
      if (e.th32ParentProcessID == found[i] &&
          std::find(found.begin(), found.end(), e.th32ProcessID) == found.end()) {
        found.push_back(e.th32ProcessID);
      }
    }
  }
  found.erase(found.begin());
  return found;
}

// Stops the child and every process it started.
void StopTree(HANDLE job, HANDLE process, DWORD pid) {
  const std::vector<DWORD> started = Descendants(pid);
  if (job) TerminateJobObject(job, 3);
  TerminateProcess(process, 3);
  for (DWORD id : started) {
    if (HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id)) {
      TerminateProcess(p, 3);
      WaitForSingleObject(p, 5000);
      CloseHandle(p);
    }
  }
  WaitForSingleObject(process, 10000);
}

HANDLE Inheritable(DWORD which) {
  HANDLE copy = nullptr;
  HANDLE std = GetStdHandle(which);
  if (std && std != INVALID_HANDLE_VALUE) {
    DuplicateHandle(GetCurrentProcess(), std, GetCurrentProcess(), &copy, 0, TRUE,
                    DUPLICATE_SAME_ACCESS);
  }
  return copy;
}

struct CChildRun {
  bool started = false;
  DWORD exitCode = 0;
  bool stopped = false;    // the supervisor ended it
  std::string unfinished;  // the test it was in when it ended
  std::string suite;       // or the suite whose set-up or tear-down it was in
};

std::string PhaseName(const std::string& suite) {
  return suite + " (set-up or tear-down of the test suite)";
}

class CSupervisor {
 public:
  CSupervisor(int argc, char** argv) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    exe_ = path;
    filter_ = Env("GTEST_FILTER");
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg.rfind("--gtest_filter=", 0) == 0) {
        filter_ = arg.substr(15);
      } else {
        args_ += " " + QuoteArgument(arg);
      }
    }
    if (filter_.empty()) filter_ = "*";
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    progressPath_ = std::string(temp) + "quib-watchdog-" + std::to_string(GetCurrentProcessId()) +
                    "-" + std::to_string(GetTickCount()) + ".txt";
    bound_ = EnvMilliseconds("QUIB_TEST_BOUND", kDefaultBoundSeconds);
    grace_ = EnvMilliseconds("QUIB_WATCHDOG_GRACE", kDefaultGraceSeconds);
  }

  int Run() {
    bool failed = false;
    std::vector<std::string> stopped;
    for (int run = 0;; ++run) {
      const CChildRun child = RunChild();
      if (!child.started) {
        Say("could not start the test program " + exe_);
        failed = true;
        break;
      }
      if (child.unfinished.empty()) {
        failed = failed || child.exitCode != 0;
        break;
      }
      stopped.push_back(child.unfinished);
      // The suite's set-up would hang again: its tests that have not run
      // do not run.
      if (!child.suite.empty()) {
        for (const std::string& t : planned_) {
          if (t.rfind(child.suite + ".", 0) == 0) started_.insert(t);
        }
      }
      if (!child.stopped) {
        Say("the test program ended with exit code " + std::to_string(child.exitCode) + " inside " +
            child.unfinished);
      }
      failed = true;
      if (RemainingTests() == 0) break;
      if (run >= kMaxRestarts) {
        Say("too many restarts; the remaining tests do not run");
        break;
      }
      Say("going on with the " + std::to_string(RemainingTests()) +
          " test(s) that have not run, in a new test program");
    }
    DeleteFileA(progressPath_.c_str());
    if (!stopped.empty()) {
      std::string list;
      for (const std::string& t : stopped) list += "\n  " + t;
      Say(std::to_string(stopped.size()) + " test(s) did not end:" + list);
    }
    return failed ? 1 : 0;
  }

 private:
  size_t RemainingTests() const {
    size_t n = 0;
    for (const std::string& t : planned_) n += started_.count(t) ? 0 : 1;
    return n;
  }

  CChildRun RunChild() {
    CChildRun result;
    DeleteFileA(progressPath_.c_str());
    std::vector<std::string> done(started_.begin(), started_.end());
    std::string commandLine = QuoteArgument(exe_) + args_ + " " +
                              QuoteArgument("--gtest_filter=" + FilterWithout(filter_, done));

    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = Inheritable(STD_INPUT_HANDLE);
    startup.hStdOutput = Inheritable(STD_OUTPUT_HANDLE);
    startup.hStdError = Inheritable(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    SetEnvironmentVariableA(kChildVariable, progressPath_.c_str());
    const BOOL created = CreateProcessA(exe_.c_str(), buffer.data(), nullptr, nullptr, TRUE,
                                        CREATE_SUSPENDED, nullptr, nullptr, &startup, &info);
    SetEnvironmentVariableA(kChildVariable, nullptr);
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
      if (h) CloseHandle(h);
    }
    if (!created) {
      if (job) CloseHandle(job);
      return result;
    }
    result.started = true;
    if (job) AssignProcessToJobObject(job, info.hProcess);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);

    CProgressReader reader(progressPath_);
    std::string current, phase;
    DWORD currentStart = 0, currentBound = bound_;
    bool reported = false, hung = false;
    auto take = [&](const std::vector<CProgressLine>& lines) {
      for (const CProgressLine& line : lines) {
        if (line.verb == "plan") {
          planned_.insert(line.test);
        } else if (line.verb == "start" || line.verb == "phase") {
          if (line.verb == "start") {
            started_.insert(line.test);
            current = line.test;
          } else {
            phase = line.test;
          }
          currentStart = GetTickCount();
          currentBound = line.value;
          reported = hung = false;
        } else if (line.verb == "bound" && line.test == current) {
          currentBound = line.value;
        } else if (line.verb == "overrun") {
          reported = true;
        } else if (line.verb == "hung") {
          hung = true;
        } else if (line.verb == "end") {
          current.clear();
        } else if (line.verb == "phase-end") {
          phase.clear();
        }
      }
    };
    for (;;) {
      const DWORD wait = WaitForSingleObject(info.hProcess, 250);
      take(reader.ReadNew());
      if (wait != WAIT_TIMEOUT) break;
      if (current.empty() && phase.empty()) continue;
      // The child's own watchdog is the one that reports; this is for a
      // child too stuck to do even that.
      const bool silent =
          GetTickCount() - currentStart > currentBound + grace_ + kSupervisorSlackMs;
      if (!hung && !silent) continue;
      if (!reported) {
        const std::string what = current.empty() ? PhaseName(phase) : current;
        const std::string picture = SaveScreenPicture("watchdog-" + what);
        Say(what + " overran its bound of " + std::to_string(currentBound / 1000) +
            " s and its test program does not answer\n  screenshot: " +
            (picture.empty() ? std::string("could not be saved") : picture));
      }
      Say("stopping the test program and every process it started");
      StopTree(job, info.hProcess, info.dwProcessId);
      result.stopped = true;
      break;
    }
    take(reader.ReadNew());
    GetExitCodeProcess(info.hProcess, &result.exitCode);
    result.unfinished = current;
    if (current.empty() && !phase.empty()) {
      result.unfinished = PhaseName(phase);
      result.suite = phase;
    }
    CloseHandle(info.hProcess);
    if (job) CloseHandle(job);
    return result;
  }

  std::string exe_;
  std::string args_;
  std::string filter_;
  std::string progressPath_;
  DWORD bound_ = 0;
  DWORD grace_ = 0;
  std::set<std::string> planned_;
  std::set<std::string> started_;
};

bool WantsPlainRun(int argc, char** argv) {
  if (_stricmp(Env("QUIB_WATCHDOG").c_str(), "off") == 0) return true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // Listings, help, and the child GoogleTest starts for a death test.
    if (arg.rfind("--gtest_list_tests", 0) == 0 ||
        arg.rfind("--gtest_internal_run_death_test", 0) == 0 || arg == "--help" || arg == "-h" ||
        arg == "-?" || arg == "/?") {
      return true;
    }
  }
  return false;
}

}  // namespace

void SetTestBound(int seconds) {
  if (activeWatchdog && seconds > 0) activeWatchdog->SetBound(static_cast<DWORD>(seconds) * 1000);
}

std::string FilterWithout(const std::string& filter, const std::vector<std::string>& tests) {
  if (tests.empty()) return filter;
  std::string excluded;
  for (const std::string& t : tests) excluded += (excluded.empty() ? "" : ":") + t;
  // One "-" starts the negative patterns; a filter without one gets it.
  if (filter.find('-') != std::string::npos) return filter + ":" + excluded;
  return (filter.empty() ? std::string("*") : filter) + "-" + excluded;
}

std::string SaveScreenPicture(const std::string& name) {
  static ULONG_PTR token = 0;
  static std::once_flag started;
  std::call_once(started, [] {
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) token = 0;
  });
  if (!token) return {};
  int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  int width = GetSystemMetrics(SM_CXVIRTUALSCREEN), height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  if (width <= 0 || height <= 0) {
    x = y = 0;
    width = GetSystemMetrics(SM_CXSCREEN);
    height = GetSystemMetrics(SM_CYSCREEN);
  }
  std::string file;
  for (char c : name)
    file += isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ? c : '_';
  const std::string path = ArtifactsDir() + "\\" + file + ".png";
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const BOOL copied = BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY | CAPTUREBLT);
  SelectObject(memory, old);
  bool saved = false;
  CLSID png{};
  if (copied && PngEncoder(&png)) {
    Gdiplus::Bitmap image(bitmap, nullptr);
    wchar_t wide[MAX_PATH * 2] = {};
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH * 2);
    saved = image.Save(wide, &png, nullptr) == Gdiplus::Ok;
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return saved ? path : std::string();
}

int RunTestsWithWatchdog(int argc, char** argv) {
  const std::string progressPath = Env(kChildVariable);
  if (!progressPath.empty()) {
    // Whatever this child starts (the program under test, another test
    // program) is no child of the supervisor.
    SetEnvironmentVariableA(kChildVariable, nullptr);
    return RunAsChild(argc, argv, progressPath);
  }
  if (WantsPlainRun(argc, argv)) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
  }
  return CSupervisor(argc, argv).Run();
}

}  // namespace quibtest
