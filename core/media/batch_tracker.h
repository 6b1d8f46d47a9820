// Files arrive in batches (one command line, one file dialog selection, one
// drop, one second start). A picture that turns out unreadable is told once
// per batch, in one message naming all of them, when the batch's last
// thumbnail is done, instead of a message box per file. Portable; used on
// the window's thread only.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CBatchTracker {
 public:
  // A new batch; files are still being added to it.
  uint64_t Open();
  // One more thumbnail of the batch is on its way.
  void AddJob(uint64_t batch);
  // No more files come to the batch.
  void Close(uint64_t batch);
  // A thumbnail of the batch is done (or will never come: its entry left the
  // list); unreadable names the file that could not be read.
  void JobDone(uint64_t batch, bool unreadable, const std::string& name);
  // The names of the unreadable files of every batch that is complete,
  // one list per batch; each batch is reported once and then forgotten.
  std::vector<std::vector<std::string>> TakeReports();
  size_t OpenBatches() const { return batches_.size(); }

  // The message for one batch's unreadable files.
  static std::string Message(const std::vector<std::string>& names);

 private:
  struct CBatch {
    int pending = 0;
    bool closed = false;
    std::vector<std::string> unreadable;
  };
  uint64_t next_ = 1;
  std::map<uint64_t, CBatch> batches_;
};
