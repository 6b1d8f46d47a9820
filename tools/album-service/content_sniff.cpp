#include "tools/album-service/content_sniff.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace albumsvc {

namespace {

bool At(const unsigned char* data, size_t size, size_t offset, const char* bytes, size_t n) {
  return size >= offset + n && std::memcmp(data + offset, bytes, n) == 0;
}
#define AT(offset, literal) At(data, size, offset, literal, sizeof(literal) - 1)

bool Contains(const unsigned char* data, size_t size, const char* bytes, size_t n) {
  auto* b = reinterpret_cast<const unsigned char*>(bytes);
  return std::search(data, data + size, b, b + n) != data + size;
}

// ISO base media files (MP4, QuickTime, 3GP, M4A): the first box is "ftyp"
// with the major brand; old QuickTime files start with another known box.
std::string IsoMediaType(const unsigned char* data, size_t size) {
  if (AT(4, "ftyp")) {
    if (AT(8, "qt  ")) return "video/quicktime";
    if (AT(8, "M4A ") || AT(8, "M4B ")) return "audio/mp4";
    if (AT(8, "3gp") || AT(8, "3g2")) return "video/3gpp";
    return "video/mp4";
  }
  for (const char* box : {"moov", "mdat", "wide", "free", "skip", "pnot"})
    if (At(data, size, 4, box, 4)) return "video/quicktime";
  return "";
}

// MPEG audio frame header: 11 sync bits, a layer, a usable bitrate index.
bool MpegAudioFrame(const unsigned char* data, size_t size) {
  return size >= 3 && data[0] == 0xFF && (data[1] & 0xE0) == 0xE0 && (data[1] & 0x06) != 0 &&
         (data[2] & 0xF0) != 0xF0;
}

}  // namespace

std::string SniffContentType(const unsigned char* data, size_t size) {
  size = std::min(size, kSniffBytes);
  if (AT(0, "\xFF\xD8\xFF")) return "image/jpeg";
  if (AT(0, "\x89PNG\r\n\x1A\n")) return "image/png";
  if (AT(0, "GIF87a") || AT(0, "GIF89a")) return "image/gif";
  // BMP: "BM", then the file size and two reserved words that are zero.
  if (AT(0, "BM") && size >= 26 && !std::memcmp(data + 6, "\0\0\0\0", 4)) return "image/bmp";
  if (AT(0, "RIFF") && AT(8, "AVI ")) return "video/x-msvideo";
  if (AT(0, "RIFF") && AT(8, "WAVE")) return "audio/wav";
  if (AT(0, "\x00\x00\x01\xBA") || AT(0, "\x00\x00\x01\xB3")) return "video/mpeg";
  std::string iso = IsoMediaType(data, size);
  if (!iso.empty()) return iso;
  if (AT(0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C")) {
    // ASF: a video stream's type GUID in the header makes it a movie.
    static const char kVideoStream[] =
        "\xC0\xEF\x19\xBC\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B";
    return Contains(data, size, kVideoStream, 16) ? "video/x-ms-wmv" : "audio/x-ms-wma";
  }
  if (AT(0, "FLV\x01")) return "video/x-flv";
  if (AT(0, "OggS"))
    return Contains(data, std::min<size_t>(size, 128), "\x80theora", 7) ? "video/ogg" : "audio/ogg";
  if (AT(0, "ID3") || MpegAudioFrame(data, size)) return "audio/mpeg";
  return "application/octet-stream";
}

#undef AT

std::string SniffFileContentType(const std::string& path) {
  std::vector<unsigned char> head(kSniffBytes);
  size_t got = 0;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    while (got < head.size()) {
      ssize_t n = ::read(fd, head.data() + got, head.size() - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    ::close(fd);
  }
  return SniffContentType(head.data(), got);
}

}  // namespace albumsvc
