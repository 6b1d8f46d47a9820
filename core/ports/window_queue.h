// "Run this on the window thread": the one way work of a worker thread (a
// request's result, finished thumbnails) reaches the thread that owns the
// windows. Work is run from that thread's message loop, whichever loop runs
// (a modal dialog's, a message box's), in the order it was posted.
#pragma once

#include <functional>
#include <memory>

namespace quib {

class IWindowQueue {
 public:
  // Work not run yet is dropped; a Post after this does nothing.
  virtual ~IWindowQueue() = default;
  // Any thread. Each piece of work runs on its own turn of the loop, so a
  // message box shown by one may let the next one run meanwhile.
  virtual void Post(std::function<void()> work) = 0;
  // A Post that may be kept and called after the queue is gone (it then
  // does nothing): for workers that outlive their owner.
  using Poster = std::function<void(std::function<void()>)>;
  virtual Poster MakePoster() = 0;
};

// Makes a queue for the calling thread (the window thread).
using WindowQueueFactory = std::function<std::unique_ptr<IWindowQueue>()>;

}  // namespace quib
