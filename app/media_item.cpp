#include "app/media_item.h"

#include <atomic>
#include <climits>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "app/exif.h"
#include "framework/app.h"
#include "framework/gdiplus.h"
#include "net/media_type.h"
#include "net/multipart.h"
#include "res/resource.h"

using namespace Gdiplus;

namespace {

constexpr long JpegQuality = 80;
// The box of the thumbnail made after a rotation, inside a 1-pixel frame.
constexpr int FramedWidth = 100;
constexpr int FramedHeight = 74;
const Color ThumbBackground(255, 255, 255, 255);
const Color FrameColour(255, 220, 220, 220);
const Color OpaqueBlack(255, 0, 0, 0);

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, strlen(prefix), prefix) == 0;
}

// Up to ExifHeadSize leading bytes of a file; empty when it cannot be read.
std::string ReadFileHead(const std::string& path, size_t limit) {
  std::string head;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return head;
  head.resize(limit);
  size_t got = 0;
  while (got < limit) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(limit - got, 1 << 20));
    if (!ReadFile(file, &head[got], want, &n, nullptr) || n == 0) break;
    got += n;
  }
  CloseHandle(file);
  head.resize(got);
  return head;
}

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
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!Step(file != INVALID_HANDLE_VALUE)) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    DeleteFileA(path.c_str());
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
  if (!ok) DeleteFileA(path.c_str());
  return ok;
}

// What turns a picture stored with an EXIF orientation upright.
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

// The EXIF orientation of a file, 0 when it has none (or is no JPEG).
int FileOrientation(const std::string& path) {
  return quib::ReadJpegOrientation(ReadFileHead(path, quib::ExifHeadSize));
}

// A picture file loaded and turned upright.
std::unique_ptr<Bitmap> LoadUpright(const std::string& path) {
  std::unique_ptr<Bitmap> bitmap = LoadGdiplusBitmap(path);
  if (!bitmap) return nullptr;
  const RotateFlipType turn = UprightTurn(FileOrientation(path));
  if (turn != RotateNoneFlipNone && !Step(bitmap->RotateFlip(turn))) return nullptr;
  return bitmap;
}

// The item's bitmap handle for a 104 x 78 canvas.
CBitmap ToHandle(Bitmap& canvas) {
  HBITMAP handle = nullptr;
  if (!Step(canvas.GetHBITMAP(OpaqueBlack, &handle))) {
    if (handle) DeleteObject(handle);
    return CBitmap();
  }
  return CBitmap(handle);
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

std::unique_ptr<Bitmap> WhiteCanvas() {
  std::unique_ptr<Bitmap> canvas(
      new Bitmap(CMediaItem::ThumbWidth, CMediaItem::ThumbHeight, PixelFormat24bppRGB));
  if (!Step(canvas->GetLastStatus())) return nullptr;
  Graphics graphics(canvas.get());
  if (!Step(graphics.GetLastStatus()) || !Step(graphics.Clear(ThumbBackground))) return nullptr;
  return canvas;
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
// the light grey frame on white.
CBitmap FramedThumbnail(Image& picture) {
  const int w = static_cast<int>(picture.GetWidth());
  const int h = static_cast<int>(picture.GetHeight());
  const double s = std::min(double{FramedWidth} / w, double{FramedHeight} / h);
  const int tw = std::max(1, static_cast<int>(w * s));
  const int th = std::max(1, static_cast<int>(h * s));
  std::unique_ptr<Bitmap> canvas = WhiteCanvas();
  if (!canvas) return CBitmap();
  {
    Graphics graphics(canvas.get());
    Pen frame(FrameColour, 1.0f);
    if (!Step(graphics.GetLastStatus()) || !Step(frame.GetLastStatus()) ||
        !Step(graphics.DrawRectangle(&frame, 0, 0, CMediaItem::ThumbWidth - 1,
                                     CMediaItem::ThumbHeight - 1))) {
      return CBitmap();
    }
    // Scaled from the turned picture itself (a preview stored in the file
    // would still show it unturned), then placed at its own size.
    std::unique_ptr<Bitmap> thumb = ScaledCopy(picture, tw, th);
    if (!thumb ||
        !Step(graphics.DrawImage(thumb.get(), Rect((CMediaItem::ThumbWidth - tw) / 2,
                                                   (CMediaItem::ThumbHeight - th) / 2, tw, th)))) {
      return CBitmap();
    }
  }
  return ToHandle(*canvas);
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
  const std::string head = ReadFileHead(madeFrom, quib::ExifHeadSize);
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
  char folder[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathA(MAX_PATH, folder);
  if (n == 0 || n > MAX_PATH) return false;
  char name[MAX_PATH + 1] = {};
  if (!GetTempFileNameA(folder, "NEW", 0, name)) return false;
  path = name;
  return true;
}

void FailPictureStepForTest(int n) {
  g_failStep = n > 0 ? n : 0;
}

bool PictureStepPendingForTest() {
  return g_failStep.load() > 0;
}

}  // namespace quib

CMediaItem::CMediaItem(const std::string& path) : CMediaItem(path, DetectMediaType(path)) {}

CMediaItem::CMediaItem(const std::string& path, const std::string& mediaType)
    : path_(path), sourcePath_(path) {
  EnsureGdiplus();
  // A backslash may be the trail byte of a double-byte character.
  name_ = quib::FileNameOfPath(path);
  isVideo_ = StartsWith(mediaType, "video/");
  isAudio_ = StartsWith(mediaType, "audio/");
  MakeThumbnail();
}

CMediaItem::~CMediaItem() {
  if (OwnsCurrentFile()) DeleteFileA(path_.c_str());
}

bool CMediaItem::OwnsCurrentFile() const {
  return lstrcmpiA(path_.c_str(), sourcePath_.c_str()) != 0;
}

void CMediaItem::ReplaceCurrentFile(const std::string& tempPath) {
  if (OwnsCurrentFile()) DeleteFileA(path_.c_str());
  path_ = tempPath;
}

std::string CMediaItem::GetShortName(size_t n) const {
  return quib::ShortName(name_, n);
}

int CMediaItem::GetFileSize() const {
  HANDLE file = CreateFileA(path_.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  LARGE_INTEGER size{};
  const BOOL ok = GetFileSizeEx(file, &size);
  CloseHandle(file);
  if (!ok) return -1;
  return size.QuadPart > INT_MAX ? INT_MAX : static_cast<int>(size.QuadPart);
}

std::string CMediaItem::GetMimeType() const {
  return DetectMediaType(path_);
}

void CMediaItem::MakeThumbnail() {
  if (isVideo_ || isAudio_) {
    const UINT id = isVideo_ ? IDB_MOVIE : IDB_AUDIO;
    thumbnail_.Reset(LoadBitmapA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(id)));
    return;
  }
  width_ = 0;
  height_ = 0;
  std::unique_ptr<Bitmap> canvas = WhiteCanvas();
  if (!canvas) return;
  if (std::unique_ptr<Bitmap> picture = LoadGdiplusBitmap(path_)) {
    const int orientation = FileOrientation(path_);
    const bool swapped = quib::OrientationSwapsSides(orientation);
    const int w = static_cast<int>(picture->GetWidth());
    const int h = static_cast<int>(picture->GetHeight());
    width_ = swapped ? h : w;
    height_ = swapped ? w : h;
    const double s = std::min(double{ThumbWidth} / width_, double{ThumbHeight} / height_);
    const int tw = std::max(1, static_cast<int>(std::lround(width_ * s)));
    const int th = std::max(1, static_cast<int>(std::lround(height_ * s)));
    // Ask for the thumbnail as the picture is stored, then turn the small
    // image: cheaper, and right for a preview picture stored in the file.
    std::unique_ptr<Image> thumb(
        picture->GetThumbnailImage(swapped ? th : tw, swapped ? tw : th, nullptr, nullptr));
    picture.reset();
    if (thumb && thumb->GetLastStatus() == Ok) {
      const RotateFlipType turn = UprightTurn(orientation);
      if (turn == RotateNoneFlipNone || thumb->RotateFlip(turn) == Ok) {
        const int dw = static_cast<int>(thumb->GetWidth());
        const int dh = static_cast<int>(thumb->GetHeight());
        Graphics graphics(canvas.get());
        graphics.DrawImage(thumb.get(),
                           Rect((ThumbWidth - dw) / 2, (ThumbHeight - dh) / 2, dw, dh));
      }
    }
  }
  thumbnail_ = ToHandle(*canvas);
}

// Everything is made before the item changes: a step that fails (memory,
// disk) leaves the item exactly as it was, and no temporary file behind.
bool CMediaItem::Rotate() {
  if (isVideo_ || isAudio_) return false;
  try {
    std::unique_ptr<Bitmap> picture = LoadUpright(path_);
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
    CBitmap thumbnail = FramedThumbnail(turned);
    if (!thumbnail) return false;
    const std::string temp = WriteTempJpeg(turned, path_);
    if (temp.empty()) return false;

    flat.reset();
    picture.reset();  // releases the current file before it is deleted
    ReplaceCurrentFile(temp);
    width_ = w;
    height_ = h;
    thumbnail_ = std::move(thumbnail);
    return true;
  } catch (const std::bad_alloc&) {
    return false;  // nothing has changed yet
  }
}

// As Rotate, all or nothing.
bool CMediaItem::Resize(int cx, int cy) {
  if (isVideo_ || isAudio_) return false;
  try {
    std::unique_ptr<Bitmap> picture = LoadUpright(path_);
    if (!picture) return false;
    const int w = static_cast<int>(picture->GetWidth());
    const int h = static_cast<int>(picture->GetHeight());
    const double m = std::max(cx, cy);
    const double s = std::min(m / w, m / h);
    const int tw = static_cast<int>(w * s);
    const int th = static_cast<int>(h * s);
    if (tw < 1 || th < 1) return false;

    std::unique_ptr<Bitmap> scaled = OnWhite(*picture, tw, th);
    if (!scaled) return false;
    const std::string temp = WriteTempJpeg(*scaled, path_);
    if (temp.empty()) return false;
    picture.reset();
    scaled.reset();
    ReplaceCurrentFile(temp);
    width_ = tw;
    height_ = th;
    return true;
  } catch (const std::bad_alloc&) {
    return false;  // nothing has changed yet
  }
}
