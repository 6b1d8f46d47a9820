// The upload list: the list view of the main window, the ordered collection
// of media items it shows and the image list with their thumbnails. Entry i
// shows image i and the name of item i.
#pragma once

#include <windows.h>

#include <commctrl.h>

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

  // Binds the control of the parent dialog.
  void Attach(HWND list);
  HWND GetSafeHwnd() const { return hwnd_; }

  void InitList();
  // Accepts pictures, movies and audio files; anything else is ignored silently.
  bool AddFile(const std::string& path);
  const Items& GetItems() const { return items_; }
  bool RemoveAt(int index);
  bool RemoveSelected();
  void RemoveAll();
  void RotateSelected();

  int GetItemCount() const;
  int GetSelectedCount() const;

  // Right click on the list (reflected from the parent).
  bool OnReflectedNotify(NMHDR* header, LRESULT* result) override;

 private:
  HWND hwnd_ = nullptr;
  Items items_;
  HIMAGELIST images_ = nullptr;
};
