// The upload list with thumbnails made in the background, in a real list view
// under Wine: entries appear at once, each finished thumbnail lands on its own
// entry even when entries were removed, turned or edited meanwhile, and an
// unreadable picture is told once for its batch.
#include <gtest/gtest.h>

#include "adapters/picture_work_win.h"
#include "core/media/media_item.h"
#include "core/media/upload_list.h"
#include "windows/common/item_bitmap.h"
#include "windows/upload_list/media_list_ctrl.h"
#include "tests/win/media/media_test_util.h"

using namespace media_test;

namespace {

constexpr int WaitMs = 60000;

class BatchListTest : public testing::Test {
 protected:
  void SetUp() override {
    tempBefore_ = NewTempFiles();
    HWND view = CreateHostedListView(0, &parent_);
    ASSERT_TRUE(view);
    list_.Attach(view);
    list_.InitList();
    uploads_.MakeThumbnailsInBackground(true);
  }
  void TearDown() override {
    uploads_.RemoveAll();
    uploads_.StopThumbnails();
    DestroyWindow(parent_);
    EXPECT_EQ(NewTempFiles(), tempBefore_) << "temporary copies left behind";
  }

  HWND View() const { return list_.GetSafeHwnd(); }
  HIMAGELIST Images() const {
    return reinterpret_cast<HIMAGELIST>(SendMessageA(View(), LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
  }
  CPixels Image(int index) const { return ImageListPixels(Images(), index); }
  // The image entry index shows, as the list draws it.
  int ImageOf(int index) const {
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = index;
    SendMessageA(View(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.iImage;
  }
  CPixels Shown(int index) const {
    const int image = ImageOf(index);
    EXPECT_GE(image, 0) << "entry " << index;
    return Image(image);
  }
  std::string Caption(int index) const {
    char text[256] = {};
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(View(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return text;
  }
  void Select(int index) {
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED;
    state.state = 0;
    SendMessageA(View(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(&state));
    state.state = LVIS_SELECTED;
    SendMessageA(View(), LVM_SETITEMSTATE, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&state));
  }
  // Runs the thread's messages until done() holds; false when it did not
  // within the bound.
  template <typename Done>
  bool PumpUntil(Done done) {
    const DWORD start = GetTickCount();
    while (!done()) {
      if (GetTickCount() - start > static_cast<DWORD>(WaitMs)) return false;
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      Sleep(5);
    }
    return true;
  }
  // A picture in one colour with a red block at the top left: its thumbnail
  // tells which file it was made from and which way up it is.
  std::string Picture(const std::string& name, COLORREF fill) {
    const std::string path = dir_.Path(name);
    EXPECT_TRUE(WritePicture(path, 640, 480, "image/jpeg", fill));
    return path;
  }

  // Every entry shows its item's thumbnail, made from the item's current
  // file as the list would make it at once.
  void ExpectThumbnailsOfTheirFiles() {
    const auto& items = uploads_.GetItems();
    ASSERT_EQ(ImageList_GetImageCount(Images()), CMediaListCtrl::ImageSlots + 1);
    for (size_t i = 0; i < items.size(); ++i) {
      SCOPED_TRACE(items[i]->GetName());
      EXPECT_EQ(Caption(static_cast<int>(i)), quib::ListCaption(items[i]->GetName()));
      ASSERT_TRUE(items[i]->IsThumbnailReady());
      const CPixels shown = Shown(static_cast<int>(i));
      EXPECT_TRUE(shown == ReadPixels(ItemBitmap(*items[i])));
      if (items[i]->GetPath() == items[i]->GetSourcePath()) {
        CMediaItem direct(items[i]->GetPath());
        EXPECT_TRUE(shown == ReadPixels(ItemBitmap(direct)));
      }
    }
  }

  CTestDir dir_;
  std::set<std::string> tempBefore_;
  HWND parent_ = nullptr;
  CUploadList uploads_;
  CMediaListCtrl list_{uploads_};
};

const COLORREF Fills[] = {RGB(30, 60, 200), RGB(20, 160, 40), RGB(200, 200, 30), RGB(90, 20, 120),
                          RGB(0, 150, 150), RGB(240, 120, 0), RGB(60, 60, 60),   RGB(150, 90, 60)};

TEST_F(BatchListTest, EntriesAppearAtOnceAndEachThumbnailLandsOnItsOwnEntry) {
  std::vector<std::string> names;
  for (int i = 0; i < 8; ++i) {
    names.push_back("pic" + std::to_string(i) + ".jpg");
    ASSERT_TRUE(uploads_.AddFile(Picture(names.back(), Fills[i])));
  }
  // Nothing is decoded on this thread: the entries are there with their
  // captions and white placeholders, and the pixel size is read from the
  // file's header when asked.
  ASSERT_EQ(list_.GetItemCount(), 8);
  CPixels white;
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(Caption(i), quib::ListCaption(names[static_cast<size_t>(i)]));
    if (i == 0) white = Shown(0);
    EXPECT_TRUE(Shown(i) == white);
  }
  EXPECT_EQ(white.At(52, 39), 0xFFFFFFu);
  EXPECT_EQ(uploads_.GetItems()[3]->GetWidth(), 640);
  EXPECT_EQ(uploads_.GetItems()[3]->GetHeight(), 480);

  ASSERT_TRUE(PumpUntil([&] { return uploads_.PendingThumbnails() == 0; }))
      << "thumbnails still pending: " << uploads_.PendingThumbnails();
  ExpectThumbnailsOfTheirFiles();
  // Distinct files, distinct thumbnails: none landed on a neighbour.
  for (int i = 1; i < 8; ++i) EXPECT_FALSE(Shown(i) == Shown(i - 1));
}

TEST_F(BatchListTest, RemovalTurnAndEditOfPendingEntriesLandRight) {
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(uploads_.AddFile(Picture("p" + std::to_string(i) + ".jpg", Fills[i])));
  }
  // All before a single finished thumbnail is taken on this thread.
  ASSERT_TRUE(uploads_.RemoveAt(2));
  Select(0);
  list_.RotateSelected();
  Select(4);  // p5 after the removal
  ASSERT_TRUE(list_.RemoveSelected());
  uploads_.GetItems()[3]->SetName("renamed.jpg");  // p4
  list_.RefreshEntry(3);

  ASSERT_TRUE(uploads_.FinishThumbnails(WaitMs)) << "pending: " << uploads_.PendingThumbnails();
  const std::vector<std::string> expected = {"p0.jpg",      "p1.jpg", "p3.jpg",
                                             "renamed.jpg", "p6.jpg", "p7.jpg"};
  ASSERT_EQ(uploads_.GetItems().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(uploads_.GetItems()[i]->GetName(), expected[i]);
  }
  ExpectThumbnailsOfTheirFiles();
  // The turned picture shows framed and on its side (480 x 640 now), not
  // the plain thumbnail that was on its way.
  const CPixels turned = Shown(0);
  EXPECT_EQ(turned.At(0, 0), 0xDCDCDCu);
  EXPECT_EQ(uploads_.GetItems()[0]->GetWidth(), 480);
  EXPECT_EQ(uploads_.GetItems()[0]->GetHeight(), 640);
  CMediaItem plain(uploads_.GetItems()[0]->GetSourcePath());
  EXPECT_FALSE(turned == ReadPixels(ItemBitmap(plain)));
}

TEST_F(BatchListTest, UnreadablePicturesAreToldOncePerBatch) {
  CBoxAnswerer boxes;
  const std::string broken1 = dir_.Path("broken1.jpg");
  const std::string broken2 = dir_.Path("broken2.png");
  ASSERT_TRUE(WriteBytes(broken1, std::string("\xFF\xD8\xFF\xE0 not really a picture", 25)));
  ASSERT_TRUE(WriteBytes(broken2, std::string(300, 'x')));
  ASSERT_TRUE(uploads_.AddFile(broken1));
  ASSERT_TRUE(uploads_.AddFile(Picture("good.jpg", Fills[1])));
  ASSERT_TRUE(uploads_.AddFile(broken2));

  ASSERT_TRUE(PumpUntil([&] {
    return uploads_.PendingThumbnails() == 0 && !boxes.Texts().empty();
  })) << "no message about the unreadable pictures";
  // A second batch of good pictures only: no message for it.
  ASSERT_TRUE(uploads_.AddFile(Picture("good2.jpg", Fills[2])));
  ASSERT_TRUE(PumpUntil([&] { return uploads_.PendingThumbnails() == 0; }));
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  Sleep(300);  // lets the answerer see a box that should not be there

  const std::vector<std::string> texts = boxes.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("2 file(s)"), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find(broken1), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find(broken2), std::string::npos) << texts[0];
  // The entries stay, with a white picture, and are still uploaded.
  ASSERT_EQ(list_.GetItemCount(), 4);
  EXPECT_EQ(uploads_.GetItems()[0]->GetWidth(), 0);
  ExpectThumbnailsOfTheirFiles();
}

// A picture that cannot be turned (memory, disk) stays as it was, the rest
// of the selection turns, and the user hears of it once.
TEST_F(BatchListTest, APictureThatCannotBeTurnedStaysAndIsToldOnce) {
  CBoxAnswerer boxes;
  ASSERT_TRUE(uploads_.AddFile(Picture("r0.jpg", Fills[0])));
  ASSERT_TRUE(uploads_.AddFile(Picture("r1.jpg", Fills[1])));
  ASSERT_TRUE(uploads_.FinishThumbnails(WaitMs)) << "pending: " << uploads_.PendingThumbnails();
  const CPixels before = Shown(0);
  LVITEMA all{};
  all.stateMask = LVIS_SELECTED;
  all.state = LVIS_SELECTED;
  SendMessageA(View(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&all));
  quib::FailPictureStepForTest(1);  // the first picture's first step fails
  list_.RotateSelected();
  quib::FailPictureStepForTest(0);
  ASSERT_TRUE(PumpUntil([&] { return !boxes.Texts().empty(); })) << "no message";
  const CMediaItem& kept = *uploads_.GetItems()[0];
  EXPECT_EQ(kept.GetPath(), kept.GetSourcePath());
  EXPECT_EQ(kept.GetWidth(), 640);
  EXPECT_TRUE(Shown(0) == before);
  const CMediaItem& turned = *uploads_.GetItems()[1];
  EXPECT_NE(turned.GetPath(), turned.GetSourcePath());
  EXPECT_EQ(turned.GetWidth(), 480);
  const std::vector<std::string> texts = boxes.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].rfind("1 picture(s) could not be turned", 0), 0u) << texts[0];
}

TEST_F(BatchListTest, ClosingWithThumbnailsPendingEndsAndLeavesNothing) {
  for (int i = 0; i < 24; ++i) {
    ASSERT_TRUE(uploads_.AddFile(Picture("c" + std::to_string(i) + ".jpg", Fills[i % 8])));
  }
  // Turned copies exist as temporary files until their items go.
  Select(1);
  list_.RotateSelected();
  ASSERT_NE(uploads_.GetItems()[1]->GetPath(), uploads_.GetItems()[1]->GetSourcePath());
  uploads_.StopThumbnails();
  EXPECT_EQ(uploads_.PendingThumbnails(), 0u);
  // TearDown checks that no temporary file is left.
}

}  // namespace
