#include "core/text/command_line.h"

#include "core/text/text_convert.h"

#include <cctype>
#include <map>

namespace quib {

namespace {

// The longest file or folder name one path component can have.
constexpr size_t kMaxComponent = 255;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// One argument: its text after quote and backslash processing, where it
// stands in the argument string, and whether a quote took part.
struct Argument {
  std::string text;
  size_t begin = 0;
  size_t end = 0;
  bool quoted = false;
};

// The argument rules of CommandLineToArgvW for everything after the program
// name: 2n backslashes and a quote give n backslashes and open or close
// quoting, 2n+1 backslashes and a quote give n backslashes and a literal
// quote, a third quote in a row is literal, other backslashes are literal.
std::vector<Argument> Tokenize(const std::string& s) {
  std::vector<Argument> args;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    if (i == s.size()) break;
    Argument arg;
    arg.begin = i;
    int quotes = 0;  // 1 while inside quotes
    size_t backslashes = 0;
    while (i < s.size() && !(IsBlank(s[i]) && quotes == 0)) {
      const char c = s[i];
      if (c == '\\') {
        arg.text += c;
        ++backslashes;
        ++i;
        continue;
      }
      if (c != '"') {
        arg.text += c;
        backslashes = 0;
        ++i;
        continue;
      }
      arg.quoted = true;
      if (backslashes % 2 == 0) {
        arg.text.resize(arg.text.size() - backslashes / 2);
        ++quotes;
      } else {
        arg.text.resize(arg.text.size() - backslashes / 2 - 1);
        arg.text += '"';
      }
      backslashes = 0;
      ++i;
      while (i < s.size() && s[i] == '"') {
        if (++quotes == 3) {
          arg.text += '"';
          quotes = 0;
        }
        ++i;
      }
      if (quotes == 2) quotes = 0;
    }
    arg.end = i;
    args.push_back(std::move(arg));
  }
  return args;
}

// Finds, for a row of unquoted arguments, the longest run starting at first
// whose text (blanks between included) names an existing file. Stops early
// once no longer run can exist: its folder part is no folder, or its last
// component is longer than any name can be.
class CRunMatcher {
 public:
  CRunMatcher(const std::string& s, IPathProbe& probe) : s_(s), probe_(probe) {}

  // How many arguments from first on form the longest match; 0 when the row
  // names no file at all.
  size_t LongestFile(const std::vector<Argument>& args, size_t first, size_t last) {
    size_t best = 0;
    const size_t begin = args[first].begin;
    for (size_t j = first; j <= last; ++j) {
      const std::string span = s_.substr(begin, args[j].end - begin);
      size_t sep = span.size();
      while (sep > 0 && !IsSeparator(span[sep - 1])) --sep;
      if (span.size() - sep > kMaxComponent) break;
      if (sep > 1 && !IsFolder(span.substr(0, sep - 1))) break;
      if (probe_.IsFile(span)) best = j - first + 1;
    }
    return best;
  }

 private:
  bool IsFolder(const std::string& path) {
    // "C:" and "\\server" need no asking; the drive or share decides later.
    if (path.size() == 2 && path[1] == ':') return true;
    auto known = folders_.find(path);
    if (known != folders_.end()) return known->second;
    const bool folder = probe_.IsFolder(path);
    folders_.emplace(path, folder);
    return folder;
  }

  const std::string& s_;
  IPathProbe& probe_;
  std::map<std::string, bool> folders_;
};

}  // namespace

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

std::vector<std::string> SplitCommandLine(const std::string& args, IPathProbe& probe) {
  const std::string s = TrimWhite(args);
  const std::vector<Argument> tokens = Tokenize(s);
  CRunMatcher matcher(s, probe);
  std::vector<std::string> names;
  size_t i = 0;
  while (i < tokens.size()) {
    if (tokens[i].quoted) {
      std::string name = TrimWhite(tokens[i].text);
      if (!name.empty()) names.push_back(std::move(name));
      ++i;
      continue;
    }
    size_t last = i;
    while (last + 1 < tokens.size() && !tokens[last + 1].quoted) ++last;
    const size_t count = matcher.LongestFile(tokens, i, last);
    if (count > 0) {
      const size_t end = tokens[i + count - 1].end;
      names.push_back(s.substr(tokens[i].begin, end - tokens[i].begin));
      i += count;
    } else {
      names.push_back(tokens[i].text);
      ++i;
    }
  }
  return names;
}

std::vector<std::string> SplitForwardedPayload(const char* data, size_t size, IPathProbe& probe,
                                               bool utf8) {
  if (data == nullptr || size == 0) return {};
  // The sender counts no terminating zero, but a zero inside ends the text.
  std::string text(data, size);
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return SplitCommandLine(utf8 ? text : AnsiToUtf8(text), probe);
}

}  // namespace quib
