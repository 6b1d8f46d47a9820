// A raw loopback HTTP server that plays the album service's four commands
// with behaviour the real service never shows: a login answer held back
// until the test releases it, and an upload whose body it stops reading.
// Each connection runs on a thread of its own, so a connection it no longer
// reads never blocks the next one. Every wait is bounded.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ScriptedRequest {
  std::string path;  // request target: path and query
  std::string head;  // request line and headers, up to the blank line
  size_t contentLength = 0;
  size_t bodyBytes = 0;   // body bytes read so far
  bool complete = false;  // the whole body was read
  bool answered = false;
  bool closedByPeer = false;  // the client ended the connection (or reset it)
};

class CScriptedService {
 public:
  // Listens on 127.0.0.1:port (0 picks a free port). Ok() tells whether it does.
  explicit CScriptedService(uint16_t port = 0);
  // Closes every connection, including the ones it stopped reading.
  ~CScriptedService();
  CScriptedService(const CScriptedService&) = delete;
  CScriptedService& operator=(const CScriptedService&) = delete;

  bool Ok() const { return listener_ != INVALID_SOCKET; }
  uint16_t Port() const { return port_; }
  // "http://127.0.0.1:PORT"; the command URLs of the login answer start with it.
  std::string BaseUrl() const;

  // Answer bodies per command ("/login.php", "/dirlist.php", "/createdir.php",
  // "/upload.php"); set before the client connects. Defaults: a login with
  // the four values, two albums (5 "Holiday", 7 "Work"), album 9 created,
  // and every upload accepted.
  void SetAnswer(const std::string& path, const std::string& body);
  // The login answer waits until ReleaseLogIn (or the server ends).
  void HoldLogIn(bool hold);
  void ReleaseLogIn();
  // After this many body bytes of an upload the server reads no more and
  // never answers; the connection stays open until the server ends. 0: off.
  void StopReadingUploadsAfter(size_t bodyBytes) { stopReadingAfter_ = bodyBytes; }

  std::vector<ScriptedRequest> Requests();
  // One line per request: path, body bytes, complete, answered, closed by the
  // client; for messages of failed tests.
  std::string Describe();
  // Number of requests whose path starts with prefix.
  int Count(const std::string& prefix);
  // Waits until the condition on the requests holds; false after timeoutMs.
  bool WaitFor(const std::function<bool(const std::vector<ScriptedRequest>&)>& condition,
               unsigned timeoutMs);

 private:
  void Serve();
  void Handle(SOCKET client, size_t index);
  std::string AnswerFor(const std::string& path);
  void Update(size_t index, const std::function<void(ScriptedRequest&)>& change);

  SOCKET listener_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::atomic<size_t> stopReadingAfter_{0};
  std::mutex lock_;
  std::condition_variable changed_;
  bool stopping_ = false;
  bool holdLogIn_ = false;
  std::vector<std::pair<std::string, std::string>> answers_;
  std::vector<ScriptedRequest> requests_;
  std::vector<SOCKET> open_;  // connections still open, closed by the destructor
  std::vector<std::thread> handlers_;
  std::thread acceptor_;
};
