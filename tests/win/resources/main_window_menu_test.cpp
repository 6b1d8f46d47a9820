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
  std::string item;
  UINT separatorState = 0;
  const DWORD testThread = GetCurrentThreadId();
  std::thread user([&] {
    HWND window = nullptr;
    quibtest::PollUntil(
        [&] { return (window = FindWindowA(nullptr, QUIB_WINDOW_TITLE)) != nullptr; }, 10000, 50,
        quibtest::CWaitNote("the main window to open"));
    if (!window) {
      // Without its window nobody could close the dialog: end its loop.
      PostThreadMessageA(testThread, WM_QUIT, 0, 0);
      return;
    }
    HMENU menu = GetSystemMenu(window, FALSE);
    char text[128] = {};
    GetMenuStringA(menu, IDM_ABOUTBOX, text, sizeof text, MF_BYCOMMAND);
    item = text;
    // The separator stands right before the new item.
    const int count = GetMenuItemCount(menu);
    separatorState = count >= 2 ? GetMenuState(menu, count - 2, MF_BYPOSITION) : 0;
    PostMessageA(window, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(dialog.DoModal(), 0);  // WM_CLOSE ends the main window with 0
  user.join();
  EXPECT_EQ(item, "&Info about quib\xAE-uploader...");
  EXPECT_TRUE(separatorState & MF_SEPARATOR);
}
