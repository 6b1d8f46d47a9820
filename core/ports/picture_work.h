// The picture work the program asks of the imaging library: thumbnails,
// pixel sizes the file's header does not tell, and the turned or shrunk
// JPEG copies in the temporary folder. GDI+ on Windows; tests use fakes.
// Every operation is all or nothing: on failure no temporary file is left.
#pragma once

#include <string>

#include "core/media/thumbnail_scheduler.h"

namespace quib {

// A new temporary JPEG made from a picture, with its upright pixel size and,
// for a turned picture, its thumbnail.
struct PictureCopy {
  std::string path;
  int width = 0;
  int height = 0;
  ThumbnailData thumbnail;
};

class IPictureWork {
 public:
  virtual ~IPictureWork() = default;
  // The thumbnail of the job's picture for the job's DPI (framed, as a
  // turned picture's, when it says so) and the picture's upright pixel size,
  // on any thread (the thumbnail workers). An unreadable picture gives
  // readable = false, size 0 x 0 and the white canvas; id and version are
  // left as they are.
  virtual void MakeThumbnail(const ThumbnailJob& job, ThumbnailResult& result) = 0;
  // The upright pixel size of a picture, decoded by the imaging library.
  virtual bool MeasurePicture(const std::string& path, int& width, int& height) = 0;
  // The picture turned 90 degrees clockwise, transparent areas white, with
  // the framed thumbnail of a turned picture for the DPI given.
  virtual bool Rotate(const std::string& path, int thumbnailDpi, PictureCopy& copy) = 0;
  // The upright picture fitted into a box x box square, transparent areas
  // white. The copy keeps the EXIF block of the file it was made from.
  virtual bool Shrink(const std::string& path, int box, PictureCopy& copy) = 0;
};

}  // namespace quib
