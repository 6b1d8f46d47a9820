// The pictures, movies and audio files inside a folder the user handed over
// and its subfolders, found on a worker thread so that the window goes on
// answering while a large folder (a camera card, a phone's export) is read.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/ports/folder_lister.h"
#include "core/protocol/media_type.h"

namespace quib {

// The media files below folder, folder by folder: the folder's own files in
// natural order (see natural_order.h), then each of its subfolders, in
// natural order, walked the same way. Skipped without a word: hidden and
// system files and folders, links and junctions (never followed, so the
// walk stays inside the folder and ends), and files whose name the system
// does not register as a picture, movie or audio type. Once cancel is set
// it returns soon with what it found so far.
std::vector<std::string> FindMediaFiles(const std::string& folder, IFolderLister& lister,
                                        IMediaTypeQuery& types, const std::atomic<bool>& cancel);

// The name a folder is shown by: its last component ("D:" for a drive).
std::string FolderDisplayName(const std::string& folder);

// One folder walked on a thread of the platform's. Shared by its owner and
// the worker, so either may go first.
class CFolderWalk {
 public:
  explicit CFolderWalk(std::string folder) : folder_(std::move(folder)) {}

  // Walks over the installed ports; ended runs on the worker, with this
  // walk, once the files are there (or the walk was cancelled). Without a
  // thread the walk runs on the caller's.
  using Ended = std::function<void(std::shared_ptr<CFolderWalk>)>;
  static std::shared_ptr<CFolderWalk> Start(const std::string& folder, Ended ended);

  const std::string& Folder() const { return folder_; }
  // The walk stops at its next entry.
  void Cancel() { cancel_ = true; }
  bool Cancelled() const { return cancel_; }
  // Waits up to timeoutMs for the worker to let go of the ports; true when
  // it has.
  bool WaitEnded(int timeoutMs);
  // The files found, once ended has run.
  std::vector<std::string> TakeFiles();

 private:
  void Run(IFolderLister& lister, IMediaTypeQuery& types);

  const std::string folder_;
  std::atomic<bool> cancel_{false};
  std::mutex lock_;
  std::condition_variable changed_;
  bool ended_ = false;
  std::vector<std::string> files_;
};

}  // namespace quib
