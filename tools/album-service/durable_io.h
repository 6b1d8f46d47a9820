// File system helpers for storage that survives a crash or a power cut:
// a file writer that flushes to the disk, folder flushes, the lock that
// keeps a data folder to one service, and the test hook that ends the
// process at a named storage step.
#pragma once

#include <cstddef>
#include <string>

namespace albumsvc {

// Writes a new file through a buffer; Sync flushes it to the disk.
class CDurableFile {
 public:
  CDurableFile() = default;
  ~CDurableFile();
  CDurableFile(const CDurableFile&) = delete;
  CDurableFile& operator=(const CDurableFile&) = delete;

  // Creates the file (it must not exist yet), readable by the owner only.
  bool Create(const std::string& path);
  bool Write(const char* data, size_t size);
  // Writes what is buffered, flushes file data to the disk and closes.
  bool SyncAndClose();
  // Closes without flushing and removes the file.
  void Discard();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  bool Flush();
  int fd_ = -1;
  std::string path_;
  std::string buffer_;
};

// Flushes a folder's entries (a new or renamed file in it) to the disk.
bool SyncFolder(const std::string& path);

// Holds an exclusive lock on DIR/album-service.lock while it lives. The
// kernel drops the lock when the process ends, however it ends.
class CFolderLock {
 public:
  CFolderLock() = default;
  ~CFolderLock();
  CFolderLock(const CFolderLock&) = delete;
  CFolderLock& operator=(const CFolderLock&) = delete;
  // False with a message naming the holder when another process has it.
  bool Acquire(const std::string& dataDir, std::string* error);

 private:
  int fd_ = -1;
};

// Test hook: the storage step at which the process ends at once (SIGKILL,
// as a crash or power cut would end it). Empty: never.
void SetCrashStep(const std::string& step);
bool IsCrashStep(const std::string& step);
void CrashPoint(const char* step);

}  // namespace albumsvc
