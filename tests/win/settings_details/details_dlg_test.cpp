// The media details dialog driven as a user would, on real media items: the
// painted thumbnail and summary, the three fields, adding the tags to every
// other item, OK and Cancel.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/media/media_item.h"
#include "windows/details/details_dlg.h"
#include "core/settings/details_text.h"
#include "res/resource.h"
#include "tests/win/dialogs/dialog_harness.h"
#include "tests/win/media/media_test_util.h"
#include "tests/win/support/screen_pixel.h"

using namespace dlgtest;

namespace {

// A screen colour as 0x00RRGGBB.
unsigned Rgb(COLORREF c) {
  return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

bool IsDark(COLORREF c) {
  return GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 128;
}

// The text lines painted in a part of the dialog's client area: groups of
// pixel rows that hold dark pixels.
int PaintedLines(HWND dlg, int left, int top, int right, int bottom) {
  HDC screen = GetDC(nullptr);
  POINT origin{0, 0};
  ClientToScreen(dlg, &origin);
  int lines = 0;
  bool inLine = false;
  for (int y = top; y < bottom; ++y) {
    bool dark = false;
    for (int x = left; x < right && !dark; ++x)
      dark = IsDark(GetPixel(screen, origin.x + x, origin.y + y));
    if (dark && !inLine) ++lines;
    inLine = dark;
  }
  ReleaseDC(nullptr, screen);
  return lines;
}

class DetailsDialog : public testing::Test {
 protected:
  void SetUp() override { SetUpApplication(); }

  std::string UserFile(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.Path(name);
    EXPECT_TRUE(media_test::WriteBytes(path, bytes));
    return path;
  }
  // A 1600 x 1200 JPEG padded to 2,500,000 bytes (decoders stop at its end
  // marker), red in the top-left quarter and blue elsewhere.
  std::string Beach() {
    std::string jpeg = media_test::EncodePicture(1600, 1200, "image/jpeg");
    EXPECT_LT(jpeg.size(), 2500000u);
    jpeg.resize(2500000, '\0');
    return UserFile("beach.jpg", jpeg);
  }
  std::string Movie() {
    std::string avi("RIFF\x10\0\0\0AVI LIST", 16);
    avi.resize(1023, '\0');
    return UserFile("clip.avi", avi);
  }
  void Add(const std::string& path, const std::string& keywords) {
    items_.push_back(std::make_unique<CMediaItem>(path));
    items_.back()->SetKeywords(keywords);
  }

  INT_PTR Run(int index, const std::function<void(HWND)>& user) {
    return RunDialog(
        [this, index](HWND owner) {
          CPicDetailsDlg dialog(owner);
          dialog.SetItem(&items_, index);
          return dialog.DoModal();
        },
        [&user] {
          HWND dlg = WaitDialog("Media details");
          ASSERT_TRUE(dlg);
          user(dlg);
          EXPECT_TRUE(WaitGone(dlg));
        });
  }

  media_test::CTestDir dir_;
  CPicDetailsDlg::Items items_;
};

TEST(DetailsTexts, SummaryLines) {
  EXPECT_EQ(quib::MediaSummary("beach.jpg", 2500000, true, 1600, 1200, "image/jpeg"),
            "beach.jpg\n2441 kb\n1600x1200 pix\nUpload as: image/jpeg");
  EXPECT_EQ(quib::MediaSummary("clip.avi", 1023, false, 0, 0, "video/avi"),
            "clip.avi\n0 kb\nUpload as: video/avi");
  // A file that can no longer be opened.
  EXPECT_EQ(quib::MediaSummary("gone.png", -1, true, 10, 20, ""),
            "gone.png\n0 kb\n10x20 pix\nUpload as: ");
  EXPECT_EQ(quib::MediaSummary("big.jpg", 2047, true, 1, 1, "image/jpeg"),
            "big.jpg\n1 kb\n1x1 pix\nUpload as: image/jpeg");
}

TEST(DetailsTexts, AppendedTagsAreTrimmedAtBothEnds) {
  EXPECT_EQ(quib::AppendTags("a", "x"), "a x");
  EXPECT_EQ(quib::AppendTags("", "x"), "x");
  EXPECT_EQ(quib::AppendTags("c", " x"), "c  x");
  EXPECT_EQ(quib::AppendTags(" \t\"old tag\"\r\n", ""), "\"old tag\"");
  EXPECT_EQ(quib::AppendTags("\v\f", " \t"), "");
  EXPECT_EQ(quib::AppendTags("a\r\nb", "x\r\ny\r\n"), "a\r\nb x\r\ny");
  // Nothing is de-duplicated.
  EXPECT_EQ(quib::AppendTags("x", "x"), "x x");
}

TEST_F(DetailsDialog, PictureShowsThumbnailSummaryAndFields) {
  Add(Beach(), "sea \"summer 2009\"");
  items_[0]->SetName("Beach day");
  items_[0]->SetDescription("first line\r\nsecond line");
  EXPECT_EQ(
      Run(0,
          [&](HWND dlg) {
            char caption[64] = {};
            GetWindowTextA(dlg, caption, sizeof caption);
            EXPECT_STREQ(caption, "Media details");
            EXPECT_EQ(Text(dlg, IDC_DETAILS_NAME_LABEL), "Name:");
            EXPECT_EQ(Text(dlg, IDC_DETAILS_KEYWORDS_LABEL),
                      "Tags (word1 \"word1 and word2\" word3):");
            EXPECT_EQ(Text(dlg, IDC_DETAILS_DESCRIPTION_LABEL), "Comment:");
            EXPECT_EQ(Text(dlg, IDC_DETAILS_ADD_TO_ALL), "Add tags to all pictures and movies.");
            EXPECT_EQ(Text(dlg, IDOK), "OK");
            EXPECT_EQ(Text(dlg, IDCANCEL), "Cancel");
            EXPECT_EQ(Text(dlg, IDC_DETAILS_NAME), "Beach day");
            EXPECT_EQ(Text(dlg, IDC_DETAILS_KEYWORDS), "sea \"summer 2009\"");
            EXPECT_EQ(Text(dlg, IDC_DETAILS_DESCRIPTION), "first line\r\nsecond line");
            EXPECT_FALSE(IsChecked(dlg, IDC_DETAILS_ADD_TO_ALL));
            EXPECT_EQ(FocusOf(dlg), GetDlgItem(dlg, IDC_DETAILS_KEYWORDS));

            EXPECT_TRUE(Screenshot(dlg, "dialog-details"));
            // The thumbnail at (10, 10): red top-left quarter, blue
            // elsewhere; white around it.
            EXPECT_TRUE(WaitUntil(
                [&] { return media_test::IsReddish(Rgb(ScreenPixel(dlg, 10 + 10, 10 + 10))); },
                5000));
            EXPECT_TRUE(WaitUntil(
                [&] { return media_test::IsBluish(Rgb(ScreenPixel(dlg, 10 + 90, 10 + 65))); },
                5000));
            EXPECT_TRUE(ShowsWhite(dlg, 5, 5));
            // Four lines of summary right of it, nothing left of 134.
            RECT client{};
            GetClientRect(dlg, &client);
            EXPECT_EQ(PaintedLines(dlg, 134, 10, client.right - 10, 95), 4);
            EXPECT_EQ(PaintedLines(dlg, 116, 10, 132, 95), 0);
            Click(dlg, IDCANCEL);
          }),
      IDCANCEL);
}

TEST_F(DetailsDialog, SummaryOfPictureAndMovie) {
  Add(Beach(), "");
  Add(Movie(), "");
  CPicDetailsDlg picture(nullptr);
  picture.SetItem(&items_, 0);
  EXPECT_EQ(picture.GetSummary(), "beach.jpg\n2441 kb\n1600x1200 pix\nUpload as: image/jpeg");
  CPicDetailsDlg movie(nullptr);
  movie.SetItem(&items_, 1);
  const std::string summary = movie.GetSummary();
  EXPECT_EQ(summary.substr(0, summary.find("Upload as: ")), "clip.avi\n0 kb\n");
  EXPECT_EQ(summary.substr(summary.find("Upload as: ") + 11, 6), "video/");
  // The movie dialog paints three lines.
  EXPECT_EQ(Run(1,
                [&](HWND dlg) {
                  RECT client{};
                  GetClientRect(dlg, &client);
                  EXPECT_EQ(PaintedLines(dlg, 134, 10, client.right - 10, 95), 3);
                  EXPECT_TRUE(Screenshot(dlg, "dialog-details-movie"));
                  Click(dlg, IDCANCEL);
                }),
            IDCANCEL);
}

TEST_F(DetailsDialog, TagsAddedToAllOtherItems) {
  Add(Beach(), "a");
  Add(Movie(), "");
  Add(UserFile("song.mp3", std::string("ID3\x03\0\0\0\0\0\0", 10)), "c");
  EXPECT_EQ(Run(1,
                [](HWND dlg) {
                  Type(dlg, IDC_DETAILS_KEYWORDS, "x");
                  Click(dlg, IDC_DETAILS_ADD_TO_ALL);
                  WaitUntil([&] { return IsChecked(dlg, IDC_DETAILS_ADD_TO_ALL); });
                  Click(dlg, IDOK);
                }),
            IDOK);
  EXPECT_EQ(items_[0]->GetKeywords(), "a x");
  EXPECT_EQ(items_[1]->GetKeywords(), "x");
  EXPECT_EQ(items_[2]->GetKeywords(), "c x");

  // A leading blank stays on the edited item; the others get the trimmed
  // concatenation. Name and comment are stored as typed.
  EXPECT_EQ(Run(0,
                [](HWND dlg) {
                  Type(dlg, IDC_DETAILS_KEYWORDS, " y");
                  Type(dlg, IDC_DETAILS_NAME, " Str\xE4nde ");
                  Type(dlg, IDC_DETAILS_DESCRIPTION, "\xC4rger\r\nzweite Zeile\r\n");
                  Click(dlg, IDC_DETAILS_ADD_TO_ALL);
                  WaitUntil([&] { return IsChecked(dlg, IDC_DETAILS_ADD_TO_ALL); });
                  Click(dlg, IDOK);
                }),
            IDOK);
  EXPECT_EQ(items_[0]->GetKeywords(), " y");
  // Typed in code page 1252, kept in UTF-8.
  EXPECT_EQ(items_[0]->GetName(), " Str\xC3\xA4nde ");
  EXPECT_EQ(items_[0]->GetDescription(), "\xC3\x84rger\r\nzweite Zeile\r\n");
  EXPECT_EQ(items_[1]->GetKeywords(), "x  y");
  EXPECT_EQ(items_[2]->GetKeywords(), "c x  y");

  // Empty tags with the box ticked only trim the others.
  items_[1]->SetKeywords("  m  ");
  EXPECT_EQ(Run(2,
                [](HWND dlg) {
                  Type(dlg, IDC_DETAILS_KEYWORDS, "");
                  Click(dlg, IDC_DETAILS_ADD_TO_ALL);
                  WaitUntil([&] { return IsChecked(dlg, IDC_DETAILS_ADD_TO_ALL); });
                  Click(dlg, IDOK);
                }),
            IDOK);
  EXPECT_EQ(items_[0]->GetKeywords(), "y");
  EXPECT_EQ(items_[1]->GetKeywords(), "m");
  EXPECT_EQ(items_[2]->GetKeywords(), "");
}

TEST_F(DetailsDialog, WithoutTheBoxOnlyTheEditedItemChanges) {
  Add(Beach(), "a");
  Add(Movie(), "b");
  EXPECT_EQ(Run(1,
                [](HWND dlg) {
                  Type(dlg, IDC_DETAILS_KEYWORDS, "x");
                  Click(dlg, IDOK);
                }),
            IDOK);
  EXPECT_EQ(items_[0]->GetKeywords(), "a");
  EXPECT_EQ(items_[1]->GetKeywords(), "x");
}

TEST_F(DetailsDialog, CancelAndEscapeChangeNothing) {
  Add(Beach(), "a");
  Add(Movie(), "b");
  items_[1]->SetDescription("d");
  for (bool escape : {false, true}) {
    EXPECT_EQ(Run(1,
                  [escape](HWND dlg) {
                    Type(dlg, IDC_DETAILS_NAME, "new name");
                    Type(dlg, IDC_DETAILS_KEYWORDS, "new tags");
                    Type(dlg, IDC_DETAILS_DESCRIPTION, "new comment");
                    Click(dlg, IDC_DETAILS_ADD_TO_ALL);
                    WaitUntil([&] { return IsChecked(dlg, IDC_DETAILS_ADD_TO_ALL); });
                    if (escape)
                      PressKey(dlg, VK_ESCAPE);
                    else
                      Click(dlg, IDCANCEL);
                  }),
              IDCANCEL);
    EXPECT_EQ(items_[0]->GetKeywords(), "a");
    EXPECT_EQ(items_[1]->GetName(), "clip.avi");
    EXPECT_EQ(items_[1]->GetKeywords(), "b");
    EXPECT_EQ(items_[1]->GetDescription(), "d");
  }
}

TEST_F(DetailsDialog, ReturnInTheTagsFieldBreaksTheLine) {
  Add(Beach(), "");
  EXPECT_EQ(Run(0,
                [](HWND dlg) {
                  Type(dlg, IDC_DETAILS_KEYWORDS, "one");
                  SendMessageA(GetDlgItem(dlg, IDC_DETAILS_KEYWORDS), EM_SETSEL, 3, 3);
                  PressKey(dlg, VK_RETURN);
                  EXPECT_TRUE(WaitUntil(
                      [&] { return Text(dlg, IDC_DETAILS_KEYWORDS) == "one\r\n"; }, 3000));
                  EXPECT_TRUE(IsWindowVisible(dlg));
                  Click(dlg, IDOK);
                }),
            IDOK);
  EXPECT_EQ(items_[0]->GetKeywords(), "one\r\n");
}

}  // namespace
