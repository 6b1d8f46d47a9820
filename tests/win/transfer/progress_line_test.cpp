// The transfer dialog's line for a run of several files: the file's place,
// then rate and time left from the bytes sent; a run of one file keeps the
// window as it was.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "core/media/media_item.h"
#include "core/media/upload_list.h"
#include "windows/transfer/transfer_dialog.h"
#include "tests/e2e/driver/driver.h"

namespace {

constexpr int ProgressLineId = 0x5151;

std::string LineText(HWND window) {
  wchar_t wide[256] = {};
  GetWindowTextW(GetDlgItem(window, ProgressLineId), wide, 256);
  char utf8[512] = {};
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
  return utf8;
}

int ClientHeight(HWND window) {
  RECT r{};
  GetClientRect(window, &r);
  return r.bottom - r.top;
}

struct CRunWindow {
  HWND window = nullptr;
  int height = 0;
  bool hasLine = false;
};

// Opens the dialog for the list and runs check on a user thread.
template <typename Check>
std::string WithDialog(CUploadList& list, Check check) {
  CTransferDialog dialog(nullptr);
  dialog.SetUploadList(&list);
  std::string failures;
  std::thread user([&] {
    HWND window = e2e::WaitForWindow("Uploading...", GetCurrentProcessId(), 10000, "#32770");
    if (!window) {
      failures = "no window titled Uploading...";
      return;
    }
    failures = check(dialog, window);
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  });
  dialog.DoModal();
  user.join();
  return failures;
}

TEST(TransferProgressLine, PlaceRateAndTimeLeftForABatchOnly) {
  const std::string dir = e2e::MakeTempDir("progress_line");
  std::vector<std::string> files;
  for (int i = 0; i < 3; ++i) {
    files.push_back(dir + "\\p" + std::to_string(i) + ".jpg");
    ASSERT_TRUE(e2e::WritePicture(files.back(), 800, 600, RGB(40 * i, 90, 200)));
  }

  CUploadList single;
  ASSERT_TRUE(single.AddFile(files[0]));
  int singleHeight = 0;
  EXPECT_EQ(WithDialog(single,
                       [&](CTransferDialog&, HWND window) -> std::string {
                         singleHeight = ClientHeight(window);
                         return GetDlgItem(window, ProgressLineId) ? "a line for one file" : "";
                       }),
            "");

  CUploadList batch;
  for (const std::string& f : files) ASSERT_TRUE(batch.AddFile(f));
  const long long size = batch.GetItems()[2]->GetFileSize();
  ASSERT_GT(size, 1000);
  EXPECT_EQ(WithDialog(
                batch,
                [&](CTransferDialog& dialog, HWND window) -> std::string {
                  std::string failures;
                  if (ClientHeight(window) != singleHeight + 16) failures += "height; ";
                  if (!IsWindowVisible(GetDlgItem(window, ProgressLineId))) failures += "hidden; ";
                  // Files go from the last to the first: item 2 is the first.
                  dialog.GetRunState().index = 2;
                  dialog.GetRun().OnUploadProgress(static_cast<int>(size / 10),
                                                   static_cast<int>(size));
                  if (!e2e::WaitUntil([&] { return LineText(window) == "1 of 3"; }, 5000)) {
                    failures += "place: '" + LineText(window) + "'; ";
                  }
                  // A second and more of sending: rate and time left appear.
                  const std::string dot = "\xC2\xB7";
                  int sent = static_cast<int>(size / 10);
                  const bool settled = e2e::WaitUntil(
                      [&] {
                        sent = std::min(static_cast<int>(size), sent + static_cast<int>(size / 40));
                        dialog.GetRun().OnUploadProgress(sent, static_cast<int>(size));
                        const std::string line = LineText(window);
                        return line.find("1 of 3 " + dot + " ") == 0 &&
                               line.find("/s " + dot + " about ") != std::string::npos &&
                               line.find(" left") != std::string::npos;
                      },
                      10000);
                  if (!settled) failures += "rate: '" + LineText(window) + "'; ";
                  dialog.GetRunState().index = 1;
                  dialog.GetRun().OnUploadProgress(0, static_cast<int>(size));
                  if (!e2e::WaitUntil([&] { return LineText(window).find("2 of 3") == 0; }, 5000)) {
                    failures += "next place: '" + LineText(window) + "'; ";
                  }
                  return failures;
                }),
            "");
  single.RemoveAll();
  batch.RemoveAll();
  for (const std::string& f : files) DeleteFileA(f.c_str());
  RemoveDirectoryA(dir.c_str());
}

}  // namespace
