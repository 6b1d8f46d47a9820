// Whole folders handed to the real program: a nested tree adds exactly its
// pictures, movies and audio files, folder by folder in natural order, and
// names only the file handed over beside it that is none; a folder of a few
// thousand pictures asks first, and the window keeps answering while it is
// walked and added.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/batch/batch_support.h"
#include "tests/e2e/driver/driver.h"
#include "tests/win/support/unix_link.h"
#include "tests/win/support/watchdog.h"

using namespace e2e;
using namespace batch;

namespace {

int Entries(HWND list) {
  return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

std::string Caption(HWND list, int index) {
  ListEntry entry;
  return ReadListEntry(list, index, &entry) ? entry.text : "(unreadable)";
}

// A picture's bytes for the name, drawn through a plain temporary name.
std::string PictureBytes(const std::string& dir, const std::string& name, COLORREF colour) {
  const std::string scratch = dir + "\\scratch" + name.substr(name.rfind('.'));
  EXPECT_TRUE(WritePicture(scratch, 80, 60, colour));
  const std::string bytes = ReadBytes(scratch);
  DeleteFileA(scratch.c_str());
  return bytes;
}

// The tree is named in Chinese, Greek and with an emoji, has a Japanese
// subfolder, a Greek file and a path past 300 characters: it comes whole by the command line, a
// second start (names code page 1252 cannot carry) and a drop.
TEST(FolderE2e, ATreeAddsExactlyItsMediaInNaturalOrderByEveryRoute) {
  const DWORD testStart = GetTickCount();
  const int tempBefore = CountTempFiles("NEW*.TMP");
  const std::string dir = MakeTempDir("tree");
  // "旅行 Ταξίδι 📷", "さくら", "花見 2.jpg", "花見 10.jpg", "Λίμνη.jpg".
  const std::string trip =
      dir +
      "\\\xE6\x97\x85\xE8\xA1\x8C \xCE\xA4\xCE\xB1\xCE\xBE\xCE\xAF\xCE\xB4\xCE\xB9 "
      "\xF0\x9F\x93\xB7";
  const std::string sakura = "\xE3\x81\x95\xE3\x81\x8F\xE3\x82\x89";
  const std::string hanami2 = "\xE8\x8A\xB1\xE8\xA6\x8B 2.jpg",
                    hanami10 = "\xE8\x8A\xB1\xE8\xA6\x8B 10.jpg";
  const std::string lake = "\xCE\x9B\xCE\xAF\xCE\xBC\xCE\xBD\xCE\xB7.jpg";
  const std::string outside = dir + "\\Outside";
  for (const std::string& folder : {trip, trip + "\\Day 2", trip + "\\Day 2\\Night",
                                    trip + "\\Day 10", trip + "\\" + sakura, outside}) {
    ASSERT_TRUE(MakeDirUtf8(folder)) << folder;
  }
  // A picture far below, its path longer than 300 characters.
  std::string deep = trip + "\\Day 10";
  for (char c : {'d', 'e', 'f'}) {
    deep += "\\" + std::string(80, c);
    ASSERT_TRUE(MakeDirUtf8(deep)) << deep;
  }
  deep += "\\deep.jpg";
  ASSERT_GT(deep.size(), 300u);
  ASSERT_TRUE(WriteBytesUtf8(deep, PictureBytes(dir, deep, kBlue)));
  int colour = 0;
  for (const std::string& name : std::vector<std::string>{
           "IMG_10.jpg", "IMG_2.jpg", "IMG_1.JPG", lake, "Day 2\\b.jpg", "Day 2\\Night\\c.png",
           "Day 10\\a.jpg", sakura + "\\" + hanami10, sakura + "\\" + hanami2, "hidden.jpg",
           "system.jpg", "IMG_10.THM"}) {
    ASSERT_TRUE(
        WriteBytesUtf8(trip + "\\" + name, PictureBytes(dir, name, RGB(20 * colour++, 120, 200))))
        << name;
  }
  ASSERT_TRUE(WritePicture(outside + "\\far.jpg", 80, 60, kRed));
  ASSERT_TRUE(WriteBytesUtf8(trip + "\\Day 2\\song.mp3", std::string("ID3\x03\0\0\0\0\0\0", 10)));
  const std::string scratchMovie = dir + "\\scratch.flv";
  ASSERT_TRUE(WriteMovie(scratchMovie, 4096));
  ASSERT_TRUE(WriteBytesUtf8(trip + "\\Day 10\\clip.flv", ReadBytes(scratchMovie)));
  DeleteFileA(scratchMovie.c_str());
  // What cameras, phones and Explorer leave beside the pictures.
  ASSERT_TRUE(WriteBytesUtf8(trip + "\\IMG_2.jpg.xmp", "<x:xmpmeta/>"));
  ASSERT_TRUE(WriteBytesUtf8(trip + "\\notes.txt", "where we went\r\n"));
  ASSERT_TRUE(WriteBytesUtf8(trip + "\\Thumbs.db", std::string(512, '\0')));
  ASSERT_TRUE(WriteBytesUtf8(trip + "\\desktop.ini", "[.ShellClassInfo]\r\n"));
  const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  for (const auto& marked :
       std::vector<std::pair<std::string, DWORD>>{{"Thumbs.db", hiddenSystem},
                                                  {"desktop.ini", hiddenSystem},
                                                  {"hidden.jpg", FILE_ATTRIBUTE_HIDDEN},
                                                  {"system.jpg", FILE_ATTRIBUTE_SYSTEM}}) {
    ASSERT_TRUE(SetFileAttributesW(WideLongPath(trip + "\\" + marked.first).c_str(), marked.second))
        << marked.first;
  }
  // A link out of the tree, as Wine has them: a Unix symbolic link.
  const std::string link = trip + "\\Elsewhere";
  ASSERT_TRUE(quibtest::MakeFolderLink(outside, link)) << "ln did not run";
  const std::string readme = dir + "\\readme.txt";
  ASSERT_TRUE(WriteBytes(readme, "read me\r\n"));

  const std::vector<std::string> tree = {"IMG_1.JPG", "IMG_2.jpg", "IMG_10.jpg", lake,
                                         "b.jpg",     "song.mp3",  "c.png",      "a.jpg",
                                         "clip.flv",  "deep.jpg",  hanami2,      hanami10};
  std::vector<std::string> expected;
  HWND list = nullptr;
  // Each route adds the tree once more after what is there.
  auto expectTreeAdded = [&](const char* route) {
    expected.insert(expected.end(), tree.begin(), tree.end());
    std::vector<std::string> captions;
    if (!WaitUntil(
            [&] {
              captions = ListCaptionsUtf8(list);
              return captions.size() >= expected.size();
            },
            60000)) {
      ADD_FAILURE() << route << ": waited 60 s for " << expected.size() << " entries";
    }
    EXPECT_EQ(captions, expected) << route;
  };

  // The command line: named in its one message, only the file handed over
  // beside the folder; none of the folder's own.
  std::unique_ptr<CProgram> program = CProgram::LaunchUtf8(QuotePaths({trip, readme}));
  ASSERT_TRUE(program);
  HWND main = program->WaitMainWindow();
  ASSERT_TRUE(main);
  list = GetDlgItem(main, kList);
  EXPECT_EQ(AnswerMessageBox(program->Pid(), 60000), RefusedMessage({readme}));
  expectTreeAdded("command line");
  SaveScreenshot(main, "folder-tree");

  ASSERT_TRUE(CProgram::LaunchUtf8(QuotePaths({trip}))->WaitExit(30000)) << "second start";
  expectTreeAdded("second start");
  ASSERT_TRUE(DropFilesUtf8(list, {trip}, 10000)) << "the drop was not taken";
  expectTreeAdded("drop");
  EXPECT_EQ(WaitForMessageBox(program->Pid(), 0), nullptr) << "every picture is readable";

  EXPECT_TRUE(quibtest::RemoveLink(link));
  EndTest(*program, tempBefore, dir, testStart);
}

TEST(FolderE2e, ALargeFolderAsksFirstAndTheWindowKeepsAnswering) {
  // Writing and adding 3,000 files under Wine takes a minute or two here.
  quibtest::SetTestBound(420);
  const DWORD testStart = GetTickCount();
  const int tempBefore = CountTempFiles("NEW*.TMP");
  const std::string dir = MakeTempDir("big");
  const std::string big = dir + "\\Big", later = big + "\\Later";
  ASSERT_TRUE(CreateDirectoryA(big.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(later.c_str(), nullptr));
  const COLORREF colours[4] = {kRed, kGreen, kBlue, kYellow};
  std::vector<std::string> encodes;
  for (COLORREF c : colours) {
    const std::string path = dir + "\\encode.jpg";
    ASSERT_TRUE(WritePicture(path, 64, 48, c));
    encodes.push_back(ReadBytes(path));
    DeleteFileA(path.c_str());
  }
  // 2,800 in the folder, 200 in its subfolder.
  constexpr int kTop = 2800, kLater = 200, kFiles = kTop + kLater;
  for (int i = 1; i <= kFiles; ++i) {
    const std::string path = i <= kTop ? big + "\\P" + std::to_string(i) + ".jpg"
                                       : later + "\\L" + std::to_string(i - kTop) + ".jpg";
    ASSERT_TRUE(WriteBytes(path, encodes[static_cast<size_t>(i % 4)]));
  }
  const std::string small = dir + "\\small.jpg";
  ASSERT_TRUE(WritePicture(small, 64, 48, kCyan));

  std::unique_ptr<CProgram> program = CProgram::Launch("");
  ASSERT_TRUE(program);
  HWND main = program->WaitMainWindow();
  ASSERT_TRUE(main);
  HWND list = GetDlgItem(main, kList);
  CLatencyProbe probe(main);
  const std::string question =
      "The folder \"Big\" holds 3000 pictures, movies and audio files. Add them all?";

  // No: nothing of the folder; the next hand-over comes after it.
  ASSERT_TRUE(DropFiles(list, {big}, 10000));
  HWND box = WaitForMessageBox(program->Pid(), 120000);
  ASSERT_TRUE(box) << "no question";
  EXPECT_EQ(MessageBoxText(box), question);
  PostClick(box, IDNO);
  ASSERT_TRUE(WaitWindowGone(box, 10000));
  ASSERT_TRUE(DropFiles(list, {small}, 10000));
  ASSERT_TRUE(WaitUntil([&] { return Entries(list) == 1; }, 30000)) << Entries(list);
  EXPECT_EQ(Caption(list, 0), "small.jpg");

  // Yes: all of them, folder by folder in natural order.
  const DWORD secondDrop = GetTickCount();
  ASSERT_TRUE(DropFiles(list, {big}, 10000));
  box = WaitForMessageBox(program->Pid(), 120000);
  ASSERT_TRUE(box) << "no question the second time";
  EXPECT_EQ(MessageBoxText(box), question);
  const DWORD yesAt = GetTickCount();
  PostClick(box, IDYES);
  // Wine takes about 2 s to take any message box down after its button
  // (the window waits meanwhile): the adding is measured from its end.
  ASSERT_TRUE(WaitWindowGone(box, 10000));
  const DWORD goneAt = GetTickCount();
  ASSERT_TRUE(WaitUntil([&] { return Entries(list) == kFiles + 1; }, 300000))
      << "entries: " << Entries(list);
  const DWORD addedAt = GetTickCount();
  probe.Stop();
  EXPECT_EQ(Caption(list, 1), "P1.jpg");
  EXPECT_EQ(Caption(list, 2), "P2.jpg");
  EXPECT_EQ(Caption(list, 10), "P10.jpg");
  EXPECT_EQ(Caption(list, 100), "P100.jpg");
  EXPECT_EQ(Caption(list, kTop), "P2800.jpg");
  EXPECT_EQ(Caption(list, kTop + 1), "L1.jpg");
  EXPECT_EQ(Caption(list, kFiles), "L200.jpg");

  // The window's longest wait, told for the record (machines differ too
  // much to assert on it).
  printf("longest message wait: %ld ms while walking, %ld ms while adding (%d probes)\n",
         probe.LongestBetween(secondDrop, yesAt), probe.LongestBetween(goneAt, addedAt),
         probe.Asked());
  EXPECT_EQ(probe.Unanswered(), 0) << "the window left messages unanswered for 10 s";
  EXPECT_EQ(WaitForMessageBox(program->Pid(), 0), nullptr) << "every picture is readable";

  EndTest(*program, tempBefore, dir, testStart);
}

}  // namespace
