#include "tests/win/media/media_test_util.h"

#include <cstring>
#include <memory>

using namespace Gdiplus;

namespace media_test {

CTestDir::CTestDir() {
  static int serial = 0;
  dir_ = TempFolder() + "quib-media-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++serial);
  CreateDirectoryA(dir_.c_str(), nullptr);
}

CTestDir::~CTestDir() {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((dir_ + "\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(Path(found.cFileName).c_str());
      }
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  RemoveDirectoryA(dir_.c_str());
}

std::string ReadBytes(const std::string& path) {
  std::string bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) bytes.append(buffer, n);
  CloseHandle(file);
  return bytes;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  CloseHandle(file);
  return ok && n == bytes.size();
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string TempFolder() {
  char folder[MAX_PATH + 1] = {};
  GetTempPathA(MAX_PATH, folder);
  return folder;
}

std::set<std::string> NewTempFiles() {
  std::set<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((TempFolder() + "NEW*.TMP").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.insert(found.cFileName);
  while (FindNextFileA(find, &found));
  FindClose(find);
  return names;
}

namespace {

std::unique_ptr<Bitmap> Draw(int w, int h, COLORREF fill) {
  std::unique_ptr<Bitmap> bitmap(new Bitmap(w, h, PixelFormat24bppRGB));
  Graphics g(bitmap.get());
  SolidBrush back(Color(255, GetRValue(fill), GetGValue(fill), GetBValue(fill)));
  g.FillRectangle(&back, 0, 0, w, h);
  SolidBrush red(Color(255, 230, 20, 20));
  g.FillRectangle(&red, 0, 0, w / 2, h / 2);
  return bitmap;
}

}  // namespace

namespace {

// GDI+ here has no GIF encoder: a palette GIF written by hand, LZW with
// 9-bit codes only (a clear code every 250 pixels keeps the table small).
// With transparentFill the fill (index 1) is the transparent colour.
std::string EncodeGif(int w, int h, COLORREF fill, bool transparentFill = false) {
  std::string gif = "GIF89a";
  auto u16 = [&gif](int v) {
    gif += static_cast<char>(v & 0xFF);
    gif += static_cast<char>((v >> 8) & 0xFF);
  };
  u16(w);
  u16(h);
  gif += std::string("\xF7\0\0", 3);  // 256-colour global table
  std::string table(768, '\0');
  table[0] = static_cast<char>(230), table[1] = 20, table[2] = 20;
  table[3] = static_cast<char>(GetRValue(fill)), table[4] = static_cast<char>(GetGValue(fill));
  table[5] = static_cast<char>(GetBValue(fill));
  gif += table;
  if (transparentFill) gif += std::string("\x21\xF9\x04\x01\0\0\x01\0", 8);
  gif += ',';
  u16(0);
  u16(0);
  u16(w);
  u16(h);
  gif += '\0';
  gif += '\x08';  // minimum code size
  std::string data;
  unsigned bits = 0;
  int count = 0;
  auto code = [&](unsigned c) {
    bits |= c << count;
    count += 9;
    while (count >= 8) {
      data += static_cast<char>(bits & 0xFF);
      bits >>= 8;
      count -= 8;
    }
  };
  int sinceClear = 0;
  code(256);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (sinceClear == 250) {
        code(256);
        sinceClear = 0;
      }
      code(x < w / 2 && y < h / 2 ? 0 : 1);
      ++sinceClear;
    }
  }
  code(257);
  if (count > 0) data += static_cast<char>(bits & 0xFF);
  for (size_t at = 0; at < data.size(); at += 255) {
    const size_t n = std::min<size_t>(255, data.size() - at);
    gif += static_cast<char>(n);
    gif += data.substr(at, n);
  }
  gif += '\0';
  gif += ';';
  return gif;
}

}  // namespace

std::string EncodePicture(int w, int h, const char* mime, COLORREF fill) {
  if (strcmp(mime, "image/gif") == 0) return EncodeGif(w, h, fill);
  char name[MAX_PATH] = {};
  GetTempFileNameA(TempFolder().c_str(), "pic", 0, name);
  std::string bytes;
  if (WritePicture(name, w, h, mime, fill)) bytes = ReadBytes(name);
  DeleteFileA(name);
  return bytes;
}

bool WritePicture(const std::string& path, int w, int h, const char* mime, COLORREF fill) {
  EnsureGdiplus();
  std::unique_ptr<Bitmap> bitmap = Draw(w, h, fill);
  const std::wstring wideMime(mime, mime + strlen(mime));
  CLSID encoder;
  if (!GetEncoderClsid(wideMime.c_str(), &encoder)) return false;
  return bitmap->Save(WidePath(path).c_str(), &encoder, nullptr) == Ok;
}

SIZE DecodedSize(const std::string& path) {
  std::unique_ptr<Bitmap> bitmap = LoadGdiplusBitmap(path);
  if (!bitmap) return SIZE{0, 0};
  return SIZE{static_cast<LONG>(bitmap->GetWidth()), static_cast<LONG>(bitmap->GetHeight())};
}

unsigned PixelOf(const std::string& path, int x, int y) {
  std::unique_ptr<Bitmap> bitmap = LoadGdiplusBitmap(path);
  Color c;
  if (!bitmap || bitmap->GetPixel(x, y, &c) != Ok) return 0xFFFFFFFF;
  return c.GetValue() & 0xFFFFFF;
}

CPixels ReadPixels(HBITMAP bitmap) {
  CPixels p;
  BITMAP info{};
  if (!bitmap || !GetObjectA(bitmap, sizeof info, &info)) return p;
  p.width = info.bmWidth;
  p.height = info.bmHeight;
  p.argb.resize(static_cast<size_t>(p.width * p.height));
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = p.width;
  bi.bmiHeader.biHeight = -p.height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  HDC dc = GetDC(nullptr);
  GetDIBits(dc, bitmap, 0, static_cast<UINT>(p.height), p.argb.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  for (unsigned& v : p.argb) v &= 0xFFFFFF;
  return p;
}

RECT ContentBox(const CPixels& p) {
  RECT box{p.width, p.height, 0, 0};
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const unsigned v = p.At(x, y);
      if (v == 0xFFFFFF || v == 0xDCDCDC) continue;
      box.left = std::min<LONG>(box.left, x);
      box.top = std::min<LONG>(box.top, y);
      box.right = std::max<LONG>(box.right, x + 1);
      box.bottom = std::max<LONG>(box.bottom, y + 1);
    }
  }
  return box;
}

bool IsReddish(unsigned rgb) {
  const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  return r > 150 && g < 110 && b < 110;
}

bool IsBluish(unsigned rgb) {
  const int r = (rgb >> 16) & 0xFF, b = rgb & 0xFF;
  return b > 130 && r < 110;
}

std::string EncodeTransparentPng(int w, int h) {
  EnsureGdiplus();
  // Transparent black everywhere but the opaque red top-left quarter.
  Bitmap bitmap(w, h, PixelFormat32bppARGB);
  {
    Graphics g(&bitmap);
    g.Clear(Color(0, 0, 0, 0));
    SolidBrush red(Color(255, 230, 20, 20));
    g.FillRectangle(&red, 0, 0, w / 2, h / 2);
  }
  CLSID png;
  if (!GetEncoderClsid(L"image/png", &png)) return std::string();
  char name[MAX_PATH] = {};
  GetTempFileNameA(TempFolder().c_str(), "pic", 0, name);
  std::string bytes;
  if (bitmap.Save(WidePath(name).c_str(), &png, nullptr) == Ok) bytes = ReadBytes(name);
  DeleteFileA(name);
  return bytes;
}

std::string EncodeTransparentGif(int w, int h) {
  return EncodeGif(w, h, RGB(0, 0, 0), true);
}

std::string EncodeNoisy(int w, int h, const wchar_t* mime) {
  EnsureGdiplus();
  Bitmap bitmap(w, h, PixelFormat24bppRGB);
  BitmapData data{};
  Rect all(0, 0, w, h);
  if (bitmap.LockBits(&all, ImageLockModeWrite, PixelFormat24bppRGB, &data) != Ok) return {};
  unsigned seed = 12345;
  for (int y = 0; y < h; ++y) {
    auto* row = static_cast<unsigned char*>(data.Scan0) + y * data.Stride;
    for (int x = 0; x < 3 * w; ++x) {
      seed = seed * 1103515245u + 12345u;
      row[x] = static_cast<unsigned char>(seed >> 24);
    }
  }
  bitmap.UnlockBits(&data);
  CLSID png;
  if (!GetEncoderClsid(mime, &png)) return std::string();
  char name[MAX_PATH] = {};
  GetTempFileNameA(TempFolder().c_str(), "pic", 0, name);
  std::string bytes;
  if (bitmap.Save(WidePath(name).c_str(), &png, nullptr) == Ok) bytes = ReadBytes(name);
  DeleteFileA(name);
  return bytes;
}

bool IsWhitish(unsigned rgb) {
  return (rgb >> 16 & 0xFF) >= 0xE0 && (rgb >> 8 & 0xFF) >= 0xE0 && (rgb & 0xFF) >= 0xE0;
}

HWND CreateHostedListView(DWORD exStyle, HWND* host) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  *host = CreateWindowExA(0, "STATIC", "host", WS_POPUP, 0, 0, 400, 400, nullptr, nullptr, nullptr,
                          nullptr);
  return CreateWindowExA(exStyle, WC_LISTVIEWA, "",
                         WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_SHOWSELALWAYS, 0, 0, 369, 288,
                         *host, reinterpret_cast<HMENU>(1005), nullptr, nullptr);
}

CPixels ImageListPixels(HIMAGELIST images, int index) {
  HDC screen = GetDC(nullptr);
  CBitmap bitmap(CreateCompatibleBitmap(screen, 104, 78));
  ReleaseDC(nullptr, screen);
  {
    CMemoryDC dc(nullptr);
    CSelectObject select(dc.Get(), bitmap.Get());
    ImageList_Draw(images, index, dc.Get(), 0, 0, ILD_NORMAL);
  }
  return ReadPixels(bitmap.Get());
}

BOOL CALLBACK CBoxAnswerer::Visit(HWND window, LPARAM lp) {
  auto* self = reinterpret_cast<CBoxAnswerer*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char cls[16] = {};
  GetClassNameA(window, cls, sizeof cls);
  HWND text = GetDlgItem(window, 0xFFFF);
  if (pid != GetCurrentProcessId() || strcmp(cls, "#32770") != 0 || !text ||
      !IsWindowVisible(window)) {
    return TRUE;
  }
  char buffer[2048] = {};
  GetWindowTextA(text, buffer, sizeof buffer);
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->texts_.push_back(buffer);
  }
  PostMessageA(window, WM_COMMAND, IDOK, 0);
  return TRUE;
}

void CBoxAnswerer::Watch() {
  while (!stop_) {
    EnumWindows(Visit, reinterpret_cast<LPARAM>(this));
    Sleep(50);
  }
}

}  // namespace media_test
