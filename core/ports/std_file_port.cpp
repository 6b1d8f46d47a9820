#include "core/ports/file_port.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace quib {

namespace {

class CStdFileReader : public IFileReader {
 public:
  explicit CStdFileReader(std::FILE* file) : file_(file) {}
  ~CStdFileReader() override { std::fclose(file_); }
  CStdFileReader(const CStdFileReader&) = delete;
  CStdFileReader& operator=(const CStdFileReader&) = delete;

  bool Read(char* buffer, size_t size, size_t& got) override {
    got = std::fread(buffer, 1, size, file_);
    return !std::ferror(file_);
  }

 private:
  std::FILE* file_;
};

}  // namespace

bool CStdFilePort::QuerySize(const std::string& path, uint64_t& size) {
  std::error_code ec;
  const std::filesystem::path p(path);
  if (!std::filesystem::is_regular_file(p, ec)) return false;
  const auto n = std::filesystem::file_size(p, ec);
  if (ec) return false;
  size = static_cast<uint64_t>(n);
  return true;
}

std::unique_ptr<IFileReader> CStdFilePort::OpenRead(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return nullptr;
  return std::make_unique<CStdFileReader>(f);
}

bool CStdFilePort::Remove(const std::string& path) {
  return std::remove(path.c_str()) == 0;
}

std::string ReadFileHead(IFilePort& files, const std::string& path, size_t limit) {
  std::string head(limit, '\0');
  size_t filled = 0;
  if (std::unique_ptr<IFileReader> file = files.OpenRead(path)) {
    size_t got = 0;
    while (filled < limit && file->Read(&head[filled], limit - filled, got) && got > 0) {
      filled += got;
    }
  }
  head.resize(filled);
  return head;
}

}  // namespace quib
