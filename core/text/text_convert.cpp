// The converters of the installed code page, and the portable model of code
// page 1252 (what the program sees under Windows with a Western locale).
#include "core/text/text_convert.h"

#include <cstdint>

#include "core/ports/code_page.h"
#include "core/ports/platform.h"

namespace {

// Code points of bytes 0x80 to 0x9F; 0 where the code page leaves the byte
// undefined (the system maps those to the C1 control of the same value).
const uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint32_t CodePointOf(unsigned char b) {
  if (b >= 0x80 && b < 0xA0 && kHigh[b - 0x80]) return kHigh[b - 0x80];
  return b;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char AnsiOf(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (unsigned i = 0; i < 32; ++i) {
    if (kHigh[i] ? kHigh[i] == cp : cp == 0x80 + i) return static_cast<char>(0x80 + i);
  }
  return '?';  // the code page's default character
}

// Decodes one UTF-8 sequence at text[i]; malformed bytes give U+FFFD.
uint32_t NextCodePoint(const std::string& text, size_t& i) {
  const unsigned char b = static_cast<unsigned char>(text[i++]);
  if (b < 0x80) return b;
  int extra = 0;
  uint32_t cp = 0, min = 0;
  if ((b & 0xE0) == 0xC0) {
    extra = 1, cp = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    extra = 2, cp = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    extra = 3, cp = b & 0x07, min = 0x10000;
  } else {
    return 0xFFFD;
  }
  for (int k = 0; k < extra; ++k) {
    if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
  return cp;
}

}  // namespace

namespace quib {

std::string CWesternCodePage::ToUtf8(const std::string& ansi) {
  std::string out;
  out.reserve(ansi.size() * 2);
  for (char c : ansi) AppendUtf8(out, CodePointOf(static_cast<unsigned char>(c)));
  return out;
}

std::string CWesternCodePage::FromUtf8(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) out += AnsiOf(NextCodePoint(utf8, i));
  return out;
}

bool IsAnsiLeadByte(unsigned char byte) {
  return CodePage().IsLeadByte(byte);
}

}  // namespace quib

std::string AnsiToUtf8(const std::string& text) {
  return quib::CodePage().ToUtf8(text);
}

std::string Utf8ToAnsi(const std::string& text) {
  return quib::CodePage().FromUtf8(text);
}

bool FitsAnsiCodePage(const std::string& text) {
  return AnsiToUtf8(Utf8ToAnsi(text)) == text;
}

bool IsValidUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const size_t at = i;
    // A replacement character that was not in the text marks a bad sequence.
    if (NextCodePoint(text, i) == 0xFFFD && text.compare(at, 3, "\xEF\xBF\xBD") != 0) return false;
  }
  return true;
}

size_t Utf16Length(const std::string& text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size();) units += NextCodePoint(text, i) > 0xFFFF ? 2 : 1;
  return units;
}
