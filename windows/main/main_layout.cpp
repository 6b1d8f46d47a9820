#include "windows/main/main_layout.h"

#include <algorithm>

#include "windows/common/artwork.h"

namespace {

// The design, in pixels at 100 %.
constexpr int DesignWidth = 369;
constexpr int DesignHeight = 512;
constexpr int BandTop = 111;
constexpr int RemoveLeft = 126;
constexpr int RotateLeft = 242;
constexpr int SettingsLeft = 108;
constexpr int HelpLeft = 234;
constexpr int WebLeft = 285;
constexpr int ListTop = 158;
constexpr int ListBottom = 470;
constexpr int UploadTop = 471;
constexpr int UploadWidth = 369;

}  // namespace

SIZE MainMinimumClient(int dpi) {
  return SIZE{ScaleToArtwork(DesignWidth, dpi), ScaleToArtwork(DesignHeight, dpi)};
}

CMainLayout LayOutMain(int width, int height, int dpi) {
  const auto sc = [dpi](int pixels) { return ScaleToArtwork(pixels, dpi); };
  const SIZE least = MainMinimumClient(dpi);
  width = std::max<int>(width, least.cx);
  height = std::max<int>(height, least.cy);
  // Distances from the right and bottom edges as the design has them.
  const int right = width - sc(DesignWidth);
  const int bottom = height - sc(DesignHeight);
  CMainLayout at{};
  at.add = POINT{0, sc(BandTop)};
  at.remove = POINT{sc(RemoveLeft), sc(BandTop)};
  at.rotate = POINT{sc(RotateLeft), sc(BandTop)};
  at.settings = POINT{right + sc(SettingsLeft), 0};
  at.help = POINT{right + sc(HelpLeft), 0};
  at.web = POINT{right + sc(WebLeft), 0};
  at.upload = POINT{(width - sc(UploadWidth)) / 2, bottom + sc(UploadTop)};
  at.list = RECT{0, sc(ListTop), width, bottom + sc(ListBottom)};
  return at;
}
