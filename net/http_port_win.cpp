// The HTTP port on Windows: WinINet through the framework's internet classes.
#include <atomic>
#include <memory>
#include <string>

#include "framework/internet.h"
#include "net/http_port.h"
#include "net/http_upload.h"
#include "net/media_type.h"

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

class CWinHttpRequestPort : public IHttpRequestPort {
 public:
  explicit CWinHttpRequestPort(std::unique_ptr<CHttpFile> file) : file_(std::move(file)) {}

  bool AddRequestHeaders(const std::string& line, uint32_t flags, std::string& error) override {
    return Checked(error) && Guarded([&] { file_->AddRequestHeaders(line.c_str(), flags); }, error);
  }
  bool SendRequestEx(uint32_t totalLength, std::string& error) override {
    return Checked(error) &&
           Guarded([&] { file_->SendRequestEx(totalLength, HSR_INITIATE, RequestContext); }, error);
  }
  bool Write(const char* data, size_t size, std::string& error) override {
    return Checked(error) && Guarded([&] { file_->Write(data, static_cast<UINT>(size)); }, error);
  }
  bool EndRequest(std::string& error) override {
    return Checked(error) && Guarded([&] { file_->EndRequest(0, RequestContext); }, error);
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
    UINT n = 0;
    if (!Checked(error) ||
        !Guarded([&] { n = file_->Read(buffer, static_cast<UINT>(size)); }, error)) {
      return false;
    }
    got = n;
    return true;
  }
  uint32_t QueryDataAvailable() override { return aborted_ ? 0 : file_->QueryDataAvailable(); }
  // Closing the request handle makes a blocked WinINet call return.
  void Abort() override {
    if (!aborted_.exchange(true)) file_->Close();
  }

 private:
  // After an abort the handle is gone: fail without calling WinINet.
  bool Checked(std::string& error) {
    if (!aborted_) return true;
    error = InternetErrorText(ERROR_INTERNET_OPERATION_CANCELLED);
    return false;
  }

  std::unique_ptr<CHttpFile> file_;
  std::atomic<bool> aborted_{false};
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
  quib::IFilePort& Files() override { return quib::SystemFilePort(); }
  std::string MediaTypeOf(const std::string& path) override { return DetectMediaType(path); }

 private:
  std::unique_ptr<CInternetSession> session_;
  std::string openError_;
};

}  // namespace

std::unique_ptr<IHttpPort> MakeSystemHttpPort() {
  return std::make_unique<CWinHttpPort>();
}
