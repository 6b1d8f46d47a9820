// The four exports of VXUSB.dll. The library keeps no state: every open
// searches the devices anew.
#include "hidlib/vxusb.h"

#include "hidlib/hid_port_win.h"
#include "hidlib/hid_search.h"

namespace {

HANDLE OpenMatchingDevice(bool overlapped) {
  CWinHidPort port;
  return reinterpret_cast<HANDLE>(FindMatchingDevice(port, overlapped));
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}

extern "C" HANDLE __cdecl VXOpenHidDevice(void) {
  return OpenMatchingDevice(false);
}

extern "C" HANDLE __cdecl VXOpenOverlappedHidDevice(void) {
  return OpenMatchingDevice(true);
}

extern "C" void __cdecl VXCloseDevice(HANDLE device) {
  if (device) CloseHandle(device);
}

extern "C" int __cdecl VXGetHidInReport(HANDLE device, HANDLE event, void* buffer, DWORD length) {
  ResetEvent(event);
  OVERLAPPED overlapped = {};
  overlapped.hEvent = event;
  if (!ReadFile(device, buffer, length, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING)
    return 0;
  DWORD read = 0;
  if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0 &&
      GetOverlappedResult(device, &overlapped, &read, FALSE))
    return 1;
  // The read failed, or the wait ended without it (a bad event, or one set
  // by someone else). The system must be done with the block on our stack and
  // with the caller's buffer before we return.
  if (!HasOverlappedIoCompleted(&overlapped)) {
    CancelIo(device);
    while (!HasOverlappedIoCompleted(&overlapped)) Sleep(1);
  }
  return 0;
}
