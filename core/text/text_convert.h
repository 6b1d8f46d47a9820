// Converters between the system's ANSI code page and UTF-8, and the lead-byte
// test that byte scans use to step over double-byte characters.
#pragma once

#include <string>

// ANSI (the system default code page, not the thread's) -> UTF-16 -> UTF-8.
// Converts the whole text, whatever its length.
std::string AnsiToUtf8(const std::string& text);
// UTF-8 -> UTF-16 -> ANSI; characters the code page lacks become "?".
std::string Utf8ToAnsi(const std::string& text);
// True when every character of the UTF-8 text has its own in the ANSI code
// page (the text survives the trip there and back).
bool FitsAnsiCodePage(const std::string& text);
// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(const std::string& text);
// The length of the UTF-8 text in UTF-16 units (what wide calls count).
size_t Utf16Length(const std::string& text);

namespace quib {

// True when the byte starts a double-byte character of the ANSI code page.
using LeadByteTest = bool (*)(unsigned char byte);

// The installed code page's test (IsDBCSLeadByte on Windows; code page
// 1252, without lead bytes, natively).
bool IsAnsiLeadByte(unsigned char byte);

}  // namespace quib
