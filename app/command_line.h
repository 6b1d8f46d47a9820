// Reading file names from the program's argument string and from the
// argument string that a second start forwards to the running window.
#pragma once

#include <string>
#include <vector>

namespace quib {

// Space, tab, CR, LF, VT and FF.
bool IsWhite(char c);
std::string TrimWhite(const std::string& text);

// True when the argument string asks every running instance to quit:
// "-stop" in any letter case, blanks around it allowed.
bool IsStopArgument(const std::string& args);

// Splits an argument string at every double quote; pieces that are blank
// after trimming are skipped. "\"C:\\A B\\x.jpg\" \"C:\\y.png\"" gives the two
// paths; an unquoted string gives itself, trimmed.
std::vector<std::string> SplitCommandLine(const std::string& args);

// The argument string of a second start, as the running window receives it.
// Kept byte for byte as the sender wrote it; the running window splits it the
// same way as its own command line, so several quoted files all arrive.
std::vector<std::string> SplitForwardedPayload(const char* data, size_t size);

}  // namespace quib
