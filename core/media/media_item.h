// One file of the upload list: the user's picture, movie or audio file, the
// name, keywords and description it is uploaded with, its pixel size and
// the thumbnail the list shows (104 x 78 at 96 DPI, larger with the DPI;
// kept compact, windows draw it).
// Rotating and shrinking write JPEG copies into the temporary folder through
// the platform's picture work; the user's file is never written.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "core/media/thumbnail_scheduler.h"
#include "core/text/short_name.h"

namespace quib {
struct PictureCopy;
}  // namespace quib

class CMediaItem {
 public:
  static constexpr int ThumbWidth = 104;
  static constexpr int ThumbHeight = 78;
  // The thumbnail's canvas for a DPI: 104 x 78 at 96, scaled and rounded.
  static constexpr int ThumbWidthAt(int dpi) { return (ThumbWidth * dpi + 48) / 96; }
  static constexpr int ThumbHeightAt(int dpi) { return (ThumbHeight * dpi + 48) / 96; }
  // The width of the light grey frame around a turned picture's thumbnail:
  // 1 pixel at 96 DPI. The picture inside keeps as much again from it.
  static constexpr int ThumbFrameAt(int dpi) { return dpi < 96 ? 1 : (dpi + 48) / 96; }

  // Tells the constructor to leave a picture's thumbnail for later (for the
  // list's workers): construction then reads nothing of the file.
  struct DeferThumbnail {};

  explicit CMediaItem(const std::string& path);
  // For a file whose media type the caller has just detected.
  CMediaItem(const std::string& path, const std::string& mediaType);
  CMediaItem(const std::string& path, const std::string& mediaType, DeferThumbnail);
  ~CMediaItem();
  CMediaItem(const CMediaItem&) = delete;
  CMediaItem& operator=(const CMediaItem&) = delete;

  // The file that is uploaded: the user's file, or the latest copy made by
  // Rotate or Resize.
  const std::string& GetPath() const { return path_; }
  // The file the user added.
  const std::string& GetSourcePath() const { return sourcePath_; }

  const std::string& GetName() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  const std::string& GetKeywords() const { return keywords_; }
  void SetKeywords(const std::string& keywords) { keywords_ = keywords; }
  const std::string& GetDescription() const { return description_; }
  void SetDescription(const std::string& description) { description_ = description; }

  // The name when it has at most n characters, else its first n characters
  // and "..." (whole UTF-8 characters, never half of one).
  std::string GetShortName(size_t n) const;

  // Unique in the process and increasing with each new item, so a thumbnail
  // made on a worker finds its item, and only its item.
  uint64_t GetId() const { return id_; }

  // A picture's thumbnail; the white canvas while a deferred one is not made
  // yet, and for movies and audio files (the windows show pictures of their
  // own for those).
  const quib::ThumbnailData& GetThumbnailData() const { return thumbnail_; }
  // False while a deferred thumbnail is not made yet; true for movies and
  // audio files.
  bool IsThumbnailReady() const { return thumbReady_; }
  // Changes whenever the thumbnail changes (made, turned).
  uint64_t GetThumbnailVersion() const { return thumbVersion_; }
  // The job that makes the thumbnail for a DPI (on any thread): a deferred
  // one, or the one it has again for another DPI.
  quib::ThumbnailJob GetThumbnailJob(int dpi = 96) const;
  // Takes a finished job's thumbnail (in place of the one it has, when it
  // was made for another DPI) and, unless rotation or shrinking have set
  // them since, its pixel size. False when the result is stale (the item
  // was turned meanwhile, or took a newer one) and nothing was taken.
  bool TakeThumbnail(const quib::ThumbnailResult& result);
  // Makes a deferred thumbnail now, on the calling thread.
  void MakeThumbnailNow(int dpi = 96);

  // Pixel size as shown; for a picture whose thumbnail is not made yet it is
  // read from the file's header now (the imaging library only when the
  // header does not tell).
  int GetWidth() const;
  int GetHeight() const;
  bool IsVideo() const { return isVideo_; }
  bool IsAudio() const { return isAudio_; }

  // Size of the current file in bytes; -1 when it cannot be opened.
  int GetFileSize() const;
  // Media type of the current file, detected on every call.
  std::string GetMimeType() const;

  // Turns a picture 90 degrees clockwise into a new temporary JPEG, with
  // its thumbnail for the DPI given. Transparent areas become white.
  // Returns false for movies and audio and when any step fails (memory,
  // disk); the item is then exactly as it was and no temporary file is left.
  bool Rotate(int thumbnailDpi = 96);
  // Fits a picture into a max(cx, cy) square box as a new temporary JPEG,
  // transparent areas white. The thumbnail stays. All or nothing, as Rotate.
  bool Resize(int cx, int cy);
  // Points the item at a copy that the picture work's Shrink made from its
  // current file on another thread, as Resize does with its own copy; the
  // item owns the copy from now on.
  void TakeShrunkCopy(const quib::PictureCopy& copy);

 private:
  // Reads the pixel size when nothing has told it yet.
  void EnsureSize() const;
  // Points the item at a freshly written temporary file, deleting the
  // previous temporary file.
  void ReplaceCurrentFile(const std::string& tempPath);

  std::string path_;
  std::string sourcePath_;
  bool ownsPath_ = false;  // path_ is a temporary copy of ours
  std::string name_;
  std::string keywords_;
  std::string description_;
  bool isVideo_ = false;
  bool isAudio_ = false;
  uint64_t id_;
  quib::ThumbnailData thumbnail_;
  bool thumbReady_ = false;
  uint64_t thumbVersion_ = 0;
  // Where the pixel size came from: nothing yet, the file's header (a
  // finished thumbnail may still correct it), or the picture itself.
  enum SizeSource { SizeUnknown, SizeFromHeader, SizeKnown };
  // The run's thread asks for the size while the window's thread may take a
  // thumbnail.
  mutable std::mutex sizeLock_;
  mutable SizeSource sizeSource_ = SizeUnknown;
  mutable int width_ = 0;
  mutable int height_ = 0;
};
