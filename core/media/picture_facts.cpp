#include "core/media/picture_facts.h"

#include <cstdint>

#include "core/media/exif.h"

namespace quib {
namespace {

unsigned Byte(const std::string& s, size_t i) {
  return static_cast<unsigned char>(s[i]);
}
uint32_t Big16(const std::string& s, size_t i) {
  return Byte(s, i) << 8 | Byte(s, i + 1);
}
uint32_t Big32(const std::string& s, size_t i) {
  return Big16(s, i) << 16 | Big16(s, i + 2);
}
uint32_t Little16(const std::string& s, size_t i) {
  return Byte(s, i) | Byte(s, i + 1) << 8;
}
uint32_t Little32(const std::string& s, size_t i) {
  return Little16(s, i) | Little16(s, i + 2) << 16;
}

bool IsFrameMarker(unsigned marker) {
  // SOF0 to SOF15 but DHT (C4), JPG (C8) and DAC (CC).
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Sizes beyond this are taken for damage (and would overflow pixel counts).
constexpr uint32_t MaxSide = 65535;

bool JpegSize(const std::string& jpeg, int& width, int& height) {
  size_t pos = 2;
  while (pos + 4 <= jpeg.size()) {
    if (Byte(jpeg, pos) != 0xFF) return false;
    const unsigned marker = Byte(jpeg, pos + 1);
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      pos += 2;  // no length
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return false;  // image data before any frame header
    const size_t length = Big16(jpeg, pos + 2);
    if (length < 2) return false;
    if (IsFrameMarker(marker)) {
      if (length < 7 || pos + 9 > jpeg.size()) return false;
      const uint32_t h = Big16(jpeg, pos + 5);
      const uint32_t w = Big16(jpeg, pos + 7);
      // A height of 0 is defined later in the data (DNL): not for us.
      if (w == 0 || h == 0) return false;
      const bool swapped = OrientationSwapsSides(ReadJpegOrientation(jpeg));
      width = static_cast<int>(swapped ? h : w);
      height = static_cast<int>(swapped ? w : h);
      return true;
    }
    pos += 2 + length;
  }
  return false;
}

bool PngSize(const std::string& png, int& width, int& height) {
  if (png.size() < 24 || png.compare(12, 4, "IHDR") != 0) return false;
  const uint32_t w = Big32(png, 16);
  const uint32_t h = Big32(png, 20);
  if (w == 0 || h == 0 || w > MaxSide || h > MaxSide) return false;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

bool BmpSize(const std::string& bmp, int& width, int& height) {
  if (bmp.size() < 26) return false;
  const uint32_t headerSize = Little32(bmp, 14);
  uint32_t w;
  uint32_t h;
  if (headerSize == 12) {  // OS/2 core header
    w = Little16(bmp, 18);
    h = Little16(bmp, 20);
  } else if (headerSize >= 40) {
    w = Little32(bmp, 18);
    const int32_t signedHeight = static_cast<int32_t>(Little32(bmp, 22));
    // Negative: stored top-down, same size.
    h = signedHeight < 0 ? 0u - static_cast<uint32_t>(signedHeight)
                         : static_cast<uint32_t>(signedHeight);
  } else {
    return false;
  }
  if (w == 0 || h == 0 || w > MaxSide || h > MaxSide) return false;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

}  // namespace

bool ReadPictureSize(const std::string& head, int& width, int& height) {
  if (head.size() >= 4 && Byte(head, 0) == 0xFF && Byte(head, 1) == 0xD8) {
    return JpegSize(head, width, height);
  }
  if (head.compare(0, 8, std::string("\x89PNG\r\n\x1A\n", 8)) == 0) {
    return PngSize(head, width, height);
  }
  if (head.compare(0, 2, "BM") == 0) return BmpSize(head, width, height);
  return false;
}

}  // namespace quib
