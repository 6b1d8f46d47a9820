// The per-user settings: section and value names, defaults, typed readers,
// and the shrink decision the upload run makes for each file.
//
// Everything goes through IProfile so the decisions can be tested without a
// registry. Nothing is cached: each call reads or writes the store at once.
#pragma once

#include <functional>
#include <string>

// Section and value names, used exactly as they are stored.
inline constexpr char ProfileSectionSettings[] = "Settings";
inline constexpr char ProfileSectionPathHistory[] = "PathHistory";

inline constexpr char ProfileUsername[] = "Username";        // string, default empty
inline constexpr char ProfilePassword[] = "Password";        // protected binary, default empty
inline constexpr char ProfileAskFolder[] = "AskFolder";      // integer, default 1
inline constexpr char ProfileAskResize[] = "AskResize";      // integer, default 1
inline constexpr char ProfileResizeImage[] = "ResizeImage";  // integer, default 3
inline constexpr char ProfileImagePath[] = "ImagePath";      // string, default empty

inline constexpr int DefaultAskFolder = 1;
inline constexpr int DefaultAskResize = 1;
inline constexpr int DefaultResizeImage = 3;

// Values of "ResizeImage". Anything else means "don't resize" as well.
enum ResizeChoice {
  ResizeSmall = 1,   // shrink into 640 x 640
  ResizeMedium = 2,  // shrink into 1024 x 1024
  ResizeNone = 3,
};

// Boxes passed to the media item's Resize, and the pixel counts above which
// a picture is shrunk into them.
inline constexpr int ResizeBoxSmall = 640;
inline constexpr int ResizeBoxMedium = 1024;
inline constexpr long long ResizeSmallPixels = 640LL * 480;    // 307,200
inline constexpr long long ResizeMediumPixels = 1024LL * 768;  // 786,432

// The store behind the settings. Reads never fail: a missing or unreadable
// value yields the default. Writes are fire-and-forget.
class IProfile {
 public:
  virtual ~IProfile() = default;
  // A stored 32-bit number, read as signed; the default when it is missing or
  // not stored as a 32-bit number.
  virtual int GetInt(const char* section, const char* name, int defaultValue) = 0;
  // A stored string; empty when it is missing or not stored as a string.
  virtual std::string GetString(const char* section, const char* name) = 0;
  virtual void WriteInt(const char* section, const char* name, int value) = 0;
  virtual void WriteString(const char* section, const char* name, const std::string& value) = 0;
  // A text kept protected for the current Windows user: binary at rest, and
  // readable only by that user. False when the value is missing, is not
  // protected data, or cannot be unprotected here (another user's or
  // machine's data).
  virtual bool GetProtectedString(const char* section, const char* name, std::string& value) = 0;
  // Replaces the value (of any type) with the protected text. When the text
  // cannot be protected nothing is written and the result is false.
  virtual bool WriteProtectedString(const char* section, const char* name,
                                    const std::string& value) = 0;
};

// What the login and settings dialogs say when the password could not be
// stored protected.
inline constexpr char kTextPasswordNotStoredForRun[] =
    "The password could not be stored safely on this computer. It is used for this upload only; "
    "you will be asked for it again next time.";
inline constexpr char kTextPasswordNotStoredForLater[] =
    "The password could not be stored safely on this computer. You will be asked for it when you "
    "upload.";

// The settings of the current user (the registry on Windows), as installed
// by the program; any thread may use them.
IProfile& GetAppProfile();

// Typed readers with the defaults filled in.
std::string ReadUsername(IProfile& profile);
// The protected password, or the plain text an earlier version stored.
std::string ReadPassword(IProfile& profile);
// Stores the password protected, replacing a plain-text value. False when it
// could not be protected: then no password stays stored (an older one would
// no longer belong to the user name), and the caller tells the user.
bool WritePassword(IProfile& profile, const std::string& password);
// True when the album selection dialog is to be shown (any nonzero value).
bool ReadAskFolder(IProfile& profile);
int ReadAskResize(IProfile& profile);
int ReadResizeImage(IProfile& profile);
std::string ReadImagePath(IProfile& profile);
// The last file taken from the file dialog, whose folder it opens next.
void WriteImagePath(IProfile& profile, const std::string& path);

// Decides whether and how one file is shrunk before upload. Movies and audio
// are never shrunk. For a picture of more than 640 x 480 pixels, while
// "ResizeImage" is 3 and "AskResize" is 1, askUser runs the resize prompt;
// it returns true when the prompt ended with OK (it has then stored the
// user's choice, which is read again). Returns 0 (send unchanged),
// ResizeBoxSmall or ResizeBoxMedium (shrink into a square box of that size).
int DecideResizeBox(bool isVideo, bool isAudio, int width, int height, IProfile& profile,
                    const std::function<bool()>& askUser);
