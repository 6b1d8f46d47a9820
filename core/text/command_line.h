// Reading file names from the program's argument string and from the
// argument string that a second start forwards to the running window.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quib {

// Space, tab, CR, LF, VT and FF.
bool IsWhite(char c);
std::string TrimWhite(const std::string& text);

// True when the argument string asks every running instance to quit:
// "-stop" in any letter case, blanks around it allowed.
bool IsStopArgument(const std::string& args);

// What the splitter asks about the disk.
class IPathProbe {
 public:
  virtual ~IPathProbe() = default;
  // An existing file (not a folder).
  virtual bool IsFile(const std::string& path) = 0;
  virtual bool IsFolder(const std::string& path) = 0;
};

// Splits an argument string by the usual Windows rules (those of
// CommandLineToArgvW): blanks and tabs separate arguments, double quotes
// group, backslashes escape a quote. Explorer quotes only the paths that
// contain a blank, and some callers quote none, so unquoted arguments in a
// row that together name an existing file (blanks included) are taken as
// that one path; the longest such name wins. Empty and blank arguments are
// skipped; quoted ones are trimmed.
std::vector<std::string> SplitCommandLine(const std::string& args, IPathProbe& probe);

// Argument strings are UTF-8: no byte of a character is a quote, a blank or a
// backslash, so they are split byte by byte.

// The argument string of a second start, as the running window receives it:
// split the same way as the program's own command line. A zero byte ends it.
// utf8: the payload is UTF-8; else it is in the ANSI code page, as an older
// version sends it, and is converted whole before it is split (a trail byte
// 0x5C of a double-byte character is then never taken for a backslash).
std::vector<std::string> SplitForwardedPayload(const char* data, size_t size, IPathProbe& probe,
                                               bool utf8 = true);

}  // namespace quib
