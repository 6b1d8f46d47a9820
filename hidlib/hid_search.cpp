#include "hidlib/hid_search.h"

#include <cstring>

namespace {

// Detail data or another block of port memory, freed on every path.
class CPortBlock {
 public:
  CPortBlock(IHidPort& port, std::size_t bytes) : m_port(port), m_block(port.Allocate(bytes)) {}
  ~CPortBlock() {
    if (m_block) m_port.Free(m_block);
  }
  CPortBlock(const CPortBlock&) = delete;
  CPortBlock& operator=(const CPortBlock&) = delete;
  void* Get() const { return m_block; }

 private:
  IHidPort& m_port;
  void* m_block;
};

class CDeviceInfoSet {
 public:
  explicit CDeviceInfoSet(IHidPort& port) : m_port(port), m_set(port.OpenDeviceInfoSet()) {}
  ~CDeviceInfoSet() {
    if (m_set) m_port.CloseDeviceInfoSet(m_set);
  }
  CDeviceInfoSet(const CDeviceInfoSet&) = delete;
  CDeviceInfoSet& operator=(const CDeviceInfoSet&) = delete;
  HidDeviceInfoSet Get() const { return m_set; }

 private:
  IHidPort& m_port;
  HidDeviceInfoSet m_set;
};

bool IsOpen(HidHandle handle) {
  return handle != HidNullHandle && handle != HidInvalidHandle;
}

}  // namespace

void ReleaseHidDeviceRecord(IHidPort& port, HidDeviceRecord* record) {
  if (record->featureValueCaps) port.Free(record->featureValueCaps);
  if (record->preparsedData) port.FreePreparsedData(record->preparsedData);
  if (IsOpen(record->handle)) port.CloseDevice(record->handle);
  if (record->devicePath) port.Free(record->devicePath);
  std::memset(record, 0, sizeof(*record));
}

CHidDeviceList::~CHidDeviceList() {
  Release();
}

void CHidDeviceList::Release() {
  for (std::uint32_t i = 0; i < m_count; ++i) ReleaseHidDeviceRecord(m_port, &m_records[i]);
  if (m_records) m_port.Free(m_records);
  m_records = nullptr;
  m_room = 0;
  m_count = 0;
}

bool CHidDeviceList::Reserve(std::uint32_t index) {
  if (index < m_room) return true;
  std::uint32_t room = m_room ? m_room * 2 : HidInitialRecordRoom;
  if (room <= index || room > SIZE_MAX / sizeof(HidDeviceRecord)) return false;
  auto* grown =
      static_cast<HidDeviceRecord*>(m_port.Allocate(std::size_t{room} * sizeof(HidDeviceRecord)));
  if (!grown) return false;
  // New room comes zero-filled from the port; the records made so far move over.
  if (m_records) {
    std::memcpy(grown, m_records, std::size_t{m_room} * sizeof(HidDeviceRecord));
    m_port.Free(m_records);
  }
  m_records = grown;
  m_room = room;
  return true;
}

HidProbeResult ProbeHidDevice(IHidPort& port, const char* path, HidDeviceRecord* record) {
  std::size_t length = std::strlen(path);
  record->devicePath = static_cast<char*>(port.Allocate(length + 1));
  if (!record->devicePath) return HidProbeNoMemory;
  std::memcpy(record->devicePath, path, length + 1);

  // No read or write access: enough for the descriptors, and it works while
  // another program uses the device.
  HidProbeResult result = HidProbeUnavailable;
  record->handle = port.OpenDevice(path, HidAccessNone);
  if (record->handle != HidInvalidHandle) {
    record->preparsedData = port.GetPreparsedData(record->handle);
    if (record->preparsedData && port.GetAttributes(record->handle, &record->attributes) &&
        port.GetCaps(record->preparsedData, &record->caps)) {
      result = HidProbeOk;
      std::uint16_t count = record->caps.numberFeatureValueCaps;
      if (count) {
        record->featureValueCaps =
            static_cast<HidValueCaps*>(port.Allocate(count * sizeof(HidValueCaps)));
        if (!record->featureValueCaps) {
          result = HidProbeNoMemory;
        } else if (port.GetFeatureValueCaps(record->preparsedData, record->featureValueCaps,
                                            &count)) {
          record->featureValueCapsCount = count <= record->caps.numberFeatureValueCaps
                                              ? count
                                              : record->caps.numberFeatureValueCaps;
        }
        // Unreadable value capabilities leave the count 0: the device simply
        // cannot match.
      }
    }
  }
  if (result != HidProbeOk) ReleaseHidDeviceRecord(port, record);
  return result;
}

bool EnumerateHidDevices(IHidPort& port, CHidDeviceList& list) {
  list.Release();
  CDeviceInfoSet set(port);
  if (!set.Get()) return false;

  for (std::uint32_t index = 0;; ++index) {
    if (!list.Reserve(index)) break;
    // Everything up to here may own something, so a failure below releases it.
    list.SetCount(index + 1);
    HidInterface iface{};
    HidEnumResult found = port.EnumInterface(set.Get(), index, &iface);
    if (found == HidEnumNoMore) {
      list.SetCount(index);
      return true;
    }
    if (found != HidEnumFound) continue;  // leave this record empty

    std::size_t bytes = port.GetInterfaceDetailSize(set.Get(), iface);
    if (!bytes) break;
    CPortBlock detail(port, bytes);
    if (!detail.Get() || !port.GetInterfaceDetail(set.Get(), iface, detail.Get(), bytes)) break;
    // One device that cannot be probed (locked by another program, or not
    // answering) must not hide the others: it is skipped.
    if (ProbeHidDevice(port, port.DetailDevicePath(detail.Get()), list.At(index)) ==
        HidProbeNoMemory)
      break;
  }
  list.Release();
  return false;
}

HidHandle FindMatchingDevice(IHidPort& port, bool overlapped) {
  CHidDeviceList list(port);
  if (!EnumerateHidDevices(port, list)) return HidNullHandle;

  // The marks persist across devices: composite devices declare the two ids
  // on separate interfaces, which enumerate as separate devices.
  bool markA = false;
  bool markB = false;
  for (std::uint32_t i = 0; i < list.Count(); ++i) {
    const HidDeviceRecord& record = list[i];
    for (std::uint16_t c = 0; c < record.featureValueCapsCount; ++c) {
      std::uint8_t id = record.featureValueCaps[c].reportId;
      if (id == FeatureReportIdA) markA = true;
      if (id == FeatureReportIdB) markB = true;
    }
    if (markA && markB) {
      std::uint32_t access = HidAccessRead | HidAccessWrite;
      if (overlapped) access |= HidAccessOverlapped;
      return port.OpenDevice(record.devicePath, access);
    }
  }
  return HidNullHandle;
}
