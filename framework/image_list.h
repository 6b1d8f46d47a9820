// Owns an image list of the common controls and destroys it.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <utility>

class CImageList {
 public:
  CImageList() = default;
  explicit CImageList(HIMAGELIST handle) : handle_(handle) {}
  ~CImageList() { Reset(); }
  CImageList(const CImageList&) = delete;
  CImageList& operator=(const CImageList&) = delete;

  HIMAGELIST Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Reset(HIMAGELIST handle = nullptr) {
    if (handle_) ImageList_Destroy(handle_);
    handle_ = handle;
  }

 private:
  HIMAGELIST handle_ = nullptr;
};
