#include "core/protocol/response_doc.h"

#include <climits>
#include <cstdint>

namespace quib {

namespace {

bool IsBreak(char c) {
  return c == '\r' || c == '\n';
}

}  // namespace

char ResponseStatus(const std::string& text) {
  return text.empty() ? '\0' : text[0];
}

std::vector<ResponseLine> SplitResponseLines(const std::string& text, size_t start,
                                             LeadByteTest isLeadByte) {
  std::vector<ResponseLine> lines;
  const size_t n = text.size();
  size_t i = start;
  while (i < n) {
    while (i < n && IsBreak(text[i])) ++i;  // any run of CR and LF
    if (i >= n) break;
    const size_t begin = i;
    size_t equals = std::string::npos;
    while (i < n && !IsBreak(text[i])) {
      if (equals == std::string::npos && text[i] == '=') equals = i;
      // A double-byte character is stepped over whole, so its trail byte is
      // never read as '='. CR and LF are never trail bytes: a lead byte
      // before one (or at the very end) stands alone and the line ends.
      const bool pair = isLeadByte && isLeadByte(static_cast<unsigned char>(text[i])) &&
                        i + 1 < n && !IsBreak(text[i + 1]);
      i += pair ? 2 : 1;
    }
    ResponseLine line;
    if (equals == std::string::npos) {
      line.value = text.substr(begin, i - begin);
    } else {
      line.name = text.substr(begin, equals - begin);
      line.value = text.substr(equals + 1, i - equals - 1);
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<ResponseLine> ParseResponseLines(const std::string& text, LeadByteTest isLeadByte) {
  return SplitResponseLines(text, 1, isLeadByte);
}

void ReadLogInResponse(const std::string& text, CResponseDoc& doc, LeadByteTest isLeadByte) {
  for (const ResponseLine& line : ParseResponseLines(text, isLeadByte)) doc[line.name] = line.value;
}

std::vector<std::pair<std::string, std::string>> ReadDirListAlbums(const std::string& text,
                                                                   LeadByteTest isLeadByte) {
  std::vector<std::pair<std::string, std::string>> albums;
  // The status line and two more lines are skipped unread. With fewer than
  // three CR LF there is nothing after them, so the list stays empty.
  size_t pos = 0;
  for (int found = 0; found < 3; ++found) {
    const size_t hit = text.find("\r\n", pos);
    if (hit == std::string::npos) return albums;
    pos = hit + 2;
  }
  const std::vector<ResponseLine> lines = SplitResponseLines(text, pos, isLeadByte);
  for (size_t i = 0; i < lines.size(); i += 2) {
    const std::string name = i + 1 < lines.size() ? lines[i + 1].value : std::string();
    albums.emplace_back(lines[i].value, name);
  }
  return albums;
}

int ReadDecimal(const std::string& text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(INT_MAX) + 1) value = static_cast<int64_t>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

bool ReadCreateDirId(const std::string& text, int& id, LeadByteTest isLeadByte) {
  const std::vector<ResponseLine> lines = ParseResponseLines(text, isLeadByte);
  if (lines.empty()) return false;
  id = ReadDecimal(lines.front().value);
  return true;
}

std::string MakeCommandUrl(const CResponseDoc& doc, const std::string& urlName) {
  std::string url, sid;
  doc.Lookup(urlName, url);
  doc.Lookup("SId", sid);
  return url + "?" + sid;
}

}  // namespace quib
