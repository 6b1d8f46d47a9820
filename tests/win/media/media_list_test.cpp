// CMediaListCtrl in a real list view under Wine: entry i always shows image
// i and the caption of item i, whatever was added, removed or rotated.
#include "windows/upload_list/media_list_ctrl.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "core/media/media_item.h"
#include "core/media/upload_list.h"
#include "windows/common/item_bitmap.h"
#include "program/uploader_app.h"
#include "windows/main/uploader_dlg.h"
#include "tests/win/media/media_test_util.h"

using namespace media_test;

namespace {

class MediaListTest : public testing::Test {
 protected:
  void SetUp() override {
    tempBefore_ = NewTempFiles();
    HWND view = CreateHostedListView(WS_EX_ACCEPTFILES, &parent_);
    ASSERT_TRUE(view);
    list_.Attach(view);
    list_.InitList();
  }
  void TearDown() override {
    uploads_.RemoveAll();
    // The image list keeps its slots, however many entries came and went.
    EXPECT_EQ(ImageCount(), CMediaListCtrl::ImageSlots + 1);
    DestroyWindow(parent_);
    for (const auto& file : userFiles_) {
      EXPECT_EQ(ReadBytes(file.first), file.second) << "user file changed: " << file.first;
    }
    EXPECT_EQ(NewTempFiles(), tempBefore_) << "temporary copies left behind";
  }

  std::string UserFile(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.Path(name);
    EXPECT_TRUE(WriteBytes(path, bytes));
    userFiles_[path] = bytes;
    return path;
  }
  std::string Picture(const std::string& name, COLORREF fill) {
    return UserFile(name, EncodePicture(120, 90, "image/png", fill));
  }

  HWND View() const { return list_.GetSafeHwnd(); }
  HIMAGELIST Images() const {
    return reinterpret_cast<HIMAGELIST>(SendMessageA(View(), LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
  }
  int ImageCount() const { return ImageList_GetImageCount(Images()); }

  struct Entry {
    std::string caption;
    int image;
  };
  std::vector<Entry> Entries() const {
    std::vector<Entry> entries;
    const int count = static_cast<int>(SendMessageA(View(), LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      char text[256] = {};
      LVITEMA item{};
      item.mask = LVIF_TEXT | LVIF_IMAGE;
      item.iItem = i;
      item.pszText = text;
      item.cchTextMax = sizeof text;
      SendMessageA(View(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
      entries.push_back({text, item.iImage});
    }
    return entries;
  }
  CPixels Image(int index) const { return ImageListPixels(Images(), index); }
  // The picture entry index shows, as the list draws it.
  CPixels Shown(int index) const {
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = index;
    SendMessageA(View(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_GE(item.iImage, 0) << "entry " << index;
    return Image(item.iImage);
  }
  void Select(int index, bool selected = true) {
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED;
    state.state = selected ? LVIS_SELECTED : 0;
    SendMessageA(View(), LVM_SETITEMSTATE, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&state));
  }

  // The invariant: the collection and the entries have the same length, and
  // entry i shows item i's thumbnail and shortened name.
  void ExpectInStep(const std::vector<std::string>& names) {
    const auto& items = uploads_.GetItems();
    const std::vector<Entry> entries = Entries();
    ASSERT_EQ(items.size(), names.size());
    ASSERT_EQ(entries.size(), names.size());
    EXPECT_EQ(list_.GetItemCount(), static_cast<int>(names.size()));
    for (size_t i = 0; i < names.size(); ++i) {
      SCOPED_TRACE(names[i]);
      EXPECT_EQ(items[i]->GetName(), names[i]);
      EXPECT_EQ(entries[i].caption, quib::ListCaption(names[i]));
      EXPECT_GE(entries[i].image, 0);
      EXPECT_TRUE(Image(entries[i].image) == ReadPixels(ItemBitmap(*items[i])));
    }
  }

  // Drops files on the list as the shell does; the list frees the drop.
  void Drop(const std::vector<std::string>& files) {
    size_t size = sizeof(DROPFILES) + 1;
    for (const std::string& f : files) size += f.size() + 1;
    HGLOBAL drop = GlobalAlloc(GHND, size);
    auto* header = static_cast<DROPFILES*>(GlobalLock(drop));
    header->pFiles = sizeof(DROPFILES);
    char* p = reinterpret_cast<char*>(header + 1);
    for (const std::string& f : files) {
      memcpy(p, f.c_str(), f.size() + 1);
      p += f.size() + 1;
    }
    GlobalUnlock(drop);
    SendMessageA(View(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
  }

  CTestDir dir_;
  std::map<std::string, std::string> userFiles_;
  std::set<std::string> tempBefore_;
  HWND parent_ = nullptr;
  CUploadList uploads_;
  CMediaListCtrl list_{uploads_};
};

TEST_F(MediaListTest, AddsPicturesMoviesAndAudioInOrderAndSkipsTheRest) {
  EXPECT_TRUE(uploads_.AddFile(Picture("picture.jpg", RGB(200, 30, 30))));
  EXPECT_TRUE(uploads_.AddFile(UserFile("song.mp3", std::string("ID3\x03\0\0\0\0\0\0", 10))));
  EXPECT_TRUE(uploads_.AddFile(UserFile("clip.avi", std::string("RIFF\x10\0\0\0AVI LIST", 16))));
  EXPECT_FALSE(uploads_.AddFile(UserFile("readme.txt", "just some words\r\n")));
  EXPECT_FALSE(uploads_.AddFile(dir_.Path("missing.dat")));
  ExpectInStep({"picture.jpg", "song.mp3", "clip.avi"});
  EXPECT_TRUE(uploads_.GetItems()[1]->IsAudio());
  EXPECT_TRUE(uploads_.GetItems()[2]->IsVideo());

  // The same file twice is two items; long names are shortened.
  const std::string longName = Picture("exactly13.pngx-and-more.png", RGB(10, 10, 10));
  EXPECT_TRUE(uploads_.AddFile(Picture("exactly13.png", RGB(0, 200, 0))));
  EXPECT_TRUE(uploads_.AddFile(longName));
  EXPECT_TRUE(uploads_.AddFile(longName));
  ExpectInStep({"picture.jpg", "song.mp3", "clip.avi", "exactly13.png",
                "exactly13.pngx-and-more.png", "exactly13.pngx-and-more.png"});
  EXPECT_EQ(Entries()[3].caption, "exactly13.png");
  EXPECT_EQ(Entries()[4].caption, "exactly13.p...");
}

TEST_F(MediaListTest, RemovingAnyEntryKeepsThumbnailsWithTheirItems) {
  const char* names[] = {"red-first-picture.png", "green.png", "blue.png", "grey.png"};
  const COLORREF fills[] = {RGB(220, 0, 0), RGB(0, 220, 0), RGB(0, 0, 220), RGB(90, 90, 90)};
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(uploads_.AddFile(Picture(names[i], fills[i])));

  EXPECT_TRUE(uploads_.RemoveAt(1));  // the middle, as after a "too big" answer
  ExpectInStep({"red-first-picture.png", "blue.png", "grey.png"});
  EXPECT_FALSE(uploads_.RemoveAt(3));
  EXPECT_FALSE(uploads_.RemoveAt(-1));
  EXPECT_TRUE(uploads_.RemoveAt(0));
  ExpectInStep({"blue.png", "grey.png"});
  EXPECT_TRUE(uploads_.RemoveAt(1));
  ExpectInStep({"blue.png"});
}

TEST_F(MediaListTest, RemoveSelectedRebuildsWithShortenedCaptions) {
  const char* names[] = {"first-of-the-day.png", "second-of-the-day.png", "third.png",
                         "fourth-of-the-day.png"};
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(uploads_.AddFile(Picture(names[i], RGB(60 * i, 100, 0))));
  Select(0);
  Select(2);
  EXPECT_EQ(list_.GetSelectedCount(), 2);
  EXPECT_TRUE(list_.RemoveSelected());
  ExpectInStep({"second-of-the-day.png", "fourth-of-the-day.png"});
  EXPECT_EQ(list_.GetSelectedCount(), 0);
  // Nothing selected: nothing goes.
  EXPECT_TRUE(list_.RemoveSelected());
  ExpectInStep({"second-of-the-day.png", "fourth-of-the-day.png"});
}

TEST_F(MediaListTest, RotateSelectedTurnsOnlyTheSelection) {
  ASSERT_TRUE(uploads_.AddFile(Picture("left.png", RGB(0, 0, 200))));
  ASSERT_TRUE(uploads_.AddFile(Picture("right.png", RGB(0, 150, 0))));
  ASSERT_TRUE(uploads_.AddFile(UserFile("tune.mp3", std::string("ID3\x03\0\0\0\0\0\0", 10))));
  const CPixels leftBefore = ReadPixels(ItemBitmap(*uploads_.GetItems()[0]));
  Select(1);
  Select(2);
  list_.RotateSelected();
  ExpectInStep({"left.png", "right.png", "tune.mp3"});
  EXPECT_EQ(uploads_.GetItems()[0]->GetPath(), uploads_.GetItems()[0]->GetSourcePath());
  EXPECT_TRUE(ReadPixels(ItemBitmap(*uploads_.GetItems()[0])) == leftBefore);
  const std::string copy = uploads_.GetItems()[1]->GetPath();
  EXPECT_NE(copy, uploads_.GetItems()[1]->GetSourcePath());
  EXPECT_EQ(uploads_.GetItems()[1]->GetWidth(), 90);
  EXPECT_EQ(ContentBox(Shown(1)).top, 2);  // framed
  EXPECT_EQ(uploads_.GetItems()[2]->GetPath(), uploads_.GetItems()[2]->GetSourcePath());
  uploads_.RemoveAll();
  EXPECT_FALSE(FileExists(copy));
  ExpectInStep({});
}

TEST_F(MediaListTest, RemoveAtFromAWorkerWhileTheListThreadPumps) {
  ASSERT_TRUE(uploads_.AddFile(Picture("one.png", RGB(200, 0, 0))));
  ASSERT_TRUE(uploads_.AddFile(Picture("two.png", RGB(0, 200, 0))));
  ASSERT_TRUE(uploads_.AddFile(Picture("three.png", RGB(0, 0, 200))));
  Select(2);
  ASSERT_TRUE(uploads_.GetItems()[2]->Rotate());
  const std::string copy = uploads_.GetItems()[2]->GetPath();
  std::vector<int> results;
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread worker([&] {
    // As the upload run does: from the last item to the first, plus a miss.
    for (int i : {2, 0, 5}) results.push_back(uploads_.RemoveAt(i) ? 1 : 0);
    SetEvent(done);
  });
  while (MsgWaitForMultipleObjects(1, &done, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  worker.join();
  CloseHandle(done);
  EXPECT_EQ(results, (std::vector<int>{1, 1, 0}));
  EXPECT_FALSE(FileExists(copy));
  ExpectInStep({"two.png"});
}

TEST_F(MediaListTest, DroppedFilesAreAddedInDropOrder) {
  Drop({UserFile("notes.txt", "plain text\r\n"), Picture("beach.png", RGB(0, 100, 200)),
        dir_.Path("vanished.jpg.missing"), UserFile("data.bin", std::string(64, '\x01')),
        Picture("dunes.png", RGB(200, 150, 0))});
  ExpectInStep({"beach.png", "dunes.png"});
}

TEST_F(MediaListTest, RightClickWithoutSelectionOpensNothing) {
  ASSERT_TRUE(uploads_.AddFile(Picture("only.png", RGB(0, 100, 200))));
  NMHDR click{View(), 1005, static_cast<UINT>(NM_RCLICK)};
  LRESULT result = 99;
  EXPECT_TRUE(list_.OnReflectedNotify(&click, &result));
  EXPECT_EQ(result, 0);
  NMHDR other{View(), 1005, static_cast<UINT>(LVN_ITEMCHANGED)};
  EXPECT_FALSE(list_.OnReflectedNotify(&other, &result));
  ExpectInStep({"only.png"});
}

// A file whose path is longer than MAX_PATH, written with the wide file
// functions; removed with its folders.
class CLongPathFile {
 public:
  CLongPathFile(const std::string& base, const std::string& name, const std::string& bytes) {
    std::string path = base;
    folders_.push_back(path);
    for (char c = 'a'; c <= 'c'; ++c) {
      path += "\\" + std::string(90, c) + "-folder";
      folders_.push_back(path);
    }
    for (const std::string& folder : folders_) CreateDirectoryW(Long(folder).c_str(), nullptr);
    path_ = path + "\\" + name;
    HANDLE file =
        CreateFileW(Long(path_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    written_ = file != INVALID_HANDLE_VALUE &&
               WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
               n == bytes.size();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  ~CLongPathFile() {
    DeleteFileW(Long(path_).c_str());
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
      RemoveDirectoryW(Long(*it).c_str());
    }
  }
  const std::string& Path() const { return path_; }
  bool Written() const { return written_; }

 private:
  static std::wstring Long(const std::string& path) {
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
  }

  std::string path_;
  std::vector<std::string> folders_;
  bool written_ = false;
};

// Paths longer than MAX_PATH arrive whole, with their thumbnails.
TEST_F(MediaListTest, DroppedPathsLongerThanMaxPathArriveWhole) {
  const std::string bytes = EncodePicture(120, 90, "image/png", RGB(0, 100, 200));
  CLongPathFile deep(dir_.Path("long"), "beach at dawn.png", bytes);
  ASSERT_TRUE(deep.Written());
  ASSERT_GT(deep.Path().size(), 300u);
  CBoxAnswerer boxes;
  Drop({Picture("short.png", RGB(200, 0, 0)), deep.Path(), UserFile("notes.txt", "text")});
  ExpectInStep({"short.png", "beach at dawn.png"});
  ASSERT_EQ(uploads_.GetItems().size(), 2u);
  EXPECT_EQ(uploads_.GetItems()[1]->GetSourcePath(), deep.Path());
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{});
  uploads_.RemoveAll();
}

// A name that looks like media is not enough: the file must exist and be
// readable now. Refusals are silent.
TEST_F(MediaListTest, RefusesWhatCannotBeReadWhateverItsName) {
  CBoxAnswerer boxes;
  EXPECT_FALSE(uploads_.AddFile(dir_.Path("missing.jpg")));
  const std::string folder = dir_.Path("folder.jpg");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_FALSE(uploads_.AddFile(folder));
  RemoveDirectoryA(folder.c_str());
  const std::string locked = Picture("locked.png", RGB(0, 150, 0));
  HANDLE exclusive =
      CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(uploads_.AddFile(locked));
  CloseHandle(exclusive);
  EXPECT_TRUE(uploads_.AddFile(locked));
  ExpectInStep({"locked.png"});
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{});
}

// The upload list inside the real main window, in this process, so the
// list's notifications can be sent as Windows sends them.
TEST(MainWindowList, PlainASelectsNothing) {
  CTestDir dir;
  const std::string one = dir.Path("one.png"), two = dir.Path("two.png");
  ASSERT_TRUE(WritePicture(one, 40, 30, "image/png"));
  ASSERT_TRUE(WritePicture(two, 40, 30, "image/png"));
  CUploaderDlg dialog;
  LRESULT handed = 0;
  int entries = -1, selected = -1;
  std::thread user([&] {
    HWND window = nullptr;
    for (int i = 0; i < 200 && !window; ++i) {
      Sleep(50);
      window = FindWindowW(nullptr, QUIB_WINDOW_TITLE_WIDE);
    }
    if (!window) return;
    const std::string payload = "\"" + one + "\" \"" + two + "\"";
    COPYDATASTRUCT data{COPYDATA_ADD_FILE, static_cast<DWORD>(payload.size()),
                        const_cast<char*>(payload.data())};
    handed = SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    HWND list = GetDlgItem(window, 1005);
    entries = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    // Windows puts the key's scan code into the flags: 0x1E for A. Ctrl is
    // not down.
    NMLVKEYDOWN key{};
    key.hdr = {list, 1005, static_cast<UINT>(LVN_KEYDOWN)};
    key.wVKey = 'A';
    key.flags = 0x1E;
    SendMessageA(window, WM_NOTIFY, 1005, reinterpret_cast<LPARAM>(&key));
    key.flags = 0x01;
    SendMessageA(window, WM_NOTIFY, 1005, reinterpret_cast<LPARAM>(&key));
    selected = static_cast<int>(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0));
    // A session that ends closes the window without a question.
    SendMessageA(window, WM_ENDSESSION, TRUE, 0);
  });
  EXPECT_EQ(dialog.DoModal(), 0);
  user.join();
  EXPECT_EQ(handed, TRUE);
  EXPECT_EQ(entries, 2);
  EXPECT_EQ(selected, 0);
}

// More entries than the image list has slots: the image list never grows
// and no removal moves its images, yet every entry shows its own picture,
// also after its slot went to entries drawn later.
TEST_F(MediaListTest, MoreEntriesThanSlotsShowTheirOwnPicturesInAFixedImageList) {
  const int count = CMediaListCtrl::ImageSlots + 88;
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    names.push_back("m" + std::to_string(i) + ".png");
    const std::string path = dir_.Path(names.back());
    ASSERT_TRUE(WriteBytes(
        path, EncodePicture(24, 18, "image/png", RGB(i % 256, (i / 256) * 90, 255 - i % 256))));
    ASSERT_TRUE(uploads_.AddFile(path));
  }
  ASSERT_EQ(ImageCount(), CMediaListCtrl::ImageSlots + 1);
  // Each entry in turn, as scrolling through the list draws them.
  auto expectEachShown = [&] {
    const auto& items = uploads_.GetItems();
    ASSERT_EQ(items.size(), names.size());
    ASSERT_EQ(list_.GetItemCount(), static_cast<int>(names.size()));
    for (size_t i = 0; i < items.size(); ++i) {
      SCOPED_TRACE(names[i]);
      ASSERT_EQ(items[i]->GetName(), names[i]);
      ASSERT_TRUE(Shown(static_cast<int>(i)) == ReadPixels(ItemBitmap(*items[i])));
    }
  };
  expectEachShown();
  // The first entries gave their slots up: drawn again, they get theirs back.
  expectEachShown();
  EXPECT_EQ(ImageCount(), CMediaListCtrl::ImageSlots + 1);

  // A run removes its uploaded entries one by one.
  for (int i = 0; i < 40; ++i) {
    const int index = i % 2 ? 0 : 100;
    ASSERT_TRUE(uploads_.RemoveAt(index));
    names.erase(names.begin() + index);
  }
  EXPECT_EQ(ImageCount(), CMediaListCtrl::ImageSlots + 1);
  expectEachShown();
  EXPECT_EQ(Entries()[0].caption, quib::ListCaption(names[0]));
  EXPECT_EQ(Entries().back().caption, quib::ListCaption(names.back()));
}

}  // namespace
