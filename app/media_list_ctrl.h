// The upload list: the list view of the main window, the ordered collection
// of media items it shows and the image list with their thumbnails. Entry i
// shows image i and the caption of item i.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/dialog.h"

class CMediaItem;

class CMediaListCtrl : public IReflectedControl {
 public:
  using Items = std::vector<std::unique_ptr<CMediaItem>>;

  CMediaListCtrl();
  ~CMediaListCtrl() override;
  CMediaListCtrl(const CMediaListCtrl&) = delete;
  CMediaListCtrl& operator=(const CMediaListCtrl&) = delete;

  // Binds the control of the parent dialog and takes its dropped files.
  void Attach(HWND list);
  HWND GetSafeHwnd() const { return hwnd_; }

  void InitList();
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
  void RotateSelected();
  // Shows item index's current thumbnail and name again (after its details
  // were edited).
  void RefreshEntry(int index);

  int GetItemCount() const;
  int GetSelectedCount() const;

  // Right click on the list (reflected from the parent).
  bool OnReflectedNotify(NMHDR* header, LRESULT* result) override;

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                       DWORD_PTR self);
  void OnDropFiles(HDROP drop);
  bool RemoveOnOwnThread(int index);
  // Adds an item's thumbnail as image index and its entry; keeps the image
  // list in step with the collection even when the thumbnail is refused.
  void AddEntry(int index, const std::string& path);
  std::vector<int> SelectedIndices() const;
  // Opens the details of item index; true when the user confirmed them.
  bool RunDetails(int index);

  HWND hwnd_ = nullptr;
  Items items_;
  HIMAGELIST images_ = nullptr;
};
