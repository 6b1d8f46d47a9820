// Makes picture thumbnails on a few worker threads while the window goes on
// answering messages. The window's thread pushes jobs (one per picture) and
// takes the finished results when told there are some; it can move a job
// to the front (an entry the user looks at) or drop it (an entry that left
// the list). The work itself is a function given by the caller, run on the
// workers: it must use only objects of its own. Portable: the Windows side
// passes the GDI+ thumbnail maker and a posted message as the wake-up.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quib {

// A thumbnail as an item keeps it: the DPI it was made for (its white
// canvas is 104 x 78 at 96 DPI, scaled with the DPI), where the picture sits
// on that canvas, the picture at that size (PNG, or JPEG of high quality
// where PNG would be large), and whether the light grey frame of a turned
// picture is drawn around it. A few KB, so ten thousand items fit in memory;
// the bitmap is made when it is shown.
struct ThumbnailData {
  int dpi = 96;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool framed = false;
  std::string bytes;  // empty: the plain white canvas
};

struct ThumbnailJob {
  uint64_t id = 0;       // the item
  uint64_t version = 0;  // the item's thumbnail version when the job was made
  std::string path;
  int dpi = 96;         // the canvas to make it for
  bool framed = false;  // a turned picture's thumbnail, made again for another DPI
};

struct ThumbnailResult {
  uint64_t id = 0;
  uint64_t version = 0;
  int dpi = 96;           // the job's: what the thumbnail was made for
  bool readable = false;  // false: the picture could not be read (white canvas)
  int width = 0;          // pixel size as shown upright; 0 when unreadable
  int height = 0;
  ThumbnailData data;
};

class CThumbnailScheduler {
 public:
  using Maker = std::function<void(const ThumbnailJob&, ThumbnailResult&)>;
  // Called on a worker when results start waiting (not for every result).
  using Notify = std::function<void()>;

  CThumbnailScheduler(int workers, Maker maker, Notify notify);
  // Stops as Stop does.
  ~CThumbnailScheduler();
  CThumbnailScheduler(const CThumbnailScheduler&) = delete;
  CThumbnailScheduler& operator=(const CThumbnailScheduler&) = delete;

  // Queues a job at the back; the workers start on the first one.
  void Push(ThumbnailJob job);
  // Moves a waiting job to the front. False when it is not waiting.
  bool Promote(uint64_t id);
  // Drops a waiting job. False when it is not waiting (running or done: its
  // result still comes and the caller ignores it).
  bool Cancel(uint64_t id);
  // Up to max finished results, oldest first; never blocks.
  std::vector<ThumbnailResult> TakeResults(size_t max);
  // Jobs waiting or running and results not yet taken.
  size_t Outstanding() const;
  // Drops every waiting job and waits up to timeoutMs for the running ones;
  // true when all workers ended. A worker still decoding after that ends on
  // its own later, touching nothing but state it shares with this object.
  bool Stop(int timeoutMs);

  // How many workers suit this machine: its cores, at least 1, at most 4.
  static int WorkersFor(unsigned cores);

 private:
  struct CShared;
  std::shared_ptr<CShared> shared_;
  bool stopped_ = false;
};

}  // namespace quib
