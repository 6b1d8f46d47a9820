#include "core/media/upload_list.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

#include "core/media/folder_walk.h"
#include "core/media/thumbnail_scheduler.h"
#include "core/ports/clock.h"
#include "core/ports/file_port.h"
#include "core/ports/picture_work.h"
#include "core/ports/platform.h"
#include "core/protocol/media_type.h"
#include "core/text/command_line.h"

namespace {

// Thumbnails put on items per turn of the message loop, so that input
// keeps its turn.
constexpr size_t ThumbnailsPerTurn = 16;
// How long closing waits for a thumbnail that is being decoded, or for a
// folder walk inside one folder's listing.
constexpr int StopWaitMs = 3000;
// Files of a hand-over added per turn of the message loop: each costs a
// few calls to the file system and one list entry, so a turn stays short.
constexpr size_t FilesPerTurn = 40;
// A folder with more media files than this asks before they are added.
constexpr size_t FolderAskAbove = 1000;

bool IsAcceptedType(const std::string& type) {
  return type.compare(0, 6, "image/") == 0 || type.compare(0, 6, "video/") == 0 ||
         type.compare(0, 6, "audio/") == 0;
}

}  // namespace

CUploadList::CUploadList() = default;

CUploadList::~CUploadList() {
  StopFolders();
  StopThumbnails();
  // Nothing posted for this list runs after it.
  queue_.reset();
}

bool CUploadList::EnsureQueue() {
  if (!queue_) queue_ = quib::MakeWindowQueue();
  return queue_ != nullptr;
}

bool CUploadList::EnsureScheduler() {
  if (thumbs_) return true;
  if (!EnsureQueue()) return false;
  // A worker may still finish after this list is gone: it reaches the
  // window thread only through a poster that is then inert.
  quib::IWindowQueue::Poster post = queue_->MakePoster();
  thumbs_ = std::make_unique<quib::CThumbnailScheduler>(
      quib::CThumbnailScheduler::WorkersFor(std::thread::hardware_concurrency()),
      [](const quib::ThumbnailJob& job, quib::ThumbnailResult& result) {
        quib::Pictures().MakeThumbnail(job, result);
      },
      [post, this] { post([this] { OnThumbnailsReady(); }); });
  return true;
}

void CUploadList::SetThumbnailDpi(int dpi) {
  if (dpi <= 0 || dpi == dpi_) return;
  dpi_ = dpi;
  for (int i = 0; i < Count(); ++i) RemakeThumbnail(i);
}

void CUploadList::RemakeThumbnail(int index) {
  CMediaItem& item = *items_[static_cast<size_t>(index)];
  // A first thumbnail still on its way is looked at when it lands.
  if (item.IsVideo() || item.IsAudio() || !item.IsThumbnailReady() ||
      item.GetThumbnailData().dpi == dpi_) {
    return;
  }
  if (background_ && EnsureScheduler()) {
    thumbs_->Cancel(item.GetId());  // one for a DPI left meanwhile
    thumbs_->Push(item.GetThumbnailJob(dpi_));
    return;
  }
  item.MakeThumbnailNow(dpi_);
  if (view_) view_->OnItemChanged(index);
}

bool CUploadList::AddFile(const std::string& path) {
  return AddToBatch(path, 0);
}

bool CUploadList::AddToBatch(const std::string& path, uint64_t batch) {
  // The type is told by the name first: a missing or locked "x.jpg" would
  // pass and upload nothing.
  if (!quib::Files().CanRead(path)) return false;
  const std::string type = DetectMediaType(path);
  if (!IsAcceptedType(type)) return false;
  const bool later = background_ && type.compare(0, 6, "image/") == 0 && EnsureScheduler();
  items_.push_back(std::make_unique<CMediaItem>(path, type, CMediaItem::DeferThumbnail()));
  if (!later) {
    items_.back()->MakeThumbnailNow(dpi_);
    if (view_) view_->OnItemAdded(Count() - 1);
    return true;
  }
  const CMediaItem& item = *items_.back();
  if (!batch && !openBatch_) {
    // Runs once the code adding files has returned to the message loop.
    openBatch_ = batches_.Open();
    queue_->Post([this, batch = openBatch_] {
      batches_.Close(batch);
      if (openBatch_ == batch) openBatch_ = 0;
      ShowReports();
    });
  }
  if (!batch) batch = openBatch_;
  batches_.AddJob(batch);
  pending_[item.GetId()] = batch;
  thumbs_->Push(item.GetThumbnailJob(dpi_));
  if (view_) view_->OnItemAdded(Count() - 1);
  return true;
}

void CUploadList::AddPaths(const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  CHandOver handOver;
  handOver.batch = batches_.Open();
  handOver.paths.assign(paths.begin(), paths.end());
  handOvers_.push_back(std::move(handOver));
  // A hand-over still being added goes on in its own turns; this one waits.
  if (handOvers_.size() == 1) ContinueHandOvers();
}

void CUploadList::ContinueHandOvers() {
  // A box shown meanwhile (the question, a report) runs a message loop
  // whose turns come here too: the call on the stack goes on by itself.
  if (continuing_) return;
  continuing_ = true;
  struct CEnd {
    bool& flag;
    ~CEnd() { flag = false; }
  } end{continuing_};
  // Without a window queue there are no later turns: all at once.
  const bool turns = EnsureQueue();
  size_t share = turns ? FilesPerTurn : std::numeric_limits<size_t>::max();
  while (!handOvers_.empty()) {
    if (walk_) return;  // its end goes on
    if (askPending_) {
      // While a run is open nothing may be shown: asked after its end.
      if (holdReports_) return;
      const bool all = !view_ || view_->ConfirmFolder(askFolder_, static_cast<int>(found_.size()));
      askPending_ = false;
      if (!all) found_.clear();
      if (handOvers_.empty()) return;  // stopped while the box was open
    }
    // Inside a folder a file that is not wanted is passed over silently.
    const uint64_t batch = handOvers_.front().batch;
    for (; nextFound_ < found_.size() && share > 0; --share) {
      AddToBatch(found_[nextFound_++], batch);
    }
    if (nextFound_ < found_.size()) return PostNextTurn();
    found_.clear();
    nextFound_ = 0;
    bool walking = false;
    while (!handOvers_.front().paths.empty() && share > 0) {
      std::deque<std::string>& paths = handOvers_.front().paths;
      const std::string path = std::move(paths.front());
      paths.pop_front();
      if (quib::Paths().IsFolder(path)) {
        StartWalk(path);
        walking = true;
        break;
      }
      --share;
      if (!AddToBatch(path, batch)) batches_.Refused(batch, path);
    }
    if (walking) continue;
    if (!handOvers_.front().paths.empty()) return PostNextTurn();
    handOvers_.pop_front();
    CloseBatchLater(batch);
  }
}

void CUploadList::PostNextTurn() {
  if (turnPosted_ || !queue_) return;
  turnPosted_ = true;
  queue_->Post([this] {
    turnPosted_ = false;
    ContinueHandOvers();
  });
}

void CUploadList::StartWalk(const std::string& folder) {
  if (!queue_) {
    // No window thread to come back to: the walk runs here.
    const std::atomic<bool> never{false};
    found_ = quib::FindMediaFiles(folder, quib::Folders(), quib::MediaTypes(), never);
    nextFound_ = 0;
    askFolder_ = quib::FolderDisplayName(folder);
    askPending_ = found_.size() > FolderAskAbove;
    return;
  }
  // The walk's end reaches this list only while its queue is there.
  quib::IWindowQueue::Poster post = queue_->MakePoster();
  walk_ = quib::CFolderWalk::Start(folder, [post, this](std::shared_ptr<quib::CFolderWalk> walk) {
    post([this, walk] { OnWalkEnded(walk); });
  });
}

void CUploadList::OnWalkEnded(const std::shared_ptr<quib::CFolderWalk>& walk) {
  if (!walk || walk != walk_) return;  // stopped meanwhile
  walk_.reset();
  found_ = walk->TakeFiles();
  nextFound_ = 0;
  askFolder_ = quib::FolderDisplayName(walk->Folder());
  askPending_ = found_.size() > FolderAskAbove;
  ContinueHandOvers();
}

void CUploadList::CloseBatchLater(uint64_t batch) {
  if (!queue_) {
    batches_.Close(batch);
    ShowReports();
    return;
  }
  // Never a box inside the code that handed the files over.
  queue_->Post([this, batch] {
    batches_.Close(batch);
    ShowReports();
  });
}

void CUploadList::StopFolders() {
  if (walk_) {
    walk_->Cancel();
    walk_->WaitEnded(StopWaitMs);
    walk_.reset();
  }
  for (const CHandOver& handOver : handOvers_) batches_.Close(handOver.batch);
  handOvers_.clear();
  found_.clear();
  nextFound_ = 0;
  askPending_ = false;
}

int CUploadList::IndexOf(const CMediaItem* item) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == item) return static_cast<int>(i);
  }
  return -1;
}

bool CUploadList::TakeThumbnails(size_t max) {
  if (!thumbs_) return false;
  const std::vector<quib::ThumbnailResult> results = thumbs_->TakeResults(max);
  for (const quib::ThumbnailResult& result : results) {
    // Items are only ever appended, and ids grow: the list is in id order.
    auto found = std::lower_bound(
        items_.begin(), items_.end(), result.id,
        [](const std::unique_ptr<CMediaItem>& item, uint64_t id) { return item->GetId() < id; });
    if (found == items_.end() || (*found)->GetId() != result.id) continue;  // its item left
    CMediaItem& item = **found;
    const int index = static_cast<int>(found - items_.begin());
    if (item.TakeThumbnail(result)) {
      if (view_) view_->OnItemChanged(index);
      // Made for a DPI the window has left meanwhile.
      if (result.dpi != dpi_) RemakeThumbnail(index);
    }
    FinishPending(result.id, !result.readable, item.GetSourcePath());
  }
  return results.size() == max;
}

void CUploadList::FinishPending(uint64_t id, bool unreadable, const std::string& path) {
  auto found = pending_.find(id);
  if (found == pending_.end()) return;
  batches_.JobDone(found->second, unreadable, path);
  pending_.erase(found);
}

void CUploadList::ForgetPending(const CMediaItem& item) {
  if (pending_.find(item.GetId()) == pending_.end()) return;
  if (thumbs_) thumbs_->Cancel(item.GetId());  // else its result is ignored
  FinishPending(item.GetId(), false, std::string());
}

void CUploadList::ReportLater() {
  // Never from inside a run's removal: once the caller is done.
  if (queue_ && batches_.OpenBatches() > 0) queue_->Post([this] { OnThumbnailsReady(); });
}

void CUploadList::OnThumbnailsReady() {
  if (TakeThumbnails(ThumbnailsPerTurn) && queue_) queue_->Post([this] { OnThumbnailsReady(); });
  ShowReports();
}

void CUploadList::ShowReports() {
  // A box's own message loop may bring the next report: it waits its turn,
  // and is shown when the box before it has closed.
  if (reporting_ || holdReports_) return;
  reporting_ = true;
  for (;;) {
    for (const CBatchTracker::Report& report : batches_.TakeReports()) {
      heldReports_.push_back(CBatchTracker::Message(report));
    }
    if (heldReports_.empty() || holdReports_) break;
    const std::string text = heldReports_.front();
    heldReports_.erase(heldReports_.begin());
    if (view_) view_->OnReport(text);
  }
  reporting_ = false;
}

void CUploadList::Report(const std::string& text) {
  heldReports_.push_back(text);
  ShowReports();
}

void CUploadList::HoldReports(bool hold) {
  holdReports_ = hold;
  if (hold) return;
  // What waited is shown from the message loop, after the caller is done,
  // and a folder's question that waited is asked.
  if (EnsureQueue()) {
    queue_->Post([this] {
      ShowReports();
      ContinueHandOvers();
    });
  } else {
    ShowReports();
    ContinueHandOvers();
  }
}

bool CUploadList::FinishThumbnails(int timeoutMs) {
  const uint64_t start = quib::NowMs();
  while (!pending_.empty() || (thumbs_ && thumbs_->Outstanding() > 0)) {
    if (!TakeThumbnails(ThumbnailsPerTurn)) {
      if (quib::NowMs() - start >= static_cast<uint64_t>(timeoutMs)) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return true;
}

void CUploadList::StopThumbnails() {
  if (thumbs_) thumbs_->Stop(StopWaitMs);
  thumbs_.reset();
  pending_.clear();
}

bool CUploadList::RemoveAt(int index) {
  if (index < 0 || index >= Count()) return false;
  ForgetPending(*items_[static_cast<size_t>(index)]);
  ReportLater();
  const uint64_t id = items_[static_cast<size_t>(index)]->GetId();
  items_.erase(items_.begin() + index);
  if (view_) view_->OnItemRemoved(index, id);
  return true;
}

void CUploadList::RemoveIndices(const std::vector<int>& indices) {
  std::vector<int> sorted(indices);
  std::sort(sorted.rbegin(), sorted.rend());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  std::vector<uint64_t> ids;
  for (int i : sorted) {
    if (i < 0 || i >= Count()) continue;
    ForgetPending(*items_[static_cast<size_t>(i)]);
    ids.push_back(items_[static_cast<size_t>(i)]->GetId());
    items_.erase(items_.begin() + i);
  }
  ReportLater();
  if (view_) view_->OnItemsRemoved(ids);
}

void CUploadList::RemoveAll() {
  std::vector<uint64_t> ids;
  for (const auto& item : items_) {
    ForgetPending(*item);
    ids.push_back(item->GetId());
  }
  ReportLater();
  while (!items_.empty()) items_.pop_back();
  if (view_) view_->OnItemsRemoved(ids);
}

int CUploadList::Rotate(const std::vector<int>& indices) {
  int failed = 0;
  for (int i : indices) {
    if (i < 0 || i >= Count()) continue;
    CMediaItem& item = *items_[static_cast<size_t>(i)];
    if (!item.Rotate(dpi_)) {
      // Movies and audio files are not turned; a picture that could not be
      // is kept exactly as it was.
      if (!item.IsVideo() && !item.IsAudio()) ++failed;
      continue;
    }
    // The turned picture's thumbnail replaces the one on its way.
    ForgetPending(item);
    if (view_) view_->OnItemChanged(i);
  }
  ReportLater();
  return failed;
}
