// The service's connections, in front of the HTTP library. The library
// gives each connection a worker thread that waits on the socket for as long
// as the client keeps sending, with no limit on the head it reads, and no
// deadline for a head or a TLS handshake. So the front accepts and reads
// itself: one thread waits on every socket at once, does the handshakes and
// reads each request head under a deadline and within limits, with caps per
// client address; only a complete, checked head goes to a worker, where the
// library answers the request. A slow or silent client costs a socket, not
// a worker.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/album-service/request_head.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace albumsvc {

struct FrontOptions {
  std::string address = "127.0.0.1";
  int port = 8642;  // 0: any free port
  // HTTPS with these PEM files when both are given.
  std::string tlsCert, tlsKey;
  // Open connections in all; when all are open, the one that has waited
  // longest for a head makes way for a new one.
  int maxConnections = 512;
  // Open connections of one client address; 0: no cap (behind a proxy,
  // where every client has the proxy's address).
  int maxConnectionsPerAddress = 32;
  // Requests of one address served at once; more wait for their turn.
  int maxBusyPerAddress = 8;
  int workers = 64;
  // The TLS handshake and the whole head of a first request.
  int headTimeoutMs = 10000;
  // A kept-alive connection waiting for its next request.
  int idleTimeoutMs = 5000;
  // One read or write while a request is served (a body, an answer).
  int ioTimeoutMs = 60000;
  int keepAliveRequests = 100;
  HeadLimits head;
  // While a request is served, its connection is read at most this fast
  // (a test hook); 0: no limit.
  int64_t readBytesPerSecond = 0;
};

// The client address that caps count: an IPv4 address itself, an IPv6
// address by its /64 network, which one client usually has whole.
std::string AddressGroup(const std::string& ip);

class CHttpFront : public httplib::Server {
 public:
  explicit CHttpFront(const FrontOptions& options);
  ~CHttpFront() override;
  CHttpFront(const CHttpFront&) = delete;
  CHttpFront& operator=(const CHttpFront&) = delete;

  // False when the TLS certificate or key cannot be used.
  bool is_valid() const override;
  bool Bind();
  int Port() const { return port_; }
  // Serves until Stop; false when waiting on the sockets failed.
  bool Run();
  // From any thread, also before Run or more than once.
  void Stop();

 private:
  struct Connection;
  class CStream;

  void Accept();
  bool MakeRoom();
  void OnEvent(Connection* c, uint32_t events);
  void Handshake(Connection* c);
  void ReadHead(Connection* c);
  void HeadComplete(Connection* c, size_t end);
  void Refuse(Connection* c, int status, const std::string& why);
  void Drain(Connection* c);
  void Resume(Connection* c);
  void Dispatch();
  void TakeFinished();
  void ExpireDeadlines();
  void Watch(Connection* c, uint32_t events);
  void Close(Connection* c);
  void ShutDown();
  void Worker();
  void Serve(Connection* c);
  void Wake();

  FrontOptions options_;
  SSL_CTX* ctx_ = nullptr;
  int listen_ = -1, epoll_ = -1, wake_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  bool acceptPaused_ = false;

  // Owned by the thread in Run.
  std::map<int, std::unique_ptr<Connection>> connections_;
  std::map<std::string, int> perAddress_, busyPerAddress_;
  std::deque<Connection*> waiting_;
  int busy_ = 0;

  // Shared with the workers.
  std::mutex mutex_;
  std::condition_variable jobReady_;
  std::deque<Connection*> jobs_, finished_;
  std::vector<std::thread> threads_;
  int idleWorkers_ = 0;
  bool quit_ = false;
};

}  // namespace albumsvc
