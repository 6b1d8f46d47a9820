// Splitting a service URL into what the HTTP connection needs: server name,
// port, object path (with the query) and whether TLS is used.
#pragma once

#include <cstdint>
#include <string>

namespace quib {

constexpr uint16_t HttpDefaultPort = 80;
constexpr uint16_t HttpsDefaultPort = 443;

struct CUrlParts {
  std::string host;
  std::string objectPath = "/";  // starts with "/", query included
  uint16_t port = HttpDefaultPort;
  bool secure = false;  // "https://": TLS
};

// "scheme://" is dropped (only https changes anything); "host:port/path",
// "host/path", "host:port" and "host" are understood. A port without digits
// is 0, which leaves the port to the platform's default for the scheme. A ":"
// after the first "/" belongs to the path, not to the host.
CUrlParts ParseUrl(const std::string& url);

}  // namespace quib
