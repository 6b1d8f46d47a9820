// Which thumbnails sit in the image list's slots. The list shows thousands
// of entries but only a screenful at a time, so the image list keeps a fixed
// number of slots and gives up the least recently shown one when another
// picture needs a place. Portable bookkeeping; the list fills the slots.
#pragma once

#include <cstdint>
#include <list>
#include <unordered_map>

class CSlotCache {
 public:
  // Slots first, first + 1, ..., first + count - 1 (count at least 1).
  CSlotCache(int first, int count);

  // The slot that shows key. fresh is true when the slot was given to key
  // just now and must be filled with its picture.
  int Acquire(uint64_t key, bool& fresh);
  // The slot key has, or -1; does not count as a use.
  int Find(uint64_t key) const;
  // key's picture changed or key left the list: its slot is free again.
  void Forget(uint64_t key);
  void Clear();
  int Size() const { return static_cast<int>(slots_.size()); }

 private:
  struct Use {
    uint64_t key;
    int slot;
  };
  int first_;
  int count_;
  int nextUnused_ = 0;
  std::list<Use> uses_;  // most recent first
  std::unordered_map<uint64_t, std::list<Use>::iterator> slots_;
  std::list<int> freed_;
};
