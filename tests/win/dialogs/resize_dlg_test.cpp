// The resize prompt, driven as a user would, alone and inside the shrink
// decision.
#include <gtest/gtest.h>

#include <functional>

#include "core/settings/profile.h"
#include "windows/resize/resize_dlg.h"
#include "res/resource.h"
#include "tests/win/dialogs/dialog_harness.h"

using namespace dlgtest;

namespace {

class ResizeDialog : public testing::Test {
 protected:
  void SetUp() override {
    SetUpApplication();
    ClearProfile();
  }
  void TearDown() override { ClearProfile(); }

  static INT_PTR Run(const std::function<void(HWND)>& user) {
    return RunDialog(
        [](HWND owner) {
          CResizeDlg dialog(owner);
          return dialog.DoModal();
        },
        [&user] {
          HWND dlg = WaitDialog("Dialog");
          ASSERT_TRUE(dlg);
          user(dlg);
          EXPECT_TRUE(WaitGone(dlg));
        });
  }

  // The shrink decision for one picture, with the real prompt.
  static INT_PTR Decide(int width, int height, const std::function<void(HWND)>& user) {
    return RunDialog(
        [width, height](HWND owner) {
          return static_cast<INT_PTR>(
              DecideResizeBox(false, false, width, height, GetAppProfile(), [owner] {
                CResizeDlg dialog(owner);
                return dialog.DoModal() == IDOK;
              }));
        },
        [&user] {
          HWND dlg = WaitDialog("Dialog");
          ASSERT_TRUE(dlg);
          user(dlg);
          EXPECT_TRUE(WaitGone(dlg));
        });
  }
};

TEST_F(ResizeDialog, StartsAtDontResizeAndOkWritesOnlyTheChoice) {
  // Even with another stored choice, the prompt starts at "Don't resize!".
  GetAppProfile().WriteInt(ProfileSectionSettings, ProfileResizeImage, 1);
  EXPECT_EQ(Run([](HWND dlg) {
              EXPECT_EQ(Text(dlg, IDC_RESIZE_TEXT),
                        "Some of your pictures are very large.\r\nTo save time and storage\r\n"
                        "those picures could be\r\nautomatically resized before upload.");
              EXPECT_EQ(Text(dlg, IDC_RESIZE_SMALL), "small, 640x480 (low-bandwidth)");
              EXPECT_EQ(Text(dlg, IDC_RESIZE_MEDIUM), "medium, 1024x768 (high-bandwidth)");
              EXPECT_EQ(Text(dlg, IDC_RESIZE_NONE), "Don't resize!");
              EXPECT_EQ(Text(dlg, IDC_RESIZE_DONT_ASK), "Don't ask in future.");
              EXPECT_EQ(Text(dlg, IDOK), "OK");
              EXPECT_EQ(Text(dlg, IDCANCEL), "Cancel");
              EXPECT_FALSE(IsChecked(dlg, IDC_RESIZE_SMALL));
              EXPECT_FALSE(IsChecked(dlg, IDC_RESIZE_MEDIUM));
              EXPECT_TRUE(IsChecked(dlg, IDC_RESIZE_NONE));
              EXPECT_FALSE(IsChecked(dlg, IDC_RESIZE_DONT_ASK));
              EXPECT_TRUE(ShowsWhite(dlg, 3, 3));
              EXPECT_TRUE(ShowsWhiteIn(dlg, IDC_RESIZE_SMALL));
              EXPECT_TRUE(ShowsWhiteIn(dlg, IDC_RESIZE_DONT_ASK));
              EXPECT_TRUE(Screenshot(dlg, "dialog-resize"));
              Click(dlg, IDOK);
            }),
            IDOK);
  auto settings = QuerySection("Settings");
  EXPECT_EQ(settings.size(), 1u);
  EXPECT_EQ(settings["ResizeImage"].type, "REG_DWORD");
  EXPECT_EQ(settings["ResizeImage"].data, "0x3");
  EXPECT_EQ(settings.count("AskResize"), 0u);
}

TEST_F(ResizeDialog, EachChoiceAndTheBox) {
  EXPECT_EQ(Run([](HWND dlg) {
              Click(dlg, IDC_RESIZE_SMALL);
              ASSERT_TRUE(WaitUntil([&] { return IsChecked(dlg, IDC_RESIZE_SMALL); }, 5000));
              EXPECT_FALSE(IsChecked(dlg, IDC_RESIZE_NONE));
              Click(dlg, IDOK);
            }),
            IDOK);
  auto settings = QuerySection("Settings");
  EXPECT_EQ(settings["ResizeImage"].data, "0x1");
  EXPECT_EQ(settings.count("AskResize"), 0u);

  EXPECT_EQ(Run([](HWND dlg) {
              Click(dlg, IDC_RESIZE_MEDIUM);
              Click(dlg, IDC_RESIZE_DONT_ASK);
              ASSERT_TRUE(WaitUntil([&] { return IsChecked(dlg, IDC_RESIZE_DONT_ASK); }, 5000));
              Click(dlg, IDOK);
            }),
            IDOK);
  settings = QuerySection("Settings");
  EXPECT_EQ(settings["ResizeImage"].type, "REG_DWORD");
  EXPECT_EQ(settings["ResizeImage"].data, "0x2");
  EXPECT_EQ(settings["AskResize"].type, "REG_DWORD");
  EXPECT_EQ(settings["AskResize"].data, "0x0");
}

TEST_F(ResizeDialog, CancelWritesNothingEvenWithTheBoxTicked) {
  EXPECT_EQ(Run([](HWND dlg) {
              Click(dlg, IDC_RESIZE_SMALL);
              Click(dlg, IDC_RESIZE_DONT_ASK);
              ASSERT_TRUE(WaitUntil([&] { return IsChecked(dlg, IDC_RESIZE_DONT_ASK); }, 5000));
              Click(dlg, IDCANCEL);
            }),
            IDCANCEL);
  EXPECT_EQ(Run([](HWND dlg) { PressKey(dlg, VK_ESCAPE); }), IDCANCEL);
  EXPECT_TRUE(QuerySection("Settings").empty());
}

TEST_F(ResizeDialog, TheAnswerDecidesThePictureAndTheNextOnes) {
  // "Don't resize!": not shrunk, and the next large picture asks again.
  EXPECT_EQ(Decide(641, 480, [](HWND dlg) { Click(dlg, IDOK); }), 0);
  // The small size shrinks this picture into the 640 box ...
  EXPECT_EQ(Decide(641, 480,
                   [](HWND dlg) {
                     Click(dlg, IDC_RESIZE_SMALL);
                     Click(dlg, IDOK);
                   }),
            640);
  // ... and the next one without asking.
  int prompts = 0;
  EXPECT_EQ(DecideResizeBox(false, false, 1025, 768, GetAppProfile(),
                            [&prompts] {
                              ++prompts;
                              return false;
                            }),
            640);
  EXPECT_EQ(prompts, 0);

  // Medium with "Don't ask in future.": 1000 x 700 stays as it is, and the
  // prompt never comes back.
  ClearProfile();
  EXPECT_EQ(Decide(1000, 700,
                   [](HWND dlg) {
                     Click(dlg, IDC_RESIZE_MEDIUM);
                     Click(dlg, IDC_RESIZE_DONT_ASK);
                     Click(dlg, IDOK);
                   }),
            0);
  EXPECT_EQ(ReadResizeImage(GetAppProfile()), 2);
  EXPECT_EQ(ReadAskResize(GetAppProfile()), 0);
  GetAppProfile().WriteInt(ProfileSectionSettings, ProfileResizeImage, 3);
  EXPECT_EQ(DecideResizeBox(false, false, 1025, 768, GetAppProfile(),
                            [&prompts] {
                              ++prompts;
                              return false;
                            }),
            0);
  EXPECT_EQ(prompts, 0);
}

}  // namespace
