// A profile kept in memory, for tests of code that reads and writes settings.
// Like the registry, a value stored as a string does not read as a number and
// the other way round.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "core/settings/profile.h"

class CMemoryProfile final : public IProfile {
 public:
  int GetInt(const char* section, const char* name, int defaultValue) override;
  std::string GetString(const char* section, const char* name) override;
  void WriteInt(const char* section, const char* name, int value) override;
  void WriteString(const char* section, const char* name, const std::string& value) override;
  // Kept apart from the strings (in clear: only its type matters here).
  bool GetProtectedString(const char* section, const char* name, std::string& value) override;
  bool WriteProtectedString(const char* section, const char* name,
                            const std::string& value) override;

  bool Has(const char* section, const char* name) const;
  // Number of writes so far, of either kind.
  int WriteCount() const { return writes_; }
  // Protected writes fail from now on, as when the system cannot protect.
  void FailProtectedWrites(bool fail) { failProtected_ = fail; }

 private:
  using Key = std::pair<std::string, std::string>;
  std::map<Key, int> ints_;
  std::map<Key, std::string> strings_;
  std::map<Key, std::string> protected_;
  int writes_ = 0;
  bool failProtected_ = false;
};
