// File access used while a request body is laid out and sent and while a
// media type is sniffed. One system implementation per platform; tests use
// the standard one or fakes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quib {

// An open file; the destructor closes it.
class IFileReader {
 public:
  virtual ~IFileReader() = default;
  // Reads up to size bytes into buffer; got is 0 at the end of the file.
  // False on a read error.
  virtual bool Read(char* buffer, size_t size, size_t& got) = 0;
};

class IFilePort {
 public:
  virtual ~IFilePort() = default;
  // The file's 64-bit size from the file system's status query.
  virtual bool QuerySize(const std::string& path, uint64_t& size) = 0;
  // Opens for reading, sharing with other readers and writers; nullptr when
  // the file cannot be opened.
  virtual std::unique_ptr<IFileReader> OpenRead(const std::string& path) = 0;
};

// C library streams and std::filesystem; the system port on native builds.
class CStdFilePort : public IFilePort {
 public:
  bool QuerySize(const std::string& path, uint64_t& size) override;
  std::unique_ptr<IFileReader> OpenRead(const std::string& path) override;
};

// The platform's port: the wide file functions on Windows (paths in the ANSI
// code page, of any length), CStdFilePort elsewhere.
IFilePort& SystemFilePort();

}  // namespace quib
