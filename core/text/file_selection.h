// What a multi-select file-open dialog returns, read without trusting it to
// fit: the buffer holds the folder and the names, each ended by a zero, and
// one more zero after the last; a single file comes as one full path.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quib {

struct FileSelection {
  // Full paths, in the dialog's order.
  std::vector<std::string> paths;
  // False when the list was cut at the buffer's end (the dialog did not
  // say so): paths then holds only the names that arrived whole.
  bool complete = true;
};

// Reads at most size bytes of buffer.
FileSelection ReadFileSelection(const char* buffer, size_t size);

// The names in the dialog's file name field: the quoted ones, or the whole
// field when it has no quotes.
std::vector<std::string> SpecFileNames(const std::string& spec);

// How many of the names, from the first on, the dialog can return in a
// buffer of capacity bytes after a folder of folderLength bytes.
size_t FilesThatFit(const std::vector<std::string>& names, size_t folderLength, size_t capacity);

}  // namespace quib
