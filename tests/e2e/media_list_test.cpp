// The upload list of the real program: files from the command line, from a
// second start and dropped on the list; remove, Delete, select-all, rotate;
// thumbnails that stay with their entries. User files stay untouched and no
// temporary copy outlives the program.
#include <shlobj.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

#include "adapters/gdiplus.h"
#include "tests/e2e/driver/driver.h"

using namespace e2e;

namespace {

constexpr int kRemove = 1003, kList = 1005, kRotate = 1006;

std::set<std::string> NewTempFiles() {
  char folder[MAX_PATH + 1] = {};
  GetTempPathA(MAX_PATH, folder);
  std::set<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((std::string(folder) + "NEW*.TMP").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.insert(found.cFileName);
  while (FindNextFileA(find, &found));
  FindClose(find);
  return names;
}

// Pixels of a screenshot counted by exact colour.
std::map<unsigned, int> CountColours(const std::string& png, std::map<unsigned, long>* sumX) {
  std::map<unsigned, int> counts;
  const std::wstring wide(png.begin(), png.end());
  std::unique_ptr<Gdiplus::Bitmap> shot(new Gdiplus::Bitmap(wide.c_str()));
  if (shot->GetLastStatus() != Gdiplus::Ok) return counts;
  for (UINT y = 0; y < shot->GetHeight(); ++y) {
    for (UINT x = 0; x < shot->GetWidth(); ++x) {
      Gdiplus::Color c;
      shot->GetPixel(static_cast<INT>(x), static_cast<INT>(y), &c);
      const unsigned rgb = c.GetValue() & 0xFFFFFF;
      ++counts[rgb];
      if (sumX) (*sumX)[rgb] += static_cast<long>(x);
    }
  }
  return counts;
}

class MediaList : public testing::Test {
 protected:
  void SetUp() override {
    static ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (!token) Gdiplus::GdiplusStartup(&token, &input, nullptr);
    tempBefore_ = NewTempFiles();
    dir_ = MakeTempDir("media-list");
  }
  void TearDown() override {
    if (program_) program_->Close();
    program_.reset();
    for (const auto& file : userFiles_) {
      EXPECT_EQ(ReadBytes(file.first), file.second) << "user file changed: " << file.first;
    }
    EXPECT_EQ(NewTempFiles(), tempBefore_) << "temporary copies left behind";
  }

  std::string File(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "\\" + name;
    EXPECT_TRUE(WriteBytes(path, bytes));
    userFiles_[path] = bytes;
    return path;
  }
  std::string Picture(const std::string& name, int w, int h, COLORREF colour) {
    const std::string path = dir_ + "\\" + name;
    EXPECT_TRUE(WritePicture(path, w, h, colour));
    userFiles_[path] = ReadBytes(path);
    return path;
  }
  static std::string Quoted(const std::vector<std::string>& paths) {
    std::string args;
    for (const std::string& p : paths) args += (args.empty() ? "\"" : " \"") + p + "\"";
    return args;
  }
  void Start(const std::vector<std::string>& files) {
    program_ = CProgram::Launch(Quoted(files));
    ASSERT_TRUE(program_);
    main_ = program_->WaitMainWindow();
    ASSERT_TRUE(main_);
    list_ = GetDlgItem(main_, kList);
  }
  void ExpectEntries(const std::vector<std::string>& captions) {
    const std::vector<ListEntry> entries = ReadListView(list_);
    ASSERT_EQ(entries.size(), captions.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(entries[i].text, captions[i]);
      EXPECT_GE(entries[i].image, 0) << captions[i];  // answered by the program
    }
  }
  // Drops files on the list as the shell does.
  void Drop(const std::vector<std::string>& files) { ASSERT_TRUE(DropFiles(list_, files, 30000)); }

  std::string dir_;
  std::map<std::string, std::string> userFiles_;
  std::set<std::string> tempBefore_;
  std::unique_ptr<CProgram> program_;
  HWND main_ = nullptr;
  HWND list_ = nullptr;
};

TEST_F(MediaList, FilesArriveInOrderFromEveryRoute) {
  const std::string beach = Picture("holiday-2006-beach.jpg", 640, 480, RGB(200, 120, 40));
  const std::string sunset = Picture("sunset.png", 300, 400, RGB(230, 90, 30));
  const std::string logo = Picture("logo.bmp", 40, 30, RGB(20, 120, 220));
  const std::string song = File("song.mp3", std::string("ID3\x03\0\0\0\0\0\0", 10));
  const std::string clip = File("clip.avi", std::string("RIFF\x10\0\0\0AVI LIST", 16));
  const std::string notes = File("notes.txt", "a shopping list\r\n");
  Start({beach, notes, sunset, logo, song, clip});
  ExpectEntries({"holiday-200...", "sunset.png", "logo.bmp", "song.mp3", "clip.avi"});
  // A refused file is named once for its hand-over.
  EXPECT_EQ(AnswerMessageBox(program_->Pid(), 30000), RefusedMessage({notes}));
  EXPECT_NE(SaveScreenshot(main_, "media-list-mixed"), "");

  // A second start with one file, then with several.
  const std::string forwarded = Picture("a-very-long-forwarded-name.png", 50, 50, RGB(0, 160, 0));
  ASSERT_TRUE(RunToExit(Quoted({forwarded}), 30000));
  ASSERT_TRUE(RunToExit(Quoted({notes, logo, song}), 30000));
  ExpectEntries({"holiday-200...", "sunset.png", "logo.bmp", "song.mp3", "clip.avi",
                 "a-very-long...", "logo.bmp", "song.mp3"});
  EXPECT_EQ(AnswerMessageBox(program_->Pid(), 30000), RefusedMessage({notes}));

  // Dropped: five files, of which two are pictures.
  const std::string dunes = Picture("dunes.bmp", 60, 40, RGB(220, 200, 120));
  const std::string missing = dir_ + "\\missing.jpg.gone";
  const std::string data = File("data.bin", std::string(32, '\x01'));
  Drop({notes, dunes, missing, data, beach});
  ExpectEntries({"holiday-200...", "sunset.png", "logo.bmp", "song.mp3", "clip.avi",
                 "a-very-long...", "logo.bmp", "song.mp3", "dunes.bmp", "holiday-200..."});
  EXPECT_EQ(AnswerMessageBox(program_->Pid(), 30000), RefusedMessage({notes, missing, data}));
  EXPECT_EQ(WaitForMessageBox(program_->Pid(), 500), nullptr) << "one message per hand-over";
}

TEST_F(MediaList, RemovingTheMiddleKeepsEachThumbnailWithItsEntry) {
  const COLORREF red = RGB(250, 0, 0), green = RGB(0, 250, 0), blue = RGB(0, 0, 250);
  Start({Picture("red.bmp", 80, 60, red), Picture("green.bmp", 80, 60, green),
         Picture("blue.bmp", 80, 60, blue)});
  ExpectEntries({"red.bmp", "green.bmp", "blue.bmp"});
  SelectListEntry(list_, 1, true);
  ASSERT_TRUE(WaitUntil([&] { return IsEnabled(main_, kRemove); }, 5000));
  PostClick(main_, kRemove);
  ASSERT_TRUE(WaitUntil([&] { return ReadListView(list_).size() == 2; }, 10000));
  ExpectEntries({"red.bmp", "blue.bmp"});
  EXPECT_FALSE(IsEnabled(main_, kRemove));
  InvalidateRect(list_, nullptr, TRUE);
  UpdateWindow(list_);
  Sleep(300);
  const std::string shot = SaveScreenshot(list_, "media-list-after-remove");
  ASSERT_NE(shot, "");
  std::map<unsigned, long> sumX;
  std::map<unsigned, int> counts = CountColours(shot, &sumX);
  const unsigned r = 0xFA0000, g = 0x00FA00, b = 0x0000FA;
  // Each remaining thumbnail shows its own picture (most of 104 x 78 pixels
  // in its colour), in entry order; the removed one is gone.
  EXPECT_GT(counts[r], 4000);
  EXPECT_GT(counts[b], 4000);
  EXPECT_EQ(counts[g], 0);
  if (counts[r] && counts[b]) {
    EXPECT_LT(sumX[r] / counts[r], sumX[b] / counts[b]);
  }
}

TEST_F(MediaList, DeleteKeyAndRotateOfASelection) {
  Start({Picture("one.bmp", 300, 200, RGB(250, 0, 0)), Picture("two.png", 300, 200, RGB(0, 0, 250)),
         Picture("three.bmp", 30, 20, RGB(0, 250, 0)),
         Picture("four.png", 30, 20, RGB(90, 90, 90))});
  ExpectEntries({"one.bmp", "two.png", "three.bmp", "four.png"});

  // Delete removes the selection.
  SelectListEntry(list_, 2, true);
  PostMessageA(list_, WM_KEYDOWN, VK_DELETE, 0x01530001);
  PostMessageA(list_, WM_KEYUP, VK_DELETE, 0xC1530001);
  ASSERT_TRUE(WaitUntil([&] { return ReadListView(list_).size() == 3; }, 10000));
  ExpectEntries({"one.bmp", "two.png", "four.png"});

  // Rotate the first entry only: it gets the grey frame, the file a copy.
  const std::set<std::string> before = NewTempFiles();
  SelectListEntry(list_, 0, true);
  ASSERT_TRUE(WaitUntil([&] { return IsEnabled(main_, kRotate); }, 5000));
  PostClick(main_, kRotate);
  ASSERT_TRUE(WaitUntil([&] { return NewTempFiles().size() == before.size() + 1; }, 15000));
  SelectListEntry(list_, 0, false);
  Sleep(300);
  ExpectEntries({"one.bmp", "two.png", "four.png"});
  const std::string shot = SaveScreenshot(list_, "media-list-rotated");
  std::map<unsigned, int> counts = CountColours(shot, nullptr);
  EXPECT_GT(counts[0xDCDCDC], 300) << "the frame of the rotated thumbnail";
}

// Ctrl+A typed on the keyboard selects every entry.
TEST_F(MediaList, CtrlASelectsAll) {
  Start({Picture("one.bmp", 30, 20, RGB(250, 0, 0)), Picture("two.bmp", 30, 20, RGB(0, 0, 250))});
  SetForegroundWindow(main_);
  // A click on the list's empty part gives it the focus.
  PostMessageA(list_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 250));
  PostMessageA(list_, WM_LBUTTONUP, 0, MAKELPARAM(300, 250));
  Sleep(500);
  TypeCtrlKey('A');
  EXPECT_TRUE(WaitUntil(
      [&] {
        int selected = 0;
        for (const ListEntry& e : ReadListView(list_)) selected += e.selected;
        return selected == 2;
      },
      5000));
}

}  // namespace

// Far more files picked at once in the file dialog than its first buffer of
// 10240 characters holds all arrive. (Selecting thousands of files in Wine's
// dialog takes minutes, so the names are long instead: 250 files of 98
// characters.)
TEST_F(MediaList, FileDialogTakesASelectionOfAnySize) {
  constexpr int kFiles = 250;
  const std::string folder = dir_ + "\\camera";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string tail =
      " holiday by the sea with the whole family, evening light on the dunes, take";
  std::vector<std::string> names;
  size_t selectionChars = 0;
  for (int i = 0; i < kFiles; ++i) {
    names.push_back("IMG_20240101_" + std::to_string(100000 + i) + tail + ".jpg");
    selectionChars += names.back().size() + 1;
  }
  const std::string first = folder + "\\" + names.front();
  ASSERT_TRUE(WritePicture(first, 8, 6, RGB(0, 120, 200)));
  for (int i = 1; i < kFiles; ++i) {
    ASSERT_TRUE(CopyFileA(first.c_str(), (folder + "\\" + names[i]).c_str(), FALSE));
  }
  ASSERT_GT(selectionChars, 10240u * 2);
  // The dialog opens where the last file came from.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER,
                            "Software\\BRAMWELD\\quib-uploader-net\\quibuploader\\PathHistory", 0,
                            nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, "ImagePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(first.c_str()),
                 static_cast<DWORD>(first.size() + 1));
  RegCloseKey(key);

  auto entries = [&] { return static_cast<int>(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0)); };
  auto imagePath = [] {
    char stored[MAX_PATH] = {};
    DWORD size = sizeof stored;
    RegGetValueA(HKEY_CURRENT_USER,
                 "Software\\BRAMWELD\\quib-uploader-net\\quibuploader\\PathHistory", "ImagePath",
                 RRF_RT_REG_SZ, nullptr, stored, &size);
    return std::string(stored);
  };

  Start({});
  PostClick(main_, 1002);
  HWND dialog = WaitForWindow("Select Files", program_->Pid(), 30000);
  ASSERT_TRUE(dialog) << "no file dialog";
  HWND view = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        view = FindChildByClass(dialog, "SysListView32");
        return view && SendMessageA(view, LVM_GETITEMCOUNT, 0, 0) == kFiles;
      },
      120000))
      << "the dialog did not list the " << kFiles << " files";
  // Select all, as Ctrl+A or a drag over them does.
  const DWORD selectStart = GetTickCount();
  SelectListEntry(view, -1, true);
  ASSERT_EQ(SendMessageA(view, LVM_GETSELECTEDCOUNT, 0, 0), kFiles);
  printf("selecting %d files in the dialog: %lu ms\n", kFiles,
         static_cast<unsigned long>(GetTickCount() - selectStart));
  SaveScreenshot(dialog, "file-dialog-many");
  const DWORD addStart = GetTickCount();
  PostClick(dialog, IDOK);
  ASSERT_TRUE(WaitWindowGone(dialog, 60000));
  EXPECT_TRUE(WaitUntil([&] { return entries() >= kFiles; }, 120000)) << "entries: " << entries();
  printf("adding %d files: %lu ms\n", kFiles,
         static_cast<unsigned long>(GetTickCount() - addStart));
  EXPECT_EQ(WaitForMessageBox(program_->Pid(), 0), nullptr);
  const std::vector<std::string> captions = ListCaptions(list_);
  ASSERT_EQ(captions.size(), static_cast<size_t>(kFiles));
  EXPECT_EQ(captions.front(), "IMG_2024010...");
  // The last file walked is remembered for the next time.
  EXPECT_EQ(imagePath(), folder + "\\" + names.back());

  // Names typed into the file name field, more than 10240 characters again.
  PostClick(main_, 1002);
  dialog = WaitForWindow("Select Files", program_->Pid(), 30000);
  ASSERT_TRUE(dialog) << "no file dialog";
  std::string typed;
  for (int i = 120; i > 0; --i) typed += "\"" + names[static_cast<size_t>(i)] + "\" ";
  ASSERT_GT(typed.size(), 10240u);
  HWND field = GetDlgItem(dialog, 0x47C);  // a combo box with an edit, or an edit
  if (!field) field = GetDlgItem(dialog, 0x480);
  ASSERT_TRUE(field);
  SetText(field, typed);
  PostClick(dialog, IDOK);
  ASSERT_TRUE(WaitWindowGone(dialog, 60000));
  EXPECT_TRUE(WaitUntil([&] { return entries() >= kFiles + 120; }, 120000))
      << "entries: " << entries();
  EXPECT_EQ(ListCaptions(list_).size(), static_cast<size_t>(kFiles + 120));
  EXPECT_EQ(imagePath(), folder + "\\" + names[1]);
  EXPECT_EQ(WaitForMessageBox(program_->Pid(), 0), nullptr);
}
