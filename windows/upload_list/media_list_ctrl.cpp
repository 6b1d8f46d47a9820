#include "windows/upload_list/media_list_ctrl.h"

#include <shellapi.h>

#include <algorithm>

#include "adapters/long_path.h"
#include "core/media/media_item.h"
#include "core/text/short_name.h"
#include "windows/common/item_bitmap.h"
#include "windows/details/details_dlg.h"

namespace {

// The code adding files has returned to the message loop.
constexpr UINT MsgAddsEnd = WM_APP + 0x64;
constexpr UINT_PTR SubclassId = 1005;

constexpr int IconSpacingX = 114;
constexpr int IconSpacingY = 104;
constexpr int BlankImage = 0;

}  // namespace

class CMediaListCtrl::CQuietScope {
 public:
  explicit CQuietScope(CMediaListCtrl& list) : list_(list) { list_.BeginQuiet(); }
  ~CQuietScope() { list_.EndQuiet(); }
  CQuietScope(const CQuietScope&) = delete;
  CQuietScope& operator=(const CQuietScope&) = delete;

 private:
  CMediaListCtrl& list_;
};

CMediaListCtrl::CMediaListCtrl(CUploadList& list) : list_(list) {
  list_.SetView(this);
}

CMediaListCtrl::~CMediaListCtrl() {
  list_.SetView(nullptr);
  Detach();
  if (parent_ && IsWindow(parent_)) RemoveWindowSubclass(parent_, ParentProc, SubclassId);
}

void CMediaListCtrl::Attach(HWND list, bool parentReflects) {
  hwnd_ = list;
  if (!hwnd_) return;
  // Our procedure stands in front of the list view's own and finds this
  // object in the window's user data: that costs nothing per message. The
  // common controls' subclassing looks up a window property for every
  // message, a round trip to the server under Wine, which made selecting
  // ten thousand entries take seconds.
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  listProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListProc)));
  if (parentReflects) return;
  // The list asks its parent for the images of the entries it draws.
  parent_ = GetParent(hwnd_);
  if (parent_)
    SetWindowSubclass(parent_, ParentProc, SubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void CMediaListCtrl::Detach() {
  if (!hwnd_ || !listProc_ || !IsWindow(hwnd_)) return;
  if (GetWindowLongPtrW(hwnd_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(ListProc)) {
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(listProc_));
  }
  // Should another procedure stand in front of ours now, ours stays in the
  // chain and passes every message on.
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  listProc_ = nullptr;
}

bool CMediaListCtrl::OnGetDispInfo(NMHDR* header) {
  // The item part is laid out alike in both character sets.
  if (header->hwndFrom != hwnd_ ||
      (header->code != LVN_GETDISPINFOA && header->code != LVN_GETDISPINFOW)) {
    return false;
  }
  LVITEMA& item = reinterpret_cast<NMLVDISPINFOA*>(header)->item;
  if (item.mask & LVIF_IMAGE) item.iImage = ImageFor(item.iItem);
  return true;
}

LRESULT CALLBACK CMediaListCtrl::ParentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                            DWORD_PTR self) {
  auto* list = reinterpret_cast<CMediaListCtrl*>(self);
  try {
    if (msg == WM_NOTIFY) {
      if (list->OnGetDispInfo(reinterpret_cast<NMHDR*>(lp))) return 0;
    } else if (msg == WM_NCDESTROY) {
      RemoveWindowSubclass(hwnd, ParentProc, SubclassId);
      list->parent_ = nullptr;
    }
  } catch (...) {
    // Nothing escapes into the system's dispatch.
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT CALLBACK CMediaListCtrl::ListProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* list = reinterpret_cast<CMediaListCtrl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!list || !list->listProc_) {
    // Detached while another procedure stood in front of ours.
    return CallWindowProcW(reinterpret_cast<WNDPROC>(GetClassLongPtrW(hwnd, GCLP_WNDPROC)), hwnd,
                           msg, wp, lp);
  }
  try {
    switch (msg) {
      case WM_DROPFILES:
        list->OnDropFiles(reinterpret_cast<HDROP>(wp));
        return 0;
      case MsgAddsEnd:
        if (list->adding_) {
          list->adding_ = false;
          list->EndQuiet();
        }
        return 0;
      case WM_NCDESTROY: {
        const WNDPROC own = list->listProc_;
        list->Detach();
        return CallWindowProcW(own, hwnd, msg, wp, lp);
      }
    }
  } catch (...) {
    // Nothing escapes into the system's dispatch.
    return 0;
  }
  return CallWindowProcW(list->listProc_, hwnd, msg, wp, lp);
}

void CMediaListCtrl::InitList() {
  if (!images_) {
    // All slots exist from the start: the image list never grows, shrinks
    // or moves its images, whatever the number of entries.
    images_.Reset(ImageList_Create(CMediaItem::ThumbWidth, CMediaItem::ThumbHeight, ILC_COLOR24,
                                   ImageSlots + 1, 0));
    if (images_ && ImageList_SetImageCount(images_.Get(), ImageSlots + 1)) {
      MakeBlankImage();
      slotOwners_.assign(ImageSlots + 1, 0);
    } else {
      images_.Reset();
    }
  }
  if (!hwnd_) return;
  // The list keeps its image list: the control must not destroy it.
  SetWindowLongPtrA(hwnd_, GWL_STYLE, GetWindowLongPtrA(hwnd_, GWL_STYLE) | LVS_SHAREIMAGELISTS);
  const LRESULT ex = SendMessageA(hwnd_, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
  SendMessageA(hwnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, ex | LVS_EX_BORDERSELECT);
  SendMessageA(hwnd_, LVM_SETICONSPACING, 0, MAKELPARAM(IconSpacingX, IconSpacingY));
  SendMessageA(hwnd_, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(images_.Get()));
}

void CMediaListCtrl::BeginQuiet() {
  if (quiet_++ == 0 && hwnd_) SendMessageA(hwnd_, WM_SETREDRAW, FALSE, 0);
}

void CMediaListCtrl::EndQuiet() {
  if (quiet_ == 0 || --quiet_ > 0 || !hwnd_) return;
  SendMessageA(hwnd_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void CMediaListCtrl::QuietWhileAdding() {
  if (adding_ || !hwnd_) return;
  BeginQuiet();
  adding_ = true;
  // Should the message not get through, the list must not stay unpainted.
  if (!PostMessageA(hwnd_, MsgAddsEnd, 0, 0)) {
    adding_ = false;
    EndQuiet();
  }
}

void CMediaListCtrl::MakeBlankImage() {
  if (!blank_) {
    HDC screen = GetDC(nullptr);
    blank_.Reset(CreateCompatibleBitmap(screen, CMediaItem::ThumbWidth, CMediaItem::ThumbHeight));
    ReleaseDC(nullptr, screen);
    CMemoryDC dc(nullptr);
    CSelectObject select(dc.Get(), blank_.Get());
    RECT all{0, 0, CMediaItem::ThumbWidth, CMediaItem::ThumbHeight};
    FillRect(dc.Get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  ImageList_Replace(images_.Get(), BlankImage, blank_.Get(), nullptr);
}

int CMediaListCtrl::ImageFor(int index) {
  const auto& items = list_.GetItems();
  if (!images_ || index < 0 || static_cast<size_t>(index) >= items.size()) return BlankImage;
  const CMediaItem& item = *items[static_cast<size_t>(index)];
  if (!item.IsThumbnailReady()) return BlankImage;
  bool fresh = false;
  const int slot = slots_.Acquire(item.GetId(), fresh);
  if (!fresh) return slot;
  const CBitmap thumbnail = ItemBitmap(item);
  if (!thumbnail || !ImageList_Replace(images_.Get(), slot, thumbnail.Get(), nullptr)) {
    FreeSlot(item.GetId());
    return BlankImage;
  }
  const uint64_t before = slotOwners_[static_cast<size_t>(slot)];
  slotOwners_[static_cast<size_t>(slot)] = item.GetId();
  // The slot was taken from a picture shown long ago; should that entry
  // still be on screen, it asks again (for another slot) when repainted.
  if (before != 0 && before != item.GetId() && hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
  return slot;
}

void CMediaListCtrl::FreeSlot(uint64_t id) {
  const int slot = slots_.Find(id);
  if (slot < 0) return;
  slotOwners_[static_cast<size_t>(slot)] = 0;
  slots_.Forget(id);
}

void CMediaListCtrl::ClearSlots() {
  slots_.Clear();
  std::fill(slotOwners_.begin(), slotOwners_.end(), 0);
}

void CMediaListCtrl::InsertEntry(int index) {
  std::wstring caption =
      Utf8ToWide(quib::ListCaption(list_.GetItems()[static_cast<size_t>(index)]->GetName()));
  LVITEMW entry{};
  entry.mask = LVIF_TEXT | LVIF_IMAGE;
  entry.iItem = index;
  entry.iImage = I_IMAGECALLBACK;
  entry.pszText = &caption[0];
  SendMessageW(hwnd_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&entry));
}

void CMediaListCtrl::OnItemAdded(int index) {
  const CMediaItem& item = *list_.GetItems()[static_cast<size_t>(index)];
  if (item.IsThumbnailReady() && !ItemBitmap(item)) {
    // The entry shows the blank image; the item is still uploaded.
    list_.Report("Adding '" + item.GetSourcePath() + "' failed.");
  }
  if (!hwnd_) return;
  QuietWhileAdding();
  InsertEntry(index);
}

void CMediaListCtrl::OnItemRemoved(int index, uint64_t id) {
  // Only the entry's slot is freed: no other image moves.
  FreeSlot(id);
  if (!hwnd_) return;
  SendMessageA(hwnd_, LVM_DELETEITEM, static_cast<WPARAM>(index), 0);
  if (index < GetItemCount()) {
    // The entries after it close the gap, painted once they all have moved
    // (each move repainted on its own made a removal cost half a second at
    // 10,000 entries).
    CQuietScope quiet(*this);
    SendMessageA(hwnd_, LVM_ARRANGE, LVA_DEFAULT, 0);
  }
}

void CMediaListCtrl::OnItemsRemoved(const std::vector<uint64_t>& ids) {
  // The slots of the remaining entries stay: no thumbnail is made again.
  if (list_.GetItems().empty()) {
    ClearSlots();
  } else {
    for (uint64_t id : ids) FreeSlot(id);
  }
  if (!hwnd_) return;
  // Rebuild the entries, so they are laid out from the start again.
  CQuietScope quiet(*this);
  SendMessageA(hwnd_, LVM_DELETEALLITEMS, 0, 0);
  for (int i = 0; i < list_.Count(); ++i) InsertEntry(i);
}

void CMediaListCtrl::OnItemChanged(int index) {
  if (index < 0 || index >= list_.Count()) return;
  // The placeholder or the old picture gives way: the entry asks for its
  // image again.
  FreeSlot(list_.GetItems()[static_cast<size_t>(index)]->GetId());
  if (hwnd_) SendMessageA(hwnd_, LVM_REDRAWITEMS, static_cast<WPARAM>(index), index);
}

void CMediaListCtrl::OnReport(const std::string& text) {
  AppMessageBox(ReportOwner(), text.c_str(), MB_ICONSTOP | MB_OK);
}

HWND CMediaListCtrl::ReportOwner() const {
  return hwnd_ ? GetParent(hwnd_) : nullptr;
}

std::vector<int> CMediaListCtrl::SelectedIndices() const {
  std::vector<int> selected;
  if (!hwnd_) return selected;
  const int count = list_.Count();
  int i = -1;
  while ((i = static_cast<int>(
              SendMessageA(hwnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(i), LVNI_SELECTED))) >= 0) {
    if (i >= count) break;
    selected.push_back(i);
  }
  return selected;
}

bool CMediaListCtrl::RemoveSelected() {
  list_.RemoveIndices(SelectedIndices());
  return true;
}

void CMediaListCtrl::SelectAll() {
  if (!hwnd_) return;
  CQuietScope quiet(*this);
  LVITEMA state{};
  state.stateMask = LVIS_SELECTED;
  state.state = LVIS_SELECTED;
  SendMessageA(hwnd_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
}

void CMediaListCtrl::RotateSelected() {
  const int failed = list_.Rotate(SelectedIndices());
  if (failed > 0) {
    // Once for the whole selection, not a box per picture.
    const std::string text = std::to_string(failed) +
                             " picture(s) could not be turned (not enough memory or disk space, "
                             "or the file cannot be read) and stay as they were.";
    AppMessageBox(ReportOwner(), text.c_str(), MB_ICONEXCLAMATION | MB_OK);
  }
}

void CMediaListCtrl::RefreshEntry(int index) {
  if (index < 0 || index >= list_.Count()) return;
  const CMediaItem& item = *list_.GetItems()[static_cast<size_t>(index)];
  // Its slot is filled again from the current thumbnail when drawn.
  FreeSlot(item.GetId());
  if (!hwnd_) return;
  std::wstring caption = Utf8ToWide(quib::ListCaption(item.GetName()));
  LVITEMW entry{};
  entry.iSubItem = 0;
  entry.pszText = &caption[0];
  SendMessageW(hwnd_, LVM_SETITEMTEXTW, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(&entry));
  SendMessageA(hwnd_, LVM_REDRAWITEMS, static_cast<WPARAM>(index), index);
}

int CMediaListCtrl::GetItemCount() const {
  return hwnd_ ? static_cast<int>(SendMessageA(hwnd_, LVM_GETITEMCOUNT, 0, 0)) : list_.Count();
}

int CMediaListCtrl::GetSelectedCount() const {
  return hwnd_ ? static_cast<int>(SendMessageA(hwnd_, LVM_GETSELECTEDCOUNT, 0, 0)) : 0;
}

void CMediaListCtrl::OnDropFiles(HDROP drop) {
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    // Paths may be longer than MAX_PATH: ask each one's length. Wide, so a
    // name the code page cannot spell arrives whole.
    const UINT length = DragQueryFileW(drop, i, nullptr, 0);
    if (length == 0) continue;
    std::wstring path(length + 1, L'\0');
    const UINT got = DragQueryFileW(drop, i, &path[0], length + 1);
    if (got == 0 || got > length) continue;
    list_.AddFile(WideToUtf8(path.data(), got));
  }
  DragFinish(drop);
}

bool CMediaListCtrl::OnReflectedNotify(NMHDR* header, LRESULT* result) {
  if (OnGetDispInfo(header)) {
    *result = 0;
    return true;
  }
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
  dialog.SetItem(&list_.GetItems(), index);
  return dialog.DoModal() == IDOK;
}
