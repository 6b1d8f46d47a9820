// The album service's HTTP front: the login and the three command URLs, the
// gallery and contact pages, and (only when switched on) the test endpoints.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "tools/album-service/album_store.h"

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace albumsvc {

// Test hook: where an upload request stops until the stall is switched off.
enum StallMode { StallOff, StallBeforeBody, StallBeforeAnswer };
bool ParseStallMode(const std::string& text, StallMode* mode);

struct ServerOptions {
  std::string address = "127.0.0.1";
  int port = 8642;                  // 0: any free port
  int64_t maxUpload = 100LL << 20;  // per-upload file size limit; 0: none
  int64_t maxBody = 0;              // hard request body limit; 0: derived
  std::string publicUrl;            // root for command URLs; empty: from Host
  bool logRequests = true;
  // Test hooks, off unless asked for: /test/* endpoints and upload stalls.
  bool testHooks = false;
  StallMode stall = StallOff;
};

class CAlbumServer {
 public:
  CAlbumServer(CAlbumStore* store, const ServerOptions& options);
  ~CAlbumServer();
  CAlbumServer(const CAlbumServer&) = delete;
  CAlbumServer& operator=(const CAlbumServer&) = delete;

  bool Bind(std::string* error);
  int Port() const { return port_; }
  // Serves until Stop; returns false when serving failed.
  bool Run();
  void Stop();

  void SetStall(StallMode mode);
  void SetMaxUpload(int64_t bytes) { maxUpload_ = bytes; }

 private:
  void Routes();
  std::string BaseUrl(const httplib::Request& req) const;
  void HandleLogIn(const httplib::Request& req, httplib::Response& res,
                   const httplib::ContentReader& reader);
  void HandleDirList(const httplib::Request& req, httplib::Response& res,
                     const httplib::ContentReader& reader);
  void HandleCreateDir(const httplib::Request& req, httplib::Response& res,
                       const httplib::ContentReader& reader);
  void HandleUpload(const httplib::Request& req, httplib::Response& res,
                    const httplib::ContentReader& reader);
  void HandleTest(const httplib::Request& req, httplib::Response& res);
  void WaitWhileStalled(StallMode at);
  void Log(const httplib::Request& req, const httplib::Response& res) const;

  CAlbumStore* store_;
  ServerOptions options_;
  std::unique_ptr<httplib::Server> http_;
  int port_ = 0;
  std::atomic<int64_t> maxUpload_;
  std::mutex stallMutex_;
  std::condition_variable stallChanged_;
  StallMode stall_ = StallOff;
  bool stopping_ = false;
};

}  // namespace albumsvc
