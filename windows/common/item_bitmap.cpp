#include "windows/common/item_bitmap.h"

#include "adapters/gdiplus.h"
#include "res/resource.h"
#include "windows/common/artwork.h"

using namespace Gdiplus;

namespace {

const Color White(255, 255, 255, 255);
const Color FrameGrey(255, 220, 220, 220);
const Color OpaqueBlack(255, 0, 0, 0);

// The picture drawn into a canvas of its own size; scaled (high quality)
// when the sizes differ.
CBitmap OnCanvas(HBITMAP picture, int width, int height) {
  const SIZE size = GetBitmapSize(picture);
  if (size.cx == width && size.cy == height) return CBitmap(picture);
  CBitmap owned(picture);
  if (!EnsureGdiplus() || !picture) return CBitmap();
  Bitmap source(picture, nullptr);
  Bitmap canvas(width, height, PixelFormat24bppRGB);
  if (source.GetLastStatus() != Ok || canvas.GetLastStatus() != Ok) return CBitmap();
  {
    Graphics graphics(&canvas);
    ImageAttributes edges;
    if (graphics.SetInterpolationMode(InterpolationModeHighQualityBicubic) != Ok ||
        graphics.SetPixelOffsetMode(PixelOffsetModeHalf) != Ok ||
        edges.SetWrapMode(WrapModeTileFlipXY) != Ok ||
        graphics.DrawImage(&source, Rect(0, 0, width, height), 0, 0, size.cx, size.cy, UnitPixel,
                           &edges) != Ok) {
      return CBitmap();
    }
  }
  HBITMAP handle = nullptr;
  if (canvas.GetHBITMAP(OpaqueBlack, &handle) != Ok) return CBitmap();
  return CBitmap(handle);
}

}  // namespace

CBitmap ThumbnailBitmap(const quib::ThumbnailData& data, int dpi) {
  if (!EnsureGdiplus()) return CBitmap();
  const int width = CMediaItem::ThumbWidthAt(dpi);
  const int height = CMediaItem::ThumbHeightAt(dpi);
  Bitmap canvas(width, height, PixelFormat24bppRGB);
  if (canvas.GetLastStatus() != Ok) return CBitmap();
  {
    Graphics graphics(&canvas);
    if (graphics.GetLastStatus() != Ok || graphics.Clear(White) != Ok) return CBitmap();
    if (data.framed) {
      // Whole pixels of frame on every side.
      const int t = CMediaItem::ThumbFrameAt(dpi);
      SolidBrush frame(FrameGrey);
      graphics.FillRectangle(&frame, 0, 0, width, t);
      graphics.FillRectangle(&frame, 0, height - t, width, t);
      graphics.FillRectangle(&frame, 0, t, t, height - 2 * t);
      graphics.FillRectangle(&frame, width - t, t, t, height - 2 * t);
    }
    if (!data.bytes.empty()) {
      CGdiplusDecoded content(data.bytes);
      if (!content.Get()) return CBitmap();
      Status drawn;
      if (data.dpi == dpi || data.dpi <= 0) {
        drawn = graphics.DrawImage(content.Get(), Rect(data.x, data.y, data.width, data.height));
      } else {
        // Made for another DPI: in place, scaled, until it is made again.
        const REAL f = static_cast<REAL>(dpi) / static_cast<REAL>(data.dpi);
        ImageAttributes edges;
        graphics.SetInterpolationMode(InterpolationModeHighQualityBicubic);
        graphics.SetPixelOffsetMode(PixelOffsetModeHalf);
        edges.SetWrapMode(WrapModeTileFlipXY);
        drawn = graphics.DrawImage(
            content.Get(), RectF(data.x * f, data.y * f, data.width * f, data.height * f), 0, 0,
            static_cast<REAL>(data.width), static_cast<REAL>(data.height), UnitPixel, &edges);
      }
      if (drawn != Ok) return CBitmap();
    }
  }
  HBITMAP handle = nullptr;
  if (canvas.GetHBITMAP(OpaqueBlack, &handle) != Ok) {
    if (handle) DeleteObject(handle);
    return CBitmap();
  }
  return CBitmap(handle);
}

CBitmap ItemBitmap(const CMediaItem& item, int dpi) {
  if (item.IsVideo() || item.IsAudio()) {
    CBitmap picture = LoadArtworkBitmap(item.IsVideo() ? IDB_MOVIE : IDB_AUDIO, dpi);
    return OnCanvas(picture.Detach(), CMediaItem::ThumbWidthAt(dpi),
                    CMediaItem::ThumbHeightAt(dpi));
  }
  if (!item.IsThumbnailReady()) return CBitmap();
  return ThumbnailBitmap(item.GetThumbnailData(), dpi);
}
