// Limits wrong logins per account name and per client address. Each key has
// a bucket of tries that refills evenly over a minute. A try is taken before
// the password is looked at and given back when it was right, so people who
// type their password right are never slowed down, and logins sent at once
// get no more checks than logins sent one after another. While a bucket is
// empty, every login for that key is answered at once as a wrong password,
// without being checked. A few checks of one key run at a time; the others
// wait their turn.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace albumsvc {

class CLoginLimiter {
 public:
  // Failures allowed per minute for one account name and for one address;
  // 0 switches that limit off. checksAtOnce: checks of one account or one
  // address that run at the same time.
  CLoginLimiter(int perAccount, int perAddress, size_t maxKeys = 10000, int checksAtOnce = 2);

  // nowMs: a monotonic clock in milliseconds.
  bool Allowed(const std::string& account, const std::string& address, int64_t nowMs);
  void Failed(const std::string& account, const std::string& address, int64_t nowMs);

  enum Start { StartCheck, StartWait, StartRefuse };
  // Takes a try of the account and of the address for a check that begins
  // now. StartWait: not now, but a running check of the same key may still
  // give its try back or make room.
  Start TryBegin(const std::string& account, const std::string& address, int64_t nowMs);
  // Ends a check that TryBegin started; a right password gives its tries back.
  void End(const std::string& account, const std::string& address, bool right, int64_t nowMs);
  // TryBegin, waiting at most waitMs while it says StartWait; false: refused.
  bool Begin(const std::string& account, const std::string& address, int waitMs = 10000);
  // Refuses every waiting and later Begin.
  void Stop();

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
    void GiveBack(const std::string& key, int64_t now);
    // Checks of the key running now.
    int Running(const std::string& key) const;
    void AddRunning(const std::string& key, int delta);
    bool Limited() const { return perMinute_ > 0; }

   private:
    double Refill(Bucket& b, int64_t now) const;
    void MakeRoom(int64_t now);
    int perMinute_;
    size_t maxKeys_;
    std::map<std::string, Bucket> buckets_;
    std::map<std::string, int> running_;
  };
  Start TryBeginLocked(const std::string& account, const std::string& address, int64_t nowMs);

  std::mutex mutex_;
  std::condition_variable changed_;
  CTable accounts_, addresses_;
  int checksAtOnce_;
  bool stopped_ = false;
};

}  // namespace albumsvc
