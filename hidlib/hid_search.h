// Finding the device among all HID devices by the two feature report ids its
// description declares. Portable: everything platform goes through IHidPort.
#pragma once

#include <cstdint>

#include "hidlib/hid_port.h"

constexpr std::uint8_t FeatureReportIdA = 0x87;
constexpr std::uint8_t FeatureReportIdB = 0x93;

// Room for records at the start of a search; doubled whenever it is full.
constexpr std::uint32_t HidInitialRecordRoom = 8;

// One enumerated device. Plain data so the record array can grow by copying;
// all owned members are released by ReleaseHidDeviceRecord. A zero-filled
// record is empty (an interface that could not be enumerated or probed).
struct HidDeviceRecord {
  char* devicePath;  // owned copy
  HidHandle handle;  // the probe's own handle, opened without read or write access
  std::uint32_t openedForRead;
  std::uint32_t openedForWrite;
  std::uint32_t openedOverlapped;
  std::uint32_t openedExclusive;
  HidPreparsedData preparsedData;
  HidCaps caps;
  HidAttributes attributes;
  // Only the feature value capabilities decide the match; the other report
  // layouts are never read, so they are not built.
  HidValueCaps* featureValueCaps;  // owned
  std::uint16_t featureValueCapsCount;
};

enum HidProbeResult {
  HidProbeOk = 0,
  HidProbeUnavailable = 1,  // the device could not be opened or read; record left empty
  HidProbeNoMemory = 2,
};

void ReleaseHidDeviceRecord(IHidPort& port, HidDeviceRecord* record);

// The records of one search; releases every record and the array itself.
class CHidDeviceList {
 public:
  explicit CHidDeviceList(IHidPort& port) : m_port(port) {}
  ~CHidDeviceList();
  CHidDeviceList(const CHidDeviceList&) = delete;
  CHidDeviceList& operator=(const CHidDeviceList&) = delete;

  std::uint32_t Count() const { return m_count; }
  const HidDeviceRecord& operator[](std::uint32_t i) const { return m_records[i]; }

  // Makes room for the record at index (doubling); false when out of memory.
  bool Reserve(std::uint32_t index);
  HidDeviceRecord* At(std::uint32_t index) { return &m_records[index]; }
  void SetCount(std::uint32_t count) { m_count = count; }
  void Release();

 private:
  IHidPort& m_port;
  HidDeviceRecord* m_records = nullptr;
  std::uint32_t m_room = 0;
  std::uint32_t m_count = 0;  // records that may own something
};

// Probes the device at path into the empty record. On any result other than
// HidProbeOk the record is left empty.
HidProbeResult ProbeHidDevice(IHidPort& port, const char* path, HidDeviceRecord* record);

// Fills list with one record per interface index. False when the search
// failed (no device information set, out of memory, unreadable interface
// detail); the list is then empty. A device that cannot be probed is skipped.
bool EnumerateHidDevices(IHidPort& port, CHidDeviceList& list);

// The first device at which both feature report ids have been seen (counting
// the devices before it), opened for reading and writing. HidNullHandle when
// the search failed or nothing matched, HidInvalidHandle when the match could
// not be opened.
HidHandle FindMatchingDevice(IHidPort& port, bool overlapped);
