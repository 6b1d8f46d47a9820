// The application's registry profile (Windows builds only): the profile
// functions of the application object behind IProfile.
#pragma once

#include "dialogs/profile.h"

class CAppProfile final : public IProfile {
 public:
  int GetInt(const char* section, const char* name, int defaultValue) override;
  std::string GetString(const char* section, const char* name) override;
  void WriteInt(const char* section, const char* name, int value) override;
  void WriteString(const char* section, const char* name, const std::string& value) override;
  // Protected with the Windows data protection of the current user.
  bool GetProtectedString(const char* section, const char* name, std::string& value) override;
  bool WriteProtectedString(const char* section, const char* name,
                            const std::string& value) override;
};

// The one profile of the process. It holds no state, so any thread may use it.
IProfile& GetAppProfile();
