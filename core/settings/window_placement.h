// Where the main window was when the program last ended, kept per user among
// the settings, and where it goes at the next start: the same place and size
// (scaled when the DPI changed), unless no monitor shows its title bar any
// more (a monitor was removed, the resolution shrank), then onto the monitor
// it overlaps most.
#pragma once

#include <vector>

#include "core/settings/profile.h"

inline constexpr char ProfileWindowLeft[] = "WindowLeft";            // integer, screen pixels
inline constexpr char ProfileWindowTop[] = "WindowTop";              // integer, screen pixels
inline constexpr char ProfileWindowWidth[] = "WindowWidth";          // integer, pixels
inline constexpr char ProfileWindowHeight[] = "WindowHeight";        // integer, pixels
inline constexpr char ProfileWindowMaximized[] = "WindowMaximized";  // integer, 0 or 1
inline constexpr char ProfileWindowDpi[] = "WindowDpi";              // integer, the pixels' DPI

namespace quib {

// A rectangle in screen pixels: right and bottom lie just outside.
struct ScreenBox {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const ScreenBox& other) const {
    return left == other.left && top == other.top && right == other.right && bottom == other.bottom;
  }
};

struct WindowPlacement {
  ScreenBox box;  // the window's frame when not maximised
  bool maximized = false;
  int dpi = 96;  // the DPI box is measured at
};

// False when no placement is stored (or one of no size).
bool ReadWindowPlacement(IProfile& profile, WindowPlacement& placement);
void WriteWindowPlacement(IProfile& profile, const WindowPlacement& placement);

// Where a window last at `saved` goes at dpi: its size scaled to dpi, at
// least minWidth x minHeight and at most the work area it lands on; kept
// where it was when a strip of its top (titleHeight tall, as wide as twice
// that at least) lies on one of the work areas, else moved into the work
// area it overlaps most (the first one, the primary monitor's, when it
// overlaps none). No work areas: the box is only scaled.
ScreenBox PlaceWindow(const WindowPlacement& saved, int dpi, int minWidth, int minHeight,
                      int titleHeight, const std::vector<ScreenBox>& workAreas);

}  // namespace quib
