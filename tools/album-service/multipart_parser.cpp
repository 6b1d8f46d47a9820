#include "tools/album-service/multipart_parser.h"

#include <algorithm>
#include <cctype>

namespace albumsvc {

namespace {

const size_t kMaxHeaderBlock = 8192;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// Splits "form-data; name=\"a\"; filename=\"b\"" into its parameters. Quoted
// values run to the next double quote; a quote cannot be escaped because the
// uploader never escapes one.
bool ParseDisposition(const std::string& value, PartHeader* header, std::string* error) {
  size_t semi = value.find(';');
  if (Lower(Trim(value.substr(0, semi))) != "form-data") {
    *error = "content-disposition is not form-data";
    return false;
  }
  bool haveName = false;
  size_t pos = semi;
  while (pos != std::string::npos && pos < value.size()) {
    ++pos;  // past ';'
    while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\t')) ++pos;
    size_t eq = value.find('=', pos);
    if (eq == std::string::npos) break;
    std::string key = Lower(Trim(value.substr(pos, eq - pos)));
    std::string val;
    pos = eq + 1;
    if (pos < value.size() && value[pos] == '"') {
      size_t close = value.find('"', pos + 1);
      if (close == std::string::npos) {
        *error = "unterminated quoted parameter in content-disposition";
        return false;
      }
      val = value.substr(pos + 1, close - pos - 1);
      pos = value.find(';', close);
    } else {
      size_t end = value.find(';', pos);
      val = Trim(value.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
      pos = end;
    }
    if (key == "name") {
      header->name = val;
      haveName = true;
    } else if (key == "filename") {
      header->filename = val;
      header->hasFilename = true;
    }
  }
  if (!haveName || header->name.empty()) {
    *error = "form part without a name";
    return false;
  }
  return true;
}

}  // namespace

std::string MultipartBoundary(const std::string& contentType) {
  std::string lower = Lower(contentType);
  if (lower.compare(0, 19, "multipart/form-data") != 0) return "";
  size_t pos = 0;
  while ((pos = lower.find(';', pos)) != std::string::npos) {
    ++pos;
    size_t start = lower.find_first_not_of(" \t", pos);
    if (start == std::string::npos) break;
    if (lower.compare(start, 9, "boundary=") == 0) {
      std::string b = contentType.substr(start + 9);
      size_t end = b.find(';');
      if (end != std::string::npos) b.erase(end);
      b = Trim(b);
      if (b.size() >= 2 && b.front() == '"' && b.back() == '"') b = b.substr(1, b.size() - 2);
      // Boundaries are 1 to 70 characters long.
      if (b.empty() || b.size() > 70) return "";
      return b;
    }
  }
  return "";
}

CMultipartParser::CMultipartParser(const std::string& boundary, IPartSink* sink)
    : dashBoundary_("--" + boundary), delimiter_("\r\n--" + boundary), sink_(sink) {}

bool CMultipartParser::Fail(const std::string& why) {
  if (state_ != StateFailed) {
    error_ = why;
    state_ = StateFailed;
  }
  pending_.clear();
  return false;
}

bool CMultipartParser::Feed(const char* data, size_t size) {
  if (state_ == StateFailed) return false;
  pending_.append(data, size);
  // Each step consumes input or waits for more; it returns false to wait.
  while (state_ != StateFailed && Step()) {
  }
  return state_ != StateFailed;
}

bool CMultipartParser::Step() {
  switch (state_) {
    case StateFirstDelimiter: {
      size_t n = std::min(pending_.size(), dashBoundary_.size());
      if (pending_.compare(0, n, dashBoundary_, 0, n) != 0)
        return Fail("body does not begin with the boundary delimiter");
      if (n < dashBoundary_.size()) return false;
      pending_.erase(0, n);
      state_ = StateAfterDelimiter;
      return true;
    }
    case StateAfterDelimiter: {
      if (pending_.size() < 2) return false;
      if (pending_.compare(0, 2, "\r\n") == 0) {
        state_ = StateHeaders;
      } else if (pending_.compare(0, 2, "--") == 0) {
        state_ = StateEpilogue;
      } else {
        return Fail("boundary delimiter not followed by CR LF or \"--\"");
      }
      pending_.erase(0, 2);
      return true;
    }
    case StateHeaders: {
      size_t end = pending_.find("\r\n\r\n");
      if (end == std::string::npos) {
        if (pending_.compare(0, 2, "\r\n") == 0) return Fail("form part without headers");
        if (pending_.size() > kMaxHeaderBlock) return Fail("form part headers too long");
        return false;
      }
      if (end > kMaxHeaderBlock) return Fail("form part headers too long");
      std::string block = pending_.substr(0, end);
      pending_.erase(0, end + 4);
      if (!ParseHeaders(block)) return false;
      state_ = StateData;
      return true;
    }
    case StateData: {
      size_t hit = pending_.find(delimiter_);
      if (hit == std::string::npos) {
        // Keep a tail that may be the start of a delimiter split across blocks.
        size_t keep = delimiter_.size() - 1;
        if (pending_.size() <= keep) return false;
        size_t emit = pending_.size() - keep;
        if (!sink_->OnPartData(pending_.data(), emit)) return Fail("part refused");
        pending_.erase(0, emit);
        return false;
      }
      if (hit > 0 && !sink_->OnPartData(pending_.data(), hit)) return Fail("part refused");
      if (!sink_->OnPartEnd()) return Fail("part refused");
      pending_.erase(0, hit + delimiter_.size());
      state_ = StateAfterDelimiter;
      return true;
    }
    case StateEpilogue: {
      // Only the CR LF that ends the closing delimiter line may follow.
      const std::string crlf = "\r\n";
      bool ok = epilogueBytes_ + pending_.size() <= 2 &&
                crlf.compare(epilogueBytes_, pending_.size(), pending_) == 0;
      epilogueBytes_ += pending_.size();
      pending_.clear();
      if (!ok) return Fail("data after the closing delimiter");
      return false;
    }
    case StateFailed:
      return false;
  }
  return false;
}

bool CMultipartParser::ParseHeaders(const std::string& block) {
  PartHeader header;
  bool haveDisposition = false;
  size_t pos = 0;
  while (pos <= block.size()) {
    size_t eol = block.find("\r\n", pos);
    std::string line = block.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
    pos = eol == std::string::npos ? block.size() + 1 : eol + 2;
    size_t colon = line.find(':');
    if (colon == std::string::npos) return Fail("malformed form part header line");
    std::string name = Lower(Trim(line.substr(0, colon)));
    std::string value = Trim(line.substr(colon + 1));
    if (name == "content-disposition") {
      if (haveDisposition) return Fail("form part with two content-disposition headers");
      std::string why;
      if (!ParseDisposition(value, &header, &why)) return Fail(why);
      haveDisposition = true;
    } else if (name == "content-type") {
      header.contentType = value;
    }
  }
  if (!haveDisposition) return Fail("form part without content-disposition");
  ++partCount_;
  if (!sink_->OnPartBegin(header)) return Fail("part refused");
  return true;
}

bool CMultipartParser::Finish() {
  if (state_ == StateFailed) return false;
  if (state_ != StateEpilogue) return Fail("body ends before the closing delimiter");
  return true;
}

}  // namespace albumsvc
