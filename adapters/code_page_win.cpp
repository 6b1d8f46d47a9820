#include "adapters/windows_platform.h"

#include <windows.h>

namespace {

// Both conversions size their output first, so any length converts whole.
std::wstring ToWide(const std::string& text, UINT codePage) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), size, &wide[0], n);
  return wide;
}

std::string FromWide(const std::wstring& wide, UINT codePage, DWORD flags) {
  if (wide.empty()) return std::string();
  const int size = static_cast<int>(wide.size());
  // A character the code page lacks becomes "?" (UTF-8 takes no default).
  const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
  const int n =
      WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, fallback, nullptr);
  if (n <= 0) return std::string();
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), size, &text[0], n, fallback, nullptr);
  return text;
}

}  // namespace

namespace quib {

std::string CWindowsCodePage::ToUtf8(const std::string& ansi) {
  return FromWide(ToWide(ansi, CP_ACP), CP_UTF8, 0);
}

std::string CWindowsCodePage::FromUtf8(const std::string& utf8) {
  // No best-fit look-alikes: what the code page lacks becomes its default character.
  return FromWide(ToWide(utf8, CP_UTF8), CP_ACP, WC_NO_BEST_FIT_CHARS);
}

bool CWindowsCodePage::IsLeadByte(unsigned char byte) {
  return IsDBCSLeadByte(byte) != FALSE;
}

}  // namespace quib
