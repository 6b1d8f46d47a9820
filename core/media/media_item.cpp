#include "core/media/media_item.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>

#include "core/media/exif.h"
#include "core/media/picture_facts.h"
#include "core/ports/file_port.h"
#include "core/ports/picture_work.h"
#include "core/ports/platform.h"
#include "core/protocol/media_type.h"
#include "core/protocol/multipart.h"

namespace {

// Items are numbered in the order they are made.
std::atomic<uint64_t> g_nextId{1};

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, strlen(prefix), prefix) == 0;
}

}  // namespace

CMediaItem::CMediaItem(const std::string& path) : CMediaItem(path, DetectMediaType(path)) {}

CMediaItem::CMediaItem(const std::string& path, const std::string& mediaType)
    : CMediaItem(path, mediaType, DeferThumbnail()) {
  MakeThumbnailNow();
}

CMediaItem::CMediaItem(const std::string& path, const std::string& mediaType, DeferThumbnail)
    : path_(path), sourcePath_(path), id_(g_nextId.fetch_add(1)) {
  // A backslash may be the trail byte of a double-byte character.
  name_ = quib::FileNameOfPath(path);
  isVideo_ = StartsWith(mediaType, "video/");
  isAudio_ = StartsWith(mediaType, "audio/");
  // Movies and audio files show a picture of the program's own.
  thumbReady_ = isVideo_ || isAudio_;
  if (thumbReady_) sizeSource_ = SizeKnown;  // 0 x 0
}

CMediaItem::~CMediaItem() {
  if (ownsPath_) quib::Files().Remove(path_);
}

void CMediaItem::ReplaceCurrentFile(const std::string& tempPath) {
  if (ownsPath_) quib::Files().Remove(path_);
  path_ = tempPath;
  ownsPath_ = true;
}

std::string CMediaItem::GetShortName(size_t n) const {
  return quib::ShortName(name_, n);
}

int CMediaItem::GetFileSize() const {
  uint64_t size = 0;
  if (!quib::Files().QuerySize(path_, size)) return -1;
  return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

std::string CMediaItem::GetMimeType() const {
  return DetectMediaType(path_);
}

quib::ThumbnailJob CMediaItem::GetThumbnailJob(int dpi) const {
  quib::ThumbnailJob job;
  job.id = id_;
  job.version = thumbVersion_;
  job.path = path_;
  job.dpi = dpi;
  // A turned picture keeps its frame when it is made again.
  job.framed = thumbReady_ && thumbnail_.framed;
  return job;
}

bool CMediaItem::TakeThumbnail(const quib::ThumbnailResult& result) {
  // Every change of the thumbnail counts up the version: a result of an
  // older one is stale.
  if (result.id != id_ || result.version != thumbVersion_ || isVideo_ || isAudio_) return false;
  thumbnail_ = result.data;
  thumbnail_.dpi = result.dpi;
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

void CMediaItem::MakeThumbnailNow(int dpi) {
  if (isVideo_ || isAudio_ || (thumbReady_ && thumbnail_.dpi == dpi)) return;
  quib::ThumbnailResult result;
  const quib::ThumbnailJob job = GetThumbnailJob(dpi);
  result.id = job.id;
  result.version = job.version;
  result.dpi = job.dpi;
  quib::Pictures().MakeThumbnail(job, result);
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
  if (quib::ReadPictureSize(quib::ReadFileHead(quib::Files(), path_, quib::ExifHeadSize), width_,
                            height_)) {
    return;
  }
  // A format whose header we do not read: ask the imaging library.
  if (!quib::Pictures().MeasurePicture(path_, width_, height_)) {
    width_ = 0;
    height_ = 0;
  }
}

bool CMediaItem::Rotate(int thumbnailDpi) {
  if (isVideo_ || isAudio_) return false;
  quib::PictureCopy copy;
  if (!quib::Pictures().Rotate(path_, thumbnailDpi, copy)) return false;
  ReplaceCurrentFile(copy.path);
  {
    std::lock_guard<std::mutex> guard(sizeLock_);
    width_ = copy.width;
    height_ = copy.height;
    sizeSource_ = SizeKnown;
  }
  // Replaces a thumbnail still on its way as well: that one is stale.
  thumbnail_ = std::move(copy.thumbnail);
  thumbReady_ = true;
  ++thumbVersion_;
  return true;
}

bool CMediaItem::Resize(int cx, int cy) {
  if (isVideo_ || isAudio_) return false;
  quib::PictureCopy copy;
  if (!quib::Pictures().Shrink(path_, std::max(cx, cy), copy)) return false;
  TakeShrunkCopy(copy);
  return true;
}

void CMediaItem::TakeShrunkCopy(const quib::PictureCopy& copy) {
  ReplaceCurrentFile(copy.path);
  std::lock_guard<std::mutex> guard(sizeLock_);
  width_ = copy.width;
  height_ = copy.height;
  sizeSource_ = SizeKnown;
}
