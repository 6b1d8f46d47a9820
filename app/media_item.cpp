#include "app/media_item.h"

#include <climits>
#include <cmath>
#include <memory>

#include "app/exif.h"
#include "framework/app.h"
#include "framework/gdiplus.h"
#include "net/media_type.h"
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

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (1LL << 30);
  if (ok) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD n = 0;
    ok = bytes.empty() ||
         (ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &n, nullptr) &&
          n == bytes.size());
  }
  CloseHandle(file);
  return ok;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
                  n == bytes.size();
  return CloseHandle(file) && ok;
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
  if (turn != RotateNoneFlipNone && bitmap->RotateFlip(turn) != Ok) return nullptr;
  return bitmap;
}

// The item's bitmap handle for a 104 x 78 canvas.
CBitmap ToHandle(Bitmap& canvas) {
  HBITMAP handle = nullptr;
  if (canvas.GetHBITMAP(OpaqueBlack, &handle) != Ok) return CBitmap();
  return CBitmap(handle);
}

// The whole picture scaled to w x h.
std::unique_ptr<Bitmap> ScaledCopy(Image& picture, int w, int h) {
  std::unique_ptr<Bitmap> copy(new Bitmap(w, h, PixelFormat32bppPARGB));
  if (copy->GetLastStatus() != Ok) return nullptr;
  Graphics graphics(copy.get());
  // Mirrored edges keep the border pixels from fading into transparency.
  ImageAttributes edges;
  edges.SetWrapMode(WrapModeTileFlipXY);
  const Status drawn =
      graphics.DrawImage(&picture, Rect(0, 0, w, h), 0, 0, static_cast<int>(picture.GetWidth()),
                         static_cast<int>(picture.GetHeight()), UnitPixel, &edges);
  return drawn == Ok ? std::move(copy) : nullptr;
}

std::unique_ptr<Bitmap> WhiteCanvas() {
  std::unique_ptr<Bitmap> canvas(
      new Bitmap(CMediaItem::ThumbWidth, CMediaItem::ThumbHeight, PixelFormat24bppRGB));
  if (canvas->GetLastStatus() != Ok) return nullptr;
  Graphics graphics(canvas.get());
  graphics.Clear(ThumbBackground);
  return canvas;
}

// Writes a JPEG of the picture into a new temporary file and carries the
// EXIF block of the file it was made from over to it. Returns the new
// file's path, empty on failure (nothing is left behind then).
std::string WriteTempJpeg(Image& picture, const std::string& madeFrom) {
  std::string temp;
  if (!quib::MakeTempFileName(temp)) return std::string();
  if (!SaveJpeg(picture, temp, JpegQuality)) {
    DeleteFileA(temp.c_str());
    return std::string();
  }
  // Best effort: a copy without the camera's data is still the right picture.
  const std::string head = ReadFileHead(madeFrom, quib::ExifHeadSize);
  size_t offset;
  size_t size;
  if (quib::FindExifSegment(head, offset, size)) {
    std::string segment = head.substr(offset, size);
    std::string jpeg;
    if (quib::NormalizeExifSegment(segment, picture.GetWidth(), picture.GetHeight()) &&
        ReadWholeFile(temp, jpeg) && quib::PutExifSegment(jpeg, segment)) {
      WriteWholeFile(temp, jpeg);
    }
  }
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

std::string ListCaption(const std::string& name) {
  return name.size() > 13 ? name.substr(0, 11) + "..." : name;
}

}  // namespace quib

CMediaItem::CMediaItem(const std::string& path) : CMediaItem(path, DetectMediaType(path)) {}

CMediaItem::CMediaItem(const std::string& path, const std::string& mediaType)
    : path_(path), sourcePath_(path) {
  EnsureGdiplus();
  const size_t slash = path.find_last_of('\\');
  name_ = slash == std::string::npos ? path : path.substr(slash + 1);
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
  return name_.size() > n ? name_.substr(0, n) + "..." : name_;
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

bool CMediaItem::Rotate() {
  if (isVideo_ || isAudio_) return false;
  std::unique_ptr<Bitmap> picture = LoadUpright(path_);
  if (!picture || picture->RotateFlip(Rotate90FlipNone) != Ok) return false;
  const std::string temp = WriteTempJpeg(*picture, path_);
  if (temp.empty()) return false;

  const int w = static_cast<int>(picture->GetWidth());
  const int h = static_cast<int>(picture->GetHeight());
  std::unique_ptr<Bitmap> canvas = WhiteCanvas();
  if (canvas) {
    const double s = std::min(double{FramedWidth} / w, double{FramedHeight} / h);
    const int tw = std::max(1, static_cast<int>(w * s));
    const int th = std::max(1, static_cast<int>(h * s));
    Graphics graphics(canvas.get());
    Pen frame(FrameColour, 1.0f);
    graphics.DrawRectangle(&frame, 0, 0, ThumbWidth - 1, ThumbHeight - 1);
    // Scaled from the turned picture itself (a preview stored in the file
    // would still show it unturned), then placed at its own size.
    if (std::unique_ptr<Bitmap> thumb = ScaledCopy(*picture, tw, th)) {
      graphics.DrawImage(thumb.get(), Rect((ThumbWidth - tw) / 2, (ThumbHeight - th) / 2, tw, th));
    }
  }
  picture.reset();  // releases the current file before it is deleted
  ReplaceCurrentFile(temp);
  width_ = w;
  height_ = h;
  if (canvas) thumbnail_ = ToHandle(*canvas);
  return true;
}

bool CMediaItem::Resize(int cx, int cy) {
  if (isVideo_ || isAudio_) return false;
  std::unique_ptr<Bitmap> picture = LoadUpright(path_);
  if (!picture) return false;
  const int w = static_cast<int>(picture->GetWidth());
  const int h = static_cast<int>(picture->GetHeight());
  const double m = std::max(cx, cy);
  const double s = std::min(m / w, m / h);
  const int tw = static_cast<int>(w * s);
  const int th = static_cast<int>(h * s);
  if (tw < 1 || th < 1) return false;

  // GDI+ cannot draw into palette bitmaps: those get direct colour.
  PixelFormat format = picture->GetPixelFormat();
  if (IsIndexedPixelFormat(format) || format == PixelFormat16bppGrayScale) {
    format = PixelFormat24bppRGB;
  }
  std::unique_ptr<Bitmap> scaled(new Bitmap(tw, th, format));
  std::unique_ptr<Graphics> probe(Graphics::FromImage(scaled.get()));
  if (scaled->GetLastStatus() != Ok || !probe || probe->GetLastStatus() != Ok) {
    // Formats GDI+ cannot draw into (CMYK and the like): direct colour too.
    probe.reset();
    scaled.reset(new Bitmap(tw, th, PixelFormat24bppRGB));
  }
  probe.reset();
  {
    Graphics graphics(scaled.get());
    if (graphics.GetLastStatus() != Ok) return false;
    graphics.SetSmoothingMode(SmoothingModeHighQuality);
    graphics.SetInterpolationMode(InterpolationModeHighQualityBicubic);
    graphics.SetPixelOffsetMode(PixelOffsetModeHalf);
    // Mirrored edges keep the border pixels from fading into transparency.
    ImageAttributes edges;
    edges.SetWrapMode(WrapModeTileFlipXY);
    graphics.DrawImage(picture.get(), Rect(0, 0, tw, th), 0, 0, w, h, UnitPixel, &edges);
  }
  const std::string temp = WriteTempJpeg(*scaled, path_);
  if (temp.empty()) return false;
  picture.reset();
  scaled.reset();
  ReplaceCurrentFile(temp);
  width_ = tw;
  height_ = th;
  return true;
}
