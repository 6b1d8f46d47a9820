// Making the thumbnails of the upload list: 104 x 78 at 96 DPI, scaled with
// the DPI of the window that shows them.
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

// The thumbnail of a new picture for a DPI and its upright pixel size. A
// JPEG with an EXIF preview of at least the thumbnail's size and the
// picture's proportions is drawn from the preview, turned as the picture is;
// any other picture is decoded whole. Geometry: fitted into the canvas
// (rounded), centred on white. An unreadable picture gives readable = false,
// size 0 x 0 and a white canvas.
void MakePictureThumbnail(const std::string& path, ThumbnailResult& result, int dpi = 96);

// The part of a picture (fractions allowed) at width x height, in 32-bit
// premultiplied colour: shrunk by area averaging (sharp, and no aliasing of
// fine detail at any ratio), enlarged by bicubic interpolation. nullptr on
// failure.
std::unique_ptr<Gdiplus::Bitmap> ScalePicture(Gdiplus::Bitmap& picture, const Gdiplus::RectF& part,
                                              int width, int height);

// The picture drawn on an opaque white bitmap of its own size, so that
// transparent areas show white as they do on the canvas; nullptr on failure.
std::unique_ptr<Gdiplus::Bitmap> FlattenOnWhite(Gdiplus::Image& picture);
// Fills data with content (an opaque picture of the thumbnail's size, as
// FlattenOnWhite makes) placed at (x, y) of the canvas for dpi. False on
// failure.
bool EncodeThumbnailContent(Gdiplus::Bitmap& content, int x, int y, bool framed, int dpi,
                            ThumbnailData& data);

// What turns a picture stored with an EXIF orientation upright.
Gdiplus::RotateFlipType UprightTurn(int orientation);

}  // namespace quib
