#include "tests/unit/hid/fake_hid_port.h"

#include <cstdlib>
#include <cstring>

namespace {

// Detail data as the platform lays it out: a small header, then the path.
constexpr std::size_t DetailHeader = 4;

}  // namespace

CFakeHidPort::~CFakeHidPort() {
  for (auto& block : m_blocks) std::free(block.first);
  for (auto& data : m_preparsed) delete static_cast<int*>(data.first);
}

void* CFakeHidPort::Allocate(std::size_t bytes) {
  ++allocations;
  allocationSizes.push_back(bytes);
  if (allocations == failAllocation) return nullptr;
  void* block = std::calloc(1, bytes ? bytes : 1);
  m_blocks[block] = bytes;
  return block;
}

void CFakeHidPort::Free(void* block) {
  if (!m_blocks.erase(block)) {
    ++misuses;
    return;
  }
  std::free(block);
}

HidDeviceInfoSet CFakeHidPort::OpenDeviceInfoSet() {
  if (!infoSetAvailable) return nullptr;
  ++infoSetsOpened;
  ++m_liveInfoSets;
  return &m_infoSetToken;
}

void CFakeHidPort::CloseDeviceInfoSet(HidDeviceInfoSet set) {
  if (set != &m_infoSetToken || m_liveInfoSets == 0) {
    ++misuses;
    return;
  }
  --m_liveInfoSets;
}

HidEnumResult CFakeHidPort::EnumInterface(HidDeviceInfoSet set, std::uint32_t index,
                                          HidInterface* iface) {
  if (set != &m_infoSetToken || m_liveInfoSets == 0) ++misuses;
  if (index >= devices.size()) return HidEnumNoMore;
  if (devices[index].enumError) return HidEnumError;
  std::memcpy(iface->opaque, &index, sizeof(index));
  return HidEnumFound;
}

const FakeHidDevice* CFakeHidPort::DeviceOf(const HidInterface& iface) {
  std::uint32_t index;
  std::memcpy(&index, iface.opaque, sizeof(index));
  if (index >= devices.size()) {
    ++misuses;
    return nullptr;
  }
  return &devices[index];
}

std::size_t CFakeHidPort::GetInterfaceDetailSize(HidDeviceInfoSet, const HidInterface& iface) {
  const FakeHidDevice* device = DeviceOf(iface);
  return device ? DetailHeader + device->path.size() + 1 : 0;
}

bool CFakeHidPort::GetInterfaceDetail(HidDeviceInfoSet, const HidInterface& iface, void* detail,
                                      std::size_t bytes) {
  const FakeHidDevice* device = DeviceOf(iface);
  if (!device || device->detailFails) return false;
  if (bytes < DetailHeader + device->path.size() + 1 || m_blocks.count(detail) == 0 ||
      m_blocks[detail] < bytes) {
    ++misuses;
    return false;
  }
  std::memcpy(static_cast<char*>(detail) + DetailHeader, device->path.c_str(),
              device->path.size() + 1);
  return true;
}

const char* CFakeHidPort::DetailDevicePath(const void* detail) {
  return static_cast<const char*>(detail) + DetailHeader;
}

HidHandle CFakeHidPort::OpenDevice(const char* path, std::uint32_t access) {
  opens.push_back({path, access, HidInvalidHandle});
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const FakeHidDevice& device = devices[i];
    if (device.path != path) continue;
    bool readWrite = (access & (HidAccessRead | HidAccessWrite)) != 0;
    if (readWrite ? device.readWriteOpenFails : device.probeOpenFails) return HidInvalidHandle;
    HidHandle handle = m_nextHandle;
    m_nextHandle += 4;
    m_handles[handle] = i;
    opens.back().handle = handle;
    return handle;
  }
  return HidInvalidHandle;
}

void CFakeHidPort::CloseDevice(HidHandle handle) {
  if (!m_handles.erase(handle)) ++misuses;
}

const FakeHidDevice* CFakeHidPort::DeviceOfHandle(HidHandle handle) {
  auto it = m_handles.find(handle);
  if (it == m_handles.end()) {
    ++misuses;
    return nullptr;
  }
  return &devices[it->second];
}

const FakeHidDevice* CFakeHidPort::DeviceOfPreparsed(HidPreparsedData data) {
  auto it = m_preparsed.find(data);
  if (it == m_preparsed.end()) {
    ++misuses;
    return nullptr;
  }
  return &devices[it->second];
}

HidPreparsedData CFakeHidPort::GetPreparsedData(HidHandle handle) {
  const FakeHidDevice* device = DeviceOfHandle(handle);
  if (!device || device->preparsedFails) return nullptr;
  void* data = new int(0);
  m_preparsed[data] = static_cast<std::size_t>(device - devices.data());
  return data;
}

void CFakeHidPort::FreePreparsedData(HidPreparsedData data) {
  if (!m_preparsed.erase(data)) {
    ++misuses;
    return;
  }
  delete static_cast<int*>(data);
}

bool CFakeHidPort::GetAttributes(HidHandle handle, HidAttributes* attributes) {
  const FakeHidDevice* device = DeviceOfHandle(handle);
  if (!device || device->attributesFails) return false;
  *attributes = device->attributes;
  return true;
}

bool CFakeHidPort::GetCaps(HidPreparsedData data, HidCaps* caps) {
  const FakeHidDevice* device = DeviceOfPreparsed(data);
  if (!device || device->capsFails) return false;
  *caps = HidCaps{};
  caps->usagePage = 0xFF00;
  caps->featureReportByteLength = 64;
  caps->numberFeatureValueCaps = static_cast<std::uint16_t>(device->featureReportIds.size());
  return true;
}

bool CFakeHidPort::GetFeatureValueCaps(HidPreparsedData data, HidValueCaps* caps,
                                       std::uint16_t* count) {
  const FakeHidDevice* device = DeviceOfPreparsed(data);
  if (!device || device->valueCapsFail) return false;
  if (*count < device->featureReportIds.size()) {
    ++misuses;
    return false;
  }
  for (std::size_t i = 0; i < device->featureReportIds.size(); ++i) {
    caps[i] = HidValueCaps{};
    caps[i].usagePage = 0xFF00;
    caps[i].reportId = device->featureReportIds[i];
    caps[i].usageMin = caps[i].usageMax = static_cast<std::uint16_t>(i + 1);
  }
  *count = static_cast<std::uint16_t>(device->featureReportIds.size());
  return true;
}
