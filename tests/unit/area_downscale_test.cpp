// Shrinking by area averaging: what each target pixel covers, fractions of
// pixels included, and the detail that point sampling would alias.
#include "core/media/area_downscale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct CPicture {
  CPicture(int w, int h, int channels = 3)
      : bytes(static_cast<size_t>(w * h * channels)), rows{nullptr, w, h, w * channels, channels} {
    rows.bits = bytes.data();
  }
  unsigned char* At(int x, int y) { return bytes.data() + (y * rows.width + x) * rows.channels; }
  void Fill(int x, int y, unsigned char v) {
    for (int c = 0; c < rows.channels; ++c) At(x, y)[c] = v;
  }
  std::vector<unsigned char> bytes;
  quib::PixelRows rows;
};

CPicture Shrunk(CPicture& source, int w, int h) {
  CPicture target(w, h, source.rows.channels);
  EXPECT_TRUE(
      quib::AreaDownscale(source.rows, 0, 0, source.rows.width, source.rows.height, target.rows));
  return target;
}

}  // namespace

TEST(AreaDownscale, EachPixelIsTheAverageOfTheAreaItCovers) {
  // 2 to 1: plain 2 x 2 blocks.
  CPicture blocks(4, 2);
  const unsigned char values[2][4] = {{0, 40, 200, 100}, {80, 120, 60, 20}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) blocks.Fill(x, y, values[y][x]);
  CPicture half = Shrunk(blocks, 2, 1);
  EXPECT_EQ(half.At(0, 0)[0], 60);  // (0 + 40 + 80 + 120) / 4
  EXPECT_EQ(half.At(1, 0)[2], 95);  // (200 + 100 + 60 + 20) / 4

  // 3 to 2: the middle pixel is split between both targets.
  CPicture three(3, 1);
  three.Fill(0, 0, 0);
  three.Fill(1, 0, 90);
  three.Fill(2, 0, 180);
  CPicture two = Shrunk(three, 2, 1);
  EXPECT_EQ(two.At(0, 0)[1], 30);   // (0 * 1 + 90 * 0.5) / 1.5
  EXPECT_EQ(two.At(1, 0)[1], 150);  // (90 * 0.5 + 180 * 1) / 1.5
}

TEST(AreaDownscale, FineDetailTurnsIntoItsAverageAtAnyRatio) {
  // One-pixel stripes at 1600 x 1200, shrunk 1600 / 208 (not a whole
  // ratio): every target pixel grey, where samples would give stripes of
  // black and white.
  CPicture stripes(1600, 1200);
  for (int y = 0; y < 1200; ++y)
    for (int x = 0; x < 1600; ++x) stripes.Fill(x, y, x % 2 ? 255 : 0);
  CPicture small = Shrunk(stripes, 208, 156);
  int worst = 0;
  for (int y = 0; y < 156; ++y)
    for (int x = 0; x < 208; ++x) worst = std::max(worst, std::abs(small.At(x, y)[0] - 128));
  EXPECT_LE(worst, 17) << "a target pixel covers 7.7 stripes: at most half a stripe off";
}

TEST(AreaDownscale, OnlyThePartCountsAndBadInputIsRefused) {
  // Black left half, white right half; the part is the right half.
  CPicture halves(64, 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) halves.Fill(x, y, x < 32 ? 0 : 255);
  CPicture right(5, 3);
  ASSERT_TRUE(quib::AreaDownscale(halves.rows, 32, 0, 32, 32, right.rows));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(right.At(x, y)[0], 255);
  // A part starting half a pixel into the black: the first column is a
  // little darker than the rest.
  ASSERT_TRUE(quib::AreaDownscale(halves.rows, 31.5, 0, 32, 32, right.rows));
  EXPECT_LT(right.At(0, 0)[0], 255);
  EXPECT_EQ(right.At(4, 0)[0], 255);

  CPicture target(4, 4);
  EXPECT_FALSE(quib::AreaDownscale(halves.rows, 40, 0, 32, 32, target.rows)) << "leaves the source";
  EXPECT_FALSE(quib::AreaDownscale(halves.rows, 0, 0, 0, 32, target.rows));
  CPicture four(4, 4, 4);
  EXPECT_FALSE(quib::AreaDownscale(halves.rows, 0, 0, 64, 32, four.rows)) << "channels differ";
}
