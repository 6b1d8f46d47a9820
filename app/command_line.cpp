#include "app/command_line.h"

#include <cctype>

namespace quib {

bool IsWhite(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string TrimWhite(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsWhite(text[begin])) ++begin;
  while (end > begin && IsWhite(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool IsStopArgument(const std::string& args) {
  const std::string word = TrimWhite(args);
  static const char kStop[] = "-stop";
  if (word.size() != sizeof(kStop) - 1) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(word[i])) != kStop[i]) return false;
  }
  return true;
}

std::vector<std::string> SplitCommandLine(const std::string& args) {
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < args.size()) {
    const size_t quote = args.find('"', pos);
    const size_t end = quote == std::string::npos ? args.size() : quote;
    if (end > pos) {
      std::string piece = TrimWhite(args.substr(pos, end - pos));
      if (!piece.empty()) names.push_back(std::move(piece));
    }
    if (quote == std::string::npos) break;
    pos = quote + 1;
  }
  return names;
}

std::vector<std::string> SplitForwardedPayload(const char* data, size_t size) {
  if (data == nullptr || size == 0) return {};
  // The sender counts no terminating zero, but a zero inside ends the text.
  std::string text(data, size);
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return SplitCommandLine(text);
}

}  // namespace quib
