// Details of one upload list entry: the upload name, the tags and the
// comment it is sent with, beside its thumbnail and a short summary. The
// typed tags can be added to every other entry as well.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/dialog.h"

class CMediaItem;

class CPicDetailsDlg : public CDialog {
 public:
  // The upload list's collection, in list order.
  using Items = std::vector<std::unique_ptr<CMediaItem>>;

  explicit CPicDetailsDlg(HWND parent);

  // Binds the dialog to item index of the collection (a listed row) and
  // takes its texts for editing.
  void SetItem(const Items* items, int index);

  // What the dialog paints beside the thumbnail, for the bound item now.
  std::string GetSummary() const;

 protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;
  void OnOK() override;

 private:
  void OnPaint();

  std::string name_;
  std::string keywords_;
  std::string description_;
  CMediaItem* item_ = nullptr;
  const Items* items_ = nullptr;
};
