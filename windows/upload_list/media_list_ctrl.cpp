#include "windows/upload_list/media_list_ctrl.h"

#include <shellapi.h>

#include <algorithm>
#include <thread>

#include "core/media/media_item.h"
#include "core/ports/file_port.h"
#include "core/ports/picture_work.h"
#include "core/ports/platform.h"
#include "windows/common/item_bitmap.h"
#include "core/media/thumbnail_scheduler.h"
#include "windows/details/details_dlg.h"
#include "core/protocol/media_type.h"

namespace {

// Carries RemoveAt over to the list's own thread.
constexpr UINT MsgRemoveAt = WM_APP + 0x61;
// Finished thumbnails wait (posted by a worker).
constexpr UINT MsgThumbnailsReady = WM_APP + 0x62;
// The files of one command, dialog or drop have all been added: posted when
// the batch opens, so it arrives once the adding code has returned.
constexpr UINT MsgBatchEnd = WM_APP + 0x63;
// The code adding files has returned to the message loop.
constexpr UINT MsgAddsEnd = WM_APP + 0x64;
// Thumbnails put on entries per message, so that input keeps its turn.
constexpr size_t ThumbnailsPerMessage = 16;
// How long closing waits for a thumbnail that is being decoded.
constexpr int StopWaitMs = 3000;
constexpr UINT_PTR SubclassId = 1005;

constexpr int IconSpacingX = 114;
constexpr int IconSpacingY = 104;
constexpr int BlankImage = 0;

bool IsAcceptedType(const std::string& type) {
  return type.compare(0, 6, "image/") == 0 || type.compare(0, 6, "video/") == 0 ||
         type.compare(0, 6, "audio/") == 0;
}

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

CMediaListCtrl::CMediaListCtrl() = default;

CMediaListCtrl::~CMediaListCtrl() {
  StopThumbnails();
  Detach();
  if (parent_ && IsWindow(parent_)) RemoveWindowSubclass(parent_, ParentProc, SubclassId);
  items_.clear();
  if (images_) ImageList_Destroy(images_);
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
  if (msg == WM_NOTIFY) {
    if (list->OnGetDispInfo(reinterpret_cast<NMHDR*>(lp))) return 0;
  } else if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, ParentProc, SubclassId);
    list->parent_ = nullptr;
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
  switch (msg) {
    case WM_DROPFILES:
      list->OnDropFiles(reinterpret_cast<HDROP>(wp));
      return 0;
    case MsgRemoveAt:
      return list->RemoveOnOwnThread(static_cast<int>(wp)) ? 1 : 0;
    case MsgThumbnailsReady:
      list->OnThumbnailsReady();
      return 0;
    case MsgAddsEnd:
      if (list->adding_) {
        list->adding_ = false;
        list->EndQuiet();
      }
      return 0;
    case MsgBatchEnd:
      list->batches_.Close(static_cast<uint64_t>(lp));
      if (list->openBatch_ == static_cast<uint64_t>(lp)) list->openBatch_ = 0;
      list->ReportUnreadable();
      return 0;
    case WM_NCDESTROY: {
      const WNDPROC own = list->listProc_;
      list->Detach();
      return CallWindowProcW(own, hwnd, msg, wp, lp);
    }
  }
  return CallWindowProcW(list->listProc_, hwnd, msg, wp, lp);
}

void CMediaListCtrl::InitList() {
  if (!images_) {
    // All slots exist from the start: the image list never grows, shrinks
    // or moves its images, whatever the number of entries.
    images_ = ImageList_Create(CMediaItem::ThumbWidth, CMediaItem::ThumbHeight, ILC_COLOR24,
                               ImageSlots + 1, 0);
    if (images_ && ImageList_SetImageCount(images_, ImageSlots + 1)) {
      MakeBlankImage();
      slotOwners_.assign(ImageSlots + 1, 0);
    } else if (images_) {
      ImageList_Destroy(images_);
      images_ = nullptr;
    }
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
  if (!quib::Files().CanRead(path)) return false;
  const std::string type = DetectMediaType(path);
  if (!IsAcceptedType(type)) return false;
  QuietWhileAdding();
  const bool later = background_ && hwnd_ && type.compare(0, 6, "image/") == 0;
  if (!later) {
    items_.push_back(std::make_unique<CMediaItem>(path, type));
    AddEntry(static_cast<int>(items_.size()) - 1, path);
    return true;
  }
  items_.push_back(std::make_unique<CMediaItem>(path, type, CMediaItem::DeferThumbnail()));
  const CMediaItem& item = *items_.back();
  if (!thumbs_) {
    const HWND target = hwnd_;
    thumbs_ = std::make_unique<quib::CThumbnailScheduler>(
        quib::CThumbnailScheduler::WorkersFor(std::thread::hardware_concurrency()),
        [](const quib::ThumbnailJob& job, quib::ThumbnailResult& result) {
          quib::Pictures().MakeThumbnail(job.path, result);
        },
        [target] { PostMessageA(target, MsgThumbnailsReady, 0, 0); });
  }
  if (!openBatch_) {
    openBatch_ = batches_.Open();
    PostMessageA(hwnd_, MsgBatchEnd, 0, static_cast<LPARAM>(openBatch_));
  }
  batches_.AddJob(openBatch_);
  pending_[item.GetId()] = openBatch_;
  thumbs_->Push(item.GetThumbnailJob());
  AddEntry(static_cast<int>(items_.size()) - 1, path);
  return true;
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
  ImageList_Replace(images_, BlankImage, blank_.Get(), nullptr);
}

int CMediaListCtrl::ImageFor(int index) {
  if (!images_ || index < 0 || static_cast<size_t>(index) >= items_.size()) return BlankImage;
  const CMediaItem& item = *items_[static_cast<size_t>(index)];
  if (!item.IsThumbnailReady()) return BlankImage;
  bool fresh = false;
  const int slot = slots_.Acquire(item.GetId(), fresh);
  if (!fresh) return slot;
  const CBitmap thumbnail = ItemBitmap(item);
  if (!thumbnail || !ImageList_Replace(images_, slot, thumbnail.Get(), nullptr)) {
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

bool CMediaListCtrl::TakeThumbnails(size_t max) {
  if (!thumbs_) return false;
  const std::vector<quib::ThumbnailResult> results = thumbs_->TakeResults(max);
  for (const quib::ThumbnailResult& result : results) {
    // Items are only ever appended, and ids grow: the list is in id order.
    auto found = std::lower_bound(
        items_.begin(), items_.end(), result.id,
        [](const std::unique_ptr<CMediaItem>& item, uint64_t id) { return item->GetId() < id; });
    if (found == items_.end() || (*found)->GetId() != result.id) continue;  // its entry left
    CMediaItem& item = **found;
    const int index = static_cast<int>(found - items_.begin());
    if (item.TakeThumbnail(result)) {
      // The placeholder gives way: the entry asks for its image again.
      FreeSlot(item.GetId());
      if (hwnd_) SendMessageA(hwnd_, LVM_REDRAWITEMS, static_cast<WPARAM>(index), index);
    }
    FinishPending(result.id, !result.readable, item.GetSourcePath());
  }
  return results.size() == max;
}

void CMediaListCtrl::FinishPending(uint64_t id, bool unreadable, const std::string& path) {
  auto found = pending_.find(id);
  if (found == pending_.end()) return;
  batches_.JobDone(found->second, unreadable, path);
  pending_.erase(found);
}

void CMediaListCtrl::ForgetPending(const CMediaItem& item) {
  if (pending_.find(item.GetId()) == pending_.end()) return;
  if (thumbs_) thumbs_->Cancel(item.GetId());  // else its result is ignored
  FinishPending(item.GetId(), false, std::string());
}

void CMediaListCtrl::ReportLater() {
  // A batch may be complete now: told once the caller is done (never from
  // inside a run's removal).
  if (hwnd_ && batches_.OpenBatches() > 0) PostMessageA(hwnd_, MsgThumbnailsReady, 0, 0);
}

void CMediaListCtrl::OnThumbnailsReady() {
  if (TakeThumbnails(ThumbnailsPerMessage) && hwnd_) {
    PostMessageA(hwnd_, MsgThumbnailsReady, 0, 0);
  }
  ReportUnreadable();
}

void CMediaListCtrl::ReportUnreadable() {
  // A box's own message loop may bring the next report: it waits its turn,
  // and is shown when the box before it has closed.
  if (reporting_ || holdReports_) return;
  reporting_ = true;
  for (;;) {
    for (const std::vector<std::string>& names : batches_.TakeReports()) {
      heldReports_.push_back(CBatchTracker::Message(names));
    }
    if (heldReports_.empty() || holdReports_) break;
    const std::string text = heldReports_.front();
    heldReports_.erase(heldReports_.begin());
    AppMessageBox(hwnd_ ? GetParent(hwnd_) : nullptr, text.c_str(), MB_ICONSTOP | MB_OK);
  }
  reporting_ = false;
}

void CMediaListCtrl::Report(const std::string& text) {
  heldReports_.push_back(text);
  ReportUnreadable();
}

void CMediaListCtrl::HoldReports(bool hold) {
  holdReports_ = hold;
  // What waited is shown from the message loop, after the caller is done.
  if (!hold && hwnd_) PostMessageA(hwnd_, MsgThumbnailsReady, 0, 0);
}

bool CMediaListCtrl::FinishThumbnails(int timeoutMs) {
  const DWORD start = GetTickCount();
  while (!pending_.empty()) {
    if (!TakeThumbnails(ThumbnailsPerMessage)) {
      if (GetTickCount() - start >= static_cast<DWORD>(timeoutMs)) return false;
      Sleep(5);
    }
  }
  return true;
}

void CMediaListCtrl::StopThumbnails() {
  if (thumbs_) thumbs_->Stop(StopWaitMs);
  thumbs_.reset();
  pending_.clear();
}

void CMediaListCtrl::AddEntry(int index, const std::string& path) {
  const CMediaItem& item = *items_[static_cast<size_t>(index)];
  if (!path.empty() && item.IsThumbnailReady() && !ItemBitmap(item)) {
    // The entry shows the blank image; the item is still uploaded.
    Report("Adding '" + path + "' failed.");
  }
  if (!hwnd_) return;
  const std::string caption = quib::ListCaption(item.GetName());
  LVITEMA entry{};
  entry.mask = LVIF_TEXT | LVIF_IMAGE;
  entry.iItem = index;
  entry.iImage = I_IMAGECALLBACK;
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
  ForgetPending(*items_[static_cast<size_t>(index)]);
  ReportLater();
  // Only the entry's slot is freed: no other image moves.
  FreeSlot(items_[static_cast<size_t>(index)]->GetId());
  items_.erase(items_.begin() + index);
  if (!hwnd_) return true;
  const bool removed = SendMessageA(hwnd_, LVM_DELETEITEM, static_cast<WPARAM>(index), 0) != 0;
  if (index < GetItemCount()) {
    // The entries after it close the gap, painted once they all have moved
    // (each move repainted on its own made a removal cost half a second at
    // 10,000 entries).
    CQuietScope quiet(*this);
    SendMessageA(hwnd_, LVM_ARRANGE, LVA_DEFAULT, 0);
  }
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
  const bool all = selected.size() == items_.size();
  for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
    ForgetPending(*items_[static_cast<size_t>(*it)]);
    // The slots of the remaining entries stay: no thumbnail is made again.
    if (!all) FreeSlot(items_[static_cast<size_t>(*it)]->GetId());
    items_.erase(items_.begin() + *it);
  }
  if (all) ClearSlots();
  ReportLater();
  // Rebuild the entries, so they are laid out from the start again.
  if (!hwnd_) return true;
  CQuietScope quiet(*this);
  SendMessageA(hwnd_, LVM_DELETEALLITEMS, 0, 0);
  for (size_t i = 0; i < items_.size(); ++i) {
    const std::string caption = quib::ListCaption(items_[i]->GetName());
    LVITEMA entry{};
    entry.mask = LVIF_TEXT | LVIF_IMAGE;
    entry.iItem = static_cast<int>(i);
    entry.iImage = I_IMAGECALLBACK;
    entry.pszText = const_cast<char*>(caption.c_str());
    SendMessageA(hwnd_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&entry));
  }
  return true;
}

void CMediaListCtrl::RemoveAll() {
  CQuietScope quiet(*this);
  if (hwnd_) SendMessageA(hwnd_, LVM_DELETEALLITEMS, 0, 0);
  for (const auto& item : items_) ForgetPending(*item);
  ReportLater();
  while (!items_.empty()) items_.pop_back();
  ClearSlots();
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
  int failed = 0;
  for (int i : SelectedIndices()) {
    CMediaItem& item = *items_[static_cast<size_t>(i)];
    if (!item.Rotate()) {
      // Movies and audio files are not turned; a picture that could not be
      // is kept exactly as it was.
      if (!item.IsVideo() && !item.IsAudio()) ++failed;
      continue;
    }
    // The turned picture's thumbnail replaces the one on its way.
    ForgetPending(item);
    RefreshEntry(i);
  }
  ReportLater();
  if (failed > 0) {
    // Once for the whole selection, not a box per picture.
    const std::string text = std::to_string(failed) +
                             " picture(s) could not be turned (not enough memory or disk space, "
                             "or the file cannot be read) and stay as they were.";
    AppMessageBox(hwnd_ ? GetParent(hwnd_) : nullptr, text.c_str(), MB_ICONEXCLAMATION | MB_OK);
  }
}

void CMediaListCtrl::RefreshEntry(int index) {
  if (index < 0 || static_cast<size_t>(index) >= items_.size()) return;
  const CMediaItem& item = *items_[static_cast<size_t>(index)];
  // Its slot is filled again from the current thumbnail when drawn.
  FreeSlot(item.GetId());
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
  dialog.SetItem(&items_, index);
  return dialog.DoModal() == IDOK;
}
