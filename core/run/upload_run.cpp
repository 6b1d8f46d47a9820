#include "core/run/upload_run.h"

#include <cstdlib>

#include "core/settings/profile.h"
#include "core/text/text_convert.h"
#include "core/service/service_client.h"
#include "core/service/service_listener.h"
#include "core/service/service_urls.h"

namespace {

const char kTextBadLogin[] = "You need valid username and password to upload files.";
const char kTextUnknown[] = "An unknown error occured.";
const char kTextNoAlbums[] = "Could not get albums from server.";
const char kTextAlbumNotCreated[] = "The album could not be created.";
const char kTextNoSpace[] = "There is not enough space left on the server.";
const char kTextNotShrunk[] =
    "\" could not be shrunk (not enough memory or disk space). It is uploaded in its original "
    "size, as is any other picture of this upload that cannot be shrunk.";

const char kStatusLogIn[] = "LogIn";
const char kStatusLoadingAlbums[] = "Loading Albums";
const char kStatusCreatingAlbum[] = "Creating Album";
const char kStatusUploading[] = "Uploading";
const char kStatusWaiting[] = "Waiting for Server";

}  // namespace

void TransferRunState::SetStatusText(const std::string& text) {
  std::lock_guard<std::mutex> lock(statusLock_);
  statusText_ = text;
}

std::string TransferRunState::GetStatusText() const {
  std::lock_guard<std::mutex> lock(statusLock_);
  return statusText_;
}

CUploadRun::CUploadRun(TransferRunState& state, IRunClient& client, IRunItems& items,
                       IRunPrompts& prompts, IProfile& profile)
    : state_(state), client_(client), items_(items), prompts_(prompts), profile_(profile) {}

int CUploadRun::StartLogIn() {
  std::string username = ReadUsername(profile_);
  std::string password = ReadPassword(profile_);
  if (username.empty() || password.empty()) {
    const int answer = prompts_.AskLogin(username, password);
    if (prompts_.IsClosing()) return -1;
    if (answer != RunModalOk || username.empty() || password.empty()) {
      prompts_.ShowMessage(kTextBadLogin, RunMessageStop);
      return -1;
    }
  }
  SetStatusText(kStatusLogIn);
  // Every text of the program is UTF-8 already, as the service takes it.
  client_.LogIn(QUIB_LOGIN_URL, username, password, ServiceLanguage, ServiceVersion);
  return 0;
}

void CUploadRun::UploadNext() {
  if (state_.index == -1) state_.index = items_.Count();
  // Also covers an empty list, which has no item to take.
  if (state_.index <= 0) {
    prompts_.ShowMessage(std::to_string(state_.successCount) + " file(s) successfully uploaded.",
                         RunMessageInfo);
    prompts_.PostOk();
    return;
  }
  // From the back: removing an uploaded item never moves one still to come.
  const int index = --state_.index;

  bool asked = false;
  const int box = DecideResizeBox(items_.IsVideo(index), items_.IsAudio(index),
                                  items_.GetWidth(index), items_.GetHeight(index), profile_, [&] {
                                    asked = true;
                                    const bool ok = prompts_.AskResize() == RunModalOk;
                                    return ok && !prompts_.IsClosing();
                                  });
  if (asked && EndIfClosing()) return;
  PlanShrinks(index, box);
  if (box != 0 && !items_.Resize(index, box, box) && !shrinkFailureShown_) {
    shrinkFailureShown_ = true;
    prompts_.ShowMessage("\"" + items_.GetName(index) + kTextNotShrunk, RunMessageInfo);
  }

  SetStatusText(kStatusUploading);
  client_.Upload(static_cast<unsigned int>(state_.albumId), items_.GetName(index),
                 items_.GetKeywords(index), items_.GetDescription(index), items_.GetMimeType(index),
                 items_.GetPath(index));
}

void CUploadRun::PlanShrinks(int index, int box) {
  // While the prompt may still ask about a picture, nothing is known ahead.
  const int choice = ReadResizeImage(profile_);
  if (choice != ResizeSmall && choice != ResizeMedium) return;
  if (planned_ < 0 || planned_ > index + 1) planned_ = index + 1;
  for (int next = planned_ - 1; next >= 0; --next) {
    const int nextBox = next == index ? box
                                      : DecideResizeBox(items_.IsVideo(next), items_.IsAudio(next),
                                                        items_.GetWidth(next),
                                                        items_.GetHeight(next), profile_, nullptr);
    if (nextBox != 0 && !items_.ShrinkAhead(next, nextBox)) return;
    planned_ = next;
  }
}

void CUploadRun::SetStatusText(const std::string& text) {
  state_.SetStatusText(text);
  prompts_.StatusChanged();
}

void CUploadRun::OnUploadProgress(int sent, int total) {
  state_.progressValue = sent;
  state_.progressTotal = total;
  // The body is out; what is left is the server's answer.
  if (sent == total) SetStatusText(kStatusWaiting);
}

void CUploadRun::OnResponseProgress(int received, int available) {
  state_.progressValue = received;
  state_.progressTotal = available;
}

void CUploadRun::OnLogInDone(int result) {
  if (result != ResultOk) {
    Fail(result == ResultBadLogin ? kTextBadLogin : kTextUnknown);
    return;
  }
  state_.progressValue = 0;
  state_.progressTotal = 100;
  if (ReadAskFolder(profile_)) {
    SetStatusText(kStatusLoadingAlbums);
    client_.DirList();
  } else {
    state_.albumId = 0;  // the public inbox
    UploadNext();
  }
}

void CUploadRun::OnDirListDone(const RunAlbumList* albums, int result) {
  if (result != ResultOk || !albums) {
    Fail(result == ResultNoAlbums ? kTextNoAlbums : kTextUnknown);
    return;
  }
  state_.progressValue = 0;
  state_.progressTotal = 100;

  std::unique_ptr<IAlbumPrompt> albumPrompt = prompts_.CreateAlbumPrompt();
  for (const auto& album : *albums)
    albumPrompt->AddAlbum(std::atoi(album.first.c_str()), album.second);

  for (;;) {
    const int choice = albumPrompt->DoModal();
    if (EndIfClosing()) return;
    if (choice == RunModalOk) {
      state_.albumId = albumPrompt->GetSelectedAlbumId();
      UploadNext();
      return;
    }
    if (choice == RunModalCancel) {
      prompts_.PostCancel();
      return;
    }
    // "New album", or OK on an empty list: ask for the name. A cancelled or
    // empty name returns to the album choice.
    std::string name;
    const int answer = prompts_.AskAlbumName(name);
    if (EndIfClosing()) return;
    if (answer == RunModalOk && !name.empty()) {
      SetStatusText(kStatusCreatingAlbum);
      client_.CreateDir(name);
      return;
    }
  }
}

void CUploadRun::OnCreateDirDone(int albumId, int result) {
  if (result != ResultOk) {
    Fail(result == ResultAlbumNotCreated ? kTextAlbumNotCreated : kTextUnknown);
    return;
  }
  state_.albumId = albumId;
  UploadNext();
}

void CUploadRun::OnUploadDone(int result) {
  if (result == ResultOk) {
    items_.RemoveAt(state_.index);
    ++state_.successCount;
    UploadNext();
    return;
  }
  if (result == ResultTooBig) {
    // Only this file is skipped; it stays in the list.
    prompts_.ShowMessage("'" + items_.GetName(state_.index) + "' is too big for upload.",
                         RunMessageStop);
    if (EndIfClosing()) return;
    UploadNext();
    return;
  }
  Fail(result == ResultNoSpace ? kTextNoSpace : kTextUnknown);
}

void CUploadRun::OnAborted() {
  prompts_.PostCancel();
}

void CUploadRun::OnUploadDoneAfterEnd(int result) {
  if (result != ResultOk || state_.index < 0 || state_.index >= items_.Count()) return;
  items_.RemoveAt(state_.index);
  ++state_.successCount;
}

bool CUploadRun::EndIfClosing() {
  if (!prompts_.IsClosing()) return false;
  prompts_.PostCancel();
  return true;
}

void CUploadRun::Fail(const char* text) {
  prompts_.ShowMessage(text, RunMessageStop);
  prompts_.PostCancel();
}
