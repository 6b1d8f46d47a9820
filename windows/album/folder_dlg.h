// Lets the user pick the album that receives the uploads, or ask for a new
// one. The albums are added before the dialog runs; the same object may run
// several times and keeps them.
#pragma once

#include <string>
#include <vector>

#include "framework/combo_box.h"
#include "framework/dialog.h"

// Results of CFolderDlg::DoModal besides IDOK and IDCANCEL.
enum AlbumDlgResult {
  AlbumDlgNoSelection = -1,  // OK while nothing was selected (empty list)
  AlbumDlgNewAlbum = -2,     // "New album" pressed
};

class CFolderDlg : public CDialog {
 public:
  explicit CFolderDlg(HWND parent);

  void AddAlbum(int id, const std::string& name);
  // The id of the album chosen by the last OK.
  int GetSelectedAlbumId() const { return selectedAlbumId_; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;
  void OnOK() override;

 private:
  void FillAlbums();
  void ShowAlbumPicture(int dpi);
  void ReleaseAlbumPicture();

  CComboBox albumBox_;
  std::vector<std::string> albumNames_;
  std::vector<int> albumIds_;
  int selectedAlbumId_ = 0;
};
