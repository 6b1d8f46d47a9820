// The SetupAPI, HID and kernel calls the device search needs, behind an
// interface without Windows types, so the search can be tested natively with
// a fake. CWinHidPort (hid_port_win.h) binds the real functions.
#pragma once

#include <cstddef>
#include <cstdint>

// A file handle as the platform gives it. 0 is null; all bits set is the
// platform's invalid-handle value (what a failed open answers).
using HidHandle = std::uintptr_t;
constexpr HidHandle HidNullHandle = 0;
constexpr HidHandle HidInvalidHandle = ~static_cast<HidHandle>(0);

// Device information set and preparsed data: opaque, null when absent.
using HidDeviceInfoSet = void*;
using HidPreparsedData = void*;

// One enumerated device interface; the port keeps its own data in it.
struct HidInterface {
  alignas(8) unsigned char opaque[48];
};

enum HidEnumResult {
  HidEnumFound = 0,
  HidEnumNoMore = 1,  // index past the last interface
  HidEnumError = 2,   // any other enumeration failure
};

// Access flags of OpenDevice.
enum HidAccess : std::uint32_t {
  HidAccessNone = 0,
  HidAccessRead = 1,
  HidAccessWrite = 2,
  HidAccessOverlapped = 4,
  HidAccessExclusive = 8,  // without it, read and write are shared
};

struct HidAttributes {
  std::uint16_t vendorId;
  std::uint16_t productId;
  std::uint16_t versionNumber;
};

// The part of the device capabilities the search uses.
struct HidCaps {
  std::uint16_t usage;
  std::uint16_t usagePage;
  std::uint16_t inputReportByteLength;
  std::uint16_t outputReportByteLength;
  std::uint16_t featureReportByteLength;
  std::uint16_t numberFeatureValueCaps;
};

// The part of one value capability record the search uses.
struct HidValueCaps {
  std::uint16_t usagePage;
  std::uint8_t reportId;
  std::uint8_t isRange;
  std::uint16_t usageMin;  // the single usage when not a range
  std::uint16_t usageMax;
};

class IHidPort {
 public:
  virtual ~IHidPort() = default;

  // Zero-filled memory; null when there is none. Released with Free.
  virtual void* Allocate(std::size_t bytes) = 0;
  virtual void Free(void* block) = 0;

  // The set of present devices exposing the HID interface; null when the
  // set is not available.
  virtual HidDeviceInfoSet OpenDeviceInfoSet() = 0;
  virtual void CloseDeviceInfoSet(HidDeviceInfoSet set) = 0;
  virtual HidEnumResult EnumInterface(HidDeviceInfoSet set, std::uint32_t index,
                                      HidInterface* iface) = 0;
  // Bytes of the interface detail data, 0 when they cannot be determined.
  virtual std::size_t GetInterfaceDetailSize(HidDeviceInfoSet set, const HidInterface& iface) = 0;
  virtual bool GetInterfaceDetail(HidDeviceInfoSet set, const HidInterface& iface, void* detail,
                                  std::size_t bytes) = 0;
  // The NUL-terminated device path inside detail data filled above.
  virtual const char* DetailDevicePath(const void* detail) = 0;

  // HidInvalidHandle when the open fails.
  virtual HidHandle OpenDevice(const char* path, std::uint32_t access) = 0;
  virtual void CloseDevice(HidHandle handle) = 0;

  // Null when the device gives none.
  virtual HidPreparsedData GetPreparsedData(HidHandle device) = 0;
  virtual void FreePreparsedData(HidPreparsedData data) = 0;
  virtual bool GetAttributes(HidHandle device, HidAttributes* attributes) = 0;
  virtual bool GetCaps(HidPreparsedData data, HidCaps* caps) = 0;
  // Every feature value capability (any usage page, collection and usage).
  // *count holds the room of caps on entry and the records written on return.
  virtual bool GetFeatureValueCaps(HidPreparsedData data, HidValueCaps* caps,
                                   std::uint16_t* count) = 0;
};
