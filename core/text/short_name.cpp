#include "core/text/short_name.h"

namespace quib {

namespace {

// The byte length of the first n characters; sets *more when characters
// follow them.
size_t CharacterPrefix(const std::string& text, size_t n, LeadByteTest isLeadByte, bool* more) {
  size_t i = 0;
  for (size_t count = 0; count < n && i < text.size(); ++count) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!isLeadByte) {
      // A UTF-8 lead byte and the continuation bytes that follow it.
      ++i;
      if (c >= 0xC0) {
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
      }
      continue;
    }
    const bool pair = isLeadByte(c) && i + 1 < text.size() && text[i + 1] != '\0';
    i += pair ? 2 : 1;
  }
  if (more) *more = i < text.size();
  return i;
}

}  // namespace

std::string FirstCharacters(const std::string& text, size_t n, LeadByteTest isLeadByte) {
  return text.substr(0, CharacterPrefix(text, n, isLeadByte, nullptr));
}

std::string ShortName(const std::string& name, size_t n, LeadByteTest isLeadByte) {
  bool more = false;
  const size_t cut = CharacterPrefix(name, n, isLeadByte, &more);
  return more ? name.substr(0, cut) + "..." : name;
}

std::string ListCaption(const std::string& name, LeadByteTest isLeadByte) {
  bool longer = false;
  CharacterPrefix(name, 13, isLeadByte, &longer);
  return longer ? FirstCharacters(name, 11, isLeadByte) + "..." : name;
}

}  // namespace quib
