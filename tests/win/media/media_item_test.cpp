// CMediaItem under Wine with real GDI+: thumbnails, rotation, shrinking, the
// chain of temporary copies, EXIF orientation. Every test checks that the
// user's files stay byte-identical and that no NEW*.TMP file is left.
#include "adapters/picture_work_win.h"
#include "core/media/media_item.h"
#include "windows/common/item_bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>

#include "core/media/exif.h"
#include "adapters/thumbnail_maker.h"
#include "adapters/gdiplus.h"
#include "res/resource.h"
#include "tests/support/exif_builder.h"
#include "tests/win/media/media_test_util.h"

using namespace media_test;

namespace {

class MediaItemTest : public testing::Test {
 protected:
  void SetUp() override { tempBefore_ = NewTempFiles(); }
  void TearDown() override {
    for (const auto& file : userFiles_) {
      EXPECT_EQ(ReadBytes(file.first), file.second) << "user file changed: " << file.first;
    }
    EXPECT_EQ(NewTempFiles(), tempBefore_) << "temporary copies left behind";
  }
  // A user file: written once, then must never change.
  std::string UserFile(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.Path(name);
    EXPECT_TRUE(WriteBytes(path, bytes));
    userFiles_[path] = bytes;
    return path;
  }
  std::string UserPicture(const std::string& name, int w, int h, const char* mime) {
    return UserFile(name, EncodePicture(w, h, mime));
  }

  CTestDir dir_;
  std::map<std::string, std::string> userFiles_;
  std::set<std::string> tempBefore_;
};

bool IsTempCopy(const std::string& path) {
  const std::string folder = TempFolder();
  if (path.size() <= folder.size() + 7) return false;
  return lstrcmpiA(path.substr(0, folder.size()).c_str(), folder.c_str()) == 0 &&
         path.compare(folder.size(), 3, "NEW") == 0 &&
         lstrcmpiA(path.substr(path.size() - 4).c_str(), ".TMP") == 0;
}

std::string FileName(const std::string& path) {
  return path.substr(path.rfind('\\') + 1);
}

void ExpectBox(const RECT& box, LONG left, LONG top, LONG right, LONG bottom) {
  EXPECT_EQ(box.left, left);
  EXPECT_EQ(box.top, top);
  EXPECT_EQ(box.right, right);
  EXPECT_EQ(box.bottom, bottom);
}

TEST_F(MediaItemTest, ThumbnailsAreFittedRoundedAndCentredOnWhite) {
  struct Case {
    const char* name;
    const char* mime;
    int w, h;
    RECT box;
  } cases[] = {
      {"camera.jpg", "image/jpeg", 3000, 2000, {0, 4, 104, 73}},  // 69.33 -> 69 at y 4
      {"shot.png", "image/png", 300, 200, {0, 4, 104, 73}},
      {"palette.gif", "image/gif", 300, 200, {0, 4, 104, 73}},
      {"scan.bmp", "image/bmp", 200, 300, {26, 0, 78, 78}},  // 52 wide at x 26
      {"tiny.jpg", "image/jpeg", 40, 30, {0, 0, 104, 78}},   // enlarged to the box
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = UserPicture(c.name, c.w, c.h, c.mime);
    CMediaItem item(path);
    EXPECT_EQ(item.GetPath(), path);
    EXPECT_EQ(item.GetName(), c.name);
    EXPECT_FALSE(item.IsVideo());
    EXPECT_FALSE(item.IsAudio());
    EXPECT_EQ(item.GetWidth(), c.w);
    EXPECT_EQ(item.GetHeight(), c.h);
    EXPECT_EQ(item.GetMimeType().compare(0, 6, "image/"), 0) << item.GetMimeType();
    EXPECT_EQ(item.GetFileSize(), static_cast<int>(ReadBytes(path).size()));
    const CPixels thumb = ReadPixels(ItemBitmap(item));
    ASSERT_EQ(thumb.width, 104);
    ASSERT_EQ(thumb.height, 78);
    ExpectBox(ContentBox(thumb), c.box.left, c.box.top, c.box.right, c.box.bottom);
    // The red block is the top-left quarter of the picture.
    EXPECT_TRUE(IsReddish(thumb.At(c.box.left + 3, c.box.top + 3)));
    EXPECT_TRUE(IsBluish(thumb.At(c.box.right - 4, c.box.bottom - 4)));
  }
}

// How far a kept thumbnail's pixels are from the thumbnail GDI+ makes of
// the file, drawn on white: the largest and the mean difference of a
// colour channel.
void CompareWithExact(const std::string& path, const quib::ThumbnailData& kept, int& worst,
                      int& mean) {
  using namespace Gdiplus;
  Bitmap picture(WidePath(path).c_str());
  const RectF whole(0, 0, static_cast<REAL>(picture.GetWidth()),
                    static_cast<REAL>(picture.GetHeight()));
  std::unique_ptr<Bitmap> exact = quib::ScalePicture(picture, whole, 104, 78);
  ASSERT_TRUE(exact);
  Bitmap canvas(104, 78, PixelFormat24bppRGB);
  {
    Graphics g(&canvas);
    g.Clear(Color(255, 255, 255, 255));
    g.DrawImage(exact.get(), Rect(0, 0, 104, 78));
  }
  HBITMAP handle = nullptr;
  ASSERT_EQ(canvas.GetHBITMAP(Color(255, 0, 0, 0), &handle), Ok);
  const CPixels want = ReadPixels(CBitmap(handle));
  const CPixels got = ReadPixels(ThumbnailBitmap(kept));
  ASSERT_EQ(got.width, want.width);
  ASSERT_EQ(got.height, want.height);
  long total = 0;
  worst = 0;
  for (int y = 0; y < got.height; ++y) {
    for (int x = 0; x < got.width; ++x) {
      for (int shift = 0; shift <= 16; shift += 8) {
        const int d = std::abs(static_cast<int>((got.At(x, y) >> shift) & 0xFF) -
                               static_cast<int>((want.At(x, y) >> shift) & 0xFF));
        total += d;
        worst = std::max(worst, d);
      }
    }
  }
  mean = static_cast<int>(total / (got.width * got.height * 3));
}

// The list keeps a compact copy of every thumbnail: ten thousand entries
// must fit in memory, and the copy must still show the picture as it was
// scaled; drawings and flat colours exactly.
TEST_F(MediaItemTest, KeptThumbnailsAreSmallAndShowThePicture) {
  using namespace Gdiplus;
  // Smooth shades with the noise of a JPEG, as photographs have; small, so
  // enlarged to fill the whole box.
  Bitmap photo(64, 48, PixelFormat24bppRGB);
  {
    Graphics g(&photo);
    LinearGradientBrush sky(Point(0, 0), Point(64, 48), Color(255, 70, 90, 200),
                            Color(255, 240, 200, 120));
    g.FillRectangle(&sky, 0, 0, 64, 48);
    SolidBrush sun(Color(255, 250, 250, 220));
    g.FillEllipse(&sun, 30, 8, 16, 16);
  }
  std::string jpeg;
  ASSERT_EQ(EncodeJpeg(photo, 90, jpeg), Ok);
  const std::string shot = UserFile("small.jpg", jpeg);
  const std::string drawing = UserPicture("drawing.bmp", 80, 60, "image/bmp");

  quib::ThumbnailResult kept;
  quib::MakePictureThumbnail(shot, kept);
  ASSERT_TRUE(kept.readable);
  // Lossless copies of photographs took 15 KB each, 150 MB for ten
  // thousand.
  EXPECT_LE(kept.data.bytes.size(), 4096u);
  int worst = 0;
  int mean = 0;
  CompareWithExact(shot, kept.data, worst, mean);
  EXPECT_LE(worst, 24) << "no pixel of the kept copy may stand out";
  EXPECT_LE(mean, 2) << "mean difference per channel";

  quib::MakePictureThumbnail(drawing, kept);
  ASSERT_TRUE(kept.readable);
  EXPECT_LE(kept.data.bytes.size(), 4096u);
  CompareWithExact(drawing, kept.data, worst, mean);
  EXPECT_EQ(worst, 0) << "a drawing keeps its exact colours";
}

TEST_F(MediaItemTest, RotationWritesAChainOfCopiesAndCleansUp) {
  const std::string path = UserPicture("holiday.jpg", 3000, 2000, "image/jpeg");
  std::string first;
  std::string second;
  {
    CMediaItem item(path);
    ASSERT_TRUE(item.Rotate());
    first = item.GetPath();
    EXPECT_TRUE(IsTempCopy(first)) << first;
    EXPECT_TRUE(FileExists(first));
    EXPECT_EQ(item.GetSourcePath(), path);
    EXPECT_EQ(item.GetName(), "holiday.jpg");
    EXPECT_EQ(item.GetWidth(), 2000);
    EXPECT_EQ(item.GetHeight(), 3000);
    EXPECT_NE(item.GetMimeType().find("jpeg"), std::string::npos) << item.GetMimeType();
    EXPECT_EQ(item.GetFileSize(), static_cast<int>(ReadBytes(first).size()));
    // The copy is the picture turned clockwise: red moves to the top right.
    const SIZE size = DecodedSize(first);
    EXPECT_EQ(size.cx, 2000);
    EXPECT_EQ(size.cy, 3000);
    EXPECT_TRUE(IsReddish(PixelOf(first, 1900, 100)));
    EXPECT_TRUE(IsBluish(PixelOf(first, 100, 100)));
    // 49 x 74 inside the grey frame.
    const CPixels thumb = ReadPixels(ItemBitmap(item));
    ExpectBox(ContentBox(thumb), 27, 2, 76, 76);
    EXPECT_EQ(thumb.At(0, 0), 0xDCDCDCu);
    EXPECT_EQ(thumb.At(103, 77), 0xDCDCDCu);
    EXPECT_EQ(thumb.At(50, 77), 0xDCDCDCu);
    EXPECT_EQ(thumb.At(1, 1), 0xFFFFFFu);
    EXPECT_TRUE(IsReddish(thumb.At(72, 6)));

    ASSERT_TRUE(item.Rotate());
    second = item.GetPath();
    EXPECT_TRUE(IsTempCopy(second));
    EXPECT_NE(second, first);
    EXPECT_FALSE(FileExists(first)) << "the previous copy must go";
    EXPECT_EQ(item.GetWidth(), 3000);
    EXPECT_EQ(item.GetHeight(), 2000);
    EXPECT_EQ(DecodedSize(second).cx, 3000);
    EXPECT_TRUE(IsReddish(PixelOf(second, 2900, 1900)));
    ExpectBox(ContentBox(ReadPixels(ItemBitmap(item))), 2, 6, 102, 72);  // 100 x 66 at y 6
  }
  EXPECT_FALSE(FileExists(second)) << "the last copy goes with the item";
  EXPECT_TRUE(FileExists(path));
}

TEST_F(MediaItemTest, ResizeFitsTheLongerSideAndKeepsTheThumbnail) {
  const std::string wide = UserPicture("wide.jpg", 3000, 2000, "image/jpeg");
  const std::string tall = UserPicture("tall.png", 2000, 3000, "image/png");
  {
    CMediaItem item(wide);
    const CPixels before = ReadPixels(ItemBitmap(item));
    ASSERT_TRUE(item.Resize(1024, 1024));
    EXPECT_EQ(item.GetWidth(), 1024);
    EXPECT_EQ(item.GetHeight(), 682);
    EXPECT_TRUE(IsTempCopy(item.GetPath()));
    const SIZE size = DecodedSize(item.GetPath());
    EXPECT_EQ(size.cx, 1024);
    EXPECT_EQ(size.cy, 682);
    EXPECT_TRUE(ReadPixels(ItemBitmap(item)) == before);
    EXPECT_NE(item.GetMimeType().find("jpeg"), std::string::npos);
    // Edges keep their colour (no fade into transparent black).
    EXPECT_TRUE(IsBluish(PixelOf(item.GetPath(), 1023, 681)));
    EXPECT_TRUE(IsReddish(PixelOf(item.GetPath(), 0, 0)));
  }
  {
    CMediaItem item(tall);
    ASSERT_TRUE(item.Resize(640, 1024));  // the box is the larger of both
    EXPECT_EQ(item.GetWidth(), 682);
    EXPECT_EQ(item.GetHeight(), 1024);
    const SIZE size = DecodedSize(item.GetPath());
    EXPECT_EQ(size.cx, 682);
    EXPECT_EQ(size.cy, 1024);
    // A rotation after a resize replaces the resized copy.
    const std::string resized = item.GetPath();
    ASSERT_TRUE(item.Rotate());
    EXPECT_FALSE(FileExists(resized));
    EXPECT_EQ(item.GetWidth(), 1024);
    EXPECT_EQ(item.GetHeight(), 682);
  }
}

TEST_F(MediaItemTest, PalettePicturesAreShrunkInDirectColour) {
  const std::string path = UserPicture("logo.gif", 800, 600, "image/gif");
  {
    std::unique_ptr<Gdiplus::Bitmap> loaded = LoadGdiplusBitmap(path);
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(Gdiplus::IsIndexedPixelFormat(loaded->GetPixelFormat()));
  }
  CMediaItem item(path);
  ASSERT_TRUE(item.Resize(640, 640));
  EXPECT_EQ(item.GetWidth(), 640);
  EXPECT_EQ(item.GetHeight(), 480);
  const SIZE size = DecodedSize(item.GetPath());
  EXPECT_EQ(size.cx, 640);
  EXPECT_EQ(size.cy, 480);
  EXPECT_TRUE(IsReddish(PixelOf(item.GetPath(), 100, 100)));
  EXPECT_TRUE(IsBluish(PixelOf(item.GetPath(), 500, 400)));
}

// Stored 300 x 200 with orientation 6: shown and reported as 200 x 300.
TEST_F(MediaItemTest, ExifOrientationIsHonouredAndCopiesAreUpright) {
  quib_test::ExifSpec spec;
  spec.orientation = 6;
  spec.pixelX = 300;
  spec.pixelY = 200;
  const std::string bytes = quib_test::InsertAfterStart(EncodePicture(300, 200, "image/jpeg"),
                                                        quib_test::BuildExifSegment(spec));
  const std::string path = UserFile("turned.jpg", bytes);
  CMediaItem item(path);
  EXPECT_EQ(item.GetWidth(), 200);
  EXPECT_EQ(item.GetHeight(), 300);
  const CPixels thumb = ReadPixels(ItemBitmap(item));
  ExpectBox(ContentBox(thumb), 26, 0, 78, 78);
  // The stored top-left red block is the upright top right.
  EXPECT_TRUE(IsReddish(thumb.At(74, 4)));
  EXPECT_TRUE(IsBluish(thumb.At(29, 4)));

  ASSERT_TRUE(item.Resize(150, 150));
  EXPECT_EQ(item.GetWidth(), 100);
  EXPECT_EQ(item.GetHeight(), 150);
  std::string copy = ReadBytes(item.GetPath());
  EXPECT_EQ(DecodedSize(item.GetPath()).cx, 100);
  EXPECT_TRUE(IsReddish(PixelOf(item.GetPath(), 90, 10)));
  // Camera, date and position travel with the copy; it is now upright.
  EXPECT_EQ(quib::ReadJpegOrientation(copy), 1);
  EXPECT_NE(copy.find("QuibCam"), std::string::npos);
  EXPECT_NE(copy.find("2006:07:14 12:34:56"), std::string::npos);
  const std::string latitude("\x30\0\0\0\x01\0\0\0\x08\0\0\0\x01\0\0\0\xD2\x04\0\0\x64\0\0\0", 24);
  EXPECT_NE(copy.find(latitude), std::string::npos);

  ASSERT_TRUE(item.Rotate());
  EXPECT_EQ(item.GetWidth(), 150);
  EXPECT_EQ(item.GetHeight(), 100);
  copy = ReadBytes(item.GetPath());
  EXPECT_EQ(quib::ReadJpegOrientation(copy), 1);
  EXPECT_NE(copy.find("QuibCam"), std::string::npos);
  EXPECT_TRUE(IsReddish(PixelOf(item.GetPath(), 140, 90)));
}

TEST_F(MediaItemTest, EmbeddedPreviewPictures) {
  // A green preview inside a red and blue picture, as cameras store them.
  quib_test::ExifSpec spec;
  spec.preview = EncodePicture(160, 107, "image/jpeg", RGB(20, 200, 20));
  const std::string path =
      UserFile("preview.jpg", quib_test::InsertAfterStart(EncodePicture(3000, 2000, "image/jpeg"),
                                                          quib_test::BuildExifSegment(spec)));
  CMediaItem item(path);
  EXPECT_EQ(item.GetWidth(), 3000);
  EXPECT_EQ(item.GetHeight(), 2000);
  ExpectBox(ContentBox(ReadPixels(ItemBitmap(item))), 0, 4, 104, 73);
  ASSERT_TRUE(item.Rotate());
  // The turned thumbnail comes from the picture, never the stale preview.
  const CPixels thumb = ReadPixels(ItemBitmap(item));
  ExpectBox(ContentBox(thumb), 27, 2, 76, 76);
  EXPECT_TRUE(IsReddish(thumb.At(72, 6)));
  EXPECT_TRUE(IsBluish(thumb.At(30, 70)));
  const std::string copy = ReadBytes(item.GetPath());
  EXPECT_NE(copy.find("QuibCam"), std::string::npos);
  EXPECT_EQ(quib::ReadJpegOrientation(copy), 0);  // had none, has none
}

TEST_F(MediaItemTest, FailuresLeaveTheItemUnchanged) {
  const std::string broken = UserFile("broken.jpg", "this is not a picture at all");
  {
    CMediaItem item(broken);
    EXPECT_EQ(item.GetWidth(), 0);
    EXPECT_EQ(item.GetHeight(), 0);
    const CPixels thumb = ReadPixels(ItemBitmap(item));
    ASSERT_EQ(thumb.width, 104);
    for (unsigned v : thumb.argb) ASSERT_EQ(v, 0xFFFFFFu);
    EXPECT_FALSE(item.Rotate());
    EXPECT_FALSE(item.Resize(640, 640));
    EXPECT_EQ(item.GetPath(), broken);
  }

  // No temporary folder: neither operation can reserve a copy.
  const std::string path = UserPicture("keep.jpg", 300, 200, "image/jpeg");
  CMediaItem item(path);
  const CPixels before = ReadPixels(ItemBitmap(item));
  char tmp[MAX_PATH] = {}, temp[MAX_PATH] = {};
  GetEnvironmentVariableA("TMP", tmp, MAX_PATH);
  GetEnvironmentVariableA("TEMP", temp, MAX_PATH);
  const std::string missing = dir_.Path("no-such-folder");
  SetEnvironmentVariableA("TMP", missing.c_str());
  SetEnvironmentVariableA("TEMP", missing.c_str());
  const bool rotated = item.Rotate();
  const bool resized = item.Resize(100, 100);
  SetEnvironmentVariableA("TMP", tmp[0] ? tmp : nullptr);
  SetEnvironmentVariableA("TEMP", temp[0] ? temp : nullptr);
  EXPECT_FALSE(rotated);
  EXPECT_FALSE(resized);
  EXPECT_EQ(item.GetPath(), path);
  EXPECT_EQ(item.GetWidth(), 300);
  EXPECT_EQ(item.GetHeight(), 200);
  EXPECT_TRUE(ReadPixels(ItemBitmap(item)) == before);
}

TEST_F(MediaItemTest, MoviesAndAudioShowTheirPictures) {
  const std::string movie = UserFile("clip.avi", std::string("RIFF\x10\0\0\0AVI LIST", 16));
  const std::string song = UserFile("song.mp3", std::string("ID3\x03\0\0\0\0\0\0", 10));
  const struct {
    const std::string& path;
    bool video;
    int resource;
  } cases[] = {{movie, true, IDB_MOVIE}, {song, false, IDB_AUDIO}};
  for (const auto& c : cases) {
    CMediaItem item(c.path);
    EXPECT_EQ(item.IsVideo(), c.video);
    EXPECT_EQ(item.IsAudio(), !c.video);
    EXPECT_EQ(item.GetWidth(), 0);
    EXPECT_EQ(item.GetHeight(), 0);
    CBitmap expected(LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(c.resource)));
    ASSERT_TRUE(expected);
    const CPixels thumb = ReadPixels(ItemBitmap(item));
    EXPECT_EQ(thumb.width, 104);
    EXPECT_EQ(thumb.height, 78);
    EXPECT_TRUE(thumb == ReadPixels(expected.Get()));
    EXPECT_FALSE(item.Rotate());
    EXPECT_FALSE(item.Resize(640, 640));
    EXPECT_EQ(item.GetPath(), c.path);
  }
}

TEST_F(MediaItemTest, NamesSizesAndTexts) {
  const std::string path = UserPicture("holiday-2006-beach.jpg", 30, 20, "image/jpeg");
  {
    CMediaItem item(path);
    EXPECT_EQ(item.GetName(), "holiday-2006-beach.jpg");
    EXPECT_EQ(item.GetShortName(13), "holiday-2006-...");
    EXPECT_EQ(quib::ListCaption(item.GetName()), "holiday-200...");
    item.SetName("a.jpg");
    EXPECT_EQ(item.GetShortName(13), "a.jpg");
    EXPECT_EQ(quib::ListCaption("exactly13.jpg"), "exactly13.jpg");
    EXPECT_EQ(quib::ListCaption("fourteen14.jpg"), "fourteen14....");
    item.SetKeywords("sea sand");
    item.SetDescription("first day");
    EXPECT_EQ(item.GetKeywords(), "sea sand");
    EXPECT_EQ(item.GetDescription(), "first day");
  }
  // A file that disappeared answers -1.
  const std::string gone = dir_.Path("gone.jpg");
  ASSERT_TRUE(WritePicture(gone, 30, 20, "image/jpeg"));
  CMediaItem item(gone);
  EXPECT_GT(item.GetFileSize(), 0);
  DeleteFileA(gone.c_str());
  EXPECT_EQ(item.GetFileSize(), -1);
  EXPECT_EQ(FileName(item.GetPath()), "gone.jpg");
}

// Transparent areas come out white in the JPEG copies, as the list shows
// them, never black: a PNG with an alpha channel and a GIF with a
// transparent colour (black in its palette).
TEST_F(MediaItemTest, TransparentAreasBecomeWhiteWhenShrunkOrTurned) {
  const std::pair<const char*, std::string> cases[] = {
      {"alpha.png", EncodeTransparentPng(400, 300)}, {"clear.gif", EncodeTransparentGif(400, 300)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    ASSERT_FALSE(c.second.empty());
    const std::string path = UserFile(c.first, c.second);
    {
      CMediaItem item(path);
      ASSERT_TRUE(item.Resize(200, 200));  // 200 x 150
      const std::string copy = item.GetPath();
      EXPECT_TRUE(IsWhitish(PixelOf(copy, 150, 110))) << std::hex << PixelOf(copy, 150, 110);
      EXPECT_TRUE(IsWhitish(PixelOf(copy, 10, 140))) << std::hex << PixelOf(copy, 10, 140);
      EXPECT_TRUE(IsWhitish(PixelOf(copy, 199, 149))) << std::hex << PixelOf(copy, 199, 149);
      EXPECT_TRUE(IsReddish(PixelOf(copy, 40, 30)));
    }
    {
      CMediaItem item(path);
      ASSERT_TRUE(item.Rotate());  // 300 x 400, red at the top right
      const std::string copy = item.GetPath();
      EXPECT_TRUE(IsWhitish(PixelOf(copy, 50, 300))) << std::hex << PixelOf(copy, 50, 300);
      EXPECT_TRUE(IsWhitish(PixelOf(copy, 0, 399))) << std::hex << PixelOf(copy, 0, 399);
      EXPECT_TRUE(IsReddish(PixelOf(copy, 250, 50)));
      const CPixels thumb = ReadPixels(ItemBitmap(item));
      EXPECT_EQ(thumb.At(30, 60), 0xFFFFFFu);
      EXPECT_TRUE(IsReddish(thumb.At(70, 10)));
    }
  }
}

// Each checked step of a rotation and of a shrink fails in turn, as when
// memory or disk space runs out: the item stays exactly as it was (its
// current copy included) and no temporary file is left. Once no step fails,
// the operation succeeds.
TEST_F(MediaItemTest, EveryFailingStepLeavesTheItemAsItWas) {
  quib_test::ExifSpec spec;
  spec.orientation = 6;
  const std::string camera =
      UserFile("camera.jpg", quib_test::InsertAfterStart(EncodePicture(300, 200, "image/jpeg"),
                                                         quib_test::BuildExifSegment(spec)));
  const std::string alpha = UserFile("alpha.png", EncodeTransparentPng(300, 200));
  // The camera picture is turned upright on loading; the PNG is put on white;
  // an item already on a copy of its own must keep that copy.
  const std::pair<std::string, bool> cases[] = {{camera, false}, {alpha, false}, {camera, true}};
  for (const auto& c : cases) {
    const std::string& path = c.first;
    for (const bool rotate : {true, false}) {
      SCOPED_TRACE(FileName(path) + (rotate ? " Rotate" : " Resize") +
                   (c.second ? " of a copy" : ""));
      CMediaItem item(path);
      if (c.second) {
        ASSERT_TRUE(item.Rotate());
      }
      int steps = 0;
      for (int n = 1; steps == 0; ++n) {
        ASSERT_LT(n, 200) << "no end of steps";
        const std::string current = item.GetPath();
        const int width = item.GetWidth();
        const int height = item.GetHeight();
        const CPixels thumb = ReadPixels(ItemBitmap(item));
        const std::set<std::string> temps = NewTempFiles();
        quib::FailPictureStepForTest(n);
        const bool done = rotate ? item.Rotate() : item.Resize(100, 100);
        const bool reached = !quib::PictureStepPendingForTest();
        quib::FailPictureStepForTest(0);
        if (!reached) {
          EXPECT_TRUE(done);
          steps = n - 1;
          break;
        }
        EXPECT_FALSE(done) << "step " << n << " failed, yet reported success";
        EXPECT_EQ(item.GetPath(), current) << "step " << n;
        EXPECT_TRUE(FileExists(current)) << "step " << n;
        EXPECT_EQ(item.GetWidth(), width) << "step " << n;
        EXPECT_EQ(item.GetHeight(), height) << "step " << n;
        EXPECT_TRUE(ReadPixels(ItemBitmap(item)) == thumb) << "step " << n;
        EXPECT_EQ(NewTempFiles(), temps) << "step " << n << " left a file";
      }
      // Loading, drawing, encoding and writing: many steps, each checked.
      EXPECT_GE(steps, 8);
    }
  }
}

std::string EnvVar(const char* name) {
  char value[1024] = {};
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// Points the temporary folder somewhere else while it lives.
class CTempFolderOverride {
 public:
  explicit CTempFolderOverride(const std::string& folder)
      : tmp_(EnvVar("TMP")), temp_(EnvVar("TEMP")) {
    SetEnvironmentVariableA("TMP", folder.c_str());
    SetEnvironmentVariableA("TEMP", folder.c_str());
  }
  ~CTempFolderOverride() {
    SetEnvironmentVariableA("TMP", tmp_.empty() ? nullptr : tmp_.c_str());
    SetEnvironmentVariableA("TEMP", temp_.empty() ? nullptr : temp_.c_str());
  }

 private:
  std::string tmp_;
  std::string temp_;
};

// Writes blocks until the filesystem refuses more.
void FillUp(HANDLE file) {
  const std::string block(65536, 'x');
  for (DWORD size : {65536u, 4096u, 512u, 1u}) {
    DWORD n = size;
    while (n == size) {
      n = 0;
      if (!WriteFile(file, block.data(), size, &n, nullptr)) break;
    }
  }
}

// The temporary folder on a filesystem that is full, or that fills up while
// the copy is written (scripts/test.d mounts a tiny one): the operation
// fails, the item is unchanged, and no partial copy is left there. One
// picture makes a large copy; the other a small one, to which its camera's
// EXIF block (with a large preview) is added.
TEST_F(MediaItemTest, AFullDiskLeavesTheItemAsItWas) {
  const std::string unixFolder = EnvVar("QUIB_FULL_DISK");
  if (unixFolder.empty()) {
    GTEST_SKIP() << "no tiny filesystem (QUIB_FULL_DISK): run through scripts/test.sh as root";
  }
  std::string folder = "Z:" + unixFolder;
  for (char& ch : folder) ch = ch == '/' ? '\\' : ch;
  quib_test::ExifSpec spec;
  spec.preview = EncodeNoisy(320, 200, L"image/jpeg");
  ASSERT_GT(spec.preview.size(), 30000u);
  ASSERT_LT(spec.preview.size(), 60000u);  // it fits into one segment
  const std::string paths[] = {
      UserFile("noise.png", EncodeNoisy(600, 400, L"image/png")),
      UserFile("camera.jpg", quib_test::InsertAfterStart(EncodePicture(300, 200, "image/jpeg"),
                                                         quib_test::BuildExifSegment(spec)))};
  const std::string filler = folder + "\\filler";
  HANDLE file = CreateFileA(filler.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << filler;
  FillUp(file);
  auto copiesThere = [&folder] {
    int count = 0;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\NEW*.TMP").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do ++count;
    while (FindNextFileA(find, &found));
    FindClose(find);
    return count;
  };
  // Full, then with 16 KB left: more than the small copy, less than either
  // copy with what goes into it.
  for (LONG room : {0L, 16384L}) {
    if (room > 0) {
      ASSERT_NE(SetFilePointer(file, -room, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
      ASSERT_TRUE(SetEndOfFile(file));
    }
    for (const std::string& path : paths) {
      SCOPED_TRACE(FileName(path) + " with room " + std::to_string(room));
      CMediaItem item(path);
      const int width = item.GetWidth();
      const CPixels thumb = ReadPixels(ItemBitmap(item));
      bool rotated;
      bool resized;
      {
        CTempFolderOverride temp(folder);
        rotated = item.Rotate();
        resized = item.Resize(250, 250);
      }
      EXPECT_FALSE(rotated);
      EXPECT_FALSE(resized);
      EXPECT_EQ(item.GetPath(), path);
      EXPECT_EQ(item.GetWidth(), width);
      EXPECT_TRUE(ReadPixels(ItemBitmap(item)) == thumb);
      EXPECT_EQ(copiesThere(), 0) << "a partial copy was left on the full disk";
    }
  }
  CloseHandle(file);
  DeleteFileA(filler.c_str());
  // With room again the same pictures shrink as usual.
  for (const std::string& path : paths) {
    CMediaItem item(path);
    CTempFolderOverride temp(folder);
    ASSERT_TRUE(item.Resize(250, 250));
    EXPECT_EQ(DecodedSize(item.GetPath()).cx, 250);
  }
}

}  // namespace
