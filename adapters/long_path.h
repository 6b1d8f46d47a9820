// File names as the wide functions take them: an ANSI path in UTF-16, and
// the form that the wide file functions accept beyond MAX_PATH.
#pragma once

#include <string>

// A path (or any text) in the ANSI code page as UTF-16; empty when it does
// not convert.
std::wstring WidePath(const std::string& path);

// UTF-8 text as UTF-16 and back; empty when it does not convert.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

namespace quib {

// The ANSI path as a wide path that the wide file functions take at any
// length: made absolute, with the "\\?\" prefix once it is too long for the
// plain form.
std::wstring LongWidePath(const std::string& path);
// The same for a path that is wide already.
std::wstring LongWideForm(const std::wstring& wide);

}  // namespace quib
