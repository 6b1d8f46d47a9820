#include <filesystem>
#include <system_error>

#include "core/ports/folder_lister.h"

namespace quib {

bool CStdFolderLister::List(const std::string& folder, std::vector<FolderEntry>& entries) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(fs::path(folder), ec);
  if (ec) return false;
  for (const fs::directory_iterator end; it != end;) {
    FolderEntry entry;
    entry.name = it->path().filename().string();
    entry.path = it->path().string();
    std::error_code status;
    entry.link = it->is_symlink(status);
    entry.folder = it->is_directory(status);
    entry.hidden = !entry.name.empty() && entry.name[0] == '.';
    entries.push_back(std::move(entry));
    it.increment(ec);
    if (ec) return false;
  }
  return true;
}

}  // namespace quib
