#include "core/settings/memory_profile.h"

int CMemoryProfile::GetInt(const char* section, const char* name, int defaultValue) {
  auto it = ints_.find({section, name});
  return it == ints_.end() ? defaultValue : it->second;
}

std::string CMemoryProfile::GetString(const char* section, const char* name) {
  auto it = strings_.find({section, name});
  return it == strings_.end() ? std::string() : it->second;
}

void CMemoryProfile::WriteInt(const char* section, const char* name, int value) {
  strings_.erase({section, name});
  protected_.erase({section, name});
  ints_[{section, name}] = value;
  ++writes_;
}

void CMemoryProfile::WriteString(const char* section, const char* name, const std::string& value) {
  ints_.erase({section, name});
  protected_.erase({section, name});
  strings_[{section, name}] = value;
  ++writes_;
}

bool CMemoryProfile::GetProtectedString(const char* section, const char* name, std::string& value) {
  auto it = protected_.find({section, name});
  if (it == protected_.end()) return false;
  value = it->second;
  return true;
}

bool CMemoryProfile::WriteProtectedString(const char* section, const char* name,
                                          const std::string& value) {
  if (failProtected_) return false;
  ints_.erase({section, name});
  strings_.erase({section, name});
  protected_[{section, name}] = value;
  ++writes_;
  return true;
}

bool CMemoryProfile::Has(const char* section, const char* name) const {
  return ints_.count({section, name}) || strings_.count({section, name}) ||
         protected_.count({section, name});
}
