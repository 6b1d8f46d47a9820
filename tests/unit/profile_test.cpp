// The shrink decision against the settings, and the typed readers' defaults.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "core/settings/memory_profile.h"
#include "core/settings/profile.h"

namespace {

struct Size {
  int width;
  int height;
};

const Size kSizes[] = {{640, 480}, {641, 480}, {1000, 700}, {1024, 768}, {1025, 768}};

// What the prompt does when it is shown: its answer, and the "ResizeImage" it
// stores on OK (0: stores nothing).
struct Prompt {
  bool ok;
  int stores;
};

struct Outcome {
  int prompts;  // how often the prompt was shown
  int box;
};

Outcome Decide(CMemoryProfile& profile, Size size, Prompt prompt, bool isVideo = false,
               bool isAudio = false) {
  Outcome out{0, -1};
  out.box = DecideResizeBox(isVideo, isAudio, size.width, size.height, profile, [&] {
    ++out.prompts;
    if (prompt.ok && prompt.stores) {
      profile.WriteInt(ProfileSectionSettings, ProfileResizeImage, prompt.stores);
    }
    return prompt.ok;
  });
  return out;
}

void Store(CMemoryProfile& profile, int resizeImage, int askResize) {
  profile.WriteInt(ProfileSectionSettings, ProfileResizeImage, resizeImage);
  profile.WriteInt(ProfileSectionSettings, ProfileAskResize, askResize);
}

struct Row {
  int resizeImage;
  int askResize;
  Prompt prompt;
  // Expected prompts and box for each of kSizes, in order.
  Outcome expected[5];
};

// One row per setting; the columns are 640x480, 641x480, 1000x700,
// 1024x768 and 1025x768.
const Row kTable[] = {
    {1, 1, {true, 1}, {{0, 0}, {0, 640}, {0, 640}, {0, 640}, {0, 640}}},
    {2, 1, {true, 1}, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 1024}}},
    // Asking: what the user picks decides this very picture.
    {3, 1, {true, 1}, {{0, 0}, {1, 640}, {1, 640}, {1, 640}, {1, 640}}},
    {3, 1, {true, 2}, {{0, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 1024}}},
    {3, 1, {true, 3}, {{0, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}}},
    {3, 1, {false, 0}, {{0, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}}},
    // "AskResize" other than exactly 1 never asks.
    {3, 0, {true, 1}, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
    {3, 2, {true, 1}, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
    // Values outside 1..3 mean "don't resize" and never ask.
    {7, 1, {true, 1}, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
    {0, 1, {true, 1}, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
    {-1, 1, {true, 1}, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
    // A size setting with asking switched off still shrinks.
    {1, 0, {true, 2}, {{0, 0}, {0, 640}, {0, 640}, {0, 640}, {0, 640}}},
    {2, 0, {true, 1}, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 1024}}},
};

TEST(ShrinkDecision, TableForEverySetting) {
  for (const Row& row : kTable) {
    for (int i = 0; i < 5; ++i) {
      CMemoryProfile profile;
      Store(profile, row.resizeImage, row.askResize);
      const Outcome got = Decide(profile, kSizes[i], row.prompt);
      SCOPED_TRACE(testing::Message()
                   << "ResizeImage " << row.resizeImage << " AskResize " << row.askResize
                   << " prompt ok " << row.prompt.ok << " stores " << row.prompt.stores << " size "
                   << kSizes[i].width << "x" << kSizes[i].height);
      EXPECT_EQ(got.prompts, row.expected[i].prompts);
      EXPECT_EQ(got.box, row.expected[i].box);
    }
  }
}

TEST(ShrinkDecision, DefaultsAskForEveryLargePicture) {
  CMemoryProfile profile;
  EXPECT_EQ(Decide(profile, {640, 480}, {true, 3}).prompts, 0);
  // Five large pictures, "Don't resize!" confirmed each time: five prompts.
  int prompts = 0;
  for (int i = 0; i < 5; ++i) {
    const Outcome got = Decide(profile, {2000, 1500}, {true, 3});
    prompts += got.prompts;
    EXPECT_EQ(got.box, 0);
  }
  EXPECT_EQ(prompts, 5);
  // Once the user chose the small size, later pictures shrink without asking.
  EXPECT_EQ(Decide(profile, {2000, 1500}, {true, 1}).box, 640);
  const Outcome later = Decide(profile, {2000, 1500}, {false, 0});
  EXPECT_EQ(later.prompts, 0);
  EXPECT_EQ(later.box, 640);
}

TEST(ShrinkDecision, MoviesAndAudioNever) {
  for (int setting : {1, 2, 3}) {
    for (const Size& size : kSizes) {
      for (bool video : {true, false}) {
        CMemoryProfile profile;
        Store(profile, setting, 1);
        const Outcome got = Decide(profile, size, {true, 1}, video, !video);
        EXPECT_EQ(got.prompts, 0);
        EXPECT_EQ(got.box, 0);
      }
    }
  }
}

TEST(ShrinkDecision, HugeAndBogusSizes) {
  CMemoryProfile profile;
  Store(profile, 1, 0);
  // The pixel count does not wrap around in 32 bits.
  EXPECT_EQ(Decide(profile, {INT_MAX, INT_MAX}, {true, 1}).box, 640);
  EXPECT_EQ(Decide(profile, {65536, 65536}, {true, 1}).box, 640);
  // Sizes that make no sense are left alone.
  EXPECT_EQ(Decide(profile, {-2000, -2000}, {true, 1}).box, 0);
  EXPECT_EQ(Decide(profile, {0, 5000}, {true, 1}).box, 0);
}

TEST(ProfileReaders, DefaultsOnAnEmptyProfile) {
  CMemoryProfile profile;
  EXPECT_EQ(ReadUsername(profile), "");
  EXPECT_EQ(ReadPassword(profile), "");
  EXPECT_TRUE(ReadAskFolder(profile));
  EXPECT_EQ(ReadAskResize(profile), 1);
  EXPECT_EQ(ReadResizeImage(profile), 3);
  EXPECT_EQ(ReadImagePath(profile), "");
  EXPECT_EQ(profile.WriteCount(), 0);
}

TEST(ProfileReaders, StoredValuesAndWrongTypes) {
  CMemoryProfile profile;
  profile.WriteInt(ProfileSectionSettings, ProfileAskFolder, 5);
  EXPECT_TRUE(ReadAskFolder(profile));
  profile.WriteInt(ProfileSectionSettings, ProfileAskFolder, 0);
  EXPECT_FALSE(ReadAskFolder(profile));
  // A string where a number belongs reads as the default, and the reverse.
  profile.WriteString(ProfileSectionSettings, ProfileResizeImage, "1");
  EXPECT_EQ(ReadResizeImage(profile), 3);
  profile.WriteInt(ProfileSectionSettings, ProfileUsername, 42);
  EXPECT_EQ(ReadUsername(profile), "");
  // The image path lives in its own section.
  profile.WriteString(ProfileSectionSettings, ProfileImagePath, "C:\\wrong.jpg");
  profile.WriteString(ProfileSectionPathHistory, ProfileImagePath, "C:\\pics\\a.jpg");
  EXPECT_EQ(ReadImagePath(profile), "C:\\pics\\a.jpg");
}

// The password is written protected; a plain text stored by an earlier
// version is still read, and the next save replaces it.
TEST(ProfileReaders, PasswordIsProtectedAndAnOldPlainTextStillReads) {
  CMemoryProfile profile;
  profile.WriteString(ProfileSectionSettings, ProfilePassword, "old plain");
  EXPECT_EQ(ReadPassword(profile), "old plain");
  WritePassword(profile, "n3w");
  EXPECT_EQ(ReadPassword(profile), "n3w");
  std::string value;
  EXPECT_TRUE(profile.GetProtectedString(ProfileSectionSettings, ProfilePassword, value));
  EXPECT_EQ(value, "n3w");
  // The plain text is gone, not kept beside it.
  EXPECT_EQ(profile.GetString(ProfileSectionSettings, ProfilePassword), "");
  // A password that cannot be protected is refused, and the one stored
  // before does not stay beside the new user name.
  profile.FailProtectedWrites(true);
  EXPECT_FALSE(WritePassword(profile, "n3wer"));
  EXPECT_EQ(ReadPassword(profile), "");
  profile.FailProtectedWrites(false);
  // Only the password is protected; the user name stays a plain string.
  profile.WriteString(ProfileSectionSettings, ProfileUsername, "anna");
  EXPECT_FALSE(profile.GetProtectedString(ProfileSectionSettings, ProfileUsername, value));
  EXPECT_EQ(ReadUsername(profile), "anna");
}

}  // namespace
