// The entries of one folder, for walking a folder the user handed over.
// FindFirstFileExW on Windows; std::filesystem as the portable default;
// tests use fakes.
#pragma once

#include <string>
#include <vector>

namespace quib {

struct FolderEntry {
  std::string name;  // UTF-8, without the folder
  std::string path;  // the folder's path joined with the name
  bool folder = false;
  bool hidden = false;
  bool system = false;
  // A symbolic link or junction: it may lead out of the folder handed over,
  // or round in a circle.
  bool link = false;
};

class IFolderLister {
 public:
  virtual ~IFolderLister() = default;
  // The entries of folder in no particular order, without "." and "..";
  // false when the folder cannot be read. Called on a worker thread.
  virtual bool List(const std::string& folder, std::vector<FolderEntry>& entries) = 0;
};

// std::filesystem: names starting with a dot count as hidden, there are no
// system files, symbolic links are links.
class CStdFolderLister : public IFolderLister {
 public:
  bool List(const std::string& folder, std::vector<FolderEntry>& entries) override;
};

}  // namespace quib
