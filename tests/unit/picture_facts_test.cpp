#include "core/media/picture_facts.h"

#include <gtest/gtest.h>

#include "tests/support/exif_builder.h"

namespace {

std::string Be16(unsigned v) {
  return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}
std::string Le16(unsigned v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
std::string Le32(unsigned v) {
  return Le16(v & 0xFFFF) + Le16(v >> 16);
}
std::string Be32(unsigned v) {
  return Be16(v >> 16) + Be16(v & 0xFFFF);
}

// A JPEG head: start, what comes before the frame, the frame header with
// marker sof, and the start of the scan.
std::string JpegHead(const std::string& before, unsigned w, unsigned h, unsigned sof = 0xC0) {
  const std::string frame = std::string("\x08", 1) + Be16(h) + Be16(w) +
                            std::string("\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 10);
  return std::string("\xFF\xD8", 2) + before + std::string("\xFF\xDB\x00\x04\x00\x01", 6) +
         std::string{'\xFF', static_cast<char>(sof)} + Be16(2 + frame.size()) + frame +
         std::string("\xFF\xDA\x00\x02\x55\xAA", 6);
}

int W(const std::string& head) {
  int w = -1, h = -1;
  return quib::ReadPictureSize(head, w, h) ? w : -1;
}
int H(const std::string& head) {
  int w = -1, h = -1;
  return quib::ReadPictureSize(head, w, h) ? h : -1;
}

TEST(PictureSize, JpegFrameHeaderTurnedByTheExifOrientation) {
  EXPECT_EQ(W(JpegHead("", 4000, 3000)), 4000);
  EXPECT_EQ(H(JpegHead("", 4000, 3000)), 3000);
  // Progressive and the other frame kinds carry the size the same way.
  for (unsigned sof : {0xC1u, 0xC2u, 0xC3u, 0xC9u, 0xCEu}) {
    EXPECT_EQ(W(JpegHead("", 641, 480, sof)), 641) << sof;
  }
  // Behind a camera's EXIF block with a preview, whose own frame header
  // (160 x 120) must not be taken for the picture's.
  for (int orientation : {0, 1, 3, 6, 8}) {
    quib_test::ExifSpec spec;
    spec.orientation = orientation;
    spec.preview = JpegHead("", 160, 120);
    const std::string head = JpegHead(quib_test::BuildExifSegment(spec), 4000, 3000);
    const bool turned = orientation >= 5;
    EXPECT_EQ(W(head), turned ? 3000 : 4000) << orientation;
    EXPECT_EQ(H(head), turned ? 4000 : 3000) << orientation;
  }
}

TEST(PictureSize, PngAndBmpHeaders) {
  const std::string png = std::string("\x89PNG\r\n\x1A\n", 8) + Be32(13) + "IHDR" + Be32(1600) +
                          Be32(1200) + std::string("\x08\x02\x00\x00\x00", 5);
  EXPECT_EQ(W(png), 1600);
  EXPECT_EQ(H(png), 1200);
  const std::string bmp = "BM" + Le32(0) + Le32(0) + Le32(54) + Le32(40) + Le32(641) +
                          Le32(static_cast<unsigned>(-480)) + Le16(1) + Le16(24);
  EXPECT_EQ(W(bmp), 641);
  EXPECT_EQ(H(bmp), 480);  // top-down rows: the same size
  const std::string core =
      "BM" + Le32(0) + Le32(0) + Le32(26) + Le32(12) + Le16(40) + Le16(30) + Le16(1) + Le16(24);
  EXPECT_EQ(W(core), 40);
  EXPECT_EQ(H(core), 30);
}

TEST(PictureSize, OtherFormatsAndDamageAreLeftToTheImagingLibrary) {
  EXPECT_EQ(W("GIF89a\x10\x00\x10\x00"), -1);
  EXPECT_EQ(W(""), -1);
  EXPECT_EQ(W(JpegHead("", 0, 3000)), -1);
  EXPECT_EQ(W(JpegHead("", 4000, 0)), -1);  // height given later (DNL)
  // A scan before any frame header, and a head cut inside the frame header.
  EXPECT_EQ(W(std::string("\xFF\xD8\xFF\xDA\x00\x02", 6)), -1);
  const std::string whole = JpegHead("", 4000, 3000);
  for (size_t n = 0; n < whole.size(); ++n) {
    const int w = W(whole.substr(0, n));
    EXPECT_TRUE(w == -1 || w == 4000) << n;
  }
  // Every single-byte damage: any answer, but never a read past the bytes
  // (the sanitizers watch) and never a size of 0 or less.
  for (size_t i = 0; i < whole.size(); ++i) {
    std::string broken = whole;
    broken[i] = '\xFF';
    int w = 0, h = 0;
    if (quib::ReadPictureSize(broken, w, h)) {
      EXPECT_TRUE(w > 0 && h > 0) << i;
    }
  }
}

}  // namespace
