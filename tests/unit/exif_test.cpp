#include "core/media/exif.h"

#include <gtest/gtest.h>

#include "tests/support/exif_builder.h"

namespace {

using quib_test::BuildExifSegment;
using quib_test::ExifSpec;

// Enough of a JPEG for the marker walk: start, JFIF header, a table, the
// scan with some entropy-coded bytes (holding 0xFF 0x00 and a fake "Exif"),
// end.
std::string Jfif() {
  return std::string("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 18);
}
std::string Tail() {
  return std::string("\xFF\xDB\x00\x04\x01\x02", 6) + std::string("\xFF\xDA\x00\x02", 4) +
         std::string(
             "\x12\xFF\x00\xE1"
             "Exif\x00\x00\x34",
             11) +
         std::string("\xFF\xD9", 2);
}
std::string Jpeg(const std::string& afterStart) {
  return std::string("\xFF\xD8", 2) + afterStart + Tail();
}

TEST(Exif, OrientationInBothByteOrdersAndLayouts) {
  for (bool big : {false, true}) {
    for (int orientation = 1; orientation <= 8; ++orientation) {
      ExifSpec spec;
      spec.bigEndian = big;
      spec.orientation = orientation;
      spec.preview = Jpeg("");
      const std::string segment = BuildExifSegment(spec);
      EXPECT_EQ(quib::ReadJpegOrientation(Jpeg(segment)), orientation) << big;
      EXPECT_EQ(quib::ReadJpegOrientation(Jpeg(Jfif() + segment)), orientation) << big;
    }
  }
  EXPECT_FALSE(quib::OrientationSwapsSides(4));
  EXPECT_TRUE(quib::OrientationSwapsSides(5));
  EXPECT_TRUE(quib::OrientationSwapsSides(8));
}

TEST(Exif, NoOrientationFromPicturesWithoutTagOrBlock) {
  ExifSpec spec;  // no orientation tag
  EXPECT_EQ(quib::ReadJpegOrientation(Jpeg(BuildExifSegment(spec))), 0);
  EXPECT_EQ(quib::ReadJpegOrientation(Jpeg(Jfif())), 0);
  // The fake "Exif" inside the scan data is not a segment.
  size_t offset = 0, size = 0;
  EXPECT_FALSE(quib::FindExifSegment(Jpeg(Jfif()), offset, size));
  EXPECT_EQ(quib::ReadJpegOrientation("\x89PNG\r\n\x1a\n"), 0);
  EXPECT_EQ(quib::ReadJpegOrientation(""), 0);
}

TEST(Exif, DamagedBlocksNeverReadOutsideTheBytes) {
  ExifSpec spec;
  spec.orientation = 6;
  spec.preview = Jpeg("");
  const std::string whole = Jpeg(BuildExifSegment(spec));
  // Every truncation and every single-byte corruption of the block: at worst
  // no orientation, never a read past the end (checked by the sanitizers).
  for (size_t n = 0; n < whole.size(); ++n) {
    const int o = quib::ReadJpegOrientation(whole.substr(0, n));
    EXPECT_TRUE(o == 0 || o == 6) << n;
  }
  for (size_t i = 2; i < 120 && i < whole.size(); ++i) {
    for (unsigned char v : {0x00, 0xFF, 0x7F}) {
      std::string broken = whole;
      broken[i] = static_cast<char>(v);
      const int o = quib::ReadJpegOrientation(broken);
      EXPECT_TRUE(o >= 0 && o <= 8);
      std::string segment = broken.substr(2, 200);
      quib::NormalizeExifSegment(segment, 10, 10);
    }
  }
}

TEST(Exif, NormalizedBlockIsUprightWithNewSizeAndNoPreview) {
  for (bool big : {false, true}) {
    ExifSpec spec;
    spec.bigEndian = big;
    spec.orientation = 8;
    spec.pixelX = 4000;
    spec.pixelY = 3000;
    spec.preview = Jpeg("");
    std::string segment = BuildExifSegment(spec);
    ASSERT_TRUE(quib::NormalizeExifSegment(segment, 682, 1024));

    ExifSpec expected = spec;
    expected.orientation = 1;
    expected.pixelX = 682;
    expected.pixelY = 1024;
    std::string want = BuildExifSegment(expected);
    // Same bytes except the next-IFD link of IFD0, which no longer leads
    // to the preview (whose bytes stay as dead weight).
    ASSERT_EQ(segment.size(), want.size());
    size_t differences = 0;
    for (size_t i = 0; i < want.size(); ++i) differences += segment[i] != want[i];
    EXPECT_GE(differences, 1u);
    EXPECT_LE(differences, 2u);  // one offset below 65536: at most two bytes
    EXPECT_EQ(quib::ReadJpegOrientation(Jpeg(segment)), 1);
    // Camera data stays.
    EXPECT_NE(segment.find("QuibCam"), std::string::npos);
    EXPECT_NE(segment.find("2006:07:14 12:34:56"), std::string::npos);
  }
}

TEST(Exif, PutReplacesBlocksAndKeepsTheJfifHeaderFirst) {
  ExifSpec old;
  old.orientation = 3;
  old.make = "OldCam";
  ExifSpec fresh;
  fresh.orientation = 1;
  fresh.make = "NewCam";
  const std::string segment = BuildExifSegment(fresh);

  std::string plain = Jpeg(Jfif());
  ASSERT_TRUE(quib::PutExifSegment(plain, segment));
  EXPECT_EQ(plain, Jpeg(Jfif() + segment));

  std::string withOld = Jpeg(BuildExifSegment(old) + Jfif());
  ASSERT_TRUE(quib::PutExifSegment(withOld, segment));
  EXPECT_EQ(withOld, Jpeg(segment + Jfif()));

  std::string bare = Jpeg("");
  ASSERT_TRUE(quib::PutExifSegment(bare, segment));
  EXPECT_EQ(bare, Jpeg(segment));

  std::string notJpeg = "GIF89a....";
  EXPECT_FALSE(quib::PutExifSegment(notJpeg, segment));
  EXPECT_EQ(notJpeg, "GIF89a....");
}

TEST(Exif, PreviewIsFoundWhereTheBlockSaysInBothByteOrders) {
  const std::string preview = Jpeg(Jfif());
  for (bool big : {false, true}) {
    ExifSpec spec;
    spec.bigEndian = big;
    spec.orientation = 6;
    spec.preview = preview;
    for (const std::string& before : {std::string(), Jfif()}) {
      const std::string whole = Jpeg(before + BuildExifSegment(spec));
      size_t offset = 0, size = 0;
      ASSERT_TRUE(quib::FindExifPreview(whole, offset, size)) << big;
      EXPECT_EQ(whole.substr(offset, size), preview);
      // Only the head of a file may be at hand: the preview must be inside.
      EXPECT_FALSE(quib::FindExifPreview(whole.substr(0, offset + size - 1), offset, size));
    }
  }
}

TEST(Exif, NoPreviewWithoutIfd1OrWithAnUncompressedOne) {
  ExifSpec spec;
  size_t offset = 0, size = 0;
  EXPECT_FALSE(quib::FindExifPreview(Jpeg(BuildExifSegment(spec)), offset, size));
  EXPECT_FALSE(quib::FindExifPreview(Jpeg(Jfif()), offset, size));
  // Bytes that are not a JPEG where the block points.
  spec.preview = "not a jpeg at all";
  EXPECT_FALSE(quib::FindExifPreview(Jpeg(BuildExifSegment(spec)), offset, size));
  // Compression 1 (TIFF strips): the builder writes 6; patch it.
  spec.preview = Jpeg("");
  std::string segment = BuildExifSegment(spec);
  const std::string compression("\x03\x01\x03\x00\x01\x00\x00\x00\x06\x00", 10);
  const size_t at = segment.find(compression);
  ASSERT_NE(at, std::string::npos);
  segment[at + 8] = 1;
  EXPECT_FALSE(quib::FindExifPreview(Jpeg(segment), offset, size));
}

TEST(Exif, DamagedPreviewLinksNeverReadOutsideTheBytes) {
  ExifSpec spec;
  spec.preview = Jpeg(Jfif());
  const std::string whole = Jpeg(BuildExifSegment(spec));
  for (size_t n = 0; n < whole.size(); ++n) {
    size_t offset = 0, size = 0;
    if (quib::FindExifPreview(whole.substr(0, n), offset, size)) {
      EXPECT_LE(offset + size, n);
    }
  }
  for (size_t i = 2; i < whole.size(); ++i) {
    for (unsigned char v : {0x00, 0xFF, 0x80}) {
      std::string broken = whole;
      broken[i] = static_cast<char>(v);
      size_t offset = 0, size = 0;
      if (quib::FindExifPreview(broken, offset, size)) {
        EXPECT_LE(offset + size, broken.size());
        EXPECT_EQ(broken.compare(offset, 2, "\xFF\xD8"), 0);
      }
    }
  }
}

}  // namespace
