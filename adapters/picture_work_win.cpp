#include "adapters/picture_work_win.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <vector>

#include "adapters/gdiplus.h"
#include "adapters/long_path.h"
#include "adapters/thumbnail_maker.h"
#include "core/media/exif.h"
#include "core/media/media_item.h"
#include "core/media/picture_facts.h"
#include "core/ports/file_port.h"
#include "core/ports/platform.h"

using namespace Gdiplus;

namespace {

constexpr long JpegQuality = 80;
// The box of the thumbnail made after a rotation, inside a 1-pixel frame.
constexpr int FramedWidth = 100;
constexpr int FramedHeight = 74;
const Color ThumbBackground(255, 255, 255, 255);

// Counts down to a step that a test wants to fail; 0 when none is wanted.
std::atomic<int> g_failStep{0};

// Every status of the picture work and every write passes through here, so
// that a test can make each of them fail in turn.
bool Step(bool ok) {
  if (g_failStep.load() > 0 && g_failStep.fetch_sub(1) == 1) return false;
  return ok;
}

bool Step(Status status) {
  return Step(status == Ok);
}

// Writes a new file in full; on any failure (disk full, say) nothing of it
// is left behind.
bool WriteNewFile(const std::string& path, const std::string& bytes) {
  const std::wstring wide = quib::LongWidePath(path);
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!Step(file != INVALID_HANDLE_VALUE)) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    DeleteFileW(wide.c_str());
    return false;
  }
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
    DWORD n = 0;
    ok = Step(WriteFile(file, bytes.data() + done, want, &n, nullptr) && n == want);
    done += n;
  }
  ok = Step(CloseHandle(file) != FALSE) && ok;
  if (!ok) DeleteFileW(wide.c_str());
  return ok;
}

// The EXIF orientation of a file, 0 when it has none (or is no JPEG).
int FileOrientation(const std::string& path) {
  return quib::ReadJpegOrientation(quib::ReadFileHead(quib::Files(), path, quib::ExifHeadSize));
}

// A picture file loaded and turned upright.
std::unique_ptr<Bitmap> LoadUpright(const std::string& path) {
  std::unique_ptr<Bitmap> bitmap = LoadGdiplusBitmap(path);
  if (!bitmap) return nullptr;
  const RotateFlipType turn = quib::UprightTurn(FileOrientation(path));
  if (turn != RotateNoneFlipNone && !Step(bitmap->RotateFlip(turn))) return nullptr;
  return bitmap;
}

// The whole picture scaled to w x h.
std::unique_ptr<Bitmap> ScaledCopy(Image& picture, int w, int h) {
  std::unique_ptr<Bitmap> copy(new Bitmap(w, h, PixelFormat32bppPARGB));
  if (!Step(copy->GetLastStatus())) return nullptr;
  Graphics graphics(copy.get());
  // Mirrored edges keep the border pixels from fading into transparency.
  ImageAttributes edges;
  if (!Step(graphics.GetLastStatus()) || !Step(edges.SetWrapMode(WrapModeTileFlipXY))) {
    return nullptr;
  }
  const Status drawn =
      graphics.DrawImage(&picture, Rect(0, 0, w, h), 0, 0, static_cast<int>(picture.GetWidth()),
                         static_cast<int>(picture.GetHeight()), UnitPixel, &edges);
  return Step(drawn) ? std::move(copy) : nullptr;
}

// True when some pixels of the picture may be (partly) transparent: an alpha
// channel, or a palette with a transparent colour (GIF).
bool MayBeTransparent(Image& picture) {
  const PixelFormat format = picture.GetPixelFormat();
  if (IsAlphaPixelFormat(format)) return true;
  if (!IsIndexedPixelFormat(format)) return false;
  const INT size = picture.GetPaletteSize();
  if (size < static_cast<INT>(sizeof(ColorPalette))) return true;  // cannot tell: assume so
  std::vector<unsigned char> buffer(static_cast<size_t>(size));
  auto* palette = reinterpret_cast<ColorPalette*>(buffer.data());
  if (picture.GetPalette(palette, size) != Ok) return true;
  if (palette->Flags & PaletteFlagsHasAlpha) return true;
  for (UINT i = 0; i < palette->Count; ++i) {
    if ((palette->Entries[i] >> 24) != 0xFF) return true;
  }
  return false;
}

// The picture drawn onto an opaque white w x h bitmap in direct colour: JPEG
// has no transparency (transparent areas would turn black), and GDI+ cannot
// draw into palette bitmaps. Scaling uses the high-quality modes.
std::unique_ptr<Bitmap> OnWhite(Image& picture, int w, int h) {
  std::unique_ptr<Bitmap> canvas(new Bitmap(w, h, PixelFormat24bppRGB));
  if (!Step(canvas->GetLastStatus())) return nullptr;
  Graphics graphics(canvas.get());
  // Mirrored edges keep the border pixels from fading into the background.
  ImageAttributes edges;
  if (!Step(graphics.GetLastStatus()) || !Step(graphics.Clear(ThumbBackground)) ||
      !Step(graphics.SetSmoothingMode(SmoothingModeHighQuality)) ||
      !Step(graphics.SetInterpolationMode(InterpolationModeHighQualityBicubic)) ||
      !Step(graphics.SetPixelOffsetMode(PixelOffsetModeHalf)) ||
      !Step(edges.SetWrapMode(WrapModeTileFlipXY))) {
    return nullptr;
  }
  const Status drawn =
      graphics.DrawImage(&picture, Rect(0, 0, w, h), 0, 0, static_cast<int>(picture.GetWidth()),
                         static_cast<int>(picture.GetHeight()), UnitPixel, &edges);
  return Step(drawn) ? std::move(canvas) : nullptr;
}

// The thumbnail of a turned picture: fitted into 100 x 74 (truncated) inside
// the light grey frame on white. False when a step fails.
bool FramedThumbnail(Image& picture, quib::ThumbnailData& data) {
  const int w = static_cast<int>(picture.GetWidth());
  const int h = static_cast<int>(picture.GetHeight());
  const double s = std::min(double{FramedWidth} / w, double{FramedHeight} / h);
  const int tw = std::max(1, static_cast<int>(w * s));
  const int th = std::max(1, static_cast<int>(h * s));
  // Scaled from the turned picture itself (a preview stored in the file
  // would still show it unturned), then placed at its own size.
  std::unique_ptr<Bitmap> thumb = ScaledCopy(picture, tw, th);
  if (!thumb) return false;
  std::unique_ptr<Bitmap> content = quib::FlattenOnWhite(*thumb);
  if (!content) return false;
  return Step(quib::EncodeThumbnailContent(*content, (CMediaItem::ThumbWidth - tw) / 2,
                                           (CMediaItem::ThumbHeight - th) / 2, true, data));
}

// Writes a JPEG of the picture into a new temporary file, with the EXIF block
// of the file it was made from. Returns the new file's path; empty on
// failure, and then nothing is left behind.
std::string WriteTempJpeg(Image& picture, const std::string& madeFrom) {
  // Encoded in memory first, so that a failing encoder or a full disk are
  // both seen before the item changes.
  std::string jpeg;
  if (!Step(EncodeJpeg(picture, JpegQuality, jpeg)) || jpeg.empty()) return std::string();
  // Best effort: a copy without the camera's data is still the right picture.
  const std::string head = quib::ReadFileHead(quib::Files(), madeFrom, quib::ExifHeadSize);
  size_t offset;
  size_t size;
  if (quib::FindExifSegment(head, offset, size)) {
    std::string segment = head.substr(offset, size);
    std::string withExif = jpeg;
    if (quib::NormalizeExifSegment(segment, picture.GetWidth(), picture.GetHeight()) &&
        quib::PutExifSegment(withExif, segment)) {
      jpeg.swap(withExif);
    }
  }
  std::string temp;
  if (!quib::MakeTempFileName(temp)) return std::string();
  if (!WriteNewFile(temp, jpeg)) return std::string();
  return temp;
}

}  // namespace

namespace quib {

bool MakeTempFileName(std::string& path) {
  wchar_t folder[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH, folder);
  if (n == 0 || n > MAX_PATH) return false;
  wchar_t name[MAX_PATH + 1] = {};
  if (!GetTempFileNameW(folder, L"NEW", 0, name)) return false;
  path = WideToUtf8(name);
  return true;
}

void FailPictureStepForTest(int n) {
  g_failStep = n > 0 ? n : 0;
}

bool PictureStepPendingForTest() {
  return g_failStep.load() > 0;
}

void CGdiplusPictureWork::MakeThumbnail(const std::string& path, ThumbnailResult& result) {
  MakePictureThumbnail(path, result);
}

bool CGdiplusPictureWork::MeasurePicture(const std::string& path, int& width, int& height) {
  std::unique_ptr<Bitmap> picture = LoadGdiplusBitmap(path);
  if (!picture) return false;
  const bool swapped = OrientationSwapsSides(FileOrientation(path));
  width = static_cast<int>(swapped ? picture->GetHeight() : picture->GetWidth());
  height = static_cast<int>(swapped ? picture->GetWidth() : picture->GetHeight());
  return true;
}

// Everything is made before anything is handed back: a step that fails
// (memory, disk) leaves no temporary file behind.
bool CGdiplusPictureWork::Rotate(const std::string& path, PictureCopy& copy) {
  try {
    std::unique_ptr<Bitmap> picture = LoadUpright(path);
    if (!picture || !Step(picture->RotateFlip(Rotate90FlipNone))) return false;
    const int w = static_cast<int>(picture->GetWidth());
    const int h = static_cast<int>(picture->GetHeight());
    // Transparent areas turn white, as the list shows them, not black.
    std::unique_ptr<Bitmap> flat;
    if (MayBeTransparent(*picture)) {
      flat = OnWhite(*picture, w, h);
      if (!flat) return false;
    }
    Image& turned = flat ? static_cast<Image&>(*flat) : static_cast<Image&>(*picture);
    ThumbnailData thumbnail;
    if (!FramedThumbnail(turned, thumbnail)) return false;
    const std::string temp = WriteTempJpeg(turned, path);
    if (temp.empty()) return false;
    copy.path = temp;
    copy.width = w;
    copy.height = h;
    copy.thumbnail = std::move(thumbnail);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool CGdiplusPictureWork::Shrink(const std::string& path, int box, PictureCopy& copy) {
  try {
    std::unique_ptr<Bitmap> picture = LoadUpright(path);
    if (!picture) return false;
    const int w = static_cast<int>(picture->GetWidth());
    const int h = static_cast<int>(picture->GetHeight());
    const double m = box;
    const double s = std::min(m / w, m / h);
    const int tw = static_cast<int>(w * s);
    const int th = static_cast<int>(h * s);
    if (tw < 1 || th < 1) return false;
    std::unique_ptr<Bitmap> scaled = OnWhite(*picture, tw, th);
    if (!scaled) return false;
    const std::string temp = WriteTempJpeg(*scaled, path);
    if (temp.empty()) return false;
    copy.path = temp;
    copy.width = tw;
    copy.height = th;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace quib
