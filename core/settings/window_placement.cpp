#include "core/settings/window_placement.h"

#include <algorithm>

namespace quib {
namespace {

long long Overlap(const ScreenBox& a, const ScreenBox& b) {
  const long long w = std::min(a.right, b.right) - std::max(a.left, b.left);
  const long long h = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
  return w > 0 && h > 0 ? w * h : 0;
}

int ScaleDpi(int pixels, int to, int from) {
  return from > 0 ? static_cast<int>((static_cast<long long>(pixels) * to + from / 2) / from)
                  : pixels;
}

}  // namespace

bool ReadWindowPlacement(IProfile& profile, WindowPlacement& placement) {
  const int width = profile.GetInt(ProfileSectionSettings, ProfileWindowWidth, 0);
  const int height = profile.GetInt(ProfileSectionSettings, ProfileWindowHeight, 0);
  if (width <= 0 || height <= 0) return false;
  placement.box.left = profile.GetInt(ProfileSectionSettings, ProfileWindowLeft, 0);
  placement.box.top = profile.GetInt(ProfileSectionSettings, ProfileWindowTop, 0);
  placement.box.right = placement.box.left + width;
  placement.box.bottom = placement.box.top + height;
  placement.maximized = profile.GetInt(ProfileSectionSettings, ProfileWindowMaximized, 0) != 0;
  placement.dpi = profile.GetInt(ProfileSectionSettings, ProfileWindowDpi, 96);
  if (placement.dpi <= 0) placement.dpi = 96;
  return true;
}

void WriteWindowPlacement(IProfile& profile, const WindowPlacement& placement) {
  profile.WriteInt(ProfileSectionSettings, ProfileWindowLeft, placement.box.left);
  profile.WriteInt(ProfileSectionSettings, ProfileWindowTop, placement.box.top);
  profile.WriteInt(ProfileSectionSettings, ProfileWindowWidth, placement.box.Width());
  profile.WriteInt(ProfileSectionSettings, ProfileWindowHeight, placement.box.Height());
  profile.WriteInt(ProfileSectionSettings, ProfileWindowMaximized, placement.maximized ? 1 : 0);
  profile.WriteInt(ProfileSectionSettings, ProfileWindowDpi, placement.dpi);
}

ScreenBox PlaceWindow(const WindowPlacement& saved, int dpi, int minWidth, int minHeight,
                      int titleHeight, const std::vector<ScreenBox>& workAreas) {
  int width = std::max(minWidth, ScaleDpi(saved.box.Width(), dpi, saved.dpi));
  int height = std::max(minHeight, ScaleDpi(saved.box.Height(), dpi, saved.dpi));
  ScreenBox box{saved.box.left, saved.box.top, saved.box.left + width, saved.box.top + height};
  if (workAreas.empty()) return box;

  // The title bar must be where the user can take hold of it.
  const int grip = std::max(1, titleHeight);
  const ScreenBox title{box.left, box.top, box.right, box.top + grip};
  const ScreenBox* home = nullptr;
  for (const ScreenBox& area : workAreas) {
    const int shown = std::min(title.right, area.right) - std::max(title.left, area.left);
    if (title.top >= area.top && title.bottom <= area.bottom &&
        shown >= std::min(title.Width(), 2 * grip)) {
      home = &area;
      break;
    }
  }
  const bool visible = home != nullptr;
  if (!home) {
    home = &workAreas.front();
    long long best = 0;
    for (const ScreenBox& area : workAreas) {
      const long long overlap = Overlap(box, area);
      if (overlap > best) {
        best = overlap;
        home = &area;
      }
    }
  }
  // No larger than the monitor.
  width = std::min(width, home->Width());
  height = std::min(height, home->Height());
  box.right = box.left + width;
  box.bottom = box.top + height;
  if (visible) return box;
  const int left = std::clamp(box.left, home->left, home->right - width);
  const int top = std::clamp(box.top, home->top, home->bottom - height);
  return ScreenBox{left, top, left + width, top + height};
}

}  // namespace quib
