#include "adapters/long_path.h"

#include <windows.h>

// Both conversions size their output first, so any length converts whole.
std::wstring CodePageToWide(const std::string& text, unsigned codePage) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), size, &wide[0], n);
  return wide;
}

std::string WideToCodePage(const wchar_t* text, size_t length, unsigned codePage,
                           unsigned long flags) {
  if (!text || length == 0) return std::string();
  const int size = static_cast<int>(length);
  // UTF-8 takes no default character.
  const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
  const int n =
      WideCharToMultiByte(codePage, flags, text, size, nullptr, 0, fallback, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, flags, text, size, &out[0], n, fallback, nullptr);
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  return CodePageToWide(text, CP_UTF8);
}

std::string WideToUtf8(const wchar_t* text, size_t length) {
  return WideToCodePage(text, length, CP_UTF8);
}

std::string WideToUtf8(const std::wstring& text) {
  return WideToUtf8(text.data(), text.size());
}

std::wstring WidePath(const std::string& path) {
  return Utf8ToWide(path);
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
