#include "tools/album-service/durable_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace albumsvc {

namespace {

const size_t kBufferSize = 256 * 1024;
std::string g_crashStep;

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

CDurableFile::~CDurableFile() {
  Discard();
}

bool CDurableFile::Create(const std::string& path) {
  Discard();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd_ < 0) return false;
  path_ = path;
  buffer_.reserve(kBufferSize);
  return true;
}

bool CDurableFile::Flush() {
  bool ok = WriteAll(fd_, buffer_.data(), buffer_.size());
  buffer_.clear();
  return ok;
}

bool CDurableFile::Write(const char* data, size_t size) {
  if (fd_ < 0) return false;
  if (buffer_.size() + size > kBufferSize && !Flush()) return false;
  if (size >= kBufferSize) return WriteAll(fd_, data, size);
  buffer_.append(data, size);
  return true;
}

bool CDurableFile::SyncAndClose() {
  if (fd_ < 0) return false;
  bool ok = Flush() && ::fsync(fd_) == 0;
  ok = ::close(fd_) == 0 && ok;
  fd_ = -1;
  path_.clear();
  return ok;
}

void CDurableFile::Discard() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  ::unlink(path_.c_str());
  path_.clear();
  buffer_.clear();
  buffer_.shrink_to_fit();
}

bool SyncFolder(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

CFolderLock::~CFolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool CFolderLock::Acquire(const std::string& dataDir, std::string* error) {
  std::string path = dataDir + "/album-service.lock";
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    char pid[32] = {};
    ssize_t n = ::pread(fd_, pid, sizeof pid - 1, 0);
    std::string holder = n > 0 ? std::string(pid, static_cast<size_t>(n)) : std::string();
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' ')) holder.pop_back();
    *error = "another album-service" + (holder.empty() ? "" : " (process " + holder + ")") +
             " is serving the data folder " + dataDir +
             "; stop it first or give this one another --data folder";
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  // The pid only names the holder in a second service's message.
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_, 0) == 0) WriteAll(fd_, pid.data(), pid.size());
  return true;
}

void SetCrashStep(const std::string& step) {
  g_crashStep = step;
}

bool IsCrashStep(const std::string& step) {
  static const char* const kSteps[] = {"receiving",  "temp-written",  "record-inserted",
                                       "file-moved", "folder-synced", "committed"};
  for (const char* s : kSteps)
    if (step == s) return true;
  return false;
}

void CrashPoint(const char* step) {
  if (!g_crashStep.empty() && g_crashStep == step) {
    std::fprintf(stderr, "album-service: test crash at step %s\n", step);
    ::raise(SIGKILL);
  }
}

}  // namespace albumsvc
