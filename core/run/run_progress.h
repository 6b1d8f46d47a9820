// The line of the transfer dialog that says where a batch stands: the file's
// place in the run and, once a second of sending has passed, the rate and
// the time left for the whole run, for example
// "3 of 120 · 1.4 MB/s · about 2 min left". Both are computed from the bytes
// sent and smoothed over several seconds, so they do not jump with every
// chunk or with the pause while the server answers. Portable.
#pragma once

#include <string>
#include <vector>

class CRunProgress {
 public:
  // The run's files in list order (index i is item i): their sizes in bytes,
  // 0 when unknown. Files are sent from the last to the first.
  void Start(const std::vector<long long>& sizes);
  // A sample, taken on the window's timer: the time in seconds, the item whose
  // body is being sent (-1 before the first), the bytes of that body sent so
  // far and its whole size (0 while unknown).
  void Sample(double now, int index, long long sent, long long total);

  // The line, with dot between its parts; empty before the first file is sent
  // and for a run of one file.
  std::string Line(const std::string& dot) const;
  int Place() const;  // 1 for the first file sent; 0 before
  int Files() const { return static_cast<int>(prefix_.empty() ? 0 : prefix_.size() - 1); }
  // Bytes per second, smoothed; 0 while unknown.
  double Rate() const { return rate_; }
  // Seconds until the last body is sent; -1 while unknown.
  double SecondsLeft() const;
  // True once a second of sending has passed: rate and time left are shown.
  bool Settled() const;

  static std::string FormatRate(double bytesPerSecond);
  static std::string FormatTimeLeft(double seconds);

 private:
  std::vector<long long> prefix_;  // prefix_[i]: bytes of items 0 .. i-1
  int index_ = -1;
  long long done_ = 0;  // bytes of the bodies already sent
  long long sent_ = 0;  // of the body in flight
  long long total_ = 0;
  double start_ = -1;  // time of the first sample with a file in flight
  double last_ = -1;
  long long lastAll_ = 0;
  double rate_ = 0;
};
