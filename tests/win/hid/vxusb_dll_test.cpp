// VXUSB.dll as a caller sees it: loaded by full path, bound by name. Reads
// go through pipes and files, which behave like a device handle for ReadFile.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "hidlib/vxusb.h"

namespace {

class VxusbDllTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char exe[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path(exe, length);
    path.erase(path.find_last_of("\\/") + 1);
    path += "VXUSB.dll";
    s_module = LoadLibraryA(path.c_str());
    if (!s_module) return;
    Bind(s_open, "VXOpenHidDevice");
    Bind(s_openOverlapped, "VXOpenOverlappedHidDevice");
    Bind(s_close, "VXCloseDevice");
    Bind(s_read, "VXGetHidInReport");
  }
  template <typename Proc>
  static void Bind(Proc& proc, const char* name) {
    // Through the generic function pointer type, as the compiler wants it.
    proc = reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(s_module, name)));
  }
  static void TearDownTestSuite() {
    if (s_module) FreeLibrary(s_module);
    s_module = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(s_module, nullptr) << "VXUSB.dll did not load, error " << GetLastError();
    ASSERT_TRUE(s_open && s_openOverlapped && s_close && s_read);
    m_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(m_event, nullptr);
  }
  void TearDown() override {
    if (m_event) CloseHandle(m_event);
  }

  // VXGetHidInReport on a worker thread, so that a call that should not wait
  // fails the test instead of hanging it. -1 when it is still waiting.
  static int ReadWithin(DWORD ms, HANDLE device, HANDLE event, void* buffer, DWORD length) {
    struct Call {
      HANDLE device, event;
      void* buffer;
      DWORD length;
      int result;
    };
    auto* call = new Call{device, event, buffer, length, -1};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID param) -> DWORD {
          auto* c = static_cast<Call*>(param);
          c->result = s_read(c->device, c->event, c->buffer, c->length);
          return 0;
        },
        call, 0, nullptr);
    if (!thread) {
      delete call;
      return -2;
    }
    if (WaitForSingleObject(thread, ms) != WAIT_OBJECT_0) {
      CloseHandle(thread);
      return -1;  // the thread still uses call and buffer: leave them to process exit
    }
    CloseHandle(thread);
    int result = call->result;
    delete call;
    return result;
  }

  static HMODULE s_module;
  static VXOpenHidDeviceProc s_open;
  static VXOpenOverlappedHidDeviceProc s_openOverlapped;
  static VXCloseDeviceProc s_close;
  static VXGetHidInReportProc s_read;
  HANDLE m_event = nullptr;
};

HMODULE VxusbDllTest::s_module = nullptr;
VXOpenHidDeviceProc VxusbDllTest::s_open = nullptr;
VXOpenOverlappedHidDeviceProc VxusbDllTest::s_openOverlapped = nullptr;
VXCloseDeviceProc VxusbDllTest::s_close = nullptr;
VXGetHidInReportProc VxusbDllTest::s_read = nullptr;

// Both ends of a message pipe: one message is one report, as a HID device
// delivers them. The server end plays the device.
struct CPipePair {
  explicit CPipePair(bool overlapped) {
    static int serial = 0;
    std::string name = "\\\\.\\pipe\\quib-vxusb-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(++serial);
    device = CreateNamedPipeA(
        name.c_str(), PIPE_ACCESS_DUPLEX | (overlapped ? FILE_FLAG_OVERLAPPED : 0),
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    peer = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
  }
  ~CPipePair() {
    ClosePeer();
    if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
  }
  bool Ok() const { return device != INVALID_HANDLE_VALUE && peer != INVALID_HANDLE_VALUE; }
  bool Send(const std::vector<unsigned char>& report) {
    DWORD written = 0;
    return WriteFile(peer, report.data(), static_cast<DWORD>(report.size()), &written, nullptr) &&
           written == report.size();
  }
  void ClosePeer() {
    if (peer != INVALID_HANDLE_VALUE) CloseHandle(peer);
    peer = INVALID_HANDLE_VALUE;
  }
  HANDLE device = INVALID_HANDLE_VALUE;
  HANDLE peer = INVALID_HANDLE_VALUE;
};

const std::vector<unsigned char> Report = {0x05, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};

TEST_F(VxusbDllTest, ExportsExactlyTheFourNames) {
  auto* base = reinterpret_cast<const unsigned char*>(s_module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& entry =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(entry.VirtualAddress, 0u);
  auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
  auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  std::vector<std::string> found;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i)
    found.push_back(reinterpret_cast<const char*>(base + names[i]));
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"VXCloseDevice", "VXGetHidInReport", "VXOpenHidDevice",
                                             "VXOpenOverlappedHidDevice"}));
  EXPECT_EQ(exports->NumberOfFunctions, 4u);  // no ordinal-only extras
}

TEST_F(VxusbDllTest, OpensAnswerNullWithoutTheDevice) {
  // No device here declares both feature report ids.
  EXPECT_EQ(s_open(), nullptr);
  EXPECT_EQ(s_openOverlapped(), nullptr);
}

TEST_F(VxusbDllTest, CloseIgnoresNullAndClosesAHandle) {
  SetLastError(0x1234);
  s_close(nullptr);
  EXPECT_EQ(GetLastError(), 0x1234u);  // CloseHandle(NULL) would have set an error

  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  DWORD flags = 0;
  ASSERT_TRUE(GetHandleInformation(event, &flags));
  s_close(event);
  EXPECT_FALSE(GetHandleInformation(event, &flags));
}

TEST_F(VxusbDllTest, ReadsAWaitingReportOnBothKindsOfHandle) {
  for (bool overlapped : {true, false}) {
    SCOPED_TRACE(overlapped ? "overlapped" : "synchronous");
    CPipePair pipe(overlapped);
    ASSERT_TRUE(pipe.Ok());
    ASSERT_TRUE(pipe.Send(Report));
    std::vector<unsigned char> buffer(Report.size(), 0xCC);
    SetEvent(m_event);  // a stale signal from an earlier read must not matter
    EXPECT_EQ(ReadWithin(10000, pipe.device, m_event, buffer.data(), Report.size()), 1);
    EXPECT_EQ(buffer, Report);
  }
}

TEST_F(VxusbDllTest, WaitsForAReportThatArrivesLater) {
  CPipePair pipe(true);
  ASSERT_TRUE(pipe.Ok());
  std::thread sender([&pipe] {
    Sleep(300);
    pipe.Send(Report);
  });
  std::vector<unsigned char> buffer(Report.size(), 0xCC);
  DWORD start = GetTickCount();
  EXPECT_EQ(ReadWithin(10000, pipe.device, m_event, buffer.data(), Report.size()), 1);
  EXPECT_GE(GetTickCount() - start, 200u);
  sender.join();
  EXPECT_EQ(buffer, Report);
}

TEST_F(VxusbDllTest, ReadsFromTheStartOfAFile) {
  char dir[MAX_PATH], path[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, dir), 0u);
  ASSERT_NE(GetTempFileNameA(dir, "vxu", 0, path), 0u);
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_FLAG_OVERLAPPED | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  OVERLAPPED at = {};
  at.hEvent = m_event;
  DWORD written = 0;
  if (!WriteFile(file, "ABCDEFGH", 8, nullptr, &at)) {
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  }
  ASSERT_TRUE(GetOverlappedResult(file, &at, &written, TRUE));
  ASSERT_EQ(written, 8u);

  // Every read starts at offset 0, like reports from a device.
  for (int round = 0; round < 2; ++round) {
    char buffer[4] = {};
    EXPECT_EQ(ReadWithin(10000, file, m_event, buffer, 4), 1);
    EXPECT_EQ(std::string(buffer, 4), "ABCD");
  }
  CloseHandle(file);
  EXPECT_EQ(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES);
}

TEST_F(VxusbDllTest, ReadThatCannotStartAnswersZeroAtOnce) {
  char buffer[8];
  // No read access.
  CPipePair pipe(true);
  ASSERT_TRUE(pipe.Ok());
  char dir[MAX_PATH], path[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, dir), 0u);
  ASSERT_NE(GetTempFileNameA(dir, "vxu", 0, path), 0u);
  HANDLE writeOnly = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_FLAG_OVERLAPPED | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(writeOnly, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadWithin(5000, writeOnly, m_event, buffer, sizeof(buffer)), 0);
  CloseHandle(writeOnly);
  // Not a handle at all.
  EXPECT_EQ(ReadWithin(5000, INVALID_HANDLE_VALUE, m_event, buffer, sizeof(buffer)), 0);
  // The other end is gone (the device was removed).
  pipe.ClosePeer();
  EXPECT_EQ(ReadWithin(5000, pipe.device, m_event, buffer, sizeof(buffer)), 0);
}

TEST_F(VxusbDllTest, ReadThatFailsWhilePendingAnswersZero) {
  CPipePair pipe(true);
  ASSERT_TRUE(pipe.Ok());
  std::thread remover([&pipe] {
    Sleep(300);
    pipe.ClosePeer();
  });
  char buffer[8];
  EXPECT_EQ(ReadWithin(10000, pipe.device, m_event, buffer, sizeof(buffer)), 0);
  remover.join();
}

TEST_F(VxusbDllTest, FailedWaitLeavesNoReadBehind) {
  // Without an event the wait fails while the read is pending. The read must
  // be over when the call returns: the report that comes later is neither
  // written into the old buffer nor lost.
  CPipePair pipe(true);
  ASSERT_TRUE(pipe.Ok());
  std::vector<unsigned char> buffer(Report.size(), 0xCC);
  // On this thread: a read left pending by a thread that ends would be
  // cancelled with it and hide the fault.
  EXPECT_EQ(s_read(pipe.device, nullptr, buffer.data(), Report.size()), 0);
  ASSERT_TRUE(pipe.Send(Report));
  Sleep(100);
  EXPECT_EQ(buffer, std::vector<unsigned char>(Report.size(), 0xCC));
  std::vector<unsigned char> later(Report.size(), 0);
  EXPECT_EQ(ReadWithin(10000, pipe.device, m_event, later.data(), Report.size()), 1);
  EXPECT_EQ(later, Report);
}

}  // namespace
