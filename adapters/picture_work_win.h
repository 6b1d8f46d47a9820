// The picture work over GDI+: thumbnails, pixel sizes, and the turned or
// shrunk JPEG copies written into the temporary folder.
#pragma once

#include <string>

#include "core/ports/picture_work.h"

namespace quib {

class CGdiplusPictureWork : public IPictureWork {
 public:
  void MakeThumbnail(const ThumbnailJob& job, ThumbnailResult& result) override;
  bool MeasurePicture(const std::string& path, int& width, int& height) override;
  bool Rotate(const std::string& path, int thumbnailDpi, PictureCopy& copy) override;
  bool Shrink(const std::string& path, int box, PictureCopy& copy) override;
};

// Reserves an empty file with the prefix "NEW" in the temporary folder.
bool MakeTempFileName(std::string& path);

// For tests: the n-th checked step of the picture work from now on (a status
// of GDI+, the creation, a write or the closing of a file) fails, as when
// memory or disk space runs out; 0 fails none. PictureStepPendingForTest
// tells whether that step is still to come.
void FailPictureStepForTest(int n);
bool PictureStepPendingForTest();

}  // namespace quib
