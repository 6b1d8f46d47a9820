#include "tests/e2e/faults/scripted_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "tests/e2e/driver/driver.h"
#include "tests/win/support/wait_note.h"

namespace e2e {

namespace {

constexpr size_t kRecordLimit = 8 * 1024 * 1024;
constexpr size_t kChunk = 64 * 1024;
constexpr long kPollUs = 50 * 1000;

void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

std::string Env(const char* name) {
  char buffer[2048] = {};
  const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

size_t ContentLength(const std::string& head) {
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  const char kName[] = "\r\ncontent-length:";
  const size_t at = lower.find(kName);
  if (at == std::string::npos) return 0;
  return std::strtoul(head.c_str() + at + sizeof kName - 1, nullptr, 10);
}

// Waits up to one poll interval for the socket to become readable
// (write false) or writable; true when it is.
bool Ready(SOCKET s, bool write) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval wait{0, kPollUs};
  const int n = select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &wait);
  return n > 0;
}

void ResetConnection(SOCKET s) {
  linger hard = {1, 0};
  setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
  closesocket(s);
}

}  // namespace

std::string HttpHead(size_t contentLength, int status) {
  return "HTTP/1.0 " + std::to_string(status) + (status == 200 ? " OK" : " Failed") +
         "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(contentLength) +
         "\r\n\r\n";
}

std::string HttpAnswer(const std::string& body, int status) {
  return HttpHead(body.size(), status) + body;
}

CScript Reply(const std::string& body) {
  CScript script;
  script.answer = HttpAnswer(body);
  return script;
}

CScriptedServer::CScriptedServer(uint16_t port, DWORD retryMs) {
  StartWinsock();
  const DWORD start = GetTickCount();
  for (;;) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    // A port just given up may still have connections winding down.
    BOOL reuse = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(s, 16) == 0) {
      int length = sizeof address;
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
      port_ = ntohs(address.sin_port);
      listener_ = s;
      break;
    }
    const int code = WSAGetLastError();
    closesocket(s);
    if (GetTickCount() - start >= retryMs) {
      error_ = "cannot listen on 127.0.0.1:" + std::to_string(port) + " (Winsock error " +
               std::to_string(code) + ")";
      return;
    }
    Sleep(100);
  }
  acceptor_ = std::thread([this] { Serve(); });
}

CScriptedServer::~CScriptedServer() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  // Each connection notices stopping_ within a poll interval.
  std::vector<std::thread> connections;
  {
    std::lock_guard<std::mutex> guard(lock_);
    connections.swap(connections_);
  }
  for (std::thread& t : connections) t.join();
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
}

std::string CScriptedServer::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

void CScriptedServer::On(const std::string& path, const CScript& script) {
  std::lock_guard<std::mutex> guard(lock_);
  scripts_[path] = script;
}

CScript Late(CScript script) {
  script.time = AnswerTime::OnRelease;
  return script;
}

std::string LogInAnswerFor(const std::string& base, const std::string& sid) {
  return "0\r\nSId=" + sid + "\r\nDirListURL=" + base + "/dirlist.php\r\nCreateDirURL=" + base +
         "/createdir.php\r\nUploadURL=" + base + "/upload.php\r\n";
}

void CScriptedServer::Release() {
  ++releases_;
}

void CScriptedServer::Hangup() {
  ++hangups_;
}

std::vector<CRecordedRequest> CScriptedServer::Requests() {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

std::string CScriptedServer::Describe() {
  std::lock_guard<std::mutex> guard(lock_);
  std::string text;
  for (const CRecordedRequest& r : requests_) {
    text += "  " + (r.path.empty() ? std::string("(no head)") : r.path) + " body " +
            std::to_string(r.bodyBytes) + "/" + std::to_string(r.bodyLength) +
            (r.complete ? " complete" : "") + (r.answered ? " answered" : "") + "\n";
  }
  return text;
}

size_t CScriptedServer::Count(const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<size_t>(
      std::count_if(requests_.begin(), requests_.end(),
                    [&](const CRecordedRequest& r) { return r.path == path; }));
}

CRecordedRequest CScriptedServer::Last(const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto it = requests_.rbegin(); it != requests_.rend(); ++it) {
    if (it->path == path) return *it;
  }
  return CRecordedRequest();
}

bool CScriptedServer::WaitFor(const std::string& path, size_t count, bool complete,
                              DWORD timeoutMs) {
  const quibtest::CWaitNote note("the scripted server to get " + std::to_string(count) + " " +
                                 (complete ? "whole " : "") + "requests to " + path);
  return WaitUntil(
      [&] {
        std::lock_guard<std::mutex> guard(lock_);
        size_t n = 0;
        for (const CRecordedRequest& r : requests_) {
          if (r.path == path && (!complete || r.complete)) ++n;
        }
        return n >= count;
      },
      timeoutMs);
}

bool CScriptedServer::WaitBodyBytes(const std::string& path, size_t bytes, DWORD timeoutMs) {
  const quibtest::CWaitNote note("the scripted server to read " + std::to_string(bytes) +
                                 " body bytes of " + path);
  return WaitUntil([&] { return Last(path).bodyBytes >= bytes; }, timeoutMs);
}

CScript CScriptedServer::ScriptFor(const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto it = scripts_.find(path);
  if (it != scripts_.end()) return it->second;
  CScript missing;
  missing.answer = HttpAnswer("no script for " + path + "\r\n", 404);
  return missing;
}

void CScriptedServer::Serve() {
  while (!stopping_) {
    if (!Ready(listener_, false)) continue;
    SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    u_long nonBlocking = 1;
    ioctlsocket(client, FIONBIO, &nonBlocking);
    std::lock_guard<std::mutex> guard(lock_);
    const size_t index = requests_.size();
    requests_.emplace_back();
    connections_.emplace_back([this, client, index] { Handle(client, index); });
  }
}

// Appends what arrives (at most `most` bytes) to `into`; false when the peer
// closed, the connection failed or the server is stopping.
bool CScriptedServer::ReadSome(SOCKET client, size_t most, std::string& into) {
  char buffer[kChunk];
  most = std::min(most, sizeof buffer);
  while (!stopping_) {
    const int n = recv(client, buffer, static_cast<int>(most), 0);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
      return true;
    }
    if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) return false;
    Ready(client, false);
  }
  return false;
}

bool CScriptedServer::SendAll(SOCKET client, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size() && !stopping_) {
    const int n = send(client, bytes.data() + sent,
                       static_cast<int>(std::min(bytes.size() - sent, kChunk)), 0);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
    Ready(client, true);
  }
  return sent == bytes.size();
}

void CScriptedServer::HoldUntil(const std::atomic<unsigned>& counter, unsigned seen) {
  while (!stopping_ && counter.load() == seen) Sleep(20);
}

void CScriptedServer::Handle(SOCKET client, size_t index) {
  const unsigned releaseSeen = releases_.load();
  const unsigned hangupSeen = hangups_.load();
  std::string received;
  size_t headEnd = std::string::npos;
  while (headEnd == std::string::npos) {
    if (!ReadSome(client, kChunk, received)) {
      closesocket(client);
      return;
    }
    const size_t at = received.find("\r\n\r\n");
    if (at != std::string::npos) headEnd = at + 4;
  }
  const std::string head = received.substr(0, headEnd);
  std::string body = received.substr(headEnd);
  // "POST /path?query HTTP/1.0"
  const size_t firstSpace = head.find(' ');
  const size_t secondSpace = head.find(' ', firstSpace + 1);
  std::string target = head.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  const size_t question = target.find('?');
  const std::string path = target.substr(0, question);
  const size_t length = ContentLength(head);
  const CScript script = ScriptFor(path);

  auto record = [&](bool answered) {
    std::lock_guard<std::mutex> guard(lock_);
    CRecordedRequest& r = requests_[index];
    r.path = path;
    r.query = question == std::string::npos ? std::string() : target.substr(question + 1);
    r.head = head;
    r.bodyLength = length;
    r.bodyBytes = body.size();
    r.body = body.substr(0, kRecordLimit);
    r.complete = body.size() >= length;
    r.answered = r.answered || answered;
  };
  record(false);

  if (script.time == AnswerTime::AtHead) {
    SendAll(client, script.answer);
    record(true);
  }
  while (body.size() < length) {
    if (body.size() >= script.stopReadingAfter) {
      HoldUntil(hangups_, hangupSeen);
      ResetConnection(client);
      return;
    }
    const size_t want = std::min(length - body.size(), script.stopReadingAfter - body.size());
    std::string more;
    if (!ReadSome(client, want, more)) {
      closesocket(client);
      return;
    }
    // Only the first part is kept; the rest is counted.
    if (body.size() < kRecordLimit) {
      body += more;
    } else {
      body.resize(body.size() + more.size());
    }
    record(false);
  }

  if (script.time == AnswerTime::Never) {
    HoldUntil(hangups_, hangupSeen);
    ResetConnection(client);
    return;
  }
  if (script.time == AnswerTime::OnRelease) HoldUntil(releases_, releaseSeen);
  if (stopping_) {
    ResetConnection(client);
    return;
  }
  if (script.time != AnswerTime::AtHead) {
    SendAll(client, script.answer);
    record(true);
  }
  if (script.end == AnswerEnd::Reset) {
    ResetConnection(client);
    return;
  }
  if (script.end == AnswerEnd::Close) shutdown(client, SD_SEND);
  // The client reads the answer and closes; one that keeps its end open gets
  // a reset.
  const DWORD start = GetTickCount();
  std::string rest;
  bool closedByClient = false;
  while (!stopping_ && GetTickCount() - start < 3000) {
    rest.clear();
    if (!ReadSome(client, kChunk, rest)) {
      closedByClient = !stopping_;
      break;
    }
  }
  if (closedByClient) {
    closesocket(client);
  } else {
    ResetConnection(client);
  }
}

uint16_t UploadServicePort() {
  const std::string url = Env("QUIB_UPLOAD_SERVICE_URL");
  const char kPrefix[] = "http://127.0.0.1:";
  if (url.compare(0, sizeof kPrefix - 1, kPrefix) != 0) return 0;
  const int port = std::atoi(url.c_str() + sizeof kPrefix - 1);
  return port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : 0;
}

std::string PortSockets(uint16_t port) {
  char hex[8];
  snprintf(hex, sizeof hex, ":%04X ", port);
  const std::string table = ReadBytes("Z:\\proc\\net\\tcp");
  std::string found;
  size_t start = 0;
  while (start < table.size()) {
    size_t end = table.find('\n', start);
    if (end == std::string::npos) end = table.size();
    const std::string line = table.substr(start, end - start);
    // "  sl  local_address rem_address   st ...": the local port comes first.
    const size_t at = line.find(hex);
    if (at != std::string::npos && at < 20) found += line + "\n";
    start = end + 1;
  }
  return found;
}

bool RawRequest(uint16_t port, const std::string& bytes) {
  StartWinsock();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  DWORD timeout = 10000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  bool closed = false;
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(s, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size())) {
    char buffer[4096];
    int n;
    while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) {
    }
    closed = n == 0;
  }
  closesocket(s);
  return closed;
}

bool ControlUploadService(const std::string& what, DWORD timeoutMs) {
  const std::string data = ToWindowsPath(Env("QUIB_UPLOAD_SERVICE_DATA"));
  if (data.empty()) return false;
  const std::string done = data + (what == "stop" ? "\\stopped" : "\\started");
  DeleteFileA(done.c_str());
  if (!WriteBytes(data + "\\" + what + "-request", "")) return false;
  const quibtest::CWaitNote note("the album service's controller to " + what + " it");
  return WaitUntil([&] { return FileExists(done); }, timeoutMs);
}

CServicePortLease::CServicePortLease() {
  const std::string serviceError = Env("QUIB_UPLOAD_SERVICE_ERROR");
  if (!serviceError.empty()) {
    error_ = serviceError;
    return;
  }
  port_ = UploadServicePort();
  if (port_ == 0) {
    error_ = "QUIB_UPLOAD_SERVICE_URL is not a loopback address: '" +
             Env("QUIB_UPLOAD_SERVICE_URL") + "'";
    return;
  }
  stopRequested_ = true;
  if (!ControlUploadService("stop", 15000)) {
    error_ = "the album service's controller did not stop it within 15 s";
    return;
  }
  server_ = std::make_unique<CScriptedServer>(port_, 10000);
  if (server_->Listening()) return;
  // A service that does not let others reuse the port keeps it for a minute
  // after its last connections (TIME_WAIT).
  WaitUntil([&] { return PortSockets(port_).empty(); }, 75000);
  server_ = std::make_unique<CScriptedServer>(port_, 10000);
  if (!server_->Listening()) error_ = server_->Error() + "; sockets on it:\n" + PortSockets(port_);
}

CServicePortLease::~CServicePortLease() {
  GiveBack();
}

std::string CServicePortLease::GiveBack() {
  if (!stopRequested_) return std::string();
  stopRequested_ = false;
  server_.reset();
  if (ControlUploadService("start", 30000)) return std::string();
  // As above, the other way round: the scripted server's last connections.
  WaitUntil([&] { return PortSockets(port_).empty(); }, 75000);
  if (ControlUploadService("start", 30000)) return std::string();
  return "the album service's controller did not start it again; sockets on its port:\n" +
         PortSockets(port_);
}

}  // namespace e2e
