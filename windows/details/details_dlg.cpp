#include "windows/details/details_dlg.h"

#include "core/media/media_item.h"
#include "adapters/long_path.h"
#include "windows/common/item_bitmap.h"
#include "core/settings/details_text.h"
#include "framework/gdi.h"
#include "res/resource.h"

namespace {

constexpr int ThumbLeft = 10;
constexpr int ThumbTop = 10;
// The summary starts right of the thumbnail.
constexpr int SummaryLeft = 134;
constexpr int SummaryTop = 10;
constexpr int SummaryRightMargin = 10;

}  // namespace

CPicDetailsDlg::CPicDetailsDlg(HWND parent) : CDialog(IDD_DETAILS, parent) {}

void CPicDetailsDlg::SetItem(const Items* items, int index) {
  items_ = items;
  item_ = (*items)[static_cast<size_t>(index)].get();
  name_ = item_->GetName();
  keywords_ = item_->GetKeywords();
  description_ = item_->GetDescription();
}

std::string CPicDetailsDlg::GetSummary() const {
  if (!item_) return std::string();
  // The type is detected from the current file each time: a rotated picture
  // is sent as its JPEG copy.
  return quib::MediaSummary(item_->GetName(), item_->GetFileSize(),
                            !item_->IsVideo() && !item_->IsAudio(), item_->GetWidth(),
                            item_->GetHeight(), item_->GetMimeType());
}

BOOL CPicDetailsDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText("Media details");
  SetDlgItemText(IDC_DETAILS_NAME_LABEL, "Name:");
  SetDlgItemText(IDC_DETAILS_KEYWORDS_LABEL, "Tags (word1 \"word1 and word2\" word3):");
  SetDlgItemText(IDC_DETAILS_DESCRIPTION_LABEL, "Comment:");
  SetDlgItemText(IDCANCEL, "Cancel");
  SetDlgItemText(IDC_DETAILS_ADD_TO_ALL, "Add tags to all pictures and movies.");
  SetDlgItemText(IDC_DETAILS_NAME, name_.c_str());
  SetDlgItemText(IDC_DETAILS_KEYWORDS, keywords_.c_str());
  SetDlgItemText(IDC_DETAILS_DESCRIPTION, description_.c_str());
  // Tags are what users come here for most.
  SetFocus(GetDlgItem(IDC_DETAILS_KEYWORDS));
  return FALSE;
}

bool CPicDetailsDlg::OnMessage(UINT msg, WPARAM /*wp*/, LPARAM /*lp*/, LRESULT* result) {
  if (msg != WM_PAINT) return false;
  OnPaint();
  *result = 0;
  return true;
}

void CPicDetailsDlg::OnPaint() {
  HWND hwnd = GetSafeHwnd();
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  RECT client{};
  GetClientRect(hwnd, &client);
  {
    CFont font(CreateFontW(14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           FF_SWISS | DEFAULT_PITCH, L"Arial"));
    CSelectObject selectFont(dc, font.Get());
    if (item_) {
      // Without a thumbnail the area keeps the background colour.
      // Made for this paint; the item keeps no bitmap of its own.
      if (const CBitmap thumbnail = ItemBitmap(*item_)) {
        CMemoryDC memory(dc);
        CSelectObject selectBitmap(memory.Get(), thumbnail.Get());
        BitBlt(dc, ThumbLeft, ThumbTop, CMediaItem::ThumbWidth, CMediaItem::ThumbHeight,
               memory.Get(), 0, 0, SRCCOPY);
      }
      const std::string summary = GetSummary();
      RECT area = client;
      area.top += SummaryTop;
      area.left += SummaryLeft;
      area.right -= SummaryRightMargin;
      const int oldMode = SetBkMode(dc, TRANSPARENT);
      const std::wstring text = Utf8ToWide(summary);
      DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
                DT_LEFT | DT_TOP | DT_NOPREFIX);
      SetBkMode(dc, oldMode);
    }
  }
  EndPaint(hwnd, &paint);
}

void CPicDetailsDlg::OnOK() {
  name_ = GetDlgItemText(IDC_DETAILS_NAME);
  keywords_ = GetDlgItemText(IDC_DETAILS_KEYWORDS);
  description_ = GetDlgItemText(IDC_DETAILS_DESCRIPTION);
  if (item_ && IsDlgButtonChecked(IDC_DETAILS_ADD_TO_ALL)) {
    const size_t count = items_->size();
    for (size_t i = 0; i < count; ++i) {
      CMediaItem* other = (*items_)[i].get();
      if (other == item_) continue;
      other->SetKeywords(quib::AppendTags(other->GetKeywords(), keywords_));
    }
  }
  // The edited item keeps exactly what was typed.
  if (item_) {
    item_->SetName(name_);
    item_->SetKeywords(keywords_);
    item_->SetDescription(description_);
  }
  CDialog::OnOK();
}
