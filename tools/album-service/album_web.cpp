// The gallery side of the service: login form and session cookie, the
// account's own albums, album pages and file downloads (streamed from disk,
// with byte ranges so that movies play and seek), and the contact page.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <memory>

#include "tools/album-service/album_server.h"
#include "tools/album-service/gallery.h"
#include "tools/album-service/http_front.h"

namespace albumsvc {

namespace {

const char kCookie[] = "album_session";
const int kCookieSeconds = 7 * 24 * 60 * 60;
const size_t kMaxFormBody = 16 * 1024;
const size_t kChunk = 64 * 1024;
const char kHtmlType[] = "text/html; charset=utf-8";

// Every answer says nosniff already (the server's default headers).
void PageHeaders(httplib::Response& res) {
  res.set_header("Content-Security-Policy", kPagePolicy);
  res.set_header("X-Frame-Options", "DENY");
  res.set_header("Referrer-Policy", "same-origin");
  res.set_header("Cache-Control", "no-store");
}

void SendPage(httplib::Response& res, const std::string& html, int status = 200) {
  PageHeaders(res);
  res.status = status;
  res.set_content(html, kHtmlType);
}

std::string CookieValue(const httplib::Request& req, const std::string& name) {
  for (size_t i = 0; i < req.get_header_value_count("Cookie"); ++i) {
    std::string header = req.get_header_value("Cookie", i);
    size_t pos = 0;
    while (pos < header.size()) {
      size_t end = header.find(';', pos);
      if (end == std::string::npos) end = header.size();
      std::string pair = header.substr(pos, end - pos);
      size_t b = pair.find_first_not_of(' ');
      size_t eq = pair.find('=');
      if (b != std::string::npos && eq != std::string::npos && pair.substr(b, eq - b) == name)
        return pair.substr(eq + 1);
      pos = end + 1;
    }
  }
  return "";
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string UrlDecode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') {
      out += ' ';
    } else if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 &&
               HexValue(s[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// application/x-www-form-urlencoded: the first value of each name.
std::map<std::string, std::string> ParseFormBody(const std::string& body) {
  std::map<std::string, std::string> out;
  size_t pos = 0;
  while (pos <= body.size()) {
    size_t end = body.find('&', pos);
    if (end == std::string::npos) end = body.size();
    std::string pair = body.substr(pos, end - pos);
    size_t eq = pair.find('=');
    if (eq != std::string::npos)
      out.emplace(UrlDecode(pair.substr(0, eq)), UrlDecode(pair.substr(eq + 1)));
    pos = end + 1;
  }
  return out;
}

// Reads a small form body; false when it is longer than any form of ours.
bool ReadSmallBody(const httplib::ContentReader& reader, std::string* body) {
  bool tooLong = false;
  reader([&](const char* data, size_t size) {
    if (body->size() + size > kMaxFormBody)
      tooLong = true;
    else
      body->append(data, size);
    return true;
  });
  return !tooLong;
}

// Digits only, held at INT64_MAX: a range may name an end far past any file.
bool ParseRangeNumber(const std::string& text, int64_t* value) {
  if (text.empty()) return false;
  *value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    *value = *value > (INT64_MAX - 9) / 10 ? INT64_MAX : *value * 10 + (c - '0');
  }
  return true;
}

bool ParseId(const std::string& text, int64_t* id) {
  if (text.empty() || text.size() > 18) return false;
  *id = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    *id = *id * 10 + (c - '0');
  }
  return true;
}

enum RangeResult { RangeWhole, RangePart, RangeUnsatisfiable };

// One "bytes=" range (first-last, first- or -suffix; the unit in any case).
// Several ranges or an unusable header get the whole file, as HTTP says.
RangeResult ParseRange(const std::string& header, int64_t size, int64_t* first, int64_t* last) {
  const std::string unit = "bytes=";
  if (header.size() < unit.size()) return RangeWhole;
  for (size_t i = 0; i < unit.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(header[i])) != unit[i]) return RangeWhole;
  std::string spec = header.substr(unit.size());
  if (spec.find(',') != std::string::npos) return RangeWhole;
  size_t dash = spec.find('-');
  if (dash == std::string::npos) return RangeWhole;
  std::string a = spec.substr(0, dash), b = spec.substr(dash + 1);
  int64_t x = 0, y = 0;
  if (a.empty()) {
    if (!ParseRangeNumber(b, &y)) return RangeWhole;
    if (y == 0) return RangeUnsatisfiable;
    *first = std::max<int64_t>(0, size - y);
    *last = size - 1;
  } else {
    if (!ParseRangeNumber(a, &x) || (!b.empty() && !ParseRangeNumber(b, &y))) return RangeWhole;
    if (!b.empty() && y < x) return RangeWhole;
    if (x >= size) return RangeUnsatisfiable;
    *first = x;
    *last = b.empty() ? size - 1 : std::min(y, size - 1);
  }
  return size > 0 ? RangePart : RangeUnsatisfiable;
}

}  // namespace

void CAlbumServer::WebRoutes() {
  http_->Get("/",
             [this](const httplib::Request& req, httplib::Response& res) { HandleHome(req, res); });
  http_->Get("/style.css", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kStyleSheet, "text/css; charset=utf-8");
  });
  http_->Get(R"(/album/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
    HandleAlbumPage(req, res);
  });
  http_->Get(R"(/media/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
    HandleMedia(req, res);
  });
  http_->Post("/login",
              [this](const httplib::Request& req, httplib::Response& res,
                     const httplib::ContentReader& reader) { HandleWebLogIn(req, res, reader); });
  http_->Post("/logout",
              [this](const httplib::Request& req, httplib::Response& res,
                     const httplib::ContentReader& reader) { HandleWebLogOut(req, res, reader); });
  http_->Get("/contact.php", [](const httplib::Request& req, httplib::Response& res) {
    SendPage(res, RenderContact(req.get_param_value("Subject"), req.get_param_value("Path")));
  });
}

bool CAlbumServer::Viewer(const httplib::Request& req, Account* account) {
  std::string key = CookieValue(req, kCookie);
  return !key.empty() && store_->FindWebSession(key, account);
}

void CAlbumServer::HandleHome(const httplib::Request& req, httplib::Response& res) {
  PageViewer viewer;
  viewer.publicGallery = options_.publicGallery;
  if (options_.publicGallery)
    return SendPage(res, RenderGallery(viewer, store_->ListAlbums(std::string()),
                                       store_->ListMedia(std::string())));
  Account account;
  if (!Viewer(req, &account)) return SendPage(res, RenderLogin(""));
  viewer.account = account.name;
  SendPage(res,
           RenderGallery(viewer, store_->ListAlbums(account.id), store_->ListMedia(account.id)));
}

void CAlbumServer::HandleAlbumPage(const httplib::Request& req, httplib::Response& res) {
  PageViewer viewer;
  viewer.publicGallery = options_.publicGallery;
  Account account;
  if (!options_.publicGallery) {
    if (!Viewer(req, &account)) return res.set_redirect("/", 303);
    viewer.account = account.name;
  }
  int64_t id = 0;
  Album album;
  bool found = ParseId(req.matches[1], &id) &&
               (id == 0 || (store_->GetAlbum(id, &album) &&
                            (options_.publicGallery || album.account == account.name)));
  if (!found) return SendPage(res, RenderNotFound(viewer), 404);
  std::vector<Media> media =
      options_.publicGallery ? store_->ListMedia(std::string()) : store_->ListMedia(account.id);
  SendPage(res, RenderAlbum(viewer, id, id == 0 ? "Public inbox" : album.name, media));
}

void CAlbumServer::HandleMedia(const httplib::Request& req, httplib::Response& res) {
  Account account;
  bool allowed = options_.publicGallery || Viewer(req, &account);
  int64_t id = 0;
  Media m;
  // Someone else's file is "not found", the same as one that does not exist.
  if (!allowed || !ParseId(req.matches[1], &id) || !store_->GetMedia(id, &m) ||
      (!options_.publicGallery && m.account != account.name)) {
    PageViewer viewer;
    viewer.account = account.name;
    return SendPage(res, RenderNotFound(viewer), 404);
  }
  int fd = ::open(m.path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    if (fd >= 0) ::close(fd);
    res.status = 500;
    return res.set_content("the file cannot be read\n", "text/plain; charset=utf-8");
  }
  auto file = std::shared_ptr<int>(new int(fd), [](int* p) {
    ::close(*p);
    delete p;
  });
  int64_t size = st.st_size, first = 0, last = size - 1;
  res.set_header("Content-Security-Policy", kMediaPolicy);
  res.set_header("Cache-Control", "private");
  res.set_header("Accept-Ranges", "bytes");
  std::string type = MediaContentType(m);
  if (type == "application/octet-stream") res.set_header("Content-Disposition", "attachment");
  RangeResult range = ParseRange(req.get_header_value("Range"), size, &first, &last);
  if (range == RangeUnsatisfiable) {
    res.status = 416;
    res.set_header("Content-Range", "bytes */" + std::to_string(size));
    return res.set_content("", "text/plain");
  }
  if (range == RangePart) {
    res.status = 206;
    res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) +
                                        "/" + std::to_string(size));
  } else {
    res.status = 200;
  }
  int64_t length = size == 0 ? 0 : last - first + 1;
  if (length == 0) return res.set_content("", type);
  res.set_content_provider(static_cast<size_t>(length), type,
                           [file, first](size_t offset, size_t length, httplib::DataSink& sink) {
                             char buf[kChunk];
                             size_t n = std::min(length, kChunk);
                             ssize_t got =
                                 ::pread(*file, buf, n,
                                         static_cast<off_t>(first + static_cast<int64_t>(offset)));
                             if (got <= 0) return false;
                             return sink.write(buf, static_cast<size_t>(got));
                           });
}

// A form posted from another site is refused: nobody gets logged in or out
// by a page they merely visit. The origin is the service's own public root
// (behind a proxy the one the browser knows), never what Host says, which a
// page elsewhere can have its visitors' browsers say.
bool CAlbumServer::SameOrigin(const httplib::Request& req) const {
  std::string site = req.get_header_value("Sec-Fetch-Site");
  if (site == "cross-site" || site == "same-site") return false;
  if (!req.has_header("Origin")) return true;
  std::string origin = req.get_header_value("Origin");
  return origin == origin_ || (!localOrigin_.empty() && origin == localOrigin_);
}

// Cookies travel only over HTTPS when the service (or its proxy) uses it.
std::string CAlbumServer::CookieSecurity() const {
  bool secure = tls_ || options_.publicUrl.compare(0, 8, "https://") == 0;
  return std::string("; HttpOnly; SameSite=Lax") + (secure ? "; Secure" : "");
}

void CAlbumServer::HandleWebLogIn(const httplib::Request& req, httplib::Response& res,
                                  const httplib::ContentReader& reader) {
  std::string body;
  bool small = ReadSmallBody(reader, &body);
  if (!SameOrigin(req)) return SendPage(res, RenderLogin("Log in from this site's own page."), 403);
  if (!small) return SendPage(res, RenderLogin("Wrong user name or password."), 413);
  std::map<std::string, std::string> form = ParseFormBody(body);
  Account account;
  if (!LogInLimited(form["username"], form["password"], req.remote_addr, &account))
    return SendPage(res, RenderLogin("Wrong user name or password."), 200);
  std::string key = store_->CreateWebSession(account.id);
  if (key.empty()) return SendPage(res, RenderLogin("The session could not be stored."), 500);
  res.set_header("Set-Cookie", std::string(kCookie) + "=" + key + "; Path=/; Max-Age=" +
                                   std::to_string(kCookieSeconds) + CookieSecurity());
  PageHeaders(res);
  res.set_redirect("/", 303);
}

void CAlbumServer::HandleWebLogOut(const httplib::Request& req, httplib::Response& res,
                                   const httplib::ContentReader& reader) {
  std::string body;
  ReadSmallBody(reader, &body);
  if (!SameOrigin(req))
    return SendPage(res, RenderLogin("Log out from this site's own page."), 403);
  std::string key = CookieValue(req, kCookie);
  if (!key.empty()) store_->DeleteWebSession(key);
  res.set_header("Set-Cookie", std::string(kCookie) + "=; Path=/; Max-Age=0" + CookieSecurity());
  PageHeaders(res);
  res.set_redirect("/", 303);
}

}  // namespace albumsvc
