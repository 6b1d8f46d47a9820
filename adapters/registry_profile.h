// The settings of the current user in the registry, below
// HKCU\Software\<company>\<application>\<program name>\<section>; the
// password protected with the Windows data protection of the current user.
#pragma once

#include <string>

#include "core/settings/profile.h"

namespace quib {

class CRegistryProfile final : public IProfile {
 public:
  // The key below HKEY_CURRENT_USER that holds the sections. While it is
  // empty (no program has set it) reads give the defaults and writes are
  // dropped.
  void SetRoot(const std::string& root);
  std::string GetRoot() const;

  int GetInt(const char* section, const char* name, int defaultValue) override;
  std::string GetString(const char* section, const char* name) override;
  void WriteInt(const char* section, const char* name, int value) override;
  void WriteString(const char* section, const char* name, const std::string& value) override;
  bool GetProtectedString(const char* section, const char* name, std::string& value) override;
  bool WriteProtectedString(const char* section, const char* name,
                            const std::string& value) override;

  // The registry calls with their outcome, as the application object
  // offers them.
  bool ReadNumber(const char* section, const char* name, unsigned long& value) const;
  bool ReadText(const char* section, const char* name, std::string& value) const;
  bool ReadBinary(const char* section, const char* name, std::string& bytes) const;
  bool WriteNumber(const char* section, const char* name, unsigned long value) const;
  bool WriteText(const char* section, const char* name, const std::string& value) const;
  bool WriteBinary(const char* section, const char* name, const std::string& bytes) const;

 private:
  std::string SectionKey(const char* section) const;
  std::string root_;
};

// The one registry profile of the process. It holds no state but its root,
// so any thread may use it.
CRegistryProfile& RegistryProfile();

}  // namespace quib
