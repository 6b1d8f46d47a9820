#include "core/media/exif.h"

#include <vector>

namespace quib {
namespace {

constexpr unsigned char MarkerSoi = 0xD8;
constexpr unsigned char MarkerEoi = 0xD9;
constexpr unsigned char MarkerSos = 0xDA;
constexpr unsigned char MarkerApp0 = 0xE0;
constexpr unsigned char MarkerApp1 = 0xE1;

constexpr uint16_t TagOrientation = 0x0112;
constexpr uint16_t TagExifIfd = 0x8769;
constexpr uint16_t TagPixelXDimension = 0xA002;
constexpr uint16_t TagPixelYDimension = 0xA003;
constexpr uint16_t TagCompression = 0x0103;
constexpr uint16_t TagPreviewOffset = 0x0201;  // JPEGInterchangeFormat
constexpr uint16_t TagPreviewLength = 0x0202;  // JPEGInterchangeFormatLength
constexpr uint32_t CompressionJpeg = 6;
constexpr uint16_t TypeShort = 3;
constexpr uint16_t TypeLong = 4;

// Bytes of the segment before the TIFF header: marker, length, "Exif\0\0".
constexpr size_t TiffStart = 10;

unsigned Byte(const std::string& s, size_t i) {
  return static_cast<unsigned char>(s[i]);
}

bool IsJpeg(const std::string& jpeg) {
  return jpeg.size() >= 4 && Byte(jpeg, 0) == 0xFF && Byte(jpeg, 1) == MarkerSoi;
}

struct Segment {
  size_t offset;
  size_t size;
  unsigned marker;
};

// The marker segments before the image data, as far as the bytes reach.
std::vector<Segment> ListSegments(const std::string& jpeg) {
  std::vector<Segment> segments;
  if (!IsJpeg(jpeg)) return segments;
  size_t pos = 2;
  while (pos + 4 <= jpeg.size() && Byte(jpeg, pos) == 0xFF) {
    const unsigned marker = Byte(jpeg, pos + 1);
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == MarkerSos || marker == MarkerEoi) break;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
      pos += 2;
      continue;
    }
    const size_t length = (Byte(jpeg, pos + 2) << 8) | Byte(jpeg, pos + 3);
    if (length < 2) break;
    segments.push_back({pos, 2 + length, marker});
    pos += 2 + length;
  }
  return segments;
}

bool IsExifSegment(const std::string& jpeg, const Segment& s) {
  return s.marker == MarkerApp1 && s.size >= TiffStart + 8 && s.offset + TiffStart <= jpeg.size() &&
         jpeg.compare(s.offset + 4, 6, std::string("Exif\0\0", 6)) == 0;
}

// The TIFF structure inside an EXIF segment, read and patched in place.
class CTiff {
 public:
  CTiff(std::string& segment) : s_(segment) {}

  bool Open() {
    if (s_.size() < TiffStart + 8) return false;
    if (s_.compare(TiffStart, 2, "II") == 0) {
      little_ = true;
    } else if (s_.compare(TiffStart, 2, "MM") == 0) {
      little_ = false;
    } else {
      return false;
    }
    return Get16(2) == 42;
  }
  size_t Size() const { return s_.size() - TiffStart; }

  bool In(uint64_t offset, uint64_t count) const { return offset + count <= Size(); }
  uint32_t Get16(size_t at) const {
    const size_t p = TiffStart + at;
    return little_ ? Byte(s_, p) | Byte(s_, p + 1) << 8 : Byte(s_, p) << 8 | Byte(s_, p + 1);
  }
  uint32_t Get32(size_t at) const {
    return little_ ? Get16(at) | Get16(at + 2) << 16 : Get16(at) << 16 | Get16(at + 2);
  }
  void Put16(size_t at, uint32_t v) {
    const size_t p = TiffStart + at;
    s_[p + (little_ ? 0 : 1)] = static_cast<char>(v & 0xFF);
    s_[p + (little_ ? 1 : 0)] = static_cast<char>((v >> 8) & 0xFF);
  }
  void Put32(size_t at, uint32_t v) {
    Put16(at + (little_ ? 0 : 2), v & 0xFFFF);
    Put16(at + (little_ ? 2 : 0), v >> 16);
  }

  // Offset of the first entry and the entry count of the IFD at offset;
  // false when it does not fit.
  bool Ifd(uint32_t offset, size_t& first, uint32_t& count) const {
    if (offset < 8 || !In(offset, 2)) return false;
    count = Get16(offset);
    first = offset + 2;
    return In(first, uint64_t{count} * 12 + 4);
  }
  // The entry with the tag in the IFD at offset, or 0.
  size_t Find(uint32_t ifd, uint16_t tag) const {
    size_t first;
    uint32_t count;
    if (!Ifd(ifd, first, count)) return 0;
    for (uint32_t i = 0; i < count; ++i) {
      if (Get16(first + i * 12) == tag) return first + i * 12;
    }
    return 0;
  }
  // An entry's single SHORT or LONG value, stored in the entry itself.
  bool GetValue(size_t entry, uint32_t& value) const {
    if (!entry || Get32(entry + 4) != 1) return false;
    const uint32_t type = Get16(entry + 2);
    if (type == TypeShort) {
      value = Get16(entry + 8);
    } else if (type == TypeLong) {
      value = Get32(entry + 8);
    } else {
      return false;
    }
    return true;
  }
  bool SetValue(size_t entry, uint32_t value) {
    if (!entry || Get32(entry + 4) != 1) return false;
    const uint32_t type = Get16(entry + 2);
    if (type == TypeShort && value <= 0xFFFF) {
      Put16(entry + 8, value);
      Put16(entry + 10, 0);
    } else if (type == TypeLong) {
      Put32(entry + 8, value);
    } else if (type == TypeShort) {
      return false;
    }
    return true;
  }

 private:
  std::string& s_;
  bool little_ = true;
};

}  // namespace

bool FindExifSegment(const std::string& jpeg, size_t& offset, size_t& size) {
  for (const Segment& s : ListSegments(jpeg)) {
    if (IsExifSegment(jpeg, s) && s.offset + s.size <= jpeg.size()) {
      offset = s.offset;
      size = s.size;
      return true;
    }
  }
  return false;
}

int ReadJpegOrientation(const std::string& jpeg) {
  size_t offset;
  size_t size;
  if (!FindExifSegment(jpeg, offset, size)) return 0;
  std::string segment = jpeg.substr(offset, size);
  CTiff tiff(segment);
  if (!tiff.Open()) return 0;
  uint32_t value = 0;
  if (!tiff.GetValue(tiff.Find(tiff.Get32(4), TagOrientation), value)) return 0;
  return value >= 1 && value <= 8 ? static_cast<int>(value) : 0;
}

bool FindExifPreview(const std::string& jpeg, size_t& offset, size_t& size) {
  size_t segmentOffset;
  size_t segmentSize;
  if (!FindExifSegment(jpeg, segmentOffset, segmentSize)) return false;
  std::string segment = jpeg.substr(segmentOffset, segmentSize);
  CTiff tiff(segment);
  if (!tiff.Open()) return false;
  const uint32_t ifd0 = tiff.Get32(4);
  size_t first;
  uint32_t count;
  if (!tiff.Ifd(ifd0, first, count)) return false;
  const uint32_t ifd1 = tiff.Get32(first + count * 12);
  uint32_t start = 0;
  uint32_t length = 0;
  if (!tiff.GetValue(tiff.Find(ifd1, TagPreviewOffset), start) ||
      !tiff.GetValue(tiff.Find(ifd1, TagPreviewLength), length) || length < 4 ||
      !tiff.In(start, length)) {
    return false;
  }
  // A preview stored uncompressed (TIFF strips) is not a JPEG.
  uint32_t compression = CompressionJpeg;
  if (tiff.GetValue(tiff.Find(ifd1, TagCompression), compression) &&
      compression != CompressionJpeg) {
    return false;
  }
  offset = segmentOffset + TiffStart + start;
  size = length;
  return IsJpeg(jpeg.substr(offset, 4));
}

bool NormalizeExifSegment(std::string& segment, uint32_t width, uint32_t height) {
  CTiff tiff(segment);
  if (!tiff.Open()) return false;
  const uint32_t ifd0 = tiff.Get32(4);
  size_t first;
  uint32_t count;
  if (!tiff.Ifd(ifd0, first, count)) return false;
  if (const size_t entry = tiff.Find(ifd0, TagOrientation)) tiff.SetValue(entry, 1);
  uint32_t exifIfd = 0;
  if (tiff.GetValue(tiff.Find(ifd0, TagExifIfd), exifIfd)) {
    tiff.SetValue(tiff.Find(exifIfd, TagPixelXDimension), width);
    tiff.SetValue(tiff.Find(exifIfd, TagPixelYDimension), height);
  }
  // No next IFD: the preview picture lives in IFD1.
  tiff.Put32(first + count * 12, 0);
  return true;
}

bool PutExifSegment(std::string& jpeg, const std::string& segment) {
  if (!IsJpeg(jpeg)) return false;
  const std::vector<Segment> segments = ListSegments(jpeg);
  size_t insertAt = 2;
  if (!segments.empty() && segments[0].marker == MarkerApp0 && segments[0].offset == 2) {
    insertAt = 2 + segments[0].size;
  }
  // Drop existing EXIF segments, last first so earlier offsets stay valid.
  size_t removedBefore = 0;
  for (auto it = segments.rbegin(); it != segments.rend(); ++it) {
    if (!IsExifSegment(jpeg, *it)) continue;
    jpeg.erase(it->offset, it->size);
    if (it->offset < insertAt) removedBefore += it->size;
  }
  jpeg.insert(insertAt - removedBefore, segment);
  return true;
}

}  // namespace quib
