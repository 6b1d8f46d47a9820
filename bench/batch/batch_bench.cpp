// Large batches, measured side by side in one run:
//  1. all thumbnails of COUNT camera JPEGs (4000 x 3000) made and shown,
//     with and without EXIF previews, against the bare sequential GDI+ load
//     and thumbnail loop on the same files;
//  2. the longest wait of the window's messages while WAIT_COUNT of those
//     files (half with previews) are added in one go, thumbnails in the
//     background against thumbnails made inside AddFile (the list's old way);
//  3. the list's operations at LIST_COUNT small pictures with peak memory and
//     the GDI object count.
//   batch_bench.exe FOLDER [COUNT] [LIST_COUNT] [WAIT_COUNT]
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "adapters/windows_platform.h"
#include "core/media/media_item.h"
#include "windows/upload_list/media_list_ctrl.h"
#include "adapters/thumbnail_maker.h"
#include "windows/common/item_bitmap.h"
#include "core/media/thumbnail_scheduler.h"
#include "bench/bench_pictures.h"
#include "adapters/gdiplus.h"
#include "tests/support/exif_builder.h"
#include "tests/support/gdi_table.h"

using namespace Gdiplus;

namespace {

using bench::BareThumbnail;
using bench::Jpeg;
using bench::Now;
using bench::Write;

// Every thumbnail made by the workers and turned into a bitmap here, as the
// list shows them.
double Pool(const std::vector<std::string>& paths) {
  HANDLE ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const double t0 = Now();
  quib::CThumbnailScheduler pool(
      quib::CThumbnailScheduler::WorkersFor(std::thread::hardware_concurrency()),
      [](const quib::ThumbnailJob& job, quib::ThumbnailResult& result) {
        quib::MakePictureThumbnail(job.path, result);
      },
      [ready] { SetEvent(ready); });
  for (size_t i = 0; i < paths.size(); ++i) pool.Push({i + 1, 0, paths[i]});
  size_t shown = 0;
  while (shown < paths.size()) {
    WaitForSingleObject(ready, 1000);
    for (const quib::ThumbnailResult& r : pool.TakeResults(64)) {
      CBitmap bitmap = ThumbnailBitmap(r.data);
      ++shown;
    }
  }
  const double t = Now() - t0;
  CloseHandle(ready);
  return t;
}

// A list view in a window of this thread, and a probe on another thread
// that sends it a message every 10 ms and keeps the longest wait for the
// answer.
struct CProbe {
  HWND window;
  std::atomic<bool> stop{false};
  std::atomic<long> longestUs{0};
  std::atomic<bool> done{false};
  std::thread thread;
  explicit CProbe(HWND w) : window(w) {
    thread = std::thread([this] {
      while (!stop) {
        const double t0 = Now();
        DWORD_PTR answer = 0;
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &answer);
        const long us = static_cast<long>((Now() - t0) * 1e6);
        if (us > longestUs) longestUs = us;
        Sleep(10);
      }
      done = true;
    });
  }
  // Stops the probe, answering its last message; the longest wait in ms.
  double Finish(void (*pump)()) {
    stop = true;
    while (!done) {
      pump();
      Sleep(1);
    }
    thread.join();
    return longestUs / 1000.0;
  }
};

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

// The list's host passes the list's notifications on, as the program's
// dialog does.
LRESULT CALLBACK HostProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NOTIFY) {
    auto* list = reinterpret_cast<CMediaListCtrl*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    LRESULT result = 0;
    if (list && list->OnReflectedNotify(reinterpret_cast<NMHDR*>(lp), &result)) return result;
  }
  return DefWindowProcA(window, msg, wp, lp);
}

HWND MakeListWindow(HWND& parent, CMediaListCtrl& list) {
  static ATOM host = 0;
  if (!host) {
    WNDCLASSA type{};
    type.lpfnWndProc = HostProc;
    type.lpszClassName = "batch-bench-host";
    type.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    host = RegisterClassA(&type);
  }
  // Shown, as the program's list is: a hidden list view skips much of its
  // work.
  parent = CreateWindowExA(0, "batch-bench-host", "host", WS_POPUP | WS_VISIBLE, 0, 0, 400, 400,
                           nullptr, nullptr, nullptr, nullptr);
  SetWindowLongPtrA(parent, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&list));
  HWND view = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_ICON, 0, 0, 369, 288,
                              parent, reinterpret_cast<HMENU>(1005), nullptr, nullptr);
  list.Attach(view, true);
  list.InitList();
  return view;
}

// Adds the files in one go, then runs messages until every thumbnail is
// shown. Returns the longest message wait in ms; seconds in total.
double LongestWait(const std::vector<std::string>& paths, bool background, double& total) {
  HWND parent = nullptr;
  double longest = 0;
  {
    CUploadList uploads;
    CMediaListCtrl list(uploads);
    MakeListWindow(parent, list);
    uploads.MakeThumbnailsInBackground(background);
    CProbe probe(parent);
    Sleep(50);
    const double t0 = Now();
    for (const std::string& p : paths) uploads.AddFile(p);
    while (uploads.PendingThumbnails() > 0 && Now() - t0 < 600) {
      Pump();
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    total = Now() - t0;
    longest = probe.Finish(Pump);
    uploads.RemoveAll();
  }
  DestroyWindow(parent);
  return longest;
}

double PrivateMb() {
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PagefileUsage / (1024.0 * 1024.0);
}

// GDI objects of this process. GetGuiResources answers nothing under Wine:
// the objects are then counted in the GDI handle table.
long GdiObjects() {
  const long gdi = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
  return gdi > 0 ? gdi : quib_test::CountGdiTableEntries(GetCurrentProcess(), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  quib::InstallWindowsPlatform();
  if (argc < 2) {
    fprintf(stderr, "usage: batch_bench FOLDER [COUNT] [LIST_COUNT] [WAIT_COUNT]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int count = argc > 2 ? atoi(argv[2]) : 100;
  const int listCount = argc > 3 ? atoi(argv[3]) : 10000;
  const int waitCount = argc > 4 ? atoi(argv[4]) : 300;
  const int written = std::max(count, waitCount);
  EnsureGdiplus();
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  CreateDirectoryA(folder.c_str(), nullptr);

  fprintf(stderr, "writing %d + %d pictures of 4000 x 3000...\n", written, written);
  const std::string plain = Jpeg(4000, 3000, 1);
  quib_test::ExifSpec spec;
  spec.pixelX = 4000;
  spec.pixelY = 3000;
  spec.preview = Jpeg(160, 120, 1);
  const std::string withPreview =
      quib_test::InsertAfterStart(plain, quib_test::BuildExifSegment(spec));
  std::vector<std::string> previews, plains;
  for (int i = 0; i < written; ++i) {
    previews.push_back(folder + "\\exif" + std::to_string(i) + ".jpg");
    Write(previews.back(), withPreview);
    plains.push_back(folder + "\\plain" + std::to_string(i) + ".jpg");
    Write(plains.back(), plain);
  }
  BareThumbnail(plains[0]);  // warm up the decoder

  printf("cores %u, workers %d\n", std::thread::hardware_concurrency(),
         quib::CThumbnailScheduler::WorkersFor(std::thread::hardware_concurrency()));
  printf("%-40s %10s %10s %8s\n", "all thumbnails shown", "bare s", "ours s", "ratio");
  for (int e = 1; e >= 0; --e) {
    const std::vector<std::string> paths((e ? previews : plains).begin(),
                                         (e ? previews : plains).begin() + count);
    double t0 = Now();
    for (const std::string& p : paths) BareThumbnail(p);
    const double bare = Now() - t0;
    const double ours = Pool(paths);
    printf("%-40s %10.2f %10.2f %8.3f\n",
           e ? "camera JPEGs with EXIF preview" : "camera JPEGs without preview", bare, ours,
           ours / bare);
  }

  // Half with previews, as a day's outing from two cameras.
  std::vector<std::string> mixed;
  for (int i = 0; i < waitCount; ++i) mixed.push_back(i % 2 ? previews[i] : plains[i]);
  double totalNew = 0;
  double totalOld = 0;
  const double waitNew = LongestWait(mixed, true, totalNew);
  const double waitOld = LongestWait(mixed, false, totalOld);
  printf("%-40s %10s %10s\n",
         ("adding " + std::to_string(waitCount) + " (half with preview)").c_str(), "longest",
         "all shown");
  printf("%-40s %8.0f ms %8.1f s\n", "thumbnails inside AddFile (old)", waitOld, totalOld);
  printf("%-40s %8.0f ms %8.1f s\n", "thumbnails in the background", waitNew, totalNew);

  // The list at thousands of small pictures.
  fprintf(stderr, "writing %d small pictures...\n", listCount);
  const std::string small = Jpeg(64, 48, 5);
  std::vector<std::string> smalls;
  for (int i = 0; i < listCount; ++i) {
    smalls.push_back(folder + "\\s" + std::to_string(i) + ".jpg");
    Write(smalls.back(), small);
  }
  {
    quib::ThumbnailResult one;
    quib::MakePictureThumbnail(smalls[0], one);
    printf("%-40s %10zu bytes\n", "compact thumbnail of one small picture", one.data.bytes.size());
  }
  HWND parent = nullptr;
  CUploadList uploads;
  CMediaListCtrl list(uploads);
  HWND view = MakeListWindow(parent, list);
  uploads.MakeThumbnailsInBackground(true);
  // Memory is sampled while the list works too, for its highest figure.
  std::atomic<bool> sampling{true};
  std::atomic<long> highestKb{0};
  std::thread sampler([&] {
    while (sampling) {
      highestKb = std::max<long>(highestKb, static_cast<long>(PrivateMb() * 1024));
      Sleep(20);
    }
  });
  printf("%-40s %10s %10s %10s %8s\n", "list of small pictures", "seconds", "MB now", "MB highest",
         "GDI");
  auto row = [&](const std::string& what, double seconds) {
    const double now = PrivateMb();
    printf("%-40s %10.2f %10.1f %10.1f %8ld\n", what.c_str(), seconds, now,
           std::max<double>(now, highestKb / 1024.0), GdiObjects());
    fflush(stdout);
  };
  row("(before)", 0);
  double t0 = Now();
  for (const std::string& p : smalls) uploads.AddFile(p);
  Pump();  // back in the message loop, as after a drop
  row("add " + std::to_string(listCount) + " (entries there)", Now() - t0);
  uploads.FinishThumbnails(600000);
  row("add " + std::to_string(listCount) + " (thumbnails shown)", Now() - t0);
  // Every entry's image asked for once, as scrolling through the whole list.
  t0 = Now();
  for (int i = 0; i < list.GetItemCount(); ++i) {
    LVITEMA entry{};
    entry.mask = LVIF_IMAGE;
    entry.iItem = i;
    SendMessageA(view, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&entry));
  }
  row("every entry's image asked once", Now() - t0);
  t0 = Now();
  list.SelectAll();
  Pump();
  row("select all", Now() - t0);
  t0 = Now();
  list.RemoveSelected();
  Pump();
  row("remove all (selected)", Now() - t0);
  for (const std::string& p : smalls) uploads.AddFile(p);
  Pump();
  uploads.FinishThumbnails(600000);
  t0 = Now();
  // A run removes its uploaded entries from the last to the first; the
  // first 500 removals of the full list are timed.
  const int removals = std::min(500, list.GetItemCount());
  for (int i = 0; i < removals; ++i) uploads.RemoveAt(list.GetItemCount() - 1);
  const double removalSeconds = Now() - t0;
  row("remove " + std::to_string(removals) + " one by one, last first", removalSeconds);
  printf("%-40s %10.2f ms\n", "  per removal", removalSeconds * 1000 / std::max(1, removals));
  // As a run does: the uploaded entry is the first one left.
  uploads.RemoveAll();
  for (const std::string& p : smalls) uploads.AddFile(p);
  Pump();
  uploads.FinishThumbnails(600000);
  t0 = Now();
  const int firstRemovals = std::min(100, list.GetItemCount());
  for (int i = 0; i < firstRemovals; ++i) uploads.RemoveAt(0);
  const double firstSeconds = Now() - t0;
  row("remove " + std::to_string(firstRemovals) + " one by one, first first", firstSeconds);
  printf("%-40s %10.2f ms\n", "  per removal", firstSeconds * 1000 / std::max(1, firstRemovals));
  uploads.RemoveAll();
  row("remove all", 0);
  sampling = false;
  sampler.join();
  DestroyWindow(parent);
  return 0;
}
