// The real i686 release files as a user gets them, run under qemu-i386 and
// 32-bit Wine (scripts/test.d/after/95-release-i686.sh sets that up): the silent
// installer, the installed program uploading to the album service, a second
// start as "Send To" makes it, VXUSB.dll in a 32-bit caller, and the
// uninstaller. This driver is a 64-bit program in the same prefix: it finds
// the 32-bit windows, reads texts and counts, clicks and answers message boxes.
//
// The cases run in this order on one installation and share it: every 32-bit
// start costs seconds under emulation, a loaded machine makes that a minute.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <objidl.h>
#include <shlobj.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/driver/driver.h"
#include "tests/e2e/driver/service_hooks.h"

using namespace e2e;

namespace {

constexpr int kList = 1005, kUpload = 1007;
constexpr int kLoginUser = 1008, kLoginPassword = 1009;
// A 32-bit process starts in seconds here, in a minute on a loaded machine.
constexpr DWORD kStartMs = 3 * 60 * 1000;
constexpr DWORD kDialogMs = 3 * 60 * 1000;
const char kInstallSubdir[] = "\\Programs\\quib-uploader";
const char kShortcut[] = "\\quib\xAE-uploader.lnk";
const char kUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\quib-uploader";
const char kSettingsKey[] = "Software\\BRAMWELD\\quib-uploader-net\\quibuploader\\Settings";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Folder(int csidl) {
  char path[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

std::string InstallDir() {
  return Folder(CSIDL_LOCAL_APPDATA) + kInstallSubdir;
}
std::string StartMenuShortcut() {
  return Folder(CSIDL_PROGRAMS) + kShortcut;
}
std::string SendToShortcut() {
  return Folder(CSIDL_SENDTO) + kShortcut;
}

std::string RegString(HKEY root, const char* key, const char* value) {
  char buffer[1024] = {};
  DWORD size = sizeof buffer;
  if (RegGetValueA(root, key, value, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
    return {};
  return buffer;
}

bool KeyExists(HKEY root, const char* key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

// Target and arguments of a shell link.
bool ReadShortcut(const std::string& link, std::string* target, std::string* arguments) {
  IShellLinkA* shell = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&shell))))
    return false;
  bool ok = false;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    std::wstring widePath(link.size() + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, &widePath[0],
                        static_cast<int>(widePath.size()));
    if (SUCCEEDED(file->Load(widePath.c_str(), STGM_READ))) {
      char path[MAX_PATH] = {}, args[MAX_PATH] = {};
      ok = SUCCEEDED(shell->GetPath(path, MAX_PATH, nullptr, 0)) &&
           SUCCEEDED(shell->GetArguments(args, MAX_PATH));
      *target = path;
      *arguments = args;
    }
    file->Release();
  }
  shell->Release();
  return ok;
}

// File and product version and the strings of a file's version resource.
struct VersionInfo {
  std::string fileVersion, productVersion;
  std::map<std::string, std::string> strings;
};

bool ReadVersion(const std::string& path, VersionInfo* info) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (!size) return false;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
    return false;
  auto text = [](DWORD ms, DWORD ls) {
    return std::to_string(HIWORD(ms)) + "." + std::to_string(LOWORD(ms)) + "." +
           std::to_string(HIWORD(ls)) + "." + std::to_string(LOWORD(ls));
  };
  info->fileVersion = text(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  info->productVersion = text(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
  for (const char* name : {"CompanyName", "ProductName", "FileVersion", "ProductVersion"}) {
    char* value = nullptr;
    const std::string query = std::string("\\StringFileInfo\\040904e4\\") + name;
    if (VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) &&
        value)
      info->strings[name] = value;
  }
  return true;
}

// A process started from this driver, with its standard output collected.
class CChild {
 public:
  static std::unique_ptr<CChild> Start(const std::string& exe, const std::string& args,
                                       bool captureOutput = false) {
    std::unique_ptr<CChild> child(new CChild);
    std::string commandLine = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    HANDLE writeEnd = nullptr;
    if (captureOutput) {
      SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
      if (!CreatePipe(&child->output_, &writeEnd, &inherit, 0)) return nullptr;
      SetHandleInformation(child->output_, HANDLE_FLAG_INHERIT, 0);
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdOutput = writeEnd;
      startup.hStdError = writeEnd;
      startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    PROCESS_INFORMATION info{};
    // Wine returns from CreateProcess only once the new process has started,
    // which is most of a 32-bit start under emulation: count it.
    child->started_ = GetTickCount();
    const BOOL ok = CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, captureOutput, 0,
                                   nullptr, nullptr, &startup, &info);
    if (writeEnd) CloseHandle(writeEnd);
    if (!ok) return nullptr;
    CloseHandle(info.hThread);
    child->process_ = info.hProcess;
    child->pid_ = info.dwProcessId;
    return child;
  }
  ~CChild() {
    if (process_) {
      if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
      CloseHandle(process_);
    }
    if (output_) CloseHandle(output_);
  }
  DWORD Pid() const { return pid_; }
  bool Running() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
  // Waits for the end (and the whole output); false on time-out.
  bool Wait(DWORD timeoutMs, DWORD* code, std::string* out = nullptr) {
    const DWORD start = GetTickCount();
    while (true) {
      Drain();
      if (WaitForSingleObject(process_, 100) == WAIT_OBJECT_0) break;
      if (GetTickCount() - start > timeoutMs) return false;
    }
    Drain();
    GetExitCodeProcess(process_, code);
    if (out) *out = output_text_;
    return true;
  }
  DWORD Seconds() const { return (GetTickCount() - started_) / 1000; }

 private:
  CChild() = default;
  void Drain() {
    if (!output_) return;
    DWORD available = 0;
    while (PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
      char buffer[4096];
      DWORD got = 0;
      if (!ReadFile(output_, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
      output_text_.append(buffer, got);
    }
  }
  HANDLE process_ = nullptr;
  HANDLE output_ = nullptr;
  DWORD pid_ = 0;
  DWORD started_ = 0;
  std::string output_text_;
};

// The album service of scripts/test.d/after/95-release-i686.sh.
std::string ServiceUrl() {
  return EnvVar("QUIB_I686_SERVICE_URL");
}

int ListCount(HWND main) {
  return static_cast<int>(SendMessageA(GetDlgItem(main, kList), LVM_GETITEMCOUNT, 0, 0));
}

// What the cases share: one installation, one running program.
struct Shared {
  bool installed = false;
  std::unique_ptr<CChild> program;
  HWND main = nullptr;
  std::unique_ptr<CChild> probe;
  std::string dir;
  std::string picture, pictureBytes;
};
Shared& State() {
  static Shared shared;
  return shared;
}

void Timed(const char* what, DWORD seconds) {
  std::printf("[ timing ] %s: %lu s\n", what, static_cast<unsigned long>(seconds));
  std::fflush(stdout);
}

class ReleaseI686 : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitialize(nullptr);
    State().dir = MakeTempDir("release-i686");
    // One processor for this driver and so for every process it starts (a
    // child keeps its parent's affinity). qemu-i386 keeps the i386 thread
    // descriptors for the whole process, and Wine gives each thread its TEB
    // through one of them: two threads that start at the same moment can end
    // up with one TEB, and the process dies. The program starts one thumbnail
    // worker per processor, two here, which killed nearly every first start;
    // with one processor it starts one. The win64 tests cover several.
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && system)
      SetProcessAffinityMask(GetCurrentProcess(), system & (~system + 1));
  }
  static void TearDownTestSuite() {
    // Whatever a failed case left running.
    State().program.reset();
    State().probe.reset();
    CoUninitialize();
  }
  void SetUp() override {
    if (EnvVar("QUIB_SETUP_EXE").empty())
      GTEST_SKIP() << "run by scripts/test.d/after/95-release-i686.sh (QUIB_SETUP_EXE is not set)";
  }
  static std::string Installed(const std::string& name) { return InstallDir() + "\\" + name; }
};

TEST_F(ReleaseI686, SilentInstallIsPerUserWithShortcutsAndProgramsEntry) {
  const std::string setup = ToWindowsPath(EnvVar("QUIB_SETUP_EXE"));
  ASSERT_TRUE(Exists(setup)) << setup;
  ASSERT_FALSE(Exists(InstallDir())) << "installed before the test";
  auto installer = CChild::Start(setup, "/S");
  ASSERT_TRUE(installer) << "cannot start " << setup << ", error " << GetLastError();
  DWORD code = 1;
  ASSERT_TRUE(installer->Wait(kStartMs, &code)) << "the installer did not end within 3 min";
  Timed("silent install", installer->Seconds());
  EXPECT_EQ(code, 0u);

  // Exactly the files of the package, byte for byte.
  const std::string stage = ToWindowsPath(EnvVar("QUIB_PACKAGE_STAGE"));
  for (const char* name :
       {"quibuploader.exe", "VXUSB.dll", "vxusb.h", "LICENSE.txt", "user-guide.html"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(Exists(Installed(name)));
    EXPECT_EQ(ReadBytes(Installed(name)), ReadBytes(stage + "\\" + name));
  }
  EXPECT_TRUE(Exists(Installed("uninstall.exe")));
  EXPECT_TRUE(Exists(Installed("images\\main-window.png")));

  // Both shortcuts start the installed program, with no arguments of their own.
  for (const std::string& link : {StartMenuShortcut(), SendToShortcut()}) {
    SCOPED_TRACE(link);
    std::string target, arguments;
    ASSERT_TRUE(ReadShortcut(link, &target, &arguments));
    EXPECT_EQ(Lower(target), Lower(Installed("quibuploader.exe")));
    EXPECT_EQ(arguments, "");
  }

  // The user's list of installed programs, and nothing machine-wide.
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kUninstallKey, "DisplayName"), "quib\xAE-uploader");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kUninstallKey, "DisplayVersion"),
            EnvVar("QUIB_EXPECTED_VERSION"));
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kUninstallKey, "Publisher"), "BRAMWELD");
  EXPECT_EQ(Lower(RegString(HKEY_CURRENT_USER, kUninstallKey, "UninstallString")),
            Lower("\"" + Installed("uninstall.exe") + "\""));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));

  // The version resources of the very files installed.
  for (const char* name : {"quibuploader.exe", "VXUSB.dll"}) {
    SCOPED_TRACE(name);
    VersionInfo info;
    ASSERT_TRUE(ReadVersion(Installed(name), &info));
    EXPECT_EQ(info.fileVersion, EnvVar("QUIB_EXPECTED_VERSION"));
    EXPECT_EQ(info.productVersion, EnvVar("QUIB_EXPECTED_VERSION"));
    EXPECT_EQ(info.strings["FileVersion"], EnvVar("QUIB_EXPECTED_VERSION"));
    EXPECT_EQ(info.strings["ProductVersion"], EnvVar("QUIB_EXPECTED_VERSION"));
    EXPECT_EQ(info.strings["CompanyName"], "BRAMWELD");
    EXPECT_FALSE(info.strings["ProductName"].empty());
  }
  State().installed = !HasFailure();
}

TEST_F(ReleaseI686, InstalledProgramStartsWithThePictureOfItsCommandLine) {
  ASSERT_TRUE(State().installed) << "the installation failed before";
  // The 32-bit DLL caller starts meanwhile: every 32-bit start is slow.
  State().probe = CChild::Start(ToWindowsPath(EnvVar("QUIB_VXUSB_PROBE")),
                                "\"" + Installed("VXUSB.dll") + "\"", true);

  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\BRAMWELD");
  State().picture = State().dir + "\\release picture.jpg";
  ASSERT_TRUE(WritePicture(State().picture, 640, 480, RGB(20, 120, 200)));
  State().pictureBytes = ReadBytes(State().picture);

  State().program = CChild::Start(Installed("quibuploader.exe"), "\"" + State().picture + "\"");
  ASSERT_TRUE(State().program);
  HWND main = nullptr;
  WaitUntil(
      [&] {
        main = FindTopWindow(kMainTitle, State().program->Pid(), "#32770");
        if (main && IsWindowVisible(main)) return true;
        main = nullptr;
        return !State().program->Running();
      },
      kStartMs);
  if (!main && !State().program->Running()) {
    // The step script reads this line: with the emulator's last words beside
    // it, the run gets one more try.
    std::printf("[ no window ] the program ended before its first window\n");
    std::fflush(stdout);
  }
  ASSERT_TRUE(main) << (State().program->Running() ? "no main window within 3 min"
                                                   : "the program ended without a main window");
  Timed("first start to main window", State().program->Seconds());
  State().main = main;
  ASSERT_TRUE(WaitUntil([&] { return ListCount(main) == 1; }, kDialogMs))
      << "the picture of the command line is not in the list";
  EXPECT_TRUE(IsEnabled(main, kUpload));
  SaveScreenshot(main, "i686-main-window");
}

TEST_F(ReleaseI686, InstalledProgramUploadsThroughLoginAndAlbumDialogs) {
  ASSERT_TRUE(State().installed) << "the installation failed before";
  ASSERT_TRUE(State().main && IsWindow(State().main)) << "the program is not running";
  const std::string user = EnvVar("QUIB_I686_USER"), password = EnvVar("QUIB_I686_PASSWORD");
  ASSERT_FALSE(user.empty());
  const std::string picture = State().picture, bytes = State().pictureBytes;
  const DWORD pid = State().program->Pid();
  HWND main = State().main;

  const DWORD uploadStart = GetTickCount();
  PostClick(main, kUpload);
  HWND login = WaitForWindow("Login data", pid, kDialogMs, "#32770");
  ASSERT_TRUE(login) << "no login dialog";
  SetText(GetDlgItem(login, kLoginUser), user);
  SetText(GetDlgItem(login, kLoginPassword), password);
  PostClick(login, IDOK);
  HWND album = WaitForWindow("Select album", pid, kDialogMs, "#32770");
  if (!album) {
    HWND box = WaitForMessageBox(pid, 100);
    // The transfer window paints its status: a picture shows where it stopped.
    if (HWND transfer = FindTopWindow("Uploading...", pid))
      SaveScreenshot(transfer, "i686-no-album-dialog");
    FAIL() << "no album dialog within 3 min"
           << (box ? "; message: " + MessageBoxText(box) : std::string());
  }
  SaveScreenshot(album, "i686-select-album");
  // The account's only album is selected.
  PostClick(album, IDOK);
  HWND box = WaitForMessageBox(pid, kDialogMs);
  ASSERT_TRUE(box) << "no final message";
  EXPECT_EQ(MessageBoxText(box), "1 file(s) successfully uploaded.");
  PostClick(box, IDOK);
  EXPECT_TRUE(WaitWindowGone(box, kDialogMs));
  EXPECT_TRUE(WaitUntil([&] { return ListCount(main) == 0; }, kDialogMs));
  Timed("upload through the dialogs", (GetTickCount() - uploadStart) / 1000);

  // At the service, in the account's album, byte for byte.
  const auto albums = Tsv(HttpGet(ServiceUrl() + "/test/albums?account=" + user));
  ASSERT_EQ(albums.size(), 1u);
  const auto media = Tsv(HttpGet(ServiceUrl() + "/test/media?account=" + user));
  ASSERT_EQ(media.size(), 1u);
  EXPECT_EQ(media[0].at("filename"), "release picture.jpg");
  EXPECT_EQ(media[0].at("dir_id"), albums[0].at("id"));
  EXPECT_EQ(ReadBytes(ToWindowsPath(media[0].at("path"))), bytes);
  EXPECT_EQ(ReadBytes(picture), bytes);  // the user's file is untouched
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kSettingsKey, "Username"), user);
}

TEST_F(ReleaseI686, SecondStartFromSendToAddsTheFileToTheRunningWindow) {
  ASSERT_TRUE(State().installed) << "the installation failed before";
  ASSERT_TRUE(State().main && IsWindow(State().main)) << "the program is not running";
  std::string target, arguments;
  ASSERT_TRUE(ReadShortcut(SendToShortcut(), &target, &arguments));
  const int before = ListCount(State().main);
  const std::string picture = State().dir + "\\sent to.png";
  ASSERT_TRUE(WritePicture(picture, 200, 150, RGB(200, 60, 20)));
  // Explorer appends the chosen file, quoted when it holds a blank.
  auto second =
      CChild::Start(target, (arguments.empty() ? "" : arguments + " ") + "\"" + picture + "\"");
  ASSERT_TRUE(second);
  DWORD code = 1;
  ASSERT_TRUE(second->Wait(kStartMs, &code)) << "the second start did not end within 3 min";
  Timed("second start", second->Seconds());
  EXPECT_TRUE(WaitUntil([&] { return ListCount(State().main) == before + 1; }, 30000))
      << "the file did not arrive in the running window";
  EXPECT_TRUE(IsWindow(State().main));
  SaveScreenshot(State().main, "i686-after-send-to");
}

TEST_F(ReleaseI686, VxusbLoadsInA32BitProcessAndBehavesAsWithoutDevice) {
  ASSERT_TRUE(State().installed) << "the installation failed before";
  if (!State().probe)
    State().probe = CChild::Start(ToWindowsPath(EnvVar("QUIB_VXUSB_PROBE")),
                                  "\"" + Installed("VXUSB.dll") + "\"", true);
  ASSERT_TRUE(State().probe) << "cannot start the 32-bit probe";
  DWORD code = 1;
  std::string out;
  ASSERT_TRUE(State().probe->Wait(kStartMs, &code, &out)) << "the probe did not end; so far:\n"
                                                          << out;
  EXPECT_EQ(code, 0u) << out;
  EXPECT_NE(out.find("ok runs as a 32-bit process"), std::string::npos) << out;
  EXPECT_NE(out.find("ok the four exports resolve by name"), std::string::npos) << out;
  EXPECT_NE(out.find("ok VXGetHidInReport reads a report"), std::string::npos) << out;
  EXPECT_NE(out.find("0 failed"), std::string::npos) << out;
}

TEST_F(ReleaseI686, UninstallerStopsTheProgramRemovesItsFilesAndKeepsSettings) {
  ASSERT_TRUE(State().installed) << "the installation failed before";
  const bool running = State().program && State().program->Running();
  EXPECT_TRUE(running) << "the program should still run, for the uninstaller to stop it";
  // The user's settings: what the login dialog stored, and one more.
  const std::string user = RegString(HKEY_CURRENT_USER, kSettingsKey, "Username");
  const DWORD medium = 2;
  ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, "ResizeImage", REG_DWORD, &medium,
                            sizeof medium),
            ERROR_SUCCESS);

  // As the list of installed programs runs it, silently.
  const std::string command = RegString(HKEY_CURRENT_USER, kUninstallKey, "UninstallString");
  ASSERT_GE(command.size(), 2u);
  const std::string exe = command.substr(1, command.size() - 2);
  auto uninstaller = CChild::Start(exe, "/S");
  ASSERT_TRUE(uninstaller);
  const DWORD start = GetTickCount();
  // It copies itself to the temp folder and goes on from there, and starts
  // the program with "-stop": three 32-bit starts. Wait for what it does, not
  // for its process.
  if (running) {
    DWORD code = 0;
    EXPECT_TRUE(State().program->Wait(3 * kStartMs, &code)) << "the program was not stopped";
    Timed("uninstaller start to program stopped", (GetTickCount() - start) / 1000);
  }
  EXPECT_TRUE(WaitUntil([] { return !Exists(InstallDir()); }, kStartMs))
      << "the program folder is still there";
  Timed("uninstall", (GetTickCount() - start) / 1000);
  EXPECT_FALSE(Exists(StartMenuShortcut()));
  EXPECT_FALSE(Exists(SendToShortcut()));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUninstallKey));
  // The settings stay unless the user ticks the box.
  DWORD resize = 0, size = sizeof resize;
  EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, "ResizeImage", RRF_RT_REG_DWORD, nullptr,
                         &resize, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(resize, medium);
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kSettingsKey, "Username"), user);
}

}  // namespace
