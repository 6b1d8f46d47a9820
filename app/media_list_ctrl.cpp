#include "app/media_list_ctrl.h"

#include <shellapi.h>

#include "app/file_path_win.h"
#include "app/media_item.h"
#include "dialogs/details_dlg.h"
#include "net/media_type.h"

namespace {

// Carries RemoveAt over to the list's own thread.
constexpr UINT MsgRemoveAt = WM_APP + 0x61;
constexpr UINT_PTR SubclassId = 1005;

constexpr int IconSpacingX = 114;
constexpr int IconSpacingY = 104;
constexpr int ImageListGrowth = 10;

bool IsAcceptedType(const std::string& type) {
  return type.compare(0, 6, "image/") == 0 || type.compare(0, 6, "video/") == 0 ||
         type.compare(0, 6, "audio/") == 0;
}

}  // namespace

CMediaListCtrl::CMediaListCtrl() = default;

CMediaListCtrl::~CMediaListCtrl() {
  if (hwnd_ && IsWindow(hwnd_)) RemoveWindowSubclass(hwnd_, SubclassProc, SubclassId);
  items_.clear();
  if (images_) ImageList_Destroy(images_);
}

void CMediaListCtrl::Attach(HWND list) {
  hwnd_ = list;
  if (hwnd_) SetWindowSubclass(hwnd_, SubclassProc, SubclassId, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK CMediaListCtrl::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                              DWORD_PTR self) {
  auto* list = reinterpret_cast<CMediaListCtrl*>(self);
  switch (msg) {
    case WM_DROPFILES:
      list->OnDropFiles(reinterpret_cast<HDROP>(wp));
      return 0;
    case MsgRemoveAt:
      return list->RemoveOnOwnThread(static_cast<int>(wp)) ? 1 : 0;
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, SubclassProc, SubclassId);
      break;
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

void CMediaListCtrl::InitList() {
  if (!images_) {
    images_ = ImageList_Create(CMediaItem::ThumbWidth, CMediaItem::ThumbHeight, ILC_COLOR24, 10,
                               ImageListGrowth);
  }
  if (!hwnd_) return;
  // The list keeps its image list: the control must not destroy it.
  SetWindowLongPtrA(hwnd_, GWL_STYLE, GetWindowLongPtrA(hwnd_, GWL_STYLE) | LVS_SHAREIMAGELISTS);
  const LRESULT ex = SendMessageA(hwnd_, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
  SendMessageA(hwnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, ex | LVS_EX_BORDERSELECT);
  SendMessageA(hwnd_, LVM_SETICONSPACING, 0, MAKELPARAM(IconSpacingX, IconSpacingY));
  SendMessageA(hwnd_, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(images_));
}

bool CMediaListCtrl::AddFile(const std::string& path) {
  // The type is told by the name first: a missing or locked "x.jpg" would
  // pass and upload nothing.
  if (!quib::CanReadFile(path)) return false;
  const std::string type = DetectMediaType(path);
  if (!IsAcceptedType(type)) return false;
  items_.push_back(std::make_unique<CMediaItem>(path, type));
  AddEntry(static_cast<int>(items_.size()) - 1, path);
  return true;
}

void CMediaListCtrl::AddEntry(int index, const std::string& path) {
  const CMediaItem& item = *items_[static_cast<size_t>(index)];
  int image = -1;
  if (images_ && item.GetThumbnail()) image = ImageList_Add(images_, item.GetThumbnail(), nullptr);
  if (image < 0 && !path.empty()) {
    const std::string text = "Adding '" + path + "' failed.";
    AppMessageBox(hwnd_ ? GetParent(hwnd_) : nullptr, text.c_str(), MB_ICONSTOP | MB_OK);
  }
  if (image < 0 && images_) {
    // A blank image keeps image i belonging to entry i; the item is still
    // uploaded.
    HDC screen = GetDC(nullptr);
    CBitmap blank(CreateCompatibleBitmap(screen, CMediaItem::ThumbWidth, CMediaItem::ThumbHeight));
    ReleaseDC(nullptr, screen);
    {
      CMemoryDC dc(nullptr);
      CSelectObject select(dc.Get(), blank.Get());
      RECT all{0, 0, CMediaItem::ThumbWidth, CMediaItem::ThumbHeight};
      FillRect(dc.Get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    image = ImageList_Add(images_, blank.Get(), nullptr);
  }
  if (!hwnd_) return;
  const std::string caption = quib::ListCaption(item.GetName());
  LVITEMA entry{};
  entry.mask = LVIF_TEXT | LVIF_IMAGE;
  entry.iItem = index;
  entry.iImage = image;
  entry.pszText = const_cast<char*>(caption.c_str());
  SendMessageA(hwnd_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&entry));
}

bool CMediaListCtrl::RemoveAt(int index) {
  if (hwnd_ && GetWindowThreadProcessId(hwnd_, nullptr) != GetCurrentThreadId()) {
    // Image lists are not messages: change them only on the thread that
    // draws them. That thread runs the transfer dialog's loop meanwhile.
    return SendMessageA(hwnd_, MsgRemoveAt, static_cast<WPARAM>(index), 0) != 0;
  }
  return RemoveOnOwnThread(index);
}

bool CMediaListCtrl::RemoveOnOwnThread(int index) {
  if (index < 0 || static_cast<size_t>(index) >= items_.size()) return false;
  items_.erase(items_.begin() + index);
  bool removed = images_ && ImageList_Remove(images_, index);
  if (!hwnd_) return removed;
  removed = SendMessageA(hwnd_, LVM_DELETEITEM, static_cast<WPARAM>(index), 0) && removed;
  // The images after the removed one moved down: so do the entries' indices.
  const int count = GetItemCount();
  for (int i = index; i < count; ++i) {
    LVITEMA entry{};
    entry.mask = LVIF_IMAGE;
    entry.iItem = i;
    entry.iImage = i;
    SendMessageA(hwnd_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&entry));
  }
  if (index < count) SendMessageA(hwnd_, LVM_ARRANGE, LVA_DEFAULT, 0);
  return removed;
}

std::vector<int> CMediaListCtrl::SelectedIndices() const {
  std::vector<int> selected;
  if (!hwnd_) return selected;
  const int count = static_cast<int>(items_.size());
  int i = -1;
  while ((i = static_cast<int>(
              SendMessageA(hwnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(i), LVNI_SELECTED))) >= 0) {
    if (i >= count) break;
    selected.push_back(i);
  }
  return selected;
}

bool CMediaListCtrl::RemoveSelected() {
  const std::vector<int> selected = SelectedIndices();
  for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
    items_.erase(items_.begin() + *it);
  }
  // Rebuild, so the remaining entries are laid out from the start again.
  if (hwnd_) SendMessageA(hwnd_, LVM_DELETEALLITEMS, 0, 0);
  if (images_) ImageList_RemoveAll(images_);
  for (size_t i = 0; i < items_.size(); ++i) AddEntry(static_cast<int>(i), std::string());
  return true;
}

void CMediaListCtrl::RemoveAll() {
  if (hwnd_) SendMessageA(hwnd_, LVM_DELETEALLITEMS, 0, 0);
  while (!items_.empty()) items_.pop_back();
  if (images_) ImageList_RemoveAll(images_);
}

void CMediaListCtrl::RotateSelected() {
  for (int i : SelectedIndices()) {
    CMediaItem& item = *items_[static_cast<size_t>(i)];
    if (!item.Rotate()) continue;
    RefreshEntry(i);
  }
}

void CMediaListCtrl::RefreshEntry(int index) {
  if (index < 0 || static_cast<size_t>(index) >= items_.size()) return;
  const CMediaItem& item = *items_[static_cast<size_t>(index)];
  if (images_ && item.GetThumbnail())
    ImageList_Replace(images_, index, item.GetThumbnail(), nullptr);
  if (!hwnd_) return;
  const std::string caption = quib::ListCaption(item.GetName());
  LVITEMA entry{};
  entry.iSubItem = 0;
  entry.pszText = const_cast<char*>(caption.c_str());
  SendMessageA(hwnd_, LVM_SETITEMTEXTA, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(&entry));
  SendMessageA(hwnd_, LVM_REDRAWITEMS, static_cast<WPARAM>(index), index);
}

int CMediaListCtrl::GetItemCount() const {
  return hwnd_ ? static_cast<int>(SendMessageA(hwnd_, LVM_GETITEMCOUNT, 0, 0))
               : static_cast<int>(items_.size());
}

int CMediaListCtrl::GetSelectedCount() const {
  return hwnd_ ? static_cast<int>(SendMessageA(hwnd_, LVM_GETSELECTEDCOUNT, 0, 0)) : 0;
}

void CMediaListCtrl::OnDropFiles(HDROP drop) {
  const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    // Paths may be longer than MAX_PATH: ask each one's length.
    const UINT length = DragQueryFileA(drop, i, nullptr, 0);
    if (length == 0) continue;
    std::string path(length + 1, '\0');
    const UINT got = DragQueryFileA(drop, i, &path[0], length + 1);
    if (got == 0 || got > length) continue;
    path.resize(got);
    AddFile(path);
  }
  DragFinish(drop);
}

bool CMediaListCtrl::OnReflectedNotify(NMHDR* header, LRESULT* result) {
  if (header->code != static_cast<UINT>(NM_RCLICK)) return false;
  *result = 0;
  const std::vector<int> selected = SelectedIndices();
  if (selected.empty()) return true;
  const int index = selected.front();
  if (RunDetails(index)) RefreshEntry(index);
  return true;
}

bool CMediaListCtrl::RunDetails(int index) {
  CPicDetailsDlg dialog(hwnd_);
  dialog.SetItem(&items_, index);
  return dialog.DoModal() == IDOK;
}
