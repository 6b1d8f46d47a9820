// The album service's HTTP front: the login and the three command URLs, the
// gallery with its login, album pages and downloads, the contact page, and
// (only when switched on) the test endpoints.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "tools/album-service/album_store.h"
#include "tools/album-service/login_limiter.h"

namespace httplib {
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace albumsvc {

class CHttpFront;

// Test hook: where an upload request stops until the stall is switched off.
enum StallMode { StallOff, StallBeforeBody, StallBeforeAnswer };
bool ParseStallMode(const std::string& text, StallMode* mode);

struct ServerOptions {
  std::string address = "127.0.0.1";
  int port = 8642;                  // 0: any free port
  int64_t maxUpload = 100LL << 20;  // per-upload file size limit; 0: none
  int64_t maxBody = 1LL << 20;      // body limit of requests other than uploads
  // Root of the command URLs, and the origin of the gallery's own forms;
  // empty: the listening address.
  std::string publicUrl;
  bool logRequests = true;
  // Everybody sees every album and file without logging in.
  bool publicGallery = false;
  // HTTPS with these PEM files when both are given.
  std::string tlsCert, tlsKey;
  // Wrong logins allowed per minute for one account; one address gets twice
  // as many. 0: no limit.
  int loginFailuresPerMinute = 5;
  // Requests served at once, and connections one client address may open
  // (0: no cap, behind a proxy).
  int threads = 64;
  int maxConnectionsPerAddress = 32;
  int maxConnections = 512;
  // Test hooks, off unless asked for: /test/* endpoints and upload stalls.
  bool testHooks = false;
  StallMode stall = StallOff;
  // Bytes per second each connection is read at most, as over a user's link
  // (a large upload then lasts long enough to be caught mid-way); 0: no limit.
  int64_t testReadRate = 0;
};

class CAlbumServer {
 public:
  CAlbumServer(CAlbumStore* store, const ServerOptions& options);
  ~CAlbumServer();
  CAlbumServer(const CAlbumServer&) = delete;
  CAlbumServer& operator=(const CAlbumServer&) = delete;

  // False when the TLS certificate or key cannot be used.
  bool Valid(std::string* error) const;
  bool Bind(std::string* error);
  int Port() const { return port_; }
  // Serves until Stop; returns false when serving failed.
  bool Run();
  void Stop();

  void SetStall(StallMode mode);
  void SetMaxUpload(int64_t bytes) { maxUpload_ = bytes; }

 private:
  void Routes();
  void WebRoutes();
  bool LogInLimited(const std::string& name, const std::string& password,
                    const std::string& address, Account* account);
  void HandleLogIn(const httplib::Request& req, httplib::Response& res,
                   const httplib::ContentReader& reader);
  void HandleDirList(const httplib::Request& req, httplib::Response& res,
                     const httplib::ContentReader& reader);
  void HandleCreateDir(const httplib::Request& req, httplib::Response& res,
                       const httplib::ContentReader& reader);
  void HandleUpload(const httplib::Request& req, httplib::Response& res,
                    const httplib::ContentReader& reader);
  void HandleTest(const httplib::Request& req, httplib::Response& res);
  // The gallery (album_web.cpp).
  bool Viewer(const httplib::Request& req, Account* account);
  void HandleHome(const httplib::Request& req, httplib::Response& res);
  void HandleAlbumPage(const httplib::Request& req, httplib::Response& res);
  void HandleMedia(const httplib::Request& req, httplib::Response& res);
  void HandleWebLogIn(const httplib::Request& req, httplib::Response& res,
                      const httplib::ContentReader& reader);
  void HandleWebLogOut(const httplib::Request& req, httplib::Response& res,
                       const httplib::ContentReader& reader);
  bool SameOrigin(const httplib::Request& req) const;
  std::string CookieSecurity() const;
  void WaitWhileStalled(StallMode at);
  void Log(const httplib::Request& req, const httplib::Response& res) const;

  CAlbumStore* store_;
  ServerOptions options_;
  std::unique_ptr<CHttpFront> http_;
  bool tls_ = false;
  int port_ = 0;
  // The service's public root and the origins its pages have.
  std::string root_, origin_, localOrigin_;
  CLoginLimiter limiter_;
  std::atomic<int64_t> maxUpload_;
  std::mutex stallMutex_;
  std::condition_variable stallChanged_;
  StallMode stall_ = StallOff;
  bool stopping_ = false;
};

}  // namespace albumsvc
