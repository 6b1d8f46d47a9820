#include "tests/e2e/upload/scripted_service.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

size_t ContentLength(const std::string& head) {
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  const char kName[] = "\r\ncontent-length:";
  const size_t at = lower.find(kName);
  if (at == std::string::npos) return 0;
  return std::strtoul(head.c_str() + at + sizeof kName - 1, nullptr, 10);
}

std::string RequestTarget(const std::string& head) {
  const size_t start = head.find(' ');
  if (start == std::string::npos) return {};
  const size_t end = head.find(' ', start + 1);
  return head.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool SendAll(SOCKET s, const std::string& bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const int n = send(s, p, static_cast<int>(left), 0);
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

CScriptedService::CScriptedService(uint16_t port) {
  StartWinsock();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return;
  // The port may have just been given up by the album service.
  BOOL reuse = TRUE;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 8) != 0) {
    closesocket(s);
    return;
  }
  int length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  listener_ = s;

  const std::string base = BaseUrl();
  answers_ = {
      {"/login.php", "0\r\nSId=s1\r\nDirListURL=" + base + "/dirlist.php\r\nCreateDirURL=" + base +
                         "/createdir.php\r\nUploadURL=" + base + "/upload.php\r\nUser=tester\r\n"},
      {"/dirlist.php",
       "0\r\nCount=2\r\nUser=tester\r\nId=5\r\nName=Holiday\r\nId=7\r\nName=Work\r\n"},
      {"/createdir.php", "0\r\nDirId=9\r\n"},
      {"/upload.php", "0\r\n"},
  };
  acceptor_ = std::thread([this] { Serve(); });
}

CScriptedService::~CScriptedService() {
  if (!Ok()) return;
  std::vector<std::thread> handlers;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    changed_.notify_all();
    // Wakes handlers waiting for their client to hang up.
    for (SOCKET s : open_) shutdown(s, SD_RECEIVE);
  }
  closesocket(listener_);
  acceptor_.join();
  {
    std::lock_guard<std::mutex> guard(lock_);
    handlers.swap(handlers_);
  }
  for (std::thread& t : handlers) t.join();
}

std::string CScriptedService::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

void CScriptedService::SetAnswer(const std::string& path, const std::string& body) {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto& answer : answers_) {
    if (answer.first == path) {
      answer.second = body;
      return;
    }
  }
  answers_.emplace_back(path, body);
}

void CScriptedService::HoldLogIn(bool hold) {
  std::lock_guard<std::mutex> guard(lock_);
  holdLogIn_ = hold;
  changed_.notify_all();
}

void CScriptedService::ReleaseLogIn() {
  HoldLogIn(false);
}

std::vector<ScriptedRequest> CScriptedService::Requests() {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

std::string CScriptedService::Describe() {
  std::lock_guard<std::mutex> guard(lock_);
  std::string text;
  for (const ScriptedRequest& r : requests_) {
    text += (r.path.empty() ? "(no head)" : r.path) + " body " + std::to_string(r.bodyBytes) + "/" +
            std::to_string(r.contentLength) + (r.complete ? " complete" : "") +
            (r.answered ? " answered" : "") + (r.closedByPeer ? " closed-by-client" : "") + "\n";
  }
  return text;
}

int CScriptedService::Count(const std::string& prefix) {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<int>(
      std::count_if(requests_.begin(), requests_.end(),
                    [&](const ScriptedRequest& r) { return StartsWith(r.path, prefix); }));
}

bool CScriptedService::WaitFor(
    const std::function<bool(const std::vector<ScriptedRequest>&)>& condition, unsigned timeoutMs) {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [&] { return condition(requests_); });
}

std::string CScriptedService::AnswerFor(const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& answer : answers_) {
    if (StartsWith(path, answer.first)) return answer.second;
  }
  return "1\r\nError=unknown command\r\n";
}

void CScriptedService::Update(size_t index, const std::function<void(ScriptedRequest&)>& change) {
  std::lock_guard<std::mutex> guard(lock_);
  change(requests_[index]);
  changed_.notify_all();
}

void CScriptedService::Serve() {
  for (;;) {
    SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) return;  // the listener was closed
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_) {
      closesocket(client);
      return;
    }
    // No read waits longer than this, also if closing cannot wake it.
    DWORD timeout = 30000;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
    const size_t index = requests_.size();
    requests_.emplace_back();
    open_.push_back(client);
    handlers_.emplace_back([this, client, index] { Handle(client, index); });
  }
}

void CScriptedService::Handle(SOCKET client, size_t index) {
  std::string received;
  size_t headEnd = std::string::npos;
  size_t wanted = 0;
  bool upload = false;
  bool peerGone = false;
  char buffer[16384];
  const size_t stopAfter = stopReadingAfter_;
  for (;;) {
    if (headEnd != std::string::npos) {
      const size_t body = received.size() - headEnd;
      if (upload && stopAfter > 0 && body >= stopAfter) break;
      if (body >= wanted) break;
    }
    size_t ask = sizeof buffer;
    // Read exactly up to the point where reading stops.
    if (headEnd != std::string::npos && upload && stopAfter > 0) {
      ask = std::min(ask, stopAfter - (received.size() - headEnd));
    }
    const int n = recv(client, buffer, static_cast<int>(ask), 0);
    if (n <= 0) {
      peerGone = true;
      break;
    }
    received.append(buffer, static_cast<size_t>(n));
    if (headEnd == std::string::npos) {
      const size_t at = received.find("\r\n\r\n");
      if (at != std::string::npos) {
        headEnd = at + 4;
        const std::string head = received.substr(0, headEnd);
        wanted = ContentLength(head);
        upload = StartsWith(RequestTarget(head), "/upload.php");
        Update(index, [&](ScriptedRequest& r) {
          r.head = head;
          r.path = RequestTarget(head);
          r.contentLength = wanted;
        });
      }
    }
    if (headEnd != std::string::npos) {
      const size_t body = received.size() - headEnd;
      Update(index, [&](ScriptedRequest& r) { r.bodyBytes = body; });
    }
  }
  const bool complete =
      !peerGone && headEnd != std::string::npos && received.size() - headEnd >= wanted;
  Update(index, [&](ScriptedRequest& r) {
    r.complete = complete;
    r.closedByPeer = peerGone;
  });

  if (complete) {
    const std::string path = RequestTarget(received.substr(0, headEnd));
    if (StartsWith(path, "/login.php")) {
      std::unique_lock<std::mutex> guard(lock_);
      changed_.wait_for(guard, std::chrono::seconds(60), [&] { return !holdLogIn_ || stopping_; });
    }
    const std::string body = AnswerFor(path);
    SendAll(client, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body);
    Update(index, [&](ScriptedRequest& r) { r.answered = true; });
    // The client hangs up once it has the answer.
    DWORD timeout = 10000;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
    while (recv(client, buffer, sizeof buffer, 0) > 0) {
    }
  } else if (!peerGone) {
    // Stopped reading: hold the connection, unread, until the server ends.
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_for(guard, std::chrono::seconds(120), [&] { return stopping_; });
  }
  // An abortive close: the port keeps no TIME_WAIT connection, so the album
  // service can listen on it again at once, and a client still writing
  // learns at once that nobody reads.
  linger hard = {1, 0};
  setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
  std::lock_guard<std::mutex> guard(lock_);
  open_.erase(std::remove(open_.begin(), open_.end(), client), open_.end());
  closesocket(client);
}
