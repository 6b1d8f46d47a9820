// Making the 104 x 78 thumbnails of the upload list.
//
// Threads: MakePictureThumbnail runs on the thumbnail workers. It creates,
// uses and releases its own GDI+ objects on the calling thread and hands back
// only bytes and numbers (ThumbnailResult); it makes no HBITMAP and touches no
// item, list or window (the windows draw the bytes on their own thread).
// GDI+ itself is started once per process (EnsureGdiplus) before any worker
// starts, and stays started.
#pragma once

#include <windows.h>

#include <string>

#include "core/media/thumbnail_scheduler.h"
#include "adapters/gdiplus.h"

namespace quib {

// The thumbnail of a new picture and its upright pixel size. A JPEG with an
// EXIF preview of at least the thumbnail's size and the picture's proportions
// is drawn from the preview, turned as the picture is; any other picture is
// decoded whole. Geometry: fitted into 104 x 78 (rounded), centred on white.
// An unreadable picture gives readable = false, size 0 x 0 and a white
// canvas.
void MakePictureThumbnail(const std::string& path, ThumbnailResult& result);

// The picture drawn on an opaque white bitmap of its own size, so that
// transparent areas show white as they do on the canvas; nullptr on failure.
std::unique_ptr<Gdiplus::Bitmap> FlattenOnWhite(Gdiplus::Image& picture);
// Fills data with content (an opaque picture of the thumbnail's size, as
// FlattenOnWhite makes) placed at (x, y) of the canvas. False on failure.
bool EncodeThumbnailContent(Gdiplus::Bitmap& content, int x, int y, bool framed,
                            ThumbnailData& data);

// What turns a picture stored with an EXIF orientation upright.
Gdiplus::RotateFlipType UprightTurn(int orientation);

}  // namespace quib
