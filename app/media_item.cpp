#include "app/media_item.h"

#include <atomic>
#include <climits>
#include <cmath>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "app/exif.h"
#include "app/picture_facts.h"
#include "app/thumbnail_maker.h"
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

// Items are numbered in the order they are made.
std::atomic<uint64_t> g_nextId{1};

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, strlen(prefix), prefix) == 0;
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

// The EXIF orientation of a file, 0 when it has none (or is no JPEG).
int FileOrientation(const std::string& path) {
  return quib::ReadJpegOrientation(quib::ReadFileHead(path, quib::ExifHeadSize));
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
  const std::string head = quib::ReadFileHead(madeFrom, quib::ExifHeadSize);
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
    : CMediaItem(path, mediaType, DeferThumbnail()) {
  MakeThumbnailNow();
}

CMediaItem::CMediaItem(const std::string& path, const std::string& mediaType, DeferThumbnail)
    : path_(path), sourcePath_(path), id_(g_nextId.fetch_add(1)) {
  EnsureGdiplus();
  // A backslash may be the trail byte of a double-byte character.
  name_ = quib::FileNameOfPath(path);
  isVideo_ = StartsWith(mediaType, "video/");
  isAudio_ = StartsWith(mediaType, "audio/");
  // Movies and audio files show a picture of the program's own.
  thumbReady_ = isVideo_ || isAudio_;
  if (thumbReady_) sizeSource_ = SizeKnown;  // 0 x 0
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

CBitmap CMediaItem::GetThumbnail() const {
  if (isVideo_ || isAudio_) {
    const UINT id = isVideo_ ? IDB_MOVIE : IDB_AUDIO;
    return CBitmap(LoadBitmapA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(id)));
  }
  if (!thumbReady_) return CBitmap();
  return quib::ThumbnailBitmap(thumbnail_);
}

quib::ThumbnailJob CMediaItem::GetThumbnailJob() const {
  quib::ThumbnailJob job;
  job.id = id_;
  job.version = thumbVersion_;
  job.path = path_;
  return job;
}

bool CMediaItem::TakeThumbnail(const quib::ThumbnailResult& result) {
  if (result.id != id_ || result.version != thumbVersion_ || thumbReady_) return false;
  thumbnail_ = result.data;
  thumbReady_ = true;
  ++thumbVersion_;
  std::lock_guard<std::mutex> guard(sizeLock_);
  // A size set by a rotation or a shrink stays; one read from the header
  // gives way to the picture's (0 x 0 when it turned out unreadable).
  if (sizeSource_ != SizeKnown) {
    width_ = result.width;
    height_ = result.height;
    sizeSource_ = SizeKnown;
  }
  return true;
}

void CMediaItem::MakeThumbnailNow() {
  if (thumbReady_) return;
  quib::ThumbnailResult result;
  const quib::ThumbnailJob job = GetThumbnailJob();
  result.id = job.id;
  result.version = job.version;
  quib::MakePictureThumbnail(job.path, result);
  TakeThumbnail(result);
}

int CMediaItem::GetWidth() const {
  std::lock_guard<std::mutex> guard(sizeLock_);
  EnsureSize();
  return width_;
}

int CMediaItem::GetHeight() const {
  std::lock_guard<std::mutex> guard(sizeLock_);
  EnsureSize();
  return height_;
}

void CMediaItem::EnsureSize() const {
  if (sizeSource_ != SizeUnknown) return;
  sizeSource_ = SizeFromHeader;
  width_ = 0;
  height_ = 0;
  if (quib::ReadPictureSize(quib::ReadFileHead(path_, quib::ExifHeadSize), width_, height_)) {
    return;
  }
  // A format whose header we do not read: ask the imaging library.
  if (std::unique_ptr<Bitmap> picture = LoadGdiplusBitmap(path_)) {
    const bool swapped = quib::OrientationSwapsSides(FileOrientation(path_));
    width_ = static_cast<int>(swapped ? picture->GetHeight() : picture->GetWidth());
    height_ = static_cast<int>(swapped ? picture->GetWidth() : picture->GetHeight());
  }
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
    quib::ThumbnailData thumbnail;
    if (!FramedThumbnail(turned, thumbnail)) return false;
    const std::string temp = WriteTempJpeg(turned, path_);
    if (temp.empty()) return false;

    flat.reset();
    picture.reset();  // releases the current file before it is deleted
    ReplaceCurrentFile(temp);
    {
      std::lock_guard<std::mutex> guard(sizeLock_);
      width_ = w;
      height_ = h;
      sizeSource_ = SizeKnown;
    }
    // Replaces a thumbnail still on its way as well: that one is stale.
    thumbnail_ = std::move(thumbnail);
    thumbReady_ = true;
    ++thumbVersion_;
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
    {
      std::lock_guard<std::mutex> guard(sizeLock_);
      width_ = tw;
      height_ = th;
      sizeSource_ = SizeKnown;
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;  // nothing has changed yet
  }
}
