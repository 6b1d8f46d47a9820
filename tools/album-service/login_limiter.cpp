#include "tools/album-service/login_limiter.h"

#include <algorithm>
#include <chrono>

namespace albumsvc {

CLoginLimiter::CLoginLimiter(int perAccount, int perAddress, size_t maxKeys, int checksAtOnce)
    : accounts_(perAccount, maxKeys),
      addresses_(perAddress, maxKeys),
      checksAtOnce_(checksAtOnce) {}

int64_t CLoginLimiter::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool CLoginLimiter::Allowed(const std::string& account, const std::string& address, int64_t nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  return accounts_.HasToken(account, nowMs) && addresses_.HasToken(address, nowMs);
}

void CLoginLimiter::Failed(const std::string& account, const std::string& address, int64_t nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  accounts_.Take(account, nowMs);
  addresses_.Take(address, nowMs);
}

CLoginLimiter::Start CLoginLimiter::TryBegin(const std::string& account, const std::string& address,
                                             int64_t nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  return TryBeginLocked(account, address, nowMs);
}

CLoginLimiter::Start CLoginLimiter::TryBeginLocked(const std::string& account,
                                                   const std::string& address, int64_t nowMs) {
  bool accountTry = accounts_.HasToken(account, nowMs),
       addressTry = addresses_.HasToken(address, nowMs);
  bool accountRoom = !accounts_.Limited() || accounts_.Running(account) < checksAtOnce_,
       addressRoom = !addresses_.Limited() || addresses_.Running(address) < checksAtOnce_;
  if (accountTry && addressTry && accountRoom && addressRoom) {
    accounts_.Take(account, nowMs);
    addresses_.Take(address, nowMs);
    accounts_.AddRunning(account, 1);
    addresses_.AddRunning(address, 1);
    return StartCheck;
  }
  // A missing try may still come back from a check that is running.
  bool mayWait = (accountTry || accounts_.Running(account) > 0) &&
                 (addressTry || addresses_.Running(address) > 0);
  return mayWait ? StartWait : StartRefuse;
}

void CLoginLimiter::End(const std::string& account, const std::string& address, bool right,
                        int64_t nowMs) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    accounts_.AddRunning(account, -1);
    addresses_.AddRunning(address, -1);
    if (right) {
      accounts_.GiveBack(account, nowMs);
      addresses_.GiveBack(address, nowMs);
    }
  }
  changed_.notify_all();
}

bool CLoginLimiter::Begin(const std::string& account, const std::string& address, int waitMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  int64_t deadline = NowMs() + waitMs;
  for (;;) {
    if (stopped_) return false;
    int64_t now = NowMs();
    Start start = TryBeginLocked(account, address, now);
    if (start != StartWait) return start == StartCheck;
    if (now >= deadline) return false;
    // Buckets also refill with time: look again now and then.
    changed_.wait_for(lock, std::chrono::milliseconds(std::min<int64_t>(deadline - now, 500)));
  }
}

void CLoginLimiter::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}

double CLoginLimiter::CTable::Refill(Bucket& b, int64_t now) const {
  if (now > b.updated) {
    b.tokens = std::min<double>(perMinute_, b.tokens + (now - b.updated) * perMinute_ / 60000.0);
    b.updated = now;
  }
  return b.tokens;
}

bool CLoginLimiter::CTable::HasToken(const std::string& key, int64_t now) {
  if (perMinute_ <= 0) return true;
  auto it = buckets_.find(key);
  return it == buckets_.end() || Refill(it->second, now) >= 1.0;
}

void CLoginLimiter::CTable::Take(const std::string& key, int64_t now) {
  if (perMinute_ <= 0) return;
  auto it = buckets_.find(key);
  if (it == buckets_.end()) {
    MakeRoom(now);
    Bucket fresh;
    fresh.tokens = perMinute_;
    fresh.updated = now;
    it = buckets_.emplace(key, fresh).first;
  }
  Refill(it->second, now);
  it->second.tokens = std::max(0.0, it->second.tokens - 1.0);
}

void CLoginLimiter::CTable::GiveBack(const std::string& key, int64_t now) {
  auto it = buckets_.find(key);
  // A bucket that is gone was full.
  if (perMinute_ <= 0 || it == buckets_.end()) return;
  Refill(it->second, now);
  it->second.tokens = std::min<double>(perMinute_, it->second.tokens + 1.0);
}

int CLoginLimiter::CTable::Running(const std::string& key) const {
  auto it = running_.find(key);
  return it == running_.end() ? 0 : it->second;
}

void CLoginLimiter::CTable::AddRunning(const std::string& key, int delta) {
  if (perMinute_ <= 0) return;
  int& n = running_[key];
  n += delta;
  if (n <= 0) running_.erase(key);
}

// The table is bounded: full buckets carry no state and go first; under a
// flood of new keys the least recently used bucket makes way.
void CLoginLimiter::CTable::MakeRoom(int64_t now) {
  if (buckets_.size() < maxKeys_) return;
  for (auto it = buckets_.begin(); it != buckets_.end();) {
    if (Refill(it->second, now) >= perMinute_)
      it = buckets_.erase(it);
    else
      ++it;
  }
  while (buckets_.size() >= maxKeys_) {
    auto oldest = std::min_element(
        buckets_.begin(), buckets_.end(),
        [](const auto& a, const auto& b) { return a.second.updated < b.second.updated; });
    buckets_.erase(oldest);
  }
}

}  // namespace albumsvc
