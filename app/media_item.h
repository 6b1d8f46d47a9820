// One file of the upload list: the user's picture, movie or audio file, the
// name, keywords and description it is uploaded with, its pixel size and
// the 104 x 78 thumbnail the list shows. Rotating and shrinking write JPEG
// copies into the temporary folder; the user's file is never written.
#pragma once

#include <windows.h>

#include <string>

#include "app/short_name.h"
#include "framework/gdi.h"

class CMediaItem {
 public:
  static constexpr int ThumbWidth = 104;
  static constexpr int ThumbHeight = 78;

  explicit CMediaItem(const std::string& path);
  // For a file whose media type the caller has just detected.
  CMediaItem(const std::string& path, const std::string& mediaType);
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
  // and "..." (characters of the ANSI code page, never half of one).
  std::string GetShortName(size_t n) const;

  // Borrowed; nullptr when the item has no thumbnail.
  HBITMAP GetThumbnail() const { return thumbnail_.Get(); }
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  bool IsVideo() const { return isVideo_; }
  bool IsAudio() const { return isAudio_; }

  // Size of the current file in bytes; -1 when it cannot be opened.
  int GetFileSize() const;
  // Media type of the current file, detected on every call.
  std::string GetMimeType() const;

  // Turns a picture 90 degrees clockwise into a new temporary JPEG.
  // Transparent areas become white. Returns false for movies and audio and
  // when any step fails (memory, disk); the item is then exactly as it was
  // and no temporary file is left.
  bool Rotate();
  // Fits a picture into a max(cx, cy) square box as a new temporary JPEG,
  // transparent areas white. The thumbnail stays. All or nothing, as Rotate.
  bool Resize(int cx, int cy);

 private:
  void MakeThumbnail();
  // Points the item at a freshly written temporary file, deleting the
  // previous temporary file.
  void ReplaceCurrentFile(const std::string& tempPath);
  bool OwnsCurrentFile() const;

  std::string path_;
  std::string sourcePath_;
  std::string name_;
  std::string keywords_;
  std::string description_;
  CBitmap thumbnail_;
  int width_ = 0;
  int height_ = 0;
  bool isVideo_ = false;
  bool isAudio_ = false;
};

namespace quib {

// Reserves an empty file with the prefix "NEW" in the temporary folder.
bool MakeTempFileName(std::string& path);

// For tests: the n-th checked step of the picture work from now on (a status
// of GDI+, the creation, a write or the closing of a file) fails, as when
// memory or disk space runs out; 0 fails none. PictureStepPendingForTest
// tells whether that step is still to come.
void FailPictureStepForTest(int n);
bool PictureStepPendingForTest();

}  // namespace quib
