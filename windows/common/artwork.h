// The program's artwork at the scale that suits a DPI: every bitmap is drawn
// at each scale of QUIB_ARTWORK_SCALES (res/resource.h), and a window takes
// the smallest scale at or above its own, the largest above them all.
#pragma once

#include <windows.h>

#include <string>

#include "framework/gdi.h"

// Index k of QUIB_ARTWORK_SCALES (0 is 100 %) and its percentage.
int ArtworkScaleIndex(int dpi);
int ArtworkScalePercent(int dpi);
// Pixels of the 100 % design at the artwork scale for dpi, rounded as the
// artwork is drawn, so that positions meet the pictures' edges exactly.
int ScaleToArtwork(int pixels, int dpi);
// A bitmap of the artwork for dpi, by id or by name; a scale that is missing
// gives the next smaller one. Owned by the caller.
CBitmap LoadArtworkBitmap(UINT id, int dpi);
CBitmap LoadArtworkBitmap(const std::string& name, int dpi);
