#include "windows/transfer/transfer_dialog.h"

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <utility>
#include <vector>

#include "core/media/media_item.h"
#include "windows/common/item_bitmap.h"
#include "core/media/upload_list.h"
#include "core/settings/profile.h"
#include "windows/album/folder_dlg.h"
#include "windows/album/folder_name_dlg.h"
#include "windows/login/login_dlg.h"
#include "windows/resize/resize_dlg.h"
#include "adapters/gdiplus.h"
#include "adapters/long_path.h"
#include "res/resource.h"
#include "core/run/run_progress.h"

namespace {

constexpr UINT_PTR ProgressTimerId = 1;
constexpr UINT ProgressTimerMs = 200;
// Fires once after "Cancel upload" while a request is in flight.
constexpr UINT_PTR AbortGraceTimerId = 2;

constexpr int ThumbX = 20;
constexpr int ThumbY = 20;
constexpr int TextX = 134;
constexpr int TextY = 20;
constexpr size_t ShortNameLength = 13;
// The run's progress line below the window's own controls.
constexpr int ProgressLineHeight = 16;
constexpr int ProgressLineMargin = 13;
constexpr int ProgressLineControlId = 0x5151;

// SetWindowTheme, bound on first use so the program also runs where
// UxTheme.dll is missing.
using SetWindowThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);

SetWindowThemeFn GetSetWindowTheme() {
  static const SetWindowThemeFn fn = []() -> SetWindowThemeFn {
    HMODULE uxtheme = LoadLibraryA("uxtheme.dll");
    if (!uxtheme) return nullptr;
    return reinterpret_cast<SetWindowThemeFn>(
        reinterpret_cast<void*>(GetProcAddress(uxtheme, "SetWindowTheme")));
  }();
  return fn;
}

// Owners of the GDI+ objects one paint uses.
struct CGdipGraphics {
  explicit CGdipGraphics(HDC dc) { Gdiplus::DllExports::GdipCreateFromHDC(dc, &handle); }
  ~CGdipGraphics() {
    if (handle) Gdiplus::DllExports::GdipDeleteGraphics(handle);
  }
  Gdiplus::GpGraphics* handle = nullptr;
};

struct CGdipFontFamily {
  ~CGdipFontFamily() {
    if (handle) Gdiplus::DllExports::GdipDeleteFontFamily(handle);
  }
  Gdiplus::GpFontFamily* handle = nullptr;
};

struct CGdipFont {
  explicit CGdipFont(Gdiplus::GpFontFamily* family) {
    if (family) {
      Gdiplus::DllExports::GdipCreateFont(family, 8.0f, Gdiplus::FontStyleRegular,
                                          Gdiplus::UnitPoint, &handle);
    }
  }
  ~CGdipFont() {
    if (handle) Gdiplus::DllExports::GdipDeleteFont(handle);
  }
  Gdiplus::GpFont* handle = nullptr;
};

struct CGdipBrush {
  ~CGdipBrush() {
    if (handle) Gdiplus::DllExports::GdipDeleteBrush(handle);
  }
  Gdiplus::GpSolidFill* handle = nullptr;
};

struct CGdipImage {
  ~CGdipImage() {
    if (handle) Gdiplus::DllExports::GdipDisposeImage(handle);
  }
  Gdiplus::GpImage* handle = nullptr;
};

}  // namespace

namespace {

class CAlbumPrompt : public IAlbumPrompt {
 public:
  explicit CAlbumPrompt(HWND owner) : dialog_(owner) {}
  void AddAlbum(int id, const std::string& name) override { dialog_.AddAlbum(id, name); }
  int DoModal() override { return static_cast<int>(dialog_.DoModal()); }
  int GetSelectedAlbumId() const override { return dialog_.GetSelectedAlbumId(); }

 private:
  CFolderDlg dialog_;
};

}  // namespace

CTransferDialog::CTransferDialog(HWND parent)
    : CDialog(IDD_TRANSFER, parent), run_(*this, GetAppProfile()) {}

CTransferDialog::~CTransferDialog() = default;

INT_PTR CTransferDialog::RunUpload(CUploadList& list) {
  run_.TakeItems(list);
  INT_PTR result = IDCANCEL;
  // Without credentials the run ends here: no window, no request.
  if (run_.Start(CreateTransport()) == 0) {
    // A quit ends the loop with whatever it likes: only the run says OK.
    result = DoModal() == IDOK && run_.IsFinished() ? IDOK : IDCANCEL;
  }
  // Esc ends the loop even while a request runs.
  run_.Finish();
  return result;
}

void CTransferDialog::SetUploadList(CUploadList* list) {
  if (list) run_.TakeItems(*list);
}

std::unique_ptr<CHttpUpload> CTransferDialog::CreateTransport() {
  return std::make_unique<CHttpUpload>();
}

void CTransferDialog::SetStatusText(const std::string& text) {
  run_.State().SetStatusText(text);
  Repaint();
}

void CTransferDialog::Repaint() {
  std::lock_guard<std::mutex> lock(windowLock_);
  if (window_) InvalidateRect(window_, nullptr, TRUE);
}

HWND CTransferDialog::PromptOwner() const {
  HWND window = GetSafeHwnd();
  return window ? window : GetParentHwnd();
}

void CTransferDialog::Post(WORD command) {
  if (HWND window = GetSafeHwnd()) PostMessageA(window, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

int CTransferDialog::AskLogin(std::string& username, std::string& password) {
  CLoginDlg login(PromptOwner());
  const int result = static_cast<int>(login.DoModal());
  username = login.GetUsername();
  password = login.GetPassword();
  return result;
}

std::unique_ptr<IAlbumPrompt> CTransferDialog::CreateAlbumPrompt() {
  return std::make_unique<CAlbumPrompt>(PromptOwner());
}

int CTransferDialog::AskAlbumName(std::string& name) {
  CFolderNameDlg nameDlg(PromptOwner());
  const int result = static_cast<int>(nameDlg.DoModal());
  name = nameDlg.GetAlbumName();
  return result;
}

int CTransferDialog::AskResize() {
  CResizeDlg resize(PromptOwner());
  return static_cast<int>(resize.DoModal());
}

void CTransferDialog::ShowMessage(const std::string& text, unsigned type) {
  AppMessageBox(PromptOwner(), text.c_str(), MB_OK | type);
}

// True when the program is ending: a WM_QUIT waits in this thread's queue
// (it ends every modal loop, which then returns what it likes), or the
// window is gone.
bool CTransferDialog::IsClosing() {
  HWND window = GetSafeHwnd();
  if (window && !IsWindow(window)) return true;
  MSG msg;
  return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}

BOOL CTransferDialog::OnInitDialog() {
  progress_ = GetDlgItem(IDC_TRANSFER_PROGRESS);
  SetWindowText("Uploading...");
  SetDlgItemText(IDC_TRANSFER_CANCEL, "Cancel upload");
  SendMessageA(progress_, PBM_SETRANGE, 0, MAKELPARAM(0, 100));

  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExA(&version) &&
      WantsClassicProgressBar(version.dwPlatformId, version.dwMajorVersion,
                              version.dwMinorVersion)) {
    if (SetWindowThemeFn setTheme = GetSetWindowTheme()) setTheme(progress_, L" ", L" ");
  }

  SetTimer(GetSafeHwnd(), ProgressTimerId, ProgressTimerMs, nullptr);
  AddProgressLine();
  CenterWindow();
  {
    std::lock_guard<std::mutex> lock(windowLock_);
    window_ = GetSafeHwnd();
  }
  return TRUE;
}

bool CTransferDialog::OnCommand(WORD id, WORD code, HWND control) {
  if (id == IDC_TRANSFER_CANCEL) {
    if (code == BN_CLICKED && run_.Cancel()) {
      // A request that cannot follow the cancel at once ends the run anyway.
      SetTimer(GetSafeHwnd(), AbortGraceTimerId, AbortGraceMs, nullptr);
    }
    return true;
  }
  // Esc ends the loop at once; the request's grace period starts now.
  if (id == IDCANCEL) run_.Cancel();
  return CDialog::OnCommand(id, code, control);
}

bool CTransferDialog::OnMessage(UINT msg, WPARAM wp, LPARAM /*lp*/, LRESULT* result) {
  switch (msg) {
    case WM_PAINT:
      OnPaint();
      *result = 0;
      return true;
    case WM_TIMER:
      OnTimer(static_cast<UINT_PTR>(wp));
      return false;
    case WM_DESTROY: {
      std::lock_guard<std::mutex> lock(windowLock_);
      window_ = nullptr;
      return false;
    }
    default:
      return false;
  }
}

int CTransferDialog::ProgressPercent(int value, int total) {
  if (total <= 0) return 0;
  return static_cast<int>(static_cast<long long>(value) * 100 / total);
}

bool CTransferDialog::WantsClassicProgressBar(DWORD platformId, DWORD major, DWORD minor) {
  return platformId >= VER_PLATFORM_WIN32_NT && major > 4 && minor != 0;
}

void CTransferDialog::OnTimer(UINT_PTR id) {
  if (id == AbortGraceTimerId) {
    KillTimer(GetSafeHwnd(), AbortGraceTimerId);
    if (run_.IsRequestInFlight()) EndDialog(IDCANCEL);
    return;
  }
  const TransferRunState& state = run_.State();
  const int total = state.progressTotal;
  if (total > 0 && progress_) {
    SendMessageA(progress_, PBM_SETPOS,
                 static_cast<WPARAM>(ProgressPercent(state.progressValue, total)), 0);
  }
  UpdateProgressLine();
}

void CTransferDialog::AddProgressLine() {
  runProgress_.reset();
  progressLine_ = nullptr;
  // A single file needs no place in the run: that window stays as it was.
  if (run_.ItemCount() < 2) return;
  std::vector<long long> sizes;
  sizes.reserve(static_cast<size_t>(run_.ItemCount()));
  for (int i = 0; i < run_.ItemCount(); ++i) {
    const CMediaItem* item = run_.Item(i);
    sizes.push_back(item ? item->GetFileSize() : 0);
  }
  runProgress_ = std::make_unique<CRunProgress>();
  runProgress_->Start(sizes);
  progressStart_ = GetTickCount();

  RECT window{};
  RECT client{};
  GetWindowRect(GetSafeHwnd(), &window);
  GetClientRect(GetSafeHwnd(), &client);
  SetWindowPos(GetSafeHwnd(), nullptr, 0, 0, window.right - window.left,
               window.bottom - window.top + ProgressLineHeight, SWP_NOMOVE | SWP_NOZORDER);
  progressLine_ = CreateWindowExW(
      0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX, ProgressLineMargin,
      client.bottom - 4, client.right - 2 * ProgressLineMargin, ProgressLineHeight, GetSafeHwnd(),
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(ProgressLineControlId)), nullptr, nullptr);
  if (progressLine_) {
    SendMessageA(progressLine_, WM_SETFONT, SendMessageA(GetSafeHwnd(), WM_GETFONT, 0, 0), FALSE);
  }
}

void CTransferDialog::UpdateProgressLine() {
  if (!runProgress_ || !progressLine_) return;
  // Without a request of the run (a test drives the values) the file in
  // flight is the run's.
  const int index = run_.BodyIndex() >= 0 ? run_.BodyIndex() : run_.State().index;
  if (index >= 0) {
    runProgress_->Sample((GetTickCount() - progressStart_) / 1000.0, index, run_.BodySent(),
                         run_.BodyTotal());
  }
  // U+00B7 between the parts, whatever the code page.
  const std::string line = runProgress_->Line("\xC2\xB7");
  if (line == progressLineText_) return;
  progressLineText_ = line;
  SetWindowTextUtf8(progressLine_, line);
}

std::string CTransferDialog::GetProgressLineForTest() const {
  return progressLineText_;
}

std::string CTransferDialog::FormatPaintText(const std::string& status, const CMediaItem* item) {
  std::string text = status + "...";
  if (!item) return text;
  text += "\n\n" + item->GetShortName(ShortNameLength) + "\n" +
          std::to_string(item->GetFileSize() / 1024) + " kb\n";
  if (!item->IsVideo() && !item->IsAudio()) {
    text += std::to_string(item->GetWidth()) + "x" + std::to_string(item->GetHeight()) + " pix\n";
  }
  return text;
}

void CTransferDialog::OnPaint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(GetSafeHwnd(), &paint);
  if (!dc) return;
  const CMediaItem* item = run_.Item(run_.State().index);
  if (EnsureGdiplus()) {
    // Released (in reverse order) before EndPaint.
    CGdipGraphics graphics(dc);
    CGdipFontFamily family;
    if (Gdiplus::DllExports::GdipCreateFontFamilyFromName(L"Arial", nullptr, &family.handle) !=
        Gdiplus::Ok) {
      Gdiplus::DllExports::GdipGetGenericFontFamilySansSerif(&family.handle);
    }
    CGdipFont font(family.handle);
    if (!font.handle) {
      // Neither family is installed (seen under Wine): let the font mapper
      // pick the closest face for an 8 point Arial.
      LOGFONTA logFont{};
      logFont.lfHeight = -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72);
      logFont.lfWeight = FW_NORMAL;
      lstrcpynA(logFont.lfFaceName, "Arial", LF_FACESIZE);
      Gdiplus::DllExports::GdipCreateFontFromLogfontA(dc, &logFont, &font.handle);
    }
    CGdipBrush brush;
    Gdiplus::DllExports::GdipCreateSolidFill(Gdiplus::Color::MakeARGB(255, 0, 0, 0), &brush.handle);
    RECT client{};
    GetClientRect(GetSafeHwnd(), &client);

    int textX = client.left + ThumbX;
    if (item) {
      // Made for this paint; the item keeps no bitmap of its own.
      if (const CBitmap thumbnail = ItemBitmap(*item)) {
        CGdipImage bitmap;
        if (Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(
                thumbnail.Get(), nullptr, reinterpret_cast<Gdiplus::GpBitmap**>(&bitmap.handle)) ==
                Gdiplus::Ok &&
            graphics.handle) {
          Gdiplus::DllExports::GdipDrawImageRectI(graphics.handle, bitmap.handle, ThumbX, ThumbY,
                                                  CMediaItem::ThumbWidth, CMediaItem::ThumbHeight);
        }
      }
      textX = client.left + TextX;
    }
    const std::wstring text = Utf8ToWide(FormatPaintText(run_.State().GetStatusText(), item));
    if (graphics.handle && font.handle && brush.handle) {
      // Anchored at a point: an empty layout box, no string format.
      const Gdiplus::RectF origin(static_cast<Gdiplus::REAL>(textX),
                                  static_cast<Gdiplus::REAL>(client.top + TextY), 0.0f, 0.0f);
      Gdiplus::DllExports::GdipDrawString(graphics.handle, text.c_str(),
                                          static_cast<INT>(text.size()), font.handle, &origin,
                                          nullptr, brush.handle);
    }
  }
  EndPaint(GetSafeHwnd(), &paint);
}
