// Shared by the album service's tests: request bodies laid out the way the
// uploader writes them, answer parsing, and the real program started as a
// child process with a data folder of its own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace svctest {

namespace fs = std::filesystem;

const std::string kBoundary = "---------------------------e2W7eajhJd09flh";
const std::string kContentType = "multipart/form-data;charset=utf-8;boundary=" + kBoundary;
// Cheap password hashes for tests that log in often (the service's default
// costs about a second per login under AddressSanitizer).
const int kTestIterations = 1000;

// The program under test; QUIB_ALBUM_SERVICE_BIN points the tests at another
// build of it (e.g. one without sanitizers, to measure it).
inline std::string ServiceBin() {
  const char* other = std::getenv("QUIB_ALBUM_SERVICE_BIN");
  return other && *other ? other : ALBUM_SERVICE_BIN;
}

inline std::string TextParts(const std::vector<std::pair<std::string, std::string>>& text) {
  std::string out;
  for (const auto& f : text)
    out += "--" + kBoundary + "\r\ncontent-disposition: form-data; name=\"" + f.first +
           "\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + f.second + "\r\n";
  return out;
}
inline std::string FileHead(const std::string& fileName, const std::string& type = "image/jpeg") {
  return "--" + kBoundary + "\r\ncontent-disposition: form-data; name=\"ImageData\"; filename=\"" +
         fileName + "\"\r\nContent-Type: " + type + "\r\nContent-Transfer-Encoding: binary\r\n\r\n";
}
inline std::string Closing() {
  return "\r\n--" + kBoundary + "--\r\n";
}

inline std::string Body(const std::vector<std::pair<std::string, std::string>>& text,
                        const std::string& fileName = "", const std::string& fileData = "",
                        bool withFile = false) {
  std::string out = TextParts(text);
  if (withFile) out += FileHead(fileName) + fileData + "\r\n";
  return out + "--" + kBoundary + "--\r\n";
}

inline std::vector<std::pair<std::string, std::string>> UploadFields(const std::string& dirId,
                                                                     const std::string& name,
                                                                     const std::string& mime) {
  return {{"Desc", "desc of " + name},
          {"DirId", dirId},
          {"Filename", name},
          {"MimeType", mime},
          {"Keyword", "tag"}};
}

inline std::map<std::string, std::string> Lines(const std::string& answer) {
  std::map<std::string, std::string> out;
  std::istringstream in(answer.substr(answer.empty() ? 0 : 1));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (!line.empty() && eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return "";
  std::string data(static_cast<size_t>(in.tellg()), '\0');
  in.seekg(0);
  in.read(&data[0], static_cast<std::streamsize>(data.size()));
  return data;
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

// Path and query of an absolute URL from a login answer.
inline std::string Target(const std::string& url) {
  size_t p = url.find('/', url.find("://") + 3);
  return url.substr(p);
}

inline std::string MakeTempDir(const char* stem) {
  std::string tmpl = std::string("/tmp/") + stem + ".XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  return mkdtemp(buf.data()) ? std::string(buf.data()) : std::string();
}

inline std::string RunShell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

// Waits for a condition, polling, at most timeoutMs.
template <class F>
bool WaitFor(F condition, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A raw connection from a chosen loopback address (any of 127.0.0.0/8), for
// clients that misbehave on purpose. Every call waits a bounded time.
class CRawSocket {
 public:
  CRawSocket(const std::string& from, int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &a.sin_addr);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (fd_ >= 0 && (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
                     connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~CRawSocket() {
    if (fd_ >= 0) close(fd_);
  }
  CRawSocket(const CRawSocket&) = delete;
  CRawSocket& operator=(const CRawSocket&) = delete;
  bool Ok() const { return fd_ >= 0; }

  // False when the peer stopped reading for timeoutMs or went away.
  bool Send(const std::string& data, int timeoutMs = 10000) {
    size_t done = 0;
    while (done < data.size()) {
      pollfd p = {fd_, POLLOUT, 0};
      if (poll(&p, 1, timeoutMs) != 1) return false;
      ssize_t n = send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno != EAGAIN) return false;
      if (n > 0) done += static_cast<size_t>(n);
    }
    return true;
  }
  // What arrives until the peer closes or timeoutMs pass.
  std::string ReadToEnd(int timeoutMs, bool* closed = nullptr) {
    std::string out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      end - std::chrono::steady_clock::now())
                      .count();
      pollfd p = {fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left))) != 1) break;
      char buf[4096];
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        if (closed) *closed = true;
        return out;
      }
      out.append(buf, static_cast<size_t>(n));
    }
    if (closed) *closed = false;
    return out;
  }
  // True once the peer has closed (or reset) the connection.
  bool Closed(int timeoutMs = 0) {
    bool closed = false;
    ReadToEnd(timeoutMs, &closed);
    return closed;
  }

 private:
  int fd_ = -1;
};

// One request on a connection of its own; the whole answer, or what came
// before timeoutMs passed.
inline std::string RawRequest(const std::string& from, int port, const std::string& request,
                              int timeoutMs = 30000) {
  CRawSocket s(from, port);
  if (!s.Ok() || !s.Send(request, timeoutMs)) return "";
  return s.ReadToEnd(timeoutMs);
}

// The uploader's login sent by hand, "Connection: close".
inline std::string RawLogIn(const std::string& from, int port, const std::string& user,
                            const std::string& password) {
  std::string body = Body({{"Username", user}, {"Password", password}});
  std::string answer =
      RawRequest(from, port,
                 "POST /login.php HTTP/1.0\r\nContent-Type: " + kContentType +
                     "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  size_t head = answer.find("\r\n\r\n");
  return head == std::string::npos ? answer : answer.substr(head + 4);
}

// A self-signed certificate for 127.0.0.1 in dir; false when openssl failed.
inline bool MakeCertificate(const std::string& dir, std::string* cert, std::string* key) {
  *cert = dir + "/cert.pem";
  *key = dir + "/key.pem";
  int rc = -1;
  RunShell(
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext "
      "subjectAltName=IP:127.0.0.1 -keyout " +
          *key + " -out " + *cert + " 2>&1",
      &rc);
  return rc == 0;
}

// The real album-service program on a free loopback port.
class CServiceProcess {
 public:
  explicit CServiceProcess(std::string dataDir) : dataDir_(std::move(dataDir)) {}
  ~CServiceProcess() { Kill(); }
  CServiceProcess(const CServiceProcess&) = delete;
  CServiceProcess& operator=(const CServiceProcess&) = delete;

  // Starts with the given extra options and waits (bounded) for its port.
  // False, with the log in *error, when it does not come up.
  bool Start(const std::vector<std::string>& extra, std::string* error) {
    portFile_ = dataDir_ + ".port";
    logFile_ = dataDir_ + ".log";
    fs::remove(portFile_);
    std::vector<std::string> args = {ServiceBin(),
                                     "--data",
                                     dataDir_,
                                     "--port",
                                     "0",
                                     "--port-file",
                                     portFile_,
                                     "--password-iterations",
                                     std::to_string(kTestIterations)};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = fork();
    if (pid_ == 0) {
      FILE* log = std::fopen(logFile_.c_str(), "a");
      if (log) {
        dup2(fileno(log), 2);
        dup2(fileno(log), 1);
      }
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    port_ = 0;
    bool up = WaitFor(
        [&] {
          std::ifstream(portFile_) >> port_;
          return port_ > 0 || Exited();
        },
        30000);
    if (!up || port_ <= 0) {
      *error = "the service did not start (" + std::string(up ? "it ended" : "no port in 30 s") +
               "):\n" + ReadFile(logFile_);
      Kill();
      return false;
    }
    return true;
  }

  // Ends it like Ctrl+C and waits (bounded); true when it ended by itself.
  bool Stop(int timeoutMs = 30000) {
    if (pid_ <= 0) return true;
    kill(pid_, SIGTERM);
    bool ended = WaitFor([&] { return Exited(); }, timeoutMs);
    if (!ended) Kill();
    return ended && WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
  }
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    pid_ = 0;
  }
  // Reaps the child when it has ended.
  bool Exited() {
    if (pid_ <= 0) return true;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
      pid_ = 0;
      return true;
    }
    return false;
  }
  bool KilledBySignal(int sig) const { return WIFSIGNALED(status_) && WTERMSIG(status_) == sig; }

  // Peak resident memory of the running process, in KiB.
  long PeakRssKb() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(in, line))
      if (line.compare(0, 6, "VmHWM:") == 0) return std::atol(line.c_str() + 6);
    return -1;
  }

  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  std::string Log() const { return ReadFile(logFile_); }
  const std::string& DataDir() const { return dataDir_; }

 private:
  std::string dataDir_, portFile_, logFile_;
  pid_t pid_ = 0;
  int status_ = 0;
  int port_ = 0;
};

}  // namespace svctest
