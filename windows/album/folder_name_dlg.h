// Asks for the name of a new album.
#pragma once

#include <string>

#include "framework/dialog.h"

class CFolderNameDlg : public CDialog {
 public:
  explicit CFolderNameDlg(HWND parent);

  // The name as typed, without trimming; set by OK.
  std::string GetAlbumName() const { return albumName_; }

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;

 private:
  std::string albumName_;
};
