#include "tools/album-service/http_front.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

namespace albumsvc {

namespace {

// A refused connection may still be sending: what it sends is read and
// dropped for a moment, so that it gets to read the refusal.
const int kDrainMs = 1000;
const size_t kDrainBytes = 1 << 20;
const size_t kChunk = 16 * 1024;
const int kSweepMs = 100;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string IpOf(const sockaddr_storage& a, int* port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (a.ss_family == AF_INET) {
    auto* v4 = reinterpret_cast<const sockaddr_in*>(&a);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    *port = ntohs(v4->sin_port);
  } else if (a.ss_family == AF_INET6) {
    auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    *port = ntohs(v6->sin6_port);
  }
  return text;
}

const char* Reason(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 431:
      return "Request Header Fields Too Large";
    default:
      return "Error";
  }
}

// Threads of the front never die of SIGPIPE: TLS writes to a closed socket
// raise it, and the program using the front may not have ignored it.
void BlockSigPipe(sigset_t* old) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &set, old);
}

}  // namespace

std::string AddressGroup(const std::string& ip) {
  in6_addr v6;
  if (inet_pton(AF_INET6, ip.c_str(), &v6) != 1) return ip;
  if (IN6_IS_ADDR_V4MAPPED(&v6)) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text);
    return text;
  }
  std::memset(&v6.s6_addr[8], 0, 8);
  char text[INET6_ADDRSTRLEN] = {};
  inet_ntop(AF_INET6, &v6, text, sizeof text);
  return std::string(text) + "/64";
}

struct CHttpFront::Connection {
  enum State { Handshaking, ReadingHead, Waiting, Busy, Draining };
  int fd = -1;
  SSL* ssl = nullptr;
  State state = ReadingHead;
  uint32_t watching = 0;  // epoll events, 0: not watched
  int64_t deadline = 0;
  bool idle = false;  // kept alive, no byte of the next request yet
  std::string group, remoteIp, localIp;
  int remotePort = 0, localPort = 0;
  std::string in;  // read, not yet served: a checked head first
  HeadCheck head;
  size_t drained = 0;
  int served = 0;
  bool close = false;  // the worker's verdict
};

// The library reads and writes a request through this: the checked head and
// whatever came after it first, then the socket, each wait bounded.
class CHttpFront::CStream : public httplib::Stream {
 public:
  CStream(Connection* c, int timeoutMs, int64_t bytesPerSecond)
      : c_(c), timeoutMs_(timeoutMs), rate_(bytesPerSecond) {}

  bool is_readable() const override {
    return pos_ < c_->in.size() || (c_->ssl && SSL_pending(c_->ssl) > 0) || Wait(POLLIN);
  }
  bool is_writable() const override { return Wait(POLLOUT); }

  ssize_t read(char* ptr, size_t size) override {
    if (pos_ < c_->in.size()) {
      size_t n = std::min(size, c_->in.size() - pos_);
      std::memcpy(ptr, c_->in.data() + pos_, n);
      pos_ += n;
      return static_cast<ssize_t>(n);
    }
    size = std::min<size_t>(size, INT_MAX);
    for (;;) {
      short want = POLLIN;
      if (c_->ssl) {
        ERR_clear_error();
        int n = SSL_read(c_->ssl, ptr, static_cast<int>(size));
        if (n > 0) return n;
        int e = SSL_get_error(c_->ssl, n);
        if (e == SSL_ERROR_ZERO_RETURN) return 0;
        if (e == SSL_ERROR_WANT_WRITE)
          want = POLLOUT;
        else if (e != SSL_ERROR_WANT_READ)
          return -1;
      } else {
        ssize_t n = ::recv(c_->fd, ptr, Paced(size), 0);
        if (n >= 0) return Count(n);
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
      }
      if (!Wait(want)) return -1;
    }
  }

  ssize_t write(const char* ptr, size_t size) override {
    size = std::min<size_t>(size, INT_MAX);
    for (;;) {
      short want = POLLOUT;
      if (c_->ssl) {
        ERR_clear_error();
        int n = SSL_write(c_->ssl, ptr, static_cast<int>(size));
        if (n > 0) return n;
        int e = SSL_get_error(c_->ssl, n);
        if (e == SSL_ERROR_WANT_READ)
          want = POLLIN;
        else if (e != SSL_ERROR_WANT_WRITE)
          return -1;
      } else {
        ssize_t n = ::send(c_->fd, ptr, size, MSG_NOSIGNAL);
        if (n >= 0) return n;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
      }
      if (!Wait(want)) return -1;
    }
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = c_->remoteIp;
    port = c_->remotePort;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = c_->localIp;
    port = c_->localPort;
  }
  socket_t socket() const override { return c_->fd; }

  // Drops what the library has read; a pipelined next request stays.
  void Consume() {
    c_->in.erase(0, pos_);
    pos_ = 0;
  }

 private:
  bool Wait(short events) const {
    pollfd p = {c_->fd, events, 0};
    int n;
    while ((n = ::poll(&p, 1, timeoutMs_)) < 0 && errno == EINTR) {
    }
    return n == 1 && !(p.revents & POLLNVAL);
  }

  // With a read rate: at most a tenth of a second's worth at once, taken
  // only when the bytes read so far have had their time.
  size_t Paced(size_t size) {
    if (rate_ <= 0) return size;
    const auto now = std::chrono::steady_clock::now();
    if (read_ == 0) start_ = now;
    const auto due = start_ + std::chrono::microseconds(read_ * 1000000 / rate_);
    if (due > now) std::this_thread::sleep_until(due);
    return std::min<size_t>(size, static_cast<size_t>(std::max<int64_t>(1, rate_ / 10)));
  }
  ssize_t Count(ssize_t n) {
    if (n > 0) read_ += n;
    return n;
  }

  Connection* c_;
  int timeoutMs_;
  int64_t rate_;
  int64_t read_ = 0;
  std::chrono::steady_clock::time_point start_;
  size_t pos_ = 0;
};

CHttpFront::CHttpFront(const FrontOptions& options) : options_(options) {
  wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (options_.tlsCert.empty() && options_.tlsKey.empty()) return;
  ctx_ = SSL_CTX_new(TLS_server_method());
  if (!ctx_) return;
  SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
  SSL_CTX_set_options(ctx_, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (SSL_CTX_use_certificate_chain_file(ctx_, options_.tlsCert.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx_, options_.tlsKey.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(ctx_) != 1) {
    SSL_CTX_free(ctx_);
    ctx_ = nullptr;
  }
  ERR_clear_error();
}

CHttpFront::~CHttpFront() {
  Stop();
  if (listen_ >= 0) ::close(listen_);
  if (wake_ >= 0) ::close(wake_);
  if (ctx_) SSL_CTX_free(ctx_);
}

bool CHttpFront::is_valid() const {
  return ctx_ || (options_.tlsCert.empty() && options_.tlsKey.empty());
}

bool CHttpFront::Bind() {
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string service = std::to_string(options_.port);
  if (wake_ < 0 || !is_valid() ||
      ::getaddrinfo(options_.address.c_str(), service.c_str(), &hints, &found) != 0)
    return false;
  for (addrinfo* ai = found; ai && listen_ < 0; ai = ai->ai_next) {
    int fd = ::socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    // A restart may listen while the last connections of the one before
    // wait out their time; only one process listens on a port, though.
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0)
      listen_ = fd;
    else
      ::close(fd);
  }
  ::freeaddrinfo(found);
  if (listen_ < 0) return false;
  sockaddr_storage a;
  socklen_t len = sizeof a;
  ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
  IpOf(a, &port_);
  // While this is valid the library goes on writing long answers.
  svr_sock_ = listen_;
  return true;
}

void CHttpFront::Stop() {
  stopping_ = true;
  svr_sock_ = INVALID_SOCKET;
  Wake();
}

void CHttpFront::Wake() {
  uint64_t one = 1;
  if (wake_ >= 0 && ::write(wake_, &one, sizeof one) < 0) {
    // Already signalled: the counter is full.
  }
}

bool CHttpFront::Run() {
  if (listen_ < 0) return false;
  sigset_t oldMask;
  BlockSigPipe(&oldMask);
  epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  bool ok = epoll_ >= 0;
  if (ok) {
    epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.fd = listen_;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, listen_, &ev);
    ev.data.fd = wake_;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
  }
  epoll_event events[64];
  int64_t swept = NowMs();
  while (ok && !stopping_) {
    int n = ::epoll_wait(epoll_, events, 64, kSweepMs);
    if (n < 0 && errno != EINTR) ok = false;
    for (int i = 0; i < n; ++i) {
      int fd = events[i].data.fd;
      if (fd == listen_) {
        Accept();
      } else if (fd == wake_) {
        uint64_t count;
        while (::read(wake_, &count, sizeof count) > 0) {
        }
      } else {
        auto it = connections_.find(fd);
        if (it != connections_.end()) OnEvent(it->second.get(), events[i].events);
      }
    }
    TakeFinished();
    // Deadlines are looked at now and then, not after every event: there
    // may be thousands of connections.
    if (NowMs() - swept >= kSweepMs) {
      ExpireDeadlines();
      swept = NowMs();
    }
    Dispatch();
  }
  ShutDown();
  // A SIGPIPE that came while blocked must not reach the old mask.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  timespec zero = {0, 0};
  while (::sigtimedwait(&pipe, nullptr, &zero) > 0) {
  }
  pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  return ok;
}

void CHttpFront::Accept() {
  for (;;) {
    sockaddr_storage a;
    socklen_t len = sizeof a;
    int fd =
        ::accept4(listen_, reinterpret_cast<sockaddr*>(&a), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: accept again once a connection has closed.
      if (errno == EMFILE || errno == ENFILE) {
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, listen_, nullptr);
        acceptPaused_ = true;
      }
      return;
    }
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    c->remoteIp = IpOf(a, &c->remotePort);
    c->group = AddressGroup(c->remoteIp);
    auto count = perAddress_.find(c->group);
    if ((options_.maxConnectionsPerAddress > 0 && count != perAddress_.end() &&
         count->second >= options_.maxConnectionsPerAddress) ||
        (static_cast<int>(connections_.size()) >= options_.maxConnections && !MakeRoom())) {
      ::close(fd);
      continue;
    }
    len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      c->localIp = IpOf(a, &c->localPort);
    int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    c->deadline = NowMs() + options_.headTimeoutMs;
    if (ctx_) {
      c->ssl = SSL_new(ctx_);
      if (!c->ssl || SSL_set_fd(c->ssl, fd) != 1) {
        if (c->ssl) SSL_free(c->ssl);
        ::close(fd);
        continue;
      }
      SSL_set_accept_state(c->ssl);
      c->state = Connection::Handshaking;
    }
    ++perAddress_[c->group];
    Connection* raw = c.get();
    connections_[fd] = std::move(c);
    Watch(raw, EPOLLIN);
  }
}

// All connections are open: the one that has waited longest for its head
// (or a kept-alive one for its next request) makes way, so that clients
// who fill every place with sockets that say nothing keep nobody out.
bool CHttpFront::MakeRoom() {
  Connection* oldest = nullptr;
  for (auto& entry : connections_) {
    Connection* c = entry.second.get();
    if (c->deadline && (!oldest || c->deadline < oldest->deadline)) oldest = c;
  }
  if (oldest) Close(oldest);
  return oldest != nullptr;
}

void CHttpFront::OnEvent(Connection* c, uint32_t events) {
  if (c->state == Connection::Handshaking)
    Handshake(c);
  else if (c->state == Connection::ReadingHead)
    ReadHead(c);
  else if (c->state == Connection::Draining)
    Drain(c);
  else if (events & (EPOLLHUP | EPOLLERR))
    Close(c);
}

void CHttpFront::Handshake(Connection* c) {
  ERR_clear_error();
  int r = SSL_do_handshake(c->ssl);
  if (r == 1) {
    c->state = Connection::ReadingHead;
    return ReadHead(c);
  }
  int e = SSL_get_error(c->ssl, r);
  if (e == SSL_ERROR_WANT_READ)
    Watch(c, EPOLLIN);
  else if (e == SSL_ERROR_WANT_WRITE)
    Watch(c, EPOLLOUT);
  else
    Close(c);
}

void CHttpFront::ReadHead(Connection* c) {
  char buf[kChunk];
  for (;;) {
    ssize_t n;
    uint32_t want = EPOLLIN;
    if (c->ssl) {
      ERR_clear_error();
      int r = SSL_read(c->ssl, buf, sizeof buf);
      n = r;
      if (r <= 0) {
        int e = SSL_get_error(c->ssl, r);
        if (e == SSL_ERROR_WANT_WRITE)
          want = EPOLLOUT;
        else if (e != SSL_ERROR_WANT_READ)
          return Close(c);
      }
    } else {
      n = ::recv(c->fd, buf, sizeof buf, 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        return Close(c);
    }
    if (n <= 0) return Watch(c, want);
    if (c->idle) {
      c->idle = false;
      c->deadline = NowMs() + options_.headTimeoutMs;
    }
    c->in.append(buf, static_cast<size_t>(n));
    size_t end = FindHeadEnd(&c->in);
    if (end) return HeadComplete(c, end);
    if (c->in.size() > options_.head.maxBytes) return Refuse(c, 431, "request head too large");
  }
}

void CHttpFront::HeadComplete(Connection* c, size_t end) {
  std::string head = c->in.substr(0, end);
  c->head = CheckRequestHead(&head, options_.head);
  if (c->head.status) return Refuse(c, c->head.status, c->head.why);
  c->in = head + c->in.substr(end);
  c->state = Connection::Waiting;
  c->deadline = 0;
  Watch(c, 0);
  waiting_.push_back(c);
}

// Answers a head the library must not see, then reads and drops for a
// moment what the client is still sending before it closes.
void CHttpFront::Refuse(Connection* c, int status, const std::string& why) {
  std::string body = "1\r\nError=" + why + "\r\n";
  std::string text = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
                     "\r\nContent-Type: text/plain; charset=utf-8\r\n"
                     "X-Content-Type-Options: nosniff\r\nConnection: close\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\n\r\n" + body;
  // Small enough for the socket's buffer: sent at once or not at all.
  if (c->ssl) {
    ERR_clear_error();
    SSL_write(c->ssl, text.data(), static_cast<int>(text.size()));
  } else if (::send(c->fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
    return Close(c);
  }
  ::shutdown(c->fd, SHUT_WR);
  c->state = Connection::Draining;
  c->in.clear();
  c->in.shrink_to_fit();
  c->deadline = NowMs() + kDrainMs;
  Drain(c);
}

void CHttpFront::Drain(Connection* c) {
  char buf[kChunk];
  for (;;) {
    ssize_t n = ::recv(c->fd, buf, sizeof buf, 0);
    if (n > 0) {
      c->drained += static_cast<size_t>(n);
      if (c->drained > kDrainBytes) return Close(c);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
      return Watch(c, EPOLLIN);
    return Close(c);
  }
}

void CHttpFront::Dispatch() {
  for (auto it = waiting_.begin(); it != waiting_.end() && busy_ < options_.workers;) {
    Connection* c = *it;
    int& busy = busyPerAddress_[c->group];
    if (options_.maxBusyPerAddress > 0 && busy >= options_.maxBusyPerAddress) {
      ++it;
      continue;
    }
    ++busy;
    ++busy_;
    it = waiting_.erase(it);
    c->state = Connection::Busy;
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(c);
    if (static_cast<int>(jobs_.size()) > idleWorkers_ &&
        static_cast<int>(threads_.size()) < options_.workers)
      threads_.emplace_back([this] { Worker(); });
    jobReady_.notify_one();
  }
}

void CHttpFront::Worker() {
  sigset_t oldMask;
  BlockSigPipe(&oldMask);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ++idleWorkers_;
    jobReady_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
    --idleWorkers_;
    if (jobs_.empty()) return;
    Connection* c = jobs_.front();
    jobs_.pop_front();
    lock.unlock();
    Serve(c);
    lock.lock();
    finished_.push_back(c);
    Wake();
  }
}

void CHttpFront::Serve(Connection* c) {
  CStream stream(c, options_.ioTimeoutMs, options_.readBytesPerSecond);
  bool keep = c->served + 1 < options_.keepAliveRequests && !stopping_;
  bool closed = false;
  // The Range field comes back after the library's own reading of it,
  // which would answer an unusable one with 416 before any handler.
  bool ok = process_request(stream, !keep, closed, [c](httplib::Request& req) {
    if (c->head.hasRange) req.headers.emplace("Range", c->head.range);
  });
  ++c->served;
  stream.Consume();
  c->close = !ok || closed || !keep || stopping_;
}

void CHttpFront::TakeFinished() {
  std::deque<Connection*> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done.swap(finished_);
  }
  for (Connection* c : done) {
    --busy_;
    auto busy = busyPerAddress_.find(c->group);
    if (--busy->second == 0) busyPerAddress_.erase(busy);
    if (c->close || stopping_) {
      Close(c);
    } else {
      c->state = Connection::ReadingHead;
      c->idle = c->in.empty();
      c->deadline = NowMs() + (c->idle ? options_.idleTimeoutMs : options_.headTimeoutMs);
      Resume(c);
    }
  }
}

// A kept-alive connection: its next request may be buffered already.
void CHttpFront::Resume(Connection* c) {
  size_t end = FindHeadEnd(&c->in);
  if (end) return HeadComplete(c, end);
  ReadHead(c);
}

void CHttpFront::ExpireDeadlines() {
  int64_t now = NowMs();
  std::vector<Connection*> late;
  for (auto& entry : connections_) {
    Connection* c = entry.second.get();
    if (c->deadline && c->deadline <= now) late.push_back(c);
  }
  for (Connection* c : late) Close(c);
}

void CHttpFront::Watch(Connection* c, uint32_t events) {
  if (c->watching == events) return;
  epoll_event ev = {};
  ev.events = events | EPOLLRDHUP;
  ev.data.fd = c->fd;
  if (!events)
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, c->fd, nullptr);
  else
    ::epoll_ctl(epoll_, c->watching ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, c->fd, &ev);
  c->watching = events;
}

void CHttpFront::Close(Connection* c) {
  Watch(c, 0);
  auto count = perAddress_.find(c->group);
  if (count != perAddress_.end() && --count->second == 0) perAddress_.erase(count);
  auto entry = connections_.find(c->fd);
  std::unique_ptr<Connection> owned = std::move(entry->second);
  connections_.erase(entry);
  if (owned->ssl) {
    if (owned->state != Connection::Handshaking) SSL_shutdown(owned->ssl);
    SSL_free(owned->ssl);
  }
  ::close(owned->fd);
  if (acceptPaused_) {
    epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.fd = listen_;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, listen_, &ev);
    acceptPaused_ = false;
  }
}

// Ends every connection: the waiting and reading ones at once, the busy
// ones by shutting their sockets, which ends their workers' waits.
void CHttpFront::ShutDown() {
  if (epoll_ >= 0) ::epoll_ctl(epoll_, EPOLL_CTL_DEL, listen_, nullptr);
  ::close(listen_);
  listen_ = -1;
  acceptPaused_ = false;
  waiting_.clear();
  std::vector<Connection*> idle;
  for (auto& entry : connections_) {
    Connection* c = entry.second.get();
    if (c->state == Connection::Busy)
      ::shutdown(c->fd, SHUT_RDWR);
    else
      idle.push_back(c);
  }
  for (Connection* c : idle) Close(c);
  while (busy_ > 0) {
    pollfd p = {wake_, POLLIN, 0};
    ::poll(&p, 1, 1000);
    uint64_t count;
    while (::read(wake_, &count, sizeof count) > 0) {
    }
    TakeFinished();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  jobReady_.notify_all();
  for (std::thread& t : threads_) t.join();
  threads_.clear();
  if (epoll_ >= 0) ::close(epoll_);
  epoll_ = -1;
}

}  // namespace albumsvc
