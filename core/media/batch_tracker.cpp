#include "core/media/batch_tracker.h"

namespace {

// More names would make the box taller than the screen.
constexpr size_t MaxNamesShown = 12;

}  // namespace

uint64_t CBatchTracker::Open() {
  const uint64_t batch = next_++;
  batches_[batch];
  return batch;
}

void CBatchTracker::AddJob(uint64_t batch) {
  auto found = batches_.find(batch);
  if (found != batches_.end()) ++found->second.pending;
}

void CBatchTracker::Close(uint64_t batch) {
  auto found = batches_.find(batch);
  if (found != batches_.end()) found->second.closed = true;
}

void CBatchTracker::JobDone(uint64_t batch, bool unreadable, const std::string& name) {
  auto found = batches_.find(batch);
  if (found == batches_.end()) return;
  if (found->second.pending > 0) --found->second.pending;
  if (unreadable) found->second.unreadable.push_back(name);
}

std::vector<std::vector<std::string>> CBatchTracker::TakeReports() {
  std::vector<std::vector<std::string>> reports;
  for (auto it = batches_.begin(); it != batches_.end();) {
    if (!it->second.closed || it->second.pending > 0) {
      ++it;
      continue;
    }
    if (!it->second.unreadable.empty()) reports.push_back(std::move(it->second.unreadable));
    it = batches_.erase(it);
  }
  return reports;
}

std::string CBatchTracker::Message(const std::vector<std::string>& names) {
  std::string text = std::to_string(names.size()) +
                     " file(s) could not be read as pictures and show no thumbnail:\n";
  for (size_t i = 0; i < names.size() && i < MaxNamesShown; ++i) text += "\n" + names[i];
  if (names.size() > MaxNamesShown) {
    text += "\n... and " + std::to_string(names.size() - MaxNamesShown) + " more";
  }
  return text;
}
