// The media type of a local file: the system's type for the file name when
// it is a picture, movie or audio type, else the system's content sniffing
// overridden by a few movie and audio signatures.
#pragma once

#include <cstddef>
#include <string>

#include "core/ports/file_port.h"

// Never fails: "unknown/*" for a file that cannot be opened. Over the
// installed platform's lookups (FindMimeFromData on Windows) and files.
std::string DetectMediaType(const std::string& path);

namespace quib {

constexpr size_t MediaWindowSize = 1024;  // bytes read from the start of a file
extern const char MediaTypeUnknown[];     // "unknown/*"

// "image/", "video/" or "audio/" over the first six bytes.
bool IsMediaTypePrefix(const std::string& type);

// The signature table applied to a window of MediaWindowSize bytes (zero
// filled past the end of the file); nullptr when no row matches. The text
// view is the window with zero bytes made blanks and its last byte dropped.
const char* MatchMediaSignature(const unsigned char* window);

// The system's two lookups.
class IMediaTypeQuery {
 public:
  virtual ~IMediaTypeQuery() = default;
  // The type registered for the path's extension; false when there is none.
  virtual bool QueryByName(const std::string& path, std::string& type) = 0;
  // The type sniffed from the whole window; false when the query fails.
  virtual bool QueryByContent(const unsigned char* window, size_t size, std::string& type) = 0;
};

// DetectMediaType over the given system lookups and file access.
std::string DetectMediaTypeWith(const std::string& path, IMediaTypeQuery& query, IFilePort& files);

}  // namespace quib
