#include "adapters/long_path.h"

#include <windows.h>

std::wstring WidePath(const std::string& path) {
  if (path.empty()) return std::wstring();
  const int n =
      MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), &wide[0], n);
  return wide;
}

namespace quib {

std::wstring LongWidePath(const std::string& path) {
  const std::wstring wide = WidePath(path);
  if (wide.empty() || wide.size() < MAX_PATH - 12) return wide;
  if (wide.compare(0, 4, L"\\\\?\\") == 0) return wide;
  const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  const DWORD got = GetFullPathNameW(wide.c_str(), n, &full[0], nullptr);
  if (got == 0 || got >= n) return wide;
  full.resize(got);
  // "\\server\share\..." becomes "\\?\UNC\server\share\...".
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace quib
