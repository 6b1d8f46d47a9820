// A day's camera pictures added to the real program by every route at once:
// the command line, the file dialog, a drop and a second start. The window
// answers messages throughout, every file arrives in order, and each shown
// entry ends up with the thumbnail of its own file (from the EXIF preview
// where the file has one, upright where it carries an orientation).
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/batch/batch_support.h"
#include "tests/e2e/driver/driver.h"

using namespace e2e;
using namespace batch;

namespace {

constexpr int kAddFiles = 1002;
// 300 pictures: half on the command line (a card handed over by "Send To"
// or a camera tool), a quarter picked in the file dialog, a quarter dropped.
constexpr int kByCommandLine = 150, kByDialog = 75, kByDrop = 75;
constexpr int kFiles = kByCommandLine + kByDialog + kByDrop;

// Ten kinds of camera file, repeated: half carry an EXIF preview, four are
// the split picture with an orientation tag.
struct Kind {
  COLORREF colour;  // solid pictures; kSplitLeft for the split one
  bool split;
  bool preview;
  int orientation;
};
const Kind kKinds[10] = {
    {kRed, false, false, 0},      {kGreen, false, true, 0},    {kBlue, false, false, 0},
    {kSplitLeft, true, false, 6}, {kSplitLeft, true, true, 6}, {kYellow, false, true, 0},
    {kCyan, false, false, 0},     {kMagenta, false, true, 0},  {kSplitLeft, true, true, 8},
    {kSplitLeft, true, false, 3},
};

// Does the picture in this area show file kind k, as the thumbnail shows it?
// The split picture's left half comes out on top for orientation 6, at the
// bottom for 8, on the right for 3.
bool ShowsKind(Gdiplus::Bitmap& shot, const RECT& area, const Kind& kind, std::string* why) {
  if (!kind.split) {
    const Patch p = Measure(shot, area, kind.colour);
    *why = "pixels of its colour: " + std::to_string(p.count);
    return p.count > 5000;
  }
  const Patch a = Measure(shot, area, kSplitLeft), b = Measure(shot, area, kSplitRight);
  char text[160];
  snprintf(text, sizeof text, "left half %d px at (%.0f,%.0f), right half %d px at (%.0f,%.0f)",
           a.count, a.meanX, a.meanY, b.count, b.meanX, b.meanY);
  *why = text;
  if (a.count < 1500 || b.count < 1500) return false;
  switch (kind.orientation) {
    case 6:
      return a.meanY + 15 < b.meanY && std::fabs(a.meanX - b.meanX) < 8;
    case 8:
      return b.meanY + 15 < a.meanY && std::fabs(a.meanX - b.meanX) < 8;
    case 3:
      return b.meanX + 20 < a.meanX && std::fabs(a.meanY - b.meanY) < 8;
    default:
      return a.meanX + 20 < b.meanX && std::fabs(a.meanY - b.meanY) < 8;
  }
}

int Placeholders(HWND list) {
  int count = 0;
  for (const ListEntry& e : ReadListView(list)) count += e.image == 0;
  return count;
}

TEST(BatchE2e, WindowAnswersAndEveryThumbnailLandsOnItsEntry) {
  StartGdiplus();
  const DWORD testStart = GetTickCount();
  const int tempBefore = CountTempFiles("NEW*.TMP");
  const std::string dir = MakeTempDir("b");
  const std::string routes[3] = {dir + "\\c", dir + "\\d", dir + "\\p"};
  for (const std::string& r : routes) CreateDirectoryA(r.c_str(), nullptr);

  // Each kind encoded once (camera-sized), every file a byte copy of one.
  std::vector<std::string> kindBytes;
  for (const Kind& kind : kKinds) {
    const std::string full = dir + "\\full.jpg", small = dir + "\\preview.jpg";
    if (kind.split) {
      ASSERT_TRUE(WriteSplitJpeg(full, 4000, 3000, kSplitLeft, kSplitRight));
      ASSERT_TRUE(WriteSplitJpeg(small, 160, 120, kSplitLeft, kSplitRight));
    } else {
      ASSERT_TRUE(WritePicture(full, 4000, 3000, kind.colour));
      ASSERT_TRUE(WritePicture(small, 160, 120, kind.colour));
    }
    const std::string jpeg = ReadBytes(full);
    kindBytes.push_back(kind.preview || kind.orientation
                            ? CameraBytes(jpeg, 4000, 3000, kind.orientation,
                                          kind.preview ? ReadBytes(small) : std::string())
                            : jpeg);
    DeleteFileA(full.c_str());
    DeleteFileA(small.c_str());
  }
  std::vector<std::string> paths, expected;
  std::vector<std::string> byRoute[3];
  for (int g = 0; g < kFiles; ++g) {
    const int route = g < kByCommandLine ? 0 : g < kByCommandLine + kByDialog ? 1 : 2;
    char name[16];
    snprintf(name, sizeof name, "%c%03d.jpg", "cdp"[route], g);
    paths.push_back(routes[route] + "\\" + name);
    expected.push_back(name);
    byRoute[route].push_back(paths.back());
    ASSERT_TRUE(WriteBytes(paths.back(), kindBytes[static_cast<size_t>(g % 10)]));
  }
  const std::string forwarded = dir + "\\forwarded.png";
  ASSERT_TRUE(WritePicture(forwarded, 80, 60, RGB(250, 250, 250)));
  expected.push_back("forwarded.png");
  printf("writing %d camera pictures: %lu ms\n", kFiles,
         static_cast<unsigned long>(GetTickCount() - testStart));

  // The file dialog opens where the last picture came from.
  ClearProfile();
  RegSetKeyValueA(HKEY_CURRENT_USER,
                  "Software\\BRAMWELD\\quib-uploader-net\\quibuploader\\PathHistory", "ImagePath",
                  REG_SZ, byRoute[1].front().c_str(),
                  static_cast<DWORD>(byRoute[1].front().size() + 1));

  const std::string args = QuotePaths(byRoute[0]);
  ASSERT_LT(args.size(), 30000u) << "the command line would not fit";
  const DWORD addStart = GetTickCount();
  std::unique_ptr<CProgram> program = CProgram::Launch(args);
  ASSERT_TRUE(program);
  HWND main = program->WaitMainWindow();
  ASSERT_TRUE(main);
  HWND list = GetDlgItem(main, kList);
  CLatencyProbe probe(main);
  auto entries = [&] { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); };
  ASSERT_TRUE(WaitUntil([&] { return entries() == kByCommandLine; }, 60000))
      << "entries from the command line: " << entries();

  // The file dialog, while the command line's thumbnails are being made.
  const DWORD dialogAt = GetTickCount();
  PostClick(main, kAddFiles);
  HWND dialog = WaitForWindow("Select Files", program->Pid(), 30000);
  ASSERT_TRUE(dialog) << "no file dialog";
  HWND view = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        view = FindChildByClass(dialog, "SysListView32");
        return view && SendMessageA(view, LVM_GETITEMCOUNT, 0, 0) == kByDialog;
      },
      60000))
      << "the dialog did not list the " << kByDialog << " files";
  SelectListEntry(view, -1, true);
  ASSERT_EQ(SendMessageA(view, LVM_GETSELECTEDCOUNT, 0, 0), kByDialog);
  const DWORD okAt = GetTickCount();
  PostClick(dialog, IDOK);
  ASSERT_TRUE(WaitWindowGone(dialog, 60000));
  const DWORD goneAt = GetTickCount();
  ASSERT_TRUE(WaitUntil([&] { return entries() == kByCommandLine + kByDialog; }, 60000))
      << "entries after the dialog: " << entries();
  printf("the dialog closed %lu ms after OK; its files were there %lu ms later\n",
         static_cast<unsigned long>(goneAt - okAt),
         static_cast<unsigned long>(GetTickCount() - goneAt));

  // A drop, then a second start forwarding one file.
  const DWORD dropAt = GetTickCount();
  ASSERT_TRUE(DropFiles(list, byRoute[2], 10000)) << "the drop was not taken";
  const DWORD dropMs = GetTickCount() - dropAt;
  ASSERT_TRUE(WaitUntil([&] { return entries() == kFiles; }, 60000))
      << "entries after the drop: " << entries();
  const int pendingAtForward = Placeholders(list);
  const DWORD forwardAt = GetTickCount();
  EXPECT_TRUE(RunToExit(QuotePaths({forwarded}), 30000)) << "the second start did not end";
  ASSERT_TRUE(WaitUntil([&] { return entries() == kFiles + 1; }, 30000))
      << "the forwarded file did not arrive: " << entries();
  const DWORD addedMs = GetTickCount() - addStart;

  // Every file in order: command line, dialog, drop, second start.
  const std::vector<ListEntry> listed = ReadListView(list);
  ASSERT_EQ(listed.size(), expected.size());
  for (size_t i = 0; i < listed.size(); ++i) {
    EXPECT_EQ(listed[i].text, expected[i]) << "entry " << i;
    EXPECT_GE(listed[i].image, 0) << "entry " << i;
  }

  // Every entry shown whole on screen ends up with its own file's picture.
  ListShot shot;
  std::string mismatch;
  int checked = 0;
  const bool shown = WaitUntil(
      [&] {
        if (!ShootList(list, "batch-list", &shot)) return false;
        checked = 0;
        for (int i = 0; i < kFiles; ++i) {
          RECT area{};
          if (!IconInShot(list, i, &area)) continue;
          std::string why;
          if (!ShowsKind(*shot.bitmap, area, kKinds[i % 10], &why)) {
            mismatch = "entry " + std::to_string(i) + ": " + why;
            return false;
          }
          ++checked;
        }
        return checked > 0;
      },
      120000);
  probe.Stop();
  printf(
      "longest message wait while adding %d camera pictures by three routes: %ld ms "
      "(%d probes)\n",
      kFiles, probe.LongestMs(), probe.Asked());
  // The longest wait of each step: whatever the file dialog itself costs
  // apart from what adding costs.
  const DWORD end = GetTickCount();
  printf(
      "longest wait by step (ms): command line %ld, dialog open %ld, dialog OK until "
      "closed %ld, dialog's files added %ld, drop %ld, second start and thumbnails %ld\n",
      probe.LongestBetween(addStart, dialogAt), probe.LongestBetween(dialogAt, okAt),
      probe.LongestBetween(okAt, goneAt), probe.LongestBetween(goneAt, dropAt),
      probe.LongestBetween(dropAt, forwardAt), probe.LongestBetween(forwardAt, end));
  printf("the drop of %d files took %lu ms\n", kByDrop, static_cast<unsigned long>(dropMs));
  printf(
      "all %d entries there after %lu ms; thumbnails still pending when the second start "
      "came: %d; %d shown entries checked\n",
      kFiles + 1, static_cast<unsigned long>(addedMs), pendingAtForward, checked);
  EXPECT_EQ(probe.Unanswered(), 0) << "the window left messages unanswered for 10 s";
  EXPECT_TRUE(shown) << mismatch << " (" << shot.path << ")";
  EXPECT_GE(checked, 6) << "too few entries on screen to check";
  EXPECT_EQ(WaitForMessageBox(program->Pid(), 0), nullptr) << "every picture is readable";

  EndTest(*program, tempBefore, dir, testStart);
}

}  // namespace
