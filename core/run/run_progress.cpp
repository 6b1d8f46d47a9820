#include "core/run/run_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The rate is the plain average over the first seconds, then follows the
// sent bytes with this time constant.
constexpr double SeedSeconds = 3.0;
constexpr double SmoothingSeconds = 5.0;
constexpr double ShownAfterSeconds = 1.0;

}  // namespace

void CRunProgress::Start(const std::vector<long long>& sizes) {
  *this = CRunProgress();
  prefix_.assign(sizes.size() + 1, 0);
  for (size_t i = 0; i < sizes.size(); ++i) prefix_[i + 1] = prefix_[i] + std::max(0LL, sizes[i]);
}

void CRunProgress::Sample(double now, int index, long long sent, long long total) {
  if (index < 0 || index >= Files()) return;
  if (index != index_) {
    // The body before this one is out (or was given up): count what went.
    if (index_ >= 0) done_ += sent_;
    index_ = index;
    sent_ = 0;
  }
  sent_ = std::max(sent_, std::max(0LL, sent));
  total_ = std::max(0LL, total);
  const long long all = done_ + sent_;
  if (start_ < 0) {
    start_ = now;
    last_ = now;
    lastAll_ = all;
    return;
  }
  const double dt = now - last_;
  if (dt <= 0) return;
  const double elapsed = now - start_;
  if (elapsed <= SeedSeconds) {
    rate_ = all / elapsed;
  } else {
    const double instant = (all - lastAll_) / dt;
    rate_ += (1.0 - std::exp(-dt / SmoothingSeconds)) * (instant - rate_);
  }
  last_ = now;
  lastAll_ = all;
}

int CRunProgress::Place() const {
  return index_ < 0 ? 0 : Files() - index_;
}

bool CRunProgress::Settled() const {
  return start_ >= 0 && last_ - start_ >= ShownAfterSeconds && rate_ > 0;
}

double CRunProgress::SecondsLeft() const {
  if (!Settled()) return -1;
  const long long current = total_ > 0
                                ? std::max(0LL, total_ - sent_)
                                : std::max(0LL, prefix_[static_cast<size_t>(index_) + 1] -
                                                    prefix_[static_cast<size_t>(index_)] - sent_);
  const long long later = prefix_[static_cast<size_t>(index_)];
  return static_cast<double>(current + later) / rate_;
}

std::string CRunProgress::Line(const std::string& dot) const {
  if (index_ < 0 || Files() < 2) return std::string();
  std::string line = std::to_string(Place()) + " of " + std::to_string(Files());
  if (Settled()) {
    line += " " + dot + " " + FormatRate(rate_) + " " + dot + " " + FormatTimeLeft(SecondsLeft());
  }
  return line;
}

std::string CRunProgress::FormatRate(double bytesPerSecond) {
  char text[32];
  if (bytesPerSecond < 1024) {
    snprintf(text, sizeof text, "%d B/s", static_cast<int>(std::lround(bytesPerSecond)));
  } else if (std::lround(bytesPerSecond / 1024) < 1000) {
    snprintf(text, sizeof text, "%d KB/s", static_cast<int>(std::lround(bytesPerSecond / 1024)));
  } else {
    snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / (1024.0 * 1024.0));
  }
  return text;
}

std::string CRunProgress::FormatTimeLeft(double seconds) {
  if (seconds < 60) {
    // In steps of five seconds, never "0 s".
    const int s = std::max(5, static_cast<int>(std::ceil(std::max(0.0, seconds) / 5.0)) * 5);
    return "about " + std::to_string(std::min(s, 60)) + " s left";
  }
  const double minutes = seconds / 60;
  if (minutes < 100) return "about " + std::to_string(std::lround(minutes)) + " min left";
  return "about " + std::to_string(std::lround(minutes / 60)) + " h left";
}
