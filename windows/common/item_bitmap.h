// The bitmaps windows show for the items of the upload list: a picture's
// 104 x 78 thumbnail drawn from the bytes the item keeps, or the program's
// own picture of a movie or an audio file. Made on the calling thread (the
// window's), owned by the caller.
#pragma once

#include <windows.h>

#include "core/media/media_item.h"
#include "framework/gdi.h"

// Empty when it cannot be made (memory).
CBitmap ThumbnailBitmap(const quib::ThumbnailData& data);
// Empty while a picture's thumbnail is not made yet.
CBitmap ItemBitmap(const CMediaItem& item);
