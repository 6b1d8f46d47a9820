// RAII wrappers for the GDI objects the program owns. A wrapper owns its
// handle; a raw handle borrows.
#pragma once

#include <windows.h>

#include <utility>

// Owns a GDI object (bitmap, brush, font, pen) and deletes it.
template <typename Handle>
class CGdiObject {
 public:
  CGdiObject() = default;
  explicit CGdiObject(Handle handle) : handle_(handle) {}
  ~CGdiObject() { Reset(); }
  CGdiObject(CGdiObject&& other) noexcept : handle_(other.Detach()) {}
  CGdiObject& operator=(CGdiObject&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;

  Handle Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  Handle Detach() { return std::exchange(handle_, nullptr); }
  void Reset(Handle handle = nullptr) {
    if (handle_) DeleteObject(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

using CBitmap = CGdiObject<HBITMAP>;
using CBrush = CGdiObject<HBRUSH>;
using CFont = CGdiObject<HFONT>;
using CPen = CGdiObject<HPEN>;

// Owns an icon made by LoadImage and destroys it.
class CIcon {
 public:
  CIcon() = default;
  explicit CIcon(HICON handle) : handle_(handle) {}
  ~CIcon() { Reset(); }
  CIcon(const CIcon&) = delete;
  CIcon& operator=(const CIcon&) = delete;
  HICON Get() const { return handle_; }
  void Reset(HICON handle = nullptr) {
    if (handle_) DestroyIcon(handle_);
    handle_ = handle;
  }

 private:
  HICON handle_ = nullptr;
};

// A memory device context compatible with another one.
class CMemoryDC {
 public:
  explicit CMemoryDC(HDC compatible) : dc_(CreateCompatibleDC(compatible)) {}
  ~CMemoryDC() {
    if (dc_) DeleteDC(dc_);
  }
  CMemoryDC(const CMemoryDC&) = delete;
  CMemoryDC& operator=(const CMemoryDC&) = delete;
  HDC Get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HDC dc_;
};

// Selects an object into a device context and restores the previous one.
class CSelectObject {
 public:
  CSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), old_(dc ? SelectObject(dc, object) : nullptr) {}
  ~CSelectObject() {
    if (old_ && old_ != HGDI_ERROR) SelectObject(dc_, old_);
  }
  CSelectObject(const CSelectObject&) = delete;
  CSelectObject& operator=(const CSelectObject&) = delete;
  bool Ok() const { return old_ != nullptr && old_ != HGDI_ERROR; }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// Size in pixels of a bitmap; {0, 0} when the handle is not a bitmap.
inline SIZE GetBitmapSize(HBITMAP bitmap) {
  BITMAP info{};
  if (!bitmap || !GetObjectA(bitmap, sizeof info, &info)) return SIZE{0, 0};
  return SIZE{info.bmWidth, info.bmHeight};
}
