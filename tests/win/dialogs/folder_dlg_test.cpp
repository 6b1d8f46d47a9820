// The album selection and new album dialogs, driven as a user would.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "windows/album/folder_dlg.h"
#include "windows/album/folder_name_dlg.h"
#include "res/resource.h"
#include "tests/win/dialogs/dialog_harness.h"

using namespace dlgtest;

namespace {

std::vector<std::string> ComboEntries(HWND dlg) {
  HWND combo = GetDlgItem(dlg, IDC_FOLDER_ALBUMS);
  std::vector<std::string> entries;
  const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    char text[256] = {};
    SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    entries.push_back(text);
  }
  return entries;
}

int ComboSelection(HWND dlg) {
  return static_cast<int>(SendMessageA(GetDlgItem(dlg, IDC_FOLDER_ALBUMS), CB_GETCURSEL, 0, 0));
}

bool WaitSelection(HWND dlg, int index) {
  return WaitUntil([&] { return ComboSelection(dlg) == index; }, 5000);
}

// Picks an entry as the user does with the mouse: the selection changes and
// the dialog is told.
void ChooseEntry(HWND dlg, int index) {
  HWND combo = GetDlgItem(dlg, IDC_FOLDER_ALBUMS);
  SendMessageA(combo, CB_SETCURSEL, index, 0);
  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_FOLDER_ALBUMS, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
}

// Switches to another window and back, then waits until the dialog has
// filled its list again (a marker entry put in beforehand is gone).
bool ReactivateAndWaitForRefill(HWND dlg) {
  HWND combo = GetDlgItem(dlg, IDC_FOLDER_ALBUMS);
  const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
  SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("marker"));
  if (!DeactivateAndReactivate(dlg)) return false;
  return WaitUntil([&] { return SendMessageA(combo, CB_GETCOUNT, 0, 0) == count; }, 5000);
}

class FolderDialog : public testing::Test {
 protected:
  void SetUp() override {
    SetUpApplication();
    dialog_.reset();
  }

  // Runs the album dialog (the same object each time) with the user's part.
  INT_PTR Run(const std::function<void(HWND)>& user) {
    return RunDialog(
        [this](HWND owner) {
          if (!dialog_) {
            dialog_ = std::make_unique<CFolderDlg>(owner);
            for (const auto& album : albums_) dialog_->AddAlbum(album.first, album.second);
          }
          return dialog_->DoModal();
        },
        [&user] {
          HWND dlg = WaitDialog("Select album");
          ASSERT_TRUE(dlg);
          user(dlg);
          EXPECT_TRUE(WaitGone(dlg));
        });
  }

  std::vector<std::pair<int, std::string>> albums_ = {{7, "Holiday"}, {3, "Work"}, {12, "Family"}};
  std::unique_ptr<CFolderDlg> dialog_;
};

TEST_F(FolderDialog, ListsAlbumsInOrderWithTheFirstSelected) {
  EXPECT_EQ(Run([](HWND dlg) {
              EXPECT_EQ(ComboEntries(dlg), (std::vector<std::string>{"Holiday", "Work", "Family"}));
              EXPECT_EQ(ComboSelection(dlg), 0);
              EXPECT_EQ(Text(dlg, IDC_FOLDER_LABEL), "Album:");
              EXPECT_EQ(Text(dlg, IDC_FOLDER_NEW), "New album");
              EXPECT_EQ(Text(dlg, IDC_FOLDER_OK), "OK");
              EXPECT_EQ(Text(dlg, IDC_FOLDER_CANCEL), "Cancel");
              EXPECT_EQ(FocusOf(dlg), GetDlgItem(dlg, IDC_FOLDER_ALBUMS));
              EXPECT_TRUE(ShowsWhite(dlg, 3, 3));
              EXPECT_TRUE(ShowsWhiteIn(dlg, IDC_FOLDER_LABEL));
              EXPECT_TRUE(Screenshot(dlg, "dialog-album"));
              Click(dlg, IDC_FOLDER_OK);
            }),
            IDOK);
  EXPECT_EQ(dialog_->GetSelectedAlbumId(), 7);
}

TEST_F(FolderDialog, ChoosingWorkGivesItsId) {
  EXPECT_EQ(Run([](HWND dlg) {
              ChooseEntry(dlg, 1);
              Click(dlg, IDC_FOLDER_OK);
            }),
            IDOK);
  EXPECT_EQ(dialog_->GetSelectedAlbumId(), 3);
}

TEST_F(FolderDialog, EnterIsOk) {
  EXPECT_EQ(Run([](HWND dlg) {
              ChooseEntry(dlg, 1);
              PressKey(dlg, VK_RETURN);
            }),
            IDOK);
  EXPECT_EQ(dialog_->GetSelectedAlbumId(), 3);
}

// The list is filled again on every activation, but the album the user chose
// stays chosen: coming back from another window must not change the album
// that receives the uploads.
TEST_F(FolderDialog, RegainingActivationKeepsTheChosenAlbum) {
  EXPECT_EQ(Run([](HWND dlg) {
              ChooseEntry(dlg, 2);
              EXPECT_TRUE(WaitSelection(dlg, 2));
              EXPECT_TRUE(ReactivateAndWaitForRefill(dlg));
              EXPECT_EQ(ComboEntries(dlg), (std::vector<std::string>{"Holiday", "Work", "Family"}));
              EXPECT_EQ(ComboSelection(dlg), 2);
              ChooseEntry(dlg, 1);
              EXPECT_TRUE(WaitSelection(dlg, 1));
              EXPECT_TRUE(ReactivateAndWaitForRefill(dlg));
              EXPECT_EQ(ComboSelection(dlg), 1);
              Click(dlg, IDC_FOLDER_OK);
            }),
            IDOK);
  EXPECT_EQ(dialog_->GetSelectedAlbumId(), 3);
}

TEST_F(FolderDialog, CancelNewAlbumAndAnEmptyList) {
  EXPECT_EQ(Run([](HWND dlg) { Click(dlg, IDC_FOLDER_CANCEL); }), IDCANCEL);
  EXPECT_EQ(Run([](HWND dlg) { PressKey(dlg, VK_ESCAPE); }), IDCANCEL);
  EXPECT_EQ(Run([](HWND dlg) { Click(dlg, IDC_FOLDER_NEW); }), AlbumDlgNewAlbum);
  // The same object runs again with the same albums.
  EXPECT_EQ(Run([](HWND dlg) {
              EXPECT_EQ(ComboEntries(dlg), (std::vector<std::string>{"Holiday", "Work", "Family"}));
              Click(dlg, IDC_FOLDER_OK);
            }),
            IDOK);

  dialog_.reset();
  albums_.clear();
  EXPECT_EQ(Run([](HWND dlg) {
              EXPECT_TRUE(ComboEntries(dlg).empty());
              EXPECT_EQ(ComboSelection(dlg), CB_ERR);
              Click(dlg, IDC_FOLDER_OK);
            }),
            AlbumDlgNoSelection);
  EXPECT_EQ(Run([](HWND dlg) { Click(dlg, IDC_FOLDER_NEW); }), AlbumDlgNewAlbum);
}

class FolderNameDialog : public testing::Test {
 protected:
  void SetUp() override { SetUpApplication(); }

  INT_PTR Run(const std::function<void(HWND)>& user) {
    return RunDialog(
        [this](HWND owner) {
          CFolderNameDlg dialog(owner);
          const INT_PTR result = dialog.DoModal();
          name_ = dialog.GetAlbumName();
          return result;
        },
        [&user] {
          HWND dlg = WaitDialog("New album");
          ASSERT_TRUE(dlg);
          user(dlg);
          EXPECT_TRUE(WaitGone(dlg));
        });
  }

  std::string name_;
};

TEST_F(FolderNameDialog, RefusesAnEmptyNameAndKeepsBlanks) {
  EXPECT_EQ(Run([](HWND dlg) {
              EXPECT_EQ(Text(dlg, IDC_FOLDERNAME_LABEL), "Albumname:");
              EXPECT_EQ(Text(dlg, IDOK), "OK");
              EXPECT_EQ(Text(dlg, IDCANCEL), "Cancel");
              EXPECT_EQ(FocusOf(dlg), GetDlgItem(dlg, IDC_FOLDERNAME_NAME));
              EXPECT_TRUE(ShowsWhite(dlg, 3, 3));
              EXPECT_TRUE(ShowsWhiteIn(dlg, IDC_FOLDERNAME_LABEL));
              Click(dlg, IDOK);
              HWND box = WaitMessageBox(dlg);
              ASSERT_TRUE(box);
              EXPECT_EQ(MessageBoxText(box), "You did not specify a name for the album.");
              EXPECT_TRUE(HasExclamationIcon(box));
              EXPECT_TRUE(AnswerMessageBox(box));
              EXPECT_TRUE(IsWindow(dlg));
              Type(dlg, IDC_FOLDERNAME_NAME, " Trip 2026 ");
              EXPECT_TRUE(Screenshot(dlg, "dialog-album-name"));
              Click(dlg, IDOK);
            }),
            IDOK);
  EXPECT_EQ(name_, " Trip 2026 ");
}

TEST_F(FolderNameDialog, CancelAndEscape) {
  EXPECT_EQ(Run([](HWND dlg) {
              Type(dlg, IDC_FOLDERNAME_NAME, "Trip");
              Click(dlg, IDCANCEL);
            }),
            IDCANCEL);
  EXPECT_EQ(Run([](HWND dlg) { PressKey(dlg, VK_ESCAPE); }), IDCANCEL);
}

}  // namespace
