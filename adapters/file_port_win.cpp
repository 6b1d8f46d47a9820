// The file ports on Windows: paths in UTF-8, of any length,
// files opened for reading while other programs may still read or write
// them.
#include <windows.h>

#include "adapters/long_path.h"
#include "adapters/windows_platform.h"
#include "core/ports/file_port.h"
#include "core/text/command_line.h"

namespace quib {

namespace {

class CWinFileReader : public IFileReader {
 public:
  explicit CWinFileReader(HANDLE file) : file_(file) {}
  ~CWinFileReader() override { CloseHandle(file_); }
  CWinFileReader(const CWinFileReader&) = delete;
  CWinFileReader& operator=(const CWinFileReader&) = delete;

  bool Read(char* buffer, size_t size, size_t& got) override {
    DWORD n = 0;
    const DWORD want = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
    const BOOL ok = ReadFile(file_, buffer, want, &n, nullptr);
    got = ok ? n : 0;
    return ok != FALSE;
  }

 private:
  HANDLE file_;
};

class CWinFilePort : public IFilePort {
 public:
  bool QuerySize(const std::string& path, uint64_t& size) override {
    // The list takes names of any length, so the file is asked for by its
    // wide long form.
    const std::wstring wide = LongWidePath(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (wide.empty() || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
      return false;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
  }

  std::unique_ptr<IFileReader> OpenRead(const std::string& path) override {
    const std::wstring wide = LongWidePath(path);
    if (wide.empty()) return nullptr;
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<CWinFileReader>(h);
  }
  bool CanRead(const std::string& path) override {
    const std::wstring wide = LongWidePath(path);
    if (wide.empty()) return false;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return false;
    }
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
  }
  bool Remove(const std::string& path) override {
    const std::wstring wide = LongWidePath(path);
    return !wide.empty() && DeleteFileW(wide.c_str()) != FALSE;
  }
};

DWORD Attributes(const std::string& path) {
  const std::wstring wide = LongWidePath(path);
  return wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
}

class CWinPathProbe : public IPathProbe {
 public:
  bool IsFile(const std::string& path) override {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
  }
  bool IsFolder(const std::string& path) override {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
  }
};

}  // namespace

IFilePort& WideFiles() {
  static CWinFilePort port;
  return port;
}

IPathProbe& WidePathProbe() {
  static CWinPathProbe probe;
  return probe;
}

}  // namespace quib
