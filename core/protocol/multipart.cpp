#include "core/protocol/multipart.h"

#include <cstdio>

namespace quib {

const char MultipartBoundary[] = "---------------------------e2W7eajhJd09flh";
const char MultipartClosingDelimiter[] = "-----------------------------e2W7eajhJd09flh--\r\n";
const char MultipartMediaType[] =
    "multipart/form-data;charset=utf-8;boundary=---------------------------e2W7eajhJd09flh";
const char ProgramVersion[] = "1.1.0.4";
const char ProgramIdentification[] = "quib-uploader for Windows (Version 1.1.0.4)";
const char MultipartErrorTooLarge[] =
    "The request body is 4 GB or larger; its length does not fit the Content-Length header.";

namespace {

const char kDelimiterLine[] = "-----------------------------e2W7eajhJd09flh\r\n";
const size_t kClosingLength = sizeof(MultipartClosingDelimiter) - 1;

}  // namespace

std::string MultipartErrorCannotOpen(const std::string& path) {
  return "The file \"" + path + "\" cannot be opened.";
}

std::string MultipartErrorCannotRead(const std::string& path) {
  return "The file \"" + path + "\" cannot be read.";
}

std::string MultipartErrorChanged(const std::string& path) {
  return "The file \"" + path + "\" changed while it was being sent.";
}

std::string ContentTypeHeaderLine() {
  return std::string("Content-Type: ") + MultipartMediaType + "\r\n";
}

std::string ContentLengthHeaderLine(uint32_t length) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "Content-Length: %lu\r\n",
                static_cast<unsigned long>(length));
  return buffer;
}

std::string UserAgentHeaderLine() {
  return std::string("User-Agent: ") + ProgramIdentification + "\r\n";
}

std::string FileNameOfPath(const std::string& path, LeadByteTest isLeadByte) {
  // Walk forward character by character: a backslash that is the trail byte
  // of a double-byte character is not a separator.
  size_t start = 0;
  for (size_t i = 0; i < path.size();) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (c == '\\') {
      start = i + 1;
      ++i;
    } else {
      i += (isLeadByte && isLeadByte(c) && i + 1 < path.size()) ? 2 : 1;
    }
  }
  return path.substr(start);
}

std::string FormatTextPart(const std::string& name, const std::string& value) {
  return std::string(kDelimiterLine) + "content-disposition: form-data; name=\"" + name +
         "\"\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + value + "\r\n";
}

std::string FormatFilePartHeader(const std::string& name, const std::string& fileName,
                                 const std::string& mediaType) {
  return std::string(kDelimiterLine) + "content-disposition: form-data; name=\"" + name +
         "\"; filename=\"" + fileName + "\"\r\nContent-Type: " + mediaType +
         "\r\nContent-Transfer-Encoding: binary\r\n\r\n";
}

CMultipartBody::CMultipartBody(const CFormFields& fields, IFilePort& files,
                               MediaTypeLookup mediaType, LeadByteTest isLeadByte)
    : fields_(fields), files_(files), mediaType_(std::move(mediaType)), isLeadByte_(isLeadByte) {}

uint64_t CMultipartBody::ComputeContentLength() {
  textParts_.clear();
  fileParts_.clear();
  uint64_t total = 0;
  std::string name, value;
  for (auto pos = fields_.textFields.GetStartPosition(); pos;) {
    fields_.textFields.GetNextAssoc(pos, name, value);
    textParts_.push_back(FormatTextPart(name, value));
    total += textParts_.back().size();
  }
  for (auto pos = fields_.fileFields.GetStartPosition(); pos;) {
    fields_.fileFields.GetNextAssoc(pos, name, value);
    FilePart part;
    part.path = value;
    const std::string type = mediaType_ ? mediaType_(value) : std::string("unknown/*");
    // The file name in the part header is ANSI, as the service has always
    // read it; a character the code page lacks becomes "?".
    part.header = FormatFilePartHeader(name, Utf8ToAnsi(FileNameOfPath(value, isLeadByte_)), type);
    if (!files_.QuerySize(value, part.size)) part.size = 0;
    total += part.header.size() + part.size + 2;
    fileParts_.push_back(std::move(part));
  }
  total += kClosingLength;
  length_ = total;
  computed_ = true;
  return total;
}

MultipartResult CMultipartBody::Send(IBodyOutput& output, const std::atomic<bool>& cancelRequested,
                                     const SendProgress& progress) {
  MultipartResult result;
  if (!computed_) ComputeContentLength();
  if (!FitsContentLength(length_)) {
    result.outcome = MultipartFailed;
    result.error = MultipartErrorTooLarge;
    return result;
  }
  const uint32_t total = static_cast<uint32_t>(length_);
  uint32_t sent = 0;
  auto fail = [&result](std::string error) {
    result.outcome = MultipartFailed;
    result.error = std::move(error);
    return result;
  };
  auto cancelled = [&result]() {
    result.outcome = MultipartCancelled;
    return result;
  };
  auto write = [&](const char* data, size_t size) {
    std::string error;
    if (!output.Write(data, size, error)) {
      result.outcome = MultipartFailed;
      result.error = error;
      return false;
    }
    sent += static_cast<uint32_t>(size);
    return true;
  };
  auto notify = [&]() {
    if (progress) progress(sent, total);
  };

  for (const std::string& part : textParts_) {
    if (cancelRequested.load()) return cancelled();
    if (!write(part.data(), part.size())) return result;
    notify();
  }

  std::vector<char> block(fileParts_.empty() ? 0 : FileBlockSize);
  char* const buffer = block.data();
  for (const FilePart& part : fileParts_) {
    if (!write(part.header.data(), part.header.size())) return result;
    std::unique_ptr<IFileReader> file = files_.OpenRead(part.path);
    if (!file) return fail(MultipartErrorCannotOpen(part.path));
    uint64_t fileSent = 0;
    size_t got = 0;
    if (!file->Read(buffer, block.size(), got)) return fail(MultipartErrorCannotRead(part.path));
    while (got > 0) {
      if (cancelRequested.load()) return cancelled();
      // More bytes than were counted would run past Content-Length.
      if (fileSent + got > part.size) return fail(MultipartErrorChanged(part.path));
      if (!write(buffer, got)) return result;
      fileSent += got;
      notify();
      if (!file->Read(buffer, block.size(), got)) return fail(MultipartErrorCannotRead(part.path));
    }
    if (fileSent != part.size) return fail(MultipartErrorChanged(part.path));
    if (!write("\r\n", 2)) return result;
  }

  if (!write(MultipartClosingDelimiter, kClosingLength)) return result;
  notify();
  return result;
}

}  // namespace quib
