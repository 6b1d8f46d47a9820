#include "tools/album-service/request_head.h"

#include <cctype>

namespace albumsvc {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool IsControl(char c, bool tabAllowed) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u < 0x20 && !(tabAllowed && c == '\t')) || u == 0x7F;
}

bool IsDigits(const std::string& s) {
  if (s.empty() || s.size() > 18) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

size_t FindHeadEnd(std::string* buffer) {
  size_t skip = 0;
  while (buffer->compare(skip, 2, "\r\n") == 0) skip += 2;
  if (skip) buffer->erase(0, skip);
  size_t end = buffer->find("\r\n\r\n");
  return end == std::string::npos ? 0 : end + 4;
}

HeadCheck CheckRequestHead(std::string* head, const HeadLimits& limits) {
  HeadCheck out;
  auto refuse = [&](int status, const char* why) {
    out.status = status;
    out.why = why;
    return out;
  };
  const std::string& h = *head;
  if (h.size() > limits.maxBytes) return refuse(431, "request head too large");
  size_t pos = h.find("\r\n");
  for (size_t i = 0; i < pos; ++i)
    if (IsControl(h[i], false)) return refuse(400, "control character in the request line");
  std::string kept = h.substr(0, pos + 2);
  pos += 2;
  int fields = 0, hosts = 0, ranges = 0;
  bool haveLength = false, transferCoded = false;
  std::string length;
  for (size_t eol; (eol = h.find("\r\n", pos)) != pos; pos = eol + 2) {
    std::string line = h.substr(pos, eol - pos);
    if (++fields > limits.maxFields) return refuse(431, "too many header fields");
    if (line[0] == ' ' || line[0] == '\t') return refuse(400, "folded header field");
    for (char c : line)
      if (IsControl(c, true)) return refuse(400, "control character in a header field");
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || line.find_first_of(" \t") < colon)
      return refuse(400, "malformed header field");
    std::string name = Lower(line.substr(0, colon)), value = Trim(line.substr(colon + 1));
    if (name == "content-length") {
      // Two lengths would let the service and a proxy in front of it read
      // different requests out of one stream.
      if (!IsDigits(value) || (haveLength && value != length))
        return refuse(400, "Content-Length unreadable or given twice");
      haveLength = true;
      length = value;
    } else if (name == "transfer-encoding") {
      transferCoded = true;
    } else if (name == "host") {
      ++hosts;
    } else if (name == "range") {
      ++ranges;
      out.range = value;
      continue;
    }
    kept += line + "\r\n";
  }
  if (haveLength && transferCoded)
    return refuse(400, "Content-Length and Transfer-Encoding together");
  if (hosts > 1) return refuse(400, "Host given twice");
  // Several Range fields are as unusable as an unreadable one.
  out.hasRange = ranges == 1;
  if (!out.hasRange) out.range.clear();
  *head = kept + "\r\n";
  return out;
}

std::string LogSafe(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && c != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += digits[u >> 4];
      out += digits[u & 15];
    }
  }
  return out;
}

}  // namespace albumsvc
