/* VXUSB.dll: finds the HID device that declares the feature report ids 0x87
   and 0x93, opens it and reads its input reports. Plain C, cdecl, exported
   under undecorated names; callers may also bind them with GetProcAddress
   using the pointer types below. */
#ifndef VXUSB_H
#define VXUSB_H

#include <windows.h>

#ifdef VXUSB_BUILD
#define VXUSB_API
#else
#define VXUSB_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The device opened for synchronous reading and writing. NULL when the search
   failed or no device matched; INVALID_HANDLE_VALUE when the device was found
   but could not be opened (for example, held exclusively elsewhere). */
VXUSB_API HANDLE __cdecl VXOpenHidDevice(void);

/* The same, opened for overlapped input and output. */
VXUSB_API HANDLE __cdecl VXOpenOverlappedHidDevice(void);

/* Closes a handle from one of the opens; NULL is ignored. */
VXUSB_API void __cdecl VXCloseDevice(HANDLE device);

/* Reads one input report (length bytes, report id first) into buffer, waiting
   without time-out on event, which the call resets first. 1 when the read
   completed, 0 otherwise. */
VXUSB_API int __cdecl VXGetHidInReport(HANDLE device, HANDLE event, void* buffer, DWORD length);

typedef HANDLE(__cdecl* VXOpenHidDeviceProc)(void);
typedef HANDLE(__cdecl* VXOpenOverlappedHidDeviceProc)(void);
typedef void(__cdecl* VXCloseDeviceProc)(HANDLE device);
typedef int(__cdecl* VXGetHidInReportProc)(HANDLE device, HANDLE event, void* buffer, DWORD length);

#ifdef __cplusplus
}
#endif

#endif /* VXUSB_H */
