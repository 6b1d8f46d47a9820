// Soak: one session of the real program uploads many mixed files (pictures
// that get shrunk, pictures that do not, movies, audio) in several runs to
// the album service, which is killed and started again between the runs.
// After every run each file at the service is checked (byte-identical, or
// decoded and of the size its box gives), no temporary copy may be left, and
// the program's handles (by kind), GDI objects, windows and memory are read
// from outside and must come back to where they were.
//
// Sizes: QUIB_SOAK_FILES files per run (default 30), QUIB_SOAK_RUNS runs
// (default 4: two to warm up, two to compare). tests/e2e/soak/soak.sh runs it by hand with other
// sizes.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/driver/driver.h"
#include "tests/e2e/driver/service_hooks.h"
#include "tests/win/support/watchdog.h"

using namespace e2e;

namespace {

constexpr int kUpload = 1007;
constexpr int kList = 1005;
constexpr int kFolderNew = 1012, kNameEdit = 1008;
constexpr int kResizeSmall = 1015;
const char kPassword[] = "soak pass";
// How far memory may move after the warm-up runs and still count as flat:
// what the heap commits and gives back in its own steps between two quiet
// moments (0.1 MiB seen), with room to spare.
constexpr unsigned long long kFlatPrivateBytes = 1ull << 20;
constexpr unsigned long long kFlatWorkingSet = 2ull << 20;
// A run that finishes no file for this long is stuck (the largest file takes
// a few seconds on a loaded machine).
constexpr DWORD kStallMs = 60000;

int EnvInt(const char* name, int fallback) {
  const std::string text = EnvVar(name);
  const int value = text.empty() ? fallback : atoi(text.c_str());
  return value > 0 ? value : fallback;
}

int Files() {
  return EnvInt("QUIB_SOAK_FILES", 30);
}
int Runs() {
  return EnvInt("QUIB_SOAK_RUNS", 4);
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Kills the service (as a crash would) and starts it again, through the
// controller of scripts/test.d/20-upload-service.sh.
bool RestartService(std::string* why) {
  const std::string data = ToWindowsPath(EnvVar("QUIB_UPLOAD_SERVICE_DATA"));
  DeleteFileA((data + "\\stopped").c_str());
  if (!WriteBytes(data + "\\stop-request", "") ||
      !WaitUntil([&] { return FileExists(data + "\\stopped"); }, 15000)) {
    *why = "the service was not stopped within 15 s";
    return false;
  }
  DeleteFileA((data + "\\started").c_str());
  if (!WriteBytes(data + "\\start-request", "") ||
      !WaitUntil([&] { return FileExists(data + "\\started"); }, 30000)) {
    *why = "the service did not start again within 30 s";
    return false;
  }
  return true;
}

enum Kind { KindPicture, KindMovie, KindAudio };

struct Spec {
  const char* stem;
  const char* ext;
  Kind kind;
  int width;     // pictures
  int height;    // pictures
  size_t bytes;  // movies and audio
};

// The mix, repeated: six pictures above 640 x 480, four at or below it,
// three movies and two audio files.
const Spec kMix[] = {
    {"big", "jpg", KindPicture, 1600, 1200, 0},   {"clip", "flv", KindMovie, 0, 0, 400 * 1024},
    {"vga", "jpg", KindPicture, 640, 480, 0},     {"portrait", "jpg", KindPicture, 1200, 1600, 0},
    {"song", "mp3", KindAudio, 0, 0, 200 * 1024}, {"small", "gif", KindPicture, 320, 240, 0},
    {"wide", "png", KindPicture, 2000, 1000, 0},  {"film", "mpg", KindMovie, 0, 0, 250 * 1024},
    {"svga", "png", KindPicture, 800, 600, 0},    {"tall", "png", KindPicture, 480, 640, 0},
    {"edge", "bmp", KindPicture, 641, 480, 0},    {"sound", "wav", KindAudio, 0, 0, 120 * 1024},
    {"xga", "jpg", KindPicture, 1024, 768, 0},    {"video", "avi", KindMovie, 0, 0, 300 * 1024},
    {"tiny", "bmp", KindPicture, 100, 80, 0},
};
constexpr size_t kMixSize = sizeof kMix / sizeof kMix[0];

struct SourceFile {
  std::string path;
  std::string name;
  const Spec* spec;
  COLORREF colour;
  size_t hash;
};

std::string Filler(std::string head, size_t size, unsigned seed) {
  head.reserve(size);
  while (head.size() < size) {
    seed = seed * 1103515245u + 12345u;
    head += static_cast<char>(seed >> 24);
  }
  return head;
}

// File contents with the signature of their kind.
std::string MediaBytes(const Spec& spec, size_t index) {
  const size_t size = spec.bytes + (index * 7919) % 65536;
  const std::string ext = spec.ext;
  std::string head;
  if (ext == "flv") head.assign("FLV\x01\x05\x00\x00\x00\x09", 9);
  if (ext == "mpg") head.assign("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01", 10);
  if (ext == "avi") head.assign("RIFF\0\0\0\0AVI LIST", 16);
  if (ext == "mp3") head.assign("ID3\x03\x00\x00\x00\x00\x00\x00\xFF\xFB\x90\x00", 14);
  if (ext == "wav") head.assign("RIFF\0\0\0\0WAVEfmt ", 16);
  return Filler(head, size, static_cast<unsigned>(index) + 1);
}

// The size a picture gets in a box of box x box pixels, or 0 x 0 when the
// run sends it as it is. With the small box every picture above 640 x 480
// is shrunk, with the medium one those above 1024 x 768.
SIZE ShrunkSize(const Spec& spec, int box) {
  const long long pixels = 1LL * spec.width * spec.height;
  const bool shrunk = box == 640 ? pixels > 640 * 480 : pixels > 1024 * 768;
  if (spec.kind != KindPicture || !shrunk) return SIZE{0, 0};
  const double m = box;
  const double s = std::min(m / spec.width, m / spec.height);
  return SIZE{static_cast<LONG>(spec.width * s), static_cast<LONG>(spec.height * s)};
}

bool Near(COLORREF a, COLORREF b) {
  auto close = [](int x, int y) { return std::abs(x - y) <= 24; };
  return close(GetRValue(a), GetRValue(b)) && close(GetGValue(a), GetGValue(b)) &&
         close(GetBValue(a), GetBValue(b));
}

std::string Mib(unsigned long long bytes) {
  char text[32];
  snprintf(text, sizeof text, "%.1f", bytes / 1048576.0);
  return text;
}

// Only the working set while a run goes on: the full figures walk the
// program's memory region by region, which Wine serves with calls into the
// program itself.
unsigned long long WorkingSet(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return 0;
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  const BOOL ok = K32GetProcessMemoryInfo(process, &memory, sizeof memory);
  CloseHandle(process);
  return ok ? memory.WorkingSetSize : 0;
}

// The program's handles by the type of object they hold ("Event", "File",
// "Key", "Thread"...): each entry of the system handle table that is the
// program's, copied into this process and asked. Empty when that fails.
std::map<std::string, long> HandlesByKind(DWORD pid) {
  struct Entry {
    PVOID object;
    ULONG_PTR pid;
    ULONG_PTR handle;
    ULONG access;
    USHORT creatorBackTrace;
    USHORT typeIndex;
    ULONG attributes;
    ULONG reserved;
  };
  struct Table {
    ULONG_PTR count;
    ULONG_PTR reserved;
    Entry entries[1];
  };
  using QuerySystemFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  using QueryObjectFn = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto querySystem = reinterpret_cast<QuerySystemFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
  auto queryObject = reinterpret_cast<QueryObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
  std::map<std::string, long> kinds;
  HANDLE process = OpenProcess(PROCESS_DUP_HANDLE, FALSE, pid);
  if (!querySystem || !queryObject || !process) return kinds;
  std::vector<char> buffer(1 << 20);
  LONG status = -1;
  for (int i = 0; i < 8; ++i) {
    ULONG needed = 0;
    status = querySystem(64 /* extended handle information */, buffer.data(),
                         static_cast<ULONG>(buffer.size()), &needed);
    if (status != static_cast<LONG>(0xC0000004)) break;
    buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
  }
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  for (ULONG_PTR i = 0; status == 0 && i < table->count; ++i) {
    if (table->entries[i].pid != pid) continue;
    HANDLE copy = nullptr;
    std::string kind = "(not copied)";
    if (DuplicateHandle(process, reinterpret_cast<HANDLE>(table->entries[i].handle),
                        GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
      // ObjectTypeInformation begins with the type's name.
      union {
        struct {
          USHORT length, maximumLength;
          PWSTR buffer;
        } name;
        char bytes[1024];
      } info{};
      kind = "(no type)";
      if (queryObject(copy, 2, &info, sizeof info, nullptr) == 0 && info.name.buffer) {
        kind.clear();
        for (USHORT c = 0; c < info.name.length / 2; ++c)
          kind += static_cast<char>(info.name.buffer[c]);
      }
      CloseHandle(copy);
    }
    ++kinds[kind];
  }
  CloseHandle(process);
  return kinds;
}

// The same reading twice in a row, 200 ms apart (a thread that is ending
// still holds its handles for a moment).
std::map<std::string, long> SettledKinds(DWORD pid) {
  std::map<std::string, long> last = HandlesByKind(pid);
  for (int i = 0; i < 25; ++i) {
    Sleep(200);
    std::map<std::string, long> now = HandlesByKind(pid);
    if (now == last) break;
    last = now;
  }
  return last;
}

long KindCount(const std::map<std::string, long>& kinds, const std::string& kind) {
  auto found = kinds.find(kind);
  return found == kinds.end() ? 0 : found->second;
}

struct RunRecord {
  int run = 0;
  int box = 0;
  double addSeconds = 0;
  double uploadSeconds = 0;
  unsigned long long peakWorkingSet = 0;
  ProcessFigures after;
  std::map<std::string, long> handleKinds;
};

// Reads the figures once they hold still: equal to the reference when there
// is one, else the same four readings in a row.
ProcessFigures SettledFigures(DWORD pid, const ProcessFigures* reference) {
  ProcessFigures last = ReadProcessFigures(pid);
  int same = 0;
  WaitUntil(
      [&] {
        Sleep(200);
        const ProcessFigures now = ReadProcessFigures(pid);
        if (reference && now.handles == reference->handles &&
            now.gdiObjects == reference->gdiObjects && now.windows == reference->windows) {
          last = now;
          return true;
        }
        same = now.handles == last.handles && now.gdiObjects == last.gdiObjects &&
                       now.windows == last.windows
                   ? same + 1
                   : 0;
        last = now;
        return !reference && same >= 4;
      },
      20000);
  return last;
}

// What the whole session shares: the account, the files, the program and
// the figures of each run.
struct Session {
  std::string user;
  std::string dir;
  std::vector<SourceFile> files;
  unsigned long long bytes = 0;  // of the source files
  std::unique_ptr<CProgram> program;
  HWND main = nullptr;
  int tempAtStart = 0;
  ProcessFigures start;
  std::map<std::string, long> startKinds;
  std::vector<RunRecord> runs;
  std::string setupError;
};

Session* g_session = nullptr;

class Soak : public testing::TestWithParam<int> {
 public:
  static void SetUpTestSuite() {
    g_session = new Session;
    Session& s = *g_session;
    if (!EnvVar("QUIB_UPLOAD_SERVICE_ERROR").empty()) {
      s.setupError = EnvVar("QUIB_UPLOAD_SERVICE_ERROR");
      return;
    }
    if (UploadServiceUrl().empty()) return;
    ClearProfile();
    bool ok = false;
    // Unique within the service's life, which may outlast one test program.
    s.user = "soak" + std::to_string(GetCurrentProcessId()) + "t" + std::to_string(GetTickCount());
    HookGet("/test/account?name=" + s.user + "&password=soak%20pass", &ok);
    if (!ok) {
      s.setupError = "could not make the account " + s.user;
      return;
    }
    // Stored credentials and the album prompt; shrinking left at its
    // defaults, so the first large picture asks.
    StoreCredentials(s.user, kPassword);
    StoreProfileInt("AskFolder", 1);

    s.dir = MakeTempDir("soak");
    const int count = Files();
    for (int i = 0; i < count; ++i) {
      const Spec& spec = kMix[i % kMixSize];
      SourceFile f;
      char name[64];
      snprintf(name, sizeof name, "s%03d-%s.%s", i, spec.stem, spec.ext);
      f.name = name;
      f.path = s.dir + "\\" + name;
      f.spec = &spec;
      f.colour = RGB(30 + (i * 37) % 200, 30 + (i * 91) % 200, 30 + (i * 53) % 200);
      const bool written = spec.kind == KindPicture
                               ? WritePicture(f.path, spec.width, spec.height, f.colour)
                               : WriteBytes(f.path, MediaBytes(spec, i));
      if (!written) {
        s.setupError = "could not write " + f.path;
        return;
      }
      const std::string bytes = ReadBytes(f.path);
      f.hash = std::hash<std::string>()(bytes);
      s.bytes += bytes.size();
      s.files.push_back(f);
    }
    s.tempAtStart = CountTempFiles("NEW*.TMP");
    s.program = CProgram::Launch("");
    s.main = s.program ? s.program->WaitMainWindow(60000) : nullptr;
    if (!s.main) {
      s.setupError = "the program did not show its main window";
      return;
    }
    s.start = SettledFigures(s.program->Pid(), nullptr);
    if (!s.start.ok) s.setupError = "the program's figures cannot be read from outside";
    s.startKinds = SettledKinds(s.program->Pid());
  }

  static void TearDownTestSuite() {
    Session& s = *g_session;
    if (!s.runs.empty()) PrintFigures(s);
    s.program.reset();
    for (const SourceFile& f : s.files) DeleteFileA(f.path.c_str());
    if (!s.dir.empty()) RemoveDirectoryA(s.dir.c_str());
    ClearProfile();
    delete g_session;
    g_session = nullptr;
  }

 protected:
  void SetUp() override {
    if (!EnvVar("QUIB_UPLOAD_SERVICE_ERROR").empty()) FAIL() << EnvVar("QUIB_UPLOAD_SERVICE_ERROR");
    if (UploadServiceUrl().empty()) GTEST_SKIP() << "QUIB_UPLOAD_SERVICE_URL is not set";
    ASSERT_TRUE(g_session->setupError.empty()) << g_session->setupError;
    ASSERT_TRUE(g_session->program && !g_session->program->WaitExit(0)) << "the program is gone";
  }

  Session& S() { return *g_session; }
  DWORD Pid() { return S().program->Pid(); }
  HWND List() { return GetDlgItem(S().main, kList); }

  // The resize prompt ("Dialog") when it shows.
  HWND ResizePrompt() {
    HWND prompt = FindTopWindow("Dialog", Pid(), "#32770");
    return prompt && IsWindowVisible(prompt) ? prompt : nullptr;
  }

  void CheckStoredFiles(int run, int box);

  static void PrintFigures(const Session& s);
};

void Soak::CheckStoredFiles(int run, int box) {
  const std::string album = "Soak run " + std::to_string(run);
  std::string albumId;
  for (const TsvRow& a : StoredAlbums(S().user)) {
    if (a.count("name") && a.at("name") == album) albumId = a.at("id");
  }
  ASSERT_FALSE(albumId.empty()) << "no album " << album;
  std::map<std::string, TsvRow> stored;
  for (const TsvRow& m : StoredMedia(S().user)) {
    if (m.count("dir_id") && m.at("dir_id") == albumId) {
      EXPECT_EQ(stored.count(m.at("filename")), 0u) << "twice: " << m.at("filename");
      stored[m.at("filename")] = m;
    }
  }
  EXPECT_EQ(stored.size(), S().files.size());
  int shrunk = 0;
  for (const SourceFile& f : S().files) {
    SCOPED_TRACE(f.name);
    auto found = stored.find(f.name);
    if (found == stored.end()) {
      ADD_FAILURE() << "not at the service";
      continue;
    }
    const std::string path = ToWindowsPath(found->second.at("path"));
    const SIZE size = ShrunkSize(*f.spec, box);
    if (size.cx == 0) {
      EXPECT_TRUE(ReadBytes(path) == ReadBytes(f.path)) << "not byte-identical";
      continue;
    }
    ++shrunk;
    PictureInfo info;
    ASSERT_TRUE(ReadPicture(path, &info)) << "cannot decode " << path;
    EXPECT_TRUE(info.jpeg);
    EXPECT_EQ(info.width, static_cast<UINT>(size.cx));
    EXPECT_EQ(info.height, static_cast<UINT>(size.cy));
    EXPECT_TRUE(Near(info.centre, f.colour))
        << std::hex << "centre " << info.centre << ", source " << f.colour;
    const std::string type = found->second.at("mime_type");
    EXPECT_TRUE(type == "image/jpeg" || type == "image/pjpeg") << type;
  }
  // The mix always has pictures that the box shrinks.
  if (S().files.size() >= kMixSize) {
    EXPECT_GT(shrunk, 0);
  }
}

void Soak::PrintFigures(const Session& s) {
  std::string table;
  char line[256];
  snprintf(line, sizeof line, "soak: %zu files (%s MiB) per run, %zu run(s)\n", s.files.size(),
           Mib(s.bytes).c_str(), s.runs.size());
  table += line;
  table += "(" + s.start.how + ")\n";
  table += "run  box   add s  upload s  handles  gdi  windows  ws MiB  peak ws MiB  private MiB\n";
  auto row = [&](const char* run, int box, double add, double upload, const ProcessFigures& f,
                 unsigned long long peak) {
    snprintf(line, sizeof line, "%-4s %4d %7.1f %9.1f %8ld %4ld %8ld %7s %12s %12s\n", run, box,
             add, upload, f.handles, f.gdiObjects, f.windows, Mib(f.workingSet).c_str(),
             Mib(peak).c_str(), Mib(f.privateBytes).c_str());
    table += line;
  };
  row("0", 0, 0, 0, s.start, s.start.workingSet);
  for (const RunRecord& r : s.runs) {
    row(std::to_string(r.run).c_str(), r.box, r.addSeconds, r.uploadSeconds, r.after,
        r.peakWorkingSet);
  }
  snprintf(line, sizeof line, "temporary copies left (NEW*.TMP): %d\n",
           CountTempFiles("NEW*.TMP") - s.tempAtStart);
  table += line;
  // Which kinds of GDI object the first run added (and later runs kept).
  if (!s.start.gdiByType.empty()) {
    const ProcessFigures& first = s.runs.front().after;
    const ProcessFigures& last = s.runs.back().after;
    table += "GDI objects by type code: at the start -> after run 1 -> after the last run\n";
    std::map<int, bool> types;
    for (const auto* f : {&s.start, &first, &last}) {
      for (const auto& t : f->gdiByType) types[t.first] = true;
    }
    auto at = [](const ProcessFigures& f, int type) {
      auto found = f.gdiByType.find(type);
      return found == f.gdiByType.end() ? 0L : found->second;
    };
    for (const auto& t : types) {
      snprintf(line, sizeof line, "  0x%02x: %ld -> %ld -> %ld\n", t.first, at(s.start, t.first),
               at(first, t.first), at(last, t.first));
      table += line;
    }
  }
  {
    table += "handles by kind: at the start -> after each run\n";
    std::map<std::string, bool> kinds;
    for (const auto& k : s.startKinds) kinds[k.first] = true;
    for (const RunRecord& r : s.runs)
      for (const auto& k : r.handleKinds) kinds[k.first] = true;
    for (const auto& k : kinds) {
      std::string row = "  " + k.first + ": " + std::to_string(KindCount(s.startKinds, k.first));
      for (const RunRecord& r : s.runs)
        row += " -> " + std::to_string(KindCount(r.handleKinds, k.first));
      table += row + "\n";
    }
  }
  printf("%s", table.c_str());
  fflush(stdout);
  WriteBytes(ArtifactsDir() + "\\soak-figures.txt", table);
}

TEST_P(Soak, Run) {
  const int run = GetParam();
  const size_t count = S().files.size();
  // A run of the default size takes about 15 s; the large one minutes.
  quibtest::SetTestBound(90 + 3 * static_cast<int>(count));
  // Runs depend on each other: a failed one ends the session.
  ASSERT_EQ(static_cast<int>(S().runs.size()), run - 1) << "an earlier run did not finish";
  if (run > 1) {
    std::string why;
    ASSERT_TRUE(RestartService(&why)) << why;
  }
  // Run 1 answers the prompt with the small box; later runs set the box in
  // the settings, alternating.
  const int box = run == 1 || run % 2 == 1 ? 640 : 1024;
  if (run > 1) StoreProfileInt("ResizeImage", box == 640 ? 1 : 2);
  const int tempBefore = CountTempFiles("NEW*.TMP");

  RunRecord record;
  record.run = run;
  record.box = box;
  const DWORD addStart = GetTickCount();
  std::vector<std::string> paths;
  for (const SourceFile& f : S().files) paths.push_back(f.path);
  const DWORD addBound = 60000 + 1000 * static_cast<DWORD>(count);
  SendFilesToProgram(S().main, paths, addBound);
  ASSERT_TRUE(WaitUntil([&] { return ListCaptions(List()).size() == count; }, addBound))
      << "the list holds " << ListCaptions(List()).size() << " of " << count << " files";
  record.addSeconds = (GetTickCount() - addStart) / 1000.0;

  const DWORD uploadStart = GetTickCount();
  PostClick(S().main, kUpload);
  HWND folder = WaitForWindow("Select album", Pid(), 60000, "#32770");
  if (!folder) {
    HWND message = WaitForMessageBox(Pid(), 100);
    HWND transfer = FindTopWindow("Uploading...", Pid(), "#32770");
    if (transfer) SaveScreenshot(transfer, "soak-run" + std::to_string(run) + "-no-albums");
    FAIL() << "no album dialog within 60 s"
           << (message ? "; message: " + MessageBoxText(message) : std::string())
           << (transfer ? "; the transfer dialog is open (picture: soak-run" + std::to_string(run) +
                              "-no-albums.png)"
                        : std::string());
  }
  PostClick(folder, kFolderNew);
  HWND name = WaitForWindow("New album", Pid(), 20000, "#32770");
  ASSERT_TRUE(name) << "no album name prompt";
  SetText(GetDlgItem(name, kNameEdit), "Soak run " + std::to_string(run));
  PostClick(name, IDOK);
  HWND transfer = WaitForWindow("Uploading...", Pid(), 30000, "#32770");
  ASSERT_TRUE(transfer) << "no transfer dialog";

  // Until the final message: answer the resize prompt, note the peak memory.
  // A run that stops moving (no file done for a while) fails early, with a
  // picture of what the transfer dialog shows.
  int prompts = 0;
  HWND message = nullptr;
  LRESULT left = SendMessageA(List(), LVM_GETITEMCOUNT, 0, 0);
  DWORD lastChange = GetTickCount();
  bool stalled = false;
  const DWORD runBound = 60000 + 2000 * static_cast<DWORD>(count);
  const bool ended = WaitUntil(
      [&] {
        record.peakWorkingSet = std::max(record.peakWorkingSet, WorkingSet(Pid()));
        if (HWND prompt = ResizePrompt()) {
          ++prompts;
          SendMessageA(GetDlgItem(prompt, kResizeSmall), BM_CLICK, 0, 0);
          PostClick(prompt, IDOK);
          WaitWindowGone(prompt, 10000);
          lastChange = GetTickCount();
        }
        message = WaitForMessageBox(Pid(), 200);
        if (message != nullptr || !IsWindow(transfer)) return true;
        const LRESULT nowLeft = SendMessageA(List(), LVM_GETITEMCOUNT, 0, 0);
        if (nowLeft != left) {
          left = nowLeft;
          lastChange = GetTickCount();
        }
        stalled = GetTickCount() - lastChange > kStallMs;
        return stalled;
      },
      runBound);
  if (!ended || stalled) {
    SaveScreenshot(transfer, "soak-run" + std::to_string(run) + "-stuck");
    FAIL() << (stalled ? "no file finished within " + std::to_string(kStallMs / 1000) + " s"
                       : "no final message within " + std::to_string(runBound / 1000) + " s")
           << "; " << left << " of " << count << " files still in the list (picture: soak-run"
           << run << "-stuck.png)";
  }
  ASSERT_TRUE(message) << "the transfer dialog closed without a message";
  const std::string text = MessageBoxText(message);
  PostClick(message, IDOK);
  ASSERT_EQ(text, std::to_string(count) + " file(s) successfully uploaded.");
  ASSERT_TRUE(WaitWindowGone(transfer, 20000));
  ASSERT_TRUE(WaitUntil([&] { return ListCaptions(List()).empty(); }, 20000));
  record.uploadSeconds = (GetTickCount() - uploadStart) / 1000.0;
  // Only the first run asks, once: the answer is stored.
  EXPECT_EQ(prompts, run == 1 ? 1 : 0);

  CheckStoredFiles(run, box);
  EXPECT_EQ(CountTempFiles("NEW*.TMP"), tempBefore) << "temporary copies left behind";
  EXPECT_EQ(tempBefore, S().tempAtStart);

  // Runs 1 and 2 warm up every path (both boxes, each kind of file): the
  // system keeps what it opens on first use (registry keys, cached device
  // contexts). From then on every run must end exactly where run 2 ended.
  const ProcessFigures second = run <= 2 ? ProcessFigures() : S().runs[1].after;
  const ProcessFigures* reference = run <= 2 ? nullptr : &second;
  record.after = SettledFigures(Pid(), reference);
  ASSERT_TRUE(record.after.ok);
  record.handleKinds = SettledKinds(Pid());
  S().runs.push_back(record);
  if (reference) {
    const std::map<std::string, long>& before = S().runs[1].handleKinds;
    if (before.empty() || record.handleKinds.empty()) {
      EXPECT_EQ(record.after.handles, reference->handles) << "handles after run 2 and now";
    }
    std::map<std::string, bool> kinds;
    for (const auto& k : before) kinds[k.first] = true;
    for (const auto& k : record.handleKinds) kinds[k.first] = true;
    for (const auto& k : kinds) {
      const long was = KindCount(before, k.first), now = KindCount(record.handleKinds, k.first);
      if (k.first != "Event") {
        EXPECT_EQ(now, was) << k.first << " handles after run 2 and now";
        continue;
      }
      // Events but one: the thread runtime (winpthreads) gives a lock its
      // event the first time a thread has to wait for it, and keeps it for
      // the lock's life. A long-lived lock (the thumbnail queue, the window
      // queue, the runtime's own) may first be contended after the warm-up:
      // two sessions of one size ended run 1 with 5 and with 6 events. A
      // leak of one event per run still shows by run 4.
      EXPECT_GE(now, was) << "events after run 2 and now";
      EXPECT_LE(now, was + 1) << "events after run 2 and now";
    }
    EXPECT_EQ(record.after.gdiObjects, reference->gdiObjects) << "GDI objects after run 2 and now";
    EXPECT_EQ(record.after.windows, reference->windows) << "windows after run 2 and now";
  }

  if (run == Runs() && run >= 3) {
    // Memory is flat: runs 1 and 2 warm up every path (both boxes, every
    // kind of file); after that, what a run leaves behind must stay within
    // a bound well below what a per-file leak adds up to in the large size
    // (1 KiB per file shows after 6 runs of 200 files).
    const ProcessFigures& warm = S().runs[1].after;
    for (size_t i = 2; i < S().runs.size(); ++i) {
      const ProcessFigures& now = S().runs[i].after;
      EXPECT_LE(now.privateBytes, warm.privateBytes + kFlatPrivateBytes)
          << "private bytes after run " << i + 1 << ": " << Mib(now.privateBytes)
          << " MiB, after run 2: " << Mib(warm.privateBytes) << " MiB";
      EXPECT_LE(now.workingSet, warm.workingSet + kFlatWorkingSet)
          << "working set after run " << i + 1 << ": " << Mib(now.workingSet)
          << " MiB, after run 2: " << Mib(warm.workingSet) << " MiB";
    }
  }
  if (run == Runs()) {
    // The user's files are untouched.
    for (const SourceFile& f : S().files) {
      EXPECT_EQ(std::hash<std::string>()(ReadBytes(f.path)), f.hash) << f.name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Session, Soak, testing::Range(1, Runs() + 1),
                         [](const testing::TestParamInfo<int>& info) {
                           return "Run" + std::to_string(info.param);
                         });

}  // namespace
