#include "net/http_upload.h"

#include <cstring>
#include <exception>
#include <utility>

#include "net/media_type.h"
#include "net/multipart.h"
#include "net/url.h"

const char HttpErrorNoConnection[] = "CInternetSession::GetHttpConnection() failed.";
const char HttpErrorNoRequest[] = "CHttpConnection::OpenRequest() failed.";
const char HttpErrorUnknown[] = "Unknown (...)";
const char HttpErrorStatus[] = "error";
const char HttpErrorNoPlatform[] = "No HTTP support on this platform.";

namespace {

constexpr size_t ReadBlockSize = 1023;  // read into a 1024-byte buffer with room for a NUL
constexpr uint32_t HttpStatusOk = 200;

// Where the platform has no HTTP client: every request fails at connecting.
class CUnavailableHttpPort : public IHttpPort {
 public:
  std::unique_ptr<IHttpConnectionPort> GetHttpConnection(const std::string&, uint16_t, bool,
                                                         std::string& error) override {
    error = HttpErrorNoPlatform;
    return nullptr;
  }
  void Close() override {}
  quib::IFilePort& Files() override { return quib::SystemFilePort(); }
  std::string MediaTypeOf(const std::string&) override { return quib::MediaTypeUnknown; }
};

// The body goes straight into the open request, block by block.
class CRequestOutput : public quib::IBodyOutput {
 public:
  explicit CRequestOutput(IHttpRequestPort& request) : request_(request) {}
  bool Write(const char* data, size_t size, std::string& error) override {
    return request_.Write(data, size, error);
  }

 private:
  IHttpRequestPort& request_;
};

std::unique_ptr<IHttpPort> OrUnavailable(std::unique_ptr<IHttpPort> port) {
  if (port) return port;
  return std::make_unique<CUnavailableHttpPort>();
}

}  // namespace

#ifndef _WIN32
// On Windows both live beside the WinINet port, so that the portable library
// does not depend on the Windows one.
std::unique_ptr<IHttpPort> MakeSystemHttpPort() {
  return nullptr;
}

CHttpUpload::CHttpUpload() : CHttpUpload(MakeSystemHttpPort()) {}
#endif

CHttpUpload::CHttpUpload(std::unique_ptr<IHttpPort> port)
    : session_(OrUnavailable(std::move(port))) {}

CHttpUpload::~CHttpUpload() {
  std::thread worker;
  {
    std::lock_guard<std::mutex> lock(workerLock_);
    worker = std::move(worker_);
  }
  // A request still under way (its owner gave up waiting for it) is stopped
  // first, so the wait for its worker ends instead of lasting as long as the
  // server keeps it.
  if (worker.joinable() && worker.get_id() != std::this_thread::get_id()) Cancel();
  CollectWorker(worker);
  Reset();
  session_->Close();
}

// From inside a final event the worker is this thread: it only returns after
// the listeners, so letting it go is safe. Any other worker has delivered its
// final event (or is about to) and is waited for.
void CHttpUpload::CollectWorker(std::thread& worker) {
  if (!worker.joinable()) return;
  if (worker.get_id() == std::this_thread::get_id()) {
    worker.detach();
  } else {
    worker.join();
  }
}

void CHttpUpload::AddListener(IHttpListener* listener) {
  listeners_.push_back(listener);
}

void CHttpUpload::AddField(const char* name, const char* value) {
  fields_.textFields[name] = value;
}

void CHttpUpload::AddFile(const char* name, const char* path) {
  fields_.fileFields[name] = path;
}

void CHttpUpload::ParseUrl(const std::string& url) {
  quib::CUrlParts parts = quib::ParseUrl(url);
  host_ = std::move(parts.host);
  objectPath_ = std::move(parts.objectPath);
  port_ = parts.port;
  secure_ = parts.secure;
}

void CHttpUpload::Start(const std::string& url, const std::string& command) {
  ParseUrl(url);
  commandName_ = command;
  std::thread previous;
  std::string failure;
  bool started = true;
  {
    // A request may end, and its listener start the next one, before the
    // new thread is stored: the lock makes that Start wait for it.
    std::lock_guard<std::mutex> lock(workerLock_);
    previous = std::move(worker_);
    try {
      worker_ = CreateWorker();
    } catch (const std::exception& e) {
      failure = e.what();
      started = false;
    }
  }
  CollectWorker(previous);
  // No thread, so the final event comes on the caller's thread.
  if (!started) Finish(HttpEventError, failure);
}

std::thread CHttpUpload::CreateWorker() {
  return std::thread([this] { Run(); });
}

void CHttpUpload::Cancel() {
  std::lock_guard<std::mutex> lock(requestLock_);
  cancelRequested_.store(true);
  // Unblocks a write or read that waits on a stalled server.
  if (request_) request_->Abort();
}

void CHttpUpload::Reset() {
  std::unique_ptr<IHttpRequestPort> request;
  {
    std::lock_guard<std::mutex> lock(requestLock_);
    request = std::move(request_);
  }
  request.reset();
  connection_.reset();
  fields_.RemoveAll();
  host_.clear();
  objectPath_.clear();
  port_ = quib::HttpDefaultPort;
  secure_ = false;
}

void CHttpUpload::Close() {
  session_->Close();
}

uint32_t CHttpUpload::ComputeContentLength() {
  quib::CMultipartBody body(fields_, session_->Files(), [this](const std::string& path) {
    return session_->MediaTypeOf(path);
  });
  return static_cast<uint32_t>(body.ComputeContentLength());
}

void CHttpUpload::Deliver(HttpEvent& event) {
  // The count is taken once; each pointer is read just before its call, so
  // after the last listener returns nothing of the object is read.
  const size_t count = listeners_.size();
  for (size_t i = 0; i < count; ++i) listeners_[i]->OnHttpEvent(event);
}

void CHttpUpload::Finish(int32_t type, const std::string& text) {
  HttpEvent event;
  event.type = type;
  event.text = text;
  event.command = commandName_;
  Reset();
  Deliver(event);
}

void CHttpUpload::Fail(const std::string& text) {
  if (IsCancelled()) {
    Finish(HttpEventCancelled, std::string());
  } else {
    Finish(HttpEventError, text);
  }
}

void CHttpUpload::Run() {
  connection_.reset();
  {
    std::lock_guard<std::mutex> lock(requestLock_);
    request_.reset();
  }
  IHttpPort& session = *session_;
  quib::CMultipartBody body(fields_, session.Files(), [&session](const std::string& path) {
    return session.MediaTypeOf(path);
  });
  const uint64_t fullLength = body.ComputeContentLength();
  if (!quib::CMultipartBody::FitsContentLength(fullLength)) {
    Fail(quib::MultipartErrorTooLarge);
    return;
  }
  const uint32_t length = static_cast<uint32_t>(fullLength);

  std::string error;
  connection_ = session.GetHttpConnection(host_, port_, secure_, error);
  if (!connection_) {
    Fail(error.empty() ? HttpErrorNoConnection : error);
    return;
  }
  const uint32_t flags = HttpRequestFlagExistingConnect | (secure_ ? HttpRequestFlagSecure : 0);
  std::unique_ptr<IHttpRequestPort> opened =
      connection_->OpenRequest("POST", objectPath_, "HTTP/1.0", flags, error);
  if (!opened) {
    Fail(error.empty() ? HttpErrorNoRequest : error);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(requestLock_);
    request_ = std::move(opened);
    // A Cancel that came before the request existed could not abort it.
    if (cancelRequested_.load()) request_->Abort();
  }
  IHttpRequestPort& request = *request_;

  const std::string headers[] = {quib::ContentTypeHeaderLine(),
                                 quib::ContentLengthHeaderLine(length),
                                 quib::UserAgentHeaderLine()};
  for (const std::string& line : headers) {
    if (!request.AddRequestHeaders(line, HttpHeaderFlagAddReplace, error)) {
      Fail(error);
      return;
    }
  }
  if (!request.SendRequestEx(length, error)) {
    Fail(error);
    return;
  }

  CRequestOutput output(request);
  const quib::MultipartResult sent =
      body.Send(output, cancelRequested_, [this](uint32_t count, uint32_t total) {
        HttpEvent event;
        event.type = HttpEventSent;
        event.value1 = static_cast<int32_t>(count);
        event.value2 = static_cast<int32_t>(total);
        event.command = commandName_;
        Deliver(event);
      });
  if (sent.outcome == quib::MultipartCancelled) {
    Finish(HttpEventCancelled, std::string());
    return;
  }
  if (sent.outcome != quib::MultipartSent) {
    Fail(sent.error);
    return;
  }

  uint32_t status = 0;
  if (!request.EndRequest(error) || !request.QueryStatusCode(status, error)) {
    Fail(error);
    return;
  }
  if (status != HttpStatusOk) {
    Fail(HttpErrorStatus);
    return;
  }

  std::string response;
  char buffer[ReadBlockSize + 1];
  for (;;) {
    size_t got = 0;
    if (!request.Read(buffer, ReadBlockSize, got, error)) {
      Fail(error);
      return;
    }
    if (got == 0) break;
    if (IsCancelled()) {
      Finish(HttpEventCancelled, std::string());
      return;
    }
    // The answer is text: a NUL byte ends what is kept of this block.
    buffer[got] = '\0';
    response.append(buffer, std::strlen(buffer));
    HttpEvent event;
    event.type = HttpEventReceived;
    event.value1 = static_cast<int32_t>(response.size());
    event.value2 = static_cast<int32_t>(request.QueryDataAvailable());
    event.command = commandName_;
    Deliver(event);
  }
  Finish(HttpEventDone, response);
}
