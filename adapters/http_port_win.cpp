// The HTTP port on Windows: WinINet through the internet classes.
#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>
#include <memory>
#include <string>
#include <system_error>

#include "adapters/internet.h"
#include "adapters/windows_platform.h"
#include "core/ports/http_port.h"
#include "core/ports/platform.h"
#include "core/ports/threads.h"
#include "core/protocol/http_upload.h"
#include "core/protocol/media_type.h"

namespace {

constexpr DWORD_PTR RequestContext = 1;
constexpr size_t ErrorTextSize = 1024;

// Runs one framework call and turns its exception into the error text.
template <typename Call>
bool Guarded(Call call, std::string& error) {
  try {
    call();
    return true;
  } catch (const CInternetException& e) {
    char text[ErrorTextSize];
    e.GetErrorMessage(text, ErrorTextSize);
    error = text;
  } catch (...) {
    error = HttpErrorUnknown;
  }
  return false;
}

// One WinINet call that waits for the server, on a thread of its own, so
// that Abort can give up on it at once. Closing the handle aborts such a call
// on Windows, but Wine's WinINet keeps waiting until the server answers or
// hangs up; the abandoned call then finishes on its own thread with its own
// references to the request and its buffer.
struct CPendingCall {
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  bool ok = false;
  std::string error;
};

class CWinHttpRequestPort : public IHttpRequestPort {
 public:
  explicit CWinHttpRequestPort(std::unique_ptr<CHttpFile> file) : file_(std::move(file)) {}

  bool AddRequestHeaders(const std::string& line, uint32_t flags, std::string& error) override {
    return Checked(error) && Guarded([&] { file_->AddRequestHeaders(line.c_str(), flags); }, error);
  }
  bool SendRequestEx(uint32_t totalLength, std::string& error) override {
    std::shared_ptr<CHttpFile> file = file_;
    return Abortable(
        [file, totalLength](std::string& e) {
          return Guarded([&] { file->SendRequestEx(totalLength, HSR_INITIATE, RequestContext); },
                         e);
        },
        error);
  }
  // Writes go straight to WinINet: a thread per block would cost more than
  // the block. A write only blocks on a server that stops reading.
  bool Write(const char* data, size_t size, std::string& error) override {
    return Checked(error) && Guarded([&] { file_->Write(data, static_cast<UINT>(size)); }, error);
  }
  bool EndRequest(std::string& error) override {
    std::shared_ptr<CHttpFile> file = file_;
    return Abortable(
        [file](std::string& e) { return Guarded([&] { file->EndRequest(0, RequestContext); }, e); },
        error);
  }
  bool QueryStatusCode(uint32_t& status, std::string& error) override {
    DWORD code = 0;
    if (!Checked(error) || !Guarded([&] { file_->QueryInfoStatusCode(code); }, error)) {
      return false;
    }
    status = code;
    return true;
  }
  bool Read(char* buffer, size_t size, size_t& got, std::string& error) override {
    got = 0;
    std::shared_ptr<CHttpFile> file = file_;
    auto block = std::make_shared<std::vector<char>>(size);
    auto count = std::make_shared<UINT>(0);
    if (!Abortable(
            [file, block, count](std::string& e) {
              return Guarded(
                  [&] { *count = file->Read(block->data(), static_cast<UINT>(block->size())); }, e);
            },
            error)) {
      return false;
    }
    got = *count;
    std::copy(block->begin(), block->begin() + got, buffer);
    return true;
  }
  uint32_t QueryDataAvailable() override {
    std::shared_ptr<CHttpFile> file = file_;
    auto available = std::make_shared<DWORD>(0);
    std::string error;
    if (!Abortable(
            [file, available](std::string&) {
              *available = file->QueryDataAvailable();
              return true;
            },
            error)) {
      return 0;
    }
    return *available;
  }
  bool QueryContentLength(uint64_t& length) override {
    if (aborted_) return false;
    char text[32] = {};
    DWORD size = sizeof text - 1;
    if (!HttpQueryInfoA(file_->GetHandle(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr))
      return false;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0') return false;
    length = value;
    return true;
  }
  void Abort() override {
    if (aborted_.exchange(true)) return;
    file_->Close();
    std::shared_ptr<CPendingCall> call;
    {
      std::lock_guard<std::mutex> guard(currentLock_);
      call = current_;
    }
    if (call) {
      std::lock_guard<std::mutex> guard(call->lock);
      call->finished.notify_all();
    }
  }

 private:
  // After an abort the handle is gone: fail without calling WinINet.
  bool Checked(std::string& error) {
    if (!aborted_) return true;
    error = InternetErrorText(ERROR_INTERNET_OPERATION_CANCELLED);
    return false;
  }

  template <typename Call>
  bool Abortable(Call call, std::string& error) {
    if (!Checked(error)) return false;
    auto pending = std::make_shared<CPendingCall>();
    {
      std::lock_guard<std::mutex> guard(currentLock_);
      current_ = pending;
    }
    try {
      StartDetachedThread([pending, call]() mutable {
        std::string text;
        bool ok;
        {
          // Drop this thread's references to the request before reporting:
          // the worker must stay the one that closes it.
          Call job = std::move(call);
          ok = job(text);
        }
        std::lock_guard<std::mutex> guard(pending->lock);
        pending->ok = ok;
        pending->error = text;
        pending->done = true;
        pending->finished.notify_all();
      });
    } catch (...) {
      // No thread to spare: wait in the call itself.
      return call(error);
    }
    std::unique_lock<std::mutex> guard(pending->lock);
    pending->finished.wait(guard, [&] { return pending->done || aborted_.load(); });
    if (!pending->done) return Checked(error);
    error = pending->error;
    return pending->ok;
  }

  std::shared_ptr<CHttpFile> file_;
  std::atomic<bool> aborted_{false};
  std::mutex currentLock_;
  std::shared_ptr<CPendingCall> current_;
};

class CWinHttpConnectionPort : public IHttpConnectionPort {
 public:
  explicit CWinHttpConnectionPort(std::unique_ptr<CHttpConnection> connection)
      : connection_(std::move(connection)) {}

  std::unique_ptr<IHttpRequestPort> OpenRequest(const std::string& verb,
                                                const std::string& objectPath,
                                                const std::string& version, uint32_t flags,
                                                std::string& error) override {
    std::unique_ptr<CHttpFile> file;
    if (!Guarded(
            [&] {
              file = connection_->OpenRequest(verb.c_str(), objectPath.c_str(), nullptr,
                                              RequestContext, nullptr, version.c_str(), flags);
            },
            error)) {
      return nullptr;
    }
    if (!file) return nullptr;
    return std::make_unique<CWinHttpRequestPort>(std::move(file));
  }

 private:
  std::unique_ptr<CHttpConnection> connection_;
};

class CWinHttpPort : public IHttpPort {
 public:
  CWinHttpPort() {
    // No agent name of our own: every request sets its User-Agent header.
    Guarded([&] { session_ = std::make_unique<CInternetSession>(nullptr, RequestContext); },
            openError_);
  }

  std::unique_ptr<IHttpConnectionPort> GetHttpConnection(const std::string& host, uint16_t port,
                                                         bool secure, std::string& error) override {
    if (!session_ || !session_->GetHandle()) {
      error = openError_.empty() ? InternetErrorText(ERROR_INVALID_HANDLE) : openError_;
      return nullptr;
    }
    std::unique_ptr<CHttpConnection> connection;
    if (!Guarded(
            [&] {
              connection = session_->GetHttpConnection(
                  host.c_str(), secure ? INTERNET_FLAG_SECURE : 0, port, nullptr, nullptr);
            },
            error)) {
      return nullptr;
    }
    if (!connection) return nullptr;
    return std::make_unique<CWinHttpConnectionPort>(std::move(connection));
  }
  void Close() override {
    if (session_) session_->Close();
  }
  quib::IFilePort& Files() override { return quib::Files(); }
  std::string MediaTypeOf(const std::string& path) override { return DetectMediaType(path); }

 private:
  std::unique_ptr<CInternetSession> session_;
  std::string openError_;
};

}  // namespace

namespace quib {

std::unique_ptr<IHttpPort> OpenWinInetPort() {
  return std::make_unique<CWinHttpPort>();
}

}  // namespace quib
