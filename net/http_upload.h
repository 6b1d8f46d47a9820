// The HTTP client of the service protocol. Each request runs on a worker
// thread of its own: it posts the multipart body of the request's fields to
// the URL and reports progress and exactly one final event (cancelled, error
// or done) to the listeners, on that worker thread, in registration order.
//
// The fields are emptied and the connection closed before the final event is
// delivered, so a listener may add the next request's fields and call Start
// from inside it, and the last listener may delete the object there.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/form_fields.h"
#include "net/http_port.h"

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

class CHttpUpload {
 public:
  // Uses the system's HTTP port (WinINet on Windows).
  CHttpUpload();
  // Uses the given port; tests pass fakes.
  explicit CHttpUpload(std::unique_ptr<IHttpPort> port);
  // Waits for a running worker, unless called on that worker (from inside a
  // final event), then closes the session. A request still under way is
  // cancelled first.
  virtual ~CHttpUpload();
  CHttpUpload(const CHttpUpload&) = delete;
  CHttpUpload& operator=(const CHttpUpload&) = delete;

  // Listeners are never removed and are not owned.
  void AddListener(IHttpListener* listener);
  // Field operations: only before Start, or from inside a final event.
  void AddField(const char* name, const char* value);
  void AddFile(const char* name, const char* path);

  // Parses the URL and runs the request on a new worker thread; returns at
  // once. The outcome arrives only as events.
  void Start(const std::string& url, const std::string& command);
  // Ends the running request at its next cancellation test; a call blocked on
  // a stalled server is aborted. Every later request of this object is
  // cancelled too.
  void Cancel();
  // Closes request and connection, empties the fields, host and path; port 80.
  void Reset();
  // Closes the internet session; called by the owner just before deleting.
  virtual void Close();

  // Body length of the current fields, low 32 bits (see CMultipartBody).
  uint32_t ComputeContentLength();
  // Stores host, port, object path and TLS choice of the URL.
  void ParseUrl(const std::string& url);
  // One request, on the calling thread; Start runs it on the worker.
  void Run();

  const std::string& GetHost() const { return host_; }
  const std::string& GetObjectPath() const { return objectPath_; }
  uint16_t GetPort() const { return port_; }
  bool IsSecure() const { return secure_; }
  const CFormFields& GetFields() const { return fields_; }
  bool IsCancelRequested() const { return cancelRequested_.load(); }

 protected:
  // Creates the worker thread; throws std::system_error when the system
  // cannot (overridden by tests).
  virtual std::thread CreateWorker();

 private:
  void CollectWorker(std::thread& worker);
  void Deliver(HttpEvent& event);
  // Reset, then the final event; nothing of the object is touched after it.
  void Finish(int32_t type, const std::string& text);
  // A failure after Cancel is the cancellation taking effect.
  void Fail(const std::string& text);
  bool IsCancelled() const { return cancelRequested_.load(); }

  std::unique_ptr<IHttpPort> session_;
  std::unique_ptr<IHttpConnectionPort> connection_;
  std::unique_ptr<IHttpRequestPort> request_;  // guarded by requestLock_ against Cancel
  std::mutex requestLock_;
  CFormFields fields_;
  std::string host_;
  std::string objectPath_;
  uint16_t port_ = 80;
  bool secure_ = false;
  std::vector<IHttpListener*> listeners_;
  std::string commandName_;
  std::atomic<bool> cancelRequested_{false};
  std::thread worker_;  // guarded by workerLock_
  std::mutex workerLock_;
};
