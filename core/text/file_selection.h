// What a multi-select file-open dialog returns, read without trusting it to
// fit: the buffer holds the folder and the names, each ended by a zero, and
// one more zero after the last; a single file comes as one full path.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/text/text_convert.h"

namespace quib {

struct FileSelection {
  // Full paths, in the dialog's order.
  std::vector<std::string> paths;
  // False when the list was cut at the buffer's end (the dialog did not
  // say so): paths then holds only the names that arrived whole.
  bool complete = true;
};

// Reads at most size bytes of buffer: UTF-8, or, given a lead-byte test,
// ANSI text whose double-byte characters are stepped over (a folder ending
// in a character whose trail byte is 0x5C does not end in a backslash).
FileSelection ReadFileSelection(const char* buffer, size_t size, LeadByteTest isLeadByte = nullptr);

// The names in the dialog's file name field: the quoted ones, or the whole
// field when it has no quotes.
std::vector<std::string> SpecFileNames(const std::string& spec);

// How many of the UTF-8 names, from the first on, the wide dialog can return
// in a buffer of capacity characters after a folder of folderLength
// characters.
size_t FilesThatFit(const std::vector<std::string>& names, size_t folderLength, size_t capacity);

}  // namespace quib
