// The login dialog, driven as a user would.
#include <gtest/gtest.h>

#include "core/settings/profile.h"
#include "windows/login/login_dlg.h"
#include "core/settings/memory_profile.h"
#include "res/resource.h"
#include "tests/win/dialogs/dialog_harness.h"

using namespace dlgtest;

namespace {

class LoginDialog : public testing::Test {
 protected:
  void SetUp() override {
    SetUpApplication();
    ClearProfile();
  }
  void TearDown() override { ClearProfile(); }

  static INT_PTR Run(HWND owner) {
    CLoginDlg dialog(owner);
    return dialog.DoModal();
  }
};

TEST_F(LoginDialog, RefusesAnEmptyFieldThenStoresBothAndAsksForTheAlbumAgain) {
  // The user had chosen the public inbox, and one credential is stored.
  GetAppProfile().WriteInt(ProfileSectionSettings, ProfileAskFolder, 0);
  GetAppProfile().WriteString(ProfileSectionSettings, ProfileUsername, "stored");
  const INT_PTR result = RunDialog(Run, [] {
    HWND dlg = WaitDialog("Login data");
    ASSERT_TRUE(dlg);
    EXPECT_EQ(Text(dlg, IDC_LOGIN_USERNAME_LABEL), "Username:");
    EXPECT_EQ(Text(dlg, IDC_LOGIN_PASSWORD_LABEL), "Password:");
    EXPECT_EQ(Text(dlg, IDOK), "OK");
    EXPECT_EQ(Text(dlg, IDCANCEL), "Cancel");
    // Stored values are not shown.
    EXPECT_EQ(Text(dlg, IDC_LOGIN_USERNAME), "");
    EXPECT_EQ(Text(dlg, IDC_LOGIN_PASSWORD), "");
    // The password is masked.
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(dlg, IDC_LOGIN_PASSWORD), GWL_STYLE) & ES_PASSWORD);
    EXPECT_TRUE(ShowsWhite(dlg, 3, 3));
    EXPECT_TRUE(ShowsWhiteIn(dlg, IDC_LOGIN_USERNAME_LABEL));

    Type(dlg, IDC_LOGIN_USERNAME, "alice");
    EXPECT_TRUE(Screenshot(dlg, "dialog-login"));
    Click(dlg, IDOK);
    HWND box = WaitMessageBox(dlg);
    ASSERT_TRUE(box);
    EXPECT_EQ(MessageBoxText(box), "Enter username and password first.");
    EXPECT_TRUE(HasExclamationIcon(box));
    EXPECT_TRUE(AnswerMessageBox(box));
    // Still open, text kept, nothing stored.
    EXPECT_TRUE(IsWindow(dlg));
    EXPECT_EQ(Text(dlg, IDC_LOGIN_USERNAME), "alice");
    EXPECT_EQ(ReadUsername(GetAppProfile()), "stored");
    EXPECT_FALSE(ReadAskFolder(GetAppProfile()));

    // The other way round as well.
    Type(dlg, IDC_LOGIN_USERNAME, "");
    Type(dlg, IDC_LOGIN_PASSWORD, "s3cret");
    Click(dlg, IDOK);
    box = WaitMessageBox(dlg);
    ASSERT_TRUE(box);
    EXPECT_EQ(MessageBoxText(box), "Enter username and password first.");
    EXPECT_TRUE(AnswerMessageBox(box));

    Type(dlg, IDC_LOGIN_USERNAME, "alice");
    Click(dlg, IDOK);
    EXPECT_TRUE(WaitGone(dlg));
  });
  EXPECT_EQ(result, IDOK);
  auto settings = QuerySection("Settings");
  EXPECT_EQ(settings["Username"].type, "REG_SZ");
  EXPECT_EQ(settings["Username"].data, "alice");
  EXPECT_EQ(settings["Password"].type, "REG_BINARY");
  EXPECT_FALSE(ShowsSecret(settings["Password"], "s3cret")) << settings["Password"].data;
  EXPECT_EQ(ReadPassword(GetAppProfile()), "s3cret");
  EXPECT_EQ(settings["AskFolder"].type, "REG_DWORD");
  EXPECT_EQ(settings["AskFolder"].data, "0x1");
}

TEST_F(LoginDialog, CancelAfterARefusedOkStoresNothing) {
  const INT_PTR result = RunDialog(Run, [] {
    HWND dlg = WaitDialog("Login data");
    ASSERT_TRUE(dlg);
    Type(dlg, IDC_LOGIN_USERNAME, "alice");
    Click(dlg, IDOK);
    HWND box = WaitMessageBox(dlg);
    ASSERT_TRUE(box);
    EXPECT_TRUE(AnswerMessageBox(box));
    Type(dlg, IDC_LOGIN_PASSWORD, "s3cret");
    Click(dlg, IDCANCEL);
    EXPECT_TRUE(WaitGone(dlg));
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_TRUE(QuerySection("Settings").empty());
}

TEST_F(LoginDialog, EscapeCancelsAndBlanksCountAsFilled) {
  EXPECT_EQ(RunDialog(Run,
                      [] {
                        HWND dlg = WaitDialog("Login data");
                        ASSERT_TRUE(dlg);
                        Type(dlg, IDC_LOGIN_USERNAME, "alice");
                        Type(dlg, IDC_LOGIN_PASSWORD, "x");
                        PressKey(dlg, VK_ESCAPE);
                        EXPECT_TRUE(WaitGone(dlg));
                      }),
            IDCANCEL);
  EXPECT_TRUE(QuerySection("Settings").empty());

  EXPECT_EQ(RunDialog(Run,
                      [] {
                        HWND dlg = WaitDialog("Login data");
                        ASSERT_TRUE(dlg);
                        Type(dlg, IDC_LOGIN_USERNAME, "   ");
                        Type(dlg, IDC_LOGIN_PASSWORD, " p w ");
                        // Enter in the password field is OK.
                        PressKey(dlg, VK_RETURN);
                        EXPECT_TRUE(WaitGone(dlg));
                      }),
            IDOK);
  EXPECT_EQ(ReadUsername(GetAppProfile()), "   ");
  EXPECT_EQ(ReadPassword(GetAppProfile()), " p w ");
}

// When the system cannot protect the password, the user is told, and the
// dialog still hands over what was typed for the run that asked.
TEST_F(LoginDialog, APasswordThatCannotBeProtectedIsToldAndHandedOver) {
  CMemoryProfile profile;
  profile.WriteString(ProfileSectionSettings, ProfilePassword, "old");
  profile.FailProtectedWrites(true);
  std::string username, password;
  const INT_PTR result = RunDialog(
      [&](HWND owner) {
        CLoginDlg dialog(owner, profile);
        const INT_PTR r = dialog.DoModal();
        username = dialog.GetUsername();
        password = dialog.GetPassword();
        return r;
      },
      [] {
        HWND dlg = WaitDialog("Login data");
        ASSERT_TRUE(dlg);
        Type(dlg, IDC_LOGIN_USERNAME, "alice");
        Type(dlg, IDC_LOGIN_PASSWORD, "s3cret");
        Click(dlg, IDOK);
        HWND box = WaitMessageBox(dlg);
        ASSERT_TRUE(box);
        EXPECT_EQ(MessageBoxText(box), kTextPasswordNotStoredForRun);
        EXPECT_TRUE(AnswerMessageBox(box));
        EXPECT_TRUE(WaitGone(dlg));
      });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(username, "alice");
  EXPECT_EQ(password, "s3cret");
  EXPECT_EQ(ReadUsername(profile), "alice");
  // The old password does not stay beside the new name.
  EXPECT_EQ(ReadPassword(profile), "");
}

}  // namespace
