// "Check now!" of the settings: one try of the typed credentials against
// the service.
#pragma once

#include <mutex>
#include <string>

#include "core/service/service_client.h"
#include "core/service/service_listener.h"

// One running credentials check: owns its client and passes the client's
// listener calls on to the dialog while the dialog still wants them. A
// dialog that closes during the check abandons it: the request is aborted
// and the check deletes itself (and its client) on the worker thread once
// the request's final event has arrived, so nothing reaches the closed
// dialog and nothing leaks.
class CLoginCheck : public IServiceListener {
 public:
  explicit CLoginCheck(IServiceListener* listener);
  ~CLoginCheck() override;
  CLoginCheck(const CLoginCheck&) = delete;
  CLoginCheck& operator=(const CLoginCheck&) = delete;

  void Start(const std::string& url, const std::string& username, const std::string& password,
             const std::string& language, const std::string& version);
  // Called by the owner instead of deleting the check. Deletes the check at
  // once when its final event has already been passed on; otherwise cancels
  // the request and leaves the deletion to the final event.
  static void Abandon(CLoginCheck* check);
  // Checks that exist right now, abandoned ones included.
  static int LiveCount();

  void OnUploadProgress(int sent, int total) override;
  void OnResponseProgress(int received, int available) override;
  void OnLogInDone(int result) override;
  void OnDirListDone(CAlbumList* list, int result) override;
  void OnCreateDirDone(int albumId, int result) override;
  void OnUploadDone(int result) override;
  void OnAborted() override;

 private:
  // The final event: passes it on, or deletes the abandoned check.
  void Finish(int result, bool aborted);

  std::mutex lock_;
  IServiceListener* listener_;  // null once abandoned
  bool finished_ = false;
  CServiceClient client_;
};

namespace quib {

// The message a credentials check ends with.
const char* CheckResultText(int result);

}  // namespace quib
