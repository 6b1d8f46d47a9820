#include "adapters/thumbnail_maker.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "core/media/area_downscale.h"
#include "core/media/exif.h"
#include "core/media/media_item.h"
#include "core/media/picture_facts.h"
#include "core/ports/file_port.h"
#include "core/ports/platform.h"

using namespace Gdiplus;

namespace quib {
namespace {

// An EXIF preview whose proportions differ from the picture's by more than
// this is letterboxed (or squeezed).
constexpr double AspectTolerance = 0.02;
// A thumbnail of 104 x 78 kept as PNG when that takes at most this, else as
// JPEG; larger ones in proportion.
constexpr size_t LosslessBudget = 4096;
// Rows of a large picture converted for shrinking at a time.
constexpr int BandRows = 256;
constexpr long ThumbnailJpegQuality = 95;
const Color White(255, 255, 255, 255);

// The thumbnail size of a w x h picture: fitted into the canvas for dpi,
// rounded.
void FitRounded(int w, int h, int dpi, int& tw, int& th) {
  const double s = std::min(static_cast<double>(CMediaItem::ThumbWidthAt(dpi)) / w,
                            static_cast<double>(CMediaItem::ThumbHeightAt(dpi)) / h);
  tw = std::max(1, static_cast<int>(std::lround(w * s)));
  th = std::max(1, static_cast<int>(std::lround(h * s)));
}

// True when the preview's pixels outside the source rectangle are dark: the
// black bars a camera puts around a picture of other proportions.
bool BarsAreDark(Bitmap& preview, const Rect& source) {
  const int w = static_cast<int>(preview.GetWidth());
  const int h = static_cast<int>(preview.GetHeight());
  long sum = 0;
  long count = 0;
  for (int y = 0; y < h; y += 2) {
    for (int x = 0; x < w; x += 2) {
      if (source.Contains(x, y)) continue;
      Color c;
      if (preview.GetPixel(x, y, &c) != Ok) return false;
      const int light = (c.GetR() * 3 + c.GetG() * 6 + c.GetB()) / 10;
      if (light > 48) return false;
      sum += light;
      ++count;
    }
  }
  return count > 0 && sum / count < 24;
}

// The thumbnail drawn from a camera's preview. False when the preview does
// not fit (too small, other proportions without black bars, unreadable).
bool FromPreview(const std::string& bytes, int orientation, int w, int h, int dpi,
                 ThumbnailResult& result) {
  CGdiplusDecoded decoded(bytes);
  Bitmap* preview = decoded.Get();
  if (!preview) return false;
  const RotateFlipType turn = UprightTurn(orientation);
  if (turn != RotateNoneFlipNone && preview->RotateFlip(turn) != Ok) return false;
  const int pw = static_cast<int>(preview->GetWidth());
  const int ph = static_cast<int>(preview->GetHeight());
  int tw;
  int th;
  FitRounded(w, h, dpi, tw, th);
  Rect source(0, 0, pw, ph);
  const double aspect = double{1} * w / h;
  const double previewAspect = double{1} * pw / ph;
  if (std::fabs(previewAspect / aspect - 1) > AspectTolerance) {
    if (previewAspect < aspect) {
      source.Height = static_cast<int>(std::lround(pw / aspect));
      source.Y = (ph - source.Height) / 2;
    } else {
      source.Width = static_cast<int>(std::lround(ph * aspect));
      source.X = (pw - source.Width) / 2;
    }
    if (!BarsAreDark(*preview, source)) return false;
  }
  if (source.Width < tw || source.Height < th) return false;

  std::unique_ptr<Bitmap> scaled =
      ScalePicture(*preview,
                   RectF(static_cast<REAL>(source.X), static_cast<REAL>(source.Y),
                         static_cast<REAL>(source.Width), static_cast<REAL>(source.Height)),
                   tw, th);
  std::unique_ptr<Bitmap> content = scaled ? FlattenOnWhite(*scaled) : nullptr;
  return content &&
         EncodeThumbnailContent(*content, (CMediaItem::ThumbWidthAt(dpi) - tw) / 2,
                                (CMediaItem::ThumbHeightAt(dpi) - th) / 2, false, dpi, result.data);
}

// Shrinks by area averaging, a band of rows at a time.
std::unique_ptr<Bitmap> ShrinkPicture(Bitmap& picture, const RectF& part, int width, int height) {
  const int w = static_cast<int>(picture.GetWidth());
  const int h = static_cast<int>(picture.GetHeight());
  CAreaDownscaler shrink(4, w, h, part.X, part.Y, part.Width, part.Height, width, height);
  if (!shrink.Valid()) return nullptr;
  std::unique_ptr<Bitmap> target(new Bitmap(width, height, PixelFormat32bppPARGB));
  if (target->GetLastStatus() != Ok) return nullptr;
  for (int y = shrink.FirstRow(); y <= shrink.LastRow(); y += BandRows) {
    const int rows = std::min(BandRows, shrink.LastRow() + 1 - y);
    Rect band(0, y, w, rows);
    BitmapData data{};
    if (picture.LockBits(&band, ImageLockModeRead, PixelFormat32bppPARGB, &data) != Ok) {
      return nullptr;
    }
    for (int r = 0; r < rows; ++r) {
      shrink.AddRow(y + r, static_cast<const unsigned char*>(data.Scan0) +
                               static_cast<ptrdiff_t>(r) * data.Stride);
    }
    picture.UnlockBits(&data);
  }
  Rect all(0, 0, width, height);
  BitmapData out{};
  if (target->LockBits(&all, ImageLockModeWrite, PixelFormat32bppPARGB, &out) != Ok) {
    return nullptr;
  }
  PixelRows rows;
  rows.bits = static_cast<unsigned char*>(out.Scan0);
  rows.width = width;
  rows.height = height;
  rows.stride = out.Stride;
  rows.channels = 4;
  const bool done = out.Stride > 0 && shrink.Finish(rows);
  target->UnlockBits(&out);
  return done ? std::move(target) : nullptr;
}

}  // namespace

std::unique_ptr<Bitmap> ScalePicture(Bitmap& picture, const RectF& part, int width, int height) {
  if (width <= part.Width + 0.5f && height <= part.Height + 0.5f) {
    return ShrinkPicture(picture, part, width, height);
  }
  std::unique_ptr<Bitmap> target(new Bitmap(width, height, PixelFormat32bppPARGB));
  if (target->GetLastStatus() != Ok) return nullptr;
  Graphics graphics(target.get());
  ImageAttributes edges;  // mirrored edges keep the border from fading
  if (graphics.GetLastStatus() != Ok ||
      graphics.SetInterpolationMode(InterpolationModeHighQualityBicubic) != Ok ||
      graphics.SetPixelOffsetMode(PixelOffsetModeHalf) != Ok ||
      edges.SetWrapMode(WrapModeTileFlipXY) != Ok ||
      graphics.DrawImage(&picture, RectF(0, 0, static_cast<REAL>(width), static_cast<REAL>(height)),
                         part.X, part.Y, part.Width, part.Height, UnitPixel, &edges) != Ok) {
    return nullptr;
  }
  return target;
}

RotateFlipType UprightTurn(int orientation) {
  switch (orientation) {
    case 2:
      return RotateNoneFlipX;
    case 3:
      return Rotate180FlipNone;
    case 4:
      return RotateNoneFlipY;
    case 5:
      return Rotate90FlipX;
    case 6:
      return Rotate90FlipNone;
    case 7:
      return Rotate270FlipX;
    case 8:
      return Rotate270FlipNone;
    default:
      return RotateNoneFlipNone;
  }
}

std::unique_ptr<Bitmap> FlattenOnWhite(Image& picture) {
  const int w = static_cast<int>(picture.GetWidth());
  const int h = static_cast<int>(picture.GetHeight());
  std::unique_ptr<Bitmap> flat(new Bitmap(w, h, PixelFormat24bppRGB));
  if (flat->GetLastStatus() != Ok) return nullptr;
  Graphics graphics(flat.get());
  if (graphics.GetLastStatus() != Ok || graphics.Clear(White) != Ok ||
      graphics.DrawImage(&picture, Rect(0, 0, w, h)) != Ok) {
    return nullptr;
  }
  return flat;
}

bool EncodeThumbnailContent(Bitmap& content, int x, int y, bool framed, int dpi,
                            ThumbnailData& data) {
  ThumbnailData made;
  made.dpi = dpi;
  made.x = x;
  made.y = y;
  made.width = static_cast<int>(content.GetWidth());
  made.height = static_cast<int>(content.GetHeight());
  made.framed = framed;
  // Drawings, logos and flat colours stay exact as PNG. A photograph's PNG
  // takes 15 KB, ten times its JPEG of high quality, which no eye tells
  // from it at this size: ten thousand entries must fit in memory.
  if (EncodeImage(content, L"image/png", nullptr, made.bytes) != Ok || made.bytes.empty()) {
    return false;
  }
  const size_t budget = LosslessBudget * static_cast<size_t>(CMediaItem::ThumbWidthAt(dpi)) *
                        static_cast<size_t>(CMediaItem::ThumbHeightAt(dpi)) /
                        (CMediaItem::ThumbWidth * CMediaItem::ThumbHeight);
  if (made.bytes.size() > budget) {
    std::string jpeg;
    if (EncodeJpeg(content, ThumbnailJpegQuality, jpeg) == Ok && !jpeg.empty() &&
        jpeg.size() < made.bytes.size()) {
      made.bytes = std::move(jpeg);
    }
  }
  data = std::move(made);
  return true;
}

void MakePictureThumbnail(const std::string& path, ThumbnailResult& result, int dpi) {
  result.readable = false;
  result.width = 0;
  result.height = 0;
  result.data = ThumbnailData();
  result.data.dpi = dpi;
  if (!EnsureGdiplus()) return;
  try {
    const std::string head = ReadFileHead(Files(), path, ExifHeadSize);
    const int orientation = ReadJpegOrientation(head);
    int w = 0;
    int h = 0;
    size_t offset;
    size_t size;
    // Cameras store a small preview: drawing from it spares decoding
    // millions of pixels.
    if (ReadPictureSize(head, w, h) && FindExifPreview(head, offset, size) &&
        FromPreview(head.substr(offset, size), orientation, w, h, dpi, result)) {
      result.readable = true;
      result.width = w;
      result.height = h;
      return;
    }

    std::unique_ptr<Bitmap> picture = LoadGdiplusBitmap(path);
    if (!picture) return;
    const bool swapped = OrientationSwapsSides(orientation);
    const int stored_w = static_cast<int>(picture->GetWidth());
    const int stored_h = static_cast<int>(picture->GetHeight());
    result.width = swapped ? stored_h : stored_w;
    result.height = swapped ? stored_w : stored_h;
    int tw;
    int th;
    FitRounded(result.width, result.height, dpi, tw, th);
    // Made as the picture is stored, then the small image is turned.
    std::unique_ptr<Bitmap> thumb = ScalePicture(
        *picture, RectF(0, 0, static_cast<REAL>(stored_w), static_cast<REAL>(stored_h)),
        swapped ? th : tw, swapped ? tw : th);
    picture.reset();
    if (!thumb) return;
    const RotateFlipType turn = UprightTurn(orientation);
    if (turn != RotateNoneFlipNone && thumb->RotateFlip(turn) != Ok) return;
    std::unique_ptr<Bitmap> content = FlattenOnWhite(*thumb);
    if (!content) return;
    const int dw = static_cast<int>(content->GetWidth());
    const int dh = static_cast<int>(content->GetHeight());
    result.readable =
        EncodeThumbnailContent(*content, (CMediaItem::ThumbWidthAt(dpi) - dw) / 2,
                               (CMediaItem::ThumbHeightAt(dpi) - dh) / 2, false, dpi, result.data);
  } catch (const std::bad_alloc&) {
    result.readable = false;  // a picture too large for memory: shown white
    result.data = ThumbnailData();
    result.data.dpi = dpi;
  }
}

}  // namespace quib
