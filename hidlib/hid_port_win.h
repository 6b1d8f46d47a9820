// IHidPort over the real SetupAPI, HID and kernel functions.
#pragma once

#include "hidlib/hid_port.h"

class CWinHidPort : public IHidPort {
 public:
  void* Allocate(std::size_t bytes) override;
  void Free(void* block) override;
  HidDeviceInfoSet OpenDeviceInfoSet() override;
  void CloseDeviceInfoSet(HidDeviceInfoSet set) override;
  HidEnumResult EnumInterface(HidDeviceInfoSet set, std::uint32_t index,
                              HidInterface* iface) override;
  std::size_t GetInterfaceDetailSize(HidDeviceInfoSet set, const HidInterface& iface) override;
  bool GetInterfaceDetail(HidDeviceInfoSet set, const HidInterface& iface, void* detail,
                          std::size_t bytes) override;
  const char* DetailDevicePath(const void* detail) override;
  HidHandle OpenDevice(const char* path, std::uint32_t access) override;
  void CloseDevice(HidHandle handle) override;
  HidPreparsedData GetPreparsedData(HidHandle device) override;
  void FreePreparsedData(HidPreparsedData data) override;
  bool GetAttributes(HidHandle device, HidAttributes* attributes) override;
  bool GetCaps(HidPreparsedData data, HidCaps* caps) override;
  bool GetFeatureValueCaps(HidPreparsedData data, HidValueCaps* caps,
                           std::uint16_t* count) override;
};
