#include "windows/album/folder_dlg.h"

#include <utility>

#include "framework/dialog_layout.h"
#include "framework/dpi.h"
#include "res/resource.h"
#include "windows/common/artwork.h"

CFolderDlg::CFolderDlg(HWND parent) : CDialog(IDD_FOLDER, parent) {}

void CFolderDlg::AddAlbum(int id, const std::string& name) {
  albumNames_.push_back(name);
  albumIds_.push_back(id);
}

BOOL CFolderDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // Over the middle of the window that asked (the transfer dialog).
  CenterWindow();
  albumBox_.Attach(GetDlgItem(IDC_FOLDER_ALBUMS));
  SetWindowText("Select album");
  SetDlgItemText(IDC_FOLDER_LABEL, "Album:");
  SetDlgItemText(IDC_FOLDER_NEW, "New album");
  KeepAbove(GetSafeHwnd(), IDC_FOLDER_LABEL, IDC_FOLDER_ALBUMS);
  ShowAlbumPicture(GetWindowDpi(GetSafeHwnd()));
  // The activation that follows fills the list again; filling it here as
  // well means the list is never seen empty, even before the first one.
  FillAlbums();
  SetFocus(albumBox_.GetSafeHwnd());
  return FALSE;
}

// Every activation, in either direction, fills the list again.
bool CFolderDlg::OnMessage(UINT msg, WPARAM wp, LPARAM /*lp*/, LRESULT* /*result*/) {
  if (msg == WM_ACTIVATE) FillAlbums();
  if (msg == WM_DESTROY) ReleaseAlbumPicture();
  // The dialog manager scales the controls; the picture is ours.
  if (msg == WM_DPICHANGED) ShowAlbumPicture(HIWORD(wp));
  // Not consumed: the dialog's own activation handling (focus) still runs.
  return false;
}

// The album the user picked stays picked (found by its id) while it is still
// listed: switching to another window and back must not change the album
// that receives the uploads. Otherwise the first album is selected.
void CFolderDlg::FillAlbums() {
  const int current = albumBox_.GetCurSel();
  const bool hadChoice = current != CB_ERR;
  const int chosenId = hadChoice ? static_cast<int>(albumBox_.GetItemData(current)) : 0;
  albumBox_.ResetContent();
  int select = 0;
  bool found = false;
  for (size_t i = 0; i < albumNames_.size(); ++i) {
    const int index = albumBox_.AddString(albumNames_[i].c_str());
    if (index == CB_ERR || index == CB_ERRSPACE) continue;
    albumBox_.SetItemData(index, static_cast<LPARAM>(albumIds_[i]));
    if (hadChoice && !found && albumIds_[i] == chosenId) {
      select = index;
      found = true;
    }
  }
  albumBox_.SetCurSel(select);
}

bool CFolderDlg::OnCommand(WORD id, WORD code, HWND control) {
  switch (id) {
    case IDC_FOLDER_OK:
      // Button 1011 and the Enter key (command 1) do the same.
      OnOK();
      return true;
    case IDC_FOLDER_NEW:
      EndDialog(AlbumDlgNewAlbum);
      return true;
    case IDC_FOLDER_CANCEL:
      OnCancel();
      return true;
    default:
      return CDialog::OnCommand(id, code, control);
  }
}

void CFolderDlg::OnOK() {
  const int index = albumBox_.GetCurSel();
  if (index == CB_ERR) {
    EndDialog(AlbumDlgNoSelection);
    return;
  }
  selectedAlbumId_ = static_cast<int>(albumBox_.GetItemData(index));
  CDialog::OnOK();
}

// The template's album picture is the 100 % one: the control gets the one
// for the dialog's DPI.
void CFolderDlg::ShowAlbumPicture(int dpi) {
  if (CBitmap picture = LoadArtworkBitmap(IDB_ALBUM, dpi)) {
    SetPicture(FindPicture(GetSafeHwnd()), std::move(picture));
  }
}

// The picture the control shows is ours (the one it loaded from the template
// as well: Windows' control would delete that one, Wine's keeps it), and
// taking it out of the control lets us delete it.
void CFolderDlg::ReleaseAlbumPicture() {
  SetPicture(FindPicture(GetSafeHwnd()), CBitmap());
}
