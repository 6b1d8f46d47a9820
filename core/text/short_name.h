// Shortened names for the list captions and the transfer dialog. Lengths
// count characters, never bytes, so a character is never cut in half.
#pragma once

#include <string>

#include "core/text/text_convert.h"

namespace quib {

// The first n characters of text (all of it when it is shorter). Without a
// lead-byte test the text is UTF-8 and a character is a code point with its
// continuation bytes; with one, the text is ANSI and a lead byte with a byte
// after it forms one character with that byte.
std::string FirstCharacters(const std::string& text, size_t n, LeadByteTest isLeadByte = nullptr);

// The name when it has at most n characters, else its first n characters
// followed by "...".
std::string ShortName(const std::string& name, size_t n, LeadByteTest isLeadByte = nullptr);

// The caption of a list entry: names longer than 13 characters become their
// first 11 characters and "...".
std::string ListCaption(const std::string& name, LeadByteTest isLeadByte = nullptr);

}  // namespace quib
