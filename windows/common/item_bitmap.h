// The bitmaps windows show for the items of the upload list: a picture's
// thumbnail drawn from the bytes the item keeps, or the program's own
// picture of a movie or an audio file, on the canvas for a DPI (104 x 78 at
// 96). Made on the calling thread (the window's), owned by the caller.
#pragma once

#include <windows.h>

#include "core/media/media_item.h"
#include "framework/gdi.h"

// Empty when it cannot be made (memory). A thumbnail made for another DPI
// is scaled to this one's canvas (until the list has it made again).
CBitmap ThumbnailBitmap(const quib::ThumbnailData& data, int dpi = 96);
// Empty while a picture's thumbnail is not made yet.
CBitmap ItemBitmap(const CMediaItem& item, int dpi = 96);
