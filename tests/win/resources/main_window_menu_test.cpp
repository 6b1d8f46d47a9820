// The main window in-process: what can only be read from inside the program
// (its system menu belongs to the process that made it).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "program/uploader_app.h"
#include "windows/main/uploader_dlg.h"
#include "res/resource.h"
#include "tests/win/support/wait_note.h"

TEST(MainWindowMenu, SystemMenuOffersTheAboutBox) {
  CUploaderDlg dialog;
  std::wstring item;
  UINT separatorState = 0;
  const DWORD testThread = GetCurrentThreadId();
  std::thread user([&] {
    HWND window = nullptr;
    quibtest::PollUntil(
        [&] { return (window = FindWindowW(nullptr, QUIB_WINDOW_TITLE_WIDE)) != nullptr; }, 10000,
        50, quibtest::CWaitNote("the main window to open"));
    if (!window) {
      // Without its window nobody could close the dialog: end its loop.
      PostThreadMessageA(testThread, WM_QUIT, 0, 0);
      return;
    }
    HMENU menu = GetSystemMenu(window, FALSE);
    wchar_t text[128] = {};
    GetMenuStringW(menu, IDM_ABOUTBOX, text, 128, MF_BYCOMMAND);
    item = text;
    // The separator stands right before the new item.
    const int count = GetMenuItemCount(menu);
    separatorState = count >= 2 ? GetMenuState(menu, count - 2, MF_BYPOSITION) : 0;
    PostMessageA(window, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(dialog.DoModal(), 0);  // WM_CLOSE ends the main window with 0
  user.join();
  EXPECT_EQ(item, L"&Info about quib\u00AE-uploader...");
  EXPECT_TRUE(separatorState & MF_SEPARATOR);
}
