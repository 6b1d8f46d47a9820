#include "core/protocol/http_upload.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "core/protocol/media_type.h"
#include "core/protocol/multipart.h"
#include "core/protocol/url.h"
#include "core/ports/platform.h"
#include "core/ports/threads.h"

const char HttpErrorNoConnection[] = "CInternetSession::GetHttpConnection() failed.";
const char HttpErrorNoRequest[] = "CHttpConnection::OpenRequest() failed.";
const char HttpErrorUnknown[] = "Unknown (...)";
const char HttpErrorStatus[] = "error";
const char HttpErrorNoPlatform[] = "No HTTP support on this platform.";
const char HttpErrorCutShort[] = "The answer ended before its announced length.";

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
  quib::IFilePort& Files() override { return quib::Files(); }
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

// Shared by the object and every request it started; outlives both.
struct CHttpUpload::CShared {
  // Held while events are delivered, so the owner can be unlinked between
  // two events. Recursive: the last listener may delete the owner (which
  // unlinks it) from inside the final event.
  std::recursive_mutex gate;
  CHttpUpload* owner = nullptr;  // null once the object is gone
  // Guards the latest job and its request against Cancel, and the session
  // flags below.
  std::mutex lock;
  std::atomic<bool> cancel{false};
  // The owner closed the session while a request still used it: the request
  // closes it when it ends, after its own connection and request handles.
  bool closeWhenDone = false;
  bool sessionClosed = false;
};

// One request: everything its worker touches.
struct CHttpUpload::CJob {
  std::shared_ptr<CShared> shared;
  std::shared_ptr<IHttpPort> session;
  CFormFields fields;
  std::string host;
  std::string objectPath;
  uint16_t port = quib::HttpDefaultPort;
  bool secure = false;
  std::string command;
  std::unique_ptr<IHttpConnectionPort> connection;
  std::unique_ptr<IHttpRequestPort> request;  // guarded by shared->lock

  std::mutex doneLock;
  std::condition_variable doneChanged;
  std::thread::id worker;  // the thread that delivers the events
  bool done = false;

  bool IsCancelled() const { return shared->cancel.load(); }
  void SetWorker() {
    std::lock_guard<std::mutex> guard(doneLock);
    worker = std::this_thread::get_id();
  }
  bool IsWorker() {
    std::lock_guard<std::mutex> guard(doneLock);
    return worker == std::this_thread::get_id();
  }
  // Waits at most timeoutMs for the final event to have been delivered.
  bool WaitDone(unsigned timeoutMs) {
    std::unique_lock<std::mutex> guard(doneLock);
    return doneChanged.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return done; });
  }
  void MarkDone() {
    {
      std::lock_guard<std::mutex> guard(doneLock);
      done = true;
      doneChanged.notify_all();
    }
    bool close = false;
    {
      std::lock_guard<std::mutex> guard(shared->lock);
      close = shared->closeWhenDone && !shared->sessionClosed;
      if (close) shared->sessionClosed = true;
    }
    if (close) session->Close();
  }
};

std::unique_ptr<IHttpPort> MakeSystemHttpPort() {
  return quib::OpenHttp();
}

CHttpUpload::CHttpUpload() : CHttpUpload(MakeSystemHttpPort()) {}

CHttpUpload::CHttpUpload(std::unique_ptr<IHttpPort> port)
    : session_(OrUnavailable(std::move(port))), shared_(std::make_shared<CShared>()) {
  shared_->owner = this;
}

CHttpUpload::~CHttpUpload() {
  std::shared_ptr<CJob> job;
  {
    std::lock_guard<std::mutex> guard(shared_->lock);
    job = job_;
  }
  const bool onWorker = job && job->IsWorker();
  // A request nobody cancelled may still end normally and report; one that
  // was cancelled is not waited for, as its call may never return.
  if (job && !onWorker && !shared_->cancel.load()) job->WaitDone(DestructorWaitMs);
  {
    // Waits for an event being delivered; none follows.
    std::lock_guard<std::recursive_mutex> gate(shared_->gate);
    shared_->owner = nullptr;
  }
  if (job && !onWorker && !job->WaitDone(0)) {
    std::lock_guard<std::mutex> guard(shared_->lock);
    shared_->cancel.store(true);
    if (job->request) job->request->Abort();
  }
  Reset();
  Close();
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

bool CHttpUpload::IsCancelRequested() const {
  return shared_->cancel.load();
}

void CHttpUpload::Start(const std::string& url, const std::string& command) {
  ParseUrl(url);
  commandName_ = command;
  auto job = std::make_shared<CJob>();
  job->shared = shared_;
  job->session = session_;
  job->fields = std::move(fields_);
  fields_ = CFormFields();
  job->host = host_;
  job->objectPath = objectPath_;
  job->port = port_;
  job->secure = secure_;
  job->command = command;
  Reset();
  {
    std::lock_guard<std::mutex> guard(shared_->lock);
    job_ = job;
  }
  try {
    // The thread holds the job, never this object: it may outlive it. Nothing
    // waits for it; it ends by itself after its final event.
    StartWorker([job] {
      job->SetWorker();
      Run(job);
    });
  } catch (const std::exception& e) {
    // No thread, so the final event comes on the caller's thread.
    job->SetWorker();
    Finish(*job, HttpEventError, e.what());
  }
}

void CHttpUpload::StartWorker(std::function<void()> run) {
  StartDetachedThread(std::move(run));
}

void CHttpUpload::Cancel() {
  std::lock_guard<std::mutex> guard(shared_->lock);
  shared_->cancel.store(true);
  // Unblocks a write or read that waits on a stalled server.
  if (job_ && job_->request) job_->request->Abort();
}

void CHttpUpload::Reset() {
  fields_.RemoveAll();
  host_.clear();
  objectPath_.clear();
  port_ = quib::HttpDefaultPort;
  secure_ = false;
}

void CHttpUpload::Close() {
  {
    std::lock_guard<std::mutex> guard(shared_->lock);
    if (shared_->sessionClosed) return;
    // Closing the session would pull the handles from under a request that
    // is still stuck in a call: it closes the session itself when it ends.
    // Inside the final event the request has closed its handles already.
    if (job_ && !job_->WaitDone(0) && !job_->IsWorker()) {
      shared_->closeWhenDone = true;
      return;
    }
    shared_->sessionClosed = true;
  }
  session_->Close();
}

uint32_t CHttpUpload::ComputeContentLength() {
  quib::CMultipartBody body(fields_, session_->Files(), [this](const std::string& path) {
    return session_->MediaTypeOf(path);
  });
  return static_cast<uint32_t>(body.ComputeContentLength());
}

void CHttpUpload::Deliver(CJob& job, HttpEvent& event) {
  std::lock_guard<std::recursive_mutex> gate(job.shared->gate);
  CHttpUpload* owner = job.shared->owner;
  if (!owner) return;
  // The count is taken once; each pointer is read just before its call, so
  // after the last listener returns nothing of the owner is read.
  const size_t count = owner->listeners_.size();
  for (size_t i = 0; i < count; ++i) owner->listeners_[i]->OnHttpEvent(event);
}

void CHttpUpload::Finish(CJob& job, int32_t type, const std::string& text) {
  HttpEvent event;
  event.type = type;
  event.text = text;
  event.command = job.command;
  std::unique_ptr<IHttpRequestPort> request;
  {
    std::lock_guard<std::mutex> guard(job.shared->lock);
    request = std::move(job.request);
  }
  request.reset();
  job.connection.reset();
  job.fields.RemoveAll();
  Deliver(job, event);
  job.MarkDone();
}

void CHttpUpload::Fail(CJob& job, const std::string& text) {
  if (job.IsCancelled()) {
    Finish(job, HttpEventCancelled, std::string());
  } else {
    Finish(job, HttpEventError, text);
  }
}

void CHttpUpload::Run(const std::shared_ptr<CJob>& owned) {
  CJob& job = *owned;
  IHttpPort& session = *job.session;
  quib::CMultipartBody body(job.fields, session.Files(), [&session](const std::string& path) {
    return session.MediaTypeOf(path);
  });
  const uint64_t fullLength = body.ComputeContentLength();
  if (!quib::CMultipartBody::FitsContentLength(fullLength)) {
    Fail(job, quib::MultipartErrorTooLarge);
    return;
  }
  const uint32_t length = static_cast<uint32_t>(fullLength);

  std::string error;
  job.connection = session.GetHttpConnection(job.host, job.port, job.secure, error);
  if (!job.connection) {
    Fail(job, error.empty() ? HttpErrorNoConnection : error);
    return;
  }
  const uint32_t flags = HttpRequestFlagExistingConnect | (job.secure ? HttpRequestFlagSecure : 0);
  std::unique_ptr<IHttpRequestPort> opened =
      job.connection->OpenRequest("POST", job.objectPath, "HTTP/1.0", flags, error);
  if (!opened) {
    Fail(job, error.empty() ? HttpErrorNoRequest : error);
    return;
  }
  {
    std::lock_guard<std::mutex> guard(job.shared->lock);
    job.request = std::move(opened);
    // A Cancel that came before the request existed could not abort it.
    if (job.IsCancelled()) job.request->Abort();
  }
  IHttpRequestPort& request = *job.request;

  const std::string headers[] = {quib::ContentTypeHeaderLine(),
                                 quib::ContentLengthHeaderLine(length),
                                 quib::UserAgentHeaderLine()};
  for (const std::string& line : headers) {
    if (!request.AddRequestHeaders(line, HttpHeaderFlagAddReplace, error)) {
      Fail(job, error);
      return;
    }
  }
  if (!request.SendRequestEx(length, error)) {
    Fail(job, error);
    return;
  }

  CRequestOutput output(request);
  const quib::MultipartResult sent =
      body.Send(output, job.shared->cancel, [&job](uint32_t count, uint32_t total) {
        HttpEvent event;
        event.type = HttpEventSent;
        event.value1 = static_cast<int32_t>(count);
        event.value2 = static_cast<int32_t>(total);
        event.command = job.command;
        Deliver(job, event);
      });
  if (sent.outcome == quib::MultipartCancelled) {
    Finish(job, HttpEventCancelled, std::string());
    return;
  }
  if (sent.outcome != quib::MultipartSent) {
    Fail(job, sent.error);
    return;
  }

  uint32_t status = 0;
  if (!request.EndRequest(error) || !request.QueryStatusCode(status, error)) {
    Fail(job, error);
    return;
  }
  if (status != HttpStatusOk) {
    Fail(job, HttpErrorStatus);
    return;
  }

  std::string response;
  uint64_t received = 0;
  char buffer[ReadBlockSize + 1];
  for (;;) {
    size_t got = 0;
    if (!request.Read(buffer, ReadBlockSize, got, error)) {
      Fail(job, error);
      return;
    }
    if (got == 0) break;
    received += got;
    if (job.IsCancelled()) {
      Finish(job, HttpEventCancelled, std::string());
      return;
    }
    // The answer is text: a NUL byte ends what is kept of this block.
    buffer[got] = '\0';
    response.append(buffer, std::strlen(buffer));
    HttpEvent event;
    event.type = HttpEventReceived;
    event.value1 = static_cast<int32_t>(response.size());
    event.value2 = static_cast<int32_t>(request.QueryDataAvailable());
    event.command = job.command;
    Deliver(job, event);
  }
  // A connection that was cut or reset mid-answer can read like an orderly
  // end (Wine's WinINet): the first lines alone would pass for a whole answer.
  uint64_t announced = 0;
  if (request.QueryContentLength(announced) && received < announced) {
    Fail(job, HttpErrorCutShort);
    return;
  }
  Finish(job, HttpEventDone, response);
}
