// The service's answer text: a status character, then name=value lines.
// Readers for the answers of the four commands and the command URL rule.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/protocol/string_hash_map.h"
#include "core/text/text_convert.h"

// The name=value pairs of every successful login of one service client.
using CResponseDoc = CStringHashMap;

namespace quib {

struct ResponseLine {
  std::string name;   // bytes before the first '=', empty when there is none
  std::string value;  // everything after the first '=' (or the whole line)
};

// The first byte of the answer, or '\0' for an empty answer.
char ResponseStatus(const std::string& text);

// Cuts text[start..] into lines: runs of bytes that are neither CR nor LF,
// separated by any run of CR and LF; empty lines never occur. Answers are
// UTF-8, where no byte of a character is '='; given a lead-byte test it
// steps over double-byte characters of ANSI text, so a trail byte is never
// taken for '='. CR and LF always end a line. Each line is split at its first
// '='.
std::vector<ResponseLine> SplitResponseLines(const std::string& text, size_t start,
                                             LeadByteTest isLeadByte = nullptr);
// The lines after the status character.
std::vector<ResponseLine> ParseResponseLines(const std::string& text,
                                             LeadByteTest isLeadByte = nullptr);

// LogIn answer with status '0': stores every line into doc, bytes unchanged;
// a repeated name takes the later value, names of earlier logins stay.
void ReadLogInResponse(const std::string& text, CResponseDoc& doc,
                       LeadByteTest isLeadByte = nullptr);

// DirList answer with status '0': (id, name) pairs in answer order, the names
// in UTF-8 as sent. Entries start after the third CR LF of the text;
// a text with fewer than three CR LF holds no entries. A last line without
// partner gives an album with an empty name.
std::vector<std::pair<std::string, std::string>> ReadDirListAlbums(
    const std::string& text, LeadByteTest isLeadByte = nullptr);

// CreateDir answer with status '0': the value of the first line read like
// atoi (leading blanks, sign, digits; 0 without digits; clamped to int).
// False when no line follows the status character.
bool ReadCreateDirId(const std::string& text, int& id, LeadByteTest isLeadByte = nullptr);

// Decimal reading as atoi does it, without its undefined overflow.
int ReadDecimal(const std::string& text);

// urlName's value ("DirListURL", "CreateDirURL", "UploadURL"), "?", and the
// value of "SId"; absent names give empty text, nothing is escaped.
std::string MakeCommandUrl(const CResponseDoc& doc, const std::string& urlName);

}  // namespace quib
