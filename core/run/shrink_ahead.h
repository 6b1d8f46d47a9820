// Shrinking the next pictures of an upload run while the current file is
// sent. The run names each picture it is going to shrink, in the order it
// sends them; a few workers (one per core) make the copies through the
// picture work, never more than a few ahead, so that few temporary copies
// wait on disk. Workers see only paths: when the run reaches a file, the
// window thread takes that copy and points the item at it itself.
//
// A copy nobody takes is deleted: one still waiting when the run ends (a
// cancel, a failure), one made for an item that changed meanwhile, and one
// still being made when the run ends (its worker deletes it when done).
// Portable: the workers come from the platform's thread port.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/ports/picture_work.h"

namespace quib {

// One copy to make: the run's file index, the item it belongs to, the file
// it is made from and the box it is fitted into. A copy is taken only by
// the same index, item, file and box.
struct ShrinkJob {
  int index = -1;
  uint64_t itemId = 0;
  std::string path;
  int box = 0;
};

class CShrinkAhead {
 public:
  // Makes a copy on a worker (the picture work's Shrink); all or nothing.
  using Shrink = std::function<bool(const std::string& path, int box, PictureCopy& copy)>;
  // Deletes a copy nobody will take.
  using Remove = std::function<void(const std::string& path)>;

  // At most `ahead` copies are waiting, being made or made and not taken.
  CShrinkAhead(int workers, int ahead, Shrink shrink, Remove remove);
  // Stops as Stop does, waiting briefly.
  ~CShrinkAhead();
  CShrinkAhead(const CShrinkAhead&) = delete;
  CShrinkAhead& operator=(const CShrinkAhead&) = delete;

  // Queues a copy behind the others. False when `ahead` copies are
  // outstanding already, or after Stop.
  bool Push(ShrinkJob job);
  // Hands over the copy queued for job.index, waiting while it is being
  // made (at most timeoutMs; a copy later than that counts as failed and is
  // deleted when it comes). made is false when the copy could not be made.
  // Returns false when no copy for this very job was queued: then the
  // caller shrinks as it would without this object (a copy queued for the
  // index under other terms is dropped).
  bool Take(const ShrinkJob& job, int timeoutMs, bool& made, PictureCopy& copy);
  // Copies waiting, being made, or made and not taken.
  int Outstanding() const;
  // Drops every copy not taken (deleting the made ones) and waits up to
  // timeoutMs for those being made; true when no worker runs any more. A
  // copy finished after that is deleted by its worker.
  bool Stop(int timeoutMs);

  // Workers for this machine: one per core, at least 1, at most 4.
  static int WorkersFor(unsigned cores);

 private:
  struct CShared;
  std::shared_ptr<CShared> shared_;
};

}  // namespace quib
