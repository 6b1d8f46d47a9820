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
  // True when the path names a file (not a folder) that can be opened for
  // reading now.
  virtual bool CanRead(const std::string& path) {
    uint64_t size = 0;
    return QuerySize(path, size) && OpenRead(path) != nullptr;
  }
  // Deletes a file of the program's own (a temporary copy); false when it
  // could not be deleted (a port that only reads deletes nothing).
  virtual bool Remove(const std::string& path) {
    (void)path;
    return false;
  }
};

// The first bytes of a file, at most limit; empty when it cannot be read.
std::string ReadFileHead(IFilePort& files, const std::string& path, size_t limit);

// C library streams and std::filesystem; the system port on native builds.
class CStdFilePort : public IFilePort {
 public:
  bool QuerySize(const std::string& path, uint64_t& size) override;
  std::unique_ptr<IFileReader> OpenRead(const std::string& path) override;
  bool Remove(const std::string& path) override;
};

}  // namespace quib
