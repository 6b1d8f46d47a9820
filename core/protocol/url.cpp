#include "core/protocol/url.h"

#include <cctype>

namespace quib {

namespace {

// Digits up to the first other byte, kept in 16 bits like the port itself.
uint16_t ReadPort(const std::string& text, size_t from) {
  uint32_t value = 0;
  for (size_t i = from; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  }
  return static_cast<uint16_t>(value);
}

bool IsHttpsScheme(const std::string& scheme) {
  static const char kHttps[] = "https";
  if (scheme.size() != sizeof kHttps - 1) return false;
  for (size_t i = 0; i < scheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(scheme[i])) != kHttps[i]) return false;
  }
  return true;
}

}  // namespace

// ":" and "/" are below 0x40 and so never the trail byte of a double-byte
// character: plain byte searches step over ANSI characters correctly.
CUrlParts ParseUrl(const std::string& url) {
  CUrlParts parts;
  std::string rest = url;
  const size_t schemeEnd = rest.find("://");
  if (schemeEnd != std::string::npos) {
    parts.secure = IsHttpsScheme(rest.substr(0, schemeEnd));
    rest.erase(0, schemeEnd + 3);
  }
  size_t colon = rest.find(':');
  const size_t slash = rest.find('/');
  // A colon inside the path ("host/a:b") is no port separator.
  if (colon != std::string::npos && slash != std::string::npos && colon > slash) {
    colon = std::string::npos;
  }
  if (colon != std::string::npos) {
    parts.host = rest.substr(0, colon);
    parts.port = ReadPort(rest, colon + 1);
    parts.objectPath = slash != std::string::npos ? rest.substr(slash) : "/";
    // The platform's default for port 0 is the plain HTTP port, also over TLS.
    if (parts.secure && parts.port == 0) parts.port = HttpsDefaultPort;
  } else {
    parts.port = parts.secure ? HttpsDefaultPort : HttpDefaultPort;
    if (slash != std::string::npos) {
      parts.host = rest.substr(0, slash);
      parts.objectPath = rest.substr(slash);
    } else {
      parts.host = rest;
      parts.objectPath = "/";
    }
  }
  return parts;
}

}  // namespace quib
