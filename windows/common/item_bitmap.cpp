#include "windows/common/item_bitmap.h"

#include "adapters/gdiplus.h"
#include "framework/app.h"
#include "res/resource.h"

using namespace Gdiplus;

namespace {

const Color White(255, 255, 255, 255);
const Color FrameGrey(255, 220, 220, 220);
const Color OpaqueBlack(255, 0, 0, 0);

}  // namespace

CBitmap ThumbnailBitmap(const quib::ThumbnailData& data) {
  if (!EnsureGdiplus()) return CBitmap();
  Bitmap canvas(CMediaItem::ThumbWidth, CMediaItem::ThumbHeight, PixelFormat24bppRGB);
  if (canvas.GetLastStatus() != Ok) return CBitmap();
  {
    Graphics graphics(&canvas);
    if (graphics.GetLastStatus() != Ok || graphics.Clear(White) != Ok) return CBitmap();
    if (data.framed) {
      Pen frame(FrameGrey, 1.0f);
      graphics.DrawRectangle(&frame, 0, 0, CMediaItem::ThumbWidth - 1, CMediaItem::ThumbHeight - 1);
    }
    if (!data.bytes.empty()) {
      CGdiplusDecoded content(data.bytes);
      if (!content.Get() ||
          graphics.DrawImage(content.Get(), Rect(data.x, data.y, data.width, data.height)) != Ok) {
        return CBitmap();
      }
    }
  }
  HBITMAP handle = nullptr;
  if (canvas.GetHBITMAP(OpaqueBlack, &handle) != Ok) {
    if (handle) DeleteObject(handle);
    return CBitmap();
  }
  return CBitmap(handle);
}

CBitmap ItemBitmap(const CMediaItem& item) {
  if (item.IsVideo() || item.IsAudio()) {
    const UINT id = item.IsVideo() ? IDB_MOVIE : IDB_AUDIO;
    return CBitmap(LoadBitmapA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(id)));
  }
  if (!item.IsThumbnailReady()) return CBitmap();
  return ThumbnailBitmap(item.GetThumbnailData());
}
