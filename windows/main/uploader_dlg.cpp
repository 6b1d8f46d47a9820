#include "windows/main/uploader_dlg.h"

#include <commctrl.h>
#include <commdlg.h>
#include <cderr.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "adapters/long_path.h"
#include "core/text/command_line.h"
#include "core/text/file_selection.h"
#include "core/ports/platform.h"
#include "core/settings/program_identity.h"
#include "core/settings/profile.h"
#include "windows/main/about_dlg.h"
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
  SendMessageA(GetSafeHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_.Get()));
  SendMessageA(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.Get()));
  SetWindowText(QUIB_WINDOW_TITLE);

  list_.InitList();
  // Adding a card's worth of camera pictures must not freeze the window.
  uploads_.MakeThumbnailsInBackground(true);

  // The tiled background, unless the list already has an image. A list view
  // that cannot report its image (Wine's) has none yet.
  LVBKIMAGEA background{};
  background.ulFlags = LVBKIF_SOURCE_MASK;
  if (!SendMessageA(list_.GetSafeHwnd(), LVM_GETBKIMAGEA, 0,
                    reinterpret_cast<LPARAM>(&background)) ||
      (background.ulFlags & LVBKIF_SOURCE_MASK) == LVBKIF_SOURCE_NONE) {
    LVBKIMAGEA image{};
    image.ulFlags = LVBKIF_SOURCE_HBITMAP | LVBKIF_STYLE_TILE;
    // The list view owns the bitmap from here on.
    image.hbm = static_cast<HBITMAP>(LoadImageA(AfxGetInstanceHandle(),
                                                MAKEINTRESOURCEA(IDB_LIST_BACKGROUND), IMAGE_BITMAP,
                                                0, 0, LR_CREATEDIBSECTION));
    SendMessageA(list_.GetSafeHwnd(), LVM_SETBKIMAGEA, 0, reinterpret_cast<LPARAM>(&image));
    // Captions on the background, not in white boxes.
    SendMessageA(list_.GetSafeHwnd(), LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(CLR_NONE));
  }

  for (const std::string& name :
       quib::SplitCommandLine(AfxGetApp() ? AfxGetApp()->m_lpCmdLine : "", quib::Paths())) {
    uploads_.AddFile(name);
  }

  SetFocus(add_.GetSafeHwnd());
  UpdateButtons();
  return FALSE;  // focus placed
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
        *result = 0;
        return true;
      }
      return false;
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
        uploads_.RemoveAll();
        EndDialog(0);
      }
      *result = 0;
      return true;
    case WM_DESTROY:
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
  for (const std::string& name :
       quib::SplitForwardedPayload(static_cast<const char*>(data->lpData), data->cbData,
                                   quib::Paths(), data->dwData == COPYDATA_ADD_FILE_UTF8)) {
    uploads_.AddFile(name);
  }
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
  std::string last;
  for (const std::string& path : selection.paths) {
    uploads_.AddFile(path);
    last = path;
  }
  if (!last.empty()) WriteImagePath(GetAppProfile(), last);
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
