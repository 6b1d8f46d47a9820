// Routes to a smaller picture, measured side by side on camera JPEGs (4000 x
// 3000, no EXIF preview, so that the thumbnail needs the picture itself):
//   shrink into the medium box (1024)
//     today        the picture work's Shrink: GDI+ decodes in full, draws
//                  high-quality bicubic, encodes JPEG 80, writes the copy
//     wic+gdi+     WIC decodes in full into a 24-bit bitmap, then the same
//                  drawing and encoding
//     wic scaler   WIC decodes, IWICBitmapScaler (Fant) scales, encode
//     wic scaled   the decoder scales while decoding (IWICBitmapSource-
//                  Transform) to the nearest size not below the box, then
//                  the same drawing and encoding; only where offered
//   thumbnail (104 x 78)
//     today        the picture work's MakeThumbnail
//     wic scaler   WIC decodes, IWICBitmapScaler (Fant) to the thumbnail size
// and reports what the system's WIC offers, the milliseconds per picture
// (median) and how far each route's picture is from today's (mean and
// largest difference of a colour value, 0 to 255).
//   picture_routes_bench.exe FOLDER [COUNT]
#include <windows.h>

#include <wincodec.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "adapters/gdiplus.h"
#include "adapters/windows_platform.h"
#include "bench/bench_pictures.h"
#include "core/ports/picture_work.h"

using namespace Gdiplus;

// Not declared by MinGW's wincodec.h.
MIDL_INTERFACE("3B16811B-6A43-4ec9-B713-3D5A0C13B940")
IWICBitmapSourceTransform : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect*, UINT, UINT, WICPixelFormatGUID*,
                                               WICBitmapTransformOptions, UINT, UINT, BYTE*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetClosestSize(UINT*, UINT*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetClosestPixelFormat(WICPixelFormatGUID*) = 0;
  virtual HRESULT STDMETHODCALLTYPE DoesSupportTransform(WICBitmapTransformOptions, BOOL*) = 0;
};

namespace {

const IID kIidSourceTransform = {
    0x3B16811B, 0x6A43, 0x4ec9, {0xB7, 0x13, 0x3D, 0x5A, 0x0C, 0x13, 0xB9, 0x40}};

template <typename T>
struct CCom {
  T* p = nullptr;
  ~CCom() {
    if (p) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

IWICImagingFactory* Factory() {
  static IWICImagingFactory* factory = [] {
    IWICImagingFactory* f = nullptr;
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     reinterpret_cast<void**>(&f));
    return f;
  }();
  return factory;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// A 24-bit GDI+ bitmap filled from a WIC source of that size.
std::unique_ptr<Bitmap> FromWic(IWICBitmapSource* source, UINT w, UINT h,
                                IWICBitmapSourceTransform* scaled = nullptr) {
  std::unique_ptr<Bitmap> bitmap(
      new Bitmap(static_cast<INT>(w), static_cast<INT>(h), PixelFormat24bppRGB));
  BitmapData data;
  Rect all(0, 0, static_cast<INT>(w), static_cast<INT>(h));
  if (bitmap->LockBits(&all, ImageLockModeWrite, PixelFormat24bppRGB, &data) != Ok) return nullptr;
  HRESULT hr;
  if (scaled) {
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    hr = scaled->CopyPixels(nullptr, w, h, &format, WICBitmapTransformRotate0,
                            static_cast<UINT>(data.Stride), static_cast<UINT>(data.Stride) * h,
                            static_cast<BYTE*>(data.Scan0));
  } else {
    CCom<IWICFormatConverter> converter;
    hr = Factory()->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr)) {
      hr = converter->Initialize(source, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone,
                                 nullptr, 0, WICBitmapPaletteTypeCustom);
    }
    if (SUCCEEDED(hr)) {
      hr =
          converter->CopyPixels(nullptr, static_cast<UINT>(data.Stride),
                                static_cast<UINT>(data.Stride) * h, static_cast<BYTE*>(data.Scan0));
    }
  }
  bitmap->UnlockBits(&data);
  return SUCCEEDED(hr) ? std::move(bitmap) : nullptr;
}

// The whole picture drawn into w x h as the picture work draws it.
std::unique_ptr<Bitmap> Drawn(Image& picture, int w, int h) {
  std::unique_ptr<Bitmap> canvas(new Bitmap(w, h, PixelFormat24bppRGB));
  Graphics g(canvas.get());
  ImageAttributes edges;
  edges.SetWrapMode(WrapModeTileFlipXY);
  g.Clear(Color(255, 255, 255, 255));
  g.SetSmoothingMode(SmoothingModeHighQuality);
  g.SetInterpolationMode(InterpolationModeHighQualityBicubic);
  g.SetPixelOffsetMode(PixelOffsetModeHalf);
  g.DrawImage(&picture, Rect(0, 0, w, h), 0, 0, static_cast<INT>(picture.GetWidth()),
              static_cast<INT>(picture.GetHeight()), UnitPixel, &edges);
  return canvas;
}

// The picture after a JPEG 80 round trip, as a copy holds it.
std::unique_ptr<Bitmap> AsJpeg(Image& picture) {
  std::string bytes;
  if (EncodeJpeg(picture, 80, bytes) != Ok) return nullptr;
  CGdiplusDecoded decoded(bytes);
  return decoded.Get() ? std::unique_ptr<Bitmap>(decoded.Get()->Clone(
                             0, 0, static_cast<INT>(decoded.Get()->GetWidth()),
                             static_cast<INT>(decoded.Get()->GetHeight()), PixelFormat24bppRGB))
                       : nullptr;
}

struct CDifference {
  double mean = -1;
  int largest = -1;
};

CDifference Compare(Bitmap* a, Bitmap* b) {
  CDifference d;
  if (!a || !b || a->GetWidth() != b->GetWidth() || a->GetHeight() != b->GetHeight()) return d;
  BitmapData da, db;
  Rect all(0, 0, static_cast<INT>(a->GetWidth()), static_cast<INT>(a->GetHeight()));
  a->LockBits(&all, ImageLockModeRead, PixelFormat24bppRGB, &da);
  b->LockBits(&all, ImageLockModeRead, PixelFormat24bppRGB, &db);
  double sum = 0;
  d.largest = 0;
  for (UINT y = 0; y < a->GetHeight(); ++y) {
    auto* pa = static_cast<unsigned char*>(da.Scan0) + static_cast<ptrdiff_t>(y) * da.Stride;
    auto* pb = static_cast<unsigned char*>(db.Scan0) + static_cast<ptrdiff_t>(y) * db.Stride;
    for (UINT x = 0; x < 3 * a->GetWidth(); ++x) {
      const int diff = std::abs(pa[x] - pb[x]);
      sum += diff;
      d.largest = std::max(d.largest, diff);
    }
  }
  a->UnlockBits(&da);
  b->UnlockBits(&db);
  d.mean = sum / (3.0 * a->GetWidth() * a->GetHeight());
  return d;
}

struct CRoute {
  using Make = std::function<std::unique_ptr<Bitmap>(const std::string& path)>;
  CRoute(const char* n, Make m) : name(n), make(std::move(m)) {}
  const char* name;
  // Makes the route's picture of path (nullptr: not offered here).
  Make make;
  std::vector<double> ms;
  CDifference worst{0, 0};  // over all pictures, against today's
  bool sizeDiffers = false;
  bool offered = true;
};

// The fit of w x h into a box x box square, truncated, as the shrink has it.
void Fit(UINT w, UINT h, int box, int& tw, int& th) {
  const double s = std::min(double{1} * box / w, double{1} * box / h);
  tw = static_cast<int>(w * s);
  th = static_cast<int>(h * s);
}

bool OpenFrame(const std::string& path, CCom<IWICBitmapDecoder>& decoder,
               CCom<IWICBitmapFrameDecode>& frame) {
  const std::wstring wide = WidePath(path);
  return Factory() &&
         SUCCEEDED(Factory()->CreateDecoderFromFilename(
             wide.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder)) &&
         SUCCEEDED(decoder->GetFrame(0, &frame));
}

std::unique_ptr<Bitmap> WicScaler(const std::string& path, int w, int h) {
  CCom<IWICBitmapDecoder> decoder;
  CCom<IWICBitmapFrameDecode> frame;
  CCom<IWICBitmapScaler> scaler;
  if (!OpenFrame(path, decoder, frame) || FAILED(Factory()->CreateBitmapScaler(&scaler)) ||
      FAILED(scaler->Initialize(frame.p, static_cast<UINT>(w), static_cast<UINT>(h),
                                WICBitmapInterpolationModeFant))) {
    return nullptr;
  }
  return FromWic(scaler.p, static_cast<UINT>(w), static_cast<UINT>(h));
}

}  // namespace

int main(int argc, char** argv) {
  quib::InstallWindowsPlatform();
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  EnsureGdiplus();
  if (argc < 2) {
    std::fprintf(stderr, "usage: picture_routes_bench FOLDER [COUNT]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int count = argc > 2 ? std::atoi(argv[2]) : 6;
  CreateDirectoryA(folder.c_str(), nullptr);
  std::vector<std::string> paths;
  size_t bytes = 0;
  for (int i = 0; i < count; ++i) {
    const std::string jpeg = bench::CameraJpeg(i);
    bytes += jpeg.size();
    paths.push_back(folder + "\\camera" + std::to_string(i) + ".jpg");
    bench::Write(paths.back(), jpeg);
  }
  std::printf("%d camera JPEGs of 4000 x 3000, %.1f MB each\n", count, bytes / 1e6 / count);

  // What the system's WIC offers for these files.
  {
    CCom<IWICBitmapDecoder> decoder;
    CCom<IWICBitmapFrameDecode> frame;
    CCom<IWICBitmapSourceTransform> transform;
    CCom<IWICBitmapSource> preview;
    if (OpenFrame(paths[0], decoder, frame)) {
      const HRESULT onFrame =
          frame->QueryInterface(kIidSourceTransform, reinterpret_cast<void**>(&transform));
      CCom<IWICBitmapSourceTransform> onDecoder;
      const HRESULT onDec =
          decoder->QueryInterface(kIidSourceTransform, reinterpret_cast<void**>(&onDecoder));
      UINT w = 1024, h = 768;
      HRESULT closest = E_NOTIMPL;
      if (transform) closest = transform->GetClosestSize(&w, &h);
      std::printf(
          "WIC JPEG decoder: source transform on the frame %s (0x%08lx), on the decoder "
          "%s (0x%08lx)%s; thumbnail 0x%08lx\n",
          SUCCEEDED(onFrame) ? "offered" : "not offered", static_cast<unsigned long>(onFrame),
          SUCCEEDED(onDec) ? "offered" : "not offered", static_cast<unsigned long>(onDec),
          SUCCEEDED(closest)
              ? (" (closest to 1024 x 768: " + std::to_string(w) + " x " + std::to_string(h) + ")")
                    .c_str()
              : "",
          static_cast<unsigned long>(frame->GetThumbnail(&preview)));
    } else {
      std::printf("WIC: no decoder for the files\n");
    }
  }

  const int box = 1024;
  std::vector<CRoute> shrinks = {
      {"today (GDI+)",
       [&](const std::string& path) -> std::unique_ptr<Bitmap> {
         quib::PictureCopy copy;
         if (!quib::GdiplusPictures().Shrink(path, box, copy)) return nullptr;
         std::unique_ptr<Bitmap> made = LoadGdiplusBitmap(copy.path);
         std::unique_ptr<Bitmap> clone;
         if (made) {
           clone.reset(made->Clone(0, 0, static_cast<INT>(made->GetWidth()),
                                   static_cast<INT>(made->GetHeight()), PixelFormat24bppRGB));
         }
         made.reset();
         DeleteFileA(copy.path.c_str());
         return clone;
       }},
      {"wic+gdi+",
       [&](const std::string& path) -> std::unique_ptr<Bitmap> {
         CCom<IWICBitmapDecoder> decoder;
         CCom<IWICBitmapFrameDecode> frame;
         UINT w = 0, h = 0;
         if (!OpenFrame(path, decoder, frame) || FAILED(frame->GetSize(&w, &h))) return nullptr;
         std::unique_ptr<Bitmap> full = FromWic(frame.p, w, h);
         if (!full) return nullptr;
         int tw, th;
         Fit(w, h, box, tw, th);
         return AsJpeg(*Drawn(*full, tw, th));
       }},
      {"wic scaler (Fant)",
       [&](const std::string& path) -> std::unique_ptr<Bitmap> {
         CCom<IWICBitmapDecoder> decoder;
         CCom<IWICBitmapFrameDecode> frame;
         UINT w = 0, h = 0;
         if (!OpenFrame(path, decoder, frame) || FAILED(frame->GetSize(&w, &h))) return nullptr;
         int tw, th;
         Fit(w, h, box, tw, th);
         std::unique_ptr<Bitmap> scaled = WicScaler(path, tw, th);
         return scaled ? AsJpeg(*scaled) : nullptr;
       }},
      {"wic scaled decode",
       [&](const std::string& path) -> std::unique_ptr<Bitmap> {
         CCom<IWICBitmapDecoder> decoder;
         CCom<IWICBitmapFrameDecode> frame;
         CCom<IWICBitmapSourceTransform> transform;
         UINT w = 0, h = 0;
         if (!OpenFrame(path, decoder, frame) || FAILED(frame->GetSize(&w, &h)) ||
             FAILED(frame->QueryInterface(kIidSourceTransform,
                                          reinterpret_cast<void**>(&transform)))) {
           return nullptr;
         }
         int tw, th;
         Fit(w, h, box, tw, th);
         // The smallest size the decoder makes that is not below the box.
         UINT sw = w, sh = h;
         for (UINT d : {8u, 4u, 2u}) {
           UINT cw = (w + d - 1) / d, ch = (h + d - 1) / d;
           if (cw < static_cast<UINT>(tw) || ch < static_cast<UINT>(th)) continue;
           if (SUCCEEDED(transform->GetClosestSize(&cw, &ch)) && cw >= static_cast<UINT>(tw) &&
               ch >= static_cast<UINT>(th)) {
             sw = cw;
             sh = ch;
             break;
           }
         }
         std::unique_ptr<Bitmap> scaled = FromWic(frame.p, sw, sh, transform.p);
         return scaled ? AsJpeg(*Drawn(*scaled, tw, th)) : nullptr;
       }},
  };
  std::vector<CRoute> thumbnails = {
      {"today (GDI+)",
       [&](const std::string& path) -> std::unique_ptr<Bitmap> {
         quib::ThumbnailJob job;
         job.path = path;
         quib::ThumbnailResult result;
         quib::GdiplusPictures().MakeThumbnail(job, result);
         CGdiplusDecoded decoded(result.data.bytes);
         return decoded.Get()
                    ? std::unique_ptr<Bitmap>(decoded.Get()->Clone(
                          0, 0, static_cast<INT>(decoded.Get()->GetWidth()),
                          static_cast<INT>(decoded.Get()->GetHeight()), PixelFormat24bppRGB))
                    : nullptr;
       }},
      {"wic scaler (Fant)",
       [&](const std::string& path) -> std::unique_ptr<Bitmap> {
         // 4000 x 3000 fits 104 x 78 exactly.
         return WicScaler(path, 104, 78);
       }},
  };

  auto measure = [&](std::vector<CRoute>& routes) {
    for (const std::string& path : paths) {
      std::unique_ptr<Bitmap> reference;
      for (CRoute& route : routes) {
        const double t0 = bench::Now();
        std::unique_ptr<Bitmap> made = route.make(path);
        const double t1 = bench::Now();
        if (!made) {
          route.offered = false;
          continue;
        }
        route.ms.push_back((t1 - t0) * 1000);
        if (!reference) {
          reference = std::move(made);
          continue;
        }
        const CDifference d = Compare(reference.get(), made.get());
        if (d.mean < 0) {
          route.sizeDiffers = true;
          continue;
        }
        route.worst.mean = std::max(route.worst.mean, d.mean);
        route.worst.largest = std::max(route.worst.largest, d.largest);
      }
    }
  };
  auto print = [&](const char* what, std::vector<CRoute>& routes) {
    std::printf("\n%-28s %10s %10s %14s %14s\n", what, "ms/pic", "vs today", "mean diff",
                "largest diff");
    const double today = Median(routes[0].ms);
    for (const CRoute& route : routes) {
      if (!route.offered || route.ms.empty()) {
        std::printf("%-28s %10s\n", route.name, "not offered");
        continue;
      }
      const double ms = Median(route.ms);
      if (route.sizeDiffers) {
        std::printf("%-28s %10.0f %10.2f %29s\n", route.name, ms, ms / today, "other size");
        continue;
      }
      std::printf("%-28s %10.0f %10.2f %14.2f %14d\n", route.name, ms, ms / today, route.worst.mean,
                  route.worst.largest);
    }
  };
  // Once untimed, so that every route starts warm.
  {
    std::vector<std::string> all = paths;
    paths = {all[0]};
    measure(shrinks);
    measure(thumbnails);
    for (CRoute& r : shrinks) r.ms.clear();
    for (CRoute& r : thumbnails) r.ms.clear();
    paths = all;
  }
  measure(shrinks);
  measure(thumbnails);
  print("shrink into 1024 x 1024", shrinks);
  print("thumbnail 104 x 78", thumbnails);
  for (const std::string& path : paths) DeleteFileA(path.c_str());
  return 0;
}
