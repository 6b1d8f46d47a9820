// Text and file names as the wide functions of Windows take them: the
// program keeps both in UTF-8 and converts at the Windows call, and a path
// longer than the plain form allows takes the "\\?\" form.
#pragma once

#include <string>

// Text of a code page -> UTF-16 and back, whole texts of any length. What a
// code page lacks becomes "?" (flags as WideCharToMultiByte takes them).
std::wstring CodePageToWide(const std::string& text, unsigned codePage);
std::string WideToCodePage(const wchar_t* text, size_t length, unsigned codePage,
                           unsigned long flags = 0);

// UTF-8 -> UTF-16 and back; a malformed sequence becomes U+FFFD.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const wchar_t* text, size_t length);
std::string WideToUtf8(const std::wstring& text);

// A path in UTF-8 as UTF-16 (for calls that take any length themselves).
std::wstring WidePath(const std::string& path);

namespace quib {

// The path as a wide path that the wide file functions take at any length:
// made absolute, with the "\\?\" prefix once it is too long for the plain
// form.
std::wstring LongWidePath(const std::string& path);

}  // namespace quib
