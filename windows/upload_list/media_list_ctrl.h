// The upload list: the list view of the main window, the ordered collection
// of media items it shows and the image list with their thumbnails. Entry i
// shows item i's thumbnail and caption. The image list holds a fixed number
// of slots: an entry gets one when it is drawn, filled from its item's
// compact thumbnail, and the picture shown longest ago gives its slot up.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/media/batch_tracker.h"
#include "core/media/slot_cache.h"
#include "framework/dialog.h"
#include "framework/gdi.h"

namespace quib {
class CThumbnailScheduler;
struct ThumbnailResult;
}  // namespace quib

class CMediaItem;

class CMediaListCtrl : public IReflectedControl {
 public:
  using Items = std::vector<std::unique_ptr<CMediaItem>>;

  // Image 0 is the blank placeholder; images 1 to ImageSlots show the
  // thumbnails of the entries drawn last (a few screenfuls).
  static constexpr int ImageSlots = 512;

  CMediaListCtrl();
  ~CMediaListCtrl() override;
  CMediaListCtrl(const CMediaListCtrl&) = delete;
  CMediaListCtrl& operator=(const CMediaListCtrl&) = delete;

  // Binds the control of the parent dialog and takes its dropped files and
  // its requests for entry images. A parent that passes the list's
  // notifications to OnReflectedNotify (the program's dialogs do) needs
  // nothing more; any other parent is hooked.
  void Attach(HWND list, bool parentReflects = false);
  HWND GetSafeHwnd() const { return hwnd_; }

  void InitList();
  // From now on pictures are added at once with a blank image and their
  // thumbnails are made on a few worker threads; each lands on its entry
  // when ready (on the list's thread). Off: AddFile makes it before
  // returning.
  void MakeThumbnailsInBackground(bool on) { background_ = on; }
  // Thumbnails still being made.
  size_t PendingThumbnails() const { return pending_.size(); }
  // Puts every finished thumbnail on its entry until none is pending or
  // timeoutMs has passed, without a message loop; true when none is
  // pending. For tests and for closing a batch deliberately.
  bool FinishThumbnails(int timeoutMs);
  // Drops the thumbnails not started yet and waits briefly for the running
  // ones (the window is closing).
  void StopThumbnails();
  // Accepts pictures, movies and audio files that exist and can be read now;
  // anything else is ignored silently.
  bool AddFile(const std::string& path);
  const Items& GetItems() const { return items_; }
  // Removes and destroys item index with its image and entry. May be called
  // from another thread while the list's own thread runs a message loop: the
  // work is then done on the list's thread. False for an index outside the
  // list.
  bool RemoveAt(int index);
  bool RemoveSelected();
  void RemoveAll();
  void SelectAll();
  void RotateSelected();
  // Shows item index's current thumbnail and name again (after its details
  // were edited).
  void RefreshEntry(int index);
  // While an upload run is open the main window is disabled under the run's
  // window: a message box of ours owned by it would let the run's end enable
  // it again while the box is still open. Reports made meanwhile wait and
  // are shown once the hold ends (from the message loop).
  void HoldReports(bool hold);

  int GetItemCount() const;
  int GetSelectedCount() const;

  // Right click on the list and requests for entry images (reflected from
  // the parent).
  bool OnReflectedNotify(NMHDR* header, LRESULT* result) override;

 private:
  class CQuietScope;

  static LRESULT CALLBACK ListProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void Detach();
  // An entry's image asked for; true when header was that request.
  bool OnGetDispInfo(NMHDR* header);
  static LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                     DWORD_PTR self);
  void OnDropFiles(HDROP drop);
  bool RemoveOnOwnThread(int index);
  // Puts finished thumbnails on their entries, at most max of them; true
  // when more are waiting.
  bool TakeThumbnails(size_t max);
  // A pending thumbnail is done or no longer wanted (its entry left).
  void FinishPending(uint64_t id, bool unreadable, const std::string& path);
  void ForgetPending(const CMediaItem& item);
  void ReportLater();
  // One message per finished batch that had unreadable pictures, and the
  // reports held during a run.
  void ReportUnreadable();
  // Shows a stop message now, or keeps it for later while reports are held.
  void Report(const std::string& text);
  void OnThumbnailsReady();
  // Many entries change at once: the list view neither repaints nor
  // recomputes its layout and scroll bars for each change, only once when
  // the last scope ends (under Wine each of those is a round trip to the
  // display: 10,000 visible inserts took a minute).
  void BeginQuiet();
  void EndQuiet();
  // Files are being added: quiet until the adding code returns to the
  // message loop.
  void QuietWhileAdding();
  // Puts the white placeholder into image 0.
  void MakeBlankImage();
  // The image entry index shows now: its slot, filled when it had none, or
  // the placeholder while its thumbnail is not there.
  int ImageFor(int index);
  // An entry left or its picture changed: its slot is free.
  void FreeSlot(uint64_t id);
  void ClearSlots();
  // Adds item index's entry (its image is asked for when drawn).
  void AddEntry(int index, const std::string& path);
  std::vector<int> SelectedIndices() const;
  // Opens the details of item index; true when the user confirmed them.
  bool RunDetails(int index);

  HWND hwnd_ = nullptr;
  WNDPROC listProc_ = nullptr;  // the list view's own, behind ListProc
  HWND parent_ = nullptr;       // hooked parent
  Items items_;
  HIMAGELIST images_ = nullptr;
  CSlotCache slots_{1, ImageSlots};
  std::vector<uint64_t> slotOwners_;  // item id per image, 0: none
  CBitmap blank_;
  bool background_ = false;
  std::unique_ptr<quib::CThumbnailScheduler> thumbs_;
  CBatchTracker batches_;
  uint64_t openBatch_ = 0;                          // the batch files are being added to, 0: none
  std::unordered_map<uint64_t, uint64_t> pending_;  // item id -> its batch
  bool reporting_ = false;
  bool holdReports_ = false;
  std::vector<std::string> heldReports_;
  int quiet_ = 0;  // scopes open
  bool adding_ = false;
};
