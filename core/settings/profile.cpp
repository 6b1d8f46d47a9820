#include "core/settings/profile.h"

#include "core/ports/platform.h"

IProfile& GetAppProfile() {
  return quib::Profile();
}

std::string ReadUsername(IProfile& profile) {
  return profile.GetString(ProfileSectionSettings, ProfileUsername);
}

std::string ReadPassword(IProfile& profile) {
  std::string password;
  if (profile.GetProtectedString(ProfileSectionSettings, ProfilePassword, password)) {
    return password;
  }
  // Earlier versions stored it as typed; it is protected at the next save.
  return profile.GetString(ProfileSectionSettings, ProfilePassword);
}

bool WritePassword(IProfile& profile, const std::string& password) {
  if (profile.WriteProtectedString(ProfileSectionSettings, ProfilePassword, password)) return true;
  // Never in clear text: an empty value, so the next upload asks.
  profile.WriteString(ProfileSectionSettings, ProfilePassword, std::string());
  return false;
}

bool ReadAskFolder(IProfile& profile) {
  return profile.GetInt(ProfileSectionSettings, ProfileAskFolder, DefaultAskFolder) != 0;
}

int ReadAskResize(IProfile& profile) {
  return profile.GetInt(ProfileSectionSettings, ProfileAskResize, DefaultAskResize);
}

int ReadResizeImage(IProfile& profile) {
  return profile.GetInt(ProfileSectionSettings, ProfileResizeImage, DefaultResizeImage);
}

std::string ReadImagePath(IProfile& profile) {
  return profile.GetString(ProfileSectionPathHistory, ProfileImagePath);
}

void WriteImagePath(IProfile& profile, const std::string& path) {
  profile.WriteString(ProfileSectionPathHistory, ProfileImagePath, path);
}

int DecideResizeBox(bool isVideo, bool isAudio, int width, int height, IProfile& profile,
                    const std::function<bool()>& askUser) {
  const int askResize = ReadAskResize(profile);
  int resizeImage = ReadResizeImage(profile);
  if (isVideo || isAudio) return 0;
  // 64-bit, so that huge or bogus sizes cannot overflow into "small".
  const long long pixels = (width > 0 && height > 0) ? static_cast<long long>(width) * height : 0;
  if (pixels <= ResizeSmallPixels) return 0;
  if (resizeImage == ResizeNone && askResize == 1 && askUser && askUser()) {
    // The prompt has just stored the user's choice.
    resizeImage = ReadResizeImage(profile);
  }
  if (resizeImage == ResizeSmall) return ResizeBoxSmall;
  if (pixels > ResizeMediumPixels && resizeImage == ResizeMedium) return ResizeBoxMedium;
  return 0;
}
