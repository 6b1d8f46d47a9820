// A scripted HTTP port for tests of CHttpUpload and the code above it: it
// records every platform call and plays a server's answers or failures.
// The state is shared, so a test can read it after the client is gone.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/ports/file_port.h"
#include "core/ports/http_port.h"

struct FakeHttpScript {
  // Connection and request objects: none, or failure with a text.
  bool noConnection = false;
  std::string connectError;
  bool noRequest = false;
  std::string openError;
  std::string headerError;
  std::string sendError;
  int failWriteAt = -1;  // index of the write that fails
  std::string writeError = "write failed";
  std::string endError;
  std::string statusError;
  uint32_t status = 200;
  std::string response;  // handed out in reads of at most the asked size
  std::string readError;
  int failReadAt = -1;
  uint32_t available = 7;      // what QueryDataAvailable answers
  int64_t contentLength = -1;  // announced Content-Length; -1: none
  // A stalled server: EndRequest or the first Read waits until Abort.
  bool stallEnd = false;
  bool stallRead = false;
  std::string mediaType = "image/jpeg";
  // A server that stops reading the body, on a platform whose write cannot
  // be aborted: this write waits until releaseWrite is set, whatever Abort does.
  int stallWriteAt = -1;
  bool releaseWrite = false;
};

struct FakeHttpRecord {
  std::string host;
  uint16_t port = 0;
  bool secure = false;
  std::string verb, path, version;
  uint32_t openFlags = 0;
  std::vector<std::pair<std::string, uint32_t>> headers;
  uint32_t totalLength = 0;
  bool sent = false;
  std::string body;
  std::vector<size_t> writeSizes;
  int connectionsAlive = 0;
  int requestsAlive = 0;
  int requestsOpened = 0;
  bool aborted = false;
  bool stalled = false;  // a call is waiting for Abort
  int sessionCloses = 0;
};

class CFakeHttpState {
 public:
  std::mutex lock;
  std::condition_variable changed;
  FakeHttpScript script;
  FakeHttpRecord record;

  // Waits (hang guard only) until a call of the fake is stalled.
  bool WaitStalled() {
    return WaitFor([&] { return record.stalled; }, 30000);
  }
  // Waits until the condition on the script or record holds (checked under
  // the lock, whenever the fake changes or every 10 ms); false on time-out.
  template <typename Condition>
  bool WaitFor(Condition condition, int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      changed.wait_for(guard, std::chrono::milliseconds(10));
    }
    return true;
  }
};

class CFakeHttpRequest : public IHttpRequestPort {
 public:
  explicit CFakeHttpRequest(std::shared_ptr<CFakeHttpState> state) : state_(std::move(state)) {
    std::lock_guard<std::mutex> guard(state_->lock);
    ++state_->record.requestsAlive;
    ++state_->record.requestsOpened;
  }
  ~CFakeHttpRequest() override {
    std::lock_guard<std::mutex> guard(state_->lock);
    --state_->record.requestsAlive;
  }

  bool AddRequestHeaders(const std::string& line, uint32_t flags, std::string& error) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (Aborted(error)) return false;
    state_->record.headers.emplace_back(line, flags);
    return Succeeds(state_->script.headerError, error);
  }
  bool SendRequestEx(uint32_t totalLength, std::string& error) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (Aborted(error)) return false;
    state_->record.totalLength = totalLength;
    state_->record.sent = true;
    return Succeeds(state_->script.sendError, error);
  }
  bool Write(const char* data, size_t size, std::string& error) override {
    std::unique_lock<std::mutex> guard(state_->lock);
    if (static_cast<int>(state_->record.writeSizes.size()) == state_->script.stallWriteAt) {
      state_->record.stalled = true;
      state_->changed.notify_all();
      state_->changed.wait_for(guard, std::chrono::seconds(60),
                               [&] { return state_->script.releaseWrite; });
      state_->record.stalled = false;
    }
    if (Aborted(error)) return false;
    if (static_cast<int>(state_->record.writeSizes.size()) == state_->script.failWriteAt) {
      error = state_->script.writeError;
      return false;
    }
    state_->record.writeSizes.push_back(size);
    state_->record.body.append(data, size);
    return true;
  }
  bool EndRequest(std::string& error) override {
    std::unique_lock<std::mutex> guard(state_->lock);
    if (state_->script.stallEnd) Stall(guard);
    if (Aborted(error)) return false;
    return Succeeds(state_->script.endError, error);
  }
  bool QueryStatusCode(uint32_t& status, std::string& error) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (Aborted(error)) return false;
    status = state_->script.status;
    return Succeeds(state_->script.statusError, error);
  }
  bool Read(char* buffer, size_t size, size_t& got, std::string& error) override {
    std::unique_lock<std::mutex> guard(state_->lock);
    got = 0;
    if (state_->script.stallRead) Stall(guard);
    if (Aborted(error)) return false;
    if (reads_++ == state_->script.failReadAt) {
      error = state_->script.readError;
      return false;
    }
    const std::string& response = state_->script.response;
    got = std::min(size, response.size() - offset_);
    response.copy(buffer, got, offset_);
    offset_ += got;
    return true;
  }
  uint32_t QueryDataAvailable() override {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->script.available;
  }
  bool QueryContentLength(uint64_t& length) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (state_->script.contentLength < 0) return false;
    length = static_cast<uint64_t>(state_->script.contentLength);
    return true;
  }
  void Abort() override {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->record.aborted = true;
    state_->changed.notify_all();
  }

 private:
  bool Aborted(std::string& error) {
    if (!state_->record.aborted) return false;
    error = "The operation was canceled";
    return true;
  }
  static bool Succeeds(const std::string& failure, std::string& error) {
    if (failure.empty()) return true;
    error = failure;
    return false;
  }
  void Stall(std::unique_lock<std::mutex>& guard) {
    state_->record.stalled = true;
    state_->changed.notify_all();
    state_->changed.wait_for(guard, std::chrono::seconds(60),
                             [&] { return state_->record.aborted; });
    state_->record.stalled = false;
  }

  std::shared_ptr<CFakeHttpState> state_;
  size_t offset_ = 0;
  int reads_ = 0;
};

class CFakeHttpConnection : public IHttpConnectionPort {
 public:
  explicit CFakeHttpConnection(std::shared_ptr<CFakeHttpState> state) : state_(std::move(state)) {
    ++state_->record.connectionsAlive;  // created under the state's lock
  }
  ~CFakeHttpConnection() override {
    std::lock_guard<std::mutex> guard(state_->lock);
    --state_->record.connectionsAlive;
  }
  std::unique_ptr<IHttpRequestPort> OpenRequest(const std::string& verb,
                                                const std::string& objectPath,
                                                const std::string& version, uint32_t flags,
                                                std::string& error) override {
    {
      std::lock_guard<std::mutex> guard(state_->lock);
      FakeHttpRecord& r = state_->record;
      r.verb = verb;
      r.path = objectPath;
      r.version = version;
      r.openFlags = flags;
      if (!state_->script.openError.empty()) {
        error = state_->script.openError;
        return nullptr;
      }
      if (state_->script.noRequest) return nullptr;
    }
    return std::make_unique<CFakeHttpRequest>(state_);
  }

 private:
  std::shared_ptr<CFakeHttpState> state_;
};

class CFakeHttpPort : public IHttpPort {
 public:
  explicit CFakeHttpPort(std::shared_ptr<CFakeHttpState> state) : state_(std::move(state)) {}

  std::unique_ptr<IHttpConnectionPort> GetHttpConnection(const std::string& host, uint16_t port,
                                                         bool secure, std::string& error) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->record.host = host;
    state_->record.port = port;
    state_->record.secure = secure;
    if (!state_->script.connectError.empty()) {
      error = state_->script.connectError;
      return nullptr;
    }
    if (state_->script.noConnection) return nullptr;
    return std::make_unique<CFakeHttpConnection>(state_);
  }
  void Close() override {
    std::lock_guard<std::mutex> guard(state_->lock);
    ++state_->record.sessionCloses;
  }
  quib::IFilePort& Files() override { return files_; }
  std::string MediaTypeOf(const std::string&) override {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->script.mediaType;
  }

 private:
  std::shared_ptr<CFakeHttpState> state_;
  quib::CStdFilePort files_;
};
