// Streaming reader of multipart/form-data request bodies. The service reads
// the raw body itself instead of relying on the HTTP library's parser, so it
// also serves as an independent, strict check of what the uploader sends.
#pragma once

#include <cstddef>
#include <string>

namespace albumsvc {

// Extracts the boundary parameter from a Content-Type value such as
// "multipart/form-data;charset=utf-8;boundary=xyz". Empty when the media type
// is not multipart/form-data or no boundary is given.
std::string MultipartBoundary(const std::string& contentType);

struct PartHeader {
  std::string name;      // name="..." of content-disposition
  std::string filename;  // filename="..." (empty for a text field)
  bool hasFilename = false;
  std::string contentType;  // Content-Type header of the part, if any
};

// Receives the parts in body order. Returning false from any call stops the
// parser with the error text given by the sink.
class IPartSink {
 public:
  virtual ~IPartSink() = default;
  virtual bool OnPartBegin(const PartHeader& header) = 0;
  virtual bool OnPartData(const char* data, size_t size) = 0;
  virtual bool OnPartEnd() = 0;
};

class CMultipartParser {
 public:
  CMultipartParser(const std::string& boundary, IPartSink* sink);

  // Feeds the next block of the body. False once the body is malformed or the
  // sink refused; Error() says why. Later calls keep returning false.
  bool Feed(const char* data, size_t size);
  // Called after the last block: true only when the closing delimiter was
  // seen and nothing but an optional CR LF followed it.
  bool Finish();

  const std::string& Error() const { return error_; }
  int PartCount() const { return partCount_; }

 private:
  enum State {
    StateFirstDelimiter,
    StateAfterDelimiter,
    StateHeaders,
    StateData,
    StateEpilogue,
    StateFailed
  };

  bool Fail(const std::string& why);
  bool Step();
  bool ParseHeaders(const std::string& block);

  std::string dashBoundary_;  // "--" + boundary
  std::string delimiter_;     // CR LF "--" boundary
  IPartSink* sink_;
  State state_ = StateFirstDelimiter;
  std::string pending_;
  std::string error_;
  int partCount_ = 0;
  size_t epilogueBytes_ = 0;
};

}  // namespace albumsvc
