// The multipart/form-data body of every service request: its exact bytes,
// its length, and the order and size of the writes that send it.
//
// Use (on the request's worker thread):
//   CMultipartBody body(fields, quib::Files(), DetectMediaType);
//   uint64_t length = body.ComputeContentLength();   // before connecting
//   if (!CMultipartBody::FitsContentLength(length)) -> fail, nothing sent
//   add ContentTypeHeaderLine(), ContentLengthHeaderLine(length),
//   UserAgentHeaderLine(); start the request with the length; then
//   MultipartResult r = body.Send(output, cancelFlag, progress);
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/ports/file_port.h"
#include "core/protocol/form_fields.h"
#include "core/text/text_convert.h"

namespace quib {

// 27 hyphens and the token; the delimiter lines carry two more hyphens.
extern const char MultipartBoundary[];          // 42 bytes
extern const char MultipartClosingDelimiter[];  // 48 bytes, CR LF included
extern const char MultipartMediaType[];         // the body's Content-Type value, 85 bytes
extern const char ProgramVersion[];             // "1.1.0.4"
extern const char ProgramIdentification[];      // "quib-uploader for Windows (Version 1.1.0.4)"

// The three request header lines, each ending in CR LF, in the order they
// are added.
std::string ContentTypeHeaderLine();
std::string ContentLengthHeaderLine(uint32_t length);
std::string UserAgentHeaderLine();

// The part of a path after its last backslash, or the whole path. Paths are
// UTF-8, where no byte of a character is a backslash; given a lead-byte test
// it steps over double-byte characters of an ANSI path.
std::string FileNameOfPath(const std::string& path, LeadByteTest isLeadByte = nullptr);
std::string FormatTextPart(const std::string& name, const std::string& value);
std::string FormatFilePartHeader(const std::string& name, const std::string& fileName,
                                 const std::string& mediaType);

// Sends one block of the body completely, or fails with the platform's error
// text (the open request's InternetWriteFile on Windows).
class IBodyOutput {
 public:
  virtual ~IBodyOutput() = default;
  virtual bool Write(const char* data, size_t size, std::string& error) = 0;
};

// Media type of a file part, from its path (DetectMediaType on Windows).
using MediaTypeLookup = std::function<std::string(const std::string& path)>;
// Called after each text part, each file chunk and the closing delimiter.
using SendProgress = std::function<void(uint32_t sent, uint32_t total)>;

enum MultipartOutcome {
  MultipartSent = 0,        // the whole body was written
  MultipartCancelled = -1,  // the cancel flag was seen at a cancellation test
  MultipartFailed = -2,     // see MultipartResult::error
};

struct MultipartResult {
  int outcome = MultipartSent;
  std::string error;  // set when outcome is MultipartFailed
};

// Texts of the failures found by the body itself (write failures carry the
// output port's text).
extern const char MultipartErrorTooLarge[];
std::string MultipartErrorCannotOpen(const std::string& path);
std::string MultipartErrorCannotRead(const std::string& path);
std::string MultipartErrorChanged(const std::string& path);

class CMultipartBody {
 public:
  // A file is read in blocks of this size, each written at once: under Wine
  // every read and write costs a call into the system, which 1 KiB blocks
  // could not keep up with beyond about 100 Mbit/s.
  static constexpr size_t FileBlockSize = 64 * 1024;

  // The fields are read by ComputeContentLength; they may be emptied after it.
  CMultipartBody(const CFormFields& fields, IFilePort& files, MediaTypeLookup mediaType,
                 LeadByteTest isLeadByte = nullptr);

  // Formats every part (text parts whole, file part headers with file name and
  // media type) and sums the 64-bit body length; a file whose size cannot be
  // queried counts as 0 bytes. Reads nothing of the files beyond what the
  // media type lookup reads. The formatted parts are what Send writes, so
  // the body matches the length unless a file changes in between.
  uint64_t ComputeContentLength();
  // Content-Length is a 32-bit number: a body of 4 GiB or more is refused.
  static bool FitsContentLength(uint64_t length) { return length <= 0xFFFFFFFFull; }

  // Writes the body: one write per text part (cancel test before, event
  // after), per file part header (no test, no event), per file block of at
  // most FileBlockSize bytes (test before, event after), per CR LF after a
  // file (no test, no event) and for the closing delimiter (no test, event
  // after). Memory stays at one block whatever the file's size.
  // Computes the length first if that was not done. Fails before writing
  // anything when the length does not fit in 32 bits; fails when a file
  // cannot be opened or read, or yields more or fewer bytes than its size
  // counted in the length (the body would contradict Content-Length).
  MultipartResult Send(IBodyOutput& output, const std::atomic<bool>& cancelRequested,
                       const SendProgress& progress);

 private:
  struct FilePart {
    std::string header;
    std::string path;
    uint64_t size = 0;
  };

  const CFormFields& fields_;
  IFilePort& files_;
  MediaTypeLookup mediaType_;
  LeadByteTest isLeadByte_;
  bool computed_ = false;
  uint64_t length_ = 0;
  std::vector<std::string> textParts_;
  std::vector<FilePart> fileParts_;
};

}  // namespace quib
