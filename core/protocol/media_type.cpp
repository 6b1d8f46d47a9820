#include "core/protocol/media_type.h"

#include "core/ports/platform.h"

#include <cstring>

namespace quib {

const char MediaTypeUnknown[] = "unknown/*";

namespace {

enum SignatureTest { AtStart, Contains };

struct Signature {
  SignatureTest test;
  const char* bytes;
  size_t size;
  const char* type;
};

#define SIG(test, bytes, type) \
  { test, bytes, sizeof(bytes) - 1, type }

// Order matters: the first matching row wins, so movie containers are
// recognised before the audio rows get a chance.
const Signature kSignatures[] = {
    SIG(AtStart, "FLV", "video/x-flv"),
    SIG(AtStart, ".RMF", "video/x-pn-realvideo"),
    SIG(Contains, "3gp", "video/3gpp"),
    SIG(Contains, "moov", "video/quicktime"),
    SIG(Contains, "ftypmp4", "video/mp4"),
    SIG(AtStart, "ID3", "audio/mpeg"),
    SIG(AtStart, "\xFF\xFA", "audio/mpeg"),
    SIG(AtStart, "\xFF\xFB", "audio/mpeg"),
    SIG(AtStart, "\x30\x26\xB2\x75\x8E\x66\xCF", "audio/x-ms-wma"),
    SIG(Contains, "microsoft", "audio/x-ms-wma"),
    SIG(Contains, "ftypm4a", "audio/mp4"),
    SIG(AtStart, "RIFF", "audio/x-wav"),
    SIG(AtStart, "Ogg", "audio/ogg"),
};

#undef SIG

}  // namespace

bool IsMediaTypePrefix(const std::string& type) {
  return type.compare(0, 6, "image/") == 0 || type.compare(0, 6, "video/") == 0 ||
         type.compare(0, 6, "audio/") == 0;
}

const char* MatchMediaSignature(const unsigned char* window) {
  // The text view: zero bytes become blanks and the last byte ends the text,
  // so containment tests see the first 1023 bytes and nothing after them.
  char text[MediaWindowSize];
  for (size_t i = 0; i < MediaWindowSize; ++i)
    text[i] = window[i] ? static_cast<char>(window[i]) : ' ';
  const size_t textSize = MediaWindowSize - 1;
  for (const Signature& s : kSignatures) {
    if (s.test == AtStart) {
      // The window and the text view agree at the start: no row starts with a zero byte.
      if (std::memcmp(text, s.bytes, s.size) == 0) return s.type;
    } else {
      for (size_t i = 0; i + s.size <= textSize; ++i) {
        if (std::memcmp(text + i, s.bytes, s.size) == 0) return s.type;
      }
    }
  }
  return nullptr;
}

std::string DetectMediaTypeWith(const std::string& path, IMediaTypeQuery& query, IFilePort& files) {
  std::string type;
  if (query.QueryByName(path, type) && IsMediaTypePrefix(type)) return type;

  unsigned char window[MediaWindowSize] = {};  // zeros past the end of a short file
  {
    std::unique_ptr<IFileReader> file = files.OpenRead(path);
    if (!file) return MediaTypeUnknown;
    size_t filled = 0, got = 0;
    while (filled < MediaWindowSize &&
           file->Read(reinterpret_cast<char*>(window) + filled, MediaWindowSize - filled, got) &&
           got > 0) {
      filled += got;
    }
  }

  // A failed content query keeps the callers' classification working.
  if (!query.QueryByContent(window, MediaWindowSize, type)) type = MediaTypeUnknown;
  if (const char* signature = MatchMediaSignature(window)) type = signature;
  return type;
}

}  // namespace quib

std::string DetectMediaType(const std::string& path) {
  return quib::DetectMediaTypeWith(path, quib::MediaTypes(), quib::Files());
}
