#include "core/media/area_downscale.h"

#include <algorithm>
#include <cmath>

namespace quib {

std::vector<CAreaDownscaler::CCover> CAreaDownscaler::Covers(double start, double length, int count,
                                                             int sourceSize) {
  std::vector<CCover> covers(static_cast<size_t>(count));
  const double step = length / count;
  for (int i = 0; i < count; ++i) {
    double from = start + i * step;
    double to = from + step;
    if (step < 1) {
      // Enlarging: the pixel under the centre.
      from = std::floor((from + to) / 2);
      to = from + 1;
    }
    CCover& cover = covers[static_cast<size_t>(i)];
    cover.first = std::clamp(static_cast<int>(std::floor(from)), 0, sourceSize - 1);
    const int last = std::clamp(static_cast<int>(std::ceil(to)) - 1, cover.first, sourceSize - 1);
    double sum = 0;
    for (int s = cover.first; s <= last; ++s) {
      const double w = std::min<double>(s + 1, to) - std::max<double>(s, from);
      cover.weights.push_back(w > 0 ? w : 0);
      sum += cover.weights.back();
    }
    for (double& w : cover.weights) w = sum > 0 ? w / sum : 1.0 / cover.weights.size();
  }
  return covers;
}

CAreaDownscaler::CAreaDownscaler(int channels, int sourceWidth, int sourceHeight, double left,
                                 double top, double width, double height, int targetWidth,
                                 int targetHeight)
    : channels_(channels), targetWidth_(targetWidth), targetHeight_(targetHeight) {
  constexpr double Slack = 1e-9;
  valid_ = (channels == 3 || channels == 4) && sourceWidth > 0 && sourceHeight > 0 &&
           targetWidth > 0 && targetHeight > 0 && width > 0 && height > 0 && left >= 0 &&
           top >= 0 && left + width <= sourceWidth + Slack && top + height <= sourceHeight + Slack;
  if (!valid_) return;
  columns_ = Covers(left, width, targetWidth, sourceWidth);
  rows_ = Covers(top, height, targetHeight, sourceHeight);
  firstRow_ = rows_.front().first;
  lastRow_ = rows_.back().first + static_cast<int>(rows_.back().weights.size()) - 1;
  across_.assign(static_cast<size_t>(targetWidth) * static_cast<size_t>(channels), 0.0);
  sums_.assign(across_.size() * static_cast<size_t>(targetHeight), 0.0);
}

void CAreaDownscaler::AddRow(int y, const unsigned char* row) {
  if (!valid_ || y < firstRow_ || y > lastRow_) return;
  const size_t n = static_cast<size_t>(channels_);
  // Shrunk across first, then added into the target rows the row falls in.
  for (size_t x = 0; x < columns_.size(); ++x) {
    const CCover& cover = columns_[x];
    double* out = &across_[x * n];
    std::fill(out, out + n, 0.0);
    const unsigned char* in = row + static_cast<size_t>(cover.first) * n;
    for (size_t k = 0; k < cover.weights.size(); ++k, in += n) {
      for (size_t c = 0; c < n; ++c) out[c] += in[c] * cover.weights[k];
    }
  }
  while (nextTarget_ < rows_.size() &&
         rows_[nextTarget_].first + static_cast<int>(rows_[nextTarget_].weights.size()) <= y) {
    ++nextTarget_;
  }
  for (size_t t = nextTarget_; t < rows_.size() && rows_[t].first <= y; ++t) {
    const size_t k = static_cast<size_t>(y - rows_[t].first);
    if (k >= rows_[t].weights.size()) continue;
    const double w = rows_[t].weights[k];
    double* out = &sums_[t * across_.size()];
    for (size_t v = 0; v < across_.size(); ++v) out[v] += across_[v] * w;
  }
}

bool CAreaDownscaler::Finish(const PixelRows& target) const {
  if (!valid_ || !target.bits || target.width != targetWidth_ || target.height != targetHeight_ ||
      target.channels != channels_) {
    return false;
  }
  for (int y = 0; y < targetHeight_; ++y) {
    unsigned char* out = target.bits + static_cast<size_t>(y) * static_cast<size_t>(target.stride);
    const double* sum = &sums_[static_cast<size_t>(y) * across_.size()];
    for (size_t v = 0; v < across_.size(); ++v) {
      out[v] = static_cast<unsigned char>(std::clamp(std::lround(sum[v]), 0L, 255L));
    }
  }
  return true;
}

bool AreaDownscale(const PixelRows& source, double left, double top, double width, double height,
                   const PixelRows& target) {
  if (!source.bits || source.channels != target.channels) return false;
  CAreaDownscaler shrink(source.channels, source.width, source.height, left, top, width, height,
                         target.width, target.height);
  if (!shrink.Valid()) return false;
  for (int y = shrink.FirstRow(); y <= shrink.LastRow(); ++y) {
    shrink.AddRow(y, source.bits + static_cast<size_t>(y) * static_cast<size_t>(source.stride));
  }
  return shrink.Finish(target);
}

}  // namespace quib
