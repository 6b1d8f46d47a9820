// Where the main window's parts go. The design is 369 x 512 pixels at 100 %:
// the banner across the top, with the settings, help and website buttons on
// its dark bar and the add, remove and rotate buttons on its band, the list
// below it and the upload button at the bottom. Everything is artwork, so the
// window is laid out at the artwork's scale for its DPI, and that design size
// is its smallest. A larger window gives its room to the list: the bar's
// buttons keep to the right edge, the band's to the left, the upload button
// to the bottom, centred; the banner is continued to the right edge.
#pragma once

#include <windows.h>

struct CMainLayout {
  POINT add, remove, rotate;  // on the banner's band, from the left
  POINT settings, help, web;  // on the banner's bar, from the right
  POINT upload;               // bottom, centred
  RECT list;                  // the rest
};

// The smallest client area at dpi: the design at the artwork scale.
SIZE MainMinimumClient(int dpi);
// The parts for a client area of width x height (at least the smallest).
CMainLayout LayOutMain(int width, int height, int dpi);
