#include "core/service/album_list.h"

#include <cassert>

bool CAlbumList::GetAt(int index, std::string& id, std::string& name) const {
  assert(index >= 0);
  if (index < 0 || index >= Count()) return false;
  id = ids_[static_cast<size_t>(index)];
  name = names_[static_cast<size_t>(index)];
  return true;
}

void CAlbumList::Add(const std::string& id, const std::string& name) {
  ids_.push_back(id);
  names_.push_back(name);
}
