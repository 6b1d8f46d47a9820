// File names of any length: what the upload list and the command line ask
// the disk about names that may be longer than MAX_PATH.
#pragma once

#include <string>

#include "framework/long_path.h"

namespace quib {

// True when the path names a file (not a folder) that can be opened for
// reading now.
bool CanReadFile(const std::string& path);

}  // namespace quib
