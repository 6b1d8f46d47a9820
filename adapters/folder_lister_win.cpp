// Folder listings on Windows: UTF-8 names in and out, folders of any path
// length, one large fetch per call to the file system where it can.
#include <windows.h>

#include "adapters/long_path.h"
#include "adapters/windows_platform.h"
#include "core/ports/folder_lister.h"

namespace quib {
namespace {

// Symbolic links and junctions name another place; a cloud or
// deduplicated file is a reparse point too, but holds the file itself.
constexpr DWORD ReparseTagNameSurrogate = 0x20000000;

bool IsLink(const WIN32_FIND_DATAW& data) {
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  // Wine reports its symbolic links with no tag: no tag is taken for a link.
  const DWORD tag = data.dwReserved0;
  return tag == 0 || (tag & ReparseTagNameSurrogate) != 0;
}

class CWinFolderLister : public IFolderLister {
 public:
  bool List(const std::string& folder, std::vector<FolderEntry>& entries) override {
    if (folder.empty()) return false;
    const bool separated = folder.back() == '\\' || folder.back() == '/';
    const std::string prefix = separated ? folder : folder + "\\";
    const std::wstring pattern = LongWidePath(prefix + "*");
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER) {
      // Systems before Windows 7 know neither the basic listing nor the
      // large fetch.
      find = FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &data, FindExSearchNameMatch,
                              nullptr, 0);
    }
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      FolderEntry entry;
      entry.name = WideToUtf8(name);
      entry.path = prefix + entry.name;
      entry.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      entry.hidden = (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
      entry.system = (data.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
      entry.link = IsLink(data);
      entries.push_back(std::move(entry));
    } while (FindNextFileW(find, &data));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return complete;
  }
};

}  // namespace

IFolderLister& WideFolderLister() {
  static CWinFolderLister lister;
  return lister;
}

}  // namespace quib
