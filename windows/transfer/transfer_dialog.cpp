#include "windows/transfer/transfer_dialog.h"

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <utility>
#include <vector>

#include "core/media/media_item.h"
#include "windows/common/item_bitmap.h"
#include "windows/upload_list/media_list_ctrl.h"
#include "core/settings/profile.h"
#include "windows/album/folder_dlg.h"
#include "windows/album/folder_name_dlg.h"
#include "windows/login/login_dlg.h"
#include "windows/resize/resize_dlg.h"
#include "adapters/gdiplus.h"
#include "res/resource.h"
#include "core/service/album_list.h"
#include "core/run/run_progress.h"

namespace {

// A report of the client is waiting in the queue.
constexpr UINT MsgRunEvent = WM_APP + 0x31;
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

std::wstring ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n =
      MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  }
  return wide;
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

// The service client as the run sees it. Each command marks a request in
// flight first, since its final report may come back before the call returns.
class CTransferDialog::CClientPort : public IRunClient {
 public:
  explicit CClientPort(CTransferDialog& dialog) : dialog_(dialog) {}
  void LogIn(const std::string& url, const std::string& username, const std::string& password,
             const std::string& language, const std::string& version) override {
    dialog_.BeginRequest();
    dialog_.client_->LogIn(url, username, password, language, version);
  }
  void DirList() override {
    dialog_.BeginRequest();
    dialog_.client_->DirList();
  }
  void CreateDir(const std::string& name) override {
    dialog_.BeginRequest();
    dialog_.client_->CreateDir(name);
  }
  void Upload(unsigned int albumId, const std::string& filename, const std::string& keyword,
              const std::string& desc, const std::string& mimeType,
              const std::string& path) override {
    dialog_.BeginRequest();
    // The worker reports this body's bytes from now on.
    dialog_.bodySent_ = 0;
    dialog_.bodyTotal_ = 0;
    dialog_.bodyIndex_ = dialog_.state_.index;
    dialog_.client_->Upload(albumId, filename, keyword, desc, mimeType, path);
  }
  void Abort() override { dialog_.client_->Abort(); }

 private:
  CTransferDialog& dialog_;
};

// The run's files as the dialog took them when the run started. Index i is
// the run's file i, wherever the list holds it now: files that arrive during
// the run are appended to the list and never become part of it.
class CTransferDialog::CItemsPort : public IRunItems {
 public:
  CItemsPort(CMediaListCtrl& list, std::vector<CMediaItem*>& items) : list_(list), items_(items) {}
  int Count() const override { return static_cast<int>(items_.size()); }
  std::string GetName(int i) const override { return At(i).GetName(); }
  std::string GetKeywords(int i) const override { return At(i).GetKeywords(); }
  std::string GetDescription(int i) const override { return At(i).GetDescription(); }
  bool IsVideo(int i) const override { return At(i).IsVideo(); }
  bool IsAudio(int i) const override { return At(i).IsAudio(); }
  int GetWidth(int i) const override { return At(i).GetWidth(); }
  int GetHeight(int i) const override { return At(i).GetHeight(); }
  std::string GetPath(int i) const override { return At(i).GetPath(); }
  std::string GetMimeType(int i) const override { return At(i).GetMimeType(); }
  bool Resize(int i, int cx, int cy) override { return At(i).Resize(cx, cy); }
  void RemoveAt(int i) override {
    CMediaItem*& item = items_.at(static_cast<size_t>(i));
    const int position = PositionOf(list_, item);
    if (position >= 0) list_.RemoveAt(position);
    item = nullptr;
  }

  // Where the list holds item now; -1 when it does not.
  static int PositionOf(const CMediaListCtrl& list, const CMediaItem* item) {
    const auto& items = list.GetItems();
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i].get() == item) return static_cast<int>(i);
    }
    return -1;
  }

 private:
  CMediaItem& At(int i) const { return *items_.at(static_cast<size_t>(i)); }
  CMediaListCtrl& list_;
  std::vector<CMediaItem*>& items_;
};

class CTransferDialog::CPromptsPort : public IRunPrompts {
 public:
  explicit CPromptsPort(CTransferDialog& dialog) : dialog_(dialog) {}

  int AskLogin(std::string& username, std::string& password) override {
    CLoginDlg login(dialog_.PromptOwner());
    const int result = static_cast<int>(login.DoModal());
    username = login.GetUsername();
    password = login.GetPassword();
    return result;
  }
  bool IsClosing() override { return dialog_.IsClosing(); }
  std::unique_ptr<IAlbumPrompt> CreateAlbumPrompt() override {
    return std::make_unique<CAlbumPrompt>(dialog_.PromptOwner());
  }
  int AskAlbumName(std::string& name) override {
    CFolderNameDlg nameDlg(dialog_.PromptOwner());
    const int result = static_cast<int>(nameDlg.DoModal());
    name = nameDlg.GetAlbumName();
    return result;
  }
  int AskResize() override {
    CResizeDlg resize(dialog_.PromptOwner());
    return static_cast<int>(resize.DoModal());
  }
  void ShowMessage(const std::string& text, unsigned type) override {
    AppMessageBox(dialog_.PromptOwner(), text.c_str(), MB_OK | type);
  }
  void StatusChanged() override { dialog_.Repaint(); }
  void PostOk() override {
    dialog_.runFinished_ = true;
    Post(IDOK);
  }
  void PostCancel() override { Post(IDCANCEL); }

 private:
  class CAlbumPrompt : public IAlbumPrompt {
   public:
    explicit CAlbumPrompt(HWND owner) : dialog_(owner) {}
    void AddAlbum(int id, const std::string& name) override { dialog_.AddAlbum(id, name); }
    int DoModal() override { return static_cast<int>(dialog_.DoModal()); }
    int GetSelectedAlbumId() const override { return dialog_.GetSelectedAlbumId(); }

   private:
    CFolderDlg dialog_;
  };

  void Post(WORD command) {
    if (HWND window = dialog_.GetSafeHwnd()) {
      PostMessageA(window, WM_COMMAND, MAKEWPARAM(command, 0), 0);
    }
  }

  CTransferDialog& dialog_;
};

CTransferDialog::CTransferDialog(HWND parent) : CDialog(IDD_TRANSFER, parent) {}

CTransferDialog::~CTransferDialog() {
  // RunUpload has already let go of the last request; this covers a dialog
  // destroyed while a run is still unwinding.
  StopRequest();
  client_.reset();
}

INT_PTR CTransferDialog::RunUpload(CMediaListCtrl& list) {
  SetUploadList(&list);
  runFinished_ = false;
  abortedAt_ = 0;
  bodyIndex_ = -1;
  client_ = std::make_unique<CServiceClient>(this, CreateTransport());
  CClientPort clientPort(*this);
  CItemsPort itemsPort(list, runItems_);
  CPromptsPort promptsPort(*this);
  CUploadRun run(state_, clientPort, itemsPort, promptsPort, GetAppProfile());
  run_ = &run;

  INT_PTR result = IDCANCEL;
  // Without credentials the run ends here: no window, no request.
  if (run.StartLogIn() == 0) {
    // A quit ends the loop with whatever it likes: only the run says OK.
    result = DoModal() == IDOK && runFinished_ ? IDOK : IDCANCEL;
    // Esc ends the loop even while a request runs.
    StopRequest();
  }
  // A request still running now is abandoned by its transport, which
  // reports nothing more; one that ended has queued its report.
  client_.reset();

  // What the window did not get to: only an accepted file still matters.
  std::deque<CRunEvent> late;
  {
    std::lock_guard<std::mutex> lock(eventLock_);
    late.swap(events_);
    requestInFlight_ = false;
  }
  for (const CRunEvent& event : late) {
    if (event.kind == CRunEvent::UploadDone) run.OnUploadDoneAfterEnd(event.result);
  }
  run_ = nullptr;
  list_ = nullptr;
  return result;
}

std::vector<CMediaItem*> CTransferDialog::GetRunItemsLeft() const {
  std::vector<CMediaItem*> left;
  for (CMediaItem* item : runItems_) {
    if (item) left.push_back(item);
  }
  return left;
}

void CTransferDialog::SetUploadList(CMediaListCtrl* list) {
  list_ = list;
  runItems_.clear();
  if (!list) return;
  for (const auto& item : list->GetItems()) runItems_.push_back(item.get());
}

const CMediaItem* CTransferDialog::RunItem(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= runItems_.size()) return nullptr;
  return runItems_[static_cast<size_t>(index)];
}

bool CTransferDialog::IsClosing() const {
  HWND window = GetSafeHwnd();
  if (window && !IsWindow(window)) return true;
  MSG msg;
  return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}

std::unique_ptr<CHttpUpload> CTransferDialog::CreateTransport() {
  return std::make_unique<CHttpUpload>();
}

void CTransferDialog::SetStatusText(const std::string& text) {
  state_.SetStatusText(text);
  Repaint();
}

void CTransferDialog::Repaint() {
  std::lock_guard<std::mutex> lock(eventLock_);
  if (eventWindow_) InvalidateRect(eventWindow_, nullptr, TRUE);
}

HWND CTransferDialog::PromptOwner() const {
  HWND window = GetSafeHwnd();
  return window ? window : GetParentHwnd();
}

// Progress changes only display values, so it is taken on the worker.
void CTransferDialog::OnUploadProgress(int sent, int total) {
  bodySent_ = sent;
  bodyTotal_ = total;
  if (run_) {
    run_->OnUploadProgress(sent, total);
  } else {
    state_.progressValue = sent;
    state_.progressTotal = total;
  }
}

void CTransferDialog::OnResponseProgress(int received, int available) {
  state_.progressValue = received;
  state_.progressTotal = available;
}

void CTransferDialog::OnLogInDone(int result) {
  CRunEvent event;
  event.kind = CRunEvent::LogInDone;
  event.result = result;
  QueueEvent(std::move(event));
}

void CTransferDialog::OnDirListDone(CAlbumList* list, int result) {
  CRunEvent event;
  event.kind = CRunEvent::DirListDone;
  event.result = result;
  if (list) {
    // Copied here: the list is ours to delete, and this thread is about to end.
    event.hasAlbums = true;
    std::string id;
    std::string name;
    for (int i = 0; list->GetAt(i, id, name); ++i) event.albums.emplace_back(id, name);
    delete list;
  }
  QueueEvent(std::move(event));
}

void CTransferDialog::OnCreateDirDone(int albumId, int result) {
  CRunEvent event;
  event.kind = CRunEvent::CreateDirDone;
  event.albumId = albumId;
  event.result = result;
  QueueEvent(std::move(event));
}

void CTransferDialog::OnUploadDone(int result) {
  CRunEvent event;
  event.kind = CRunEvent::UploadDone;
  event.result = result;
  QueueEvent(std::move(event));
}

void CTransferDialog::OnAborted() {
  CRunEvent event;
  event.kind = CRunEvent::Aborted;
  QueueEvent(std::move(event));
}

void CTransferDialog::BeginRequest() {
  std::lock_guard<std::mutex> lock(eventLock_);
  requestInFlight_ = true;
}

void CTransferDialog::QueueEvent(CRunEvent event) {
  std::lock_guard<std::mutex> lock(eventLock_);
  events_.push_back(std::move(event));
  requestInFlight_ = false;
  requestEnded_.notify_all();
  // Without a window yet, OnInitDialog posts for what is waiting.
  if (eventWindow_) PostMessageA(eventWindow_, MsgRunEvent, 0, 0);
}

bool CTransferDialog::IsRequestInFlight() const {
  std::lock_guard<std::mutex> lock(eventLock_);
  return requestInFlight_;
}

void CTransferDialog::AbortRequest() {
  if (!client_) return;
  // Also unblocks a request that waits on a stalled server.
  client_->Abort();
  if (!abortedAt_) abortedAt_ = GetTickCount();
}

void CTransferDialog::StopRequest() {
  if (!IsRequestInFlight()) return;
  AbortRequest();
  // What is left of the grace period that began with the first cancel.
  const DWORD waited = GetTickCount() - abortedAt_;
  if (waited >= AbortGraceMs) return;
  std::unique_lock<std::mutex> lock(eventLock_);
  requestEnded_.wait_for(lock, std::chrono::milliseconds(AbortGraceMs - waited),
                         [this] { return !requestInFlight_; });
}

void CTransferDialog::OnRunEvent() {
  CRunEvent event;
  {
    std::lock_guard<std::mutex> lock(eventLock_);
    if (events_.empty()) return;
    event = std::move(events_.front());
    events_.pop_front();
  }
  if (!run_) return;
  switch (event.kind) {
    case CRunEvent::LogInDone:
      run_->OnLogInDone(event.result);
      break;
    case CRunEvent::DirListDone:
      run_->OnDirListDone(event.hasAlbums ? &event.albums : nullptr, event.result);
      break;
    case CRunEvent::CreateDirDone:
      run_->OnCreateDirDone(event.albumId, event.result);
      break;
    case CRunEvent::UploadDone:
      run_->OnUploadDone(event.result);
      break;
    case CRunEvent::Aborted:
      run_->OnAborted();
      break;
  }
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

  // From now on reports reach the window; wake it for those that came early.
  {
    std::lock_guard<std::mutex> lock(eventLock_);
    eventWindow_ = GetSafeHwnd();
    for (size_t i = 0; i < events_.size(); ++i) PostMessageA(eventWindow_, MsgRunEvent, 0, 0);
  }
  return TRUE;
}

bool CTransferDialog::OnCommand(WORD id, WORD code, HWND control) {
  if (id == IDC_TRANSFER_CANCEL) {
    if (code == BN_CLICKED && client_ && IsRequestInFlight()) {
      AbortRequest();
      // A request that cannot follow the abort at once ends the run anyway.
      SetTimer(GetSafeHwnd(), AbortGraceTimerId, AbortGraceMs, nullptr);
    }
    return true;
  }
  // Esc ends the loop at once; the request's grace period starts now.
  if (id == IDCANCEL && IsRequestInFlight()) AbortRequest();
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
    case MsgRunEvent:
      OnRunEvent();
      *result = 0;
      return true;
    case WM_DESTROY: {
      std::lock_guard<std::mutex> lock(eventLock_);
      eventWindow_ = nullptr;
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
    if (IsRequestInFlight()) EndDialog(IDCANCEL);
    return;
  }
  const int total = state_.progressTotal;
  if (total > 0 && progress_) {
    SendMessageA(progress_, PBM_SETPOS,
                 static_cast<WPARAM>(ProgressPercent(state_.progressValue, total)), 0);
  }
  UpdateProgressLine();
}

void CTransferDialog::AddProgressLine() {
  runProgress_.reset();
  progressLine_ = nullptr;
  // A single file needs no place in the run: that window stays as it was.
  if (runItems_.size() < 2) return;
  std::vector<long long> sizes;
  sizes.reserve(runItems_.size());
  for (const CMediaItem* item : runItems_) sizes.push_back(item ? item->GetFileSize() : 0);
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
  const int index = bodyIndex_ >= 0 ? bodyIndex_.load() : state_.index;
  if (index >= 0) {
    runProgress_->Sample((GetTickCount() - progressStart_) / 1000.0, index, bodySent_, bodyTotal_);
  }
  // U+00B7 between the parts, whatever the code page.
  const std::string line = runProgress_->Line("\xC2\xB7");
  if (line == progressLineText_) return;
  progressLineText_ = line;
  const int n = MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, &wide[0], n);
  SetWindowTextW(progressLine_, wide.c_str());
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
  const CMediaItem* item = RunItem(state_.index);
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
    const std::wstring text = ToWide(FormatPaintText(state_.GetStatusText(), item));
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
