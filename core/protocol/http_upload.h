// The HTTP client of the service protocol. Each request runs on a worker
// thread of its own: it posts the multipart body of the request's fields to
// the URL and reports progress and exactly one final event (cancelled, error
// or done) to the listeners, on that worker thread, in registration order.
//
// The fields are emptied and the connection closed before the final event is
// delivered, so a listener may add the next request's fields and call Start
// from inside it, and the last listener may delete the object there.
//
// A request owns what it works with (its fields, connection, request and a
// share of the session), so the object may also be deleted while a request
// is stuck in a call the platform cannot abort: the request then ends on its
// own thread and tells nobody.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/protocol/form_fields.h"
#include "core/ports/http_port.h"

enum HttpEventType {
  HttpEventCancelled = -1,  // final
  HttpEventError = 0,       // final; text = message
  HttpEventSent = 1,        // value1 = body bytes sent, value2 = Content-Length
  HttpEventReceived = 2,    // value1 = response bytes read, value2 = bytes available now
  HttpEventDone = 3,        // final; text = whole response body
};

// Built on the worker thread; valid only during the OnHttpEvent call.
struct HttpEvent {
  int32_t type = HttpEventError;
  std::string text;
  int32_t value1 = 0;
  int32_t value2 = 0;
  std::string command;  // the command name given to Start
};

class IHttpListener {
 public:
  virtual ~IHttpListener() = default;
  // Called on the request's worker thread; must return quickly and not throw.
  virtual void OnHttpEvent(const HttpEvent& event) = 0;
};

// Error texts of the failures the client detects itself.
extern const char HttpErrorNoConnection[];  // "CInternetSession::GetHttpConnection() failed."
extern const char HttpErrorNoRequest[];     // "CHttpConnection::OpenRequest() failed."
extern const char HttpErrorUnknown[];       // "Unknown (...)"
extern const char HttpErrorStatus[];        // "error": any status but 200
extern const char HttpErrorNoPlatform[];    // no HTTP platform in this build
extern const char HttpErrorCutShort[];      // fewer bytes than Content-Length

class CHttpUpload {
 public:
  // Uses the system's HTTP port (WinINet on Windows).
  CHttpUpload();
  // Uses the given port; tests pass fakes.
  explicit CHttpUpload(std::unique_ptr<IHttpPort> port);
  // From inside a final event (on the worker) it neither waits nor delivers
  // anything more. Otherwise it waits a bounded time for a running request
  // that was not cancelled; a request that is still running then (a write
  // blocked on a server that stopped reading cannot be aborted everywhere)
  // is cancelled and left to end on its own thread, which owns everything
  // it still uses: no event of it reaches a listener any more.
  virtual ~CHttpUpload();
  CHttpUpload(const CHttpUpload&) = delete;
  CHttpUpload& operator=(const CHttpUpload&) = delete;

  // Listeners are never removed and are not owned.
  void AddListener(IHttpListener* listener);
  // Field operations: only before Start, or from inside a final event.
  void AddField(const char* name, const char* value);
  void AddFile(const char* name, const char* path);

  // Parses the URL and runs the request on a new worker thread; returns at
  // once. The request takes the fields, host and path with it, so they are
  // empty again when Start returns. The outcome arrives only as events.
  void Start(const std::string& url, const std::string& command);
  // Ends the running request at its next cancellation test; a call blocked on
  // a stalled server is aborted. Every later request of this object is
  // cancelled too.
  void Cancel();
  // Empties the fields, host and path; port 80.
  void Reset();
  // Closes the internet session; called by the owner just before deleting.
  virtual void Close();

  // Body length of the current fields, low 32 bits (see CMultipartBody).
  uint32_t ComputeContentLength();
  // Stores host, port, object path and TLS choice of the URL.
  void ParseUrl(const std::string& url);

  const std::string& GetHost() const { return host_; }
  const std::string& GetObjectPath() const { return objectPath_; }
  uint16_t GetPort() const { return port_; }
  bool IsSecure() const { return secure_; }
  const CFormFields& GetFields() const { return fields_; }
  // The command name given to the latest Start.
  const std::string& GetCommandName() const { return commandName_; }
  bool IsCancelRequested() const;

  // How long the destructor waits for a request that was not cancelled.
  static constexpr unsigned DestructorWaitMs = 5000;

 protected:
  // Starts the worker thread that calls run and that nobody waits for;
  // throws std::system_error when the system cannot (overridden by tests).
  virtual void StartWorker(std::function<void()> run);

 private:
  struct CShared;
  struct CJob;

  static void Run(const std::shared_ptr<CJob>& job);
  static void Deliver(CJob& job, HttpEvent& event);
  // Releases the job's request and connection, then the final event; the job
  // is done afterwards.
  static void Finish(CJob& job, int32_t type, const std::string& text);
  // A failure after Cancel is the cancellation taking effect.
  static void Fail(CJob& job, const std::string& text);

  std::shared_ptr<IHttpPort> session_;
  std::shared_ptr<CShared> shared_;
  std::shared_ptr<CJob> job_;  // the latest request; guarded by the shared lock
  CFormFields fields_;
  std::string host_;
  std::string objectPath_;
  uint16_t port_ = 80;
  bool secure_ = false;
  std::vector<IHttpListener*> listeners_;
  std::string commandName_;
};
