// DetectMediaType over the URL moniker library's FindMimeFromData.
#include <windows.h>
#include <urlmon.h>

#include "adapters/long_path.h"
#include "adapters/windows_platform.h"
#include "core/protocol/media_type.h"

namespace {

// Takes ownership of the string FindMimeFromData allocated.
std::string TakeType(LPWSTR wide) {
  std::string type;
  const int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n > 1) {
    type.resize(static_cast<size_t>(n));
    WideCharToMultiByte(CP_ACP, 0, wide, -1, &type[0], n, nullptr, nullptr);
    type.resize(static_cast<size_t>(n - 1));
  }
  CoTaskMemFree(wide);
  return type;
}

class CUrlMonQuery : public quib::IMediaTypeQuery {
 public:
  bool QueryByName(const std::string& path, std::string& type) override {
    const std::wstring url = WidePath(path);
    LPWSTR out = nullptr;
    const HRESULT hr = FindMimeFromData(nullptr, url.c_str(), nullptr, 0, nullptr, 0, &out, 0);
    if (FAILED(hr) || !out) {
      if (out) CoTaskMemFree(out);
      return false;
    }
    type = TakeType(out);
    return true;
  }

  bool QueryByContent(const unsigned char* window, size_t size, std::string& type) override {
    LPWSTR out = nullptr;
    const HRESULT hr = FindMimeFromData(nullptr, nullptr, const_cast<unsigned char*>(window),
                                        static_cast<DWORD>(size), nullptr, 0, &out, 0);
    if (FAILED(hr) || !out) {
      if (out) CoTaskMemFree(out);
      return false;
    }
    type = TakeType(out);
    return !type.empty();
  }
};

}  // namespace

namespace quib {

IMediaTypeQuery& UrlMonMediaTypes() {
  static CUrlMonQuery query;
  return query;
}

}  // namespace quib
