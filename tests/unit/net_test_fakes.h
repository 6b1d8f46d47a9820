// In-memory file access for the tests of the request body and media type.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "core/ports/file_port.h"

namespace quib_test {

class CMemFilePort : public quib::IFilePort {
 public:
  struct File {
    std::string content;
    bool openable = true;
    bool readFails = false;
    bool hasSize = true;
    unsigned long long sizeOverride = ~0ull;  // size reported instead of content's
  };

  File& Add(const std::string& path, const std::string& content) {
    File& f = files[path];
    f.content = content;
    return f;
  }

  bool QuerySize(const std::string& path, uint64_t& size) override {
    auto it = files.find(path);
    if (it == files.end() || !it->second.hasSize) return false;
    size = it->second.sizeOverride != ~0ull ? it->second.sizeOverride : it->second.content.size();
    return true;
  }

  std::unique_ptr<quib::IFileReader> OpenRead(const std::string& path) override {
    ++opens;
    auto it = files.find(path);
    if (it == files.end() || !it->second.openable) return nullptr;
    return std::make_unique<Reader>(this, it->second);
  }

  std::map<std::string, File> files;
  int opens = 0;
  int openReaders = 0;
  size_t bytesRead = 0;

 private:
  class Reader : public quib::IFileReader {
   public:
    Reader(CMemFilePort* port, const File& file) : port_(port), file_(file) {
      ++port_->openReaders;
    }
    ~Reader() override { --port_->openReaders; }
    bool Read(char* buffer, size_t size, size_t& got) override {
      got = 0;
      if (file_.readFails) return false;
      got = std::min(size, file_.content.size() - offset_);
      file_.content.copy(buffer, got, offset_);
      offset_ += got;
      port_->bytesRead += got;
      return true;
    }

   private:
    CMemFilePort* port_;
    const File& file_;
    size_t offset_ = 0;
  };
};

}  // namespace quib_test
