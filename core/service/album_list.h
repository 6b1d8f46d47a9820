// The albums of one DirList answer, in answer order.
#pragma once

#include <string>
#include <vector>

class CAlbumList {
 public:
  int Count() const { return static_cast<int>(ids_.size()); }
  // False for an index at or past the end; fills both strings otherwise.
  bool GetAt(int index, std::string& id, std::string& name) const;
  void Add(const std::string& id, const std::string& name);

 private:
  std::vector<std::string> ids_;    // as received
  std::vector<std::string> names_;  // already in the system code page
};
