#include "hidlib/hid_port_win.h"

#include <windows.h>
#include <setupapi.h>
// mingw's HID headers lack C linkage.
extern "C" {
#include <hidsdi.h>
}

static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) <= sizeof(HidInterface), "interface data fits");
static_assert(alignof(SP_DEVICE_INTERFACE_DATA) <= alignof(HidInterface), "interface data aligns");

namespace {

HANDLE ToHandle(HidHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

SP_DEVICE_INTERFACE_DATA* InterfaceData(HidInterface* iface) {
  return reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(iface->opaque);
}

SP_DEVICE_INTERFACE_DATA* InterfaceData(const HidInterface& iface) {
  // SetupAPI takes the data as non-const but does not change it.
  return reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(const_cast<unsigned char*>(iface.opaque));
}

}  // namespace

void* CWinHidPort::Allocate(std::size_t bytes) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void CWinHidPort::Free(void* block) {
  HeapFree(GetProcessHeap(), 0, block);
}

HidDeviceInfoSet CWinHidPort::OpenDeviceInfoSet() {
  GUID guid;
  HidD_GetHidGuid(&guid);
  HDEVINFO set =
      SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  return set == INVALID_HANDLE_VALUE ? nullptr : set;
}

void CWinHidPort::CloseDeviceInfoSet(HidDeviceInfoSet set) {
  SetupDiDestroyDeviceInfoList(set);
}

HidEnumResult CWinHidPort::EnumInterface(HidDeviceInfoSet set, std::uint32_t index,
                                         HidInterface* iface) {
  GUID guid;
  HidD_GetHidGuid(&guid);
  SP_DEVICE_INTERFACE_DATA* data = InterfaceData(iface);
  data->cbSize = sizeof(*data);
  if (SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, data)) return HidEnumFound;
  return GetLastError() == ERROR_NO_MORE_ITEMS ? HidEnumNoMore : HidEnumError;
}

std::size_t CWinHidPort::GetInterfaceDetailSize(HidDeviceInfoSet set, const HidInterface& iface) {
  DWORD required = 0;
  // Fails by design (no buffer); only the size is wanted.
  SetupDiGetDeviceInterfaceDetailA(set, InterfaceData(iface), nullptr, 0, &required, nullptr);
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return 0;
  return required;
}

bool CWinHidPort::GetInterfaceDetail(HidDeviceInfoSet set, const HidInterface& iface, void* detail,
                                     std::size_t bytes) {
  if (bytes < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) || bytes > MAXDWORD) return false;
  auto* data = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail);
  data->cbSize = sizeof(*data);
  return SetupDiGetDeviceInterfaceDetailA(set, InterfaceData(iface), data,
                                          static_cast<DWORD>(bytes), nullptr, nullptr) != FALSE;
}

const char* CWinHidPort::DetailDevicePath(const void* detail) {
  return static_cast<const SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail)->DevicePath;
}

HidHandle CWinHidPort::OpenDevice(const char* path, std::uint32_t access) {
  DWORD desired = 0;
  if (access & HidAccessRead) desired |= GENERIC_READ;
  if (access & HidAccessWrite) desired |= GENERIC_WRITE;
  DWORD share = (access & HidAccessExclusive) ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
  DWORD flags = (access & HidAccessOverlapped) ? FILE_FLAG_OVERLAPPED : 0;
  HANDLE handle = CreateFileA(path, desired, share, nullptr, OPEN_EXISTING, flags, nullptr);
  return reinterpret_cast<HidHandle>(handle);
}

void CWinHidPort::CloseDevice(HidHandle handle) {
  CloseHandle(ToHandle(handle));
}

HidPreparsedData CWinHidPort::GetPreparsedData(HidHandle device) {
  PHIDP_PREPARSED_DATA data = nullptr;
  if (!HidD_GetPreparsedData(ToHandle(device), &data)) return nullptr;
  return data;
}

void CWinHidPort::FreePreparsedData(HidPreparsedData data) {
  HidD_FreePreparsedData(static_cast<PHIDP_PREPARSED_DATA>(data));
}

bool CWinHidPort::GetAttributes(HidHandle device, HidAttributes* attributes) {
  HIDD_ATTRIBUTES raw = {};
  raw.Size = sizeof(raw);
  if (!HidD_GetAttributes(ToHandle(device), &raw)) return false;
  attributes->vendorId = raw.VendorID;
  attributes->productId = raw.ProductID;
  attributes->versionNumber = raw.VersionNumber;
  return true;
}

bool CWinHidPort::GetCaps(HidPreparsedData data, HidCaps* caps) {
  HIDP_CAPS raw = {};
  if (HidP_GetCaps(static_cast<PHIDP_PREPARSED_DATA>(data), &raw) != HIDP_STATUS_SUCCESS)
    return false;
  caps->usage = raw.Usage;
  caps->usagePage = raw.UsagePage;
  caps->inputReportByteLength = raw.InputReportByteLength;
  caps->outputReportByteLength = raw.OutputReportByteLength;
  caps->featureReportByteLength = raw.FeatureReportByteLength;
  caps->numberFeatureValueCaps = raw.NumberFeatureValueCaps;
  return true;
}

bool CWinHidPort::GetFeatureValueCaps(HidPreparsedData data, HidValueCaps* caps,
                                      std::uint16_t* count) {
  USHORT length = *count;
  if (!length) return true;
  auto* raw = static_cast<HIDP_VALUE_CAPS*>(Allocate(length * sizeof(HIDP_VALUE_CAPS)));
  if (!raw) return false;
  // Usage page, link collection and usage 0: every value capability.
  bool ok =
      HidP_GetSpecificValueCaps(HidP_Feature, 0, 0, 0, raw, &length,
                                static_cast<PHIDP_PREPARSED_DATA>(data)) == HIDP_STATUS_SUCCESS;
  if (ok) {
    if (length > *count) length = *count;
    for (USHORT i = 0; i < length; ++i) {
      caps[i].usagePage = raw[i].UsagePage;
      caps[i].reportId = raw[i].ReportID;
      caps[i].isRange = raw[i].IsRange ? 1 : 0;
      caps[i].usageMin = raw[i].IsRange ? raw[i].Range.UsageMin : raw[i].NotRange.Usage;
      caps[i].usageMax = raw[i].IsRange ? raw[i].Range.UsageMax : raw[i].NotRange.Usage;
    }
    *count = length;
  }
  Free(raw);
  return ok;
}
