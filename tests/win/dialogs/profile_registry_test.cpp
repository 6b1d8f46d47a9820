// The profile in the real registry of the test prefix: location, value types,
// defaults, and values that cannot be read as expected.
#include <windows.h>

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/settings/profile.h"
#include "tests/win/dialogs/dialog_harness.h"

using namespace dlgtest;

namespace {

class ProfileRegistry : public testing::Test {
 protected:
  void SetUp() override {
    SetUpApplication();
    ClearProfile();
  }
  void TearDown() override { ClearProfile(); }

  // Stores a value from outside the program.
  void RegAdd(const char* section, const char* name, const char* type, const char* data) {
    const std::string args = std::string("add \"HKCU\\") + kProfileKey + "\\" + section + "\" /v " +
                             name + " /t " + type + " /d \"" + data + "\" /f";
    ASSERT_EQ(RunReg(args), 0) << args;
  }

  IProfile& profile = GetAppProfile();
};

int Decide(int width, int height, int* prompts) {
  return DecideResizeBox(false, false, width, height, GetAppProfile(), [prompts] {
    ++*prompts;
    return false;
  });
}

TEST_F(ProfileRegistry, EmptyProfileReadsDefaultsAndCreatesNothing) {
  EXPECT_EQ(ReadUsername(profile), "");
  EXPECT_EQ(ReadPassword(profile), "");
  EXPECT_TRUE(ReadAskFolder(profile));
  EXPECT_EQ(ReadAskResize(profile), 1);
  EXPECT_EQ(ReadResizeImage(profile), 3);
  EXPECT_EQ(ReadImagePath(profile), "");
  // Reading leaves no trace in the registry.
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, kProfileKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  if (key) RegCloseKey(key);
}

TEST_F(ProfileRegistry, ValuesLandAsDwordAndStringUnderTheProgramKey) {
  profile.WriteString(ProfileSectionSettings, ProfileUsername, "alice");
  WritePassword(profile, "pa ss");
  profile.WriteInt(ProfileSectionSettings, ProfileAskFolder, 0);
  profile.WriteInt(ProfileSectionSettings, ProfileAskResize, 0);
  profile.WriteInt(ProfileSectionSettings, ProfileResizeImage, 2);
  profile.WriteString(ProfileSectionPathHistory, ProfileImagePath, "C:\\pics\\a b.jpg");

  auto settings = QuerySection("Settings");
  ASSERT_EQ(settings.size(), 5u);
  EXPECT_EQ(settings["Username"].type, "REG_SZ");
  EXPECT_EQ(settings["Username"].data, "alice");
  // The password alone is binary, protected for this Windows user.
  EXPECT_EQ(settings["Password"].type, "REG_BINARY");
  EXPECT_FALSE(ShowsSecret(settings["Password"], "pa ss")) << settings["Password"].data;
  EXPECT_EQ(settings["AskFolder"].type, "REG_DWORD");
  EXPECT_EQ(settings["AskFolder"].data, "0x0");
  EXPECT_EQ(settings["AskResize"].type, "REG_DWORD");
  EXPECT_EQ(settings["AskResize"].data, "0x0");
  EXPECT_EQ(settings["ResizeImage"].type, "REG_DWORD");
  EXPECT_EQ(settings["ResizeImage"].data, "0x2");
  auto history = QuerySection("PathHistory");
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history["ImagePath"].type, "REG_SZ");
  EXPECT_EQ(history["ImagePath"].data, "C:\\pics\\a b.jpg");

  // And they read back at once, nothing cached.
  EXPECT_EQ(ReadUsername(profile), "alice");
  EXPECT_EQ(ReadPassword(profile), "pa ss");
  EXPECT_FALSE(ReadAskFolder(profile));
  EXPECT_EQ(ReadResizeImage(profile), 2);
  EXPECT_EQ(ReadImagePath(profile), "C:\\pics\\a b.jpg");
  profile.WriteInt(ProfileSectionSettings, ProfileResizeImage, 1);
  EXPECT_EQ(ReadResizeImage(profile), 1);
}

// Texts are kept in UTF-16: every character survives, and an earlier
// version, which reads the ANSI form, reads the same name.
TEST_F(ProfileRegistry, TextIsStoredAsTypedInTheAnsiCodePage) {
  // "Jürgen  " with its trailing blanks, in UTF-8.
  const std::string name = "J\xC3\xBCrgen  ";
  const std::string big(70000, 'x');
  profile.WriteString(ProfileSectionSettings, ProfileUsername, name);
  WritePassword(profile, big);
  EXPECT_EQ(ReadUsername(profile), name);
  EXPECT_EQ(ReadPassword(profile), big);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(kProfileKey) + "\\Settings").c_str(), 0,
                          KEY_READ, &key),
            ERROR_SUCCESS);
  char raw[32] = {};
  DWORD size = sizeof raw;
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Username", nullptr, &type, reinterpret_cast<BYTE*>(raw), &size),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::string(raw), "J\xFCrgen  ");  // as code page 1252 spells it
  // A name the code page cannot spell.
  const std::string greek = "\xCE\x96\xCF\x89\xCE\xAE";
  profile.WriteString(ProfileSectionSettings, ProfileUsername, greek);
  EXPECT_EQ(ReadUsername(profile), greek);
}

// The password is protected with the current user's key (the system's data
// protection, so only this user can read it back); a plain text an earlier
// installation stored still reads, and the next save replaces it.
TEST_F(ProfileRegistry, PasswordIsProtectedAndAnOldPlainTextIsReplacedOnSave) {
  RegAdd("Settings", "Username", "REG_SZ", "anna");
  RegAdd("Settings", "Password", "REG_SZ", "old secret");
  EXPECT_EQ(ReadPassword(profile), "old secret");
  EXPECT_EQ(QuerySection("Settings")["Password"].type, "REG_SZ");  // reading changes nothing

  WritePassword(profile, "old secret");
  auto settings = QuerySection("Settings");
  EXPECT_EQ(settings["Password"].type, "REG_BINARY");
  EXPECT_FALSE(ShowsSecret(settings["Password"], "old secret")) << settings["Password"].data;
  EXPECT_EQ(settings["Username"].type, "REG_SZ");
  EXPECT_EQ(settings["Username"].data, "anna");
  EXPECT_EQ(ReadPassword(profile), "old secret");
  std::string unprotected;
  ASSERT_TRUE(UnprotectStoredPassword(unprotected));
  EXPECT_EQ(unprotected, "old secret");

  // Two saves of one password differ (salted), and both read back.
  WritePassword(profile, "old secret");
  EXPECT_NE(QuerySection("Settings")["Password"].data, settings["Password"].data);
  EXPECT_EQ(ReadPassword(profile), "old secret");

  // An earlier version protected the ANSI text ("gr\xFCn" in code page
  // 1252): it reads as the same password in UTF-8.
  DATA_BLOB clear{4, reinterpret_cast<BYTE*>(const_cast<char*>("gr\xFCn"))};
  DATA_BLOB sealed{};
  ASSERT_TRUE(CryptProtectData(&clear, nullptr, nullptr, nullptr, nullptr, 0, &sealed));
  std::string hex;
  for (DWORD i = 0; i < sealed.cbData; ++i) {
    char two[3];
    snprintf(two, sizeof two, "%02x", sealed.pbData[i]);
    hex += two;
  }
  LocalFree(sealed.pbData);
  RegAdd("Settings", "Password", "REG_BINARY", hex.c_str());
  EXPECT_EQ(ReadPassword(profile), "gr\xC3\xBCn");
  WritePassword(profile, "gr\xC3\xBCn");
  EXPECT_EQ(ReadPassword(profile), "gr\xC3\xBCn");

  // Binary data that is not protected data reads as no password, so the
  // next upload asks for it.
  RegAdd("Settings", "Password", "REG_BINARY", "0102030405060708");
  EXPECT_EQ(ReadPassword(profile), "");
  RegAdd("Settings", "Password", "REG_BINARY", "");
  EXPECT_EQ(ReadPassword(profile), "");
}

TEST_F(ProfileRegistry, WrongTypesReadAsTheDefault) {
  RegAdd("Settings", "ResizeImage", "REG_SZ", "1");
  RegAdd("Settings", "AskFolder", "REG_BINARY", "00000000");
  RegAdd("Settings", "AskResize", "REG_QWORD", "0");
  RegAdd("Settings", "Username", "REG_DWORD", "7");
  RegAdd("Settings", "Password", "REG_MULTI_SZ", "a\\0b");
  RegAdd("PathHistory", "ImagePath", "REG_BINARY", "41424300");
  EXPECT_EQ(ReadResizeImage(profile), 3);
  EXPECT_TRUE(ReadAskFolder(profile));
  EXPECT_EQ(ReadAskResize(profile), 1);
  EXPECT_EQ(ReadUsername(profile), "");
  EXPECT_EQ(ReadPassword(profile), "");
  EXPECT_EQ(ReadImagePath(profile), "");
  // An expandable string is still a string.
  RegAdd("Settings", "Username", "REG_EXPAND_SZ", "bob");
  EXPECT_EQ(ReadUsername(profile), "bob");
}

TEST_F(ProfileRegistry, OddNumbersHaveTheirMeaning) {
  int prompts = 0;
  // "ResizeImage" 7: neither shrunk nor prompted.
  RegAdd("Settings", "ResizeImage", "REG_DWORD", "7");
  EXPECT_EQ(Decide(2000, 1500, &prompts), 0);
  EXPECT_EQ(prompts, 0);
  // 0xFFFFFFFF reads as -1, which is not a size either.
  RegAdd("Settings", "ResizeImage", "REG_DWORD", "0xffffffff");
  EXPECT_EQ(ReadResizeImage(profile), -1);
  EXPECT_EQ(Decide(2000, 1500, &prompts), 0);
  EXPECT_EQ(prompts, 0);
  // "AskResize" 2 suppresses the prompt exactly as 0 does.
  RegAdd("Settings", "ResizeImage", "REG_DWORD", "3");
  RegAdd("Settings", "AskResize", "REG_DWORD", "2");
  EXPECT_EQ(Decide(641, 480, &prompts), 0);
  EXPECT_EQ(prompts, 0);
  RegAdd("Settings", "AskResize", "REG_DWORD", "1");
  EXPECT_EQ(Decide(641, 480, &prompts), 0);
  EXPECT_EQ(prompts, 1);
  // "AskFolder" 5 asks for the album.
  RegAdd("Settings", "AskFolder", "REG_DWORD", "5");
  EXPECT_TRUE(ReadAskFolder(profile));
}

// The decision table against the registry; the prompt answers Cancel.
TEST_F(ProfileRegistry, ShrinkDecisionTable) {
  struct Row {
    int resizeImage;
    int askResize;
    int boxes[5];
    int prompts;
  };
  const int sizes[5][2] = {{640, 480}, {641, 480}, {1000, 700}, {1024, 768}, {1025, 768}};
  const Row rows[] = {
      {1, 1, {0, 640, 640, 640, 640}, 0}, {2, 1, {0, 0, 0, 0, 1024}, 0}, {3, 1, {0, 0, 0, 0, 0}, 4},
      {3, 0, {0, 0, 0, 0, 0}, 0},         {7, 1, {0, 0, 0, 0, 0}, 0},
  };
  for (const Row& row : rows) {
    profile.WriteInt(ProfileSectionSettings, ProfileResizeImage, row.resizeImage);
    profile.WriteInt(ProfileSectionSettings, ProfileAskResize, row.askResize);
    int prompts = 0;
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(Decide(sizes[i][0], sizes[i][1], &prompts), row.boxes[i])
          << "ResizeImage " << row.resizeImage << " at " << sizes[i][0] << "x" << sizes[i][1];
      for (bool video : {true, false}) {
        int never = 0;
        EXPECT_EQ(DecideResizeBox(video, !video, sizes[i][0], sizes[i][1], profile,
                                  [&never] {
                                    ++never;
                                    return true;
                                  }),
                  0);
        EXPECT_EQ(never, 0);
      }
    }
    EXPECT_EQ(prompts, row.prompts) << "ResizeImage " << row.resizeImage;
  }
}

}  // namespace
