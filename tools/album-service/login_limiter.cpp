#include "tools/album-service/login_limiter.h"

#include <algorithm>
#include <chrono>

namespace albumsvc {

CLoginLimiter::CLoginLimiter(int perAccount, int perAddress, size_t maxKeys)
    : accounts_(perAccount, maxKeys), addresses_(perAddress, maxKeys) {}

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
