// A loopback HTTP server that behaves as a test scripts it, per request
// path: it answers after the request, at once (as soon as the request head
// is in), only when the test releases it, or never; it can stop reading a
// body, close or reset the connection in the middle of an answer, and it
// records what reached it. CServicePortLease puts one at the program's fixed
// login address in place of the album service.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

enum class AnswerTime {
  AfterRequest,  // once the whole request is read
  AtHead,        // as soon as the request head is in, before its body is read
  OnRelease,     // after the whole request, when the test calls Release
  Never,         // reads the request, then holds the connection unanswered
};

// Whoever closes a TCP connection first keeps its port in TIME_WAIT for a
// minute, and the album service (SO_REUSEPORT only) cannot listen on a port
// with such a socket of another program: the server leaves the first close to
// the client where it can.
enum class AnswerEnd {
  AwaitClient,  // the client closes once it has the whole answer; one that
                // keeps the connection open for 3 s gets a reset
  Close,        // orderly close right after the answer bytes (a cut answer)
  Reset,        // connection reset right after the answer bytes
};

struct CScript {
  std::string answer;  // raw bytes sent back; HttpAnswer frames a body
  AnswerTime time = AnswerTime::AfterRequest;
  AnswerEnd end = AnswerEnd::AwaitClient;
  // Body bytes read before the server stops reading. It then holds the
  // connection, unanswered, until Hangup (a reset) or its own end.
  size_t stopReadingAfter = SIZE_MAX;
};

// A whole answer: status line, Content-Type, Content-Length and the body.
std::string HttpAnswer(const std::string& body, int status = 200);
// Only the head of an answer that announces a body of this length.
std::string HttpHead(size_t contentLength, int status = 200);
// A script that answers 200 with this body after the request.
CScript Reply(const std::string& body);
// The same script, answering only when the test calls Release.
CScript Late(CScript script);
// A LogIn answer "0" whose command URLs are base + /dirlist.php,
// /createdir.php and /upload.php, with the session id sid.
std::string LogInAnswerFor(const std::string& base, const std::string& sid = "s1d");

struct CRecordedRequest {
  std::string path;   // request path before "?"
  std::string query;  // after "?"
  std::string head;
  std::string body;       // as read so far (at most the first 8 MB)
  size_t bodyBytes = 0;   // body bytes read so far
  size_t bodyLength = 0;  // Content-Length of the request
  bool complete = false;  // the whole body was read
  bool answered = false;  // the answer bytes went out
};

class CScriptedServer {
 public:
  // Listens on 127.0.0.1 at the port (0: a free one); a busy port is tried
  // again for up to retryMs. See Listening and Error.
  explicit CScriptedServer(uint16_t port = 0, DWORD retryMs = 0);
  // Closes every connection (held ones with a reset) and waits for them.
  ~CScriptedServer();
  CScriptedServer(const CScriptedServer&) = delete;
  CScriptedServer& operator=(const CScriptedServer&) = delete;

  bool Listening() const { return listener_ != INVALID_SOCKET; }
  const std::string& Error() const { return error_; }
  uint16_t Port() const { return port_; }
  std::string BaseUrl() const;

  // The script for requests to this path (without the query); it stays in
  // force until replaced. A request to a path without a script gets 404.
  void On(const std::string& path, const CScript& script);
  // A LogIn answer "0" whose command URLs point at this server.
  std::string LogInAnswer() const { return LogInAnswerFor(BaseUrl()); }

  // Lets the requests held for OnRelease answer.
  void Release();
  // Resets the connections held by Never and stopReadingAfter.
  void Hangup();

  std::vector<CRecordedRequest> Requests();
  // One line per request so far (path, body bytes, complete, answered), for
  // the output of a failed test.
  std::string Describe();
  // Requests to this path so far, and the last of them.
  size_t Count(const std::string& path);
  CRecordedRequest Last(const std::string& path);
  // Waits until a condition on the requests holds; false on time-out.
  bool WaitFor(const std::string& path, size_t count, bool complete, DWORD timeoutMs);
  bool WaitBodyBytes(const std::string& path, size_t bytes, DWORD timeoutMs);

 private:
  void Serve();
  void Handle(SOCKET client, size_t index);
  bool ReadSome(SOCKET client, size_t most, std::string& into);
  bool SendAll(SOCKET client, const std::string& bytes);
  void HoldUntil(const std::atomic<unsigned>& counter, unsigned seen);
  CScript ScriptFor(const std::string& path);

  SOCKET listener_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::string error_;
  std::atomic<bool> stopping_{false};
  std::atomic<unsigned> releases_{0};
  std::atomic<unsigned> hangups_{0};
  std::mutex lock_;
  std::map<std::string, CScript> scripts_;
  std::vector<CRecordedRequest> requests_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

// Takes over the album service's address (QUIB_UPLOAD_SERVICE_URL, the
// program's login address): the controller of
// scripts/test.d/20-upload-service.sh stops the service, and a scripted
// server listens there instead. The destructor gives the address back and
// has the service started again.
class CServicePortLease {
 public:
  CServicePortLease();
  ~CServicePortLease();
  CServicePortLease(const CServicePortLease&) = delete;
  CServicePortLease& operator=(const CServicePortLease&) = delete;

  // Empty when the scripted server listens at the address.
  const std::string& Error() const { return error_; }
  CScriptedServer& Server() { return *server_; }
  // Stops the scripted server and has the service started again (the
  // destructor does it too); an error text when the service did not come
  // back.
  std::string GiveBack();

 private:
  bool stopRequested_ = false;  // the service is to be started again
  uint16_t port_ = 0;
  std::string error_;
  std::unique_ptr<CScriptedServer> server_;
};

// The port of QUIB_UPLOAD_SERVICE_URL when it is a loopback address, else 0.
uint16_t UploadServicePort();
// The kernel's sockets on a local port as Linux lists them (Wine shows
// /proc), one line each; empty when there are none.
std::string PortSockets(uint16_t port);
// Sends the bytes to 127.0.0.1:port and reads until the server closes (at
// most 10 s); false when it could not connect or the server did not close.
bool RawRequest(uint16_t port, const std::string& bytes);

// Asks the controller of scripts/test.d/20-upload-service.sh to stop ("stop")
// or start ("start") the album service and waits for it; false on time-out.
bool ControlUploadService(const std::string& what, DWORD timeoutMs);

}  // namespace e2e
