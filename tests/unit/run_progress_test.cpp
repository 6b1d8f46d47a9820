#include "core/run/run_progress.h"

#include <gtest/gtest.h>

namespace {

const char kDot[] = "\xB7";  // the middle dot of code page 1252

TEST(RunProgress, PlaceOfTheFileAndRateAfterTheFirstSecond) {
  CRunProgress progress;
  // 120 files of 1 MB; the run sends the last item first.
  progress.Start(std::vector<long long>(120, 1 << 20));
  EXPECT_EQ(progress.Line(kDot), "");  // logging in
  progress.Sample(0.0, -1, 0, 0);
  EXPECT_EQ(progress.Line(kDot), "");
  progress.Sample(10.0, 119, 0, 0);
  EXPECT_EQ(progress.Line(kDot), "1 of 120");
  progress.Sample(10.4, 119, 409600, 1 << 20);
  EXPECT_EQ(progress.Line(kDot), "1 of 120");  // less than a second of sending
  // 1 MB per second, steady.
  double t = 10.0;
  long long sent = 0;
  for (int index = 119; index >= 117; --index) {
    for (int step = 1; step <= 5; ++step) {
      t += 0.2;
      sent = (1 << 20) / 5 * step;
      progress.Sample(t, index, sent, 1 << 20);
    }
  }
  EXPECT_EQ(progress.Place(), 3);
  EXPECT_NEAR(progress.Rate(), 1 << 20, 0.02 * (1 << 20));
  // 117 more files of 1 MB at 1 MB/s: about 2 min.
  EXPECT_EQ(progress.Line(kDot), "3 of 120 \xB7 1.0 MB/s \xB7 about 2 min left");
}

TEST(RunProgress, SmoothedOverChunksAndServerPauses) {
  CRunProgress progress;
  progress.Start(std::vector<long long>(50, 2 << 20));
  double t = 0;
  long long lastRate = 0;
  double lowest = 1e18, highest = 0;
  // Each file: 2 MB sent in bursts of 512 KB every 0.2 s, then a second of
  // waiting for the server with nothing sent.
  for (int index = 49; index >= 40; --index) {
    for (int burst = 1; burst <= 4; ++burst) {
      t += 0.2;
      progress.Sample(t, index, burst * (512 << 10), 2 << 20);
    }
    for (int wait = 0; wait < 5; ++wait) {
      t += 0.2;
      progress.Sample(t, index, 2 << 20, 2 << 20);
      if (t > 6) {
        lowest = std::min(lowest, progress.Rate());
        highest = std::max(highest, progress.Rate());
      }
    }
    lastRate = static_cast<long long>(progress.Rate());
  }
  // On average 2 MB per 1.8 s; the shown rate stays within a band around it
  // instead of jumping between 2.5 MB/s and nothing.
  const double average = (2 << 20) / 1.8;
  EXPECT_NEAR(lastRate, average, 0.15 * average);
  EXPECT_GT(lowest, 0.75 * average);
  EXPECT_LT(highest, 1.25 * average);
  // Time left counts the bytes of the files still to come.
  EXPECT_NEAR(progress.SecondsLeft(), 40.0 * (2 << 20) / progress.Rate(), 1.0);
}

TEST(RunProgress, BytesNotFilesDecideTheTimeLeft) {
  CRunProgress progress;
  // Item 0 is huge, the others small; the huge one is sent last.
  std::vector<long long> sizes(10, 100 << 10);
  sizes[0] = 100 << 20;
  progress.Start(sizes);
  double t = 0;
  for (int step = 0; step <= 10; ++step) {
    t += 0.5;
    progress.Sample(t, 9, step * (10 << 10), 100 << 10);
  }
  // 20 KB/s; what is left is 8 small files and the huge one.
  const double left = (8.0 * (100 << 10) + (100 << 20)) / (20 << 10);
  EXPECT_NEAR(progress.SecondsLeft(), left, 0.05 * left);
  EXPECT_EQ(progress.Line("-"), "1 of 10 - 20 KB/s - about 86 min left");
}

TEST(RunProgress, OneFileRunsShowNoLine) {
  CRunProgress progress;
  progress.Start({5 << 20});
  for (int i = 0; i < 20; ++i) progress.Sample(i * 0.2, 0, i * 100000, 5 << 20);
  EXPECT_EQ(progress.Line(kDot), "");
}

TEST(RunProgress, Formats) {
  EXPECT_EQ(CRunProgress::FormatRate(800), "800 B/s");
  EXPECT_EQ(CRunProgress::FormatRate(350 * 1024), "350 KB/s");
  EXPECT_EQ(CRunProgress::FormatRate(999 * 1024), "999 KB/s");
  EXPECT_EQ(CRunProgress::FormatRate(1000 * 1024), "1.0 MB/s");
  EXPECT_EQ(CRunProgress::FormatRate(1.44 * 1024 * 1024), "1.4 MB/s");
  EXPECT_EQ(CRunProgress::FormatTimeLeft(0), "about 5 s left");
  EXPECT_EQ(CRunProgress::FormatTimeLeft(12), "about 15 s left");
  EXPECT_EQ(CRunProgress::FormatTimeLeft(59), "about 60 s left");
  EXPECT_EQ(CRunProgress::FormatTimeLeft(61), "about 1 min left");
  EXPECT_EQ(CRunProgress::FormatTimeLeft(130), "about 2 min left");
  EXPECT_EQ(CRunProgress::FormatTimeLeft(99 * 60), "about 99 min left");
  EXPECT_EQ(CRunProgress::FormatTimeLeft(3 * 3600), "about 3 h left");
}

}  // namespace
