// Checks the compiled resources of quibuploader.exe under Wine: the windows are
// laid out for these exact bitmap sizes, and the code finds its controls, texts
// and commands by these ids. With QUIB_ARTIFACTS set, each dialog is also shown
// and saved as a picture for a look by eye.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "res/resource.h"

namespace {

HINSTANCE Module() {
  return GetModuleHandleW(nullptr);
}

// Width, height and bit count of a bitmap resource, read from its header.
struct BitmapInfo {
  bool found = false;
  LONG width = 0;
  LONG height = 0;
  WORD bitCount = 0;
  DWORD compression = 0;
};

BitmapInfo ReadBitmap(LPCWSTR name) {
  BitmapInfo info;
  HRSRC res = FindResourceW(Module(), name, MAKEINTRESOURCEW(2) /* RT_BITMAP */);
  if (!res) return info;
  const auto* header =
      static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(Module(), res)));
  if (!header) return info;
  info.found = true;
  info.width = header->biWidth;
  info.height = header->biHeight;
  info.bitCount = header->biBitCount;
  info.compression = header->biCompression;
  return info;
}

std::wstring Widen(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

TEST(ResourcesTest, SkinnedButtonBitmapsHaveTheirSizeAndStates) {
  struct Stem {
    const char* name;
    LONG width, height;
    bool disabledImage;
  };
  const Stem stems[] = {
      {"ADDBUTTON", 127, 38, true}, {"REMBUTTON", 115, 38, true},  {"ROTBUTTON", 127, 38, true},
      {"UPLBUTTON", 369, 42, true}, {"SETBUTTON", 126, 21, false}, {"HLPBUTTON", 45, 21, false},
      {"WWWBUTTON", 90, 21, false},
  };
  for (const Stem& stem : stems) {
    for (char state : std::string("UDFX")) {
      std::string name = std::string(stem.name) + state;
      SCOPED_TRACE(name);
      BitmapInfo info = ReadBitmap(Widen(name).c_str());
      if (state == 'X' && !stem.disabledImage) {
        // These buttons are never disabled and have no image for it.
        EXPECT_FALSE(info.found);
        continue;
      }
      ASSERT_TRUE(info.found);
      EXPECT_EQ(stem.width, info.width);
      EXPECT_EQ(stem.height, info.height);
      EXPECT_EQ(24, info.bitCount);
      EXPECT_EQ(static_cast<DWORD>(BI_RGB), info.compression);
      // The skinned button loads them exactly like this.
      HBITMAP loaded = LoadBitmapA(Module(), name.c_str());
      EXPECT_NE(nullptr, loaded);
      if (loaded) DeleteObject(loaded);
    }
  }
}

TEST(ResourcesTest, NumberedBitmapsHaveTheirSize) {
  struct Numbered {
    int id;
    LONG width, height;
  };
  const Numbered bitmaps[] = {
      {IDB_BANNER, 369, 151}, {IDB_LIST_BACKGROUND, 369, 312},
      {IDB_ABOUT, 290, 85},   {IDB_MOVIE, 104, 78},
      {IDB_AUDIO, 104, 78},   {IDB_ALBUM, 64, 70},
      {IDB_LOGO, 110, 110},
  };
  for (const Numbered& b : bitmaps) {
    SCOPED_TRACE(b.id);
    BitmapInfo info = ReadBitmap(MAKEINTRESOURCEW(b.id));
    ASSERT_TRUE(info.found);
    EXPECT_EQ(b.width, info.width);
    EXPECT_EQ(b.height, info.height);
    EXPECT_EQ(24, info.bitCount);
    HBITMAP loaded = LoadBitmapW(Module(), MAKEINTRESOURCEW(b.id));
    EXPECT_NE(nullptr, loaded);
    if (loaded) DeleteObject(loaded);
  }
}

// Collects resource names, "#147" for a number (as FindResource takes it).
BOOL CALLBACK AddName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  reinterpret_cast<std::vector<std::wstring>*>(names)->push_back(
      IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<UINT_PTR>(name)) : name);
  return TRUE;
}

// Each bitmap again for every larger scale: a numbered one as IDB_SCALED(id,
// k), a named one with "_<scale>" appended, sized like the 100 % one times
// the scale, rounded. Nothing else: a bitmap id that collides would be lost.
TEST(ResourcesTest, EveryBitmapComesAtEveryScale) {
  std::vector<std::wstring> names;
  EnumResourceNamesW(Module(), MAKEINTRESOURCEW(2) /* RT_BITMAP */, AddName,
                     reinterpret_cast<LONG_PTR>(&names));
  const int scales[] = {QUIB_ARTWORK_SCALES};
  size_t bases = 0;
  for (const std::wstring& name : names) {
    const int id = name[0] == L'#' ? std::stoi(name.substr(1)) : 0;
    if (id >= 1000 || name.find(L'_') != std::wstring::npos) continue;  // a scaled one
    ++bases;
    const BitmapInfo base = ReadBitmap(name.c_str());
    for (int k = 1; k < static_cast<int>(std::size(scales)); ++k) {
      const std::wstring scaled =
          id ? L"#" + std::to_wstring(IDB_SCALED(id, k)) : name + L"_" + std::to_wstring(scales[k]);
      SCOPED_TRACE(std::string(scaled.begin(), scaled.end()));
      const BitmapInfo info = ReadBitmap(scaled.c_str());
      ASSERT_TRUE(info.found);
      EXPECT_EQ(MulDiv(base.width, scales[k], 100), info.width);
      EXPECT_EQ(MulDiv(base.height, scales[k], 100), info.height);
      EXPECT_EQ(24, info.bitCount);
      EXPECT_EQ(static_cast<DWORD>(BI_RGB), info.compression);
    }
  }
  EXPECT_EQ(32u, bases);  // 7 numbered, 25 named
  EXPECT_EQ(bases * std::size(scales), names.size());
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colors, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST(ResourcesTest, IconGroupHoldsTheSizesWindowsAsksFor) {
  HRSRC res = FindResourceW(Module(), MAKEINTRESOURCEW(IDR_MAINFRAME),
                            MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
  ASSERT_NE(nullptr, res);
  const auto* dir = static_cast<const WORD*>(LockResource(LoadResource(Module(), res)));
  ASSERT_NE(nullptr, dir);
  ASSERT_EQ(1, dir[1]);  // icons, not cursors
  const auto* entries = reinterpret_cast<const GroupIconEntry*>(dir + 3);
  std::vector<int> sizes;
  for (int i = 0; i < dir[2]; ++i) {
    const int size = entries[i].width ? entries[i].width : 256;  // 0 stands for 256
    SCOPED_TRACE(size);
    EXPECT_EQ(entries[i].width, entries[i].height);
    EXPECT_EQ(32, entries[i].bitCount);
    sizes.push_back(size);
    // Windows finds the image of that size, and it loads at that size (the
    // 256 pixel one is a PNG).
    EXPECT_EQ(entries[i].id,
              LookupIconIdFromDirectoryEx(reinterpret_cast<PBYTE>(const_cast<WORD*>(dir)), TRUE,
                                          size, size, 0));
    HICON icon = static_cast<HICON>(
        LoadImageW(Module(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, size, size, 0));
    ASSERT_NE(nullptr, icon);
    ICONINFO info = {};
    BITMAP colour = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    GetObjectW(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(size, colour.bmWidth);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
  EXPECT_EQ((std::vector<int>{16, 20, 24, 32, 40, 48, 64, 96, 128, 256}), sizes);
}

TEST(ResourcesTest, ReturnKeyClicksTheFocusedControl) {
  HACCEL table = LoadAcceleratorsW(Module(), MAKEINTRESOURCEW(IDR_ACCELERATOR));
  ASSERT_NE(nullptr, table);
  ACCEL entries[4] = {};
  ASSERT_EQ(1, CopyAcceleratorTableW(table, entries, 4));
  EXPECT_EQ(VK_RETURN, entries[0].key);
  EXPECT_EQ(ID_CLICK_FOCUSED, entries[0].cmd);
  EXPECT_TRUE(entries[0].fVirt & FVIRTKEY);
  EXPECT_FALSE(entries[0].fVirt & (FSHIFT | FCONTROL | FALT));
  DestroyAcceleratorTable(table);
}

TEST(ResourcesTest, ManifestAsksForCommonControlsSix) {
  HRSRC res = FindResourceW(Module(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /* RT_MANIFEST */);
  ASSERT_NE(nullptr, res);
  const char* text = static_cast<const char*>(LockResource(LoadResource(Module(), res)));
  std::string manifest(text, SizeofResource(Module(), res));
  EXPECT_NE(std::string::npos, manifest.find("Microsoft.Windows.Common-Controls"));
  EXPECT_NE(std::string::npos, manifest.find("version=\"6.0.0.0\""));
  // Per-monitor DPI (v2), system DPI where that is not known.
  EXPECT_NE(std::string::npos, manifest.find(">PerMonitorV2, System</dpiAwareness>"));
  EXPECT_NE(std::string::npos, manifest.find(">true</dpiAware>"));
}

// ---- dialog templates ----------------------------------------------------

enum Kind {
  Push,
  DefPush,
  OwnerDraw,
  Edit,
  Label,
  GroupBox,
  Radio,
  Check,
  Picture,
  List,
  Combo,
  Progress,
  Animation
};

struct Control {
  int id;
  Kind kind;
  int x, y, cx, cy;     // dialog units; for a picture cx, cy are its bitmap's pixels
  const wchar_t* text;  // template text, null to skip
  DWORD style = 0;      // further style bits that must be set
  DWORD exStyle = 0;    // further extended style bits that must be set
};

struct Dialog {
  int id;
  int cx, cy;
  const wchar_t* caption;
  DWORD style;                    // must be set
  DWORD noStyle;                  // must be clear
  DWORD exStyle;                  // must be set
  std::vector<Control> controls;  // in template (creation) order
};

const DWORD kFrame = WS_POPUP | WS_CAPTION | DS_MODALFRAME;

// The German template texts, spelled with escapes so this file stays ASCII.
std::vector<Dialog> Dialogs() {
  return {
      {IDD_ABOUT,
       193,
       126,
       L"About Quib Uploader",
       kFrame | WS_SYSMENU,
       0,
       0,
       {{IDC_STATIC, Picture, 0, 0, 290, 85, nullptr},
        {IDC_ABOUT_VERSION, Label, 9, 52, 174, 45, L"", ES_MULTILINE},
        {IDOK, DefPush, 72, 103, 50, 16, L"OK"}}},
      {IDD_MAIN,
       246,
       315,
       L"",
       kFrame | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME,
       0,
       WS_EX_APPWINDOW,
       {{IDC_MAIN_ADD, OwnerDraw, 0, 68, 79, 23, L"ADDBUTTON"},
        {IDC_MAIN_REMOVE, OwnerDraw, 84, 68, 65, 23, L"REMBUTTON"},
        {IDC_MAIN_ROTATE, OwnerDraw, 161, 68, 55, 23, L"ROTBUTTON"},
        {IDC_MAIN_LIST, List, 0, 97, 246, 192, nullptr, LVS_ICON | LVS_SHOWSELALWAYS,
         WS_EX_ACCEPTFILES | WS_EX_TRANSPARENT},
        {IDC_MAIN_UPLOAD, OwnerDraw, 0, 290, 246, 21, L"UPLBUTTON"},
        {IDC_MAIN_SETTINGS, OwnerDraw, 72, 0, 40, 11, L"SETBUTTON"},
        {IDC_MAIN_HELP, OwnerDraw, 156, 0, 26, 11, L"HLPBUTTON"},
        {IDC_MAIN_WEB, OwnerDraw, 190, 0, 37, 11, L"WWWBUTTON"},
        // Last, so the buttons lie on top of it.
        {IDC_STATIC, Picture, 0, 0, 369, 151, nullptr}}},
      {IDD_DETAILS,
       216,
       254,
       L"Bildbeschreibung",
       kFrame | WS_SYSMENU,
       0,
       0,
       {{IDOK, DefPush, 101, 233, 50, 14, L"OK"},
        {IDCANCEL, Push, 159, 233, 50, 14, L"Abbrechen"},
        {IDC_DETAILS_DESCRIPTION, Edit, 7, 167, 202, 62, L"",
         ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL},
        {IDC_DETAILS_KEYWORDS_LABEL, Label, 7, 92, 202, 12, L""},
        {IDC_DETAILS_DESCRIPTION_LABEL, Label, 7, 154, 202, 12, L""},
        {IDC_DETAILS_ADD_TO_ALL, Check, 7, 138, 202, 10,
         L"Zu allen Bildern/Videos hinzuf\u00fcgen."},
        {IDC_DETAILS_NAME_LABEL, Label, 7, 59, 202, 12, L""},
        {IDC_DETAILS_KEYWORDS, Edit, 7, 105, 202, 31, L"",
         ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL},
        {IDC_DETAILS_NAME, Edit, 7, 72, 202, 13, L"", ES_AUTOHSCROLL}}},
      {IDD_TRANSFER,
       186,
       103,
       L"Dialog",
       kFrame | DS_CENTER | DS_FIXEDSYS,
       WS_SYSMENU,
       WS_EX_TOOLWINDOW,
       {{IDC_TRANSFER_CANCEL, Push, 51, 82, 83, 14, L"Cancel transfer", WS_TABSTOP},
        {IDC_TRANSFER_ANIMATION, Animation, 148, 13, 24, 24, nullptr},
        {IDC_TRANSFER_PROGRESS, Progress, 13, 66, 158, 11, nullptr, PBS_SMOOTH,
         WS_EX_STATICEDGE | WS_EX_TRANSPARENT}}},
      {IDD_LOGIN,
       119,
       81,
       L"Login",
       kFrame,
       WS_SYSMENU,
       WS_EX_TOOLWINDOW,
       {{IDOK, DefPush, 24, 60, 42, 14, L"OK"},
        {IDCANCEL, Push, 70, 60, 42, 14, L"Abbrechen"},
        {IDC_LOGIN_USERNAME, Edit, 7, 16, 105, 13, L"", ES_AUTOHSCROLL},
        {IDC_LOGIN_PASSWORD, Edit, 7, 42, 105, 13, L"", ES_PASSWORD},
        {IDC_LOGIN_USERNAME_LABEL, Label, 7, 7, 105, 9, L""},
        {IDC_LOGIN_PASSWORD_LABEL, Label, 7, 32, 105, 9, L""}}},
      {IDD_FOLDER,
       154,
       71,
       L"Ordner ausw\u00e4hlen",
       kFrame,
       WS_SYSMENU,
       WS_EX_TOOLWINDOW,
       {{IDC_FOLDER_OK, Push, 79, 53, 27, 14, L"OK"},
        {IDC_FOLDER_ALBUMS, Combo, 61, 18, 89, 54, nullptr},
        {IDC_STATIC, Picture, 10, 6, 64, 70, nullptr},
        {IDC_FOLDER_NEW, Push, 92, 33, 58, 11, L"New Folder"},
        {IDC_FOLDER_CANCEL, Push, 113, 53, 37, 14, L"Cancel"},
        {IDC_FOLDER_LABEL, Label, 60, 8, 87, 9, L""}}},
      {IDD_SETTINGS,
       186,
       230,
       L"Einstellungen",
       kFrame | WS_SYSMENU,
       0,
       0,
       {{IDOK, DefPush, 129, 209, 50, 14, L"OK"},
        {IDCANCEL, Push, 73, 209, 50, 14, L"Abbrechen"},
        {IDC_STATIC, GroupBox, 7, 7, 172, 60, L""},
        {IDC_SETTINGS_USERNAME, Edit, 63, 19, 107, 12, L"", ES_AUTOHSCROLL},
        {IDC_SETTINGS_PASSWORD, Edit, 63, 35, 108, 12, L"", ES_PASSWORD},
        {IDC_SETTINGS_CHECK, Push, 108, 51, 64, 12, L"\u00dcberpr\u00fcfen"},
        {IDC_STATIC, GroupBox, 7, 67, 172, 69, L""},
        {IDC_SETTINGS_ASK_FOLDER, Radio, 20, 107, 147, 10, L"Dialog zur Ordnerauswahl anzeigen",
         WS_GROUP},
        {IDC_SETTINGS_PUBLIC_INBOX, Radio, 20, 121, 147, 10,
         L"immer in die Inbox (public) hochladen"},
        {IDC_SETTINGS_USERNAME_LABEL, Label, 8, 19, 55, 12, L"", ES_RIGHT},
        {IDC_SETTINGS_PASSWORD_LABEL, Label, 8, 35, 55, 12, L"", ES_RIGHT},
        {IDC_SETTINGS_FOLDER_TEXT, Label, 11, 75, 163, 29, L"", ES_MULTILINE},
        {IDC_STATIC, GroupBox, 7, 136, 172, 71, L""},
        {IDC_SETTINGS_RESIZE_TEXT, Label, 11, 144, 163, 18, L"", ES_MULTILINE},
        {IDC_SETTINGS_RESIZE_SMALL, Radio, 20, 164, 147, 10, L"Klein, 600x480 (empfohlen bei ISDN)",
         WS_GROUP},
        {IDC_SETTINGS_RESIZE_MEDIUM, Radio, 20, 178, 147, 10,
         L"Mittel, 1024x768 (empfohlen bei DSL)"},
        {IDC_SETTINGS_RESIZE_NONE, Radio, 20, 192, 147, 10, L"Bilder nicht verkleinern"}}},
      {IDD_RESIZE,
       186,
       137,
       L"Dialog",
       kFrame | WS_SYSMENU,
       0,
       0,
       {{IDOK, DefPush, 74, 116, 50, 14, L"OK"},
        {IDCANCEL, Push, 129, 116, 50, 14, L"Abbrechen"},
        {IDC_STATIC, GroupBox, 7, 3, 172, 92, L""},
        {IDC_RESIZE_TEXT, Label, 11, 11, 163, 38, L"", ES_MULTILINE},
        {IDC_RESIZE_SMALL, Radio, 20, 52, 147, 10, L"Klein, 600x480 (empfohlen bei ISDN)",
         WS_GROUP},
        {IDC_RESIZE_MEDIUM, Radio, 20, 66, 147, 10, L"Mittel, 1024x768 (empfohlen bei DSL)"},
        {IDC_RESIZE_NONE, Radio, 20, 80, 147, 10, L"Bilder nicht verkleinern"},
        {IDC_RESIZE_DONT_ASK, Check, 7, 100, 124, 8, L"In Zukunft nicht mehr nachfragen"}}},
      {IDD_FOLDERNAME,
       156,
       54,
       L"New Folder",
       kFrame | DS_SYSMODAL,
       WS_SYSMENU,
       WS_EX_TOOLWINDOW,
       {{IDOK, DefPush, 78, 33, 25, 14, L"OK"},
        {IDC_FOLDERNAME_NAME, Edit, 7, 19, 142, 13, L"", ES_AUTOHSCROLL},
        {IDCANCEL, Push, 106, 33, 43, 14, L"Abbrechen"},
        {IDC_FOLDERNAME_LABEL, Label, 7, 7, 142, 12, L""}}},
  };
}

// Sets no focus, so the default push buttons keep their template style.
INT_PTR CALLBACK QuietProc(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::wstring TextOf(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

const wchar_t* ClassFor(Kind kind) {
  switch (kind) {
    case Push:
    case DefPush:
    case OwnerDraw:
    case GroupBox:
    case Radio:
    case Check:
      return L"Button";
    case Edit:
    case Label:
      return L"Edit";
    case Picture:
      return L"Static";
    case List:
      return L"SysListView32";
    case Combo:
      return L"ComboBox";
    case Progress:
      return L"msctls_progress32";
    case Animation:
      return L"SysAnimate32";
  }
  return L"";
}

void ExpectKind(HWND window, Kind kind) {
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  const DWORD buttonType = style & BS_TYPEMASK;
  switch (kind) {
    case Push:
      EXPECT_EQ(static_cast<DWORD>(BS_PUSHBUTTON), buttonType);
      break;
    case DefPush:
      EXPECT_EQ(static_cast<DWORD>(BS_DEFPUSHBUTTON), buttonType);
      break;
    case OwnerDraw:
      EXPECT_EQ(static_cast<DWORD>(BS_OWNERDRAW), buttonType);
      break;
    case GroupBox:
      EXPECT_EQ(static_cast<DWORD>(BS_GROUPBOX), buttonType);
      break;
    case Radio:
      EXPECT_EQ(static_cast<DWORD>(BS_AUTORADIOBUTTON), buttonType);
      break;
    case Check:
      EXPECT_EQ(static_cast<DWORD>(BS_AUTOCHECKBOX), buttonType);
      break;
    case Edit:
      // The dialog manager turns a bordered edit's WS_BORDER into a client edge.
      EXPECT_TRUE((style & WS_BORDER) || (exStyle & WS_EX_CLIENTEDGE));
      EXPECT_TRUE(style & WS_TABSTOP);
      EXPECT_FALSE(style & ES_READONLY);
      break;
    case Label:
      // Read-only, borderless, see-through, and skipped by the Tab key.
      EXPECT_TRUE(style & ES_READONLY);
      EXPECT_FALSE(style & WS_BORDER);
      EXPECT_FALSE(exStyle & WS_EX_CLIENTEDGE);
      EXPECT_FALSE(style & WS_TABSTOP);
      EXPECT_TRUE(exStyle & WS_EX_TRANSPARENT);
      break;
    case Picture:
      EXPECT_EQ(static_cast<DWORD>(SS_BITMAP), style & SS_TYPEMASK);
      break;
    case Combo:
      EXPECT_EQ(static_cast<DWORD>(CBS_DROPDOWNLIST), style & 3u);
      break;
    case List:
    case Progress:
    case Animation:
      break;
  }
}

RECT ChildRect(HWND dialog, HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void ExpectNear(int expected, int actual, const char* what) {
  // The dialog manager and MapDialogRect may round a half pixel differently.
  EXPECT_LE(std::abs(expected - actual), 1)
      << what << ": expected " << expected << ", got " << actual;
}

TEST(ResourcesTest, DialogTemplatesMatchTheLayout) {
  INITCOMMONCONTROLSEX icc = {sizeof(icc),
                              ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&icc));
  for (const Dialog& spec : Dialogs()) {
    SCOPED_TRACE("dialog " + std::to_string(spec.id));
    HWND dialog = CreateDialogParamW(Module(), MAKEINTRESOURCEW(spec.id), nullptr, QuietProc, 0);
    ASSERT_NE(nullptr, dialog);

    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE));
    EXPECT_EQ(spec.style, style & spec.style);
    EXPECT_EQ(0u, style & spec.noStyle);
    EXPECT_EQ(spec.exStyle, exStyle & spec.exStyle);
    EXPECT_EQ(std::wstring(spec.caption), TextOf(dialog));

    // Dialog units to pixels as the dialog manager does it.
    RECT units = {0, 0, 4, 8};
    MapDialogRect(dialog, &units);
    const int baseX = units.right, baseY = units.bottom;
    RECT client;
    GetClientRect(dialog, &client);
    ExpectNear(MulDiv(spec.cx, baseX, 4), client.right, "client width");
    ExpectNear(MulDiv(spec.cy, baseY, 8), client.bottom, "client height");
    if (spec.id == IDD_MAIN) {
      std::printf("dialog font base units %d x %d, main window client %ld x %ld\n", baseX, baseY,
                  client.right, client.bottom);
    }
    if (spec.id == IDD_MAIN && baseX == 6 && baseY == 13) {
      EXPECT_EQ(369, client.right);
      EXPECT_EQ(512, client.bottom);
    }

    HWND child = GetWindow(dialog, GW_CHILD);
    for (const Control& c : spec.controls) {
      SCOPED_TRACE("control " + std::to_string(c.id) + " at " + std::to_string(c.x) + "," +
                   std::to_string(c.y));
      ASSERT_NE(nullptr, child) << "fewer controls than expected";
      EXPECT_EQ(c.id, static_cast<int>(static_cast<short>(GetDlgCtrlID(child))));
      EXPECT_EQ(0, lstrcmpiW(ClassFor(c.kind), ClassOf(child).c_str())) << ClassOf(child).c_str();
      ExpectKind(child, c.kind);
      const DWORD childStyle = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE));
      const DWORD childEx = static_cast<DWORD>(GetWindowLongPtrW(child, GWL_EXSTYLE));
      EXPECT_EQ(c.style, childStyle & c.style);
      EXPECT_EQ(c.exStyle, childEx & c.exStyle);
      if (c.text) {
        EXPECT_EQ(std::wstring(c.text), TextOf(child));
      }

      RECT r = ChildRect(dialog, child);
      ExpectNear(MulDiv(c.x, baseX, 4), r.left, "left");
      ExpectNear(MulDiv(c.y, baseY, 8), r.top, "top");
      if (c.kind == Picture) {
        // A bitmap static takes its bitmap's size.
        EXPECT_EQ(c.cx, r.right - r.left);
        EXPECT_EQ(c.cy, r.bottom - r.top);
      } else if (c.kind == Combo) {
        // The template height includes the drop-down list. Windows reports
        // the whole dropped height, Wine the list part alone, and the list is
        // cut to whole items.
        RECT dropped = {};
        SendMessageW(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
        const int total = MulDiv(c.cy, baseY, 8), closed = r.bottom - r.top;
        const int item = static_cast<int>(SendMessageW(child, CB_GETITEMHEIGHT, 0, 0));
        int height = dropped.bottom - dropped.top;
        if (height < total - item - 1) height += closed;
        EXPECT_LE(height, total + 1) << "closed " << closed << ", item " << item;
        EXPECT_GT(height, total - item - 2) << "closed " << closed << ", item " << item;
        ExpectNear(MulDiv(c.cx, baseX, 4), dropped.right - dropped.left, "width");
      } else {
        ExpectNear(MulDiv(c.cx, baseX, 4), r.right - r.left, "width");
        ExpectNear(MulDiv(c.cy, baseY, 8), r.bottom - r.top, "height");
      }
      child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(nullptr, child) << "more controls than expected";
    DestroyWindow(dialog);
  }
}

// ---- pictures for a look by eye ---------------------------------------------

std::string ArtifactsDir() {
  const char* dir = std::getenv("QUIB_ARTIFACTS");
  if (!dir || !*dir) return "";
  std::string path = dir;
  if (path[0] == '/') path = "Z:" + path;  // a Unix path under Wine
  for (char& ch : path) {
    if (ch == '/') ch = '\\';
  }
  CreateDirectoryA(path.c_str(), nullptr);
  return path;
}

bool SaveClientArea(HWND window, const std::string& path) {
  RECT client;
  GetClientRect(window, &client);
  const int width = client.right, height = client.bottom;
  HDC windowDc = GetDC(window);
  HDC memory = CreateCompatibleDC(windowDc);
  HBITMAP bitmap = CreateCompatibleBitmap(windowDc, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, windowDc, 0, 0, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info = {};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD stride = ((width * 3u) + 3u) & ~3u;
  std::vector<char> pixels(stride * height);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, windowDc);

  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(out, &file, sizeof(file), &written, nullptr) &&
            WriteFile(out, &info, sizeof(info), &written, nullptr) &&
            WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
  CloseHandle(out);
  return ok;
}

// Paints the skinned buttons and the white backgrounds the way the program
// does, so the pictures show the real look.
INT_PTR CALLBACK PreviewProc(HWND, UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
      return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      char stem[32] = {};
      GetWindowTextA(item->hwndItem, stem, 28);
      const char state = (item->itemState & ODS_SELECTED)   ? 'D'
                         : (item->itemState & ODS_FOCUS)    ? 'F'
                         : (item->itemState & ODS_DISABLED) ? 'X'
                                                            : 'U';
      HBITMAP bitmap = LoadBitmapA(Module(), (std::string(stem) + state).c_str());
      if (!bitmap) bitmap = LoadBitmapA(Module(), (std::string(stem) + 'U').c_str());
      HDC memory = CreateCompatibleDC(item->hDC);
      HGDIOBJ old = SelectObject(memory, bitmap);
      BitBlt(item->hDC, item->rcItem.left, item->rcItem.top, item->rcItem.right - item->rcItem.left,
             item->rcItem.bottom - item->rcItem.top, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteDC(memory);
      DeleteObject(bitmap);
      return TRUE;
    }
  }
  return FALSE;
}

void PumpFor(DWORD milliseconds) {
  const DWORD end = GetTickCount() + milliseconds;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
}

void PrepareMainWindow(HWND dialog) {
  // Buttons take their bitmap's size, as the skinned button does when bound.
  const struct {
    int id;
    int width, height;
  } buttons[] = {{IDC_MAIN_ADD, 127, 38},      {IDC_MAIN_REMOVE, 115, 38},
                 {IDC_MAIN_ROTATE, 127, 38},   {IDC_MAIN_UPLOAD, 369, 42},
                 {IDC_MAIN_SETTINGS, 126, 21}, {IDC_MAIN_HELP, 45, 21},
                 {IDC_MAIN_WEB, 90, 21}};
  for (const auto& b : buttons) {
    SetWindowPos(GetDlgItem(dialog, b.id), nullptr, 0, 0, b.width, b.height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
  }
  EnableWindow(GetDlgItem(dialog, IDC_MAIN_ROTATE), FALSE);

  HWND list = GetDlgItem(dialog, IDC_MAIN_LIST);
  HIMAGELIST images = ImageList_Create(104, 78, ILC_COLOR24, 2, 1);
  for (int id : {IDB_MOVIE, IDB_AUDIO}) {
    HBITMAP bitmap = LoadBitmapW(Module(), MAKEINTRESOURCEW(id));
    ImageList_Add(images, bitmap, nullptr);
    DeleteObject(bitmap);
  }
  ListView_SetImageList(list, images, LVSIL_NORMAL);  // the list destroys it
  const wchar_t* names[] = {L"holiday.avi", L"song.mp3"};
  for (int i = 0; i < 2; ++i) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = i;
    item.iImage = i;
    item.pszText = const_cast<wchar_t*>(names[i]);
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  LVBKIMAGEW background = {};
  background.ulFlags = LVBKIF_SOURCE_HBITMAP | LVBKIF_STYLE_TILE;
  background.hbm = LoadBitmapW(Module(), MAKEINTRESOURCEW(IDB_LIST_BACKGROUND));
  SendMessageW(list, LVM_SETBKIMAGEW, 0, reinterpret_cast<LPARAM>(&background));
  SetFocus(GetDlgItem(dialog, IDC_MAIN_ADD));
}

TEST(ResourcesTest, SavesPicturesOfEveryDialog) {
  const std::string dir = ArtifactsDir();
  if (dir.empty()) GTEST_SKIP() << "QUIB_ARTIFACTS not set";
  for (const Dialog& spec : Dialogs()) {
    HWND dialog = CreateDialogParamW(Module(), MAKEINTRESOURCEW(spec.id), nullptr, PreviewProc, 0);
    ASSERT_NE(nullptr, dialog);
    if (spec.id == IDD_MAIN) PrepareMainWindow(dialog);
    SetWindowPos(dialog, nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(dialog, SW_SHOW);
    if (spec.id == IDD_MAIN) SetFocus(GetDlgItem(dialog, IDC_MAIN_ADD));
    UpdateWindow(dialog);
    PumpFor(300);
    const std::string path = dir + "\\resources-dialog-" + std::to_string(spec.id) + ".bmp";
    EXPECT_TRUE(SaveClientArea(dialog, path)) << path;
    DestroyWindow(dialog);
  }
}

}  // namespace
