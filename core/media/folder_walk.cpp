#include "core/media/folder_walk.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <system_error>

#include "core/ports/platform.h"
#include "core/ports/threads.h"
#include "core/text/natural_order.h"

namespace quib {
namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// Whether names with this ending are pictures, movies or audio files, asked
// of the system once per ending: a camera folder holds thousands of the
// same two or three.
class CTypeCache {
 public:
  explicit CTypeCache(IMediaTypeQuery& types) : types_(types) {}
  bool IsMedia(const FolderEntry& entry) {
    const size_t dot = entry.name.rfind('.');
    // Kept apart from every real ending, which has no separator in it.
    const std::string ending = dot == std::string::npos ? "/" : entry.name.substr(dot);
    auto known = known_.find(ending);
    if (known != known_.end()) return known->second;
    std::string type;
    const bool media = types_.QueryByName(entry.path, type) && IsMediaTypePrefix(type);
    known_.emplace(ending, media);
    return media;
  }

 private:
  IMediaTypeQuery& types_;
  std::map<std::string, bool> known_;
};

bool ByName(const FolderEntry& a, const FolderEntry& b) {
  return NaturalLess(a.name, b.name);
}

}  // namespace

std::vector<std::string> FindMediaFiles(const std::string& folder, IFolderLister& lister,
                                        IMediaTypeQuery& types, const std::atomic<bool>& cancel) {
  std::vector<std::string> found;
  CTypeCache cache(types);
  // Folders still to walk, the next one last: depth first, in name order.
  std::vector<std::string> pending{folder};
  std::vector<FolderEntry> entries;
  while (!pending.empty() && !cancel) {
    const std::string current = std::move(pending.back());
    pending.pop_back();
    entries.clear();
    if (!lister.List(current, entries)) continue;  // unreadable: its files are not there
    std::vector<FolderEntry> files, folders;
    for (FolderEntry& entry : entries) {
      if (entry.hidden || entry.system || entry.link) continue;
      (entry.folder ? folders : files).push_back(std::move(entry));
    }
    std::sort(files.begin(), files.end(), ByName);
    std::sort(folders.begin(), folders.end(), ByName);
    for (const FolderEntry& file : files) {
      if (cancel) break;
      if (cache.IsMedia(file)) found.push_back(file.path);
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) pending.push_back(it->path);
  }
  return found;
}

std::string FolderDisplayName(const std::string& folder) {
  size_t end = folder.size();
  while (end > 0 && IsSeparator(folder[end - 1])) --end;
  size_t begin = end;
  while (begin > 0 && !IsSeparator(folder[begin - 1])) --begin;
  return folder.substr(begin, end - begin);
}

std::shared_ptr<CFolderWalk> CFolderWalk::Start(const std::string& folder, Ended ended) {
  auto walk = std::make_shared<CFolderWalk>(folder);
  // The ports are taken here, on the window thread, where they are
  // installed.
  IFolderLister& lister = Folders();
  IMediaTypeQuery& types = MediaTypes();
  auto run = [walk, ended, &lister, &types] {
    walk->Run(lister, types);
    ended(walk);
  };
  try {
    StartDetachedThread(run);
  } catch (const std::system_error&) {
    run();
  }
  return walk;
}

void CFolderWalk::Run(IFolderLister& lister, IMediaTypeQuery& types) {
  std::vector<std::string> files;
  try {
    files = FindMediaFiles(folder_, lister, types, cancel_);
  } catch (...) {
    // Out of memory: the folder adds nothing, and the walk still ends.
    files.clear();
  }
  std::lock_guard<std::mutex> guard(lock_);
  files_ = std::move(files);
  ended_ = true;
  changed_.notify_all();
}

bool CFolderWalk::WaitEnded(int timeoutMs) {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return ended_; });
}

std::vector<std::string> CFolderWalk::TakeFiles() {
  std::lock_guard<std::mutex> guard(lock_);
  return std::move(files_);
}

}  // namespace quib
