#include "core/protocol/url.h"

#include <gtest/gtest.h>

using quib::CUrlParts;
using quib::ParseUrl;

namespace {

void ExpectParts(const std::string& url, const std::string& host, uint16_t port,
                 const std::string& path, bool secure = false) {
  const CUrlParts parts = ParseUrl(url);
  EXPECT_EQ(parts.host, host) << url;
  EXPECT_EQ(parts.port, port) << url;
  EXPECT_EQ(parts.objectPath, path) << url;
  EXPECT_EQ(parts.secure, secure) << url;
}

}  // namespace

TEST(ParseUrl, SchemeHostAndPath) {
  ExpectParts("http://www.example.com/cgi/login.php", "www.example.com", 80, "/cgi/login.php");
  ExpectParts("ftp://host/a", "host", 80, "/a");  // any other scheme is plain HTTP
  ExpectParts("www.example.com/x", "www.example.com", 80, "/x");
}

TEST(ParseUrl, PortWithAndWithoutPath) {
  ExpectParts("http://127.0.0.1:8642/upload.php?s=1", "127.0.0.1", 8642, "/upload.php?s=1");
  ExpectParts("127.0.0.1:8642", "127.0.0.1", 8642, "/");
  ExpectParts("host:81x9/p", "host", 81, "/p");     // digits up to the first other byte
  ExpectParts("host:70000/p", "host", 4464, "/p");  // kept in 16 bits
}

TEST(ParseUrl, BareHostAndEmptyPort) {
  ExpectParts("server", "server", 80, "/");
  ExpectParts("http://server", "server", 80, "/");
  ExpectParts("server:", "server", 0, "/");  // the platform's default port
  ExpectParts("server:/x", "server", 0, "/x");
  ExpectParts("", "", 80, "/");
}

TEST(ParseUrl, QueryStaysAndOnlyFirstSchemeMarkerIsDropped) {
  ExpectParts("http://h/dir.php?abc", "h", 80, "/dir.php?abc");
  ExpectParts("http://h/dir.php?", "h", 80, "/dir.php?");
  ExpectParts("http://h/r?u=http://x", "h", 80, "/r?u=http://x");
}

TEST(ParseUrl, ColonAfterFirstSlashBelongsToThePath) {
  ExpectParts("http://host/a:b/c", "host", 80, "/a:b/c");
  ExpectParts("host/time?t=12:30", "host", 80, "/time?t=12:30");
  ExpectParts("host:8080/a:b", "host", 8080, "/a:b");
}

TEST(ParseUrl, HttpsUsesTlsAndPort443) {
  ExpectParts("https://secure.example.com/login", "secure.example.com", 443, "/login", true);
  ExpectParts("HTTPS://h", "h", 443, "/", true);
  ExpectParts("https://h:8443/x", "h", 8443, "/x", true);
  ExpectParts("https://h:/x", "h", 443, "/x", true);
  ExpectParts("httpsx://h/x", "h", 80, "/x", false);
}

TEST(ParseUrl, AnsiBytesPassUnchanged) {
  ExpectParts("http://h/\xe4\xf6\xfc:1/\x81\x2f", "h", 80, "/\xe4\xf6\xfc:1/\x81\x2f");
}
