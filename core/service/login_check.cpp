#include "core/service/login_check.h"

#include <atomic>

#include "core/service/album_list.h"

namespace {

std::atomic<int> g_liveChecks{0};

}  // namespace

namespace quib {

const char* CheckResultText(int result) {
  if (result == ResultOk) return "Username and password seem to be correct.";
  if (result == ResultBadLogin) return "You need valid username and password to upload files.";
  return "The server is not responding.";
}

}  // namespace quib

CLoginCheck::CLoginCheck(IServiceListener* listener) : listener_(listener), client_(this) {
  ++g_liveChecks;
}

CLoginCheck::~CLoginCheck() {
  --g_liveChecks;
}

int CLoginCheck::LiveCount() {
  return g_liveChecks.load();
}

void CLoginCheck::Start(const std::string& url, const std::string& username,
                        const std::string& password, const std::string& language,
                        const std::string& version) {
  client_.LogIn(url, username, password, language, version);
}

void CLoginCheck::Abandon(CLoginCheck* check) {
  if (!check) return;
  {
    std::lock_guard<std::mutex> guard(check->lock_);
    check->listener_ = nullptr;
    if (!check->finished_) {
      // The final event (cancelled, or a result that was just arriving)
      // deletes the check on the worker thread. Aborting under the lock, since
      // that final event may delete the check as soon as the lock is free.
      check->client_.Abort();
      return;
    }
  }
  // The worker has passed its final event on; deleting waits for it to end.
  delete check;
}

void CLoginCheck::Finish(int result, bool aborted) {
  bool abandoned = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    finished_ = true;
    if (listener_) {
      if (aborted)
        listener_->OnAborted();
      else
        listener_->OnLogInDone(result);
    } else {
      abandoned = true;
    }
  }
  // The client's final listener call is its last use of itself, so the check
  // (and the client with it) may go here.
  if (abandoned) delete this;
}

void CLoginCheck::OnUploadProgress(int, int) {}
void CLoginCheck::OnResponseProgress(int, int) {}
void CLoginCheck::OnLogInDone(int result) {
  Finish(result, false);
}
void CLoginCheck::OnDirListDone(CAlbumList* list, int result) {
  // Only LogIn is ever sent; a list would be ours to delete.
  delete list;
  Finish(result, false);
}
void CLoginCheck::OnCreateDirDone(int, int result) {
  Finish(result, false);
}
void CLoginCheck::OnUploadDone(int result) {
  Finish(result, false);
}
void CLoginCheck::OnAborted() {
  Finish(ResultFailed, true);
}
