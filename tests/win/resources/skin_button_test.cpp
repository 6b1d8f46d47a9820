// The skinned buttons: which state bitmap a draw request paints, what it
// copies, and how binding sizes the control.
#include <gtest/gtest.h>

#include "windows/upload_list/skin_button.h"
#include "framework/app.h"
#include "framework/dialog.h"
#include "res/resource.h"

namespace {

// The colour of the centre pixel of a bitmap.
COLORREF CentrePixel(HBITMAP bitmap) {
  const SIZE size = GetBitmapSize(bitmap);
  CMemoryDC dc(nullptr);
  CSelectObject select(dc.Get(), bitmap);
  return GetPixel(dc.Get(), size.cx / 2, size.cy / 2);
}

}  // namespace

TEST(SkinButton, StateDecidesTheBitmap) {
  CSkinButton remove;
  ASSERT_TRUE(remove.LoadBitmaps("REMBUTTON"));
  HBITMAP up = remove.ChooseBitmap(0);
  HBITMAP down = remove.ChooseBitmap(ODS_SELECTED);
  HBITMAP focus = remove.ChooseBitmap(ODS_FOCUS);
  HBITMAP disabled = remove.ChooseBitmap(ODS_DISABLED);
  ASSERT_TRUE(up && down && focus && disabled);
  EXPECT_NE(up, down);
  EXPECT_NE(up, focus);
  EXPECT_NE(up, disabled);
  // Pressed wins over focused, focused over disabled.
  EXPECT_EQ(remove.ChooseBitmap(ODS_SELECTED | ODS_FOCUS | ODS_DISABLED), down);
  EXPECT_EQ(remove.ChooseBitmap(ODS_FOCUS | ODS_DISABLED), focus);

  // Without an X bitmap a disabled button shows its up bitmap.
  CSkinButton settings;
  ASSERT_TRUE(settings.LoadBitmaps("SETBUTTON"));
  EXPECT_EQ(settings.ChooseBitmap(ODS_DISABLED), settings.ChooseBitmap(0));
  EXPECT_FALSE(CSkinButton().LoadBitmaps("NOSUCHBUTTON"));
}

TEST(SkinButton, DrawCopiesTheChosenBitmap) {
  CSkinButton upload;
  ASSERT_TRUE(upload.LoadBitmaps("UPLBUTTON"));
  HBITMAP up = upload.ChooseBitmap(0);
  HBITMAP disabled = upload.ChooseBitmap(ODS_DISABLED);
  ASSERT_NE(CentrePixel(up), CentrePixel(disabled));

  // Paint into a bitmap of the button's size and compare with the source.
  const SIZE size = GetBitmapSize(up);
  EXPECT_EQ(size.cx, 369);
  EXPECT_EQ(size.cy, 42);
  HDC screen = GetDC(nullptr);
  CBitmap target(CreateCompatibleBitmap(screen, size.cx, size.cy));
  ReleaseDC(nullptr, screen);
  CMemoryDC dc(nullptr);
  CSelectObject select(dc.Get(), target.Get());
  for (UINT state : {0u, static_cast<UINT>(ODS_DISABLED)}) {
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.hDC = dc.Get();
    item.rcItem = RECT{0, 0, size.cx, size.cy};
    item.itemState = state;
    EXPECT_TRUE(upload.OnDrawItem(&item));
    EXPECT_EQ(GetPixel(dc.Get(), size.cx / 2, size.cy / 2),
              CentrePixel(upload.ChooseBitmap(state)));
  }
}

namespace {

// The main window's template, just to bind buttons to its controls.
class CBindDialog : public CDialog {
 public:
  CBindDialog() : CDialog(IDD_MAIN, nullptr) {}
  SIZE uploadSize{}, helpSize{};
  bool bound = false, missing = true;

 protected:
  BOOL OnInitDialog() override {
    bound = upload_.Bind(*this, IDC_MAIN_UPLOAD) && help_.Bind(*this, IDC_MAIN_HELP);
    missing = nothing_.Bind(*this, 4242);
    RECT r{};
    GetWindowRect(upload_.GetSafeHwnd(), &r);
    uploadSize = SIZE{r.right - r.left, r.bottom - r.top};
    GetWindowRect(help_.GetSafeHwnd(), &r);
    helpSize = SIZE{r.right - r.left, r.bottom - r.top};
    PostMessageA(GetSafeHwnd(), WM_COMMAND, IDCANCEL, 0);
    return TRUE;
  }

 private:
  CSkinButton upload_, help_, nothing_;
};

}  // namespace

TEST(SkinButton, BindingTakesTheBitmapSize) {
  CBindDialog dialog;
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_TRUE(dialog.bound);
  EXPECT_FALSE(dialog.missing);
  EXPECT_EQ(dialog.uploadSize.cx, 369);
  EXPECT_EQ(dialog.uploadSize.cy, 42);
  EXPECT_EQ(dialog.helpSize.cx, 45);
  EXPECT_EQ(dialog.helpSize.cy, 21);
}
