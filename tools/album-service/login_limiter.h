// Limits wrong logins per account name and per client address. Each key has
// a bucket of failures that refills evenly over a minute; while a bucket is
// empty, every login for that key is answered as a wrong password without
// being checked. Only failures use up the buckets, so people who type their
// password right are never slowed down.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace albumsvc {

class CLoginLimiter {
 public:
  // Failures allowed per minute for one account name and for one address;
  // 0 switches that limit off.
  CLoginLimiter(int perAccount, int perAddress, size_t maxKeys = 10000);

  // nowMs: a monotonic clock in milliseconds.
  bool Allowed(const std::string& account, const std::string& address, int64_t nowMs);
  void Failed(const std::string& account, const std::string& address, int64_t nowMs);

  static int64_t NowMs();

 private:
  struct Bucket {
    double tokens = 0;
    int64_t updated = 0;
  };
  class CTable {
   public:
    CTable(int perMinute, size_t maxKeys) : perMinute_(perMinute), maxKeys_(maxKeys) {}
    bool HasToken(const std::string& key, int64_t now);
    void Take(const std::string& key, int64_t now);

   private:
    double Refill(Bucket& b, int64_t now) const;
    void MakeRoom(int64_t now);
    int perMinute_;
    size_t maxKeys_;
    std::map<std::string, Bucket> buckets_;
  };

  std::mutex mutex_;
  CTable accounts_, addresses_;
};

}  // namespace albumsvc
