// The album service's four commands over one HTTP transport. Every command
// returns at once; its result reaches the listener later, on the request's
// worker thread. One request at a time: the next command is issued from the
// listener call that ended the previous one, or later.
#pragma once

#include <memory>
#include <string>

#include "core/protocol/http_upload.h"
#include "core/protocol/response_doc.h"
#include "core/service/album_list.h"
#include "core/service/service_listener.h"

// Command names, sent to the transport and returned in its events.
extern const char ServiceCommandLogIn[];      // "LogIn"
extern const char ServiceCommandDirList[];    // "DirList"
extern const char ServiceCommandCreateDir[];  // "CreateDir"
extern const char ServiceCommandUpload[];     // "Upload"

// What the login tells the service about the client that speaks to it.
extern const char ServiceLanguage[];  // "DE"
extern const char ServiceVersion[];   // "1.0"

class CServiceClient : public IHttpListener {
 public:
  // Uses the system's HTTP transport.
  explicit CServiceClient(IServiceListener* listener);
  // Uses the given transport; tests pass one over a fake port.
  CServiceClient(IServiceListener* listener, std::unique_ptr<CHttpUpload> transport);
  // Closes and deletes the transport. Allowed from inside the final listener
  // call of a request, which is the client's last use of itself.
  ~CServiceClient() override;
  CServiceClient(const CServiceClient&) = delete;
  CServiceClient& operator=(const CServiceClient&) = delete;

  // Values are sent as passed: callers convert user text to UTF-8 first.
  void LogIn(const std::string& url, const std::string& username, const std::string& password,
             const std::string& language, const std::string& version);
  void DirList();
  void CreateDir(const std::string& name);
  void Upload(unsigned int albumId, const std::string& filename, const std::string& keyword,
              const std::string& desc, const std::string& mimeType, const std::string& path);
  // Cancels the request in flight and every later one of this client.
  void Abort();

  // Turns transport events into listener calls; called by the transport.
  void OnHttpEvent(const HttpEvent& event) override;

  // Name=value pairs of every successful login so far.
  const CResponseDoc& GetResponseDoc() const { return response_; }

 private:
  void OnDone(const std::string& command, const std::string& text);

  std::unique_ptr<CHttpUpload> transport_;
  CResponseDoc response_;
  IServiceListener* listener_;
};
