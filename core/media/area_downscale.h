// Shrinking a picture the careful way: each pixel of the small picture is the
// average of the area of the large one it covers, every source pixel weighted
// by how much of it lies inside. Fine detail turns into its true average
// instead of flickering between samples, whatever the ratio (a camera's
// picture to a thumbnail is 30 to 1). Portable; the imaging adapter hands in
// the pixels, a band of rows at a time, so that a large picture is never
// held whole in another pixel format.
#pragma once

#include <cstddef>
#include <vector>

namespace quib {

// Pixels of 3 or 4 bytes (any channel order, kept as it is; with 4, alpha
// premultiplied, so that averages stay right), rows stride bytes apart.
struct PixelRows {
  unsigned char* bits = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
  int channels = 3;
};

class CAreaDownscaler {
 public:
  // The part of a sourceWidth x sourceHeight picture that starts at (left,
  // top) and is width x height pixels (fractions allowed), into a target of
  // targetWidth x targetHeight. Meant for targets at or below the part's
  // size; above it each target pixel takes the source pixel under it.
  CAreaDownscaler(int channels, int sourceWidth, int sourceHeight, double left, double top,
                  double width, double height, int targetWidth, int targetHeight);
  // False when a size is not positive or the part leaves the source.
  bool Valid() const { return valid_; }
  // The source rows the target needs, in order: AddRow each of them.
  int FirstRow() const { return firstRow_; }
  int LastRow() const { return lastRow_; }
  void AddRow(int y, const unsigned char* row);
  // Writes the target (target's size and channels as given at construction).
  bool Finish(const PixelRows& target) const;

 private:
  struct CCover {
    int first = 0;
    std::vector<double> weights;  // add up to 1
  };
  static std::vector<CCover> Covers(double start, double length, int count, int sourceSize);

  bool valid_ = false;
  int channels_;
  int targetWidth_;
  int targetHeight_;
  std::vector<CCover> columns_;
  std::vector<CCover> rows_;
  int firstRow_ = 0;
  int lastRow_ = -1;
  std::size_t nextTarget_ = 0;  // the first target row that may still take source rows
  std::vector<double> across_;
  std::vector<double> sums_;
};

// The whole of a part of source shrunk into target in one go.
bool AreaDownscale(const PixelRows& source, double left, double top, double width, double height,
                   const PixelRows& target);

}  // namespace quib
