// The upload list: the ordered items the user collected, their thumbnails
// (made on a few worker threads while the window goes on answering), the
// batches files arrive in, and the reports about them. Index i is entry i
// of the list's window, which hears of every change through IUploadListView
// and shows what this object holds. Used on the window thread only; finished
// thumbnails reach it through the platform's window queue.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/media/batch_tracker.h"
#include "core/media/media_item.h"
#include "core/ports/window_queue.h"

namespace quib {
class CFolderWalk;
class CThumbnailScheduler;
}  // namespace quib

// What the list's window is told, on the window thread.
class IUploadListView {
 public:
  virtual ~IUploadListView() = default;
  // Item index was appended.
  virtual void OnItemAdded(int index) = 0;
  // Item index (whose id is given) has gone; the items after it moved up.
  virtual void OnItemRemoved(int index, uint64_t id) = 0;
  // Several items have gone at once (their ids): show the rest anew.
  virtual void OnItemsRemoved(const std::vector<uint64_t>& ids) = 0;
  // Item index's thumbnail changed (made, or turned).
  virtual void OnItemChanged(int index) = 0;
  // A message to show now (stop icon).
  virtual void OnReport(const std::string& text) = 0;
  // A folder handed over (shown by its name) holds count pictures, movies
  // and audio files, more than are added without asking: true to add them
  // all.
  virtual bool ConfirmFolder(const std::string& name, int count) = 0;
};

class CUploadList {
 public:
  using Items = std::vector<std::unique_ptr<CMediaItem>>;

  CUploadList();
  ~CUploadList();
  CUploadList(const CUploadList&) = delete;
  CUploadList& operator=(const CUploadList&) = delete;

  void SetView(IUploadListView* view) { view_ = view; }
  // From now on pictures are added at once with their thumbnail pending,
  // made on the workers; each lands on its item when ready. Off: AddFile
  // makes it before returning. Needs the platform's window queue.
  void MakeThumbnailsInBackground(bool on) { background_ = on; }
  // The DPI the window shows thumbnails at (96 until told). Pictures get
  // thumbnails for it; those made for another DPI are made again, from the
  // picture so that they are sharp: on the workers when they are in use
  // (meanwhile the window shows the old one scaled), else at once.
  void SetThumbnailDpi(int dpi);
  int GetThumbnailDpi() const { return dpi_; }

  // Accepts pictures, movies and audio files that exist and can be read now;
  // anything else is ignored silently. Files added before control returns
  // to the message loop form one batch.
  bool AddFile(const std::string& path);
  // The files and folders of one hand-over (a command line, a second start,
  // a file dialog selection, a drop), in order. Files are added as AddFile
  // adds them. A folder adds the pictures, movies and audio files inside it
  // and its subfolders (see folder_walk.h), found on a worker thread; when
  // there are more than 1,000 the view is asked first. Files are added a
  // share per turn of the message loop, so a hand-over may still be adding
  // when this returns; the next one waits for it, and each keeps its order.
  // Files handed over by name that the list refuses are told once for the
  // hand-over, together with its unreadable pictures.
  void AddPaths(const std::vector<std::string>& paths);
  // Hand-overs not completely added yet.
  size_t PendingHandOvers() const { return handOvers_.size(); }
  // Ends the folder walks and drops what was not added yet (the window is
  // closing): waits briefly for a walk to let go of the disk.
  void StopFolders();
  const Items& GetItems() const { return items_; }
  int Count() const { return static_cast<int>(items_.size()); }
  // Where the list holds item now; -1 when it does not.
  int IndexOf(const CMediaItem* item) const;
  // Removes and destroys item index with its thumbnail and temporary copy.
  // False for an index outside the list.
  bool RemoveAt(int index);
  // Removes the items at these indices (any order).
  void RemoveIndices(const std::vector<int>& indices);
  void RemoveAll();
  // Turns the pictures at these indices; movies and audio files are left
  // alone. Returns how many pictures could not be turned (they stay as they
  // were).
  int Rotate(const std::vector<int>& indices);

  // Thumbnails still being made.
  size_t PendingThumbnails() const { return pending_.size(); }
  // Puts every finished thumbnail on its item until none is pending (nor
  // being made again for another DPI) or timeoutMs has passed, without a
  // message loop; true when none is pending. For tests and for closing a
  // batch deliberately.
  bool FinishThumbnails(int timeoutMs);
  // Drops the thumbnails not started yet and waits briefly for the running
  // ones (the window is closing).
  void StopThumbnails();
  // Puts finished thumbnails on their items, at most max of them, then
  // reports finished batches; true when more are waiting.
  bool TakeThumbnails(size_t max);

  // A message about the list: shown at once, or kept while reports are held.
  void Report(const std::string& text);
  // While an upload run is open the main window is disabled under the run's
  // window: a message box owned by it would let the run's end enable it
  // again while the box is still open. Reports made meanwhile wait and are
  // shown once the hold ends (from the message loop).
  void HoldReports(bool hold);

 private:
  // One hand-over's paths not taken yet, and the batch it reports in.
  struct CHandOver {
    uint64_t batch = 0;
    std::deque<std::string> paths;
  };

  // AddFile into a batch; 0: the batch of this turn of the loop.
  bool AddToBatch(const std::string& path, uint64_t batch);
  // Goes on with the first hand-over: asks about a large folder, adds this
  // turn's share of files, starts a folder's walk; posts the next turn.
  void ContinueHandOvers();
  void PostNextTurn();
  void StartWalk(const std::string& folder);
  void OnWalkEnded(const std::shared_ptr<quib::CFolderWalk>& walk);
  // The hand-over is all added: its report comes from the loop.
  void CloseBatchLater(uint64_t batch);
  // A pending thumbnail is done or no longer wanted (its item left).
  void FinishPending(uint64_t id, bool unreadable, const std::string& path);
  void ForgetPending(const CMediaItem& item);
  // A batch may be complete now: told once the caller is done.
  void ReportLater();
  // One message per finished batch that had unreadable pictures, and the
  // reports held meanwhile.
  void ShowReports();
  void OnThumbnailsReady();
  bool EnsureQueue();
  bool EnsureScheduler();
  // Item index gets a thumbnail for the list's DPI when its own was made
  // for another.
  void RemakeThumbnail(int index);

  IUploadListView* view_ = nullptr;
  Items items_;
  bool background_ = false;
  int dpi_ = 96;
  std::unique_ptr<quib::IWindowQueue> queue_;
  std::unique_ptr<quib::CThumbnailScheduler> thumbs_;
  CBatchTracker batches_;
  uint64_t openBatch_ = 0;                          // the batch files are being added to, 0: none
  std::unordered_map<uint64_t, uint64_t> pending_;  // item id -> its batch
  bool reporting_ = false;
  bool holdReports_ = false;
  std::vector<std::string> heldReports_;
  std::deque<CHandOver> handOvers_;          // the first one is being added
  std::shared_ptr<quib::CFolderWalk> walk_;  // its folder being walked
  std::vector<std::string> found_;           // a walked folder's files, added from nextFound_
  size_t nextFound_ = 0;
  std::string askFolder_;  // the walked folder's name, while its question waits
  bool askPending_ = false;
  bool continuing_ = false;  // ContinueHandOvers is on the stack
  bool turnPosted_ = false;
};
