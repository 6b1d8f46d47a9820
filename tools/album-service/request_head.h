// Request heads as the service's connection front reads them before the
// HTTP library sees them: where a head ends, and whether it stays within
// the limits and says one thing only (one length, one host).
#pragma once

#include <cstddef>
#include <string>

namespace albumsvc {

struct HeadLimits {
  size_t maxBytes = 32 * 1024;  // request line, fields and the blank line
  int maxFields = 100;
};

struct HeadCheck {
  int status = 0;  // 0: the head may be served; else the status of the refusal
  std::string why;
  // The one Range field, taken out of the head: the library would answer
  // a Range it cannot read with 416 before the service sees the request.
  bool hasRange = false;
  std::string range;
};

// Drops the empty lines some clients send after a body, then gives the size
// of the head at the start of buffer (up to and including its blank line),
// or 0 while it is incomplete.
size_t FindHeadEnd(std::string* buffer);

// Checks a complete head (ending with CR LF CR LF) and takes the Range
// field out of it.
HeadCheck CheckRequestHead(std::string* head, const HeadLimits& limits);

// A request line for the log: every byte that is not printable ASCII, and
// the backslash, as \xNN, so that no request can write lines or terminal
// controls into it.
std::string LogSafe(const std::string& text);

}  // namespace albumsvc
