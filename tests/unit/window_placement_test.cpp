// The main window's place between runs: stored among the settings, and put
// back where a monitor shows it.
#include "core/settings/window_placement.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/settings/memory_profile.h"

using quib::ScreenBox;
using quib::WindowPlacement;

namespace {

WindowPlacement At(int left, int top, int width, int height, int dpi = 96) {
  WindowPlacement placement;
  placement.box = ScreenBox{left, top, left + width, top + height};
  placement.dpi = dpi;
  return placement;
}

// A laptop (primary, taskbar at the bottom) with a monitor to its left.
const std::vector<ScreenBox> kTwoMonitors = {{0, 0, 1920, 1040}, {-2560, -200, 0, 1240}};
constexpr int kTitle = 30;

}  // namespace

TEST(WindowPlacement, StoredUnderNewValuesBesideTheSettings) {
  CMemoryProfile profile;
  WindowPlacement read;
  EXPECT_FALSE(quib::ReadWindowPlacement(profile, read)) << "nothing stored yet";
  profile.WriteInt(ProfileSectionSettings, ProfileAskFolder, 0);

  WindowPlacement saved = At(-2000, -150, 800, 900, 144);
  saved.maximized = true;
  quib::WriteWindowPlacement(profile, saved);
  ASSERT_TRUE(quib::ReadWindowPlacement(profile, read));
  EXPECT_EQ(read.box, saved.box);
  EXPECT_TRUE(read.maximized);
  EXPECT_EQ(read.dpi, 144);
  EXPECT_EQ(profile.GetInt(ProfileSectionSettings, "WindowLeft", 0), -2000);
  EXPECT_EQ(profile.GetInt(ProfileSectionSettings, "WindowHeight", 0), 900);
  EXPECT_EQ(profile.GetInt(ProfileSectionSettings, ProfileAskFolder, 1), 0) << "left alone";

  // A size of nothing is no placement.
  profile.WriteInt(ProfileSectionSettings, "WindowWidth", 0);
  EXPECT_FALSE(quib::ReadWindowPlacement(profile, read));
}

TEST(WindowPlacement, KeptWhereATitleBarCanBeTakenHold) {
  const WindowPlacement onLaptop = At(100, 50, 400, 560);
  EXPECT_EQ(quib::PlaceWindow(onLaptop, 96, 385, 551, kTitle, kTwoMonitors), onLaptop.box);
  // On the left monitor, partly off its left edge: the title bar still shows.
  const WindowPlacement onLeft = At(-2700, -100, 400, 560);
  EXPECT_EQ(quib::PlaceWindow(onLeft, 96, 385, 551, kTitle, kTwoMonitors), onLeft.box);
  // Across both monitors.
  const WindowPlacement across = At(-200, 300, 400, 560);
  EXPECT_EQ(quib::PlaceWindow(across, 96, 385, 551, kTitle, kTwoMonitors), across.box);
  // Saved smaller than the design allows (an older size): grown in place.
  EXPECT_EQ(quib::PlaceWindow(At(100, 50, 200, 200), 96, 385, 551, kTitle, kTwoMonitors),
            (ScreenBox{100, 50, 485, 601}));
}

TEST(WindowPlacement, MovedOntoAMonitorWhenNoneShowsItsTitle) {
  // The left monitor has gone: onto the laptop, size kept, as near as can be.
  const std::vector<ScreenBox> laptop = {kTwoMonitors[0]};
  EXPECT_EQ(quib::PlaceWindow(At(-2000, 100, 400, 560), 96, 385, 551, kTitle, laptop),
            (ScreenBox{0, 100, 400, 660}));
  // Below the bottom of the work area (the resolution shrank).
  EXPECT_EQ(quib::PlaceWindow(At(1700, 1200, 400, 560), 96, 385, 551, kTitle, laptop),
            (ScreenBox{1520, 480, 1920, 1040}));
  // Title bar above the top, body mostly on the left monitor: that one.
  EXPECT_EQ(quib::PlaceWindow(At(-1000, -400, 400, 560), 96, 385, 551, kTitle, kTwoMonitors),
            (ScreenBox{-1000, -200, -600, 360}));
  // Larger than the monitor it is moved to: as large as its work area.
  EXPECT_EQ(quib::PlaceWindow(At(5000, 0, 2500, 1500), 96, 385, 551, kTitle, laptop),
            (ScreenBox{0, 0, 1920, 1040}));
  // Nothing known about the monitors: only the size is seen to.
  EXPECT_EQ(quib::PlaceWindow(At(5000, 0, 300, 300), 96, 385, 551, kTitle, {}),
            (ScreenBox{5000, 0, 5385, 551}));
}

TEST(WindowPlacement, SizeFollowsTheDpi) {
  // Saved at 100 %, started at 200 %: twice the pixels, same place.
  EXPECT_EQ(quib::PlaceWindow(At(10, 20, 500, 600), 192, 770, 1090, kTitle, {{0, 0, 3840, 2100}}),
            (ScreenBox{10, 20, 1010, 1220}));
  // Saved at 150 %, started at 100 %: two thirds, rounded, at least the least.
  EXPECT_EQ(quib::PlaceWindow(At(10, 20, 900, 1001, 144), 96, 385, 551, kTitle, kTwoMonitors),
            (ScreenBox{10, 20, 610, 687}));
  EXPECT_EQ(quib::PlaceWindow(At(10, 20, 450, 600, 144), 96, 385, 551, kTitle, kTwoMonitors),
            (ScreenBox{10, 20, 395, 571}));
}
