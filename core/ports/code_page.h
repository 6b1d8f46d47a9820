// The system's ANSI code page: the form of what the older Windows calls and
// older instances of the program give and take (the program keeps UTF-8).
#pragma once

#include <string>

namespace quib {

class ICodePage {
 public:
  virtual ~ICodePage() = default;
  // ANSI -> UTF-8, the whole text whatever its length.
  virtual std::string ToUtf8(const std::string& ansi) = 0;
  // UTF-8 -> ANSI; a character the code page lacks becomes its default
  // character, never a look-alike.
  virtual std::string FromUtf8(const std::string& utf8) = 0;
  // True when the byte starts a double-byte character.
  virtual bool IsLeadByte(unsigned char byte) = 0;
};

// Code page 1252, what the program sees under Windows with a Western
// locale; the portable default.
class CWesternCodePage : public ICodePage {
 public:
  std::string ToUtf8(const std::string& ansi) override;
  std::string FromUtf8(const std::string& utf8) override;
  bool IsLeadByte(unsigned char) override { return false; }
};

}  // namespace quib
