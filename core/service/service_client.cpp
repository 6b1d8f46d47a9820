#include "core/service/service_client.h"

#include <cstdio>

const char ServiceCommandLogIn[] = "LogIn";
const char ServiceCommandDirList[] = "DirList";
const char ServiceCommandCreateDir[] = "CreateDir";
const char ServiceCommandUpload[] = "Upload";
const char ServiceLanguage[] = "DE";
const char ServiceVersion[] = "1.0";

CServiceClient::CServiceClient(IServiceListener* listener)
    : CServiceClient(listener, std::make_unique<CHttpUpload>()) {}

CServiceClient::CServiceClient(IServiceListener* listener, std::unique_ptr<CHttpUpload> transport)
    : transport_(std::move(transport)), listener_(listener) {
  transport_->AddListener(this);
}

CServiceClient::~CServiceClient() {
  transport_->Close();
  transport_.reset();
}

void CServiceClient::LogIn(const std::string& url, const std::string& username,
                           const std::string& password, const std::string& language,
                           const std::string& version) {
  transport_->AddField("Username", username.c_str());
  transport_->AddField("Password", password.c_str());
  transport_->AddField("Language", language.c_str());
  transport_->AddField("Version", version.c_str());
  transport_->Start(url, ServiceCommandLogIn);
}

void CServiceClient::DirList() {
  transport_->Start(quib::MakeCommandUrl(response_, "DirListURL"), ServiceCommandDirList);
}

void CServiceClient::CreateDir(const std::string& name) {
  transport_->AddField("DirName", name.c_str());
  transport_->Start(quib::MakeCommandUrl(response_, "CreateDirURL"), ServiceCommandCreateDir);
}

void CServiceClient::Upload(unsigned int albumId, const std::string& filename,
                            const std::string& keyword, const std::string& desc,
                            const std::string& mimeType, const std::string& path) {
  char dirId[16];
  std::snprintf(dirId, sizeof dirId, "%u", albumId);
  transport_->AddField("DirId", dirId);
  transport_->AddField("Filename", filename.c_str());
  transport_->AddField("Keyword", keyword.c_str());
  transport_->AddField("Desc", desc.c_str());
  transport_->AddField("MimeType", mimeType.c_str());
  transport_->AddFile("ImageData", path.c_str());
  transport_->Start(quib::MakeCommandUrl(response_, "UploadURL"), ServiceCommandUpload);
}

void CServiceClient::Abort() {
  transport_->Cancel();
}

void CServiceClient::OnHttpEvent(const HttpEvent& event) {
  // A cancellation ends any command the same way, whatever its name.
  if (event.type == HttpEventCancelled) {
    listener_->OnAborted();
    return;
  }
  const std::string& command = event.command;
  if (command != ServiceCommandLogIn && command != ServiceCommandDirList &&
      command != ServiceCommandCreateDir && command != ServiceCommandUpload)
    return;
  switch (event.type) {
    case HttpEventError:
      // The transport's text is not for the user.
      if (command == ServiceCommandLogIn)
        listener_->OnLogInDone(ResultFailed);
      else if (command == ServiceCommandDirList)
        listener_->OnDirListDone(nullptr, ResultFailed);
      else if (command == ServiceCommandCreateDir)
        listener_->OnCreateDirDone(0, ResultFailed);
      else
        listener_->OnUploadDone(ResultFailed);
      break;
    case HttpEventSent:
      if (command == ServiceCommandUpload) listener_->OnUploadProgress(event.value1, event.value2);
      break;
    case HttpEventReceived:
      if (command == ServiceCommandUpload)
        listener_->OnResponseProgress(event.value1, event.value2);
      break;
    case HttpEventDone:
      OnDone(command, event.text);
      break;
    default:
      break;
  }
}

// Reads the answer of a finished command; the listener call is the last
// thing done, since the listener may delete this client inside it.
void CServiceClient::OnDone(const std::string& command, const std::string& text) {
  const char status = quib::ResponseStatus(text);
  if (command == ServiceCommandLogIn) {
    int result = ResultFailed;
    if (status == '0') {
      quib::ReadLogInResponse(text, response_);
      result = ResultOk;
    } else if (status == '2') {
      result = ResultBadLogin;
    }
    listener_->OnLogInDone(result);
  } else if (command == ServiceCommandDirList) {
    if (status != '0') {
      listener_->OnDirListDone(nullptr, status == '2' ? ResultNoAlbums : ResultFailed);
      return;
    }
    std::unique_ptr<CAlbumList> list(new CAlbumList);
    for (const auto& album : quib::ReadDirListAlbums(text)) list->Add(album.first, album.second);
    listener_->OnDirListDone(list.release(), ResultOk);
  } else if (command == ServiceCommandCreateDir) {
    int albumId = 0;
    int result = ResultFailed;
    if (status == '0') {
      int id = 0;
      if (quib::ReadCreateDirId(text, id)) {
        albumId = id;
        result = ResultOk;
      }
    } else if (status == '2') {
      result = ResultAlbumNotCreated;
    }
    listener_->OnCreateDirDone(albumId, result);
  } else {
    int result = ResultFailed;
    if (status == '0')
      result = ResultOk;
    else if (status == '2')
      result = ResultNoSpace;
    else if (status == '3')
      result = ResultTooBig;
    listener_->OnUploadDone(result);
  }
}
