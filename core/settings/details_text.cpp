#include "core/settings/details_text.h"

namespace quib {

std::string MediaSummary(const std::string& name, int fileSize, bool isPicture, int width,
                         int height, const std::string& mimeType) {
  std::string text = name + "\n" + std::to_string(fileSize / 1024) + " kb\n";
  if (isPicture) text += std::to_string(width) + "x" + std::to_string(height) + " pix\n";
  return text + "Upload as: " + mimeType;
}

std::string AppendTags(const std::string& existing, const std::string& typed) {
  static const char kSpace[] = " \t\r\n\v\f";
  const std::string joined = existing + " " + typed;
  const size_t last = joined.find_last_not_of(kSpace);
  if (last == std::string::npos) return std::string();
  const size_t first = joined.find_first_not_of(kSpace);
  return joined.substr(first, last + 1 - first);
}

}  // namespace quib
