#include "core/run/transfer_run.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "core/media/upload_list.h"
#include "core/ports/clock.h"
#include "core/ports/file_port.h"
#include "core/ports/picture_work.h"
#include "core/ports/platform.h"
#include "core/service/album_list.h"

// The service client as the run sees it. Each command marks a request in
// flight first, since its final report may come back before the call returns.
class CTransferRun::CClientPort : public IRunClient {
 public:
  explicit CClientPort(CTransferRun& run) : run_(run) {}
  void LogIn(const std::string& url, const std::string& username, const std::string& password,
             const std::string& language, const std::string& version) override {
    run_.BeginRequest();
    run_.client_->LogIn(url, username, password, language, version);
  }
  void DirList() override {
    run_.BeginRequest();
    run_.client_->DirList();
  }
  void CreateDir(const std::string& name) override {
    run_.BeginRequest();
    run_.client_->CreateDir(name);
  }
  void Upload(unsigned int albumId, const std::string& filename, const std::string& keyword,
              const std::string& desc, const std::string& mimeType,
              const std::string& path) override {
    run_.BeginRequest();
    // The worker reports this body's bytes from now on.
    run_.bodySent_ = 0;
    run_.bodyTotal_ = 0;
    run_.bodyIndex_ = run_.state_.index;
    run_.client_->Upload(albumId, filename, keyword, desc, mimeType, path);
  }
  void Abort() override { run_.client_->Abort(); }

 private:
  CTransferRun& run_;
};

// The run's files as they were when the run started. Index i is the run's
// file i, wherever the list holds it now: files that arrive during the run
// are appended to the list and never become part of it.
class CTransferRun::CItemsPort : public IRunItems {
 public:
  explicit CItemsPort(CTransferRun& run) : run_(run) {}
  int Count() const override { return run_.ItemCount(); }
  std::string GetName(int i) const override { return At(i).GetName(); }
  std::string GetKeywords(int i) const override { return At(i).GetKeywords(); }
  std::string GetDescription(int i) const override { return At(i).GetDescription(); }
  bool IsVideo(int i) const override { return At(i).IsVideo(); }
  bool IsAudio(int i) const override { return At(i).IsAudio(); }
  int GetWidth(int i) const override { return At(i).GetWidth(); }
  int GetHeight(int i) const override { return At(i).GetHeight(); }
  std::string GetPath(int i) const override { return At(i).GetPath(); }
  std::string GetMimeType(int i) const override { return At(i).GetMimeType(); }
  // A copy made ahead is the one the item would have made now: same file,
  // same box. The item takes it here, on the window thread.
  bool Resize(int i, int cx, int cy) override {
    CMediaItem& item = At(i);
    bool made = false;
    quib::PictureCopy copy;
    if (run_.shrinks_ && !item.IsVideo() && !item.IsAudio() &&
        run_.shrinks_->Take(Job(i, std::max(cx, cy)), ShrinkWaitMs, made, copy)) {
      if (made) item.TakeShrunkCopy(copy);
      return made;
    }
    return item.Resize(cx, cy);
  }
  bool ShrinkAhead(int i, int box) override {
    return run_.shrinks_ && run_.shrinks_->Push(Job(i, box));
  }
  void RemoveAt(int i) override {
    CMediaItem*& item = run_.items_.at(static_cast<size_t>(i));
    if (run_.list_) {
      const int position = run_.list_->IndexOf(item);
      if (position >= 0) run_.list_->RemoveAt(position);
    }
    item = nullptr;
  }

 private:
  CMediaItem& At(int i) const { return *run_.items_.at(static_cast<size_t>(i)); }
  quib::ShrinkJob Job(int i, int box) const {
    const CMediaItem& item = At(i);
    quib::ShrinkJob job;
    job.index = i;
    job.itemId = item.GetId();
    job.path = item.GetPath();
    job.box = box;
    return job;
  }
  CTransferRun& run_;
};

// The window's prompts; the run notes when it posted its OK.
class CTransferRun::CPromptsTap : public IRunPrompts {
 public:
  explicit CPromptsTap(CTransferRun& run) : run_(run), inner_(run.prompts_) {}
  int AskLogin(std::string& username, std::string& password) override {
    return inner_.AskLogin(username, password);
  }
  std::unique_ptr<IAlbumPrompt> CreateAlbumPrompt() override { return inner_.CreateAlbumPrompt(); }
  int AskAlbumName(std::string& name) override { return inner_.AskAlbumName(name); }
  int AskResize() override { return inner_.AskResize(); }
  void ShowMessage(const std::string& text, unsigned type) override {
    inner_.ShowMessage(text, type);
  }
  bool IsClosing() override { return inner_.IsClosing(); }
  void StatusChanged() override { inner_.StatusChanged(); }
  // The run has ended: nothing made ahead is sent any more, and none of it
  // may outlast the window.
  void PostOk() override {
    run_.StopShrinkingAhead();
    run_.finished_ = true;
    inner_.PostOk();
  }
  void PostCancel() override {
    run_.StopShrinkingAhead();
    inner_.PostCancel();
  }

 private:
  CTransferRun& run_;
  IRunPrompts& inner_;
};

CTransferRun::CTransferRun(IRunPrompts& prompts, IProfile& profile)
    : prompts_(prompts), profile_(profile) {}

CTransferRun::~CTransferRun() {
  // Finish has already let go of the last request; this covers a run
  // destroyed while it is still unwinding.
  Finish();
}

void CTransferRun::TakeItems(CUploadList& list) {
  list_ = &list;
  items_.clear();
  for (const auto& item : list.GetItems()) items_.push_back(item.get());
}

const CMediaItem* CTransferRun::Item(int index) const {
  if (index < 0 || index >= ItemCount()) return nullptr;
  return items_[static_cast<size_t>(index)];
}

std::vector<CMediaItem*> CTransferRun::ItemsLeft() const {
  std::vector<CMediaItem*> left;
  for (CMediaItem* item : items_) {
    if (item) left.push_back(item);
  }
  return left;
}

int CTransferRun::Start(std::unique_ptr<CHttpUpload> transport) {
  finished_ = false;
  abortedAt_ = 0;
  bodyIndex_ = -1;
  {
    std::lock_guard<std::mutex> lock(eventLock_);
    queue_ = quib::MakeWindowQueue();
  }
  client_ = std::make_unique<CServiceClient>(this, std::move(transport));
  clientPort_ = std::make_unique<CClientPort>(*this);
  itemsPort_ = std::make_unique<CItemsPort>(*this);
  promptsTap_ = std::make_unique<CPromptsTap>(*this);
  // The workers make copies through the picture work and touch no item.
  const int workers = quib::CShrinkAhead::WorkersFor(std::thread::hardware_concurrency());
  shrinks_ = std::make_unique<quib::CShrinkAhead>(
      workers, 2 * workers,
      [](const std::string& path, int box, quib::PictureCopy& copy) {
        return quib::Pictures().Shrink(path, box, copy);
      },
      [](const std::string& path) { quib::Files().Remove(path); });
  run_ = std::make_unique<CUploadRun>(state_, *clientPort_, *itemsPort_, *promptsTap_, profile_);
  // Without credentials the run ends here: no request.
  return run_->StartLogIn();
}

bool CTransferRun::IsRequestInFlight() const {
  std::lock_guard<std::mutex> lock(eventLock_);
  return requestInFlight_;
}

void CTransferRun::BeginRequest() {
  std::lock_guard<std::mutex> lock(eventLock_);
  requestInFlight_ = true;
}

bool CTransferRun::Cancel() {
  if (!client_ || !IsRequestInFlight()) return false;
  // Also unblocks a request that waits on a stalled server.
  client_->Abort();
  if (!abortedAt_) abortedAt_ = quib::NowMs();
  // Nothing more is sent: the copies ahead go before the window does.
  StopShrinkingAhead();
  return true;
}

void CTransferRun::StopShrinkingAhead() {
  // Copies made ahead that no file will take are deleted; those still being
  // made are awaited, or deleted by their workers when they come.
  if (shrinks_) shrinks_->Stop(ShrinkStopMs);
}

void CTransferRun::Finish() {
  if (Cancel()) {
    // What is left of the grace period that began with the first cancel.
    const uint64_t waited = quib::NowMs() - abortedAt_;
    if (waited < AbortGraceMs) {
      std::unique_lock<std::mutex> lock(eventLock_);
      requestEnded_.wait_for(lock, std::chrono::milliseconds(AbortGraceMs - waited),
                             [this] { return !requestInFlight_; });
    }
  }
  StopShrinkingAhead();
  shrinks_.reset();
  // A request still running now is abandoned by its transport, which
  // reports nothing more; one that ended has queued its report.
  client_.reset();
  std::unique_ptr<quib::IWindowQueue> queue;
  {
    std::lock_guard<std::mutex> lock(eventLock_);
    queue.swap(queue_);
  }
  queue.reset();
  std::deque<CRunEvent> late;
  {
    std::lock_guard<std::mutex> lock(eventLock_);
    late.swap(events_);
    requestInFlight_ = false;
  }
  if (run_) {
    for (const CRunEvent& event : late) {
      if (event.kind == CRunEvent::UploadDone) run_->OnUploadDoneAfterEnd(event.result);
    }
  }
  run_.reset();
  list_ = nullptr;
}

// Progress changes only display values, so it is taken on the worker.
void CTransferRun::OnUploadProgress(int sent, int total) {
  bodySent_ = sent;
  bodyTotal_ = total;
  if (run_) {
    run_->OnUploadProgress(sent, total);
  } else {
    state_.progressValue = sent;
    state_.progressTotal = total;
  }
}

void CTransferRun::OnResponseProgress(int received, int available) {
  state_.progressValue = received;
  state_.progressTotal = available;
}

void CTransferRun::OnLogInDone(int result) {
  CRunEvent event;
  event.kind = CRunEvent::LogInDone;
  event.result = result;
  QueueEvent(std::move(event));
}

void CTransferRun::OnDirListDone(CAlbumList* list, int result) {
  CRunEvent event;
  event.kind = CRunEvent::DirListDone;
  event.result = result;
  if (list) {
    // Copied here: the list is ours to delete, and this thread is about to end.
    event.hasAlbums = true;
    std::string id;
    std::string name;
    for (int i = 0; list->GetAt(i, id, name); ++i) event.albums.emplace_back(id, name);
    delete list;
  }
  QueueEvent(std::move(event));
}

void CTransferRun::OnCreateDirDone(int albumId, int result) {
  CRunEvent event;
  event.kind = CRunEvent::CreateDirDone;
  event.albumId = albumId;
  event.result = result;
  QueueEvent(std::move(event));
}

void CTransferRun::OnUploadDone(int result) {
  CRunEvent event;
  event.kind = CRunEvent::UploadDone;
  event.result = result;
  QueueEvent(std::move(event));
}

void CTransferRun::OnAborted() {
  CRunEvent event;
  event.kind = CRunEvent::Aborted;
  QueueEvent(std::move(event));
}

void CTransferRun::QueueEvent(CRunEvent event) {
  std::lock_guard<std::mutex> lock(eventLock_);
  events_.push_back(std::move(event));
  requestInFlight_ = false;
  requestEnded_.notify_all();
  // One turn of the window's loop per report; the queue runs nothing after
  // Finish has let it go.
  if (queue_) queue_->Post([this] { OnRunEvent(); });
}

void CTransferRun::OnRunEvent() {
  CRunEvent event;
  {
    std::lock_guard<std::mutex> lock(eventLock_);
    if (events_.empty()) return;
    event = std::move(events_.front());
    events_.pop_front();
  }
  if (!run_) return;
  switch (event.kind) {
    case CRunEvent::LogInDone:
      run_->OnLogInDone(event.result);
      break;
    case CRunEvent::DirListDone:
      run_->OnDirListDone(event.hasAlbums ? &event.albums : nullptr, event.result);
      break;
    case CRunEvent::CreateDirDone:
      run_->OnCreateDirDone(event.albumId, event.result);
      break;
    case CRunEvent::UploadDone:
      run_->OnUploadDone(event.result);
      break;
    case CRunEvent::Aborted:
      run_->OnAborted();
      break;
  }
}
