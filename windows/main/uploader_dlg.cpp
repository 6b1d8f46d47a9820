#include "windows/main/uploader_dlg.h"

#include <commctrl.h>
#include <commdlg.h>
#include <cderr.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <tuple>
#include <utility>
#include <vector>

#include "adapters/long_path.h"
#include "core/text/command_line.h"
#include "core/text/file_selection.h"
#include "core/ports/platform.h"
#include "core/settings/program_identity.h"
#include "core/settings/profile.h"
#include "core/settings/window_placement.h"
#include "windows/common/artwork.h"
#include "windows/main/about_dlg.h"
#include "windows/main/main_layout.h"
#include "windows/settings/settings_dlg.h"
#include "framework/app.h"
#include "res/resource.h"
#include "core/service/service_urls.h"
#include "windows/transfer/transfer_dialog.h"

namespace {

const char kFileFilter[] =
    "JPEG (*.JPG;*.JPEG;*.JFIF)|*.JPG;*.JPEG;*.JPE;*.JIF|"
    "PNG (*.PNG)|*.PNG|"
    "GIF (*.GIF)|*.GIF|"
    "Bitmap (*.BMP)|*.BMP|"
    "MPEG (*.MPG;*.MPEG;*.MP2;*.MP4)|*.MPG;*.MPEG;*.MP2;*.MP4|"
    "AVI (*.AVI;*.DIVX;*.XVID)|*.AVI;*.DIVX;*.XVID|"
    "Quicktime (*.mov)|*.mov|"
    "Flash Video (*.FLV)|*.FLV|"
    "WMV (*.WMV)|*.WMV|"
    "MP3 (*.MP3)|*.MP3|"
    "WMA (*.WMA)|*.WMA|"
    "Wave (*.WAV)|*.WAV|"
    "Ogg Vorbis (*.OGG)|*.OGG|"
    "MP4 Audio (*.M4A)|*.M4A|"
    "All Files (*.*)|*.*||";

constexpr DWORD kSelectionBufferSize = 10240;
constexpr UINT_PTR kOkSubclassId = 1002;

// The common dialog wants NUL-separated pairs where the filter has "|".
std::wstring CommonDialogFilter(const char* filter) {
  std::wstring result = Utf8ToWide(filter);
  for (wchar_t& c : result) {
    if (c == L'|') c = L'\0';
  }
  return result;
}

// The selection buffer of the file-open dialog and what it last showed.
// The buffer grows with the selection, so a selection of any size fits. The
// wide dialog: names the code page cannot spell come back whole.
struct CFileDialogState {
  std::vector<wchar_t> buffer;
  std::string spec;         // UTF-8
  size_t folderLength = 0;  // in characters of the buffer
};

// Makes the dialog's buffer large enough for what its file name field and
// folder now hold; at OK also notes them, for a refusal's message.
void GrowSelectionBuffer(HWND dialog, OPENFILENAMEW* ofn, bool atOk) {
  if (!ofn || !ofn->lCustData) return;
  auto* state = reinterpret_cast<CFileDialogState*>(ofn->lCustData);
  const LRESULT specLength = SendMessageW(dialog, CDM_GETSPEC, 0, 0);
  const LRESULT folderLength = SendMessageW(dialog, CDM_GETFOLDERPATH, 0, 0);
  if (specLength < 0 || folderLength < 0) return;
  // Room for the terminating zeros and a little more.
  const size_t spec = static_cast<size_t>(specLength) + 2;
  const size_t folder = static_cast<size_t>(folderLength) + 2;
  try {
    if (spec + folder > ofn->nMaxFile) {
      // Twice the size at least, so a growing selection seldom reallocates.
      const size_t size = std::max<size_t>(spec + folder, 2 * size_t{ofn->nMaxFile});
      if (size > MAXDWORD / sizeof(wchar_t)) return;
      state->buffer.assign(size, L'\0');
      ofn->lpstrFile = state->buffer.data();
      ofn->nMaxFile = static_cast<DWORD>(size);
    }
    if (!atOk) return;
    std::vector<wchar_t> text(std::max(spec, folder), L'\0');
    SendMessageW(dialog, CDM_GETSPEC, static_cast<WPARAM>(text.size()),
                 reinterpret_cast<LPARAM>(text.data()));
    state->spec = WideToUtf8(std::wstring(text.data()));
    text.assign(text.size(), L'\0');
    SendMessageW(dialog, CDM_GETFOLDERPATH, static_cast<WPARAM>(text.size()),
                 reinterpret_cast<LPARAM>(text.data()));
    state->folderLength = wcslen(text.data());
  } catch (const std::bad_alloc&) {
    // Keep the buffer; the refusal is reported after the dialog.
  }
}

// Sees OK before the dialog handles it, for names typed into the field.
LRESULT CALLBACK FileDialogOkProc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                  DWORD_PTR data) {
  try {
    if (msg == WM_COMMAND && LOWORD(wp) == IDOK) {
      GrowSelectionBuffer(dialog, reinterpret_cast<OPENFILENAMEW*>(data), true);
    } else if (msg == WM_NCDESTROY) {
      RemoveWindowSubclass(dialog, FileDialogOkProc, kOkSubclassId);
    }
  } catch (...) {
    // The selection is then refused after the dialog, as one too large.
  }
  return DefSubclassProc(dialog, msg, wp, lp);
}

// The explorer-style dialog's hook: a child dialog of the file dialog.
UINT_PTR CALLBACK FileDialogHook(HWND hook, UINT msg, WPARAM, LPARAM lp) {
  try {
    if (msg == WM_INITDIALOG) {
      SetWindowSubclass(GetParent(hook), FileDialogOkProc, kOkSubclassId,
                        static_cast<DWORD_PTR>(lp));
    } else if (msg == WM_NOTIFY) {
      const auto* notify = reinterpret_cast<const OFNOTIFYW*>(lp);
      if (notify->hdr.code == CDN_SELCHANGE) {
        GrowSelectionBuffer(GetParent(hook), notify->lpOFN, false);
      }
    }
  } catch (...) {
    // Nothing may leave a hook procedure.
  }
  return 0;
}

BOOL CALLBACK AddWorkArea(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  auto* list = reinterpret_cast<std::vector<quib::ScreenBox>*>(data);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoA(monitor, &info)) {
    const quib::ScreenBox box{info.rcWork.left, info.rcWork.top, info.rcWork.right,
                              info.rcWork.bottom};
    if (info.dwFlags & MONITORINFOF_PRIMARY) {
      list->insert(list->begin(), box);
    } else {
      list->push_back(box);
    }
  }
  return TRUE;
}

// The work areas of the monitors, the primary monitor's first.
std::vector<quib::ScreenBox> WorkAreas() {
  std::vector<quib::ScreenBox> areas;
  EnumDisplayMonitors(nullptr, nullptr, AddWorkArea, reinterpret_cast<LPARAM>(&areas));
  return areas;
}

}  // namespace

CUploaderDlg::CUploaderDlg(HWND parent)
    : CDialog(IDD_MAIN, parent),
      icon_(static_cast<HICON>(LoadImageA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME),
                                          IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                          GetSystemMetrics(SM_CYICON), 0))),
      smallIcon_(static_cast<HICON>(
          LoadImageA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                     GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0))) {}

CUploaderDlg::~CUploaderDlg() = default;

BOOL CUploaderDlg::OnInitDialog() {
  dpi_ = GetWindowDpi(GetSafeHwnd());
  MeasureFrame();
  KeepOwnLayoutOnDpiChange(GetSafeHwnd());
  banner_ = FindPicture(GetSafeHwnd());
  add_.Bind(*this, IDC_MAIN_ADD);
  remove_.Bind(*this, IDC_MAIN_REMOVE);
  rotate_.Bind(*this, IDC_MAIN_ROTATE);
  upload_.Bind(*this, IDC_MAIN_UPLOAD);
  settings_.Bind(*this, IDC_MAIN_SETTINGS);
  help_.Bind(*this, IDC_MAIN_HELP);
  web_.Bind(*this, IDC_MAIN_WEB);

  list_.Attach(GetDlgItem(IDC_MAIN_LIST), true);
  RegisterReflected(IDC_MAIN_LIST, &list_);

  if (HMENU menu = GetSystemMenu(GetSafeHwnd(), FALSE)) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, L"&Info about " QUIB_WINDOW_TITLE_WIDE L"...");
  }
  accelerators_ = LoadAcceleratorsA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_ACCELERATOR));
  SetWindowText(QUIB_WINDOW_TITLE);

  list_.InitList(dpi_);
  // Adding a card's worth of camera pictures must not freeze the window.
  uploads_.MakeThumbnailsInBackground(true);

  // The tiled background, unless the list already has an image. A list view
  // that cannot report its image (Wine's) has none yet.
  LVBKIMAGEA background{};
  background.ulFlags = LVBKIF_SOURCE_MASK;
  const bool ownBackground = !SendMessageA(list_.GetSafeHwnd(), LVM_GETBKIMAGEA, 0,
                                           reinterpret_cast<LPARAM>(&background)) ||
                             (background.ulFlags & LVBKIF_SOURCE_MASK) == LVBKIF_SOURCE_NONE;
  if (ownBackground) {
    SetListBackground();
    // Captions on the background, not in white boxes.
    SendMessageA(list_.GetSafeHwnd(), LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(CLR_NONE));
  }
  ApplyDpi(dpi_);

  uploads_.AddPaths(
      quib::SplitCommandLine(AfxGetApp() ? AfxGetApp()->m_lpCmdLine : "", quib::Paths()));

  RestorePlacement();
  SetFocus(add_.GetSafeHwnd());
  UpdateButtons();
  return FALSE;  // focus placed
}

void CUploaderDlg::ApplyDpi(int dpi) {
  HWND hwnd = GetSafeHwnd();
  const int before = dpi_;
  dpi_ = dpi;
  if (dpi != before) {
    for (CSkinButton* button : {&add_, &remove_, &rotate_, &upload_, &settings_, &help_, &web_}) {
      button->SetDpi(dpi);
    }
    SetListBackground();
    // The captions' font grows with the rest.
    if (CFont font = ScaleWindowFont(list_.GetSafeHwnd(), before, dpi)) {
      SendMessageA(list_.GetSafeHwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
      listFont_ = std::move(font);
    }
    list_.SetDpi(dpi);
  }
  if (CBitmap banner = LoadArtworkBitmap(IDB_BANNER, dpi)) {
    const SIZE size = GetBitmapSize(banner.Get());
    SetPicture(banner_, std::move(banner));
    SetWindowPos(banner_, nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // The icon holds the sizes every scale asks for.
  for (const auto& [which, cx, cy] : {std::tuple{ICON_BIG, SM_CXICON, SM_CYICON},
                                      std::tuple{ICON_SMALL, SM_CXSMICON, SM_CYSMICON}}) {
    HICON icon = static_cast<HICON>(
        LoadImageA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                   GetSystemMetricForDpi(cx, dpi), GetSystemMetricForDpi(cy, dpi), 0));
    if (!icon) continue;
    SendMessageA(hwnd, WM_SETICON, static_cast<WPARAM>(which), reinterpret_cast<LPARAM>(icon));
    (which == ICON_BIG ? icon_ : smallIcon_).Reset(icon);
  }
}

void CUploaderDlg::SetListBackground() {
  LVBKIMAGEA image{};
  image.ulFlags = LVBKIF_SOURCE_HBITMAP | LVBKIF_STYLE_TILE;
  // The list view owns the bitmap from here on; the list's own tiling keeps
  // a copy.
  image.hbm = LoadArtworkBitmap(IDB_LIST_BACKGROUND, dpi_).Detach();
  if (image.hbm) {
    list_.SetBackgroundTile(image.hbm);
    SendMessageA(list_.GetSafeHwnd(), LVM_SETBKIMAGEA, 0, reinterpret_cast<LPARAM>(&image));
  }
}

void CUploaderDlg::Layout() {
  HWND hwnd = GetSafeHwnd();
  RECT client{};
  if (IsIconic(hwnd) || !GetClientRect(hwnd, &client) || client.right <= 0 || client.bottom <= 0) {
    return;
  }
  const CMainLayout at = LayOutMain(client.right, client.bottom, dpi_);
  const auto place = [](HWND part, POINT p) {
    SetWindowPos(part, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  };
  place(add_.GetSafeHwnd(), at.add);
  place(remove_.GetSafeHwnd(), at.remove);
  place(rotate_.GetSafeHwnd(), at.rotate);
  place(settings_.GetSafeHwnd(), at.settings);
  place(help_.GetSafeHwnd(), at.help);
  place(web_.GetSafeHwnd(), at.web);
  place(upload_.GetSafeHwnd(), at.upload);
  place(banner_, POINT{0, 0});
  const int listWidth = at.list.right - at.list.left;
  SetWindowPos(list_.GetSafeHwnd(), nullptr, at.list.left, at.list.top, listWidth,
               at.list.bottom - at.list.top, SWP_NOZORDER | SWP_NOACTIVATE);
  // The entries flow into the new width.
  if (listWidth != listWidth_) list_.Arrange();
  listWidth_ = listWidth;
  // The banner's continuation is this window's own painting.
  RECT banner{};
  if (GetWindowRect(banner_, &banner)) {
    RECT strip{banner.right - banner.left, 0, client.right, banner.bottom - banner.top};
    InvalidateRect(hwnd, &strip, TRUE);
  }
}

void CUploaderDlg::OnPaint() {
  HWND hwnd = GetSafeHwnd();
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  RECT client{};
  GetClientRect(hwnd, &client);
  HBITMAP banner = reinterpret_cast<HBITMAP>(SendMessageA(banner_, STM_GETIMAGE, IMAGE_BITMAP, 0));
  const SIZE size = GetBitmapSize(banner);
  if (dc && banner && client.right > size.cx) {
    // Wider than the banner: its last column continues it to the edge (its
    // bar, gradient and band run across), under the bar's buttons.
    for (HWND button : {settings_.GetSafeHwnd(), help_.GetSafeHwnd(), web_.GetSafeHwnd()}) {
      RECT r{};
      GetWindowRect(button, &r);
      MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
      ExcludeClipRect(dc, r.left, r.top, r.right, r.bottom);
    }
    CMemoryDC memory(dc);
    CSelectObject select(memory.Get(), banner);
    if (select.Ok()) {
      StretchBlt(dc, size.cx, 0, client.right - size.cx, size.cy, memory.Get(), size.cx - 1, 0, 1,
                 size.cy, SRCCOPY);
    }
  }
  EndPaint(hwnd, &paint);
}

void CUploaderDlg::MeasureFrame() {
  // The frame as the window has it, not as the metrics for dpi_ say: the
  // two differ for a moment when the DPI changes.
  RECT window{};
  RECT client{};
  if (GetWindowRect(GetSafeHwnd(), &window) && GetClientRect(GetSafeHwnd(), &client)) {
    frame_ = SIZE{(window.right - window.left) - client.right,
                  (window.bottom - window.top) - client.bottom};
  }
}

SIZE CUploaderDlg::MinimumWindow() const {
  const SIZE least = MainMinimumClient(dpi_);
  return SIZE{least.cx + frame_.cx, least.cy + frame_.cy};
}

void CUploaderDlg::OnWindowPosChanging(WINDOWPOS* pos) {
  // The design's size is the smallest, also for a size set from outside.
  if (!pos || (pos->flags & SWP_NOSIZE) || IsIconic(GetSafeHwnd())) return;
  const SIZE least = MinimumWindow();
  pos->cx = std::max<int>(pos->cx, least.cx);
  pos->cy = std::max<int>(pos->cy, least.cy);
}

void CUploaderDlg::RestorePlacement() {
  HWND hwnd = GetSafeHwnd();
  const SIZE frame = MinimumWindow();
  RECT now{};
  GetWindowRect(hwnd, &now);
  // Without a stored place: where the template puts it, at the design size.
  quib::WindowPlacement placement;
  placement.box = quib::ScreenBox{now.left, now.top, now.left + frame.cx, now.top + frame.cy};
  placement.dpi = dpi_;
  const bool stored = quib::ReadWindowPlacement(GetAppProfile(), placement);
  const quib::ScreenBox box =
      stored ? quib::PlaceWindow(placement, dpi_, frame.cx, frame.cy,
                                 GetSystemMetricForDpi(SM_CYCAPTION, dpi_), WorkAreas())
             : placement.box;
  placed_ = true;
  SetWindowPos(hwnd, nullptr, box.left, box.top, box.Width(), box.Height(),
               SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();
  if (stored && placement.maximized) ShowWindow(hwnd, SW_MAXIMIZE);
}

void CUploaderDlg::SavePlacement() {
  HWND hwnd = GetSafeHwnd();
  if (!placed_ || IsRectEmpty(&normalRect_)) return;
  WINDOWPLACEMENT now{};
  now.length = sizeof now;
  GetWindowPlacement(hwnd, &now);
  quib::WindowPlacement placement;
  placement.box =
      quib::ScreenBox{normalRect_.left, normalRect_.top, normalRect_.right, normalRect_.bottom};
  placement.maximized = IsZoomed(hwnd) || (IsIconic(hwnd) && (now.flags & WPF_RESTORETOMAXIMIZED));
  placement.dpi = dpi_;
  quib::WriteWindowPlacement(GetAppProfile(), placement);
}

BOOL CUploaderDlg::PreTranslateMessage(MSG* msg) {
  if (msg->message >= WM_KEYDOWN && msg->message <= WM_KEYDOWN + 8 && accelerators_) {
    return TranslateAcceleratorA(GetSafeHwnd(), accelerators_, msg) != 0;
  }
  return FALSE;
}

bool CUploaderDlg::OnCommand(WORD id, WORD code, HWND control) {
  switch (id) {
    case IDC_MAIN_ADD:
      OnAddFiles();
      return true;
    case IDC_MAIN_REMOVE:
      if (running_) return true;
      list_.RemoveSelected();
      UpdateButtons();
      return true;
    case IDC_MAIN_ROTATE:
      if (running_) return true;
      list_.RotateSelected();
      return true;
    case IDC_MAIN_UPLOAD:
      OnUpload();
      return true;
    case IDC_MAIN_SETTINGS: {
      CSettingsDlg settingsDlg(GetSafeHwnd());
      settingsDlg.DoModal();
      return true;
    }
    case IDC_MAIN_HELP:
      OpenWebPage(QUIB_CONTACT_URL);
      return true;
    case IDC_MAIN_WEB:
      OpenWebPage(QUIB_HOME_URL);
      return true;
    case ID_CLICK_FOCUSED:
      // Return presses the focused button.
      if (HWND focus = GetFocus()) {
        SendMessageA(GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), 0),
                     reinterpret_cast<LPARAM>(focus));
      }
      return true;
    default:
      return CDialog::OnCommand(id, code, control);
  }
}

bool CUploaderDlg::OnNotify(NMHDR* header, LRESULT* result) {
  if (header->idFrom != IDC_MAIN_LIST) return false;
  switch (header->code) {
    case LVN_ITEMCHANGED:
      UpdateButtons();
      *result = 0;
      return true;
    case LVN_INSERTITEM:
      UpdateButtons();
      *result = 0;
      return true;
    case LVN_KEYDOWN: {
      const auto* key = reinterpret_cast<const NMLVKEYDOWN*>(header);
      if (key->wVKey == VK_DELETE && !running_) {
        list_.RemoveSelected();
        UpdateButtons();
      } else if (key->wVKey == 'A' && GetKeyState(VK_CONTROL) < 0) {
        // Only Ctrl+A: the flags carry the key's scan code on Windows, and
        // the plain A key's has bit 0x10 set.
        list_.SelectAll();
      }
      *result = 0;
      return true;
    }
    default:
      return false;
  }
}

bool CUploaderDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  switch (msg) {
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(GetSafeHwnd());
        about.DoModal();
        *result = 0;
        return true;
      }
      return false;
    case WM_PAINT:
      if (IsIconic(GetSafeHwnd())) {
        OnPaintMinimized();
      } else {
        OnPaint();
      }
      *result = 0;
      return true;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lp);
      const SIZE least = MinimumWindow();
      info->ptMinTrackSize = POINT{least.cx, least.cy};
      *result = 0;
      return true;
    }
    case WM_WINDOWPOSCHANGING:
      OnWindowPosChanging(reinterpret_cast<WINDOWPOS*>(lp));
      return false;
    case WM_WINDOWPOSCHANGED:
      if (!IsIconic(GetSafeHwnd())) MeasureFrame();
      if (placed_ && !IsIconic(GetSafeHwnd()) && !IsZoomed(GetSafeHwnd())) {
        GetWindowRect(GetSafeHwnd(), &normalRect_);
      }
      return false;  // the default turns it into WM_SIZE and WM_MOVE
    case WM_SIZE:
      if (wp != SIZE_MINIMIZED) Layout();
      return false;
    case WM_DPICHANGED: {
      // Moved to a monitor of another scale: the artwork for that one, at
      // the place and size the system suggests.
      ApplyDpi(HIWORD(wp));
      if (const auto* suggested = reinterpret_cast<const RECT*>(lp)) {
        SetWindowPos(GetSafeHwnd(), nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      }
      Layout();
      *result = 0;
      return true;
    }
    case WM_QUERYDRAGICON:
      *result = reinterpret_cast<LRESULT>(icon_.Get());
      return true;
    case WM_COPYDATA:
      // TRUE tells a second start that its names arrived.
      *result = OnCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lp)) ? TRUE : FALSE;
      return true;
    case WM_USER:
      *result = PRESENCE_REPLY;
      return true;
    case WM_CLOSE:
      // During a run its own window is the one to close.
      if (!running_ && ConfirmDiscard()) EndDialog(0);
      *result = 0;
      return true;
    case WM_QUERYENDSESSION:
      // Windows is ending: nobody is there to answer a question.
      *result = TRUE;
      return true;
    case WM_ENDSESSION:
      if (wp) {
        // The process may end any time after this: remove the temporary
        // copies now.
        SavePlacement();
        uploads_.RemoveAll();
        EndDialog(0);
      }
      *result = 0;
      return true;
    case WM_DESTROY:
      SavePlacement();
      // The banner we gave its control is ours to delete.
      SetPicture(banner_, CBitmap());
      uploads_.RemoveAll();
      return false;
    default:
      return false;
  }
}

void CUploaderDlg::OnPaintMinimized() {
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(GetSafeHwnd(), &paint);
  SendMessageA(GetSafeHwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client{};
  GetClientRect(GetSafeHwnd(), &client);
  const int cx = GetSystemMetrics(SM_CXICON);
  const int cy = GetSystemMetrics(SM_CYICON);
  DrawIcon(dc, (client.right - client.left - cx + 1) / 2, (client.bottom - client.top - cy + 1) / 2,
           icon_.Get());
  EndPaint(GetSafeHwnd(), &paint);
}

bool CUploaderDlg::OnCopyData(const COPYDATASTRUCT* data) {
  if (!data || (data->dwData != COPYDATA_ADD_FILE && data->dwData != COPYDATA_ADD_FILE_UTF8)) {
    return false;
  }
  uploads_.AddPaths(quib::SplitForwardedPayload(static_cast<const char*>(data->lpData),
                                                data->cbData, quib::Paths(),
                                                data->dwData == COPYDATA_ADD_FILE_UTF8));
  return true;
}

void CUploaderDlg::OnOK() {
  // Return goes to the focused button (accelerator), so this is rare; it
  // closes the window all the same.
  if (ConfirmDiscard()) EndDialog(IDOK);
}

void CUploaderDlg::OnCancel() {
  // Esc.
  if (ConfirmDiscard()) EndDialog(IDCANCEL);
}

bool CUploaderDlg::ConfirmDiscard() {
  const size_t count = uploads_.GetItems().size();
  if (count == 0) return true;
  const std::string text = "Discard the " + std::to_string(count) + " file(s) in the upload list?";
  return AppMessageBox(GetSafeHwnd(), text.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void CUploaderDlg::OnAddFiles() {
  // The folder of the file taken last.
  const std::wstring initialDir = Utf8ToWide(ReadImagePath(GetAppProfile()));
  const std::wstring filter = CommonDialogFilter(kFileFilter);
  CFileDialogState state;
  state.buffer.assign(kSelectionBufferSize, L'\0');

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = GetSafeHwnd();
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = state.buffer.data();
  ofn.nMaxFile = kSelectionBufferSize;
  ofn.lpstrInitialDir = initialDir.empty() ? nullptr : initialDir.c_str();
  ofn.lpstrTitle = L"Select Files";
  ofn.lpstrDefExt = L"jpg";
  ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER | OFN_ALLOWMULTISELECT |
              OFN_ENABLESIZING | OFN_ENABLEHOOK;
  ofn.lCustData = reinterpret_cast<LPARAM>(&state);
  ofn.lpfnHook = FileDialogHook;
  const BOOL picked = GetOpenFileNameW(&ofn);
  // The hook may have moved the selection to a larger buffer. Read in UTF-8,
  // its zeros kept.
  const std::string utf8 = picked ? WideToUtf8(ofn.lpstrFile, ofn.nMaxFile) : std::string();
  const quib::FileSelection selection =
      picked ? quib::ReadFileSelection(utf8.data(), utf8.size()) : quib::FileSelection{};
  if (!picked && CommDlgExtendedError() != FNERR_BUFFERTOOSMALL) {
    UpdateButtons();
    return;  // cancelled
  }
  if (!picked || !selection.complete) {
    // The dialog could not return them all, even in the grown buffer: add
    // none, so the user does not take a part for the whole, and say why.
    const std::vector<std::string> names = quib::SpecFileNames(state.spec);
    std::string text = "The file dialog could not return so many files at once.";
    if (names.size() > 1) {
      text = "The file dialog could take only " +
             std::to_string(quib::FilesThatFit(names, state.folderLength, ofn.nMaxFile)) +
             " of the " + std::to_string(names.size()) + " selected files at once.";
    }
    text += " Nothing was added; please select fewer files.";
    AppMessageBox(GetSafeHwnd(), text.c_str(), MB_OK | MB_ICONEXCLAMATION);
    UpdateButtons();
    return;
  }
  uploads_.AddPaths(selection.paths);
  if (!selection.paths.empty()) WriteImagePath(GetAppProfile(), selection.paths.back());
  UpdateButtons();
}

void CUploaderDlg::OnUpload() {
  if (uploads_.GetItems().empty()) {
    AppMessageBox(GetSafeHwnd(), "No pictures or movies to upload.", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  // The run points at the list's items until RunUpload returns: no second
  // run and no removal meanwhile, even if something enables this window.
  if (running_) return;
  running_ = true;
  uploads_.HoldReports(true);
  {
    CTransferDialog transfer(GetSafeHwnd());
    if (transfer.RunUpload(uploads_) == IDOK) {
      // Every file of the run leaves the list, also one refused as too big;
      // files that arrived during the run stay for the next one.
      for (CMediaItem* item : transfer.GetRunItemsLeft()) uploads_.RemoveAt(uploads_.IndexOf(item));
    }
  }
  running_ = false;
  uploads_.HoldReports(false);
  UpdateButtons();
}

void CUploaderDlg::OpenWebPage(const char* url) {
  ShellExecuteA(nullptr, "open", url, nullptr, nullptr, SW_SHOWNORMAL);
}

void CUploaderDlg::UpdateButtons() {
  // Comes for every entry added or selected: only a change reaches the
  // buttons.
  const auto enable = [](HWND button, bool on) {
    if (button && (IsWindowEnabled(button) != FALSE) != on) EnableWindow(button, on);
  };
  const bool selected = list_.GetSelectedCount() > 0;
  enable(remove_.GetSafeHwnd(), selected);
  enable(rotate_.GetSafeHwnd(), selected);
  enable(upload_.GetSafeHwnd(), list_.GetItemCount() > 0);
}
