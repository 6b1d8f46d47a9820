// DetectMediaType against the real FindMimeFromData and files in a temp folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/protocol/media_type.h"

namespace {

class MediaTypeWin : public testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "quib-mt-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  void TearDown() override {
    for (const std::string& f : files_) DeleteFileA(f.c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  std::string Make(const std::string& name, const std::string& content) {
    const std::string path = dir_ + "\\" + name;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD n = 0;
    WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &n, nullptr);
    CloseHandle(h);
    files_.push_back(path);
    return path;
  }
  // A window of 1024 filler bytes with the given bytes at offset.
  static std::string At(size_t offset, const std::string& bytes, size_t size = 1024) {
    std::string s(size, 'x');
    s.replace(offset, bytes.size(), bytes);
    return s;
  }

  std::string dir_;
  std::vector<std::string> files_;
};

std::string Registered(const std::string& ext) {
  char value[256] = {};
  DWORD size = sizeof value;
  if (RegGetValueA(HKEY_CLASSES_ROOT, ext.c_str(), "Content Type", RRF_RT_REG_SZ, nullptr, value,
                   &size) != ERROR_SUCCESS)
    return std::string();
  return value;
}

}  // namespace

TEST_F(MediaTypeWin, ExtensionsOfTheFileDialogAreKnownByName) {
  struct Ext {
    const char* ext;
    const char* family;
  };
  const Ext exts[] = {
      {".jpg", "image/"}, {".jpeg", "image/"}, {".jfif", "image/"}, {".jpe", "image/"},
      {".jif", "image/"}, {".png", "image/"},  {".gif", "image/"},  {".bmp", "image/"},
      {".mpg", "video/"}, {".mpeg", "video/"}, {".mp2", "video/"},  {".mp4", "video/"},
      {".avi", "video/"}, {".divx", "video/"}, {".xvid", "video/"}, {".mov", "video/"},
      {".flv", "video/"}, {".wmv", "video/"},  {".mp3", "audio/"},  {".wma", "audio/"},
      {".wav", "audio/"}, {".ogg", "audio/"},  {".m4a", "audio/"}};
  for (const Ext& e : exts) {
    const std::string registered = Registered(e.ext);
    ASSERT_EQ(registered.compare(0, 6, e.family), 0) << e.ext << " registered as " << registered;
    // The name settles it: the content (an FLV signature) is never looked at,
    // and a file that does not exist gets the same answer.
    const std::string path = Make(std::string("clip") + e.ext, "FLV\x01 not really");
    EXPECT_EQ(DetectMediaType(path), registered) << e.ext;
    EXPECT_EQ(DetectMediaType(dir_ + "\\missing" + e.ext), registered) << e.ext;
    // Upper-case extensions as the file dialog returns them.
    std::string upper = std::string("C:\\nowhere\\X") + e.ext;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(DetectMediaType(upper), registered) << upper;
  }
}

TEST_F(MediaTypeWin, MissingAndUnreadableFiles) {
  EXPECT_EQ(DetectMediaType(dir_ + "\\missing.xyz"), "unknown/*");
  EXPECT_EQ(DetectMediaType(dir_ + "\\missing"), "unknown/*");
  const std::string locked = Make("locked.dat", "FLV");
  HANDLE h = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(DetectMediaType(locked), "unknown/*");
  CloseHandle(h);
  EXPECT_EQ(DetectMediaType(locked), "video/x-flv");
  // A file held open by a writer that shares reading is still read.
  HANDLE w = CreateFileA(locked.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(w, INVALID_HANDLE_VALUE);
  EXPECT_EQ(DetectMediaType(locked), "video/x-flv");
  CloseHandle(w);
}

TEST_F(MediaTypeWin, SignatureTableRows) {
  struct Row {
    std::string content;
    const char* type;
  };
  const Row rows[] = {
      {"FLV\x01\x05", "video/x-flv"},
      {".RMF\x00\x00", "video/x-pn-realvideo"},
      {At(4, "ftyp3gp4") + "", "video/3gpp"},
      {At(300, "moov"), "video/quicktime"},
      {At(4, "ftypmp42"), "video/mp4"},
      {"ID3\x03\x00 tag", "audio/mpeg"},
      {"\xFF\xFA\x90\x00", "audio/mpeg"},
      {"\xFF\xFB\x90\x00", "audio/mpeg"},
      {std::string("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9", 10), "audio/x-ms-wma"},
      {At(200, "microsoft"), "audio/x-ms-wma"},
      {At(4, "ftypm4a "), "audio/mp4"},
      {"RIFF\x24\x08\x00\x00WAVE", "audio/x-wav"},
      {"OggS\x00\x02", "audio/ogg"},
      // Order: "3gp" before "moov", "moov" before the audio rows.
      {At(40, "moov").replace(600, 3, "3gp"), "video/3gpp"},
      {At(0, "ID3").replace(500, 4, "moov"), "video/quicktime"},
      // Zero bytes do not end the text view.
      {std::string(600, '\0') + "moov", "video/quicktime"},
      // The window edge: the text view ends before byte 1023.
      {At(1019, "moov", 4000), "video/quicktime"},
      {At(5, "ID3"), nullptr},
      {At(1020, "moov", 4000), nullptr},
      {At(1100, "moov", 4000), nullptr},
  };
  int i = 0;
  for (const Row& row : rows) {
    const std::string path = Make("row" + std::to_string(i++) + ".dat", row.content);
    const std::string type = DetectMediaType(path);
    if (row.type) {
      EXPECT_EQ(type, row.type) << "row " << i - 1;
    } else {
      // No signature: the system's content-based type stays.
      EXPECT_FALSE(type.empty()) << "row " << i - 1;
      EXPECT_NE(type.compare(0, 6, "video/"), 0) << "row " << i - 1 << ": " << type;
      EXPECT_NE(type.compare(0, 6, "audio/"), 0) << "row " << i - 1 << ": " << type;
    }
  }
}

TEST_F(MediaTypeWin, ContentDefaultWithoutSignature) {
  const std::string text = Make("notes.dat", "just some words\r\n");
  const std::string empty = Make("empty.dat", "");
  const std::string type = DetectMediaType(text);
  EXPECT_FALSE(type.empty());
  EXPECT_NE(type, "unknown/*");  // the file could be opened
  EXPECT_FALSE(DetectMediaType(empty).empty());
  // A picture whose extension is unknown is typed by its content.
  const std::string png = Make("pic.dat", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16));
  EXPECT_EQ(DetectMediaType(png).compare(0, 6, "image/"), 0) << DetectMediaType(png);
}
