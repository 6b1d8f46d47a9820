// Reading and carrying over the EXIF block of JPEG files: the orientation
// tag that says how a camera picture must be turned to be upright, and the
// block itself, which our rotated and shrunk copies keep (camera, date, GPS)
// with the orientation set to normal. Portable byte work, no Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quib {

// How many leading bytes of a file hold its EXIF block: the block comes
// right after the start marker (possibly after a JFIF header), and an APP
// segment is at most 64 KB.
constexpr size_t ExifHeadSize = 3 * 65536;

// Locates the APP1 "Exif\0\0" segment of a JPEG (the bytes may be only the
// head of the file). Sets offset to the segment's 0xFF marker and size to the
// whole segment (marker and length included). False when there is none.
bool FindExifSegment(const std::string& jpeg, size_t& offset, size_t& size);

// The orientation tag (1 to 8) of a JPEG's EXIF block; 0 when the bytes are
// not a JPEG, have no EXIF block, no orientation tag or a broken one.
int ReadJpegOrientation(const std::string& jpeg);

// True for the orientations that swap width and height (5 to 8).
inline bool OrientationSwapsSides(int orientation) {
  return orientation >= 5 && orientation <= 8;
}

// Makes an EXIF segment (as found by FindExifSegment) describe an upright
// picture of width x height: orientation 1, pixel dimensions updated where
// present, and the embedded preview picture dropped (it would show the old
// content). False when the segment cannot be parsed.
bool NormalizeExifSegment(std::string& segment, uint32_t width, uint32_t height);

// Where the preview picture of a JPEG's EXIF block lies in the bytes: the
// JPEG that cameras store in IFD1 (typically 160 x 120, inside the first
// 64 KB). Offset and size are those of the preview within jpeg. False when
// the block has no preview, it is not a JPEG, or it lies beyond the bytes.
bool FindExifPreview(const std::string& jpeg, size_t& offset, size_t& size);

// Replaces the EXIF segments of a JPEG with the given one, placed after the
// start marker and a JFIF header if present. False when the bytes are not a
// JPEG.
bool PutExifSegment(std::string& jpeg, const std::string& segment);

}  // namespace quib
