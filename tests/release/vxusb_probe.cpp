// A 32-bit caller of VXUSB.dll, for the release run of the i686 files:
//   vxusb_probe PATH\VXUSB.dll
// Loads the DLL by full path, binds its four exports by name and calls each as
// a program on a machine without the device would. Prints one line per check
// ("ok ..." or "FAIL ...") and exits with 0 only when every check passed.
// A read of a file with a known content shows that the cdecl calls keep the
// stack and deliver the bytes in the 32-bit build.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "hidlib/vxusb.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok" : "FAIL", what);
  if (!ok) ++failures;
}

template <typename Proc>
Proc Bind(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

int ExportCount(HMODULE module) {
  auto* base = reinterpret_cast<const unsigned char*>(module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& entry =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (!entry.VirtualAddress) return 0;
  auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
  return static_cast<int>(exports->NumberOfNames);
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc != 2) {
    std::printf("usage: vxusb_probe PATH\\VXUSB.dll\n");
    return 2;
  }
  Check(sizeof(void*) == 4, "runs as a 32-bit process");
  HMODULE module = LoadLibraryA(argv[1]);
  Check(module != nullptr, "VXUSB.dll loads");
  if (!module) return 1;

  auto open = Bind<VXOpenHidDeviceProc>(module, "VXOpenHidDevice");
  auto openOverlapped = Bind<VXOpenOverlappedHidDeviceProc>(module, "VXOpenOverlappedHidDevice");
  auto close = Bind<VXCloseDeviceProc>(module, "VXCloseDevice");
  auto read = Bind<VXGetHidInReportProc>(module, "VXGetHidInReport");
  Check(open && openOverlapped && close && read, "the four exports resolve by name");
  Check(ExportCount(module) == 4, "exactly four names are exported");
  if (!(open && openOverlapped && close && read)) return 1;

  // No device here declares both feature report ids.
  Check(open() == nullptr, "VXOpenHidDevice gives NULL without the device");
  Check(openOverlapped() == nullptr, "VXOpenOverlappedHidDevice gives NULL without the device");
  close(nullptr);
  Check(true, "VXCloseDevice(NULL) returns");

  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  unsigned char buffer[8] = {};
  Check(read(INVALID_HANDLE_VALUE, event, buffer, sizeof buffer) == 0,
        "VXGetHidInReport on no device gives 0 at once");

  // A file stands in for a device that delivers one report.
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string path =
      std::string(temp) + "vxusb-probe-" + std::to_string(GetCurrentProcessId()) + ".bin";
  const unsigned char report[8] = {0x05, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(writer, report, sizeof report, &written, nullptr);
  CloseHandle(writer);
  HANDLE device = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  Check(device != INVALID_HANDLE_VALUE, "a stand-in device opens");
  if (device != INVALID_HANDLE_VALUE) {
    Check(read(device, event, buffer, sizeof buffer) == 1 &&
              std::memcmp(buffer, report, sizeof report) == 0,
          "VXGetHidInReport reads a report");
    close(device);
    Check(GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES,
          "VXCloseDevice closes the handle");
  }
  CloseHandle(event);
  FreeLibrary(module);
  std::printf("%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
