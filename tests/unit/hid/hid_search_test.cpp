// The device search against scripted devices: which device is opened and how,
// what a failure answers, and that every handle, preparsed-data block, device
// information set and memory block of a search is given back on every path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hidlib/hid_search.h"
#include "tests/unit/hid/fake_hid_port.h"

namespace {

std::vector<FakeHidDevice> Devices(const std::vector<std::vector<std::uint8_t>>& ids) {
  std::vector<FakeHidDevice> devices;
  for (const auto& reportIds : ids) {
    FakeHidDevice device;
    device.path = "\\\\?\\hid#vid_1234&pid_5678&mi_0" + std::to_string(devices.size()) +
                  "#7&1f&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    device.featureReportIds = reportIds;
    devices.push_back(device);
  }
  return devices;
}

// Everything of the search is released; only the handle it returned is open.
void ExpectReleased(const CFakeHidPort& port, HidHandle returned) {
  EXPECT_EQ(port.misuses, 0);
  EXPECT_EQ(port.LiveBlocks(), 0u);
  EXPECT_EQ(port.LivePreparsed(), 0u);
  EXPECT_EQ(port.LiveInfoSets(), 0);
  bool open = returned != HidNullHandle && returned != HidInvalidHandle;
  EXPECT_EQ(port.LiveHandles(), open ? 1u : 0u);
  if (open) {
    EXPECT_TRUE(port.IsLive(returned));
  }
}

// The read-write open of the search, if it made one.
const FakeHidOpen* ReadWriteOpen(const CFakeHidPort& port) {
  const FakeHidOpen* found = nullptr;
  for (const FakeHidOpen& open : port.opens) {
    if (open.access != HidAccessNone) {
      EXPECT_EQ(found, nullptr) << "more than one read-write open";
      found = &open;
    }
  }
  return found;
}

// Expects the device at index to be the one opened and returned, and
// everything else released.
void ExpectOpened(const CFakeHidPort& port, HidHandle handle, std::size_t index,
                  std::uint32_t access) {
  const FakeHidOpen* open = ReadWriteOpen(port);
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->path, port.devices[index].path);
  EXPECT_EQ(open->access, access);
  EXPECT_EQ(handle, open->handle);
  EXPECT_NE(handle, HidNullHandle);
  EXPECT_NE(handle, HidInvalidHandle);
  ExpectReleased(port, handle);
}

class HidSearchTest : public ::testing::Test {
 protected:
  CFakeHidPort port;
};

TEST_F(HidSearchTest, NoDevicesGivesNullForBothOpens) {
  for (bool overlapped : {false, true}) {
    EXPECT_EQ(FindMatchingDevice(port, overlapped), HidNullHandle);
    ExpectReleased(port, HidNullHandle);
  }
  EXPECT_EQ(port.infoSetsOpened, 2);
  EXPECT_TRUE(port.opens.empty());
}

TEST_F(HidSearchTest, DeviceWithBothIdsIsOpenedForReadAndWrite) {
  port.devices = Devices({{0x01, 0x87, 0x05, 0x93}});
  HidHandle handle = FindMatchingDevice(port, false);
  ExpectOpened(port, handle, 0, HidAccessRead | HidAccessWrite);
  // The probe asked for neither read nor write, shared, not overlapped.
  ASSERT_EQ(port.opens.size(), 2u);
  EXPECT_EQ(port.opens[0].access, HidAccessNone);
}

TEST_F(HidSearchTest, OverlappedSearchPassesTheOverlappedFlag) {
  port.devices = Devices({{0x93, 0x87}});
  HidHandle handle = FindMatchingDevice(port, true);
  ExpectOpened(port, handle, 0, HidAccessRead | HidAccessWrite | HidAccessOverlapped);
}

TEST_F(HidSearchTest, MarksAreKeptAcrossDevices) {
  // Composite devices declare the ids on separate interfaces: the device at
  // which the second id is seen is opened, even when a later one has both.
  port.devices = Devices({{0x87}, {0x93}, {0x87, 0x93}});
  ExpectOpened(port, FindMatchingDevice(port, false), 1, HidAccessRead | HidAccessWrite);

  CFakeHidPort reversed;
  reversed.devices = Devices({{0x93}, {0x01}, {0x02}, {0x87}});
  ExpectOpened(reversed, FindMatchingDevice(reversed, false), 3, HidAccessRead | HidAccessWrite);
}

TEST_F(HidSearchTest, NeighbouringAndSingleIdsDoNotMatch) {
  port.devices = Devices({{0x86, 0x88}, {0x92, 0x94, 0x01}, {0x87}, {}, {0x87, 0x87}});
  EXPECT_EQ(FindMatchingDevice(port, false), HidNullHandle);
  EXPECT_EQ(ReadWriteOpen(port), nullptr);
  ExpectReleased(port, HidNullHandle);
}

TEST_F(HidSearchTest, MatchThatCannotBeOpenedGivesInvalidHandleNotNull) {
  port.devices = Devices({{0x10}, {0x87, 0x93}, {0x87, 0x93}});
  port.devices[1].readWriteOpenFails = true;
  for (bool overlapped : {false, true}) {
    EXPECT_EQ(FindMatchingDevice(port, overlapped), HidInvalidHandle);
    ExpectReleased(port, HidInvalidHandle);
  }
}

TEST_F(HidSearchTest, UnavailableDeviceInformationSetGivesNull) {
  port.devices = Devices({{0x87, 0x93}});
  port.infoSetAvailable = false;
  EXPECT_EQ(FindMatchingDevice(port, false), HidNullHandle);
  EXPECT_TRUE(port.opens.empty());
  EXPECT_EQ(port.allocations, 0);
  ExpectReleased(port, HidNullHandle);
}

TEST_F(HidSearchTest, EnumerationErrorsOtherThanTheEndAreSkipped) {
  port.devices = Devices({{0x87, 0x93}, {0x87}, {0x87, 0x93}, {0x93}});
  port.devices[0].enumError = true;
  port.devices[2].enumError = true;
  ExpectOpened(port, FindMatchingDevice(port, false), 3, HidAccessRead | HidAccessWrite);
}

TEST_F(HidSearchTest, UnreadableInterfaceDetailFailsTheSearch) {
  port.devices = Devices({{0x87, 0x93}, {0x01}});
  port.devices[1].detailFails = true;
  EXPECT_EQ(FindMatchingDevice(port, false), HidNullHandle);
  EXPECT_EQ(ReadWriteOpen(port), nullptr);
  ExpectReleased(port, HidNullHandle);
}

TEST(HidSearch, DeviceThatCannotBeProbedIsSkipped) {
  // A locked or unresponsive device elsewhere on the system must not hide
  // the one the caller wants. It contributes no marks either.
  enum Fault { OpenFails, PreparsedFails, AttributesFails, CapsFails };
  for (Fault fault : {OpenFails, PreparsedFails, AttributesFails, CapsFails}) {
    SCOPED_TRACE(fault);
    CFakeHidPort probed;
    probed.devices = Devices({{0x87, 0x93}, {0x87}, {0x93}});
    FakeHidDevice& bad = probed.devices[0];
    bad.probeOpenFails = fault == OpenFails;
    bad.preparsedFails = fault == PreparsedFails;
    bad.attributesFails = fault == AttributesFails;
    bad.capsFails = fault == CapsFails;
    ExpectOpened(probed, FindMatchingDevice(probed, false), 2, HidAccessRead | HidAccessWrite);
  }
}

TEST_F(HidSearchTest, UnreadableValueCapabilitiesOnlyKeepThatDeviceFromMatching) {
  port.devices = Devices({{0x87}, {0x93}, {0x93}});
  port.devices[0].valueCapsFail = true;
  EXPECT_EQ(FindMatchingDevice(port, false), HidNullHandle);
  ExpectReleased(port, HidNullHandle);

  port.devices.push_back(Devices({{}, {}, {}, {0x87}})[3]);
  ExpectOpened(port, FindMatchingDevice(port, false), 3, HidAccessRead | HidAccessWrite);
}

TEST_F(HidSearchTest, RecordsDescribeEachInterfaceIndex) {
  port.devices = Devices({{0x87, 0x10}, {0x93}, {0x93}, {}});
  port.devices[0].attributes = {0x0EEF, 0x0005, 0x0210};
  port.devices[1].enumError = true;
  port.devices[2].probeOpenFails = true;
  {
    CHidDeviceList list(port);
    ASSERT_TRUE(EnumerateHidDevices(port, list));
    ASSERT_EQ(list.Count(), 4u);
    const HidDeviceRecord& first = list[0];
    EXPECT_EQ(std::string(first.devicePath), port.devices[0].path);
    EXPECT_TRUE(port.IsLive(first.handle));
    EXPECT_EQ(
        first.openedForRead + first.openedForWrite + first.openedOverlapped + first.openedExclusive,
        0u);
    EXPECT_NE(first.preparsedData, nullptr);
    EXPECT_EQ(first.attributes.vendorId, 0x0EEF);
    EXPECT_EQ(first.attributes.productId, 0x0005);
    EXPECT_EQ(first.attributes.versionNumber, 0x0210);
    ASSERT_EQ(first.featureValueCapsCount, 2);
    EXPECT_EQ(first.featureValueCaps[0].reportId, 0x87);
    EXPECT_EQ(first.featureValueCaps[1].reportId, 0x10);
    for (std::uint32_t empty : {1u, 2u}) {
      EXPECT_EQ(list[empty].devicePath, nullptr);
      EXPECT_EQ(list[empty].handle, HidNullHandle);
      EXPECT_EQ(list[empty].preparsedData, nullptr);
      EXPECT_EQ(list[empty].featureValueCapsCount, 0);
    }
    EXPECT_EQ(list[3].featureValueCapsCount, 0);
    EXPECT_EQ(list[3].featureValueCaps, nullptr);
    EXPECT_EQ(port.LiveHandles(), 2u);  // probe handles of devices 0 and 3
  }
  ExpectReleased(port, HidNullHandle);
}

TEST_F(HidSearchTest, RecordArrayDoublesAndKeepsEarlierRecords) {
  for (std::size_t n : {7u, 8u, 9u, 16u, 17u, 32u, 33u, 70u}) {
    SCOPED_TRACE(n);
    CFakeHidPort big;
    std::vector<std::vector<std::uint8_t>> ids(n, std::vector<std::uint8_t>{0x01});
    ids.front() = {0x87};  // only a record kept through every growth completes the match
    ids.back() = {0x93};
    big.devices = Devices(ids);
    ExpectOpened(big, FindMatchingDevice(big, false), n - 1, HidAccessRead | HidAccessWrite);

    std::vector<std::size_t> expected;  // room 8, 16, 32 ... until index n fits
    for (std::size_t room = HidInitialRecordRoom;; room *= 2) {
      expected.push_back(room * sizeof(HidDeviceRecord));
      if (room > n) break;
    }
    std::vector<std::size_t> arrays;
    for (std::size_t bytes : big.allocationSizes)
      if (bytes >= HidInitialRecordRoom * sizeof(HidDeviceRecord)) arrays.push_back(bytes);
    EXPECT_EQ(arrays, expected);

    EXPECT_EQ(big.opens.size(), n + 1);  // one probe each, then the match
  }
}

TEST_F(HidSearchTest, EveryAllocationFailureGivesNullAndReleasesEverything) {
  // Ten devices (the record array grows once), an enumeration error and a
  // skipped device on the way, and the match at the end.
  std::vector<std::vector<std::uint8_t>> ids(10, std::vector<std::uint8_t>{0x01, 0x02});
  ids[1] = {0x87};
  ids[9] = {0x93};
  auto scenario = Devices(ids);
  scenario[3].enumError = true;
  scenario[5].probeOpenFails = true;
  scenario[6].featureReportIds.clear();

  port.devices = scenario;
  HidHandle handle = FindMatchingDevice(port, false);
  ExpectOpened(port, handle, 9, HidAccessRead | HidAccessWrite);
  const int total = port.allocations;
  ASSERT_GT(total, 20);

  for (int failing = 1; failing <= total; ++failing) {
    SCOPED_TRACE(failing);
    CFakeHidPort starved;
    starved.devices = scenario;
    starved.failAllocation = failing;
    EXPECT_EQ(FindMatchingDevice(starved, failing % 2 == 0), HidNullHandle);
    EXPECT_EQ(starved.allocations, failing);  // it stops at the first failure
    EXPECT_EQ(ReadWriteOpen(starved), nullptr);
    ExpectReleased(starved, HidNullHandle);
  }
}

}  // namespace
