#include "core/media/batch_tracker.h"

namespace {

// More names would make the box taller than the screen.
constexpr size_t MaxNamesShown = 12;

// "N file(s) <what>:", a blank line, then the names.
std::string Part(const std::string& what, const std::vector<std::string>& names) {
  std::string text = std::to_string(names.size()) + " file(s) " + what + ":\n";
  for (size_t i = 0; i < names.size() && i < MaxNamesShown; ++i) text += "\n" + names[i];
  if (names.size() > MaxNamesShown) {
    text += "\n... and " + std::to_string(names.size() - MaxNamesShown) + " more";
  }
  return text;
}

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

void CBatchTracker::Refused(uint64_t batch, const std::string& name) {
  auto found = batches_.find(batch);
  if (found != batches_.end()) found->second.refused.push_back(name);
}

std::vector<CBatchTracker::Report> CBatchTracker::TakeReports() {
  std::vector<Report> reports;
  for (auto it = batches_.begin(); it != batches_.end();) {
    CBatch& batch = it->second;
    if (!batch.closed || batch.pending > 0) {
      ++it;
      continue;
    }
    if (!batch.unreadable.empty() || !batch.refused.empty()) {
      reports.push_back(Report{std::move(batch.refused), std::move(batch.unreadable)});
    }
    it = batches_.erase(it);
  }
  return reports;
}

std::string CBatchTracker::Message(const std::vector<std::string>& names) {
  return Part("could not be read as pictures and show no thumbnail", names);
}

std::string CBatchTracker::Message(const Report& report) {
  std::string text;
  if (!report.refused.empty()) {
    text = Part("were not added: they are not pictures, movies or audio files", report.refused);
  }
  if (!report.unreadable.empty()) {
    if (!text.empty()) text += "\n\n";
    text += Message(report.unreadable);
  }
  return text;
}
