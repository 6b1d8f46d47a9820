// Builds EXIF blocks for test pictures the way cameras write them: IFD0 with
// make, date and optionally an orientation, an Exif IFD with the pixel size,
// a GPS IFD, and IFD1 with an embedded JPEG preview. Portable, header-only;
// used by the tests and the benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quib_test {

struct ExifSpec {
  bool bigEndian = false;
  int orientation = 0;  // 0: no orientation tag
  std::string make = "QuibCam";
  std::string dateTime = "2006:07:14 12:34:56";
  bool gps = true;
  uint32_t pixelX = 0;  // 0: no pixel dimension tags
  uint32_t pixelY = 0;
  std::string preview;  // JPEG bytes of an embedded preview; empty for none
};

namespace detail {

struct Entry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  std::string data;   // the value bytes, already in the file's byte order
  int pointsTo = -1;  // LONG value is the offset of IFD n (filled in later)
  bool pointsToPreview = false;
};

class Writer {
 public:
  explicit Writer(bool big) : big_(big) {}
  std::string U16(uint32_t v) const {
    std::string s(2, '\0');
    s[big_ ? 1 : 0] = static_cast<char>(v & 0xFF);
    s[big_ ? 0 : 1] = static_cast<char>((v >> 8) & 0xFF);
    return s;
  }
  std::string U32(uint32_t v) const {
    return big_ ? U16(v >> 16) + U16(v & 0xFFFF) : U16(v & 0xFFFF) + U16(v >> 16);
  }
  Entry Short(uint16_t tag, uint32_t v) const { return {tag, 3, 1, U16(v) + U16(0)}; }
  Entry Long(uint16_t tag, uint32_t v) const { return {tag, 4, 1, U32(v)}; }
  Entry Ascii(uint16_t tag, const std::string& text) const {
    return {tag, 2, static_cast<uint32_t>(text.size() + 1), text + '\0'};
  }
  Entry Rationals(uint16_t tag, const std::vector<uint32_t>& pairs) const {
    std::string data;
    for (uint32_t v : pairs) data += U32(v);
    return {tag, 5, static_cast<uint32_t>(pairs.size() / 2), data};
  }

 private:
  bool big_;
};

inline size_t IfdSize(const std::vector<Entry>& entries) {
  size_t size = 2 + entries.size() * 12 + 4;
  for (const Entry& e : entries) {
    if (e.data.size() > 4) size += (e.data.size() + 1) & ~size_t{1};
  }
  return size;
}

}  // namespace detail

// The whole APP1 segment: marker, length, "Exif\0\0" and the TIFF block.
inline std::string BuildExifSegment(const ExifSpec& spec) {
  using namespace detail;
  const Writer w(spec.bigEndian);
  std::vector<std::vector<Entry>> ifds(4);  // IFD0, Exif, GPS, IFD1
  ifds[0].push_back(w.Ascii(0x010F, spec.make));
  if (spec.orientation) ifds[0].push_back(w.Short(0x0112, static_cast<uint32_t>(spec.orientation)));
  ifds[0].push_back(w.Ascii(0x0132, spec.dateTime));
  Entry exifPointer = w.Long(0x8769, 0);
  exifPointer.pointsTo = 1;
  ifds[0].push_back(exifPointer);
  if (spec.gps) {
    Entry gpsPointer = w.Long(0x8825, 0);
    gpsPointer.pointsTo = 2;
    ifds[0].push_back(gpsPointer);
    ifds[2].push_back(w.Ascii(0x0001, "N"));
    ifds[2].push_back(w.Rationals(0x0002, {48, 1, 8, 1, 1234, 100}));
  }
  ifds[1].push_back(w.Ascii(0x9003, spec.dateTime));
  if (spec.pixelX) {
    ifds[1].push_back(w.Long(0xA002, spec.pixelX));
    ifds[1].push_back(w.Short(0xA003, spec.pixelY));
  }
  if (!spec.preview.empty()) {
    ifds[3].push_back(w.Short(0x0103, 6));
    Entry start = w.Long(0x0201, 0);
    start.pointsToPreview = true;
    ifds[3].push_back(start);
    ifds[3].push_back(w.Long(0x0202, static_cast<uint32_t>(spec.preview.size())));
  }
  // Layout: header, then each non-empty IFD with its data, then the preview.
  std::vector<uint32_t> offsets(4, 0);
  uint32_t at = 8;
  for (size_t i = 0; i < ifds.size(); ++i) {
    if (ifds[i].empty()) continue;
    offsets[i] = at;
    at += static_cast<uint32_t>(IfdSize(ifds[i]));
  }
  const uint32_t previewAt = at;
  std::string tiff = (spec.bigEndian ? "MM" : "II") + w.U16(42) + w.U32(8);
  for (size_t i = 0; i < ifds.size(); ++i) {
    if (ifds[i].empty()) continue;
    std::string table = w.U16(static_cast<uint32_t>(ifds[i].size()));
    std::string data;
    uint32_t dataAt = offsets[i] + 2 + static_cast<uint32_t>(ifds[i].size()) * 12 + 4;
    for (Entry e : ifds[i]) {
      if (e.pointsTo >= 0) e.data = w.U32(offsets[static_cast<size_t>(e.pointsTo)]);
      if (e.pointsToPreview) e.data = w.U32(previewAt);
      table += w.U16(e.tag) + w.U16(e.type) + w.U32(e.count);
      if (e.data.size() <= 4) {
        table += e.data + std::string(4 - e.data.size(), '\0');
      } else {
        table += w.U32(dataAt + static_cast<uint32_t>(data.size()));
        data += e.data;
        if (data.size() % 2) data += '\0';
      }
    }
    table += w.U32(i == 0 && !ifds[3].empty() ? offsets[3] : 0);
    tiff += table + data;
  }
  tiff += spec.preview;
  const std::string body = std::string("Exif\0\0", 6) + tiff;
  const size_t length = body.size() + 2;
  return std::string("\xFF\xE1", 2) + static_cast<char>((length >> 8) & 0xFF) +
         static_cast<char>(length & 0xFF) + body;
}

// A JPEG with the segment placed right after its start marker.
inline std::string InsertAfterStart(const std::string& jpeg, const std::string& segment) {
  return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

}  // namespace quib_test
