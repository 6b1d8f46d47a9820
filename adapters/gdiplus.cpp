#include "adapters/gdiplus.h"

#include <mutex>
#include <vector>

bool EnsureGdiplus() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback
    ULONG_PTR token = 0;
    started = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
  });
  return started;
}

bool GetEncoderClsid(const wchar_t* mimeType, CLSID* clsid) {
  UINT count = 0;
  UINT size = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
  std::vector<unsigned char> buffer(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (codecs[i].MimeType && wcscmp(codecs[i].MimeType, mimeType) == 0) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

std::unique_ptr<Gdiplus::Bitmap> LoadGdiplusBitmap(const std::string& path) {
  if (!EnsureGdiplus()) return nullptr;
  const std::wstring wide = quib::LongWidePath(path);
  std::unique_ptr<Gdiplus::Bitmap> bitmap(new Gdiplus::Bitmap(wide.c_str()));
  if (bitmap->GetLastStatus() != Gdiplus::Ok || bitmap->GetWidth() == 0 ||
      bitmap->GetHeight() == 0) {
    return nullptr;
  }
  return bitmap;
}

namespace {

// The JPEG encoder's quality parameter; points at quality.
Gdiplus::EncoderParameters JpegQuality(long& quality) {
  Gdiplus::EncoderParameters params;
  params.Count = 1;
  params.Parameter[0].Guid = Gdiplus::EncoderQuality;
  params.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
  params.Parameter[0].NumberOfValues = 1;
  params.Parameter[0].Value = &quality;
  return params;
}

}  // namespace

bool SaveJpeg(Gdiplus::Image& image, const std::string& path, long quality) {
  CLSID jpeg;
  if (!GetEncoderClsid(L"image/jpeg", &jpeg)) return false;
  const Gdiplus::EncoderParameters params = JpegQuality(quality);
  const std::wstring wide = quib::LongWidePath(path);
  return image.Save(wide.c_str(), &jpeg, &params) == Gdiplus::Ok;
}

Gdiplus::Status EncodeImage(Gdiplus::Image& image, const wchar_t* mime,
                            const Gdiplus::EncoderParameters* params, std::string& bytes) {
  bytes.clear();
  CLSID encoder;
  if (!GetEncoderClsid(mime, &encoder)) return Gdiplus::UnknownImageFormat;
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) || !stream) {
    return Gdiplus::OutOfMemory;
  }
  Gdiplus::Status status = image.Save(stream, &encoder, params);
  STATSTG stat{};
  if (status == Gdiplus::Ok && FAILED(stream->Stat(&stat, STATFLAG_NONAME))) {
    status = Gdiplus::Win32Error;
  }
  HGLOBAL memory = nullptr;
  if (status == Gdiplus::Ok && (FAILED(GetHGlobalFromStream(stream, &memory)) || !memory ||
                                stat.cbSize.QuadPart > GlobalSize(memory))) {
    status = Gdiplus::Win32Error;
  }
  if (status == Gdiplus::Ok) {
    const void* data = GlobalLock(memory);
    if (data) {
      bytes.assign(static_cast<const char*>(data), static_cast<size_t>(stat.cbSize.QuadPart));
      GlobalUnlock(memory);
    } else {
      status = Gdiplus::OutOfMemory;
    }
  }
  stream->Release();
  return status;
}

Gdiplus::Status EncodeJpeg(Gdiplus::Image& image, long quality, std::string& bytes) {
  const Gdiplus::EncoderParameters params = JpegQuality(quality);
  return EncodeImage(image, L"image/jpeg", &params, bytes);
}

CGdiplusDecoded::CGdiplusDecoded(const std::string& bytes) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (!memory) return;
  if (void* p = GlobalLock(memory)) {
    memcpy(p, bytes.data(), bytes.size());
    GlobalUnlock(memory);
  }
  if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream_)) || !stream_) {
    GlobalFree(memory);
    stream_ = nullptr;
    return;
  }
  bitmap_.reset(new Gdiplus::Bitmap(stream_));
  if (bitmap_->GetLastStatus() != Gdiplus::Ok || bitmap_->GetWidth() == 0 ||
      bitmap_->GetHeight() == 0) {
    bitmap_.reset();
  }
}

CGdiplusDecoded::~CGdiplusDecoded() {
  bitmap_.reset();
  if (stream_) stream_->Release();
}
