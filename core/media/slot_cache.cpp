#include "core/media/slot_cache.h"

CSlotCache::CSlotCache(int first, int count) : first_(first), count_(count < 1 ? 1 : count) {}

int CSlotCache::Acquire(uint64_t key, bool& fresh) {
  auto found = slots_.find(key);
  if (found != slots_.end()) {
    uses_.splice(uses_.begin(), uses_, found->second);
    fresh = false;
    return found->second->slot;
  }
  int slot;
  if (!freed_.empty()) {
    slot = freed_.front();
    freed_.pop_front();
  } else if (nextUnused_ < count_) {
    slot = first_ + nextUnused_++;
  } else {
    // Every slot is taken: the one shown longest ago goes.
    const Use oldest = uses_.back();
    uses_.pop_back();
    slots_.erase(oldest.key);
    slot = oldest.slot;
  }
  uses_.push_front({key, slot});
  slots_[key] = uses_.begin();
  fresh = true;
  return slot;
}

int CSlotCache::Find(uint64_t key) const {
  auto found = slots_.find(key);
  return found == slots_.end() ? -1 : found->second->slot;
}

void CSlotCache::Forget(uint64_t key) {
  auto found = slots_.find(key);
  if (found == slots_.end()) return;
  freed_.push_back(found->second->slot);
  uses_.erase(found->second);
  slots_.erase(found);
}

void CSlotCache::Clear() {
  uses_.clear();
  slots_.clear();
  freed_.clear();
  nextUnused_ = 0;
}
