#include "tests/win/support/loopback_server.h"

#include <ws2tcpip.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "tests/win/support/wait_note.h"

namespace {

// Winsock stays started for the whole test program.
void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

SOCKET ListenOnLoopback(uint16_t& port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(s, 8);
  int length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return s;
}

size_t ContentLength(const std::string& head) {
  const char kName[] = "\r\ncontent-length:";
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  const size_t at = lower.find(kName);
  if (at == std::string::npos) return 0;
  return std::strtoul(head.c_str() + at + sizeof kName - 1, nullptr, 10);
}

}  // namespace

CLoopbackServer::CLoopbackServer() {
  StartWinsock();
  listener_ = ListenOnLoopback(port_);
  thread_ = std::thread([this] { Serve(); });
}

CLoopbackServer::~CLoopbackServer() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    for (SOCKET s : held_) closesocket(s);
    held_.clear();
    // A client that neither sends nor hangs up must not keep the server
    // thread in its read.
    if (serving_ != INVALID_SOCKET) shutdown(serving_, SD_BOTH);
    changed_.notify_all();
  }
  closesocket(listener_);
  thread_.join();
}

std::string CLoopbackServer::Answer(int status, const std::string& body) {
  return "HTTP/1.0 " + std::to_string(status) + (status == 200 ? " OK" : " Failed") +
         "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

std::string CLoopbackServer::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

uint16_t CLoopbackServer::UnusedPort() {
  StartWinsock();
  uint16_t port = 0;
  closesocket(ListenOnLoopback(port));
  return port;
}

std::vector<std::string> CLoopbackServer::Requests() {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

bool CLoopbackServer::WaitRequestsComplete(size_t n) {
  std::unique_lock<std::mutex> guard(lock_);
  const std::string what =
      std::to_string(n) + " complete request(s) at loopback port " + std::to_string(port_);
  return quibtest::WaitOn(
      changed_, guard, std::chrono::seconds(60), [&] { return complete_ >= n; }, what.c_str());
}

void CLoopbackServer::Append(size_t index, const char* data, size_t size) {
  std::lock_guard<std::mutex> guard(lock_);
  requests_[index].append(data, size);
}

void CLoopbackServer::Serve() {
  // One connection at a time is all the client under test makes.
  for (;;) {
    SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) return;  // listener closed
    size_t index;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (stopping_) {
        closesocket(client);
        return;
      }
      index = requests_.size();
      requests_.emplace_back();
      serving_ = client;
    }
    // Reads end after a minute of silence at the latest.
    DWORD timeout = 60000;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
    Handle(client, index);
    std::lock_guard<std::mutex> guard(lock_);
    serving_ = INVALID_SOCKET;
  }
}

void CLoopbackServer::Handle(SOCKET client, size_t index) {
  std::string received;
  size_t headEnd = std::string::npos;
  size_t wanted = 0;
  char buffer[65536];
  for (;;) {
    if (headEnd != std::string::npos) {
      const size_t body = received.size() - headEnd;
      if (mode_ == LoopbackHangUp && body >= hangUpAfter_) {
        // A reset, not an orderly close: the client sees the failure at once.
        linger hard = {1, 0};
        setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard),
                   sizeof hard);
        closesocket(client);
        return;
      }
      if (body >= wanted) break;
    }
    const int n = recv(client, buffer, sizeof buffer, 0);
    if (n <= 0) {
      closesocket(client);
      return;
    }
    received.append(buffer, static_cast<size_t>(n));
    Append(index, buffer, static_cast<size_t>(n));
    if (headEnd == std::string::npos) {
      const size_t at = received.find("\r\n\r\n");
      if (at != std::string::npos) {
        headEnd = at + 4;
        wanted = ContentLength(received.substr(0, headEnd));
      }
    }
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    ++complete_;
    changed_.notify_all();
    if (mode_ == LoopbackStallAnswer) {
      held_.push_back(client);  // closed by the destructor
      return;
    }
  }
  const char* p = answer_.data();
  size_t left = answer_.size();
  while (left > 0) {
    const int n = send(client, p, static_cast<int>(left), 0);
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
  shutdown(client, SD_SEND);
  // Let the client read everything before the socket goes away, but do not
  // wait for a client that keeps its end open.
  DWORD timeout = 3000;
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
             sizeof timeout);
  while (recv(client, buffer, sizeof buffer, 0) > 0) {
  }
  closesocket(client);
}

std::string RequestHead(const std::string& request) {
  const size_t at = request.find("\r\n\r\n");
  return at == std::string::npos ? request : request.substr(0, at + 4);
}

std::string RequestBody(const std::string& request) {
  const size_t at = request.find("\r\n\r\n");
  return at == std::string::npos ? std::string() : request.substr(at + 4);
}

std::vector<std::string> RequestHeadLines(const std::string& request) {
  std::vector<std::string> lines;
  const std::string head = RequestHead(request);
  size_t start = 0;
  for (;;) {
    const size_t end = head.find("\r\n", start);
    if (end == std::string::npos || end == start) break;
    lines.push_back(head.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}
