// Ten thousand small pictures in the list of the real program: the GDI
// objects of the process, read from outside, stay far below one per entry
// (a bitmap per entry would take 10,000 of the 10,000 a process may have),
// and selecting all and removing them gives the objects back.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/batch/batch_support.h"
#include "tests/e2e/driver/driver.h"
#include "tests/win/support/watchdog.h"

using namespace e2e;
using namespace batch;

namespace {

constexpr int kFiles = 10000;
// As a second start hands them over: one command line (at most 32,767
// characters) at a time.
constexpr int kChunk = 400;
// The list keeps a fixed image list of 513 images and no bitmap per entry;
// one bitmap per entry would pass this bound many times over.
constexpr long kGdiBound = 2000;

// Wine's type code of a bitmap in its GDI handle table.
constexpr int kBitmapType = 0x09;

long Bitmaps(const ProcessFigures& f) {
  const auto found = f.gdiByType.find(kBitmapType);
  return found == f.gdiByType.end() ? -1 : found->second;
}

void Print(const char* when, const ProcessFigures& f) {
  std::string types;
  for (const auto& t : f.gdiByType) {
    char one[32];
    snprintf(one, sizeof one, " %02x:%ld", t.first, t.second);
    types += one;
  }
  printf(
      "%s: %ld GDI objects (%ld bitmaps; by type%s), %.1f MB private, %.1f MB working set, "
      "%ld handles\n",
      when, f.gdiObjects, Bitmaps(f), types.c_str(),
      static_cast<double>(f.privateBytes) / (1024.0 * 1024.0),
      static_cast<double>(f.workingSet) / (1024.0 * 1024.0), f.handles);
}

TEST(BatchMany, TenThousandEntriesKeepFewGdiObjects) {
  // Writing and adding 10,000 files under Wine takes about two minutes here.
  quibtest::SetTestBound(420);
  const DWORD testStart = GetTickCount();
  const std::string dir = MakeTempDir("m");
  const COLORREF colours[4] = {kRed, kGreen, kBlue, kYellow};
  std::vector<std::string> encodes;
  for (COLORREF c : colours) {
    const std::string path = dir + "\\encode.jpg";
    ASSERT_TRUE(WritePicture(path, 64, 48, c));
    encodes.push_back(ReadBytes(path));
    DeleteFileA(path.c_str());
  }
  std::vector<std::string> paths;
  for (int i = 0; i < kFiles; ++i) {
    char name[16];
    snprintf(name, sizeof name, "%05d.jpg", i);
    paths.push_back(dir + "\\" + name);
    ASSERT_TRUE(WriteBytes(paths.back(), encodes[static_cast<size_t>(i % 4)]));
  }
  const DWORD writtenMs = GetTickCount() - testStart;

  std::unique_ptr<CProgram> program = CProgram::Launch("");
  ASSERT_TRUE(program);
  HWND main = program->WaitMainWindow();
  ASSERT_TRUE(main);
  HWND list = GetDlgItem(main, kList);
  const ProcessFigures empty = ReadProcessFigures(program->Pid());
  ASSERT_TRUE(empty.ok) << empty.how;
  Print("empty list", empty);
  // Figures of a list in use (scroll bar, image list, fonts drawn): what
  // the removal has to come back to.
  ProcessFigures inUse;

  // Figures read along the way; the largest of each kept.
  ProcessFigures peak = empty;
  auto sample = [&] {
    const ProcessFigures now = ReadProcessFigures(program->Pid());
    if (!now.ok) return;
    if (now.gdiObjects > peak.gdiObjects) peak.gdiObjects = now.gdiObjects;
    if (Bitmaps(now) > Bitmaps(peak)) peak.gdiByType[kBitmapType] = Bitmaps(now);
    peak.privateBytes = std::max(peak.privateBytes, now.privateBytes);
    peak.workingSet = std::max(peak.workingSet, now.workingSet);
  };

  const DWORD addStart = GetTickCount();
  DWORD longestChunk = 0;
  for (int first = 0; first < kFiles; first += kChunk) {
    const std::vector<std::string> chunk(paths.begin() + first,
                                         paths.begin() + std::min(first + kChunk, kFiles));
    const DWORD t0 = GetTickCount();
    ASSERT_TRUE(SendFilesToProgram(main, chunk, 30000)) << "files from " << first << " not taken";
    const DWORD took = GetTickCount() - t0;
    longestChunk = std::max(longestChunk, took);
    // How the cost of a hand-over grows with the list.
    if (first % 2000 == 0 || first + kChunk >= kFiles) {
      printf("%d files handed over to a list of %d: %lu ms\n", static_cast<int>(chunk.size()),
             first, static_cast<unsigned long>(took));
    }
    if (first == 0) {
      ASSERT_TRUE(WaitUntil(
          [&] {
            ListEntry e;
            return ReadListEntry(list, kChunk - 1, &e) && e.image > 0;
          },
          60000));
      inUse = ReadProcessFigures(program->Pid());
      Print("400 entries, thumbnails made", inUse);
    }
    if ((first / kChunk) % 5 == 0) sample();
  }
  auto entries = [&] { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); };
  ASSERT_TRUE(WaitUntil([&] { return entries() == kFiles; }, 60000)) << "entries: " << entries();
  const DWORD addedMs = GetTickCount() - addStart;

  // Thumbnails are made in the order the files came: the last one ready
  // means all are; a sample of entries confirms it.
  ListEntry last;
  const bool lastReady = WaitUntil(
      [&] {
        sample();
        return ReadListEntry(list, kFiles - 1, &last) && last.image > 0;
      },
      180000);
  ASSERT_TRUE(lastReady) << "the last thumbnail was not made";
  const DWORD thumbnailsMs = GetTickCount() - addStart;
  int sampledReady = 0, sampled = 0;
  for (int i = 0; i < kFiles; i += 97) {
    ListEntry e;
    ++sampled;
    if (ReadListEntry(list, i, &e) && e.image > 0) ++sampledReady;
  }
  EXPECT_EQ(sampledReady, sampled) << "entries still showing the placeholder";
  const ProcessFigures full = ReadProcessFigures(program->Pid());
  sample();
  Print("10,000 entries, thumbnails made", full);
  Print("peak while adding", peak);
  printf(
      "writing %d files %lu ms; adding them %lu ms (longest hand-over of %d: %lu ms); "
      "all thumbnails %lu ms\n",
      kFiles, static_cast<unsigned long>(writtenMs), static_cast<unsigned long>(addedMs), kChunk,
      static_cast<unsigned long>(longestChunk), static_cast<unsigned long>(thumbnailsMs));
  EXPECT_LT(peak.gdiObjects, kGdiBound);
  EXPECT_LT(full.gdiObjects, kGdiBound);
  printf("read by: %s\n", full.how.c_str());
  EXPECT_GT(full.privateBytes, 0u) << "memory not read: " << full.how;
  // The figure for 10,000 small pictures; one bitmap per entry
  // alone (104 x 78, 32 bits) would take 310 MB.
  EXPECT_LT(peak.privateBytes, 200ull * 1024 * 1024);

  // Ctrl+A typed on the list, then Delete.
  SetForegroundWindow(main);
  PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(40, 40));
  PostMessageA(list, WM_LBUTTONUP, 0, MAKELPARAM(40, 40));
  ASSERT_TRUE(
      WaitUntil([&] { return SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0) == 1; }, 10000));
  const DWORD selectStart = GetTickCount();
  TypeCtrlKey('A');
  ASSERT_TRUE(
      WaitUntil([&] { return SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0) == kFiles; }, 60000))
      << "selected: " << SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0);
  const DWORD selectMs = GetTickCount() - selectStart;
  const DWORD removeStart = GetTickCount();
  PostMessageA(list, WM_KEYDOWN, VK_DELETE, 0x01530001);
  PostMessageA(list, WM_KEYUP, VK_DELETE, 0xC1530001);
  ASSERT_TRUE(WaitUntil([&] { return entries() == 0; }, 120000)) << "entries: " << entries();
  const DWORD removeMs = GetTickCount() - removeStart;
  const ProcessFigures after = ReadProcessFigures(program->Pid());
  Print("all removed", after);
  printf("select all %lu ms, remove all %lu ms\n", static_cast<unsigned long>(selectMs),
         static_cast<unsigned long>(removeMs));
  // Nothing kept for the removed entries: no more objects than the list
  // had in use with 400 entries, give or take a few of the repaints.
  EXPECT_LE(after.gdiObjects, inUse.gdiObjects + 20);
  EXPECT_LE(Bitmaps(after), Bitmaps(inUse) + 5);

  program->Close();
  EXPECT_TRUE(program->WaitExit(10000));
  RemoveTree(dir);
  printf("test took %lu ms\n", static_cast<unsigned long>(GetTickCount() - testStart));
}

}  // namespace
