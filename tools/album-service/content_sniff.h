// The type a stored file is served with, decided from its first bytes only:
// the picture, movie and audio formats the uploader sends, and
// application/octet-stream for everything else. What the sender claimed is
// never used, so an upload cannot make the service serve a page or a script.
#pragma once

#include <cstddef>
#include <string>

namespace albumsvc {

// How many leading bytes SniffContentType looks at (fewer is fine).
const size_t kSniffBytes = 8192;

std::string SniffContentType(const unsigned char* data, size_t size);
// Reads the head of a file; octet-stream when it cannot be read.
std::string SniffFileContentType(const std::string& path);

}  // namespace albumsvc
