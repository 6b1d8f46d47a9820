// GDI+ for the picture work: start-up once per process, encoder lookup and
// wide file names.
#pragma once

#include <windows.h>

#include <objidl.h>

// gdiplus.h expects min and max; the build defines NOMINMAX.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <memory>
#include <string>

#include "adapters/long_path.h"  // LongWidePath for GDI+ file names

// Starts GDI+ on first use (version 1, its background thread and external
// codecs allowed); it stays started until the process ends, because items
// and dialogs use it at any time. False when it cannot be started.
bool EnsureGdiplus();

// The class id of the installed encoder whose media type is exactly mimeType.
bool GetEncoderClsid(const wchar_t* mimeType, CLSID* clsid);

// Loads a picture file; nullptr when GDI+ cannot read it. The file stays
// open as long as the bitmap lives.
std::unique_ptr<Gdiplus::Bitmap> LoadGdiplusBitmap(const std::string& path);

// Saves an image as JPEG with the given quality (0 to 100).
bool SaveJpeg(Gdiplus::Image& image, const std::string& path, long quality);

// Encodes an image into memory with the encoder of a media type
// ("image/png"); the encoder's status (Ok unless every byte was encoded).
Gdiplus::Status EncodeImage(Gdiplus::Image& image, const wchar_t* mime,
                            const Gdiplus::EncoderParameters* params, std::string& bytes);
// Encodes an image as JPEG (quality 0 to 100) into memory.
Gdiplus::Status EncodeJpeg(Gdiplus::Image& image, long quality, std::string& bytes);

// A GDI+ bitmap decoded from bytes in memory; the stream it reads from
// lives as long as the bitmap.
class CGdiplusDecoded {
 public:
  explicit CGdiplusDecoded(const std::string& bytes);
  ~CGdiplusDecoded();
  CGdiplusDecoded(const CGdiplusDecoded&) = delete;
  CGdiplusDecoded& operator=(const CGdiplusDecoded&) = delete;
  // nullptr when the bytes are no picture GDI+ reads.
  Gdiplus::Bitmap* Get() const { return bitmap_.get(); }

 private:
  IStream* stream_ = nullptr;
  std::unique_ptr<Gdiplus::Bitmap> bitmap_;
};
