#include "core/text/file_selection.h"

#include <cstring>

namespace quib {

namespace {

// True when the text's last character is a backslash.
bool EndsWithSeparator(const std::string& text, LeadByteTest isLeadByte) {
  bool separator = false;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    separator = c == '\\';
    i += (isLeadByte && isLeadByte(c) && i + 1 < text.size()) ? 2 : 1;
  }
  return separator;
}

}  // namespace

FileSelection ReadFileSelection(const char* buffer, size_t size, LeadByteTest isLeadByte) {
  FileSelection selection;
  std::vector<std::string> strings;
  size_t pos = 0;
  while (true) {
    if (pos >= size) {
      selection.complete = false;
      break;
    }
    const void* zero = std::memchr(buffer + pos, '\0', size - pos);
    if (!zero) {
      selection.complete = false;
      break;
    }
    const size_t end = static_cast<size_t>(static_cast<const char*>(zero) - buffer);
    if (end == pos) break;  // the empty string after the last name
    strings.emplace_back(buffer + pos, end - pos);
    pos = end + 1;
  }
  if (strings.empty()) return selection;
  if (strings.size() == 1) {
    // One full path, unless the list was cut right after its folder.
    if (selection.complete) selection.paths.push_back(strings[0]);
    return selection;
  }
  std::string folder = strings[0];
  if (!folder.empty() && !EndsWithSeparator(folder, isLeadByte)) folder += '\\';
  for (size_t i = 1; i < strings.size(); ++i) selection.paths.push_back(folder + strings[i]);
  return selection;
}

std::vector<std::string> SpecFileNames(const std::string& spec) {
  std::vector<std::string> names;
  size_t pos = spec.find('"');
  if (pos == std::string::npos) {
    if (!spec.empty()) names.push_back(spec);
    return names;
  }
  while (pos != std::string::npos) {
    const size_t close = spec.find('"', pos + 1);
    if (close == std::string::npos) {
      if (pos + 1 < spec.size()) names.push_back(spec.substr(pos + 1));
      break;
    }
    if (close > pos + 1) names.push_back(spec.substr(pos + 1, close - pos - 1));
    pos = spec.find('"', close + 1);
  }
  return names;
}

size_t FilesThatFit(const std::vector<std::string>& names, size_t folderLength, size_t capacity) {
  // The folder, its zero, each name with its zero, the closing zero.
  size_t used = folderLength + 2;
  size_t count = 0;
  for (const std::string& name : names) {
    used += Utf16Length(name) + 1;
    if (used > capacity) break;
    ++count;
  }
  return count;
}

}  // namespace quib
