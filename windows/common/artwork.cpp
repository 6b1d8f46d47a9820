#include "windows/common/artwork.h"

#include <iterator>

#include "framework/app.h"
#include "res/resource.h"

namespace {

constexpr int ScalePercents[] = {QUIB_ARTWORK_SCALES};
constexpr int ScaleCount = static_cast<int>(std::size(ScalePercents));

HBITMAP LoadBitmapResource(const char* name) {
  return static_cast<HBITMAP>(
      LoadImageA(AfxGetInstanceHandle(), name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

}  // namespace

int ArtworkScaleIndex(int dpi) {
  for (int k = 0; k < ScaleCount; ++k) {
    // 96 * percent / 100 at or above dpi, without rounding.
    if (96 * ScalePercents[k] >= dpi * 100) return k;
  }
  return ScaleCount - 1;
}

int ArtworkScalePercent(int dpi) {
  return ScalePercents[ArtworkScaleIndex(dpi)];
}

int ScaleToArtwork(int pixels, int dpi) {
  const int percent = ArtworkScalePercent(dpi);
  // Halves away from zero, as the artwork script rounds.
  return pixels < 0 ? -((-pixels * percent + 50) / 100) : (pixels * percent + 50) / 100;
}

CBitmap LoadArtworkBitmap(UINT id, int dpi) {
  for (int k = ArtworkScaleIndex(dpi); k >= 0; --k) {
    if (HBITMAP bitmap = LoadBitmapResource(MAKEINTRESOURCEA(IDB_SCALED(id, k)))) {
      return CBitmap(bitmap);
    }
  }
  return CBitmap();
}

CBitmap LoadArtworkBitmap(const std::string& name, int dpi) {
  for (int k = ArtworkScaleIndex(dpi); k >= 0; --k) {
    const std::string scaled = k == 0 ? name : name + "_" + std::to_string(ScalePercents[k]);
    if (HBITMAP bitmap = LoadBitmapResource(scaled.c_str())) return CBitmap(bitmap);
  }
  return CBitmap();
}
