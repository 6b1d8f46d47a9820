// Files arrive in batches (one command line, one file dialog selection, one
// drop, one second start). A picture that turns out unreadable is told once
// per batch, in one message naming all of them, when the batch's last
// thumbnail is done, instead of a message box per file; so is a file handed
// over by name that the list refused. Portable; used on the window's thread
// only.
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
  // A file of the batch, handed over by its name, was not added: it is no
  // picture, movie or audio file (or is not there).
  void Refused(uint64_t batch, const std::string& name);

  // What one complete batch has to tell.
  struct Report {
    std::vector<std::string> refused;
    std::vector<std::string> unreadable;
  };
  // The reports of every batch that is complete and has something to tell;
  // each batch is reported once and then forgotten.
  std::vector<Report> TakeReports();
  size_t OpenBatches() const { return batches_.size(); }

  // The message for one batch's unreadable files.
  static std::string Message(const std::vector<std::string>& names);
  // The one message for a batch: its refused files first (they are not in
  // the list), then its unreadable pictures (in the list, without a
  // thumbnail), each part with its count and at most 12 names.
  static std::string Message(const Report& report);

 private:
  struct CBatch {
    int pending = 0;
    bool closed = false;
    std::vector<std::string> unreadable;
    std::vector<std::string> refused;
  };
  uint64_t next_ = 1;
  std::map<uint64_t, CBatch> batches_;
};
