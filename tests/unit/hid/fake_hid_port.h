// A scripted set of HID devices behind IHidPort that counts every handle,
// preparsed-data block, device information set and memory block it gives out.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "hidlib/hid_port.h"

struct FakeHidDevice {
  std::string path;
  std::vector<std::uint8_t> featureReportIds;
  bool enumError = false;  // enumerating this index fails with an error other than the end
  bool detailFails = false;
  bool probeOpenFails = false;  // e.g. held by another program
  bool preparsedFails = false;
  bool attributesFails = false;
  bool capsFails = false;
  bool valueCapsFail = false;
  bool readWriteOpenFails = false;  // e.g. opened exclusively elsewhere
  HidAttributes attributes{0x1234, 0x5678, 0x0100};
};

struct FakeHidOpen {
  std::string path;
  std::uint32_t access;
  HidHandle handle;
};

class CFakeHidPort : public IHidPort {
 public:
  ~CFakeHidPort() override;

  // Scenario.
  std::vector<FakeHidDevice> devices;
  bool infoSetAvailable = true;
  int failAllocation = 0;  // 1-based number of the allocation that fails; 0 never

  // Observations.
  int allocations = 0;
  std::vector<std::size_t> allocationSizes;
  std::vector<FakeHidOpen> opens;
  int infoSetsOpened = 0;
  int misuses = 0;  // unknown or released handles and blocks passed back, short buffers

  std::size_t LiveHandles() const { return m_handles.size(); }
  std::size_t LiveBlocks() const { return m_blocks.size(); }
  std::size_t LivePreparsed() const { return m_preparsed.size(); }
  int LiveInfoSets() const { return m_liveInfoSets; }
  bool IsLive(HidHandle handle) const { return m_handles.count(handle) != 0; }

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

 private:
  const FakeHidDevice* DeviceOf(const HidInterface& iface);
  const FakeHidDevice* DeviceOfHandle(HidHandle handle);
  const FakeHidDevice* DeviceOfPreparsed(HidPreparsedData data);

  std::map<HidHandle, std::size_t> m_handles;  // live handle -> device index
  std::map<void*, std::size_t> m_preparsed;    // live block -> device index
  std::map<void*, std::size_t> m_blocks;       // live memory -> bytes
  HidHandle m_nextHandle = 0x1000;
  int m_liveInfoSets = 0;
  int m_infoSetToken = 0;
};
