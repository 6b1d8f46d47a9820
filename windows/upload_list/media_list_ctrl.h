// The upload list's window: the list view of the main window showing the
// items of a CUploadList, one entry each (entry i shows item i's thumbnail
// and caption), with the image list of their thumbnails. The image list
// holds a fixed number of slots: an entry gets one when it is drawn, filled
// from its item's compact thumbnail, and the picture shown longest ago gives
// its slot up. Selection, drops, the details dialog and painting are the
// window's; the items are the list's.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/media/slot_cache.h"
#include "core/media/upload_list.h"
#include "framework/dialog.h"
#include "framework/gdi.h"
#include "framework/image_list.h"

class CMediaListCtrl : public IReflectedControl, public IUploadListView {
 public:
  // Image 0 is the blank placeholder; images 1 to ImageSlots show the
  // thumbnails of the entries drawn last (a few screenfuls).
  static constexpr int ImageSlots = 512;

  explicit CMediaListCtrl(CUploadList& list);
  ~CMediaListCtrl() override;
  CMediaListCtrl(const CMediaListCtrl&) = delete;
  CMediaListCtrl& operator=(const CMediaListCtrl&) = delete;

  // Binds the control of the parent dialog and takes its dropped files and
  // its requests for entry images. A parent that passes the list's
  // notifications to OnReflectedNotify (the program's dialogs do) needs
  // nothing more; any other parent is hooked.
  void Attach(HWND list, bool parentReflects = false);
  HWND GetSafeHwnd() const { return hwnd_; }
  CUploadList& GetList() { return list_; }

  // Sets up the control for the DPI it is shown at (its window's when 0).
  void InitList(int dpi = 0);
  // The window has moved to a monitor of another DPI: thumbnails, their
  // spacing and the captions' font for that one. The list has the pictures'
  // thumbnails made again; meanwhile they are shown scaled.
  void SetDpi(int dpi);
  int GetDpi() const { return dpi_; }
  // Lays the entries out again for the control's size.
  void Arrange();
  // The picture tiled behind the entries, however large the control grows
  // (Wine's list view draws its background image only once). Tiles are
  // anchored to the entries, so they scroll with them.
  void SetBackgroundTile(HBITMAP tile);
  bool RemoveSelected();
  void SelectAll();
  void RotateSelected();
  // Shows item index's current thumbnail and name again (after its details
  // were edited).
  void RefreshEntry(int index);

  int GetItemCount() const;
  int GetSelectedCount() const;

  // Right click on the list and requests for entry images (reflected from
  // the parent).
  bool OnReflectedNotify(NMHDR* header, LRESULT* result) override;

  // The list's changes.
  void OnItemAdded(int index) override;
  void OnItemRemoved(int index, uint64_t id) override;
  void OnItemsRemoved(const std::vector<uint64_t>& ids) override;
  void OnItemChanged(int index) override;
  void OnReport(const std::string& text) override;
  bool ConfirmFolder(const std::string& name, int count) override;

 private:
  class CQuietScope;

  static LRESULT CALLBACK ListProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void Detach();
  // An entry's image asked for; true when header was that request.
  bool OnGetDispInfo(NMHDR* header);
  static LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                     DWORD_PTR self);
  void OnDropFiles(HDROP drop);
  // Fills the control with the background tile; false without one.
  bool EraseBackground(HDC dc);
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
  void InsertEntry(int index);
  std::vector<int> SelectedIndices() const;
  // Opens the details of item index; true when the user confirmed them.
  bool RunDetails(int index);
  HWND ReportOwner() const;

  CUploadList& list_;
  HWND hwnd_ = nullptr;
  WNDPROC listProc_ = nullptr;  // the list view's own, behind ListProc
  HWND parent_ = nullptr;       // hooked parent
  CImageList images_;
  CSlotCache slots_{1, ImageSlots};
  std::vector<uint64_t> slotOwners_;  // item id per image, 0: none
  CBitmap blank_;
  CBrush background_;
  SIZE tileSize_{};
  int dpi_ = 96;
  int quiet_ = 0;  // scopes open
  bool adding_ = false;
};
